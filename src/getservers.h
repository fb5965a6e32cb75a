#pragma once

#include "downloader.h"
#include "model/location.h"
#include "model/news.h"
#include "model/proxylocation.h"
#include "model/region.h"
#include "settingsoption.h"

#include <QCoreApplication>
#include <QFuture>
#include <QFutureWatcher>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSharedPointer>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <mutex>
#include <thread>

// What a fetch job learns from its owner: whether to give up.
class GetLocationsContext
{
public:
    virtual bool isStopped() const = 0;

protected:
    ~GetLocationsContext() = default; // never deleted through this interface
};

struct GetLocationsResult
{
    QList<Location::Ptr> locations; // both lists, ascending by code
    QList<Region::Ptr> regions; // distinct, sorted by caption
    QString locationsStr; // the regular list as downloaded
    QString ikeLocationsStr; // the IKE list as downloaded
    QStringList errors; // empty on success
};

// Keeps the directory of VPN servers: fetches both lists from the mirrors on
// a pool thread, caches them, and measures every location's latency on
// standard threads (a scheduler and batches of five workers).
class GetLocations : public QObject, public GetLocationsContext
{
    Q_OBJECT
    Q_PROPERTY(bool silent READ silent WRITE setSilent NOTIFY silentChanged)
    Q_PROPERTY(SettingOption::Ptr optionDisableLatencyTest READ optionDisableLatencyTest WRITE
                   setOptionDisableLatencyTest NOTIFY optionDisableLatencyTestChanged)

public:
    GetLocations(QObject* parent, const QStringList& urls, const QStringList& ikeurls);
    ~GetLocations() override;

    bool isStopped() const override;

    bool silent() const { return m_silent; }
    SettingOption::Ptr optionDisableLatencyTest() const { return m_optionDisableLatencyTest; }
    // Whether measuring is switched off now; safe from any thread.
    bool latencyTestDisabled() const { return m_latencyTestDisabled.load(); }

    void restart(const QStringList& urls, const QStringList& ikeurls);
    void startSilent();

    // Swaps the caller's lists with the last fetched ones.
    void extractLocations(QList<Location::Ptr>& locations, QList<Region::Ptr>& regions);
    // Both lists from the cache file; false when it is missing or unusable.
    bool getStoredLocations(QList<Location::Ptr>& locations, QList<Region::Ptr>& regions) const;

    // Replaces the queue of locations waiting for a measurement.
    void setPingList(const QList<Location::Ptr>& locations);
    // Starts the latency scheduler unless it runs already.
    void startPingThread();

signals:
    void locatoinsGetSuccessfully();
    void locatoinsGetError(QList<QString> errors, bool silent);
    void silentChanged(bool silent);
    void optionDisableLatencyTestChanged(SettingOption::Ptr optionDisableLatencyTest);
    // Emitted on a latency thread.
    void pingMeasured(QString locationId, int ms);

public slots:
    void setSilent(bool silent);
    Location::Ptr extractPingTask();
    bool havePingTask();
    // Stops the latency threads (joined) and waits for running fetches.
    void stop();
    bool stopped() const;
    void setOptionDisableLatencyTest(SettingOption::Ptr optionDisableLatencyTest);
    // Called on a latency thread.
    void onPingMeasured(Location::Ptr location, int ms);
    void updateLocations();

private:
    void onFetchFinished();

    QStringList m_urls;
    QStringList m_ikeurls;
    mutable std::mutex m_data_mutex;
    QList<Location::Ptr> m_locations;
    QList<Region::Ptr> m_regions;
    bool m_silent = false;
    QList<Location::Ptr> m_pingList;
    std::thread* m_pingThread = nullptr;
    std::atomic<bool> m_stopped { false };
    SettingOption::Ptr m_optionDisableLatencyTest;
    std::atomic<bool> m_latencyTestDisabled { false };
    QSharedPointer<QFutureWatcher<GetLocationsResult>> m_getLocationsWatcher;
    // Every fetch started and not yet seen to end, the watched one included:
    // a fetch replaced by restart() still holds this object as its context.
    QList<QFuture<GetLocationsResult>> m_fetches;
};

// The fetch job (pool thread): the regular list, then the IKE list, over the
// mirror addresses in up to four passes. A mirror whose regular list holds
// no location counts as failed. `context` may be null; once it is stopped,
// the download in flight is given up and the job ends ("stopped").
GetLocationsResult getLocations(const QStringList& urls, const QStringList& ikeurls, GetLocationsContext* context);
GetLocationsResult getLocationsPaced(const QStringList& urls, const QStringList& ikeurls, GetLocationsContext* context,
                                     FetchPacing pacing);

// The parsers; both add to one map (code -> location) and one sorted region list.
void locationStrToList(const QString& text, QMap<QString, Location::Ptr>& map, QList<Region::Ptr>& regions);
void ikeLocationStrToList(const QString& text, QMap<QString, Location::Ptr>& map, QList<Region::Ptr>& regions);
// Inserts by code; the first location of a code wins.
void appendLocationToList(QMap<QString, Location::Ptr>& map, const Location::Ptr& location);
// The region of that name from the sorted list, inserted when new.
Region::Ptr sharedRegion(const QString& name, QList<Region::Ptr>& regions);
// The trimmed text when it is a literal IPv4 or IPv6 address, else empty.
QString validateIpAddress(const QString& addressStr, const QString& marker);

// The cache "locations.old".
bool saveLocations(const QString& locations, const QString& ikeLocations);
// The cache's unscrambled bytes as text: UTF-8 when they are valid UTF-8,
// else Latin-1 (the form earlier versions wrote).
QString locationsCacheText(const QByteArray& bytes);
void logLocationsList(const QList<Location::Ptr>& list);

template <typename T>
QList<T> mapToList(const QMap<QString, T>& map)
{
    return map.values();
}

// Hands items created on a pool thread over to the application's thread.
template <typename TPtrList>
void moveObjectsToMainThread(TPtrList list)
{
    QThread* mainThread = QCoreApplication::instance() ? QCoreApplication::instance()->thread() : nullptr;
    if (!mainThread)
        return;
    for (const auto& item : list) {
        if (item && item->thread() != mainThread)
            item->moveToThread(mainThread);
    }
}

// ---------------------------------------------------------------- V2Ray proxy locations

struct GetProxyLocationsResult
{
    QList<ProxyLocation::Ptr> locations;
    QStringList errors; // empty on success
};

// The fetch job (pool thread) over the mirror addresses of "v2rayconf.json".
// A set `stop` gives up the download in flight and ends the job ("stopped").
GetProxyLocationsResult getProxyLocations(const QStringList& urls, FetchStop::Ptr stop = FetchStop::Ptr());
GetProxyLocationsResult getProxyLocationsPaced(const QStringList& urls, FetchPacing pacing,
                                               FetchStop::Ptr stop = FetchStop::Ptr());
QList<ProxyLocation::Ptr> parseProxyLocations(const QByteArray& data);
// The cache "proxys.old".
bool saveProxyLocations(const QString& text);
bool getStoredProxyLocations(QList<ProxyLocation::Ptr>& list);
