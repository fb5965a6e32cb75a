#include "model/protocolsettinggroup.h"

#include "settings.h"

#include <QDebug>

namespace {
// Stores a text value unless it is empty or the default, which is removed
// instead, so that the default comes back on the next load.
void storeText(const QString& key, const QString& value, const QString& defaultValue)
{
    if (!value.isEmpty() && value != defaultValue)
        settings().setValue(key, value);
    else
        settings().remove(key);
}
} // namespace

ProtocolSettingGroup::ProtocolSettingGroup(const QString& name, const QString& defaultLocationDefault,
                                           bool killSwitchOptionValueDefault, const QString& dnsFilteringDefault,
                                           const QString& proxyLocationDefault, QObject* parent)
    : QObject(parent)
    , m_name(name)
    , m_defaultLocationDefault(defaultLocationDefault)
    , m_killSwitchOptionValueDefault(killSwitchOptionValueDefault)
    , m_dnsFilteringDefault(dnsFilteringDefault)
    , m_proxyLocationDefault(proxyLocationDefault)
{
    load();
}

QString ProtocolSettingGroup::settingsValueName() const
{
    return QStringLiteral("group_settings_") + m_name;
}

QString ProtocolSettingGroup::pathToProp(const QString& propName, bool proxyAvail) const
{
    QString path = settingsValueName() + QLatin1Char('/') + propName;
    if (proxyAvail && !m_proxyLocation.isEmpty())
        path += QStringLiteral("withProxy");
    return path;
}

void ProtocolSettingGroup::load()
{
    const Settings& store = settings();
    setDefaultLocation(
        store.valueReadOnly(pathToProp(QStringLiteral(SETTING_LOCATION_FIELD), false), m_defaultLocationDefault)
            .toString());
    setKillSwitchOptionValue(
        store.valueReadOnly(pathToProp(QStringLiteral(SETTING_KILLSWITCH_FIELD), false), m_killSwitchOptionValueDefault)
            .toBool());
    setDnsFiltering(
        store.valueReadOnly(pathToProp(QStringLiteral(SETTING_DNSFILTERING_FIELD), false), m_dnsFilteringDefault)
            .toString());
    setProxyLocation(
        store.valueReadOnly(pathToProp(QStringLiteral(SETTING_PROXYLOCATION_FIELD), false), m_proxyLocationDefault)
            .toString());
    // The port key depends on the proxy location just read.
    setPort(store.valueReadOnly(pathToProp(QStringLiteral(SETTING_PORT_FIELD), true), portDefault()).toString());
}

void ProtocolSettingGroup::save() const
{
    qDebug().noquote() << Q_FUNC_INFO << m_defaultLocation << m_killSwitchOptionValue << m_dnsFiltering
                       << m_proxyLocation << m_port;
    storeText(pathToProp(QStringLiteral(SETTING_LOCATION_FIELD), false), m_defaultLocation, m_defaultLocationDefault);

    const QString killSwitchKey = pathToProp(QStringLiteral(SETTING_KILLSWITCH_FIELD), false);
    if (m_killSwitchOptionValue == m_killSwitchOptionValueDefault)
        settings().remove(killSwitchKey);
    else
        settings().setValue(killSwitchKey, m_killSwitchOptionValue);

    storeText(pathToProp(QStringLiteral(SETTING_DNSFILTERING_FIELD), false), m_dnsFiltering, m_dnsFilteringDefault);
    storeText(pathToProp(QStringLiteral(SETTING_PROXYLOCATION_FIELD), false), m_proxyLocation, m_proxyLocationDefault);
    // Only the port key of the current proxy state; the other one stays.
    storeText(pathToProp(QStringLiteral(SETTING_PORT_FIELD), true), m_port, portDefault());
}

void ProtocolSettingGroup::setNewValues(QString location, bool killSwitchOptionValue, const QString& dnsFiltering,
                                        const QString& proxyLocation, const QString& port)
{
    setDefaultLocation(location);
    setKillSwitchOptionValue(killSwitchOptionValue);
    setDnsFiltering(dnsFiltering);
    setProxyLocation(proxyLocation);
    setPort(port);
    save();
}

void ProtocolSettingGroup::setName(QString name)
{
    if (m_name == name)
        return;
    m_name = name;
    emit nameChanged(m_name);
    load();
}

void ProtocolSettingGroup::setDefaultLocation(QString defaultLocation)
{
    if (m_defaultLocation == defaultLocation)
        return;
    m_defaultLocation = defaultLocation;
    emit defaultLocationChanged(m_defaultLocation);
}

void ProtocolSettingGroup::setKillSwitchOptionValue(bool killSwitchOptionValue)
{
    if (m_killSwitchOptionValue == killSwitchOptionValue)
        return;
    m_killSwitchOptionValue = killSwitchOptionValue;
    emit killSwitchOptionValueChanged(m_killSwitchOptionValue);
}

void ProtocolSettingGroup::setDefaultLocationDefault(QString defaultLocationDefault)
{
    if (m_defaultLocationDefault == defaultLocationDefault)
        return;
    m_defaultLocationDefault = defaultLocationDefault;
    emit defaultLocationDefaultChanged(m_defaultLocationDefault);
}

void ProtocolSettingGroup::setKillSwitchOptionValueDefault(bool killSwitchOptionValueDefault)
{
    if (m_killSwitchOptionValueDefault == killSwitchOptionValueDefault)
        return;
    m_killSwitchOptionValueDefault = killSwitchOptionValueDefault;
    emit killSwitchOptionValueDefaultChanged(m_killSwitchOptionValueDefault);
}

void ProtocolSettingGroup::setDnsFiltering(QString dnsFiltering)
{
    if (m_dnsFiltering == dnsFiltering)
        return;
    m_dnsFiltering = dnsFiltering;
    emit dnsFilteringChanged(m_dnsFiltering);
}

void ProtocolSettingGroup::setDnsFilteringDefault(QString dnsFilteringDefault)
{
    if (m_dnsFilteringDefault == dnsFilteringDefault)
        return;
    m_dnsFilteringDefault = dnsFilteringDefault;
    emit dnsFilteringDefaultChanged(m_dnsFilteringDefault);
}

void ProtocolSettingGroup::setProxyLocation(QString proxyLocation)
{
    if (m_proxyLocation == proxyLocation)
        return;
    m_proxyLocation = proxyLocation;
    emit proxyLocationChanged(m_proxyLocation);
}

void ProtocolSettingGroup::setProxyLocationDefault(QString proxyLocationDefault)
{
    if (m_proxyLocationDefault == proxyLocationDefault)
        return;
    m_proxyLocationDefault = proxyLocationDefault;
    emit proxyLocationDefaultChanged(m_proxyLocationDefault);
}

void ProtocolSettingGroup::setPort(QString port)
{
    if (m_port == port)
        return;
    m_port = port;
    emit portChanged(m_port);
}

// Signals and string-based connections name the pointer by its typedef.
[[maybe_unused]] static const int kPtrMetaTypeId = qRegisterMetaType<ProtocolSettingGroup::Ptr>(
    "ProtocolSettingGroup::Ptr");
