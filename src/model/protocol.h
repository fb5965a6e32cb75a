#pragma once

#include "model/constants.h"
#include "model/port.h"
#include "model/protocolsettinggroup.h"
#include "model/standartsimplemodel.h"

#include <QList>
#include <QObject>
#include <QSharedPointer>
#include <QString>

// One VPN protocol the user can choose, with its own port list and the
// setting group that remembers the choices made with it.
class Protocol : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Constants::ProtocolType id READ id WRITE setId NOTIFY idChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(PortModel* ports READ ports CONSTANT)
    Q_PROPERTY(Constants::LocationType locationType READ locationType WRITE setLocationType NOTIFY locationTypeChanged)
    Q_PROPERTY(bool haveLocations READ haveLocations WRITE setHaveLocations NOTIFY haveLocationsChanged)
    Q_PROPERTY(ProtocolSettingGroup::Ptr protocolSettingGroup READ protocolSettingGroup WRITE setProtocolSettingGroup
                   NOTIFY protocolSettingGroupChanged)

public:
    typedef QSharedPointer<Protocol> Ptr;

    explicit Protocol(Constants::ProtocolType id, QObject* parent = nullptr);

    static QString nameById(Constants::ProtocolType id);

    Constants::ProtocolType id() const { return m_id; }
    QString name() const { return m_name; }
    PortModel* ports() { return &m_ports; }
    const PortModel* ports() const { return &m_ports; }
    Constants::LocationType locationType() const { return m_locationType; }
    bool haveLocations() const { return m_haveLocations; }
    ProtocolSettingGroup::Ptr protocolSettingGroup() const { return m_protocolSettingGroup; }

    bool isOpenVpn() const;

    // Takes over the name and the location type.
    void update(const Protocol& protocol);

signals:
    void idChanged(Constants::ProtocolType id);
    void nameChanged(QString name);
    void locationTypeChanged(Constants::LocationType locationType);
    void haveLocationsChanged(bool haveLocations);
    void protocolSettingGroupChanged(ProtocolSettingGroup::Ptr protocolSettingGroup);

public slots:
    void setId(Constants::ProtocolType id);
    void setName(QString name);
    void setLocationType(Constants::LocationType locationType);
    void setHaveLocations(bool haveLocations);
    bool isOpenVpn();
    void setProtocolSettingGroup(ProtocolSettingGroup::Ptr protocolSettingGroup);

private:
    Constants::ProtocolType m_id;
    QString m_name;
    PortModel m_ports;
    Constants::LocationType m_locationType = Constants::LocationType_Common;
    bool m_haveLocations = false;
    ProtocolSettingGroup::Ptr m_protocolSettingGroup;
};

class ProtocolModel : public StandartSimpleModel<Protocol, Protocol::Ptr, Constants::ProtocolType>
{
    Q_OBJECT
public:
    explicit ProtocolModel(QObject* parent = nullptr);

    Constants::ProtocolType idFromElem(const Protocol::Ptr& elem) const override { return elem->id(); }
    QString role1Name() const override { return QStringLiteral("protocol"); }
    QString role2Name() const override { return QStringLiteral("protocolRaw"); }
};

// Moves the connection choices that older versions kept in top-level keys
// ("Location", "VpnDropProtection", "dnsFiltering", "v2RayProxy") into the
// setting group of the protocol named by "Protocol", then removes them.
// Every protocol must already have its group.
void protocolSettingGroupsConfigSettingsMigration(QList<Protocol::Ptr>& protocols);
