#include "getservers.h"

#include "downloader.h"
#include "latency.h"
#include "log.h"
#include "qt-json/json.h"
#include "settings.h"
#include "utils.h"

#include <QFile>
#include <QHostAddress>
#include <QSaveFile>
#include <QTextCodec>
#include <QTextStream>
#include <QThread>
#include <QUrl>
#include <QtConcurrent>

#include <algorithm>

namespace {

const QString kCacheSeparator = QStringLiteral("<<>>");
const QString kStopped = QStringLiteral("stopped");
const QString kNoLocations = QStringLiteral("no locations in the server list");
constexpr int kUtf8Mib = 106;

// The separator must not occur inside either list, or the cache would not
// split back into two parts. Inside a JSON string "\u003c" is the same "<";
// outside a string the text is no valid list anyway.
QString escapeSeparator(const QString& text)
{
    QString out = text;
    return out.replace(kCacheSeparator, QStringLiteral("\\u003c<>>"));
}

bool writeScrambled(const QString& fileName, const QString& text, const char* failureText)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qDebug().noquote() << Q_FUNC_INFO << failureText;
        return false;
    }
    makePrivate(file);
    {
        QTextStream out(&file);
        out << Settings::encode(text);
        out.flush();
    }
    if (!file.commit()) {
        qDebug().noquote() << Q_FUNC_INFO << failureText;
        return false;
    }
    return true;
}

// The first white-space-delimited word of the file (the whole scrambled text).
bool readScrambledWord(const QString& fileName, QString& word, const char* failureText)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug().noquote() << Q_FUNC_INFO << failureText;
        return false;
    }
    QTextStream in(&file);
    in >> word;
    file.close();
    return true;
}

void moveLocationsResult(GetLocationsResult& result, const QMap<QString, Location::Ptr>& map)
{
    result.locations = mapToList(map);
    logLocationsList(result.locations);
    moveObjectsToMainThread(result.locations);
    moveObjectsToMainThread(result.regions);
}

// The same rule the V2Ray configuration writer applies: an entry kept here
// can always be written.
bool isUsableProxyLocation(const QVariantMap& m)
{
    auto text = [&m](const char* key) { return m.value(QLatin1String(key)).toString(); };
    return ProxyLocation::usableValues(text("address"), text("port"), text("userid"), text("alterid"), text("path"));
}

// IPv4 only in its plain dotted form ("10.0.0.1", not "10.1", "0x0a.0.0.1",
// "010.0.0.1" or "167772161", which other programs may read differently);
// IPv6 without a scope.
bool isLiteralIpAddress(const QString& text)
{
    QHostAddress parsed;
    if (!parsed.setAddress(text))
        return false;
    if (parsed.protocol() == QAbstractSocket::IPv4Protocol)
        return parsed.toString() == text;
    if (parsed.protocol() == QAbstractSocket::IPv6Protocol)
        return parsed.scopeId().isEmpty();
    return false;
}

} // namespace

// ---------------------------------------------------------------- fetch job

GetLocationsResult getLocations(const QStringList& urls, const QStringList& ikeurls, GetLocationsContext* context)
{
    return getLocationsPaced(urls, ikeurls, context, FetchPacing());
}

GetLocationsResult getLocationsPaced(const QStringList& urls, const QStringList& ikeurls, GetLocationsContext* context,
                                     FetchPacing pacing)
{
    GetLocationsResult result;
    QMap<QString, Location::Ptr> map;
    const auto stopped = [context]() { return context && context->isStopped(); };
    // A stop also gives up the download in flight.
    const StopCheck stopDownload = context ? StopCheck(stopped) : StopCheck();

    for (int pass = 1; pass <= kFetchPasses; ++pass) {
        const int timeout = pacing.timeoutStepMs * pass;
        for (const QString& url : urls) {
            if (stopped()) {
                result.errors.append(kStopped);
                return result;
            }
            const DownloadResult download = downloadByUrlInPool(QUrl(url), timeout, stopDownload);
            if (download.isSuccess()) {
                // A mirror whose answer holds no location failed like one
                // that did not answer: the next one is asked.
                const QString text = QString::fromUtf8(download.data);
                locationStrToList(text, map, result.regions);
                if (map.isEmpty()) {
                    qWarning().noquote() << Q_FUNC_INFO << kNoLocations << logSafe(url);
                    result.errors.append(kNoLocations);
                    continue;
                }
                result.locationsStr = text;
                result.errors.clear();
                break;
            }
            if (stopped()) {
                result.errors.append(kStopped);
                return result;
            }
            result.errors.append(download.failureText());
        }
        if (map.isEmpty())
            continue;

        for (const QString& url : ikeurls) {
            if (stopped()) {
                result.errors.append(kStopped);
                return result;
            }
            const DownloadResult download = downloadByUrlInPool(QUrl(url), timeout, stopDownload);
            if (download.isSuccess()) {
                result.ikeLocationsStr = QString::fromUtf8(download.data);
                result.errors.clear();
                ikeLocationStrToList(result.ikeLocationsStr, map, result.regions);
                break;
            }
            if (stopped()) {
                result.errors.append(kStopped);
                return result;
            }
            result.errors.append(download.failureText());
        }
        break;
    }

    // Texts that hold no location are no usable list either: report it, so
    // the cache is kept and the model keeps what it has.
    if (map.isEmpty() && result.errors.isEmpty())
        result.errors.append(kNoLocations);

    moveLocationsResult(result, map);
    return result;
}

// ---------------------------------------------------------------- parsers

QString validateIpAddress(const QString& addressStr, const QString& marker)
{
    const QString address = addressStr.trimmed();
    if (address.isEmpty())
        return QString();
    if (isLiteralIpAddress(address))
        return address;
    qCritical().noquote() << Q_FUNC_INFO
                          << "Unknown or invalid address:" << addressStr.toUtf8().toPercentEncoding(" :/[]") << " / "
                          << logSafe(marker);
    return QString();
}

Region::Ptr sharedRegion(const QString& name, QList<Region::Ptr>& regions)
{
    Region::Ptr region(new Region(name));
    const auto range = std::equal_range(regions.begin(), regions.end(), region, RegionPtrLess());
    if (range.first != range.second)
        return *range.first;
    regions.insert(range.second, region);
    return region;
}

void appendLocationToList(QMap<QString, Location::Ptr>& map, const Location::Ptr& location)
{
    const QString code = location->code();
    const auto existing = map.constFind(code);
    if (existing != map.constEnd()) {
        qCritical().noquote() << Q_FUNC_INFO << "NOT UNUQUE LOCATION ID: " + logSafe(code);
        qCritical().noquote() << Q_FUNC_INFO << "  first: " + logSafe(location->id());
        qCritical().noquote() << Q_FUNC_INFO << "  second: " + logSafe(existing.value()->id());
        qCritical().noquote() << Q_FUNC_INFO
                              << "  Location will not be added to the list of available locations: "
                + logSafe(location->id());
        return;
    }
    map.insert(code, location);
}

void locationStrToList(const QString& text, QMap<QString, Location::Ptr>& map, QList<Region::Ptr>& regions)
{
    bool ok = false;
    const QVariant top = QtJson::parse(text, ok);
    if (!ok) {
        qDebug().noquote() << Q_FUNC_INFO << "locationsStr not parsed!";
        return;
    }
    qInfo().noquote() << Q_FUNC_INFO << "GS15";
    const QVariantList entries = top.toList();
    for (const QVariant& entry : entries) {
        qInfo().noquote() << Q_FUNC_INFO << "GS16";
        const QVariantMap m = entry.toMap();
        Location::Ptr location(new Location(QString()));
        location->setCity(m.value(QStringLiteral("l")).toString());
        location->setCountry(m.value(QStringLiteral("c")).toString());
        location->setCode(m.value(QStringLiteral("n")).toString());
        location->initImages();
        location->setCaption(location->country() + QStringLiteral(" - ") + location->city());
        location->setHost(validateIpAddress(m.value(QStringLiteral("h")).toString(), location->caption()));
        location->setRegion(sharedRegion(m.value(QStringLiteral("z")).toString(), regions));
        location->setId(location->makeId());
        appendLocationToList(map, location);
    }
}

void ikeLocationStrToList(const QString& text, QMap<QString, Location::Ptr>& map, QList<Region::Ptr>& regions)
{
    bool ok = false;
    const QVariant top = QtJson::parse(text, ok);
    if (!ok)
        return;
    qInfo().noquote() << Q_FUNC_INFO << "GS24";
    const QVariantList entries = top.toMap().value(QStringLiteral("VPNs")).toList();
    for (const QVariant& entry : entries) {
        qInfo().noquote() << Q_FUNC_INFO << "GS25";
        const QVariantMap m = entry.toMap();
        const auto read = [&m](const char* shortKey, const char* longKey) {
            QString value = m.value(QLatin1String(shortKey)).toString();
            if (value.isEmpty() && longKey)
                value = m.value(QLatin1String(longKey)).toString();
            return value;
        };
        Location::Ptr location(new Location(QString()));
        location->setCity(read("l", "name"));
        location->setCountry(read("c", "country"));
        location->setRemoteIdentifier(read("r", "remoteIdentifier"));
        location->setCode(read("n", "country"));
        location->initImages();
        location->setCaption(location->country() + QStringLiteral(" - ") + location->city());
        location->setLocationType(Constants::LocationType_Ike);
        location->setHost(validateIpAddress(read("h", "address"), location->caption()));
        location->setRegion(sharedRegion(read("z", nullptr), regions));
        location->setId(location->makeId());
        appendLocationToList(map, location);
    }
}

void logLocationsList(const QList<Location::Ptr>& list)
{
    qInfo().noquote() << Q_FUNC_INFO << "LOCATIONS LIST count=" << list.size();
    QThread* mainThread = QCoreApplication::instance() ? QCoreApplication::instance()->thread() : nullptr;
    for (const Location::Ptr& location : list) {
        if (mainThread && location->thread() != mainThread)
            location->moveToThread(mainThread);
        qInfo().noquote() << Q_FUNC_INFO << location.data() << logSafe(location->caption())
                          << logSafe(location->region() ? location->region()->caption() : QString())
                          << logSafe(location->id());
    }
}

// ---------------------------------------------------------------- cache

bool saveLocations(const QString& locations, const QString& ikeLocations)
{
    const QString text = escapeSeparator(locations) + kCacheSeparator + escapeSeparator(ikeLocations);
    return writeScrambled(Settings::locationsFullFileName(), text, "Can't open Locations file");
}

bool GetLocations::getStoredLocations(QList<Location::Ptr>& locations, QList<Region::Ptr>& regions) const
{
    try {
        locations.clear();
        regions.clear();
        QString word;
        if (!readScrambledWord(Settings::locationsFullFileName(), word, "Can't open Locations file"))
            return false;
        const QString text = locationsCacheText(Settings::decodeToBytes(word));
        if (text.isEmpty())
            return false;
        const QStringList parts = text.split(kCacheSeparator, Qt::KeepEmptyParts);
        if (parts.size() != 2) {
            qDebug().noquote() << Q_FUNC_INFO << "invalid locations file format";
            return false;
        }
        QMap<QString, Location::Ptr> map;
        locationStrToList(parts.at(0), map, regions);
        ikeLocationStrToList(parts.at(1), map, regions);
        locations = mapToList(map);
        return true;
    }
    ALOG_CATCHALL("GetLocations::getStoredLocations")
    locations.clear();
    regions.clear();
    return false;
}

QString locationsCacheText(const QByteArray& bytes)
{
    QTextCodec::ConverterState state;
    const QString text = QTextCodec::codecForMib(kUtf8Mib)->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return text;
    // Written by an earlier version, which kept the lists as Latin-1.
    return QString::fromLatin1(bytes);
}

// ---------------------------------------------------------------- GetLocations

GetLocations::GetLocations(QObject* parent, const QStringList& urls, const QStringList& ikeurls)
    : QObject(parent)
    , m_urls(urls)
    , m_ikeurls(ikeurls)
{
    qRegisterMetaType<QList<QString>>("QList<QString>");
    qRegisterMetaType<SettingOption::Ptr>("SettingOption::Ptr");
}

GetLocations::~GetLocations()
{
    qDebug().noquote() << Q_FUNC_INFO;
    if (!stopped()) {
        qCritical().noquote() << Q_FUNC_INFO << "GetLocations was not stopped befer destroy";
        // Neither the latency threads nor a fetch job may outlive this object.
        stop();
    }
    if (m_pingThread && m_pingThread->joinable())
        m_pingThread->join();
    delete m_pingThread;
    m_pingThread = nullptr;
}

bool GetLocations::isStopped() const
{
    return m_stopped.load();
}

bool GetLocations::stopped() const
{
    return m_stopped.load();
}

void GetLocations::setSilent(bool silent)
{
    if (m_silent == silent)
        return;
    m_silent = silent;
    emit silentChanged(m_silent);
}

void GetLocations::setOptionDisableLatencyTest(SettingOption::Ptr optionDisableLatencyTest)
{
    if (m_optionDisableLatencyTest == optionDisableLatencyTest)
        return;
    if (m_optionDisableLatencyTest)
        m_optionDisableLatencyTest->disconnect(this);
    m_optionDisableLatencyTest = optionDisableLatencyTest;
    // The latency threads read a copy of the value, kept current here.
    m_latencyTestDisabled = m_optionDisableLatencyTest && m_optionDisableLatencyTest->value();
    if (m_optionDisableLatencyTest) {
        ASSERT_CONNECT(connect(
            m_optionDisableLatencyTest.data(), &SettingOption::valueChanged, this,
            [this](bool value) { m_latencyTestDisabled = value; }, Qt::DirectConnection));
    }
    emit optionDisableLatencyTestChanged(m_optionDisableLatencyTest);
}

void GetLocations::restart(const QStringList& urls, const QStringList& ikeurls)
{
    try {
        setSilent(false);
        m_urls = urls;
        m_ikeurls = ikeurls;
        updateLocations();
    }
    ALOG_CATCHALL("GetLocations::restart")
}

void GetLocations::startSilent()
{
    setSilent(true);
    if (m_getLocationsWatcher && m_getLocationsWatcher->isRunning()) {
        qWarning().noquote() << Q_FUNC_INFO << "GetLocations thread already running";
        return;
    }
    updateLocations();
}

void GetLocations::updateLocations()
{
    try {
        qInfo().noquote() << Q_FUNC_INFO << "GS1";
        qDebug().noquote() << Q_FUNC_INFO << "get servers run...";
        if (!m_getLocationsWatcher) {
            m_getLocationsWatcher.reset(new QFutureWatcher<GetLocationsResult>());
            ASSERT_CONNECT(connect(m_getLocationsWatcher.data(), &QFutureWatcher<GetLocationsResult>::finished, this,
                                   &GetLocations::onFetchFinished));
        }
        const QFuture<GetLocationsResult> future = QtConcurrent::run(getLocations, m_urls, m_ikeurls,
                                                                     static_cast<GetLocationsContext*>(this));
        m_fetches.erase(std::remove_if(m_fetches.begin(), m_fetches.end(),
                                       [](const QFuture<GetLocationsResult>& f) { return f.isFinished(); }),
                        m_fetches.end());
        m_fetches.append(future);
        m_getLocationsWatcher->setFuture(future);
    }
    ALOG_CATCHALL("GetLocations::updateLocations")
}

void GetLocations::onFetchFinished()
{
    try {
        const GetLocationsResult result = m_getLocationsWatcher->result();
        if (!result.errors.isEmpty()) {
            qCritical().noquote() << Q_FUNC_INFO << "Get Locations error:" << logSafe(result.errors);
            emit locatoinsGetError(result.errors, m_silent);
            return;
        }
        {
            std::lock_guard<std::mutex> lock(m_data_mutex);
            m_locations = result.locations;
            m_regions = result.regions;
        }
        if (!result.locationsStr.isEmpty())
            saveLocations(result.locationsStr, result.ikeLocationsStr);
        // The workers measure copies: the fetched items go to the model,
        // whose later merges write into them on this thread while a worker
        // could still read one.
        QList<Location::Ptr> toMeasure;
        toMeasure.reserve(result.locations.size());
        for (const Location::Ptr& location : result.locations) {
            if (!location)
                continue;
            Location::Ptr copy(new Location(location->id()));
            copy->update(*location);
            toMeasure << copy;
        }
        setPingList(toMeasure);
        emit locatoinsGetSuccessfully();
        startPingThread();
    }
    ALOG_CATCHALL("GetLocations::onFetchFinished")
}

void GetLocations::extractLocations(QList<Location::Ptr>& locations, QList<Region::Ptr>& regions)
{
    try {
        std::lock_guard<std::mutex> lock(m_data_mutex);
        m_locations.swap(locations);
        m_regions.swap(regions);
    }
    ALOG_CATCHALL("GetLocations::extractLocations")
}

void GetLocations::setPingList(const QList<Location::Ptr>& locations)
{
    std::lock_guard<std::mutex> lock(m_data_mutex);
    m_pingList = locations;
}

void GetLocations::startPingThread()
{
    std::lock_guard<std::mutex> lock(m_data_mutex);
    if (m_pingThread || m_stopped)
        return;
    m_pingThread = new std::thread(mainPingThreadFunction, std::ref(*this));
}

Location::Ptr GetLocations::extractPingTask()
{
    std::lock_guard<std::mutex> lock(m_data_mutex);
    if (m_pingList.isEmpty())
        return Location::Ptr();
    return m_pingList.takeFirst();
}

bool GetLocations::havePingTask()
{
    std::lock_guard<std::mutex> lock(m_data_mutex);
    return !m_pingList.isEmpty();
}

void GetLocations::onPingMeasured(Location::Ptr location, int ms)
{
    if (!location)
        return;
    location->setPingMs(ms);
    emit pingMeasured(location->code(), ms);
}

void GetLocations::stop()
{
    try {
        qDebug().noquote() << Q_FUNC_INFO;
        m_stopped = true;
        std::thread* pingThread = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_data_mutex);
            pingThread = m_pingThread;
        }
        if (pingThread && pingThread->joinable())
            pingThread->join();
        // Each job sees the flag before its next download, so this waits at
        // most for one download's time-out.
        for (QFuture<GetLocationsResult>& fetch : m_fetches)
            fetch.waitForFinished();
        m_fetches.clear();
    }
    ALOG_CATCHALL("GetLocations::stop")
}

// ---------------------------------------------------------------- V2Ray proxy locations

GetProxyLocationsResult getProxyLocations(const QStringList& urls, FetchStop::Ptr stop)
{
    return getProxyLocationsPaced(urls, FetchPacing(), stop);
}

GetProxyLocationsResult getProxyLocationsPaced(const QStringList& urls, FetchPacing pacing, FetchStop::Ptr stop)
{
    GetProxyLocationsResult result;
    const bool found = fetchFirstUsable(
        urls, pacing, result.errors,
        [&result](const QByteArray& data) {
            result.locations = parseProxyLocations(data);
            if (result.locations.isEmpty())
                return false;
            // Only a list that gave locations replaces the cache.
            saveProxyLocations(QString::fromLatin1(data));
            return true;
        },
        stopCheck(stop));
    if (found)
        moveObjectsToMainThread(result.locations);
    return result;
}

QList<ProxyLocation::Ptr> parseProxyLocations(const QByteArray& data)
{
    QList<ProxyLocation::Ptr> list;
    const QVariant top = QtJson::parse(QString::fromUtf8(data));
    const QVariantList entries = top.toList();
    for (const QVariant& entry : entries) {
        const QVariantMap m = entry.toMap();
        // These values end up in the V2Ray configuration file.
        if (!isUsableProxyLocation(m)) {
            qWarning().noquote() << Q_FUNC_INFO << "proxy location skipped, unusable values:"
                                 << m.value(QStringLiteral("n")).toString().toUtf8().toPercentEncoding();
            continue;
        }
        list.append(ProxyLocation::Ptr(new ProxyLocation(
            m.value(QStringLiteral("n")).toString(), m.value(QStringLiteral("c")).toString(),
            m.value(QStringLiteral("address")).toString(), m.value(QStringLiteral("port")).toString(),
            m.value(QStringLiteral("userid")).toString(), m.value(QStringLiteral("alterid")).toString(),
            m.value(QStringLiteral("path")).toString())));
    }
    return list;
}

bool saveProxyLocations(const QString& text)
{
    return writeScrambled(Settings::proxyLocationsFullFileName(), text, "Can't open v2Proxy Locations file");
}

bool getStoredProxyLocations(QList<ProxyLocation::Ptr>& list)
{
    try {
        list.clear();
        QString word;
        if (!readScrambledWord(Settings::proxyLocationsFullFileName(), word, "Can't open Proxy Locations file"))
            return false;
        const QString text = Settings::decode(word);
        if (text.isEmpty())
            return false;
        list = parseProxyLocations(text.toLatin1());
        return true;
    }
    ALOG_CATCHALL("getStoredProxyLocations")
    list.clear();
    return false;
}
