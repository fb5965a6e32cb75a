#pragma once

#include "model/constants.h"
#include "model/dnsfiltering.h"
#include "model/location.h"
#include "model/port.h"
#include "model/protocol.h"
#include "model/proxylocation.h"

#include <QObject>
#include <QString>

#include <atomic>

class QThread;

// The connection's state (with a with-error flag) and the user's connection
// choices. Base of every object of the connection engine.
class ConnectStateObject : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Constants::ConnectState connectState READ connectState NOTIFY stateChanged)
    Q_PROPERTY(QString connectionHost READ connectionHost WRITE setConnectionHost)
    Q_PROPERTY(bool optionDoNotChangeDNS READ optionDoNotChangeDNS WRITE setOptionDoNotChangeDNS NOTIFY
                   optionDoNotChangeDNSChanged)
    Q_PROPERTY(bool optionGatewayRemoval READ optionGatewayRemoval WRITE setOptionGatewayRemoval NOTIFY
                   optionGatewayRemovalChanged)
    Q_PROPERTY(bool optionDisableDNS READ optionDisableDNS WRITE setOptionDisableDNS NOTIFY optionDisableDNSChanged)
    Q_PROPERTY(Protocol::Ptr protocol READ protocol WRITE setProtocol NOTIFY protocolChanged)
    Q_PROPERTY(Protocol* protocolRaw READ protocolRaw NOTIFY protocolRawChanged)
    Q_PROPERTY(Port::Ptr port READ port WRITE setPort NOTIFY portChanged)
    Q_PROPERTY(Port* portRaw READ portRaw NOTIFY portRawChanged)
    Q_PROPERTY(Location::Ptr location READ location WRITE setLocation NOTIFY locationChanged)
    Q_PROPERTY(Location* locationRaw READ locationRaw NOTIFY locationRawChanged)
    Q_PROPERTY(ProxyLocation::Ptr proxyLocation READ proxyLocation WRITE setProxyLocation NOTIFY proxyLocationChanged)
    Q_PROPERTY(DNSFiltering::Ptr dnsFiltering READ dnsFiltering WRITE setDnsFiltering NOTIFY dnsFilteringChanged)

public:
    // The state together with the error flag of the change that led to it.
    struct StateSnapshot
    {
        Constants::ConnectState state = Constants::ConnectState_Disconnected;
        bool withError = false;
    };

    explicit ConnectStateObject(QObject* parent = nullptr);

    // Written by the engine's own thread, read from any thread: the state
    // and its flag are always read as one.
    StateSnapshot stateSnapshot() const { return m_state.load(); }
    Constants::ConnectState connectState() const { return stateSnapshot().state; }
    bool withError() const { return stateSnapshot().withError; }
    QString connectionHost() const { return m_connectionHost; }
    bool optionDoNotChangeDNS() const { return m_optionDoNotChangeDNS; }
    bool optionGatewayRemoval() const { return m_optionGatewayRemoval; }
    bool optionDisableDNS() const { return m_optionDisableDNS; }
    Protocol::Ptr protocol() const { return m_protocol; }
    Protocol* protocolRaw() const { return m_protocol.data(); }
    Port::Ptr port() const { return m_port; }
    Port* portRaw() const { return m_port.data(); }
    Location::Ptr location() const { return m_location; }
    Location* locationRaw() const { return m_location.data(); }
    ProxyLocation::Ptr proxyLocation() const { return m_proxyLocation; }
    DNSFiltering::Ptr dnsFiltering() const { return m_dnsFiltering; }

    bool isDisconnectedState() const { return connectState() == Constants::ConnectState_Disconnected; }
    bool isConnectedState() const { return connectState() == Constants::ConnectState_Connected; }
    bool isConnectingState() const { return connectState() == Constants::ConnectState_Connecting; }
    bool isDisconnectingState() const { return connectState() == Constants::ConnectState_Disconnecting; }

    // Sets the state (without error), then emits error(text).
    void errorWithNewState(const QString& text, Constants::ConnectState newState);

    // Waits, pumping `thread`'s events when it is the calling thread, until
    // the state is `state` or `maxWaitSeconds` have passed. True when the
    // state did NOT come in time.
    bool waitForState(QThread* thread, Constants::ConnectState state, int maxWaitSeconds);

signals:
    // `withError` is the flag of this change: a receiver in another thread
    // may handle it after the state has moved on.
    void stateChanged(Constants::ConnectState oldState, Constants::ConnectState newState, bool withError);
    void optionDoNotChangeDNSChanged(bool optionDoNotChangeDNS);
    void optionGatewayRemovalChanged(bool optionGatewayRemoval);
    void protocolChanged(Protocol::Ptr protocol);
    void protocolRawChanged(Protocol* protocolRaw);
    void portChanged(Port::Ptr port);
    void portRawChanged(Port* portRaw);
    void locationChanged(Location::Ptr location);
    void locationRawChanged(Location* locationRaw);
    void optionDisableDNSChanged(bool optionDisableDNS);
    void error(QString str);
    void log(QString str);
    void proxyLocationChanged(ProxyLocation::Ptr proxyLocation);
    void dnsFilteringChanged(DNSFiltering::Ptr dnsFiltering);

public slots:
    void setConnectionHost(QString connectionHost);
    void setOptionDoNotChangeDNS(bool optionDoNotChangeDNS);
    void setOptionGatewayRemoval(bool optionGatewayRemoval);
    void setProtocol(Protocol::Ptr protocol);
    void setPort(Port::Ptr port);
    void setLocation(Location::Ptr location);
    void setOptionDisableDNS(bool optionDisableDNS);
    void setProxyLocation(ProxyLocation::Ptr proxyLocation);
    void setDnsFiltering(DNSFiltering::Ptr dnsFiltering);

protected slots:
    // Emits stateChanged(old, new, withError) and takes the error flag only
    // on a change.
    virtual void setState(Constants::ConnectState value, bool withError = false);

private:
    friend class SetStateOnExit;

    std::atomic<StateSnapshot> m_state { StateSnapshot() };
    QString m_connectionHost;
    bool m_optionDoNotChangeDNS = false;
    Protocol::Ptr m_protocol;
    Port::Ptr m_port;
    Location::Ptr m_location;
    bool m_optionGatewayRemoval = false;
    bool m_optionDisableDNS = false;
    ProxyLocation::Ptr m_proxyLocation;
    DNSFiltering::Ptr m_dnsFiltering;
};

// One connect request as it enters the engine.
struct OpenVpnConnectParams
{
    Constants::ProtocolType protocol = Constants::ProtocolType_UNKNOWN;
    QString serverIP;
    QString username;
    QString password;
    QString ovpnFile; // relative to configPath
    QString configPath; // working directory of OpenVPN and V2Ray
    bool withV2RayProxy = false;
    bool bWithReconnect = false; // "--persist-remote-ip"
    bool dnsScripts = false;

    // Writes the record to the log; never the password.
    void logInfo(const QString& caption) const;
};

// Sets a state on every way out of a scope.
class SetStateOnExit
{
public:
    SetStateOnExit(ConnectStateObject* obj, Constants::ConnectState newState);
    ~SetStateOnExit();
    SetStateOnExit(const SetStateOnExit&) = delete;
    SetStateOnExit& operator=(const SetStateOnExit&) = delete;

private:
    ConnectStateObject* m_obj;
    Constants::ConnectState m_newState;
};

// What the application model drives: takes a connect request and lets the
// platform's implementation connect.
class PlatformConnectionCustom : public ConnectStateObject
{
    Q_OBJECT
public:
    explicit PlatformConnectionCustom(QObject* parent = nullptr);

    void connect(const OpenVpnConnectParams& params);
    const OpenVpnConnectParams* connectionParams() const { return &m_conectionParams; }

protected slots:
    virtual void doConnect() = 0;

protected:
    OpenVpnConnectParams m_conectionParams;
};
