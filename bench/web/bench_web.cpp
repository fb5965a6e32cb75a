// Server directory figures over loopback: fetch and parse a 5,000-location
// list (plus a 500-location IKE list) from a mirror, apply it through
// GetLocations (store, cache, queue), read the cache back, and measure the
// latency of 200 loopback addresses (127.0.1.1 to 127.0.1.200) with the
// system's ping. Prints times; asserts nothing.

#include "getservers.h"
#include "httpfixture.h"
#include "log.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMutex>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtConcurrent>

#include <algorithm>
#include <vector>

namespace {

QByteArray regularList(int count)
{
    QByteArray json = "[";
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            json += ',';
        json += QStringLiteral(
                    "{\"l\":\"City %1\",\"h\":\"10.%2.%3.1\",\"c\":\"Country %4\",\"n\":\"c%5\",\"z\":\"Region %6\"}")
                    .arg(i)
                    .arg((i / 256) % 256)
                    .arg(i % 256)
                    .arg(i % 150)
                    .arg(i, 5, 10, QLatin1Char('0'))
                    .arg(i % 9)
                    .toUtf8();
    }
    return json + "]";
}

QByteArray ikeList(int count)
{
    QByteArray json = "{\"VPNs\":[";
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            json += ',';
        json += QStringLiteral(
                    "{\"name\":\"City %1\",\"address\":\"10.200.%2.%3\",\"country\":\"Country %4\",\"n\":\"ike%5\","
                    "\"remoteIdentifier\":\"ike%5.example\",\"z\":\"Region %6\"}")
                    .arg(i)
                    .arg(i / 256)
                    .arg(i % 256)
                    .arg(i % 150)
                    .arg(i)
                    .arg(i % 9)
                    .toUtf8();
    }
    return json + "]}";
}

struct Stats
{
    std::vector<double> ms;
    void add(qint64 nsecs) { ms.push_back(double(nsecs) / 1e6); }
    QString text()
    {
        std::sort(ms.begin(), ms.end());
        double sum = 0;
        for (double v : ms)
            sum += v;
        return QStringLiteral("min %1 ms, median %2 ms, mean %3 ms (%4 runs)")
            .arg(ms.front(), 0, 'f', 1)
            .arg(ms[ms.size() / 2], 0, 'f', 1)
            .arg(sum / double(ms.size()), 0, 'f', 1)
            .arg(ms.size());
    }
};

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ostrel"));
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DataLocation));
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {}); // quiet
    QTextStream out(stdout);

    const int rounds = 5;
    const QByteArray regular = regularList(5000);
    const QByteArray ike = ikeList(500);
    HttpFixture::Server mirror;
    if (!mirror.start()) {
        out << "cannot start the loopback mirror\n";
        return 1;
    }
    mirror.setRoute("/api/locations-desktop.json", HttpFixture::Route::ok(regular));
    mirror.setRoute("/api/ike-winmac.json", HttpFixture::Route::ok(ike));
    const QStringList urls { mirror.url("/api/locations-desktop.json") };
    const QStringList ikeurls { mirror.url("/api/ike-winmac.json") };

    out << "server list: " << regular.size() / 1024 << " KiB regular (5000 locations), " << ike.size() / 1024
        << " KiB IKE (500 locations)\n";

    // Fetch and parse (the pool job alone).
    Stats fetch;
    int count = 0;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        const GetLocationsResult r =
            QtConcurrent::run(getLocations, urls, ikeurls, static_cast<GetLocationsContext*>(nullptr)).result();
        fetch.add(t.nsecsElapsed());
        count = r.locations.size();
        if (!r.errors.isEmpty()) {
            out << "fetch failed: " << r.errors.join(" | ") << "\n";
            return 1;
        }
    }
    out << "fetch + parse (" << count << " locations): " << fetch.text() << "\n";

    // Fetch, parse and apply: from updateLocations() to the lists in hand (cache written, queue filled).
    Stats apply;
    for (int i = 0; i < rounds; ++i) {
        GetLocations gl(nullptr, urls, ikeurls);
        gl.setOptionDisableLatencyTest(SettingOption::Ptr(new SettingOption(true, false)));
        bool done = false;
        QObject::connect(&gl, &GetLocations::locatoinsGetSuccessfully, [&done] { done = true; });
        QObject::connect(&gl, &GetLocations::locatoinsGetError, [&done] { done = true; });
        QElapsedTimer t;
        t.start();
        gl.updateLocations();
        while (!done && t.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        QList<Location::Ptr> locations;
        QList<Region::Ptr> regions;
        gl.extractLocations(locations, regions);
        apply.add(t.nsecsElapsed());
        gl.stop();
    }
    out << "fetch + parse + apply: " << apply.text() << "\n";

    Stats cache;
    for (int i = 0; i < rounds; ++i) {
        GetLocations gl(nullptr, {}, {});
        QList<Location::Ptr> locations;
        QList<Region::Ptr> regions;
        QElapsedTimer t;
        t.start();
        gl.getStoredLocations(locations, regions);
        cache.add(t.nsecsElapsed());
        count = locations.size();
        gl.stop();
    }
    out << "cache read + parse (" << count << " locations): " << cache.text() << "\n";

    // Latency of 200 loopback addresses, five workers at a time.
    {
        QList<Location::Ptr> locations;
        for (int i = 1; i <= 200; ++i) {
            Location::Ptr l(new Location(QString()));
            l->setCode(QStringLiteral("lo%1").arg(i));
            l->setHost(QStringLiteral("127.0.1.%1").arg(i));
            locations << l;
        }
        GetLocations gl(nullptr, {}, {});
        QMutex mutex;
        QSet<QString> done;
        int failed = 0;
        QObject::connect(
            &gl, &GetLocations::pingMeasured, &gl,
            [&](const QString& code, int ms) {
                QMutexLocker lock(&mutex);
                if (ms >= 0)
                    done.insert(code);
                else
                    ++failed;
            },
            Qt::DirectConnection);
        const auto doneCount = [&]() {
            QMutexLocker lock(&mutex);
            return done.size();
        };
        QElapsedTimer t;
        t.start();
        gl.setPingList(locations);
        gl.startPingThread(); // begins with a pause of 1000 ms, included below
        while ((gl.havePingTask() || doneCount() < 200) && t.elapsed() < 300000)
            QThread::msleep(5);
        const qint64 elapsed = t.elapsed();
        gl.stop();
        out << "latency of 200 loopback addresses: " << elapsed << " ms (" << elapsed - 1000
            << " ms after the scheduler's first pause), " << doneCount() << " measured, " << failed
            << " failed reports\n";
    }
    return 0;
}
