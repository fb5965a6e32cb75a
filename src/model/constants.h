#pragma once

#include <QObject>
#include <QString>

// The enumerations every layer shares. Values are fixed: stored settings,
// list items and QML compare against them.
class Constants : public QObject
{
    Q_OBJECT
public:
    enum SkinType {
        SkinType_UNKNOWN = 0,
        SkinType_standart = 1,
        SkinType_standart_light = 2,
        SkinType_light = 3,
    };
    Q_ENUM(SkinType)

    enum DNSFiltering {
        DNSFiltering_disabled = 0,
        DNSFiltering_secureDNS = 1,
        DNSFiltering_secureDNS_localStreaming = 2,
    };
    Q_ENUM(DNSFiltering)

    // Transport of a port.
    enum Protocol {
        Protocol_UNKNOWN = 0,
        Protocol_UDP = 1,
        Protocol_TCP = 2,
        Protocol_AUTO = 3,
    };
    Q_ENUM(Protocol)

    enum ProtocolType {
        ProtocolType_UNKNOWN = 0,
        ProtocolType_OPENVPN_ECC = 1,
        ProtocolType_IKEv2 = 2,
        ProtocolType_L2TP = 3,
        ProtocolType_OPENVPN256 = 4,
        ProtocolType_OPENVPN_XOR = 5,
        ProtocolType_OPENVPN128 = 6,
        ProtocolType_PPTP = 7,
        ProtocolType_CISCOIPSEC = 8,
    };
    Q_ENUM(ProtocolType)

    enum LocationType {
        LocationType_Common = 0,
        LocationType_Ike = 1,
    };
    Q_ENUM(LocationType)

    enum ConnectState {
        ConnectState_NoValue = 0,
        ConnectState_Disconnected = 1,
        ConnectState_Connected = 2,
        ConnectState_Connecting = 3,
        ConnectState_Disconnecting = 4,
    };
    Q_ENUM(ConnectState)

    // Not seen by QML.
    enum RequestedAction {
        RequestedAction_None = 0,
        RequestedAction_Connect = 1,
        RequestedAction_Disconnect = 2,
        RequestedAction_Attach = 3,
    };

    static QString protocolTypeToStr(ProtocolType type);
    static ProtocolType protocolTypeFromStr(const QString& text);
    static QString requestedActionToStr(RequestedAction action);
    static QString stateToStr(ConnectState state);
    static bool isOpenVpnProtocol(ProtocolType type);

    static QString openVpnConfigFileName();
    static QString v2RayConfigFileName();

private:
    Constants() = delete;
};

Q_DECLARE_METATYPE(Constants::RequestedAction)

// How a network service is configured.
enum SERVICE_SETUP_KIND {
    sskUnknown = 0,
    sskManual = 1,
    sskDHCP = 2,
    sskDHCPWithManualIP = 3,
};

QString sskName(SERVICE_SETUP_KIND kind);
