#include "model/protocol.h"

#include "settings.h"

#include <QDebug>

Protocol::Protocol(Constants::ProtocolType id, QObject* parent)
    : QObject(parent)
    , m_id(id)
    , m_name(nameById(id))
{
}

QString Protocol::nameById(Constants::ProtocolType id)
{
    return Constants::protocolTypeToStr(id);
}

bool Protocol::isOpenVpn() const
{
    return Constants::isOpenVpnProtocol(m_id);
}

bool Protocol::isOpenVpn()
{
    return Constants::isOpenVpnProtocol(m_id);
}

void Protocol::update(const Protocol& protocol)
{
    setName(protocol.name());
    setLocationType(protocol.locationType());
}

void Protocol::setId(Constants::ProtocolType id)
{
    if (m_id == id)
        return;
    m_id = id;
    emit idChanged(m_id);
}

void Protocol::setName(QString name)
{
    if (m_name == name)
        return;
    m_name = name;
    emit nameChanged(m_name);
}

void Protocol::setLocationType(Constants::LocationType locationType)
{
    if (m_locationType == locationType)
        return;
    m_locationType = locationType;
    emit locationTypeChanged(m_locationType);
}

void Protocol::setHaveLocations(bool haveLocations)
{
    if (m_haveLocations == haveLocations)
        return;
    m_haveLocations = haveLocations;
    emit haveLocationsChanged(m_haveLocations);
}

void Protocol::setProtocolSettingGroup(ProtocolSettingGroup::Ptr protocolSettingGroup)
{
    if (m_protocolSettingGroup == protocolSettingGroup)
        return;
    m_protocolSettingGroup = protocolSettingGroup;
    emit protocolSettingGroupChanged(m_protocolSettingGroup);
}

ProtocolModel::ProtocolModel(QObject* parent)
    : StandartSimpleModel<Protocol, Protocol::Ptr, Constants::ProtocolType>(parent)
{
}

namespace {
const QString kOldLocation = QStringLiteral("Location");
const QString kOldKillSwitch = QStringLiteral("VpnDropProtection");
const QString kOldDnsFiltering = QStringLiteral("dnsFiltering");
const QString kOldProxy = QStringLiteral("v2RayProxy");
const QString kProtocol = QStringLiteral("Protocol");

void clearOldRecords()
{
    qDebug().noquote() << "clear old settings records";
    for (const QString& key : { kOldLocation, kOldKillSwitch, kOldDnsFiltering, kOldProxy })
        settings().remove(key);
}
} // namespace

void protocolSettingGroupsConfigSettingsMigration(QList<Protocol::Ptr>& protocols)
{
    Settings& store = settings();
    if (!store.valueInited(kOldLocation) || !store.valueInited(kProtocol)) {
        clearOldRecords();
        return;
    }

    const QString protocolText = Settings::protocol();
    if (protocolText.isEmpty())
        return;

    const QString wanted = protocolText.toLower().trimmed();
    const Protocol::Ptr protocol = some(
        protocols, [&wanted](const Protocol::Ptr& p) { return p && p->name().toLower().trimmed() == wanted; });
    if (!protocol) {
        qWarning().noquote() << Q_FUNC_INFO << "Can't find protocol" << protocolText;
        return;
    }
    const ProtocolSettingGroup::Ptr group = protocol->protocolSettingGroup();
    if (!group) {
        qWarning().noquote() << Q_FUNC_INFO << "Can't get settings group" << protocolText;
        return;
    }

    const QString proxy = store.value(kOldProxy, QVariant()).toString();
    const QString dnsFiltering = store.value(kOldDnsFiltering, QVariant()).toString();
    const bool killSwitch = store.value(kOldKillSwitch, QVariant()).toBool();
    const QString location = store.value(kOldLocation, QVariant()).toString();
    group->setNewValues(location, killSwitch, dnsFiltering, proxy, QString());
    clearOldRecords();
}

// Signals and string-based connections name the pointer by its typedef.
[[maybe_unused]] static const int kPtrMetaTypeId = qRegisterMetaType<Protocol::Ptr>("Protocol::Ptr");
