#pragma once

#include "model/constants.h"
#include "model/standartsimplemodel.h"

#include <QObject>
#include <QSharedPointer>
#include <QString>

// One port of a protocol, written as transport, "-" and number
// ("UDP-1993", "TCP-443"), or as the transport alone ("Auto"). The text is
// both its id and its name.
class Port : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString id READ id WRITE setId NOTIFY idChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(Constants::Protocol protocol READ protocol NOTIFY protocolChanged)

public:
    typedef QSharedPointer<Port> Ptr;

    explicit Port(QString id, QObject* parent = nullptr);

    QString id() const { return m_id; }
    QString name() const { return m_id; }
    Constants::Protocol protocol() const { return m_portType; }

    // The transport text: the part before "-" (the whole text when there is
    // no "-"); empty when the text has more than one "-".
    QString getProtocolStr() const;
    Constants::Protocol getProtocol() const;
    // The number after "-"; empty unless the text has exactly two parts.
    QString getPortNum() const;

    void updateProtocol();
    void update(const Port& port);

signals:
    void idChanged(QString id);
    void nameChanged(QString name);
    void protocolChanged(Constants::Protocol protocol);

public slots:
    void setId(QString id);
    void setName(QString name);
    void setProtocol(Constants::Protocol protocol);

private:
    QString m_id;
    Constants::Protocol m_portType = Constants::Protocol_UNKNOWN;
};

// Whether `port` can be used with the transports available: AUTO always,
// TCP and UDP when allowed; never a null port or an unknown transport.
bool checkPortProtocolAvalable(Port::Ptr port, bool udpAvalable, bool tcpAvalable);

class PortModel : public StandartSimpleModel<Port, Port::Ptr, QString>
{
    Q_OBJECT
public:
    explicit PortModel(QObject* parent = nullptr);

    QString idFromElem(const Port::Ptr& elem) const override { return elem->id(); }
    QString role1Name() const override { return QStringLiteral("port"); }
    QString role2Name() const override { return QStringLiteral("portRaw"); }
};
