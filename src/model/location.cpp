#include "model/location.h"

#include <QMetaObject>
#include <QPixmap>
#include <QStringList>
#include <QThread>

namespace {
// Two characters of `code` from `from`, when the code is long enough and
// neither is a digit.
QString letterPair(const QString& code, int from)
{
    if (code.size() < from + 2)
        return QString();
    if (code.at(from).isDigit() || code.at(from + 1).isDigit())
        return QString();
    return code.mid(from, 2);
}
} // namespace

Location::Location(QString id, QObject* parent)
    : QObject(parent)
    , m_id(id)
    , m_name(id)
    , m_caption(id)
{
    updateFavoriteProtocolAndPortString();
}

QIcon Location::iconOf(const QImage& image, QIcon& cached)
{
    if (cached.isNull() && !image.isNull())
        cached = QIcon(QPixmap::fromImage(image));
    return cached;
}

QIcon Location::icon1() const
{
    return iconOf(m_image1, m_icon1);
}

QIcon Location::icon2() const
{
    return iconOf(m_image2, m_icon2);
}

QString Location::firstCountryCode() const
{
    return letterPair(m_code, 0);
}

QString Location::secondCountryCode() const
{
    return letterPair(m_code, 2);
}

QString Location::connectionHost() const
{
    return m_host;
}

QString Location::flagResourcePath(const QString& countryCode)
{
    return QStringLiteral(":/Images/flags/") + countryCode + QStringLiteral(".png");
}

void Location::loadFlag(const QString& path, QString& loadedPath, QImage& image, QIcon& icon)
{
    if (path == loadedPath)
        return;
    loadedPath = path;
    image = QImage(path);
    icon = QIcon();
}

void Location::initImages()
{
    loadFlag(flagResourcePath(firstCountryCode()), m_image1Path, m_image1, m_icon1);
    loadFlag(flagResourcePath(secondCountryCode()), m_image2Path, m_image2, m_icon2);
}

QString Location::makeId() const
{
    if (m_locationType == Constants::LocationType_Ike)
        return QStringLiteral("[IKE]") + m_country + QStringLiteral(" - ") + m_city;
    if (!m_region)
        return m_caption;
    return m_caption + QStringLiteral(" - ") + m_region->caption();
}

void Location::update(const Location& location)
{
    setName(location.name());
    setLocationType(location.locationType());
    setCaption(location.caption());
    setHost(location.host());
    setRemoteIdentifier(location.remoteIdentifier());
    setCountry(location.country());
    setCode(location.code());
    setCity(location.city());
    setRegion(location.region());
    initImages();
}

QString Location::saveToString() const
{
    QString text = m_code;
    if (m_favoriteProtocolType != Constants::ProtocolType_UNKNOWN || !m_favoritePortId.isEmpty()) {
        text += QLatin1Char('|') + Constants::protocolTypeToStr(m_favoriteProtocolType) + QLatin1Char('|')
            + m_favoritePortId;
    }
    return text;
}

bool Location::parseFromString(const QString& str, QString& code, Constants::ProtocolType& protocolType,
                               QString& portId)
{
    const QStringList parts = str.split(QLatin1Char('|'), Qt::KeepEmptyParts);
    if (parts.size() > 0)
        code = parts.at(0).trimmed();
    if (parts.size() > 1)
        protocolType = Constants::protocolTypeFromStr(parts.at(1).trimmed());
    if (parts.size() > 2)
        portId = parts.at(2).trimmed();
    return !parts.isEmpty() && !code.isEmpty();
}

void Location::setId(QString id)
{
    if (m_id == id)
        return;
    m_id = id;
    emit idChanged(m_id);
}

void Location::setName(QString name)
{
    if (m_name == name)
        return;
    m_name = name;
    emit nameChanged(m_name);
}

void Location::setLocationType(Constants::LocationType locationType)
{
    if (m_locationType == locationType)
        return;
    m_locationType = locationType;
    emit locationTypeChanged(m_locationType);
}

void Location::setCaption(QString caption)
{
    if (m_caption == caption)
        return;
    m_caption = caption;
    emit captionChanged(m_caption);
}

void Location::setHost(QString host)
{
    if (m_host == host)
        return;
    m_host = host;
    emit hostChanged(m_host);
}

void Location::setRemoteIdentifier(QString remoteIdentifier)
{
    if (m_remoteIdentifier == remoteIdentifier)
        return;
    m_remoteIdentifier = remoteIdentifier;
    emit remoteIdentifierChanged(m_remoteIdentifier);
}

void Location::setCountry(QString country)
{
    if (m_country == country)
        return;
    m_country = country;
    emit countryChanged(m_country);
}

void Location::setCode(QString code)
{
    if (m_code == code)
        return;
    m_code = code;
    emit codeChanged(m_code);
}

void Location::setCity(QString city)
{
    if (m_city == city)
        return;
    m_city = city;
    emit cityChanged(m_city);
}

void Location::setRegion(Region::Ptr region)
{
    if (m_region == region)
        return;
    m_region = region;
    emit regionChanged(m_region);
    emit regionRawChanged(m_region.data());
}

void Location::setPingMs(int pingMs)
{
    if (m_pingMs.exchange(pingMs) == pingMs)
        return;
    if (QThread::currentThread() == thread())
        notifyPingMs();
    else
        QMetaObject::invokeMethod(this, &Location::notifyPingMs, Qt::QueuedConnection);
}

void Location::notifyPingMs()
{
    const int value = m_pingMs.load();
    if (value == m_notifiedPingMs)
        return;
    m_notifiedPingMs = value;
    emit pingMsChanged(value);
}

void Location::setFavorite(bool favorite)
{
    if (m_favorite == favorite)
        return;
    m_favorite = favorite;
    emit favoriteChanged(m_favorite);
}

void Location::setFavoriteProtocolType(Constants::ProtocolType favoriteProtocolType)
{
    if (m_favoriteProtocolType == favoriteProtocolType)
        return;
    m_favoriteProtocolType = favoriteProtocolType;
    emit favoriteProtocolTypeChanged(m_favoriteProtocolType);
    updateFavoriteProtocolAndPortString();
}

void Location::setFavoritePortId(QString favoritePortId)
{
    if (m_favoritePortId == favoritePortId)
        return;
    m_favoritePortId = favoritePortId;
    emit favoritePortIdChanged(m_favoritePortId);
    updateFavoriteProtocolAndPortString();
}

void Location::setFavoriteProtocolAndPortString(QString favoriteProtocolAndPortString)
{
    if (m_favoriteProtocolAndPortString == favoriteProtocolAndPortString)
        return;
    m_favoriteProtocolAndPortString = favoriteProtocolAndPortString;
    emit favoriteProtocolAndPortStringChanged(m_favoriteProtocolAndPortString);
}

void Location::updateFavoriteProtocolAndPortString()
{
    QString text;
    if (m_favoriteProtocolType != Constants::ProtocolType_UNKNOWN)
        text = Constants::protocolTypeToStr(m_favoriteProtocolType);
    if (!m_favoritePortId.isEmpty()) {
        if (!text.isEmpty())
            text += QStringLiteral(" - ");
        text += m_favoritePortId;
    }
    setFavoriteProtocolAndPortString(text);
}

// Signals and string-based connections name the pointer by its typedef.
[[maybe_unused]] static const int kPtrMetaTypeId = qRegisterMetaType<Location::Ptr>("Location::Ptr");
[[maybe_unused]] static const int kLocationTypeMetaTypeId = qRegisterMetaType<Constants::LocationType>(
    "Constants::LocationType");
[[maybe_unused]] static const int kProtocolTypeMetaTypeId = qRegisterMetaType<Constants::ProtocolType>(
    "Constants::ProtocolType");
