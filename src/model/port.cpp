#include "model/port.h"

#include <QStringList>

namespace {
QStringList portParts(const QString& text)
{
    return text.split(QLatin1Char('-'), Qt::KeepEmptyParts);
}
} // namespace

Port::Port(QString id, QObject* parent)
    : QObject(parent)
    , m_id(id)
{
    updateProtocol();
}

QString Port::getProtocolStr() const
{
    const QStringList parts = portParts(m_id);
    if (parts.size() == 1 || parts.size() == 2)
        return parts.at(0);
    return QString();
}

Constants::Protocol Port::getProtocol() const
{
    const QString transport = getProtocolStr().toLower();
    if (transport == QLatin1String("udp"))
        return Constants::Protocol_UDP;
    if (transport == QLatin1String("tcp"))
        return Constants::Protocol_TCP;
    if (transport == QLatin1String("auto"))
        return Constants::Protocol_AUTO;
    return Constants::Protocol_UNKNOWN;
}

QString Port::getPortNum() const
{
    const QStringList parts = portParts(m_id);
    if (parts.size() == 2)
        return parts.at(1);
    return QString();
}

void Port::updateProtocol()
{
    setProtocol(getProtocol());
}

void Port::update(const Port& port)
{
    setId(port.id());
}

void Port::setId(QString id)
{
    if (m_id == id)
        return;
    m_id = id;
    emit idChanged(m_id);
    emit nameChanged(m_id);
    updateProtocol();
}

void Port::setName(QString name)
{
    setId(name);
}

void Port::setProtocol(Constants::Protocol protocol)
{
    if (m_portType == protocol)
        return;
    m_portType = protocol;
    emit protocolChanged(m_portType);
}

bool checkPortProtocolAvalable(Port::Ptr port, bool udpAvalable, bool tcpAvalable)
{
    if (!port)
        return false;
    switch (port->protocol()) {
    case Constants::Protocol_AUTO:
        return true;
    case Constants::Protocol_TCP:
        return tcpAvalable;
    case Constants::Protocol_UDP:
        return udpAvalable;
    default:
        return false;
    }
}

PortModel::PortModel(QObject* parent)
    : StandartSimpleModel<Port, Port::Ptr, QString>(parent)
{
}

// Signals and string-based connections name the pointer by its typedef.
[[maybe_unused]] static const int kPtrMetaTypeId = qRegisterMetaType<Port::Ptr>("Port::Ptr");
[[maybe_unused]] static const int kTransportMetaTypeId = qRegisterMetaType<Constants::Protocol>("Constants::Protocol");
