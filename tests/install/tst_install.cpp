// The installation "cmake --install" lays out: every file the client runs
// beside itself, a valid desktop entry and polkit action naming the installed
// executable, an installed client that starts and draws its first frame, and
// the update step, which must accept the installation and replace it.
#include "checknewversion.h"
#include "systemhelper.h"
#include "testsupport.h"
#include "updatenotice.h"

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>

namespace {

const QString kSucceeded = QStringLiteral(
    "Update successful. Older version archived (you can remove the backup archive manually).");

struct Outcome
{
    int code = -1;
    QByteArray output;
};

Outcome runProcess(const QString& program, const QStringList& args, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    Outcome o;
    if (!p.waitForStarted(10000))
        return o;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        return o;
    }
    o.output = p.readAll();
    o.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return o;
}

using TestSupport::readBytes;

bool install(const QString& prefix, QByteArray* output)
{
    const Outcome o = runProcess(QStringLiteral("cmake"),
                                 { "--install", QStringLiteral(OSTREL_BUILD_DIR), "--prefix", prefix }, 120000);
    *output = o.output;
    return o.code == 0;
}

// Processes whose executable is `path`.
QList<qint64> processesRunning(const QString& path)
{
    QList<qint64> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number && QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() == path)
            pids << pid;
    }
    return pids;
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT
    QTemporaryDir m_old;
    QTemporaryDir m_new;
    QString m_oldDir;
    QString m_newDir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_old.isValid() && m_new.isValid());
        QByteArray output;
        QVERIFY2(install(m_old.path(), &output), output.constData());
        QVERIFY2(install(m_new.path(), &output), output.constData());
        m_oldDir = m_old.filePath("lib/ostrel");
        m_newDir = m_new.filePath("lib/ostrel");
    }

    void cleanupTestCase()
    {
        UpdateNotice::setPresenter(UpdateNotice::Presenter());
        SystemHelper::release();
    }

    void layoutHoldsWhatTheClientRunsBesideItself()
    {
        const QString exe = m_oldDir + "/ostrel";
        QVERIFY(QFileInfo(exe).isExecutable() && !QFileInfo(exe).isSymLink());
        for (const char* script : { "ostrel-killswitch.sh", "ostrel-dns", "open_link.sh", "v2ray" })
            QVERIFY2(QFileInfo(m_oldDir + "/" + script).isExecutable(), script);
        QVERIFY(readBytes(m_oldDir + "/ostrel-dns").startsWith("#!"));
        // OpenVPN and V2Ray beside the executable are the system's, and they run.
        const Outcome openvpn = runProcess(m_oldDir + "/openvpn.ostrel", { "--version" }, 20000);
        QVERIFY2(openvpn.output.startsWith("OpenVPN "), openvpn.output.constData());
        if (!QStandardPaths::findExecutable("v2ray").isEmpty()) {
            const Outcome v2ray = runProcess(m_oldDir + "/v2ray", { "-version" }, 20000);
            QVERIFY2(v2ray.code == 0 && v2ray.output.startsWith("V2Ray "), v2ray.output.constData());
        }
        QCOMPARE(QFileInfo(m_old.filePath("bin/ostrel")).canonicalFilePath(), QFileInfo(exe).canonicalFilePath());
        QVERIFY(QFileInfo::exists(m_old.filePath("share/icons/hicolor/scalable/apps/ostrel.svg")));
    }

    void desktopEntryAndPolkitActionNameTheInstalledClient()
    {
        const QString exe = m_oldDir + "/ostrel";
        // The autostart link's target lies beside the executable; the menu gets the same entry.
        const QByteArray entry = readBytes(m_oldDir + "/ostrel.desktop");
        QCOMPARE(readBytes(m_old.filePath("share/applications/ostrel.desktop")), entry);
        QVERIFY(entry.startsWith("[Desktop Entry]\n"));
        QVERIFY2(entry.contains("\nExec=pkexec " + exe.toUtf8() + "\n"), entry.constData());
        QVERIFY(entry.contains("\nIcon=ostrel\n"));
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed (tools/install-deps.sh installs it)");
        const Outcome valid = runProcess(validator, { m_oldDir + "/ostrel.desktop" }, 20000);
        QVERIFY2(valid.code == 0 && valid.output.trimmed().isEmpty(), valid.output.constData());

        const QString policy = readBytes(m_old.filePath("share/polkit-1/actions/org.ostrel.client.policy"));
        QVERIFY(
            policy.contains(QString("<annotate key=\"org.freedesktop.policykit.exec.path\">%1</annotate>").arg(exe)));
        QVERIFY(policy.contains("<annotate key=\"org.freedesktop.policykit.exec.allow_gui\">true</annotate>"));
        const QString xmllint = QStandardPaths::findExecutable("xmllint");
        if (!xmllint.isEmpty()) {
            const Outcome wellFormed = runProcess(
                xmllint, { "--noout", m_old.filePath("share/polkit-1/actions/org.ostrel.client.policy") }, 20000);
            QVERIFY2(wellFormed.code == 0, wellFormed.output.constData());
        }
    }

    void installedClientDrawsItsFirstFrame()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QProcess client;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_DATA_HOME", home.filePath("data"));
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QT_QUICK_BACKEND", "software");
        env.insert("QT_LOGGING_RULES", "qt.scenegraph.time.renderloop=true");
        client.setProcessEnvironment(env);
        client.setProcessChannelMode(QProcess::MergedChannels);
        client.setStandardInputFile(QProcess::nullDevice());
        client.start(m_oldDir + "/ostrel", QStringList());
        QVERIFY(client.waitForStarted(10000));
        QByteArray output;
        QDeadlineTimer deadline(90000);
        while (!output.contains("Frame rendered") && client.state() == QProcess::Running && !deadline.hasExpired()) {
            client.waitForReadyRead(200);
            output += client.readAll();
        }
        const bool drew = output.contains("Frame rendered");
        ::kill(pid_t(client.processId()), SIGTERM);
        QVERIFY(client.waitForFinished(30000));
        output += client.readAll();
        QVERIFY2(drew, output.right(3000).constData());
        // It ran from the installation and shut down in order.
        QVERIFY2(output.contains("app.exec result:  0"), output.right(3000).constData());
    }

    void updateStepReplacesTheInstallation()
    {
        // The new copy carries a file the old one lacks, so the copy shows.
        QFile marker(m_newDir + "/new-release.txt");
        QVERIFY(marker.open(QIODevice::WriteOnly));
        marker.write("2.1.1 new\n");
        marker.close();
        QVERIFY(!QFileInfo::exists(m_oldDir + "/new-release.txt"));

        QStringList notices;
        UpdateNotice::setPresenter([&notices](const QString& text) { notices << text; });
        const QString launcher = QFileInfo(m_oldDir + "/ostrel").canonicalFilePath();
        const UpdateManager::ExecuteResult result = UpdateManager::executeOnStart({ "ostrel", "--update=" + m_oldDir },
                                                                                  m_newDir);
        QCOMPARE(result, UpdateManager::erClose);
        QCOMPARE(notices, QStringList { kSucceeded });
        QCOMPARE(readBytes(m_oldDir + "/new-release.txt"), QByteArray("2.1.1 new\n"));
        const QStringList backups = QDir(m_oldDir).entryList({ "backup-2.1.1-*.zip" }, QDir::Files);
        QCOMPARE(backups.size(), 1);
        QVERIFY(QFileInfo(m_oldDir + "/" + backups.first()).size() > 1000000);
        QVERIFY(QFileInfo(m_oldDir + "/ostrel").isExecutable());

        // It started the updated client (not "openvpn.ostrel", whose name
        // also ends in the launcher's): stop it again.
        QTRY_VERIFY_WITH_TIMEOUT(!processesRunning(launcher).isEmpty(), 20000);
        for (qint64 pid : processesRunning(launcher))
            ::kill(pid_t(pid), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(processesRunning(launcher).isEmpty(), 30000);
    }
};

OSTREL_TEST_MAIN(TestInstall)
#include "tst_install.moc"
