// The engine under the user's timing, through a real Model and its worker
// against the loopback OpenVPN server: a Disconnect at any moment of a
// connect, the message after an unasked end, the resolver file after a quit
// whose OpenVPN was killed, and clients in processes (and homes) of their own
// beside each other. As root the test runs in network and mount namespaces of
// its own with a private layer over /etc; otherwise it skips.
#include "testsupport.h"

#include "deployment.h"
#include "engineworker.h"
#include "nstools.h"
#include "resources.h"
#include "roadrig.h"
#include "settings.h"
#include "systemhelper.h"
#include "unix/rootonlydirectory.h"
#include "unix/sessionlock.h"
#include "unix/sessionrecord.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>

#include <unistd.h>

namespace {

const quint16 kPort = 11971;
const QString kUser = QStringLiteral("sweep-user");
const QString kPassword = QStringLiteral("sw33p \"pass\"");
const QByteArray kUsersResolver = "nameserver 192.0.2.54\n";

using TestSupport::readBytes;

// Tunnel devices in this network namespace.
QStringList tunDevices()
{
    return QDir("/sys/class/net").entryList({ "tun*" }, QDir::Dirs | QDir::System | QDir::NoDotAndDotDot);
}

// A client OpenVPN (one with a management interface) in this namespace.
bool clientOpenVpnRunning()
{
    return !RoadRig::processesHere("--management-query-passwords").isEmpty();
}

using State = Constants::ConnectState;

QList<State> statesOf(const QSignalSpy& spy)
{
    QList<State> result;
    for (const QList<QVariant>& change : spy)
        result << change.first().value<State>();
    return result;
}

QString statesText(const QList<State>& states)
{
    QStringList words;
    for (State s : states)
        words << Constants::stateToStr(s);
    return words.join(' ');
}

const QByteArray kClientConfigVariable = "OSTREL_TEST_OTHER_CLIENT_CONFIG";
const QByteArray kModelClientHostVariable = "OSTREL_TEST_MODEL_CLIENT_HOST";

// Another client, in a process and a home of its own: its engine
// initialises and says "READY <result>"; told "go" it connects with the
// configuration file given and says "CONNECTED <OpenVPN pid>" or "REFUSED
// <its first error>", then waits to be killed; told "hold" it holds the
// session lock and says "HELD"; told "fork" it does so and starts a child
// that stops itself between its fork and its exec, and says "FORKED <child
// pid>"; told anything else it ends. With kModelClientHostVariable instead,
// a client with a real Model (modelClient()).
class OtherClient
{
public:
    explicit OtherClient(const QString& config)
        : OtherClient(kClientConfigVariable, config)
    {
    }
    OtherClient(const QByteArray& role, const QString& value)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(role, value);
        env.insert("HOME", m_home.path());
        env.insert("XDG_DATA_HOME", m_home.filePath("data"));
        env.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        m_process.setProcessEnvironment(env);
        m_process.start(QCoreApplication::applicationFilePath(), QStringList());
    }
    ~OtherClient() { kill(); }

    qint64 pid() const { return m_process.processId(); }
    // The next line it says (bounded); empty when none came.
    QByteArray nextLine(int timeoutMs = 120000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!m_said.contains('\n') && !deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
            m_process.waitForReadyRead(100);
            m_said += m_process.readAllStandardOutput();
        }
        const int end = m_said.indexOf('\n');
        const QByteArray line = end < 0 ? QByteArray() : m_said.left(end);
        m_said.remove(0, end + 1);
        return line;
    }
    // Whether its log (standard error) has said `fragment` (bounded).
    bool logSays(const QByteArray& fragment, int timeoutMs = 120000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!(m_log += m_process.readAllStandardError()).contains(fragment)) {
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(100);
        }
        return true;
    }
    // The last lines of its log, for a failure's message.
    QByteArray logTail()
    {
        m_log += m_process.readAllStandardError();
        const QList<QByteArray> lines = m_log.split('\n');
        return lines.mid(qMax(0, lines.size() - 40)).join('\n');
    }
    void tell(const QByteArray& line)
    {
        m_process.write(line + '\n');
        m_process.waitForBytesWritten(5000);
    }
    // Frozen and thawed, as by the user.
    // True once every thread of the client has stopped: SIGSTOP takes
    // effect after kill() returns, and a thread still running meanwhile
    // could take the session lock.
    bool freeze()
    {
        const QString tasks = QStringLiteral("/proc/%1/task").arg(m_process.processId());
        ::kill(pid_t(m_process.processId()), SIGSTOP);
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            bool stopped = true;
            for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                const QByteArray stat = TestSupport::readBytes(tasks + "/" + task + "/stat");
                const int nameEnd = stat.lastIndexOf(')');
                stopped = stopped && nameEnd > 0 && stat.mid(nameEnd + 2, 1) == "T";
            }
            if (stopped)
                return true;
            QThread::msleep(1);
        }
        return false;
    }
    void thaw() { ::kill(pid_t(m_process.processId()), SIGCONT); }
    void kill()
    {
        if (m_process.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_process.processId()), SIGKILL);
            m_process.waitForFinished(10000);
        }
    }

private:
    QTemporaryDir m_home;
    QProcess m_process;
    QByteArray m_said;
    QByteArray m_log;
};

// Another change of a script's files: holds the script's lock as the
// scripts take it (flock) until the process is killed.
bool holdScriptLock(QProcess& holder, const QString& lockFile)
{
    holder.start("sh", { "-c", "exec 9>>\"$1\" && flock 9 && echo held && exec sleep 60", "sh", lockFile });
    return holder.waitForReadyRead(10000);
}

// The state letter of a process ('T' stopped); 0 when it is gone.
char processState(qint64 pid)
{
    const QByteArray stat = readBytes(QString("/proc/%1/stat").arg(pid));
    const int nameEnd = stat.lastIndexOf(')');
    return nameEnd < 0 || stat.size() < nameEnd + 3 ? 0 : stat.at(nameEnd + 2);
}

// A child that stops itself where a client's OpenVPN child, frozen with its
// client, would be: its pid record written, its exec not yet done.
class StoppedBeforeExec : public RecordedProcess
{
protected:
    void setupChildProcess() override
    {
        RecordedProcess::setupChildProcess();
        ::raise(SIGSTOP);
    }
};

// Holds the session lock as a client does while it starts its OpenVPN;
// with `fork` it starts that child, which stops before its exec. Waits to be
// killed.
int holdTheSessionLock(bool fork, QFile& in, QTextStream& out)
{
    SessionLock lock;
    if (!RootOnlyDirectory::ensure() || !lock.acquire(60000))
        return 1;
    StoppedBeforeExec child;
    if (fork) {
        child.recordNextStart();
        child.start("/bin/true", QStringList());
        out << "FORKED " << child.processId() << "\n";
    } else {
        out << "HELD\n";
    }
    out.flush();
    in.readLine();
    return 0;
}

// No OpenVPN of another client outlives a failed check.
void killOtherClientsOpenVpn()
{
    for (qint64 pid : RoadRig::processesHere("--management-query-passwords"))
        ::kill(pid_t(pid), SIGKILL);
}

int otherClient(EngineWorker& worker)
{
    QStringList errors; // written on the worker thread while a call runs
    QObject::connect(
        worker.connection(), &Connection::error, worker.connection(),
        [&errors](const QString& text) { errors << text; }, Qt::DirectConnection);
    bool ready = false;
    worker.call([&ready](Connection& c) { ready = c.initialize(); }, 120000);
    QTextStream out(stdout);
    out << "READY " << int(ready) << "\n";
    out.flush();
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return 0;
    const QByteArray command = in.readLine().trimmed();
    if (command == "hold" || command == "fork")
        return holdTheSessionLock(command == "fork", in, out);
    if (command != "go")
        return 0;
    OpenVpnConnectParams p = loopbackConnectParams(kUser, kPassword);
    p.dnsScripts = true;
    QDir().mkpath(p.configPath);
    QFile::copy(qEnvironmentVariable(kClientConfigVariable), p.configPath + "/" + p.ovpnFile);
    bool connected = false;
    worker.call([&connected, p](Connection& c) { connected = c.openManager()->connect(p); }, 180000);
    if (connected)
        out << "CONNECTED " << worker.connection()->openManager()->openVpnProcessPid() << "\n";
    else
        out << "REFUSED " << errors.value(0) << "\n";
    out.flush();
    in.readLine(); // until it is killed
    return 0;
}

// A client with a real Model whose location is at the host given: says
// "READY"; told "connect" it presses Connect (its kill-switch option on) and
// says "CONNECTED" or "REFUSED <the engine's first error>"; told anything
// else it ends. Its log goes to standard error.
int modelClient(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TestSupport::initApplication();
    initResources();
    settings().setValue("FullLog", true);
    Model model(nullptr);
    ConnectionThread* worker = model.connectionThread();
    if (!worker->waitInitializeCompleted(60) || !worker->connectionInitializeResult())
        return 1;
    model.setUsername(kUser);
    model.setUserpassword(kPassword);
    model.setSelectedProtocol(Protocol::Ptr(new Protocol(Constants::ProtocolType_OPENVPN256)));
    model.setSelectedPort(Port::Ptr(new Port("UDP-" + QString::number(kPort))));
    model.setSelectedDNSFiltering(DNSFiltering::Ptr(new DNSFiltering("s", Constants::DNSFiltering_secureDNS)));
    Location::Ptr location = RoadRig::loopbackLocation("client");
    location->setHost(qEnvironmentVariable(kModelClientHostVariable));
    model.setSelectedLocation(location);
    model.optionGatewayRemoval()->setValue(true);
    QString firstError;
    QObject::connect(model.connection(), &Connection::error, &model, [&firstError](const QString& text) {
        if (firstError.isEmpty())
            firstError = text;
    });
    QTextStream out(stdout);
    out << "READY\n";
    out.flush();

    bool pressed = false;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char line[64];
        const ssize_t n = ::read(STDIN_FILENO, line, sizeof line);
        if (pressed || n <= 0 || !QByteArray(line, int(n)).startsWith("connect")) {
            input.setEnabled(false);
            app.quit();
            return;
        }
        pressed = true;
        model.vpnConnectDisconnect();
    });
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, &app, [&] {
        if (!pressed)
            return;
        if (model.connectionState() == Constants::ConnectState_Connected)
            out << "CONNECTED\n";
        else if (!firstError.isEmpty() && model.connectionState() == Constants::ConnectState_Disconnected
                 && worker->askedState() == Constants::RequestedAction_None)
            out << "REFUSED " << firstError << "\n";
        else
            return;
        out.flush();
        answer.stop();
    });
    answer.start(50);
    app.exec();
    model.stop();
    return 0;
}

int runOtherClient(int argc, char* argv[])
{
    if (qEnvironmentVariableIsSet(kModelClientHostVariable))
        return modelClient(argc, argv);
    return runClientProcess(argc, argv, otherClient);
}

} // namespace

class TestEngineRoad : public QObject
{
    Q_OBJECT
    RoadRig m_rig;
    Model* m_model = nullptr;

    ConnectionThread* worker() { return m_rig.worker(); }
    qint64 clientPid() { return m_rig.clientPid(); }

    // Pumps the GUI thread's events in 1 ms steps until a log line contains
    // `fragment` (bounded).
    static bool waitForLog(const QString& fragment, int timeoutMs)
    {
        QElapsedTimer elapsed;
        elapsed.start();
        while (!LogCapture::contains(fragment) && elapsed.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            QThread::msleep(1);
        }
        return LogCapture::contains(fragment);
    }

    void connectAndWait() { m_rig.connectAndWait(); }
    void disconnectAndWait() { m_rig.disconnectAndWait(); }

    void startModel()
    {
        OSTREL_RIG_STEP(m_rig.startModel());
        m_model = m_rig.model();
        m_rig.logOn(kUser, kPassword, "UDP-" + QString::number(kPort),
                    DNSFiltering::Ptr(new DNSFiltering("s", Constants::DNSFiltering_secureDNS)));
        m_model->setSelectedLocation(RoadRig::loopbackLocation("sweep1"));
    }

    // The configuration file the model writes for its connect.
    QString clientConfig()
    {
        const QString path = SystemHelper::instance().configsFilesDirPath() + "/" + Constants::openVpnConfigFileName();
        if (!QFile::exists(path)) {
            connectAndWait();
            disconnectAndWait();
        }
        return path;
    }

private slots:
    void initTestCase()
    {
        initResources();
        if (!NsTools::inPrivateNamespaces())
            QSKIP("needs root: the tunnel and the resolver file live in namespaces of the test's own");
        OSTREL_RIG_STEP(m_rig.enterPrivateEtc());
        OSTREL_RIG_STEP(m_rig.setUsersResolver(kUsersResolver));
        OSTREL_RIG_STEP(m_rig.startServer("udp", kPort, kUser, kPassword));
        startModel();
        // A configuration left by an earlier run (or a check that failed
        // half-way) is not this run's: clientConfig() writes it anew.
        QFile::remove(SystemHelper::instance().configsFilesDirPath() + "/" + Constants::openVpnConfigFileName());
    }

    void cleanupTestCase()
    {
        m_rig.tearDown();
        m_model = nullptr;
    }

    // Disconnect pressed at a moment after the connect was asked for (a
    // delay, or the log line that opens an attach phase).
    void disconnectDuringConnectAlwaysCancels_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<QString>("phase");
        for (int ms : { 0, 5, 10, 20, 50, 100, 200, 300 })
            QTest::newRow(qPrintable(QString("%1 ms").arg(ms))) << ms << QString();
        QTest::newRow("OpenVPN starting") << 0 << "m_process.start";
        QTest::newRow("attaching") << 0 << "start attaching...";
        QTest::newRow("credentials sent") << 0 << "the password is passed";
        QTest::newRow("tunnel coming up") << 0 << ",WAIT,";
    }
    void disconnectDuringConnectAlwaysCancels()
    {
        QFETCH(int, delayMs);
        QFETCH(QString, phase);
        LogCapture log;
        QSignalSpy states(m_model, &Model::connectionStateChanged);
        // What the engine reports, seen on its own thread: neither Connected
        // after the press nor Connecting once it is Disconnecting. (OpenVPN
        // adds its routes on the next whole second: now and then the connect
        // is through before a late press, which then disconnects.)
        std::atomic<bool> pressed { false };
        std::atomic<bool> going { false };
        std::atomic<bool> connectedBeforePress { false };
        std::atomic<int> reopened { 0 };
        Connection* engine = m_model->connection();
        const QMetaObject::Connection watch = connect(
            engine, &ConnectStateObject::stateChanged, engine,
            [&](State, State now) {
                going = going || now == Constants::ConnectState_Disconnecting;
                connectedBeforePress = connectedBeforePress || (!pressed && now == Constants::ConnectState_Connected);
                reopened += (pressed && now == Constants::ConnectState_Connected)
                    || (going && now == Constants::ConnectState_Connecting);
            },
            Qt::DirectConnection);
        const auto unwatch = qScopeGuard([&] { disconnect(watch); });
        // The Connected reactions of the model leave these behind.
        Settings::set_username(QString());
        m_model->setConnectedTime(QDateTime());

        m_model->vpnConnectDisconnect();
        if (!phase.isEmpty())
            QVERIFY2(waitForLog(phase, 30000), qPrintable(phase));
        else if (delayMs > 0)
            QTest::qWait(delayMs);
        // The button again while the connect runs (at 0 ms the state still
        // reads Disconnected: the press must cancel, not connect again).
        m_model->vpnConnectDisconnect();
        pressed = true;

        QTRY_VERIFY_WITH_TIMEOUT(m_model->connectionState() == Constants::ConnectState_Disconnected
                                     && worker()->askedState() == Constants::RequestedAction_None,
                                 60000);
        QVERIFY(!worker()->waitWorkCompleted(60));
        QTest::qWait(300); // nothing comes after
        QCOMPARE(m_model->connectionState(), Constants::ConnectState_Disconnected);
        QCOMPARE(m_model->visualConnectionState(), Constants::ConnectState_Disconnected);
        QCOMPARE(reopened.load(), 0);
        if (connectedBeforePress) {
            qInfo("connected before the press");
        } else {
            // Nothing of the reactions to Connected: resolver, kill switch,
            // credentials, connected time.
            QVERIFY2(!statesOf(states).contains(Constants::ConnectState_Connected),
                     qPrintable(statesText(statesOf(states))));
            QCOMPARE(log.count("^onConnected\\(\\)$"), 0);
            QVERIFY(Settings::username().isEmpty());
            QVERIFY(!m_model->connectedTime().isValid());
        }
        QVERIFY(!clientOpenVpnRunning());
        QVERIFY2(tunDevices().isEmpty(), qPrintable(tunDevices().join(' ')));
        QVERIFY(!QFile::exists(QOpenVPN2::managementPasswordFilePath()));

        // The next connect is not cut short by anything left over, and shows
        // Connecting until Connected.
        states.clear();
        connectAndWait();
        const QList<State> road = statesOf(states);
        QVERIFY2(!road.isEmpty() && road.last() == Constants::ConnectState_Connected, qPrintable(statesText(road)));
        QVERIFY2(!road.contains(Constants::ConnectState_Disconnected), qPrintable(statesText(road)));
        disconnectAndWait();
    }

    // OpenVPN dies just after it connected, while the window is busy: the
    // reaction to Connected waits for its commands, and the reactions to the
    // end run and finish inside it. The window shows where the engine is.
    void aReactionEndingLateNeverShowsAnOlderState()
    {
        const Connection* engine = m_model->connection();
        QSignalSpy states(m_model, &Model::connectionStateChanged);
        m_model->vpnConnectDisconnect();
        // No event of the window is handled until the engine has ended.
        const QDeadlineTimer deadline(60000);
        while (!engine->isConnectedState() && !deadline.hasExpired())
            QThread::msleep(5);
        QVERIFY(engine->isConnectedState());
        ::kill(pid_t(clientPid()), SIGKILL);
        while (!engine->isDisconnectedState() && !deadline.hasExpired())
            QThread::msleep(5);
        QVERIFY(engine->isDisconnectedState());
        QTRY_VERIFY_WITH_TIMEOUT(!states.isEmpty() && statesOf(states).last() == Constants::ConnectState_Disconnected,
                                 30000);
        QVERIFY2(statesOf(states).contains(Constants::ConnectState_Connected),
                 qPrintable(statesText(statesOf(states))));
        QVERIFY(!worker()->waitWorkCompleted(60));
        QCOMPARE(m_model->visualConnectionState(), Constants::ConnectState_Disconnected);
        QTRY_COMPARE_WITH_TIMEOUT(readBytes("/etc/resolv.conf"), kUsersResolver, 10000);
    }

    void unaskedEndShowsTheMessageAndADisconnectByTheUserDoesNot()
    {
        QSignalSpy toasts(m_model, &Model::qmlShowToast);
        auto disconnectedToasts = [&toasts] {
            int n = 0;
            for (const QList<QVariant>& t : toasts)
                n += t.first().toString() == QLatin1String("VPN disconnected") ? 1 : 0;
            return n;
        };
        connectAndWait();
        disconnectAndWait();
        QCOMPARE(disconnectedToasts(), 0);

        // OpenVPN dies under a connection.
        connectAndWait();
        const qint64 pid = clientPid();
        QVERIFY(TestSupport::processAlive(pid));
        ::kill(pid_t(pid), SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(m_model->connectionState(), Constants::ConnectState_Disconnected, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(disconnectedToasts(), 1, 10000);
        QVERIFY(!QFile::exists(QOpenVPN2::pidFilePath()));
        // Its session's resolver file was put back although no down script ran.
        QTRY_COMPARE_WITH_TIMEOUT(readBytes("/etc/resolv.conf"), kUsersResolver, 10000);
    }

    // Two clients connect at the same moment, round after round: one
    // connects, the other refuses, the record names the running OpenVPN, and
    // once both are killed the next client to start stops that OpenVPN.
    void twoClientsAtOnceLeaveOneRecordedSession()
    {
        const QString config = clientConfig();
        const auto sweep = qScopeGuard(killOtherClientsOpenVpn);
        for (int round = 0; round < 3; ++round) {
            OtherClient a(config), b(config);
            QCOMPARE(a.nextLine(), QByteArray("READY 1"));
            QCOMPARE(b.nextLine(), QByteArray("READY 1"));
            a.tell("go");
            b.tell("go");
            const QByteArray saidA = a.nextLine(), saidB = b.nextLine();
            const bool aWon = saidA.startsWith("CONNECTED ");
            const QByteArray won = aWon ? saidA : saidB, lost = aWon ? saidB : saidA;
            const qint64 winner = aWon ? a.pid() : b.pid();
            QVERIFY2(won.startsWith("CONNECTED ") && lost.startsWith("REFUSED "), qPrintable(saidA + " | " + saidB));
            const QString refusal("Another running copy of the client (process %1) has an OpenVPN connection open");
            QVERIFY2(lost.contains(refusal.arg(winner).toUtf8()), lost.constData());
            const qint64 openVpn = won.mid(10).toLongLong();
            QCOMPARE(RoadRig::processesHere("--management-query-passwords"), QList<qint64> { openVpn });
            // "<OpenVPN pid> <start> <client pid> <start>"
            const QList<QByteArray> record = readBytes(QOpenVPN2::pidFilePath()).trimmed().split(' ');
            QCOMPARE(record.value(0).toLongLong(), openVpn);
            QCOMPARE(record.value(2).toLongLong(), winner);

            a.kill();
            b.kill();
            QVERIFY(TestSupport::processAlive(openVpn));
            OtherClient restarted(config);
            QCOMPARE(restarted.nextLine(), QByteArray("READY 1"));
            QVERIFY2(!TestSupport::processAlive(openVpn), qPrintable(QString("round %1").arg(round)));
            QVERIFY(!QFile::exists(QOpenVPN2::pidFilePath()));
            restarted.tell("end");
        }
    }

    // The model starts while another client's session runs (its resolver
    // file written, its kill switch on): it resets neither, offers no lifting
    // of that kill switch and leaves it on when it quits. Once that client
    // has died, the next start puts the user's resolver file back.
    void aClientStartingBesideAnotherOnesSessionLeavesItAsItIs()
    {
        const QString config = clientConfig();
        const auto sweep = qScopeGuard(killOtherClientsOpenVpn);
        OtherClient first(config);
        QCOMPARE(first.nextLine(), QByteArray("READY 1"));
        first.tell("go");
        const QByteArray said = first.nextLine();
        QVERIFY2(said.startsWith("CONNECTED "), said.constData());
        // What the first client's reaction to Connected does.
        SystemHelper& system = SystemHelper::instance();
        system.assignDnsToInterfaces(false, {}, {}, Constants::DNSFiltering_secureDNS);
        QVERIFY(system.removeDefaultRoute("127.0.0.1"));
        const QByteArray resolver = readBytes("/etc/resolv.conf");
        QVERIFY(resolver.contains("nameserver " + Deployment::value("dns/secureResolver").toLatin1()));

        m_rig.stopModel();
        OSTREL_RIG_STEP(startModel());
        QCOMPARE(readBytes("/etc/resolv.conf"), resolver);
        m_model->optionGatewayRemoval()->setValue(true);
        QVERIFY(QMetaObject::invokeMethod(m_model, "updateDependedOptions"));
        QVERIFY(!m_model->isRestoreGwAvailable());
        // Its connect is refused, and the first client's server stays the
        // one the kill switch lets through.
        const QStringList allowed = NsTools::chainRules("ostrelallowedip");
        QVERIFY(allowed.join(' ').contains("127.0.0.1"));
        Location::Ptr elsewhere = RoadRig::loopbackLocation("elsewhere");
        elsewhere->setHost("127.0.0.2");
        const QByteArray firstConfig = readBytes(config);
        m_model->setSelectedLocation(elsewhere);
        m_model->vpnConnectDisconnect();
        QVERIFY(!worker()->waitWorkCompleted(60));
        QCOMPARE(m_model->connectionState(), Constants::ConnectState_Disconnected);
        QCOMPARE(NsTools::chainRules("ostrelallowedip"), allowed);
        // The press wrote its own configuration; the next client takes the
        // first one again.
        QVERIFY(TestSupport::writeBytes(config, firstConfig));
        QVERIFY(QMetaObject::invokeMethod(m_model, "aboutToQuit"));
        QVERIFY(system.isDefaultRouteRemoved(false));
        QCOMPARE(readBytes("/etc/resolv.conf"), resolver);

        first.kill();
        m_rig.stopModel();
        OSTREL_RIG_STEP(startModel());
        QCOMPARE(readBytes("/etc/resolv.conf"), kUsersResolver);
        QVERIFY(RoadRig::processesHere("--management-query-passwords").isEmpty());
        QVERIFY(system.restoreDefaultRoute(true));
    }

    // Two clients press Connect before either has a session (the session
    // lock held here makes that moment last): neither touches the kill
    // switch's server exception before it holds the lock, and the one that
    // loses leaves the winner's.
    void twoClientsPressingConnectTogetherLeaveTheWinnersServerException()
    {
        const auto sweep = qScopeGuard(killOtherClientsOpenVpn);
        SystemHelper& system = SystemHelper::instance();
        QVERIFY(system.removeDefaultRoute("127.0.0.9"));
        const auto lift = qScopeGuard([&system] { system.restoreDefaultRoute(true); });
        auto allowed = [] { return NsTools::chainRules("ostrelallowedip").join(' '); };
        OtherClient winner(kModelClientHostVariable, "127.0.0.1"), loser(kModelClientHostVariable, "127.0.0.2");
        QCOMPARE(winner.nextLine(), QByteArray("READY"));
        QCOMPARE(loser.nextLine(), QByteArray("READY"));
        SessionLock held;
        QVERIFY(held.acquire(10000));
        for (OtherClient* client : { &winner, &loser }) {
            client->tell("connect");
            QVERIFY(client->logSays("=========================CONNECT"));
        }
        QVERIFY2(!allowed().contains("127.0.0.1") && !allowed().contains("127.0.0.2"), qPrintable(allowed()));

        QVERIFY(loser.freeze());
        held.release();
        const QByteArray won = winner.nextLine();
        QVERIFY2(won == "CONNECTED", (won + "\n" + winner.logTail()).constData());
        loser.thaw();
        const QByteArray lost = loser.nextLine();
        QVERIFY2(lost.startsWith("REFUSED ") && lost.contains("has an OpenVPN connection open"), lost.constData());
        QVERIFY2(allowed().contains("127.0.0.1") && !allowed().contains("127.0.0.2"), qPrintable(allowed()));
    }

    // Another client runs, disconnected, its kill switch left on: this
    // client's quit leaves that kill switch on and does not offer to lift
    // it. The last client to quit lifts it.
    void aQuitBesideAnotherRunningClientLeavesItsKillSwitch()
    {
        SystemHelper& system = SystemHelper::instance();
        QVERIFY(RootOnlyDirectory::ensure());
        OtherClient first(clientConfig());
        QCOMPARE(first.nextLine(), QByteArray("READY 1"));
        QVERIFY(system.removeDefaultRoute("127.0.0.1"));
        m_model->optionGatewayRemoval()->setValue(true);
        m_model->setIsRestoreGwAvailable(true);
        QVERIFY(!m_model->isRestoreGwAvailable());
        QVERIFY(QMetaObject::invokeMethod(m_model, "aboutToQuit"));
        QVERIFY(system.isDefaultRouteRemoved(false));

        first.kill();
        m_model->setIsRestoreGwAvailable(true);
        QVERIFY(m_model->isRestoreGwAvailable());
        QVERIFY(QMetaObject::invokeMethod(m_model, "aboutToQuit"));
        QVERIFY(!system.isDefaultRouteRemoved(false));
        m_rig.stopModel();
        OSTREL_RIG_STEP(startModel());
    }

    // A client frozen and killed while its OpenVPN child is between fork and
    // exec leaves that child behind, stopped: it holds no session lock, and
    // the next connect goes ahead.
    void aChildLeftBeforeItsExecHoldsNoSessionLock()
    {
        OtherClient starter(clientConfig());
        QCOMPARE(starter.nextLine(), QByteArray("READY 1"));
        starter.tell("fork");
        const QByteArray said = starter.nextLine();
        QVERIFY2(said.startsWith("FORKED "), said.constData());
        const qint64 child = said.mid(7).toLongLong();
        const auto end = qScopeGuard([child] { ::kill(pid_t(child), SIGKILL); });
        QTRY_COMPARE_WITH_TIMEOUT(processState(child), 'T', 10000);
        starter.kill();
        QCOMPARE(processState(child), 'T');

        SessionLock lock;
        QVERIFY2(lock.acquire(2000), "the stopped child holds the session lock");
        lock.release();
        connectAndWait();
        disconnectAndWait();
    }

    // Another client holds the session lock while this one starts: the start
    // goes on (no "Can't initialize internal structures."), the look for a
    // left-over session waits for the lock in the background, and a wait for
    // the lock keeps this thread's events flowing.
    void aSessionLockAnotherClientHoldsHoldsUpNoStart()
    {
        const QString config = clientConfig();
        OtherClient holder(config);
        QCOMPARE(holder.nextLine(), QByteArray("READY 1"));
        holder.tell("hold");
        QCOMPARE(holder.nextLine(), QByteArray("HELD"));
        // A crashed session's resolver file, for the look to put back.
        const QByteArray left = "# this file is generated by ostrel client software\nnameserver 192.0.2.99\n";
        QVERIFY(TestSupport::writeBytes("/etc/resolv.conf.orig", kUsersResolver));
        QVERIFY(TestSupport::writeBytes("/etc/resolv.conf", left));

        m_rig.stopModel();
        LogCapture log;
        OSTREL_RIG_STEP(startModel());
        QVERIFY(log.contains(QString("process %1 holds the session lock").arg(holder.pid())));
        QCOMPARE(readBytes("/etc/resolv.conf"), left);
        holder.kill();
        QTRY_COMPARE_WITH_TIMEOUT(readBytes("/etc/resolv.conf"), kUsersResolver, 10000);

        OtherClient second(config);
        QCOMPARE(second.nextLine(), QByteArray("READY 1"));
        second.tell("hold");
        QCOMPARE(second.nextLine(), QByteArray("HELD"));
        QTimer::singleShot(200, [&second] { second.kill(); });
        SessionLock lock;
        QVERIFY2(lock.acquire(20000), "the wait for the lock handled no event");
        lock.release();
    }

    // The resolver script refuses the start-up reset (another change of the
    // resolver file holds its lock): the start goes on and the file is left
    // as it is.
    void aResolverResetRefusedByItsLockFailsNoStart()
    {
        const QByteArray left = "# this file is generated by ostrel client software\nnameserver 192.0.2.99\n";
        QVERIFY(TestSupport::writeBytes("/etc/resolv.conf.orig", kUsersResolver));
        QVERIFY(TestSupport::writeBytes("/etc/resolv.conf", left));
        QProcess other;
        QVERIFY(holdScriptLock(other, "/run/ostrel/resolver.lock"));
        const auto end = qScopeGuard([&other] {
            other.kill();
            other.waitForFinished(10000);
        });
        m_rig.stopModel();
        OSTREL_RIG_STEP(startModel());
        QCOMPARE(readBytes("/etc/resolv.conf"), left);

        other.kill();
        other.waitForFinished(10000);
        m_rig.stopModel();
        OSTREL_RIG_STEP(startModel());
        QCOMPARE(readBytes("/etc/resolv.conf"), kUsersResolver);
    }

    // "Disable killswitch" while another change holds the firewall lock: the
    // script refuses, the user is told why, and the action stays offered.
    void aRefusedDisableIsToldAndStaysOffered()
    {
        SystemHelper& system = SystemHelper::instance();
        QVERIFY(system.removeDefaultRoute("127.0.0.1"));
        QProcess other;
        QVERIFY(holdScriptLock(other, "/run/ostrel/firewall.lock"));
        QSignalSpy toasts(m_model, &Model::qmlShowToast);
        auto told = [&toasts] {
            QStringList details;
            for (const QList<QVariant>& t : toasts) {
                if (t.at(0).toString() == QLatin1String("The kill switch could not be turned off"))
                    details << t.at(1).toString();
            }
            return details;
        };
        m_model->restoreGw();
        QCOMPARE(told().size(), 1);
        QVERIFY2(told().first().contains("another change of the firewall is still running"),
                 qPrintable(told().first()));
        QVERIFY(system.isDefaultRouteRemoved(false));
        QVERIFY(m_model->isRestoreGwAvailable());

        other.kill();
        other.waitForFinished(10000);
        m_model->restoreGw();
        QCOMPARE(told().size(), 1);
        QVERIFY(!system.isDefaultRouteRemoved(false));
        QVERIFY(!m_model->isRestoreGwAvailable());
    }

    // Last: stops the model.
    void openVpnKilledDuringTheQuitStillLeavesTheUsersResolverFile()
    {
        connectAndWait();
        QVERIFY(
            readBytes("/etc/resolv.conf").contains("nameserver " + Deployment::value("dns/secureResolver").toLatin1()));
        const qint64 pid = clientPid();
        // Frozen, it ignores the terminate of the quit; the kill that ends it
        // skips its down script.
        QVERIFY(::kill(pid_t(pid), SIGSTOP) == 0);
        std::thread killer([pid] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            ::kill(pid_t(pid), SIGKILL);
        });
        m_model->stop();
        killer.join();
        QVERIFY(worker()->isFinished());
        QVERIFY(!TestSupport::processAlive(pid));
        QCOMPARE(readBytes("/etc/resolv.conf"), kUsersResolver);
        QVERIFY(!QFile::exists(QOpenVPN2::pidFilePath()));
    }
};

// A dozen connects through the system's scripts: slow on a busy machine.
static void allowSlowConnects()
{
    if (qEnvironmentVariableIsEmpty("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", "1500000");
}

OSTREL_TEST_MAIN(TestEngineRoad,
                 TestMain(TestMain::PrivateNamespaces)
                     .prepare(allowSlowConnects)
                     .helperRole(
                         [] {
                             return qEnvironmentVariableIsSet(kClientConfigVariable)
                                 || qEnvironmentVariableIsSet(kModelClientHostVariable);
                         },
                         runOtherClient))

#include "tst_engineroad.moc"
