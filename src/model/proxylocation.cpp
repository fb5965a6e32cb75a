#include "model/proxylocation.h"

#include <QHostAddress>

#include <cctype>

namespace {
QString letterPair(const QString& text, int from)
{
    if (text.size() < from + 2)
        return QString();
    if (text.at(from).isDigit() || text.at(from + 1).isDigit())
        return QString();
    return text.mid(from, 2);
}

// A decimal number in [low, high] written the way JSON and OpenVPN read it
// back: digits only, no blank, sign or leading zero.
bool isPlainNumber(const QString& value, int low, int high)
{
    if (value.isEmpty() || value.size() > 5)
        return false;
    for (const QChar c : value) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    const int number = value.toInt();
    return number >= low && number <= high && QString::number(number) == value;
}

// Text inside a JSON string that needs no escape to stay there.
bool isSafeText(const QString& value)
{
    for (const QChar c : value) {
        if (c.category() == QChar::Other_Control || c == QLatin1Char('"') || c == QLatin1Char('\\')
            || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            return false;
    }
    return true;
}

bool isHostName(const QString& host)
{
    if (host.isEmpty() || host.size() > 253 || host.startsWith(QLatin1Char('-')) || host.startsWith(QLatin1Char('.')))
        return false;
    bool onlyDigitsAndDots = true;
    for (const QChar c : host) {
        const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const bool letter = (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
        if (!(digit || letter || c == QLatin1Char('-') || c == QLatin1Char('.')))
            return false;
        if (!digit && c != QLatin1Char('.'))
            onlyDigitsAndDots = false;
    }
    // "10.1" or "010.0.0.1" would be read as an address, differently by
    // different programs.
    return !onlyDigitsAndDots;
}
} // namespace

bool ProxyLocation::isUsableAddress(const QString& address)
{
    QHostAddress parsed;
    if (address.contains(QLatin1Char(':'))) {
        // Hexadecimal groups only: no scope ("%eth0") and no blank.
        for (const QChar c : address) {
            if (!(isxdigit(c.toLatin1()) && c.unicode() < 0x80) && c != QLatin1Char(':') && c != QLatin1Char('.'))
                return false;
        }
        return parsed.setAddress(address) && parsed.protocol() == QAbstractSocket::IPv6Protocol
            && parsed.scopeId().isEmpty();
    }
    if (parsed.setAddress(address) && parsed.protocol() == QAbstractSocket::IPv4Protocol
        && parsed.toString() == address)
        return true;
    return isHostName(address);
}

bool ProxyLocation::usableValues(const QString& address, const QString& port, const QString& userid,
                                 const QString& alterid, const QString& path, QString* whyNot)
{
    const char* field = nullptr;
    if (!isUsableAddress(address))
        field = "address";
    else if (!isPlainNumber(port, 1, 65535))
        field = "port";
    else if (userid.isEmpty() || !isSafeText(userid))
        field = "userid";
    else if (!isPlainNumber(alterid, 0, 65535))
        field = "alterid";
    else if (!isSafeText(path))
        field = "path";
    if (field && whyNot)
        *whyNot = QString::fromLatin1(field);
    return !field;
}

bool ProxyLocation::isUsable(QString* whyNot) const
{
    return usableValues(m_address, m_port, m_userid, m_alterid, m_path, whyNot);
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
