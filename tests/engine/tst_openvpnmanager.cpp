// Management-interface client against a scripted peer on a Unix socket: the
// peer plays OpenVPN's side line by line, including lines a real server does
// not easily produce.
#include "testsupport.h"

#include "openvpnmanager.h"
#include "qopenvpn2custom.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QMutex>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

// OpenVPN's side of the management link.
class ScriptedPeer
{
public:
    ScriptedPeer() { m_server.listen(m_dir.filePath("management.sock")); }
    QString path() const { return m_server.fullServerName(); }

    bool waitForClient()
    {
        // The client's connect is queued: keep its thread's events flowing.
        QDeadlineTimer deadline(5000);
        while (!m_client && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (m_server.hasPendingConnections() || m_server.waitForNewConnection(5))
                m_client = m_server.nextPendingConnection();
        }
        return m_client != nullptr;
    }
    void send(const QByteArray& lines)
    {
        m_client->write(lines);
        m_client->flush();
    }
    // Everything the manager has sent so far (bounded wait for `expected`).
    QByteArray received(const QByteArray& expected = {})
    {
        QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            m_client->waitForReadyRead(5);
            m_received += m_client->readAll();
            if (expected.isEmpty() || m_received.contains(expected))
                break;
        }
        return m_received;
    }
    // Waits briefly and returns what arrived meanwhile.
    QByteArray drain(int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            m_client->waitForReadyRead(5);
        }
        m_received += m_client->readAll();
        return m_received;
    }
    void clearReceived() { m_received.clear(); }
    void closeClient() { m_client->disconnectFromServer(); }

private:
    QTemporaryDir m_dir;
    QLocalServer m_server;
    QLocalSocket* m_client = nullptr;
    QByteArray m_received;
};

} // namespace

class TestOpenVpnManager : public QObject
{
    Q_OBJECT

private:
    // Manager linked to `peer` with the four start commands already read.
    bool link(OpenVpnManager& manager, ScriptedPeer& peer)
    {
        manager.setExpectedPeer(QCoreApplication::applicationPid());
        manager.startFullManagement(peer.path());
        if (!peer.waitForClient())
            return false;
        peer.received("state\n");
        peer.clearReceived();
        QDeadlineTimer deadline(5000);
        while (manager.state() != openvpn_process && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return manager.state() == openvpn_process;
    }

private slots:
    void linkUpSendsExactlyTheFourCommands()
    {
        ScriptedPeer peer;
        OpenVpnManager manager;
        QSignalSpy managerStates(&manager, &OpenVpnManager::stateChanged);
        manager.setExpectedPeer(QCoreApplication::applicationPid());
        manager.startFullManagement(peer.path());
        QCOMPARE(managerStates.count() > 0 ? managerStates.at(0).at(0).value<OpenVpnManagerState>() : stopped_none,
                 taking_openvpn_process);
        QCOMPARE(manager.vpnProcessState(), none);
        QVERIFY(peer.waitForClient());
        QCOMPARE(peer.received("state\n"), QByteArray("log on\nstate on\npid\nstate\n"));
        QCOMPARE(peer.drain(100), QByteArray("log on\nstate on\npid\nstate\n"));
        QCOMPARE(manager.state(), openvpn_process);
        QCOMPARE(managerStates.count(), 2);
        QCOMPARE(managerStates.at(1).at(0).value<OpenVpnManagerState>(), openvpn_process);
    }

    void stateWords_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("expected");
        QTest::newRow("reconnecting is not connecting")
            << QByteArray(">STATE:1700000000,RECONNECTING,ping-restart,,,,,\r\n") << int(RECONNECTING);
        QTest::newRow("connecting") << QByteArray(">STATE:1700000000,CONNECTING,,,,,,\r\n") << int(CONNECTING);
        QTest::newRow("reply to state") << QByteArray("1700000000,WAIT,,,,,,\r\n") << int(WAIT);
        QTest::newRow("auth") << QByteArray(">STATE:1700000000,AUTH,,,,,,\r\n") << int(AUTH);
        QTest::newRow("get_config") << QByteArray(">STATE:1700000000,GET_CONFIG,,,,,,\r\n") << int(GET_CONFIG);
        QTest::newRow("assign_ip") << QByteArray(">STATE:1700000000,ASSIGN_IP,,10.8.0.2,,,,\r\n") << int(ASSIGN_IP);
        QTest::newRow("add_routes") << QByteArray(">STATE:1700000000,ADD_ROUTES,,,,,,\r\n") << int(ADD_ROUTES);
        QTest::newRow("connected") << QByteArray(">STATE:1700000000,CONNECTED,SUCCESS,10.8.0.2,127.0.0.1,1194,,\r\n")
                                   << int(CONNECTED);
        QTest::newRow("exiting") << QByteArray(">STATE:1700000000,EXITING,SIGTERM,,,,,\r\n") << int(EXITING);
        QTest::newRow("tcp connect") << QByteArray(">STATE:1700000000,TCP_CONNECT,,,,,,\r\n") << int(CONNECTING);
        QTest::newRow("lower case in a log line")
            << QByteArray(">LOG:1700000000,,peer connected, all good\r\n") << int(CONNECTED);
        QTest::newRow("unknown word") << QByteArray(">STATE:1700000000,RESOLVE,,,,,,\r\n") << int(UNKNOWN_STATE);
        QTest::newRow("no state word") << QByteArray(">LOG:1700000000,I,Initialization Sequence Completed\r\n")
                                       << int(none);
    }
    void stateWords()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, expected);
        ScriptedPeer peer;
        OpenVpnManager manager;
        QVERIFY(link(manager, peer));
        QSignalSpy outputs(&manager, &OpenVpnManager::output);
        QSignalSpy processStates(&manager, &OpenVpnManager::vpnProcessStateChanged);
        LogCapture log;
        // A marker line after the line under test tells when it was handled.
        peer.send(line + ">INFO:marker\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(!outputs.isEmpty() && outputs.last().at(0).toString().contains("marker"), 5000);
        QCOMPARE(int(manager.vpnProcessState()), expected);
        QCOMPARE(processStates.count(), expected == int(none) ? 0 : 1);
        // Lines without a state word go out through output(), the others do not.
        QCOMPARE(outputs.count(), expected == int(none) ? 2 : 1);
        QCOMPARE(LogCapture::contains("unknown state"), expected == int(UNKNOWN_STATE));
        QCOMPARE(manager.state(), openvpn_process);
    }

    void credentialsAreQuotedForTheManagementParser_data()
    {
        QTest::addColumn<QString>("username");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QByteArray>("usernameCommand");
        QTest::addColumn<QByteArray>("passwordCommand");
        QTest::newRow("plain") << "alice"
                               << "secret" << QByteArray("username \"Auth\" \"alice\"\n")
                               << QByteArray("password \"Auth\" \"secret\"\n");
        QTest::newRow("backslash doubled") << "dom\\alice"
                                           << "a\\b" << QByteArray("username \"Auth\" \"dom\\\\alice\"\n")
                                           << QByteArray("password \"Auth\" \"a\\\\b\"\n");
        QTest::newRow("double quote escaped") << "al\"ice"
                                              << "p\"w\" x" << QByteArray("username \"Auth\" \"al\\\"ice\"\n")
                                              << QByteArray("password \"Auth\" \"p\\\"w\\\" x\"\n");
        QTest::newRow("blanks, quote and comment signs kept")
            << "a b"
            << "#it's; \t" << QByteArray("username \"Auth\" \"a b\"\n")
            << QByteArray("password \"Auth\" \"#it's; \t\"\n");
    }
    void credentialsAreQuotedForTheManagementParser()
    {
        QFETCH(QString, username);
        QFETCH(QString, password);
        QFETCH(QByteArray, usernameCommand);
        QFETCH(QByteArray, passwordCommand);
        ScriptedPeer peer;
        OpenVpnManager manager;
        manager.setUsername(username);
        manager.setPassword(password);
        QVERIFY(link(manager, peer));
        LogCapture log;

        peer.send(">PASSWORD:Need 'Auth' username/password\r\n");
        QCOMPARE(peer.received("\n"), usernameCommand);
        // The password goes only after OpenVPN confirmed the user name.
        QCOMPARE(peer.drain(100), usernameCommand);
        peer.clearReceived();
        peer.send("SUCCESS: 'Auth' username entered, but not yet verified\r\n");
        QCOMPARE(peer.received("\n"), passwordCommand);
        peer.clearReceived();
        peer.send("SUCCESS: 'Auth' password entered, but not yet verified\r\n");
        QCOMPARE(peer.drain(100), QByteArray());

        QVERIFY(LogCapture::contains(">>>>>>> the password is passed"));
        for (const QString& line : LogCapture::lines())
            QVERIFY2(!line.contains(password) || password.trimmed().isEmpty(), qPrintable("password logged: " + line));
    }

    void credentialsWithLineBreaksOrNulAreRefused_data()
    {
        QTest::addColumn<QString>("username");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("failsAtUsername");
        QTest::newRow("LF in password") << "alice"
                                        << "x\nsignal SIGTERM" << false;
        QTest::newRow("CR in password") << "alice"
                                        << "x\rhold release" << false;
        QTest::newRow("NUL in password") << "alice" << QString("ab") + QChar(0) + "c" << false;
        QTest::newRow("LF in user name") << "alice\nsignal SIGTERM"
                                         << "secret" << true;
    }
    void credentialsWithLineBreaksOrNulAreRefused()
    {
        QFETCH(QString, username);
        QFETCH(QString, password);
        QFETCH(bool, failsAtUsername);
        ScriptedPeer peer;
        OpenVpnManager manager;
        manager.setUsername(username);
        manager.setPassword(password);
        QVERIFY(link(manager, peer));
        QSignalSpy rejected(&manager, &OpenVpnManager::credentialRejected);

        peer.send(">PASSWORD:Need 'Auth' username/password\r\n");
        if (!failsAtUsername) {
            QVERIFY(peer.received("\n").startsWith("username"));
            peer.clearReceived();
            peer.send("SUCCESS: 'Auth' username entered, but not yet verified\r\n");
        }
        QTRY_COMPARE_WITH_TIMEOUT(rejected.count(), 1, 5000);
        // Nothing of the value was sent, and the link is closed.
        QTRY_VERIFY_WITH_TIMEOUT(openVpnManagerState_isStopped(manager.state()), 5000);
        QCOMPARE(peer.drain(50), QByteArray());
    }

    void verificationFailureAndAdapterErrorsAreSignalled_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("authFailures");
        QTest::addColumn<QString>("adapterText");
        QTest::newRow("verification failed")
            << QByteArray(">PASSWORD:Verification Failed: 'Auth'\r\n") << 1 << QString();
        QTest::newRow("no adapters") << QByteArray(
            ">LOG:1700000000,F,FATAL:There are no TAP-Windows adapters on this system.\r\n")
                                     << 0
                                     << QString("Connect error: There are no TAP-Windows adapters on this system.");
        QTest::newRow("adapters in use")
            << QByteArray("Fatal: All TAP-Windows adapters on this system are currently in use.\r\n") << 0
            << QString("Connect error:  All TAP-Windows adapters on this system are currently in use.");
        QTest::newRow("in use without FATAL is ignored")
            << QByteArray(">LOG:1,W,adapters on this system are currently in use\r\n") << 0 << QString();
    }
    void verificationFailureAndAdapterErrorsAreSignalled()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, authFailures);
        QFETCH(QString, adapterText);
        ScriptedPeer peer;
        OpenVpnManager manager;
        QVERIFY(link(manager, peer));
        QSignalSpy auth(&manager, &OpenVpnManager::authVerificationFailed);
        QSignalSpy adapters(&manager, &OpenVpnManager::noTAPWindowsAdapters);
        QSignalSpy outputs(&manager, &OpenVpnManager::output);
        peer.send(line + ">INFO:marker\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(!outputs.isEmpty() && outputs.last().at(0).toString().contains("marker"), 5000);
        QCOMPARE(auth.count(), authFailures);
        QCOMPARE(adapters.count(), adapterText.isEmpty() ? 0 : 1);
        if (!adapterText.isEmpty())
            QCOMPARE(adapters.first().at(0).toString().trimmed(), adapterText.trimmed());
        // The link itself stays up; OpenVPN decides what happens next.
        QCOMPARE(manager.state(), openvpn_process);
    }

    void usernameCommandErrorResendsOnlyBareNames_data()
    {
        QTest::addColumn<QString>("username");
        QTest::addColumn<QByteArray>("resent");
        QTest::newRow("bare name is resent unquoted") << "alice" << QByteArray("username \"Auth\" alice\n");
        QTest::newRow("empty name closes the link") << "" << QByteArray();
        QTest::newRow("name with a blank is not resent") << "al ice" << QByteArray();
        QTest::newRow("name with a quote is not resent") << "al\"ice" << QByteArray();
    }
    void usernameCommandErrorResendsOnlyBareNames()
    {
        QFETCH(QString, username);
        QFETCH(QByteArray, resent);
        ScriptedPeer peer;
        OpenVpnManager manager;
        manager.setUsername(username);
        QVERIFY(link(manager, peer));
        peer.send("ERROR: the 'username' command requires 2 parameters\r\n");
        if (resent.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(openVpnManagerState_isStopped(manager.state()), 5000);
            QCOMPARE(peer.drain(50), QByteArray());
        } else {
            QCOMPARE(peer.received("\n"), resent);
            QCOMPARE(manager.state(), openvpn_process);
        }
    }

    void statisticsBlockIsOnlyLogged()
    {
        ScriptedPeer peer;
        OpenVpnManager manager;
        QVERIFY(link(manager, peer));
        QSignalSpy outputs(&manager, &OpenVpnManager::output);
        LogCapture log;
        // Inside the block even a state word and a prompt are just logged.
        peer.send("OpenVPN STATISTICS\r\nUpdated,CONNECTED,now\r\n>PASSWORD:Need 'Auth' username/password\r\n"
                  "END\r\n>STATE:1,WAIT,,,,,,\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(manager.vpnProcessState(), WAIT, 5000);
        QVERIFY(LogCapture::contains("Updated,CONNECTED,now"));
        QCOMPARE(outputs.count(), 1); // the heading line only
        QCOMPARE(peer.drain(50), QByteArray());
    }

    void lineSplitAcrossWritesIsReadWhole()
    {
        ScriptedPeer peer;
        OpenVpnManager manager;
        QVERIFY(link(manager, peer));
        peer.send(">STATE:1700000000,RECONN");
        peer.drain(50);
        peer.send("ECTING,ping-restart,,,,,\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(manager.vpnProcessState(), RECONNECTING, 5000);
    }

    void socketEndsMapToManagerStates_data()
    {
        QTest::addColumn<QByteArray>("lastState");
        QTest::addColumn<bool>("passesWithError");
        QTest::newRow("close while exiting") << QByteArray(">STATE:1,EXITING,SIGTERM,,,,,\r\n") << false;
        QTest::newRow("close while connected") << QByteArray(">STATE:1,CONNECTED,SUCCESS,,,,,\r\n") << true;
    }
    void socketEndsMapToManagerStates()
    {
        QFETCH(QByteArray, lastState);
        QFETCH(bool, passesWithError);
        ScriptedPeer peer;
        OpenVpnManager manager;
        QVERIFY(link(manager, peer));
        QSignalSpy states(&manager, &OpenVpnManager::stateChanged);
        QSignalSpy closed(&manager, &OpenVpnManager::errorRemoteHostClosed);
        peer.send(lastState);
        QTRY_VERIFY_WITH_TIMEOUT(manager.vpnProcessState() != none, 5000);
        peer.closeClient();
        QTRY_COMPARE_WITH_TIMEOUT(manager.state(), stopped_done, 5000);
        QCOMPARE(closed.count(), 1);
        bool sawError = false;
        for (const QList<QVariant>& s : qAsConst(states))
            sawError |= s.at(0).value<OpenVpnManagerState>() == stopped_with_error;
        QCOMPARE(sawError, passesWithError);
        // The last reported OpenVPN state survives the end of the link.
        QVERIFY(manager.vpnProcessState() == EXITING || manager.vpnProcessState() == CONNECTED);
    }

    void nothingListeningGivesCantConnect()
    {
        QTemporaryDir dir;
        OpenVpnManager manager;
        manager.setExpectedPeer(QCoreApplication::applicationPid());
        manager.startFullManagement(dir.filePath("nobody-listens.sock"));
        QTRY_COMPARE_WITH_TIMEOUT(manager.state(), stopped_cant_connect, 5000);
    }

    // Whoever holds the socket, unless it is the process the engine
    // started, gets neither a command nor a credential.
    void aPeerThatIsNotTheExpectedProcessReceivesNothing()
    {
        ScriptedPeer peer;
        OpenVpnManager manager;
        manager.setUsername("alice");
        manager.setPassword("secret");
        manager.setManagementPassword("management-secret");
        QSignalSpy rejected(&manager, &OpenVpnManager::peerRejected);
        // Some other process (here: this one's parent) is the one expected.
        manager.setExpectedPeer(qint64(::getppid()));
        manager.startFullManagement(peer.path());
        QVERIFY(peer.waitForClient());
        peer.send("ENTER PASSWORD:");
        peer.send(">PASSWORD:Need 'Auth' username/password\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(rejected.count(), 1, 5000);
        QVERIFY2(rejected.first().first().toString().contains(QString::number(QCoreApplication::applicationPid())),
                 qPrintable(rejected.first().first().toString()));
        QTRY_COMPARE_WITH_TIMEOUT(manager.state(), stopped_with_error, 5000);
        QCOMPARE(peer.drain(200), QByteArray());
    }

    void connectionStateFollowsBothManagerStates_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<int>("expected");
        QTest::newRow("link up, no state word yet") << QByteArray() << int(Constants::ConnectState_Connecting);
        QTest::newRow("wait") << QByteArray(">STATE:1,WAIT,,,,,,\r\n") << int(Constants::ConnectState_Connecting);
        QTest::newRow("reconnecting") << QByteArray(
            ">STATE:1,CONNECTED,SUCCESS,,,,,\r\n>STATE:2,RECONNECTING,x,,,,,\r\n")
                                      << int(Constants::ConnectState_Connecting);
        QTest::newRow("connected") << QByteArray(">STATE:1,CONNECTED,SUCCESS,,,,,\r\n")
                                   << int(Constants::ConnectState_Connected);
        // Nobody asked for this exit: Connected until the link or the
        // process ends, then Disconnected with the error flag.
        QTest::newRow("exiting unasked") << QByteArray(
            ">STATE:1,CONNECTED,SUCCESS,,,,,\r\n>STATE:2,EXITING,SIGTERM,,,,,\r\n")
                                         << int(Constants::ConnectState_Connected);
        QTest::newRow("unknown word") << QByteArray(">STATE:1,CONNECTED,SUCCESS,,,,,\r\n>STATE:2,RESOLVE,,,,,,\r\n")
                                      << int(Constants::ConnectState_Disconnected);
        // Once Disconnected, OpenVPN's late exit line does not reopen it.
        QTest::newRow("late exiting") << QByteArray(">STATE:1,RESOLVE,,,,,,\r\n>STATE:2,EXITING,SIGTERM,,,,,\r\n")
                                      << int(Constants::ConnectState_Disconnected);
    }
    void connectionStateFollowsBothManagerStates()
    {
        QFETCH(QByteArray, lines);
        QFETCH(int, expected);
        ScriptedPeer peer;
        QOpenVPN2Custom engine;
        QVERIFY(link(*engine.openVpnManager(), peer));
        QCOMPARE(engine.connectState(), Constants::ConnectState_Connecting);
        QSignalSpy outputs(engine.openVpnManager(), &OpenVpnManager::output);
        peer.send(lines + ">INFO:marker\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(!outputs.isEmpty() && outputs.last().at(0).toString().contains("marker"), 5000);
        QCOMPARE(int(engine.connectState()), expected);
        // The link closing always ends Disconnected; with the error flag
        // when it cut a connection short.
        peer.closeClient();
        QTRY_COMPARE_WITH_TIMEOUT(engine.connectState(), Constants::ConnectState_Disconnected, 5000);
        QCOMPARE(engine.withError(), expected == int(Constants::ConnectState_Connected));
    }

    void setStatesEmitsOnlyWhatChanged()
    {
        OpenVpnManager manager;
        manager.setStates(openvpn_process, WAIT);
        QSignalSpy managerStates(&manager, &OpenVpnManager::stateChanged);
        QSignalSpy processStates(&manager, &OpenVpnManager::vpnProcessStateChanged);
        OpenVpnProcessState seenProcessState = none;
        connect(&manager, &OpenVpnManager::stateChanged, this, [&] { seenProcessState = manager.vpnProcessState(); });
        manager.setStates(openvpn_process, WAIT);
        QCOMPARE(managerStates.count() + processStates.count(), 0);
        manager.setStates(openvpn_process, AUTH);
        QCOMPARE(managerStates.count(), 0);
        QCOMPARE(processStates.count(), 1);
        // A receiver of the first signal already sees the second value.
        manager.setStates(stopped_done, CONNECTED);
        QCOMPARE(managerStates.count(), 1);
        QCOMPARE(seenProcessState, CONNECTED);
    }

    void helpers()
    {
        QCOMPARE(friendlyStr("Options error: FATAL: bad thing"), QString(" bad thing"));
        QCOMPARE(friendlyStr("no trouble"), QString("no trouble"));
        QCOMPARE(socketStateToString(QAbstractSocket::ClosingState), QString("Closing"));
        QCOMPARE(socketStateToString(QAbstractSocket::SocketState(7)), QString("[unknown socket state]"));
        QVERIFY(openVpnManagerIsOpenVpnRequestAuth("x NEED PASSWORD(S) FROM MANAGEMENT INTERFACE, WAITING... y"));
        QStringList args { "--config", "c" };
        openVpnManagerAddManagmentParams(args, ExternalToolsCustom::managementSocket());
        QCOMPARE(args,
                 QStringList({ "--config", "c", "--management", "/run/ostrel/openvpn-management.sock", "unix",
                               "--management-query-passwords" }));
        QVERIFY(!credentialNeedsQuoting("alice.b-1@x"));
        QVERIFY(credentialNeedsQuoting("#alice"));
        QVERIFY(credentialNeedsQuoting("it's"));
    }
};

OSTREL_TEST_MAIN(TestOpenVpnManager,
                 TestMain::Core | TestMain::PrivateNamespaces | TestMain::LoopbackUp | TestMain::PrivateResolverFile)
#include "tst_openvpnmanager.moc"
