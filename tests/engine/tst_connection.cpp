// The engine against a real OpenVPN server on 127.0.0.1, inside the test's
// own network namespace: connect, disconnect, wrong password, a server that
// dies, a reset while connecting, and where the password may not go.
#include "enginetestmain.h"
#include "engineworker.h"
#include "testsupport.h"

#include "qopenvpn2custom.h"
#include "systemhelper.h"
#include "unix/externaltools.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <csignal>

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
    QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
        const QByteArray cmd = processCmdline(pid);
        QFile stat(QString("/proc/%1/stat").arg(pid));
        const bool zombie = stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") Z ");
        if (!zombie && cmd.contains("--management-query-passwords"))
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
        QObject::connect(c, &ConnectStateObject::stateChanged, c, [&recorder](State o, State n) {
            QMutexLocker l(&recorder.mutex);
            recorder.road << qMakePair(o, n);
        }, Qt::DirectConnection);
        QObject::connect(c, &Connection::error, c, [&recorder](QString text) {
            QMutexLocker l(&recorder.mutex);
            recorder.errors << text;
        }, Qt::DirectConnection);
    }

    OpenVpnConnectParams params(const QString& proto, quint16 port, const QString& password,
                                const QStringList& extra = {}, bool reconnect = false)
    {
        QFile config(m_configDir + "/" + Constants::openVpnConfigFileName());
        if (config.open(QIODevice::WriteOnly | QIODevice::Truncate))
            config.write(m_server->clientConfig(proto, port, extra));
        OpenVpnConnectParams p;
        p.protocol = Constants::ProtocolType_OPENVPN256;
        p.serverIP = "127.0.0.1";
        p.username = kUser;
        p.password = password;
        p.ovpnFile = Constants::openVpnConfigFileName();
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
        if (!OpenVpnFixture::inPrivateNetworkNamespace())
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
        QStringList expected{"--management", "127.0.0.1", "7506", QOpenVPN2::managementPasswordFilePath(),
                             "--management-query-passwords", "--config", "config.ovpn"};
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
        const Road road{{Constants::ConnectState_Disconnected, Constants::ConnectState_Connecting},
                        {Constants::ConnectState_Connecting, Constants::ConnectState_Connected},
                        {Constants::ConnectState_Connected, Constants::ConnectState_Disconnecting},
                        {Constants::ConnectState_Disconnecting, Constants::ConnectState_Disconnected}};
        QVERIFY2(recorder.snapshot() == road, qPrintable(roadText(recorder.snapshot()) + "\n" + LogCapture::lines().join('\n')));
        QVERIFY(recorder.errorsSnapshot().isEmpty());
        QVERIFY(!clientOpenVpnRunning());
        QVERIFY(worker.finish());

        // The password went over the management socket only.
        QVERIFY(LogCapture::contains("the password is passed"));
        for (const QString& line : LogCapture::lines())
            QVERIFY2(!line.contains(kPassword) && !line.contains("s3cr"), qPrintable("logged: " + line));
        QDirIterator files(QFileInfo(m_configDir).absolutePath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
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
        QVERIFY(recorder.snapshot().contains(qMakePair(Constants::ConnectState_Disconnected, Constants::ConnectState_Connecting)));
        QVERIFY(!recorder.snapshot().contains(qMakePair(Constants::ConnectState_Connecting, Constants::ConnectState_Connected)));
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
        const OpenVpnConnectParams p = params("tcp", kTcpPort, kPassword, {"remap-usr1 SIGTERM"});
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
            QVERIFY(step.second != Constants::ConnectState_Connecting && step.second != Constants::ConnectState_Connected);
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

        std::atomic<bool> done{false};
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
};

OSTREL_ENGINE_TEST_MAIN(TestConnection)
#include "tst_connection.moc"
