// The connection's state and choices, the connect request record and the
// scope guard that sets a state on every way out.
#include "testsupport.h"

#include "connect_state_object.h"

#include <QSignalSpy>
#include <QThread>

namespace {
// Exposes the protected setter, as the engine objects use it.
class StateObject : public ConnectStateObject
{
public:
    using ConnectStateObject::setState;
};

class RecordingConnection : public PlatformConnectionCustom
{
public:
    int calls = 0;
    QString seenServer;

protected:
    void doConnect() override
    {
        ++calls;
        seenServer = connectionParams()->serverIP;
    }
};

bool leaveEarly(StateObject* obj, bool early)
{
    SetStateOnExit onExit(obj, Constants::ConnectState_Disconnected);
    if (early)
        return false;
    obj->setState(Constants::ConnectState_Connecting);
    return true;
}
} // namespace

class TestConnectStateObject : public QObject
{
    Q_OBJECT

private slots:
    void freshObject()
    {
        StateObject obj;
        QCOMPARE(obj.connectState(), Constants::ConnectState_Disconnected);
        QVERIFY(!obj.withError());
        QVERIFY(obj.isDisconnectedState());
        QVERIFY(!obj.dnsFiltering().isNull());
        QCOMPARE(obj.dnsFiltering()->dnsFiltering(), Constants::DNSFiltering_disabled);
        QVERIFY(obj.protocol().isNull() && obj.port().isNull() && obj.location().isNull()
                && obj.proxyLocation().isNull());
        QVERIFY(!obj.protocolRaw() && !obj.portRaw() && !obj.locationRaw());
    }

    void stateChangesCarryOldAndNewAndTheErrorFlag()
    {
        StateObject obj;
        QSignalSpy spy(&obj, &ConnectStateObject::stateChanged);
        obj.setState(Constants::ConnectState_Connected);
        obj.setState(Constants::ConnectState_Disconnected, true);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).value<Constants::ConnectState>(), Constants::ConnectState_Connected);
        QCOMPARE(spy.at(1).at(1).value<Constants::ConnectState>(), Constants::ConnectState_Disconnected);
        // The flag travels with its change, read as one with the state.
        QCOMPARE(spy.at(0).at(2).toBool(), false);
        QCOMPARE(spy.at(1).at(2).toBool(), true);
        QVERIFY(obj.withError());
        QVERIFY(obj.stateSnapshot().withError && obj.stateSnapshot().state == Constants::ConnectState_Disconnected);
        // The same state again: nothing emitted, the flag kept.
        obj.setState(Constants::ConnectState_Disconnected, false);
        QCOMPARE(spy.count(), 2);
        QVERIFY(obj.withError());
        // A change without error clears it.
        obj.setState(Constants::ConnectState_Connecting);
        QVERIFY(!obj.withError());
        QVERIFY(obj.isConnectingState());
    }

    void settersEmitOnlyOnChange()
    {
        StateObject obj;
        QSignalSpy protocols(&obj, &ConnectStateObject::protocolChanged);
        QSignalSpy locations(&obj, &ConnectStateObject::locationChanged);
        QSignalSpy filterings(&obj, &ConnectStateObject::dnsFilteringChanged);
        QSignalSpy gateway(&obj, &ConnectStateObject::optionGatewayRemovalChanged);
        Protocol::Ptr protocol(new Protocol(Constants::ProtocolType_OPENVPN256));
        obj.setProtocol(protocol);
        obj.setProtocol(protocol);
        QCOMPARE(protocols.count(), 1);
        QCOMPARE(obj.protocolRaw(), protocol.data());
        // Another object with equal contents is a change.
        obj.setProtocol(Protocol::Ptr(new Protocol(Constants::ProtocolType_OPENVPN256)));
        QCOMPARE(protocols.count(), 2);
        Location::Ptr location(new Location("nl"));
        obj.setLocation(location);
        obj.setLocation(location);
        obj.setLocation(Location::Ptr());
        QCOMPARE(locations.count(), 2);
        obj.setDnsFiltering(obj.dnsFiltering());
        QCOMPARE(filterings.count(), 0);
        obj.setOptionGatewayRemoval(true);
        obj.setOptionGatewayRemoval(true);
        QCOMPARE(gateway.count(), 1);
        QCOMPARE(gateway.first().first().toBool(), true);
        obj.setConnectionHost("10.0.0.1");
        obj.setConnectionHost("10.0.0.1");
        QCOMPARE(obj.connectionHost(), QString("10.0.0.1"));
    }

    void errorWithNewStateSetsStateBeforeTheError()
    {
        StateObject obj;
        obj.setState(Constants::ConnectState_Connecting);
        Constants::ConnectState stateAtError = Constants::ConnectState_NoValue;
        connect(&obj, &ConnectStateObject::error, this, [&] { stateAtError = obj.connectState(); });
        QSignalSpy errors(&obj, &ConnectStateObject::error);
        obj.errorWithNewState("broken", Constants::ConnectState_Disconnected);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.first().first().toString(), QString("broken"));
        QCOMPARE(stateAtError, Constants::ConnectState_Disconnected);
        QVERIFY(!obj.withError());
    }

    void waitForState()
    {
        StateObject obj;
        QCOMPARE(obj.waitForState(QThread::currentThread(), Constants::ConnectState_Disconnected, 0), false);
        QCOMPARE(obj.waitForState(QThread::currentThread(), Constants::ConnectState_Connected, 0), true);
        // The state arriving through this thread's events ends the wait.
        QTimer::singleShot(50, &obj, [&obj] { obj.setState(Constants::ConnectState_Connected); });
        QCOMPARE(obj.waitForState(QThread::currentThread(), Constants::ConnectState_Connected, 10), false);
        QCOMPARE(obj.connectState(), Constants::ConnectState_Connected);
    }

    void setStateOnExitCoversEveryWayOut()
    {
        StateObject obj;
        obj.setState(Constants::ConnectState_Connected);
        QVERIFY(!leaveEarly(&obj, true));
        QCOMPARE(obj.connectState(), Constants::ConnectState_Disconnected);
        QVERIFY(leaveEarly(&obj, false));
        QCOMPARE(obj.connectState(), Constants::ConnectState_Disconnected);
        obj.setState(Constants::ConnectState_Connected, true);
        try {
            SetStateOnExit onExit(&obj, Constants::ConnectState_Disconnecting);
            throw 1;
        } catch (int) {
        }
        QCOMPARE(obj.connectState(), Constants::ConnectState_Disconnecting);
        QVERIFY(!obj.withError());
    }

    void connectRequestLogNeverShowsThePassword()
    {
        OpenVpnConnectParams p;
        p.protocol = Constants::ProtocolType_OPENVPN_ECC;
        p.serverIP = "192.0.2.7";
        p.username = "alice";
        p.password = "TopSecret-42";
        p.ovpnFile = "config.ovpn";
        p.configPath = "/tmp/x";
        p.dnsScripts = true;
        LogCapture log;
        p.logInfo("connect");
        const QStringList lines = LogCapture::lines();
        QCOMPARE(lines.size(), 9);
        QCOMPARE(lines.first(), QString("============== OpenVpnConnectParams = connect ================="));
        QCOMPARE(lines.at(1), "protocol: " + Constants::protocolTypeToStr(Constants::ProtocolType_OPENVPN_ECC));
        QCOMPARE(lines.at(3), QString("username: alice"));
        QCOMPARE(lines.at(8), QString("dnsScripts: true"));
        for (const QString& l : lines)
            QVERIFY(!l.contains("TopSecret"));
    }

    void platformConnectionStoresTheRequestBeforeConnecting()
    {
        RecordingConnection c;
        OpenVpnConnectParams p;
        p.serverIP = "192.0.2.9";
        c.connect(p);
        QCOMPARE(c.calls, 1);
        QCOMPARE(c.seenServer, QString("192.0.2.9"));
        QCOMPARE(c.connectionParams()->serverIP, QString("192.0.2.9"));
    }
};

OSTREL_TEST_MAIN(TestConnectStateObject, TestMain::Core)
#include "tst_connectstateobject.moc"
