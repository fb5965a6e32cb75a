// The engine under the user's timing, through a real Model and its worker
// against the loopback OpenVPN server: a Disconnect at any moment of a
// connect, the message after an unasked end, and the resolver file after a
// quit whose OpenVPN was killed. As root the test runs in network and mount
// namespaces of its own with a private layer over /etc; otherwise it skips.
#include "testsupport.h"

#include "deployment.h"
#include "nstools.h"
#include "resources.h"
#include "roadrig.h"
#include "settings.h"
#include "systemhelper.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>

namespace {

const quint16 kPort = 11971;
const QString kUser = QStringLiteral("sweep-user");
const QString kPassword = QStringLiteral("sw33p \"pass\"");
const QByteArray kUsersResolver = "nameserver 192.0.2.54\n";

using TestSupport::readBytes;

// Tunnel devices in this network namespace.
QStringList tunDevices()
{
    return QDir("/sys/class/net").entryList({"tun*"}, QDir::Dirs | QDir::System | QDir::NoDotAndDotDot);
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

private slots:
    void initTestCase()
    {
        initResources();
        if (!NsTools::inPrivateNamespaces())
            QSKIP("needs root: the tunnel and the resolver file live in namespaces of the test's own");
        OSTREL_RIG_STEP(m_rig.enterPrivateEtc());
        OSTREL_RIG_STEP(m_rig.setUsersResolver(kUsersResolver));
        OSTREL_RIG_STEP(m_rig.startServer("udp", kPort, kUser, kPassword));
        OSTREL_RIG_STEP(m_rig.startModel());
        m_model = m_rig.model();
        m_rig.logOn(kUser, kPassword, "UDP-" + QString::number(kPort),
                    DNSFiltering::Ptr(new DNSFiltering("s", Constants::DNSFiltering_secureDNS)));
        m_model->setSelectedLocation(RoadRig::loopbackLocation("sweep1"));
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
        for (int ms : {0, 5, 10, 20, 50, 100, 200, 300})
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
        QVERIFY2(statesOf(states).contains(Constants::ConnectState_Connected), qPrintable(statesText(statesOf(states))));
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
        QVERIFY(RoadRig::alive(pid));
        ::kill(pid_t(pid), SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(m_model->connectionState(), Constants::ConnectState_Disconnected, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(disconnectedToasts(), 1, 10000);
        QVERIFY(!QFile::exists(QOpenVPN2::pidFilePath()));
        // Its session's resolver file was put back although no down script ran.
        QTRY_COMPARE_WITH_TIMEOUT(readBytes("/etc/resolv.conf"), kUsersResolver, 10000);
    }

    // Last: stops the model.
    void openVpnKilledDuringTheQuitStillLeavesTheUsersResolverFile()
    {
        connectAndWait();
        QVERIFY(readBytes("/etc/resolv.conf").contains("nameserver " + Deployment::value("dns/secureResolver").toLatin1()));
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
        QVERIFY(!RoadRig::alive(pid));
        QCOMPARE(readBytes("/etc/resolv.conf"), kUsersResolver);
        QVERIFY(!QFile::exists(QOpenVPN2::pidFilePath()));
    }
};

#include "nstestmain.h"

// A dozen connects through the system's scripts: slow on a busy machine.
static void allowSlowConnects()
{
    if (qEnvironmentVariableIsEmpty("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", "1500000");
}

OSTREL_NAMESPACED_TEST_MAIN_WITH(QApplication, TestEngineRoad, allowSlowConnects, NsTools::noTestMainStep)

#include "tst_engineroad.moc"
