#include "model/proxylocation.h"

namespace {
QString letterPair(const QString& text, int from)
{
    if (text.size() < from + 2)
        return QString();
    if (text.at(from).isDigit() || text.at(from + 1).isDigit())
        return QString();
    return text.mid(from, 2);
}
}

ProxyLocation::ProxyLocation(const QString& id, const QString& caption, const QString& address, const QString& port,
                             const QString& userid, const QString& alterid, const QString& path, QObject* parent)
    : QObject(parent)
    , m_id(id)
    , m_caption(caption)
    , m_address(address)
    , m_port(port)
    , m_userid(userid)
    , m_alterid(alterid)
    , m_path(path)
{
}

QString ProxyLocation::firstCountryCode() const
{
    if (!m_firstCountryCode.isEmpty())
        return m_firstCountryCode;
    return letterPair(m_id, 0);
}

QString ProxyLocation::secondCountryCode() const
{
    return letterPair(m_id, 2);
}

void ProxyLocation::update(const ProxyLocation& another)
{
    setCaption(another.caption());
}

void ProxyLocation::setCaption(QString caption)
{
    if (m_caption == caption)
        return;
    m_caption = caption;
    emit captionChanged(m_caption);
}

void ProxyLocation::setAddress(QString address)
{
    if (m_address == address)
        return;
    m_address = address;
    emit addressChanged(m_address);
}

void ProxyLocation::setPort(QString port)
{
    if (m_port == port)
        return;
    m_port = port;
    emit portChanged(m_port);
}

void ProxyLocation::setUserid(QString userid)
{
    if (m_userid == userid)
        return;
    m_userid = userid;
    emit useridChanged(m_userid);
}

void ProxyLocation::setAlterid(QString alterid)
{
    if (m_alterid == alterid)
        return;
    m_alterid = alterid;
    emit alteridChanged(m_alterid);
}

void ProxyLocation::setPath(QString path)
{
    if (m_path == path)
        return;
    m_path = path;
    emit pathChanged(m_path);
}

void ProxyLocation::setFirstCountryCode(QString firstCountryCode)
{
    if (m_firstCountryCode == firstCountryCode)
        return;
    m_firstCountryCode = firstCountryCode;
    emit firstCountryCodeChanged(m_firstCountryCode);
}

ProxyLocationModel::ProxyLocationModel(QObject* parent)
    : StandartSimpleModel<ProxyLocation, ProxyLocation::Ptr, QString>(parent)
{
}

// Signals and string-based connections name the pointer by its typedef.
[[maybe_unused]] static const int kPtrMetaTypeId = qRegisterMetaType<ProxyLocation::Ptr>("ProxyLocation::Ptr");
