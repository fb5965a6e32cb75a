// The engine against a real OpenVPN server on 127.0.0.1, inside the test's
// own network namespace (with an empty /run of its own): connect,
// disconnect, wrong password, a server that dies, a reset while connecting,
// where the password may not go, and which OpenVPN the engine may stop.
#include "engineworker.h"
#include "nstools.h"
#include "openvpnserverfixture.h"
#include "testsupport.h"

#include "qopenvpn2custom.h"
#include "systemhelper.h"
#include "unix/externaltools.h"
#include "unix/rootonlydirectory.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <csignal>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using State = Constants::ConnectState;
using Road = QList<QPair<State, State>>;

const quint16 kUdpPort = 11941;
const quint16 kTcpPort = 11942;
const QString kUser = QStringLiteral("alice");
// Quotes, backslashes and blanks must survive the management protocol.
const QString kPassword = QStringLiteral("s3cr\"et \\ pass\\\"word x");

QByteArray processCmdline(qint64 pid)
{
    return TestSupport::readBytes(QStringLiteral("/proc/%1/cmdline").arg(pid));
}

// Command lines of every process in this namespace's view.
QList<QByteArray> allCmdlines()
{
    QList<QByteArray> result;
    QDirIterator it(QStringLiteral("/proc"));
    while (it.hasNext()) {
        it.next();
        bool isPid = false;
        const qint64 pid = it.fileName().toLongLong(&isPid);
        if (isPid)
            result << processCmdline(pid);
    }
    return result;
}

using TestSupport::processAlive;

// The states entered, in order.
QList<Constants::ConnectState> entered(const Road& road)
{
    QList<Constants::ConnectState> states;
    for (const auto& step : road)
        states << step.second;
    return states;
}

// Writes a stand-in OpenVPN as "openvpn.ostrel" in `dir`, executable by its
// owner only; its path, or an empty one when it cannot be written.
QString writeStandIn(const QString& dir, const QByteArray& script)
{
    const QString path = dir + "/openvpn.ostrel";
    return TestSupport::writeExecutable(path, script) ? path : QString();
}

// A stand-in OpenVPN in Python: answers "--version", opens the management
// socket given on its command line, asks for the management password and
// compares it with the first line of the file named there, reports
// CONNECTED, then closes the link after half a second and keeps running.
QString writeLinkDroppingOpenVpn(const QString& dir)
{
    return writeStandIn(dir, R"(#!/usr/bin/python3
import socket, sys, time
if sys.argv[1:2] == ["--version"]:
    print("OpenVPN 2.6.0 stand-in"); sys.exit(0)
args = sys.argv[1:]
at = args.index("--management")
path, pwfile = args[at + 1], args[at + 3]
expected = open(pwfile).readline().strip()
server = socket.socket(socket.AF_UNIX)
server.bind(path); server.listen(1)
print("MANAGEMENT: unix domain socket listening on %s" % path, flush=True)
client, _ = server.accept()
client.sendall(b"ENTER PASSWORD:")
reader = client.makefile("rb")
if reader.readline().strip().decode() != expected:
    print("bad management password", flush=True); sys.exit(3)
client.sendall(b"SUCCESS: password is correct\r\n>STATE:1,CONNECTED,SUCCESS,10.98.0.2,127.0.0.1,,,\r\n")
time.sleep(0.5)
client.shutdown(socket.SHUT_RDWR); reader.close(); client.close(); server.close()
print("link closed, still running", flush=True)
while True:
    time.sleep(1)
)");
}

// A stand-in OpenVPN whose management socket is held by another process (a
// child it forks): that one writes whatever it receives to `received`.
QString writeImpostorOpenVpn(const QString& dir, const QString& received)
{
    return writeStandIn(dir,
                        QByteArray(R"(#!/usr/bin/python3
import os, socket, sys, time
if sys.argv[1:2] == ["--version"]:
    print("OpenVPN 2.6.0 stand-in"); sys.exit(0)
args = sys.argv[1:]
path = args[args.index("--management") + 1]
if os.fork() == 0:
    server = socket.socket(socket.AF_UNIX)
    server.bind(path); server.listen(1)
    client, _ = server.accept()
    client.sendall(b"ENTER PASSWORD:>PASSWORD:Need 'Auth' username/password\r\n")
    client.settimeout(5)
    with open(")") + QFile::encodeName(received)
                            + R"(", "ab") as out:
        try:
            while True:
                chunk = client.recv(4096)
                if not chunk: break
                out.write(chunk); out.flush()
        except OSError:
            pass
    sys.exit(0)
time.sleep(0.3)
print("MANAGEMENT: unix domain socket listening on %s" % path, flush=True)
while True:
    time.sleep(1)
)");
}

// Ends this process's management link to `openVpnPid` from outside the
// engine, as a socket-killing tool would.
int shutdownSocketsTo(qint64 openVpnPid)
{
    int done = 0;
    QDirIterator it(QStringLiteral("/proc/self/fd"));
    while (it.hasNext()) {
        it.next();
        bool isFd = false;
        const int fd = it.fileName().toInt(&isFd);
        struct ucred peer = {};
        socklen_t length = sizeof(peer);
        if (isFd && QFile::symLinkTarget(it.filePath()).contains("socket:")
            && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.pid == openVpnPid) {
            ::shutdown(fd, SHUT_RDWR);
            ++done;
        }
    }
    return done;
}

// Field 22 of /proc/<pid>/stat, as the pid record holds it.
QByteArray startTime(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray stat = f.readAll();
    return stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(19);
}

QString roadText(const Road& road)
{
    QStringList steps;
    for (const auto& step : road)
        steps << Constants::stateToStr(step.first) + "->" + Constants::stateToStr(step.second);
    return steps.join(", ");
}

// A client OpenVPN (started with a management interface) in this test's
// own network namespace; other suites may run theirs at the same time.
bool clientOpenVpnRunning()
{
    const QString ownNet = QFile::symLinkTarget("/proc/self/ns/net");
    QDirIterator it(QStringLiteral("/proc"));
    while (it.hasNext()) {
        it.next();
        bool isPid = false;
        const qint64 pid = it.fileName().toLongLong(&isPid);
        if (!isPid || QFile::symLinkTarget(QString("/proc/%1/ns/net").arg(pid)) != ownNet)
            continue;
        if (processAlive(pid) && processCmdline(pid).contains("--management-query-passwords"))
            return true;
    }
    return false;
}
} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    QScopedPointer<OpenVpnServerFixture> m_server;
    QString m_configDir;

    // Records every state change on the worker thread, in order.
    struct Recorder
    {
        QMutex mutex;
        Road road;
        QStringList errors;
        Road snapshot()
        {
            QMutexLocker l(&mutex);
            return road;
        }
        QStringList errorsSnapshot()
        {
            QMutexLocker l(&mutex);
            return errors;
        }
        State last()
        {
            QMutexLocker l(&mutex);
            return road.isEmpty() ? Constants::ConnectState_Disconnected : road.last().second;
        }
    };

    void attach(EngineWorker& worker, Recorder& recorder)
    {
        Connection* c = worker.connection();
        QObject::connect(
            c, &ConnectStateObject::stateChanged, c,
            [&recorder](State o, State n) {
                QMutexLocker l(&recorder.mutex);
                recorder.road << qMakePair(o, n);
            },
            Qt::DirectConnection);
        QObject::connect(
            c, &Connection::error, c,
            [&recorder](QString text) {
                QMutexLocker l(&recorder.mutex);
                recorder.errors << text;
            },
            Qt::DirectConnection);
    }

    OpenVpnConnectParams params(const QString& proto, quint16 port, const QString& password,
                                const QStringList& extra = {}, bool reconnect = false)
    {
        QFile config(m_configDir + "/" + Constants::openVpnConfigFileName());
        if (config.open(QIODevice::WriteOnly | QIODevice::Truncate))
            config.write(m_server->clientConfig(proto, port, extra));
        OpenVpnConnectParams p = loopbackConnectParams(kUser, password);
        p.configPath = m_configDir;
        p.bWithReconnect = reconnect;
        return p;
    }

    bool initialize(EngineWorker& worker)
    {
        bool ok = false;
        if (!worker.call([&ok](Connection& c) { ok = c.initialize(); }, 60000))
            return false;
        // The resolver script comes with the platform layer; without it
        // initialize() rightly fails, but the executable path is set.
        return ok || !QFile::exists(ExternalTools::DNSSCRIPT());
    }

private slots:
    void initTestCase()
    {
        if (!NsTools::inPrivateNamespaces())
            QSKIP("needs root: the OpenVPN server and client need tun devices in a private network namespace");
        SystemHelper::instance();
        QVERIFY(m_work.isValid());
        m_server.reset(new OpenVpnServerFixture(OpenVpnFixture::scriptsDir(), m_work.path()));
        QString error;
        QVERIFY2(m_server->makePki(&error), qPrintable(error));
        m_server->addUser(kUser, kPassword);
        m_configDir = SystemHelper::instance().configsFilesDirPath();
        QVERIFY(QDir().mkpath(m_configDir));
    }

    void cleanup()
    {
        if (m_server)
            m_server->stop();
    }

    void connectAndDisconnectFollowTheWholeRoad_data()
    {
        QTest::addColumn<QString>("proto");
        QTest::addColumn<quint16>("port");
        QTest::addColumn<bool>("reconnect");
        QTest::newRow("udp") << "udp" << kUdpPort << false;
        QTest::newRow("tcp, persist-remote-ip") << "tcp" << kTcpPort << true;
    }
    void connectAndDisconnectFollowTheWholeRoad()
    {
        QFETCH(QString, proto);
        QFETCH(quint16, port);
        QFETCH(bool, reconnect);
        QString error;
        QVERIFY2(m_server->start(proto, port, {}, &error), qPrintable(error));

        LogCapture log;
        Recorder recorder; // outlives the worker, which writes into it
        EngineWorker worker;
        QVERIFY(worker.begin());
        attach(worker, recorder);
        QVERIFY(initialize(worker));

        const OpenVpnConnectParams p = params(proto, port, kPassword, {}, reconnect);
        worker.post([p](Connection& c) { c.connect(p); });
        QTRY_COMPARE_WITH_TIMEOUT(recorder.last(), Constants::ConnectState_Connected, 30000);

        // The exact command line, and no credential on it.
        const qint64 pid = worker.connection()->openManager()->openVpnProcessPid();
        QVERIFY(pid > 0 && !processCmdline(pid).isEmpty());
        QStringList expected { "--management",
                               "/run/ostrel/openvpn-management.sock",
                               "unix",
                               "/run/ostrel/openvpn-management.pass",
                               "--management-query-passwords",
                               "--config",
                               "config.ovpn" };
        if (reconnect)
            expected << "--persist-remote-ip";
        // (OpenVPN rewrites its own /proc command line, so compare what it
        // was started with.)
        const QStringList actual = worker.connection()->openManager()->commandParams();
        QVERIFY2(actual == expected, qPrintable(actual.join(' ')));
        for (const QByteArray& cmd : allCmdlines())
            QVERIFY(!cmd.contains(kPassword.toLocal8Bit()) && !cmd.contains("s3cr"));

        QVERIFY(worker.call([](Connection& c) { c.disconnect(true); }, 60000));
        QCOMPARE(recorder.last(), Constants::ConnectState_Disconnected);
        const Road road { { Constants::ConnectState_Disconnected, Constants::ConnectState_Connecting },
                          { Constants::ConnectState_Connecting, Constants::ConnectState_Connected },
                          { Constants::ConnectState_Connected, Constants::ConnectState_Disconnecting },
                          { Constants::ConnectState_Disconnecting, Constants::ConnectState_Disconnected } };
        QVERIFY2(recorder.snapshot() == road,
                 qPrintable(roadText(recorder.snapshot()) + "\n" + LogCapture::lines().join('\n')));
        QVERIFY(recorder.errorsSnapshot().isEmpty());
        QVERIFY(!clientOpenVpnRunning());
        QVERIFY(worker.finish());

        // The password went over the management socket only.
        QVERIFY(LogCapture::contains("the password is passed"));
        for (const QString& line : LogCapture::lines())
            QVERIFY2(!line.contains(kPassword) && !line.contains("s3cr"), qPrintable("logged: " + line));
        QDirIterator files(QFileInfo(m_configDir).absolutePath(), QDir::Files | QDir::Hidden,
                           QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile f(files.next());
            QVERIFY(f.open(QIODevice::ReadOnly));
            QVERIFY2(!f.readAll().contains("s3cr"), qPrintable("password in " + f.fileName()));
        }
    }

    void wrongPasswordShowsAuthFailedAndEndsDisconnected()
    {
        QString error;
        QVERIFY2(m_server->start("udp", kUdpPort, {}, &error), qPrintable(error));
        Recorder recorder; // outlives the worker, which writes into it
        EngineWorker worker;
        QVERIFY(worker.begin());
        attach(worker, recorder);
        QVERIFY(initialize(worker));

        bool result = true;
        const OpenVpnConnectParams p = params("udp", kUdpPort, "not the password");
        QVERIFY(worker.call([&result, p](Connection& c) { result = c.openManager()->connect(p); }, 90000));
        QVERIFY(!result);
        QCOMPARE(recorder.last(), Constants::ConnectState_Disconnected);
        QVERIFY(!recorder.errorsSnapshot().isEmpty());
        QCOMPARE(recorder.errorsSnapshot().first(), QString(USER_ERROR_MESSAGE_ALL_AUTH_FILED));
        QVERIFY(recorder.snapshot().contains(
            qMakePair(Constants::ConnectState_Disconnected, Constants::ConnectState_Connecting)));
        QVERIFY(!recorder.snapshot().contains(
            qMakePair(Constants::ConnectState_Connecting, Constants::ConnectState_Connected)));
        QVERIFY(!clientOpenVpnRunning());
    }

    void serverDeathEndsDisconnectedWithoutReconnect()
    {
        QString error;
        QVERIFY2(m_server->start("tcp", kTcpPort, {}, &error), qPrintable(error));
        Recorder recorder; // outlives the worker, which writes into it
        EngineWorker worker;
        QVERIFY(worker.begin());
        attach(worker, recorder);
        QVERIFY(initialize(worker));

        // OpenVPN itself would restart after a lost link; for this check it
        // must end on its own, which is what the engine then has to follow.
        const OpenVpnConnectParams p = params("tcp", kTcpPort, kPassword, { "remap-usr1 SIGTERM" });
        bool result = false;
        QVERIFY(worker.call([&result, p](Connection& c) { result = c.openManager()->connect(p); }, 90000));
        QVERIFY(result);
        QCOMPARE(recorder.last(), Constants::ConnectState_Connected);
        const int before = recorder.snapshot().size();

        QVERIFY(m_server->signal(SIGKILL));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.last(), Constants::ConnectState_Disconnected, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!worker.connection()->openManager()->isOpenVpnProcessRunning(), 10000);
        // Stays down: the engine starts no new OpenVPN and never goes back
        // to Connecting.
        QTest::qWait(1500);
        QCOMPARE(recorder.last(), Constants::ConnectState_Disconnected);
        for (const auto& step : recorder.snapshot().mid(before))
            QVERIFY(step.second != Constants::ConnectState_Connecting
                    && step.second != Constants::ConnectState_Connected);
        QVERIFY(!clientOpenVpnRunning());
        // A later disconnect is harmless.
        QVERIFY(worker.call([](Connection& c) { c.disconnect(true); }, 60000));
        QCOMPARE(recorder.last(), Constants::ConnectState_Disconnected);
    }

    void resetWhileConnectingEndsTheAttach()
    {
        // No server: OpenVPN waits for a TLS answer for a long time.
        Recorder recorder; // outlives the worker, which writes into it
        EngineWorker worker;
        QVERIFY(worker.begin());
        attach(worker, recorder);
        QVERIFY(initialize(worker));
        LogCapture log;

        std::atomic<bool> done { false };
        bool result = true;
        const OpenVpnConnectParams p = params("udp", kUdpPort, kPassword);
        worker.post([&result, &done, p](Connection& c) {
            result = c.openManager()->connect(p);
            done = true;
        });
        // Wait for phase 3: the link is up and the credentials went out.
        QTRY_VERIFY_WITH_TIMEOUT(LogCapture::contains("the password is passed"), 30000);
        QTest::qWait(200);
        QVERIFY(!done);

        QElapsedTimer sinceReset;
        sinceReset.start();
        worker.connection()->resetCurrentConnecting();
        QTRY_VERIFY_WITH_TIMEOUT(done, 40000);
        qInfo("attach ended %lld ms after the reset (disconnect included)", sinceReset.elapsed());
        QVERIFY(!result);
        QVERIFY(worker.waitIdle(5000));
        QCOMPARE(recorder.last(), Constants::ConnectState_Disconnected);
        // One attempt only: a reset is not followed by further attaches.
        int attaches = 0;
        for (const QString& l : LogCapture::lines())
            attaches += l.contains("start attaching...") ? 1 : 0;
        QCOMPARE(attaches, 1);
        QVERIFY(!clientOpenVpnRunning());
    }

    // OpenVPN ends during the connect: the user is told why, in the error
    // signal (rich text, OpenVPN's words escaped), and the state goes
    // Connecting -> Disconnected once.
    void openVpnEndingDuringTheConnectNamesTheCause_data()
    {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QString>("ovpnFile");
        QTest::addColumn<QStringList>("cause");
        QTest::newRow("unknown directive") << QStringList { "frob<b>nicate</b> yes" } << "config.ovpn"
                                           << QStringList { "OpenVPN refused its configuration: Unrecognized option",
                                                            ": frob&lt;b&gt;nicate&lt;/b&gt; (" };
        QTest::newRow("XOR template on stock OpenVPN") << QStringList { "scramble obfuscate" } << "config.ovpn"
                                                       << QStringList { "does not support the scramble option" };
        QTest::newRow("missing file") << QStringList() << "missing.ovpn" << QStringList { "missing.ovpn" };
    }
    void openVpnEndingDuringTheConnectNamesTheCause()
    {
        QFETCH(QStringList, extra);
        QFETCH(QString, ovpnFile);
        QFETCH(QStringList, cause);
        Recorder recorder;
        EngineWorker worker;
        QVERIFY(worker.begin());
        attach(worker, recorder);
        QVERIFY(initialize(worker));
        OpenVpnConnectParams p = params("udp", kUdpPort, kPassword, extra);
        p.ovpnFile = ovpnFile;
        bool result = true;
        QVERIFY(worker.call([&result, p](Connection& c) { result = c.openManager()->connect(p); }, 120000));
        QVERIFY(!result);
        QCOMPARE(recorder.last(), Constants::ConnectState_Disconnected);
        QCOMPARE(entered(recorder.snapshot()).count(Constants::ConnectState_Disconnected), 1);
        const QStringList errors = recorder.errorsSnapshot();
        QVERIFY2(errors.size() == 1, qPrintable(errors.join('\n')));
        for (const QString& fragment : cause)
            QVERIFY2(errors.first().contains(fragment), qPrintable(errors.first()));
        QVERIFY(!clientOpenVpnRunning());
        QVERIFY(!QFile::exists(QOpenVPN2::managementPasswordFilePath()));
    }

    void credentialsOutsideAsciiReachTheServerAsUtf8()
    {
        const QString user = QStringLiteral("j\u00fcrgen-\u00df");
        const QString password = QStringLiteral("p\u00e4sswort \u2713 \u5bc6\u7801 \u20ac");
        m_server->addUser(user, password);
        QString error;
        QVERIFY2(m_server->start("udp", kUdpPort, {}, &error), qPrintable(error));
        Recorder recorder;
        EngineWorker worker;
        QVERIFY(worker.begin());
        attach(worker, recorder);
        QVERIFY(initialize(worker));
        OpenVpnConnectParams p = params("udp", kUdpPort, password);
        p.username = user;
        bool result = false;
        LogCapture log;
        QVERIFY(worker.call([&result, p](Connection& c) { result = c.openManager()->connect(p); }, 90000));
        QVERIFY2(result, qPrintable(recorder.errorsSnapshot().join('\n')));
        QCOMPARE(recorder.last(), Constants::ConnectState_Connected);
        QVERIFY(worker.call([](Connection& c) { c.disconnect(true); }, 60000));
        for (const QString& line : LogCapture::lines())
            QVERIFY2(!line.contains(password), qPrintable(line));
    }

    // Another user holds the old management port (and the next one) and
    // keeps trying the management socket: the connect goes through, the
    // socket and its password file are root's alone, and the intruder gets
    // nothing of the session.
    void anotherUserCannotStopOrReachTheManagementLink()
    {
        QString error;
        QVERIFY2(m_server->start("udp", kUdpPort, {}, &error), qPrintable(error));
        QProcess intruder;
        intruder.setProcessChannelMode(QProcess::MergedChannels);
        intruder.start("setpriv", { "--reuid=nobody", "--regid=nogroup", "--clear-groups", "/usr/bin/python3", "-c", R"(
import socket, sys, time
held = []
for port in (7506, 7507):
    s = socket.socket(); s.bind(("127.0.0.1", port)); s.listen(8); s.setblocking(False); held.append(s)
print("HOLDING", flush=True)
end = time.time() + 120
while time.time() < end:
    for s in held:
        try:
            c, _ = s.accept()
            c.sendall(b"SUCCESS: password is correct\r\n>PASSWORD:Need 'Auth' username/password\r\n")
            c.settimeout(0.2)
            print("TCP", repr(c.recv(4096)), flush=True)
            c.close()
        except OSError:
            pass
    u = socket.socket(socket.AF_UNIX)
    try:
        u.connect("/run/ostrel/openvpn-management.sock")
        print("UNIX REACHED", flush=True)
    except OSError:
        pass
    u.close()
    time.sleep(0.001)
)" });
        QVERIFY(intruder.waitForStarted(10000));
        QByteArray seen;
        QTRY_VERIFY_WITH_TIMEOUT((seen += intruder.readAll()).contains("HOLDING"), 10000);

        Recorder recorder;
        EngineWorker worker;
        QVERIFY(worker.begin());
        attach(worker, recorder);
        QVERIFY(initialize(worker));
        const OpenVpnConnectParams p = params("udp", kUdpPort, kPassword);
        bool result = false;
        QVERIFY(worker.call([&result, p](Connection& c) { result = c.openManager()->connect(p); }, 120000));
        QVERIFY2(result, qPrintable(recorder.errorsSnapshot().join('\n')));
        struct stat dir = {};
        QVERIFY(::lstat("/run/ostrel", &dir) == 0 && S_ISDIR(dir.st_mode));
        QCOMPARE(dir.st_uid, 0u);
        QCOMPARE(dir.st_mode & 07777, 0700u);
        const QFileInfo passwordFile(QOpenVPN2::managementPasswordFilePath());
        QVERIFY(passwordFile.exists());
        QCOMPARE(passwordFile.permissions(),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
        QCOMPARE(passwordFile.ownerId(), 0u);
        QTest::qWait(300); // the intruder keeps trying on a live tunnel
        QCOMPARE(recorder.last(), Constants::ConnectState_Connected);
        QVERIFY(worker.call([](Connection& c) { c.disconnect(true); }, 60000));
        QVERIFY(!QFile::exists(QOpenVPN2::managementPasswordFilePath()));
        QVERIFY(!QFile::exists(ExternalToolsCustom::managementSocketPath()));
        QVERIFY(intruder.state() == QProcess::Running);
        intruder.kill();
        intruder.waitForFinished(10000);
        seen += intruder.readAll();
        QVERIFY2(!seen.contains("TCP") && !seen.contains("UNIX REACHED"), seen.constData());
    }

    // OpenVPN started, but the management socket is another process's: the
    // connect fails saying so, and that process receives nothing.
    void aPeerOnTheSocketThatIsNotTheStartedOpenVpnReceivesNoCredential()
    {
        QTemporaryDir fakeDir;
        const QString received = fakeDir.filePath("received");
        Recorder recorder;
        EngineWorker worker;
        QVERIFY(worker.begin());
        attach(worker, recorder);
        QVERIFY(worker.call(
            [&](Connection& c) { c.openManager()->initializeWith(writeImpostorOpenVpn(fakeDir.path(), received)); },
            60000));
        const OpenVpnConnectParams p = params("udp", kUdpPort, kPassword);
        bool result = true;
        QVERIFY(worker.call([&result, p](Connection& c) { result = c.openManager()->connect(p); }, 90000));
        QVERIFY(!result);
        QCOMPARE(recorder.last(), Constants::ConnectState_Disconnected);
        const QStringList errors = recorder.errorsSnapshot();
        QVERIFY2(errors.size() == 1 && errors.first().contains("not by the OpenVPN process"),
                 qPrintable(errors.join('\n')));
        QTest::qWait(300);
        QFile got(received);
        QVERIFY(!got.exists() || (got.open(QIODevice::ReadOnly) && got.readAll().isEmpty()));
        QVERIFY(!worker.connection()->openManager()->isOpenVpnProcessRunning());
    }

    // The pid record makes root stop an OpenVPN only when the client that
    // started it has ended, and only when the record and its directory are
    // root's alone; otherwise nothing is touched.
    void pidRecordIsActedOnOnlyForAnEndedClientInARootOnlyDirectory()
    {
        QTemporaryDir dir;
        const QString victimExe = dir.filePath("openvpn-victim");
        QVERIFY(QFile::copy("/bin/sleep", victimExe));
        QFile::setPermissions(victimExe, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QProcess victim, client, ended;
        victim.start(victimExe, { "300" });
        client.start("sleep", { "300" });
        ended.start("true", QStringList());
        QVERIFY(ended.waitForStarted(10000));
        const qint64 endedPid = ended.processId();
        QVERIFY(victim.waitForStarted(10000) && client.waitForStarted(10000) && ended.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(!startTime(victim.processId()).isEmpty() && !startTime(client.processId()).isEmpty(),
                                 5000);
        const QByteArray openVpn = QByteArray::number(victim.processId()) + ' ' + startTime(victim.processId());
        const QByteArray liveClient = QByteArray::number(client.processId()) + ' ' + startTime(client.processId());
        const QByteArray goneClient = QByteArray::number(endedPid) + " 1";
        QVERIFY(RootOnlyDirectory::ensure());
        auto writeRecord = [](const QByteArray& content) {
            QFile::remove(QOpenVPN2::pidFilePath());
            QFile f(QOpenVPN2::pidFilePath());
            return f.open(QIODevice::WriteOnly) && f.write(content + '\n') > 0
                && f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        };
        OpenVpnConnectParams p = params("udp", kUdpPort, kPassword);
        auto refusal = [&p](const QString& expected) {
            QOpenVPN2 engine;
            QSignalSpy errors(&engine, &ConnectStateObject::error);
            engine.connect(p);
            return errors.size() == 1 && errors.first().first().toString().contains(expected)
                && !engine.isOpenVpnProcessRunning();
        };
        QOpenVPN2 engine;

        // Its client still runs: neither start-up nor a connect stops it.
        QVERIFY(writeRecord(openVpn + ' ' + liveClient));
        QString busy;
        QVERIFY(!engine.stopOrphanedOpenVpn(&busy));
        QVERIFY(busy.contains(QString::number(client.processId())));
        QVERIFY(refusal(busy));
        QVERIFY(victim.state() == QProcess::Running && QFile::exists(QOpenVPN2::pidFilePath()));

        // Client gone, but the record is another user's.
        QVERIFY(writeRecord(openVpn + ' ' + goneClient));
        QVERIFY(::chown(QFile::encodeName(QOpenVPN2::pidFilePath()).constData(), 65534, 65534) == 0);
        QVERIFY(!engine.stopOrphanedOpenVpn());
        QVERIFY(victim.state() == QProcess::Running && QFile::exists(QOpenVPN2::pidFilePath()));

        // Client gone, record root's, but the directory is not root-only
        // (open to others, another user's, a link): refused, left as it is.
        QVERIFY(writeRecord(openVpn + ' ' + goneClient));
        const QByteArray runDir = QFile::encodeName(RootOnlyDirectory::path());
        QVERIFY(::chmod(runDir.constData(), 0755) == 0);
        QVERIFY(!engine.stopOrphanedOpenVpn());
        QVERIFY(refusal("its mode is 0755"));
        struct stat info = {};
        QVERIFY(::lstat(runDir.constData(), &info) == 0 && (info.st_mode & 07777) == 0755);
        QVERIFY(::chmod(runDir.constData(), 0700) == 0 && ::chown(runDir.constData(), 65534, 65534) == 0);
        QVERIFY(!engine.stopOrphanedOpenVpn());
        QVERIFY(refusal("belongs to user id 65534"));
        QVERIFY(::chown(runDir.constData(), 0, 0) == 0);
        QVERIFY(::rename(runDir.constData(), "/run/ostrel-moved") == 0
                && ::symlink("ostrel-moved", runDir.constData()) == 0);
        QVERIFY(!engine.stopOrphanedOpenVpn());
        QVERIFY(refusal("symbolic link"));
        QVERIFY(::unlink(runDir.constData()) == 0 && ::rename("/run/ostrel-moved", runDir.constData()) == 0);
        QVERIFY(victim.state() == QProcess::Running && QFile::exists(QOpenVPN2::pidFilePath()));

        // All in order and the client gone: a left-over, stopped.
        const qint64 victimPid = victim.processId();
        QVERIFY(engine.stopOrphanedOpenVpn());
        QVERIFY(!processAlive(victimPid));
        QVERIFY(!QFile::exists(QOpenVPN2::pidFilePath()));
        client.kill();
        client.waitForFinished(10000);
    }

    // The management link ends while OpenVPN runs: the engine stops it and
    // the state says so (with the error flag: nobody asked).
    void lostManagementLinkStopsOpenVpn_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("scripted peer closes") << "peer";
        QTest::newRow("OpenVPN closes the session") << "quit";
        QTest::newRow("socket killed") << "kill-socket";
    }
    void lostManagementLinkStopsOpenVpn()
    {
        QFETCH(QString, how);
        QTemporaryDir fakeDir;
        if (how != "peer") {
            QString error;
            QVERIFY2(m_server->start("udp", kUdpPort, {}, &error), qPrintable(error));
        }
        Recorder recorder;
        EngineWorker worker;
        QVERIFY(worker.begin());
        attach(worker, recorder);
        if (how == "peer")
            QVERIFY(worker.call(
                [&fakeDir](Connection& c) {
                    c.openManager()->initializeWith(writeLinkDroppingOpenVpn(fakeDir.path()));
                },
                60000));
        else
            QVERIFY(initialize(worker));
        const OpenVpnConnectParams p = params("udp", kUdpPort, kPassword);
        bool result = false;
        QVERIFY(worker.call([&result, p](Connection& c) { result = c.openManager()->connect(p); }, 90000));
        QVERIFY2(result, qPrintable(recorder.errorsSnapshot().join('\n')));
        const qint64 pid = worker.connection()->openManager()->openVpnProcessPid();
        QVERIFY(processAlive(pid));
        if (how == "quit") {
            worker.post([](Connection& c) { c.writeOpenVpnCommand("quit\n"); });
        } else if (how == "kill-socket") {
            QCOMPARE(shutdownSocketsTo(pid), 1);
        }
        QTRY_COMPARE_WITH_TIMEOUT(recorder.last(), Constants::ConnectState_Disconnected, 60000);
        QVERIFY(worker.connection()->withError());
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), 10000);
        QVERIFY(!QFile::exists(QOpenVPN2::pidFilePath()));
        QVERIFY(worker.finish());
    }

    // The client is killed while connected; its OpenVPN keeps running. The
    // next start stops that one (and no other OpenVPN) and connects.
    void openVpnLeftByAKilledClientIsStoppedAtTheNextStart()
    {
        QString error;
        QVERIFY2(m_server->start("udp", kUdpPort, {}, &error), qPrintable(error));
        params("udp", kUdpPort, kPassword); // writes the configuration

        // Somebody else's OpenVPN, on another management port.
        QTemporaryDir foreignDir;
        QFile::copy(m_configDir + "/" + Constants::openVpnConfigFileName(), foreignDir.filePath("foreign.ovpn"));
        QProcess foreign;
        foreign.setWorkingDirectory(foreignDir.path());
        foreign.setProcessChannelMode(QProcess::MergedChannels);
        foreign.start(
            "openvpn",
            { "--config", "foreign.ovpn", "--management", "127.0.0.1", "7507", "--management-query-passwords" });
        QVERIFY(foreign.waitForStarted(10000));
        QByteArray foreignOutput;
        QTRY_VERIFY_WITH_TIMEOUT((foreignOutput += foreign.readAll()).contains("MANAGEMENT: TCP Socket listening"),
                                 30000);

        // A client that connects and is then killed.
        QProcess client;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("OSTREL_TEST_KILLED_CLIENT", "1");
        client.setProcessEnvironment(env);
        client.setProcessChannelMode(QProcess::SeparateChannels);
        client.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(client.waitForStarted(10000));
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += client.readAllStandardOutput()).contains("\n"), 90000);
        QVERIFY2(said.startsWith("CONNECTED "), said.constData());
        const qint64 orphan = said.mid(10).trimmed().toLongLong();
        QVERIFY(processAlive(orphan));
        client.kill();
        QVERIFY(client.waitForFinished(10000));
        QTest::qWait(200);
        QVERIFY2(processAlive(orphan), "the crash must leave OpenVPN running for this test");
        QVERIFY(QFile::exists(QOpenVPN2::pidFilePath()));

        Recorder recorder;
        EngineWorker worker;
        QVERIFY(worker.begin());
        attach(worker, recorder);
        LogCapture log;
        QVERIFY(initialize(worker));
        QVERIFY(!processAlive(orphan));
        QVERIFY(foreign.state() == QProcess::Running);
        const OpenVpnConnectParams p = params("udp", kUdpPort, kPassword);
        bool result = false;
        QVERIFY(worker.call([&result, p](Connection& c) { result = c.openManager()->connect(p); }, 90000));
        QVERIFY2(result, qPrintable(recorder.errorsSnapshot().join('\n')));
        QVERIFY(worker.call([](Connection& c) { c.disconnect(true); }, 60000));
        QVERIFY(foreign.state() == QProcess::Running);
        foreign.terminate();
        QVERIFY(foreign.waitForFinished(30000));
    }
};

// The client of the left-over test: connects, says so with OpenVPN's pid
// and waits to be killed.
int runKilledClient(int argc, char* argv[])
{
    return runClientProcess(argc, argv, [](EngineWorker& worker) {
        const OpenVpnConnectParams p = loopbackConnectParams(kUser, kPassword);
        bool connected = false;
        worker.call(
            [&connected, p](Connection& c) {
                c.initialize();
                connected = c.openManager()->connect(p);
            },
            90000);
        QTextStream out(stdout);
        out << (connected ? "CONNECTED " : "FAILED ") << worker.connection()->openManager()->openVpnProcessPid()
            << "\n";
        out.flush();
        QThread::sleep(300);
        return 0;
    });
}

OSTREL_TEST_MAIN(
    TestConnection,
    TestMain(TestMain::Core | TestMain::PrivateNamespaces | TestMain::LoopbackUp | TestMain::PrivateResolverFile)
        .helperRole([] { return qEnvironmentVariableIsSet("OSTREL_TEST_KILLED_CLIENT"); }, runKilledClient))
#include "tst_connection.moc"
