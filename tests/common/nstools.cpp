#include "nstools.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <unistd.h>

#include <vector>

namespace NsTools {

namespace {

    const char* const kInsideVariable = "OSTREL_TEST_IN_PRIVATE_NAMESPACES";

    QString overlayScript()
    {
        // $1: a scratch directory of the test's own, hidden by a tmpfs inside.
        return QStringLiteral(
            "set -e\n"
            "mount -t tmpfs ostrel-test \"$1\"\n"
            "mkdir \"$1/upper\" \"$1/work\"\n"
            "mount -t overlay ostrel-test-etc -o \"lowerdir=/etc,upperdir=$1/upper,workdir=$1/work\" /etc\n");
    }

    // A fresh, empty /run: the client keeps its root-only state under /run, and a
    // test must neither see the host's nor leave anything there.
    const char kPrivateRunScript[] = "mount -t tmpfs -o mode=0755 ostrel-test-run /run";

    // A copy of the resolver file bound over it, so that the resolver script may
    // change it; no file is left behind in /etc.
    const char kPrivateResolverScript[] =
        "if [ -e /etc/resolv.conf ]; then copy=\"$(mktemp)\" && cat /etc/resolv.conf > \"$copy\""
        " && mount --bind \"$copy\" /etc/resolv.conf && rm -f \"$copy\"; fi";

    // The ids of this process's network and mount namespaces; empty when they
    // cannot be read.
    QByteArray namespaceId(const QByteArray& process, const char* kind)
    {
        char target[256] = {};
        const ssize_t length = readlink((QByteArray("/proc/") + process + "/ns/" + kind).constData(), target,
                                        sizeof(target) - 1);
        return length > 0 ? QByteArray(target, int(length)) : QByteArray();
    }

    QByteArray namespaceIds()
    {
        const QByteArray net = namespaceId("self", "net");
        const QByteArray mnt = namespaceId("self", "mnt");
        if (net.isEmpty() || mnt.isEmpty())
            return QByteArray();
        return net + ' ' + mnt;
    }

    // A network namespace just made holds the loopback device and nothing else;
    // a host's own never looks like that.
    bool onlyLoopback(const RunResult& links)
    {
        if (links.code != 0)
            return false;
        const QStringList lines = links.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return lines.size() == 1 && lines.first().contains(QLatin1String(": lo:"));
    }

} // namespace

RunResult run(const QString& program, const QStringList& args, int timeoutMs, const QProcessEnvironment& env)
{
    RunResult result;
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    if (!process.waitForStarted(timeoutMs)) {
        result.code = -2;
        return result;
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        result.code = -1;
    } else {
        result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -3;
    }
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

QString whyNoNamespaces()
{
    if (geteuid() != 0)
        return QStringLiteral("needs root to create network and mount namespaces (CI runs as root)");
    const RunResult probe = run(
        QStringLiteral("unshare"),
        { QStringLiteral("--net"), QStringLiteral("--mount"), QStringLiteral("--"), QStringLiteral("true") });
    if (probe.code != 0)
        return QStringLiteral("cannot create namespaces here: ") + probe.err.trimmed();
    return QString();
}

Namespace::Namespace(Kind kind)
    : m_kind(kind)
    , m_holder(new QProcess)
{
    QStringList args;
    if (m_kind & Net)
        args << QStringLiteral("--net");
    if (m_kind & Mount)
        args << QStringLiteral("--mount") << QStringLiteral("--propagation") << QStringLiteral("private");
    // unshare runs the holder in its own place, so its id is the namespace's.
    args << QStringLiteral("--") << QStringLiteral("sleep") << QStringLiteral("600");
    m_holder->start(QStringLiteral("unshare"), args);
    if (!m_holder->waitForStarted(10000))
        return;
    // The namespaces exist once unshare has replaced itself by sleep.
    QElapsedTimer waited;
    waited.start();
    const QString exe = QStringLiteral("/proc/%1/exe").arg(m_holder->processId());
    while (waited.elapsed() < 10000 && m_holder->state() == QProcess::Running) {
        if (QFileInfo(exe).canonicalFilePath().endsWith(QLatin1String("/sleep")))
            break;
        QThread::msleep(5);
    }
    if (m_holder->state() != QProcess::Running || !QFileInfo(exe).canonicalFilePath().endsWith(QLatin1String("/sleep")))
        return;

    // Never run anything through a holder that shares this process's
    // namespaces: it would change the host.
    const QByteArray holder = QByteArray::number(m_holder->processId());
    for (const auto& [flag, kind] : { std::pair<int, const char*> { Net, "net" }, { Mount, "mnt" } }) {
        if (!(m_kind & flag))
            continue;
        const QByteArray inside = namespaceId(holder, kind);
        if (inside.isEmpty() || inside == namespaceId("self", kind))
            return;
    }
    if (m_kind & Net) {
        if (!onlyLoopback(enter({ QStringLiteral("ip"), QStringLiteral("-o"), QStringLiteral("link") })))
            return;
        enter({ QStringLiteral("ip"), QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"),
                QStringLiteral("up") });
    }
    m_valid = true;
}

Namespace::~Namespace()
{
    if (m_holder->state() != QProcess::NotRunning) {
        m_holder->kill();
        m_holder->waitForFinished(10000);
    }
}

bool Namespace::isValid() const
{
    return m_valid && m_holder->state() == QProcess::Running;
}

qint64 Namespace::pid() const
{
    return m_holder->processId();
}

RunResult Namespace::exec(const QStringList& command, int timeoutMs, const QProcessEnvironment& env) const
{
    if (!isValid())
        return RunResult();
    return enter(command, timeoutMs, env);
}

RunResult Namespace::enter(const QStringList& command, int timeoutMs, const QProcessEnvironment& env) const
{
    QStringList args { QStringLiteral("--target"), QString::number(pid()) };
    if (m_kind & Net)
        args << QStringLiteral("--net");
    if (m_kind & Mount)
        args << QStringLiteral("--mount");
    args << QStringLiteral("--") << command;
    return run(QStringLiteral("nsenter"), args, timeoutMs, env);
}

RunResult Namespace::bash(const QString& script, const QStringList& args, int timeoutMs,
                          const QProcessEnvironment& env) const
{
    return exec(QStringList { QStringLiteral("bash"), QStringLiteral("-c"), script, QStringLiteral("bash") } + args,
                timeoutMs, env);
}

bool Namespace::privateEtc()
{
    if (!(m_kind & Mount) || !m_scratch.isValid())
        return false;
    return bash(overlayScript(), { m_scratch.path() }).code == 0;
}

bool Namespace::privateRun()
{
    if (!(m_kind & Mount))
        return false;
    return bash(QString::fromLatin1(kPrivateRunScript)).code == 0;
}

QStringList chainRules(const QString& chain)
{
    QStringList rules =
        run(QStringLiteral("iptables"), { QStringLiteral("-S"), chain }).out.split('\n', Qt::SkipEmptyParts);
    rules.removeAll(QStringLiteral("-N ") + chain);
    return rules;
}

void reexecInPrivateNamespaces(int argc, char* argv[], int extras)
{
    // Tried once only: a process started again never starts itself again.
    if (qEnvironmentVariableIsSet(kInsideVariable) || !whyNoNamespaces().isEmpty())
        return;
    const QByteArray ids = namespaceIds();
    if (ids.isEmpty())
        return;
    qputenv(kInsideVariable, ids);
    // The shell prepares the new namespaces, then becomes this program again;
    // a step that fails ends it.
    QByteArray script = kPrivateRunScript;
    if (extras & LoopbackUp)
        script += " && ip link set lo up";
    if (extras & PrivateResolverFile)
        script += QByteArray(" && { ") + kPrivateResolverScript + "; }";
    script += " && exec \"$0\" \"$@\"";
    // unshare replaces itself by this program: its own path is needed, not
    // /proc/self/exe, which would then name unshare.
    static char self[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length <= 0)
        return;
    self[length] = '\0';
    std::vector<const char*> args { "unshare",          "--net", "--mount", "--propagation=private", "--", "sh", "-c",
                                    script.constData(), self };
    for (int i = 1; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("unshare", const_cast<char* const*>(args.data()));
    // Still here: run without the namespaces; the tests then skip.
    qunsetenv(kInsideVariable);
}

bool inPrivateNamespaces()
{
    // Not the word of a variable alone: both namespaces the process had
    // before it started itself again must differ from those it has now, and
    // the network must be a fresh one.
    static const bool inside = [] {
        const QList<QByteArray> before = qgetenv(kInsideVariable).split(' ');
        const QList<QByteArray> now = namespaceIds().split(' ');
        if (before.size() != 2 || now.size() != 2 || before.at(0) == now.at(0) || before.at(1) == now.at(1))
            return false;
        return onlyLoopback(run(QStringLiteral("ip"), { QStringLiteral("-o"), QStringLiteral("link") }));
    }();
    return inside;
}

bool privateEtcForThisProcess(const QString& scratchDir)
{
    if (!inPrivateNamespaces())
        return false;
    return run(QStringLiteral("bash"), { QStringLiteral("-c"), overlayScript(), QStringLiteral("bash"), scratchDir })
               .code
        == 0;
}

void releasePrivateEtcForThisProcess(const QString& scratchDir)
{
    if (!inPrivateNamespaces())
        return;
    run(QStringLiteral("umount"), { QStringLiteral("/etc") });
    run(QStringLiteral("umount"), { scratchDir });
}

} // namespace NsTools
