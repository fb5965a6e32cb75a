#include "model/constants.h"

namespace {
// Index = ProtocolType value; ProtocolType_CISCOIPSEC has no text of its own.
const char* const kProtocolTypeTexts[] = {
    "UNKNOWN",         "OpenVPN ECC", "IKEv2/IPsec",     "L2TP/IPSec",
    "OpenVPN 256-bit", "OpenVPN XOR", "OpenVPN 128-bit", "PPTP (insecure)",
};
constexpr int kProtocolTypeTextCount = int(sizeof(kProtocolTypeTexts) / sizeof(kProtocolTypeTexts[0]));
} // namespace

QString Constants::protocolTypeToStr(ProtocolType type)
{
    const int index = int(type);
    if (index >= 0 && index < kProtocolTypeTextCount)
        return QString::fromLatin1(kProtocolTypeTexts[index]);
    return QStringLiteral("unknown");
}

Constants::ProtocolType Constants::protocolTypeFromStr(const QString& text)
{
    const QString lower = text.toLower();
    for (int i = 0; i < kProtocolTypeTextCount; ++i) {
        if (lower == QString::fromLatin1(kProtocolTypeTexts[i]).toLower())
            return ProtocolType(i);
    }
    return ProtocolType_UNKNOWN;
}

QString Constants::requestedActionToStr(RequestedAction action)
{
    switch (action) {
    case RequestedAction_None:
        return QStringLiteral("None");
    case RequestedAction_Connect:
        return QStringLiteral("Connect");
    case RequestedAction_Disconnect:
        return QStringLiteral("Disconnect");
    case RequestedAction_Attach:
        return QStringLiteral("Attach");
    }
    return QStringLiteral("Unknown RequestedAction");
}

QString Constants::stateToStr(ConnectState state)
{
    switch (state) {
    case ConnectState_Disconnected:
        return QStringLiteral("Disconnected");
    case ConnectState_Connected:
        return QStringLiteral("Connected");
    case ConnectState_Connecting:
        return QStringLiteral("Connecting");
    case ConnectState_Disconnecting:
        return QStringLiteral("Disconnecting");
    case ConnectState_NoValue:
        break;
    }
    return QStringLiteral("Unknown ConnectState");
}

bool Constants::isOpenVpnProtocol(ProtocolType type)
{
    return type == ProtocolType_OPENVPN_ECC || type == ProtocolType_OPENVPN256 || type == ProtocolType_OPENVPN_XOR
        || type == ProtocolType_OPENVPN128;
}

QString Constants::openVpnConfigFileName()
{
    return QStringLiteral("config.ovpn");
}

QString Constants::v2RayConfigFileName()
{
    return QStringLiteral("proxy.json");
}

QString sskName(SERVICE_SETUP_KIND kind)
{
    switch (kind) {
    case sskUnknown:
        return QStringLiteral("Unknown");
    case sskManual:
        return QStringLiteral("Manual");
    case sskDHCP:
        return QStringLiteral("DHCP");
    case sskDHCPWithManualIP:
        return QStringLiteral("DHCPWithManualIP");
    }
    return QStringLiteral("???");
}
