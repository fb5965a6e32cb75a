#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QString>

#define SETTING_LOCATION_FIELD "location"
#define SETTING_KILLSWITCH_FIELD "killswitch"
#define SETTING_DNSFILTERING_FIELD "dnsFiltering"
#define SETTING_PROXYLOCATION_FIELD "proxyLocation"
#define SETTING_PORT_FIELD "port"

// The last connection choices of one group of protocols (location, kill
// switch, DNS filtering, proxy location, port), kept in the settings section
// "group_settings_<name>". A value equal to its default is never stored. The
// port is remembered twice: for connections without and with a proxy
// location (key "port" and "portwithProxy").
class ProtocolSettingGroup : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString defaultLocation READ defaultLocation NOTIFY defaultLocationChanged)
    Q_PROPERTY(QString defaultLocationDefault READ defaultLocationDefault NOTIFY defaultLocationDefaultChanged)
    Q_PROPERTY(QString dnsFiltering READ dnsFiltering NOTIFY dnsFilteringChanged)
    Q_PROPERTY(QString dnsFilteringDefault READ dnsFilteringDefault NOTIFY dnsFilteringDefaultChanged)
    Q_PROPERTY(QString proxyLocation READ proxyLocation NOTIFY proxyLocationChanged)
    Q_PROPERTY(QString proxyLocationDefault READ proxyLocationDefault NOTIFY proxyLocationDefaultChanged)
    Q_PROPERTY(bool killSwitchOptionValue READ killSwitchOptionValue NOTIFY killSwitchOptionValueChanged)
    Q_PROPERTY(
        bool killSwitchOptionValueDefault READ killSwitchOptionValueDefault NOTIFY killSwitchOptionValueDefaultChanged)
    Q_PROPERTY(QString port READ port WRITE setPort NOTIFY portChanged)

public:
    typedef QSharedPointer<ProtocolSettingGroup> Ptr;

    // Reads the remembered values at once.
    ProtocolSettingGroup(const QString& name, const QString& defaultLocationDefault, bool killSwitchOptionValueDefault,
                         const QString& dnsFilteringDefault, const QString& proxyLocationDefault,
                         QObject* parent = nullptr);

    QString name() const { return m_name; }
    QString defaultLocation() const { return m_defaultLocation; }
    QString defaultLocationDefault() const { return m_defaultLocationDefault; }
    QString dnsFiltering() const { return m_dnsFiltering; }
    QString dnsFilteringDefault() const { return m_dnsFilteringDefault; }
    QString proxyLocation() const { return m_proxyLocation; }
    QString proxyLocationDefault() const { return m_proxyLocationDefault; }
    bool killSwitchOptionValue() const { return m_killSwitchOptionValue; }
    bool killSwitchOptionValueDefault() const { return m_killSwitchOptionValueDefault; }
    QString port() const { return m_port; }

    void load();
    void save() const;
    // Sets all five values, then saves.
    void setNewValues(QString location, bool killSwitchOptionValue, const QString& dnsFiltering,
                      const QString& proxyLocation, const QString& port);

    QString settingsValueName() const;
    // The settings key of a field; with `proxyAvail` the key for use with a
    // proxy location, when one is remembered.
    QString pathToProp(const QString& propName, bool proxyAvail) const;
    static QString portDefault() { return QString(); }

signals:
    void nameChanged(QString name);
    void defaultLocationChanged(QString defaultLocation);
    void defaultLocationDefaultChanged(QString defaultLocationDefault);
    void dnsFilteringChanged(QString dnsFiltering);
    void dnsFilteringDefaultChanged(QString dnsFilteringDefault);
    void proxyLocationChanged(QString proxyLocation);
    void proxyLocationDefaultChanged(QString proxyLocationDefault);
    void killSwitchOptionValueChanged(bool killSwitchOptionValue);
    void killSwitchOptionValueDefaultChanged(bool killSwitchOptionValueDefault);
    void portChanged(QString port);

public slots:
    // Reads the values of the new group.
    void setName(QString name);
    void setDefaultLocation(QString defaultLocation);
    void setKillSwitchOptionValue(bool killSwitchOptionValue);
    void setDefaultLocationDefault(QString defaultLocationDefault);
    void setKillSwitchOptionValueDefault(bool killSwitchOptionValueDefault);
    void setDnsFiltering(QString dnsFiltering);
    void setDnsFilteringDefault(QString dnsFilteringDefault);
    void setProxyLocation(QString proxyLocation);
    void setProxyLocationDefault(QString proxyLocationDefault);
    void setPort(QString port);

private:
    QString m_name;
    QString m_defaultLocation;
    bool m_killSwitchOptionValue = false;
    QString m_defaultLocationDefault;
    bool m_killSwitchOptionValueDefault = false;
    QString m_dnsFiltering;
    QString m_dnsFilteringDefault;
    QString m_proxyLocation;
    QString m_proxyLocationDefault;
    QString m_port;
};
