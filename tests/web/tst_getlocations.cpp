// The server-list fetch over loopback mirrors: the job's passes, mirror order
// and error texts, and the GetLocations object around it (signals, cache,
// silent refresh, restart, stop).

#include "getservers.h"
#include "httpfixture.h"
#include "settings.h"
#include "testsupport.h"
#include "util/simplecrypt.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QtConcurrent>

#include <atomic>

using HttpFixture::Route;
using HttpFixture::Server;

namespace {

const QByteArray kListA = R"([
  {"l": "Frankfurt", "h": "127.0.0.1", "c": "Germany", "n": "de", "z": "Europe"},
  {"l": "Tokyo", "h": "127.0.0.1", "c": "Japan", "n": "jp", "z": "Asia"}
])";
const QByteArray kListB = R"([{"l": "Lima", "h": "127.0.0.1", "c": "Peru", "n": "pe", "z": "America"}])";
const QByteArray kIke = R"({"VPNs": [{"l": "Paris", "c": "France", "n": "fr-ike", "h": "127.0.0.1", "z": "Europe"}]})";

class FlagContext : public GetLocationsContext
{
public:
    std::atomic<bool> flag { false };
    bool isStopped() const override { return flag.load(); }
};

QStringList codesOf(const QList<Location::Ptr>& list)
{
    QStringList out;
    for (const auto& l : list)
        out << l->code();
    return out;
}

QByteArray cacheBytes()
{
    return TestSupport::readBytes(Settings::locationsFullFileName());
}

} // namespace

class TestGetLocations : public QObject
{
    Q_OBJECT

private:
    Server m_server;
    QString m_refused;

    QString url(const QString& path) const { return m_server.url(path); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        m_refused = QStringLiteral("http://127.0.0.1:%1/locations-desktop.json").arg(HttpFixture::refusingPort());
        m_server.setRoute("/a/locations-desktop.json", Route::ok(kListA));
        m_server.setRoute("/b/locations-desktop.json", Route::ok(kListB));
        m_server.setRoute("/a/ike-winmac.json", Route::ok(kIke));
        m_server.setRoute("/missing", Route::withStatus(404));
        m_server.setRoute("/garbage", Route::ok("<html>maintenance</html>"));
        m_server.setRoute("/empty-array", Route::ok("[]"));
        m_server.setRoute("/empty", Route::empty());
        m_server.setRoute("/moved", Route::redirect(url("/a/locations-desktop.json"), 302, "<a>moved</a>"));
        m_server.setRoute("/slow-a", Route::slow(kListA, 1500));
        m_server.setRoute("/too-big", Route::huge(40 * 1024 * 1024));
    }

    void init()
    {
        m_server.clearRequests();
        QFile::remove(Settings::locationsFullFileName());
    }

    // ------------------------------------------------------------ the job

    void job_firstMirrorFailsSecondAnswers()
    {
        const GetLocationsResult r = QtConcurrent::run(
                                         getLocationsPaced,
                                         QStringList { m_refused, url("/missing"), url("/a/locations-desktop.json") },
                                         QStringList { url("/missing"), url("/a/ike-winmac.json") },
                                         static_cast<GetLocationsContext*>(nullptr), FetchPacing { 1000, 0 })
                                         .result();
        QVERIFY2(r.errors.isEmpty(), qPrintable(r.errors.join(" | ")));
        QCOMPARE(codesOf(r.locations), (QStringList { "de", "fr-ike", "jp" }));
        QCOMPARE(r.locationsStr, QString::fromUtf8(kListA));
        QCOMPARE(r.ikeLocationsStr, QString::fromUtf8(kIke));
        QCOMPARE(r.regions.size(), 2);
        for (const auto& l : r.locations)
            QCOMPARE(l->thread(), QCoreApplication::instance()->thread());
        for (const auto& reg : r.regions)
            QCOMPARE(reg->thread(), QCoreApplication::instance()->thread());
        // Mirrors are tried in order, and the answering one only once.
        QCOMPARE(m_server.requestCount("/a/locations-desktop.json"), 1);
        QCOMPARE(m_server.requestCount("/missing"), 2); // one regular, one IKE
    }

    void job_firstMirrorTimesOut()
    {
        const GetLocationsResult r = QtConcurrent::run(getLocationsPaced,
                                                       QStringList { url("/slow-a"), url("/b/locations-desktop.json") },
                                                       QStringList { url("/a/ike-winmac.json") },
                                                       static_cast<GetLocationsContext*>(nullptr),
                                                       FetchPacing { 300, 0 })
                                         .result();
        QVERIFY2(r.errors.isEmpty(), qPrintable(r.errors.join(" | ")));
        QCOMPARE(r.locationsStr, QString::fromUtf8(kListB));
        QCOMPARE(codesOf(r.locations), (QStringList { "fr-ike", "pe" }));
    }

    // Two failing mirrors, four passes: eight texts, in attempt order.
    void job_everythingFails()
    {
        const GetLocationsResult r = QtConcurrent::run(getLocationsPaced, QStringList { m_refused, url("/missing") },
                                                       QStringList { url("/a/ike-winmac.json") },
                                                       static_cast<GetLocationsContext*>(nullptr),
                                                       FetchPacing { 200, 0 })
                                         .result();
        QCOMPARE(r.errors.size(), 8);
        for (int i = 0; i < 8; i += 2) {
            QVERIFY2(r.errors[i].contains("refused", Qt::CaseInsensitive), qPrintable(r.errors[i]));
            QVERIFY2(r.errors[i + 1].contains("Not Found"), qPrintable(r.errors[i + 1]));
        }
        QVERIFY(r.locations.isEmpty());
        QVERIFY(r.locationsStr.isEmpty());
        QCOMPARE(m_server.requestCount("/a/ike-winmac.json"), 0);
    }

    // The regular list arrives, the IKE list never: the fetch failed.
    void job_ikeListFails()
    {
        const GetLocationsResult r = QtConcurrent::run(
                                         getLocationsPaced, QStringList { url("/a/locations-desktop.json") },
                                         QStringList { url("/missing"), m_refused },
                                         static_cast<GetLocationsContext*>(nullptr), FetchPacing { 200, 0 })
                                         .result();
        QCOMPARE(r.errors.size(), 2);
        QVERIFY(r.ikeLocationsStr.isEmpty());
        QCOMPARE(m_server.requestCount("/a/locations-desktop.json"), 1); // no second pass
    }

    // Answers that arrive but hold no location: four passes, then an error.
    void job_noUsableList_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("error");
        QTest::newRow("garbage") << "/garbage"
                                 << "no locations in the server list";
        QTest::newRow("empty array") << "/empty-array"
                                     << "no locations in the server list";
        QTest::newRow("redirect") << "/moved"
                                  << "no locations in the server list";
        QTest::newRow("empty body") << "/empty"
                                    << "empty answer";
    }

    void job_noUsableList()
    {
        QFETCH(QString, path);
        QFETCH(QString, error);
        const GetLocationsResult r = QtConcurrent::run(getLocationsPaced, QStringList { url(path) },
                                                       QStringList { url("/a/ike-winmac.json") },
                                                       static_cast<GetLocationsContext*>(nullptr),
                                                       FetchPacing { 200, 0 })
                                         .result();
        QVERIFY(r.locations.isEmpty());
        QVERIFY(!r.errors.isEmpty());
        QCOMPARE(r.errors.last(), error);
        QCOMPARE(m_server.requestCount(path), 4);
        QCOMPARE(m_server.requestCount("/a/locations-desktop.json"), 0); // the redirect is not followed
    }

    void job_hugeBody()
    {
        const GetLocationsResult r =
            QtConcurrent::run(getLocationsPaced, QStringList { url("/too-big"), url("/b/locations-desktop.json") },
                              QStringList { url("/a/ike-winmac.json") }, static_cast<GetLocationsContext*>(nullptr),
                              FetchPacing { 5000, 0 })
                .result();
        QVERIFY2(r.errors.isEmpty(), qPrintable(r.errors.join(" | ")));
        QCOMPARE(codesOf(r.locations), (QStringList { "fr-ike", "pe" }));
    }

    void job_stopped()
    {
        FlagContext context;
        context.flag = true;
        const GetLocationsResult r = getLocationsPaced({ url("/a/locations-desktop.json") },
                                                       { url("/a/ike-winmac.json") }, &context, FetchPacing { 200, 0 });
        QCOMPARE(r.errors, QStringList { "stopped" });
        QVERIFY(r.locations.isEmpty());
        QCOMPARE(m_server.requestCount(), 0);

        // Stopped while a mirror never answers: the download is given up
        // long before its time-out, and no further mirror is asked.
        FlagContext later;
        m_server.setHandler([&later](const HttpFixture::Request&) {
            later.flag = true;
            return Route::hangForever();
        });
        QElapsedTimer elapsed;
        elapsed.start();
        const GetLocationsResult r2 = getLocationsPaced({ url("/unrouted"), url("/a/locations-desktop.json") }, {},
                                                        &later, FetchPacing { 30000, 0 });
        m_server.setHandler(nullptr);
        QVERIFY2(elapsed.elapsed() < 10000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(r2.errors, QStringList { "stopped" });
        QCOMPARE(m_server.requestCount("/a/locations-desktop.json"), 0);
    }

    // A mirror answering a list without any location is passed over like a
    // failed one: the next mirror's list is taken in the same pass.
    void job_junkFirstGoodSecond()
    {
        for (const char* junk : { "/garbage", "/empty-array" }) {
            m_server.clearRequests();
            const GetLocationsResult r = QtConcurrent::run(getLocationsPaced,
                                                           QStringList { url(junk), url("/a/locations-desktop.json") },
                                                           QStringList { url("/a/ike-winmac.json") },
                                                           static_cast<GetLocationsContext*>(nullptr),
                                                           FetchPacing { 2000, 0 })
                                             .result();
            QVERIFY2(r.errors.isEmpty(), qPrintable(r.errors.join(" | ")));
            QCOMPARE(codesOf(r.locations), (QStringList { "de", "fr-ike", "jp" }));
            QCOMPARE(r.locationsStr, QString::fromUtf8(kListA));
            QCOMPARE(m_server.requestCount(junk), 1);
            QCOMPARE(m_server.requestCount("/a/locations-desktop.json"), 1);
        }
    }

    // ------------------------------------------------------------ GetLocations

    void object_successStoresAndCaches()
    {
        GetLocations gl(nullptr, { m_refused, url("/a/locations-desktop.json") }, { url("/a/ike-winmac.json") });
        SettingOption::Ptr latencyOff(new SettingOption(true, false)); // no measuring in this test
        gl.setOptionDisableLatencyTest(latencyOff);
        QSignalSpy ok(&gl, &GetLocations::locatoinsGetSuccessfully);
        QSignalSpy failed(&gl, &GetLocations::locatoinsGetError);
        gl.updateLocations();
        QVERIFY(ok.wait(10000));
        QCOMPARE(failed.count(), 0);

        QList<Location::Ptr> locations;
        QList<Region::Ptr> regions;
        gl.extractLocations(locations, regions);
        QCOMPARE(codesOf(locations), (QStringList { "de", "fr-ike", "jp" }));
        QCOMPARE(regions.size(), 2);
        // Taken: a second extract gives what the caller handed in (nothing).
        QList<Location::Ptr> again;
        QList<Region::Ptr> againRegions;
        gl.extractLocations(again, againRegions);
        QVERIFY(again.isEmpty());

        // Every location waits for its measurement, as a copy of its own:
        // the fetched items go to the model, whose merges write into them
        // while a worker may still read one.
        QStringList queued;
        while (Location::Ptr l = gl.extractPingTask()) {
            queued << l->code() + " " + l->host();
            QVERIFY(!locations.contains(l));
        }
        QCOMPARE(queued, (QStringList { "de 127.0.0.1", "fr-ike 127.0.0.1", "jp 127.0.0.1" }));
        QVERIFY(!gl.havePingTask());

        // The cache reads back both lists.
        QList<Location::Ptr> stored;
        QList<Region::Ptr> storedRegions;
        QVERIFY(gl.getStoredLocations(stored, storedRegions));
        QCOMPARE(codesOf(stored), (QStringList { "de", "fr-ike", "jp" }));
        QCOMPARE(Settings::decode(QString::fromLatin1(cacheBytes())), QString::fromUtf8(kListA + "<<>>" + kIke));
        gl.stop();
        QVERIFY(gl.stopped());
    }

    // A failed fetch reports every text and leaves the cache alone.
    void object_failureKeepsCache()
    {
        QVERIFY(saveLocations(QString::fromUtf8(kListB), QString()));
        const QByteArray before = cacheBytes();

        GetLocations gl(nullptr, { url("/a/locations-desktop.json") }, { url("/missing") });
        QSignalSpy ok(&gl, &GetLocations::locatoinsGetSuccessfully);
        QSignalSpy failed(&gl, &GetLocations::locatoinsGetError);
        gl.updateLocations();
        // The IKE list fails in the first pass after a 404: one text.
        QVERIFY(failed.wait(10000));
        QCOMPARE(ok.count(), 0);
        const QStringList errors = failed.first().at(0).value<QList<QString>>();
        QCOMPARE(errors.size(), 1);
        QCOMPARE(failed.first().at(1).toBool(), false);
        QCOMPARE(cacheBytes(), before);
        QVERIFY(!gl.havePingTask());
        gl.stop();
    }

    void object_silentRefresh()
    {
        GetLocations gl(nullptr, { url("/slow-a") }, { url("/missing") });
        QSignalSpy failed(&gl, &GetLocations::locatoinsGetError);
        QSignalSpy silentChanged(&gl, &GetLocations::silentChanged);
        gl.startSilent();
        QVERIFY(gl.silent());
        QCOMPARE(silentChanged.count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount("/slow-a"), 1, 5000);
        {
            LogCapture log;
            gl.startSilent(); // still running: only a warning
            QVERIFY(log.contains("GetLocations thread already running"));
        }
        QVERIFY(failed.wait(15000));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.first().at(1).toBool(), true);
        QCOMPARE(m_server.requestCount("/slow-a"), 1);

        // restart() is never silent.
        gl.restart({ url("/a/locations-desktop.json") }, { url("/missing") });
        QVERIFY(!gl.silent());
        QVERIFY(failed.wait(10000));
        QCOMPARE(failed.last().at(1).toBool(), false);
        gl.stop();
    }

    // restart() while a fetch runs: the new one counts, the old one is ignored.
    void object_restartWhileRunning()
    {
        GetLocations gl(nullptr, { url("/slow-a") }, { url("/a/ike-winmac.json") });
        gl.setOptionDisableLatencyTest(SettingOption::Ptr(new SettingOption(true, false)));
        QSignalSpy ok(&gl, &GetLocations::locatoinsGetSuccessfully);
        gl.updateLocations();
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount("/slow-a"), 1, 5000);
        gl.restart({ url("/b/locations-desktop.json") }, { url("/a/ike-winmac.json") });
        QVERIFY(ok.wait(10000));
        // The old fetch ends too (its answer takes 1.5 s) and is ignored.
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount("/a/ike-winmac.json"), 2, 10000);
        QTest::qWait(300);
        QCOMPARE(ok.count(), 1);
        QList<Location::Ptr> locations;
        QList<Region::Ptr> regions;
        gl.extractLocations(locations, regions);
        QCOMPARE(codesOf(locations), (QStringList { "fr-ike", "pe" }));
        gl.stop();
    }

    // stop() during a fetch: the job gives up before its next download.
    void object_stopDuringFetch()
    {
        m_server.setRoute("/slow-404", [] {
            Route r = Route::withStatus(404);
            r.delayMs = 700;
            return r;
        }());
        GetLocations gl(nullptr, { url("/slow-404"), url("/a/locations-desktop.json") }, { url("/a/ike-winmac.json") });
        QSignalSpy failed(&gl, &GetLocations::locatoinsGetError);
        gl.updateLocations();
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount("/slow-404"), 1, 5000);
        gl.stop();
        QVERIFY(gl.isStopped());
        QCOMPARE(m_server.requestCount("/a/locations-desktop.json"), 0);
        QVERIFY(failed.count() == 1 || failed.wait(5000));
        const QStringList errors = failed.first().at(0).value<QList<QString>>();
        QCOMPARE(errors.last(), QStringLiteral("stopped"));
        // A stopped object fetches nothing more.
        gl.updateLocations();
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.last().at(0).value<QList<QString>>(), QList<QString> { "stopped" });
    }

    // stop() while mirrors never answer or trickle: it gives up the download
    // in flight instead of waiting for its time-out (5 s in the first pass).
    void object_stopDuringStalledMirrors_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("never answers") << "/stall-hang";
        QTest::newRow("trickles") << "/stall-trickle";
    }

    void object_stopDuringStalledMirrors()
    {
        QFETCH(QString, path);
        m_server.setRoute("/stall-hang", Route::hangForever());
        m_server.setRoute("/stall-trickle", Route::trickle(QByteArray(100000, ' '), 10, 100));
        GetLocations gl(nullptr, { url(path), url(path) }, { url(path) });
        QSignalSpy failed(&gl, &GetLocations::locatoinsGetError);
        gl.updateLocations();
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount(path), 1, 5000);
        QElapsedTimer elapsed;
        elapsed.start();
        gl.stop();
        QVERIFY2(elapsed.elapsed() < 3000, qPrintable(QString::number(elapsed.elapsed())));
        QVERIFY(failed.count() == 1 || failed.wait(3000));
        QCOMPARE(failed.first().at(0).value<QList<QString>>(), QList<QString> { "stopped" });
        QCOMPARE(m_server.requestCount(path), 1);
    }

    // A caption with a line break or other control characters from a mirror
    // never makes a log line of its own.
    void hostileCaptionLoggedOnOneLine()
    {
        m_server.setRoute(
            "/hostile/locations-desktop.json",
            Route::ok("[{\"l\": \"Oslo\\n[C] forged line\\r\\u001b[2K\", \"h\": \"not-an-address\\n[C] x\", "
                      "\"c\": \"Norway\\u2028[W] y\", \"n\": \"no\", \"z\": \"Europe\"}]"));
        LogCapture log;
        const GetLocationsResult r = QtConcurrent::run(
                                         getLocationsPaced, QStringList { url("/hostile/locations-desktop.json") },
                                         QStringList { url("/a/ike-winmac.json") },
                                         static_cast<GetLocationsContext*>(nullptr), FetchPacing { 2000, 0 })
                                         .result();
        QVERIFY2(r.errors.isEmpty(), qPrintable(r.errors.join(" | ")));
        QCOMPARE(r.locations.last()->city(), QStringLiteral("Oslo\n[C] forged line\r\x1b[2K"));
        const QStringList mentions = log.matching(QStringLiteral("forged line"));
        QVERIFY(mentions.size() >= 2); // the list entry and the address check
        for (const QString& line : mentions) {
            QVERIFY2(line.contains(QLatin1String("Oslo\\n[C] forged line\\r\\x1b[2K")), qPrintable(line));
            for (const QChar c : line)
                QVERIFY2(c.category() != QChar::Other_Control && c != QChar::LineSeparator, qPrintable(line));
        }
    }

    // The cache as written by earlier versions (the lists kept as Latin-1)
    // and as written now (UTF-8) both read back with their own letters.
    void cacheReadAsUtf8OrLatin1()
    {
        const QByteArray utf8List =
            QStringLiteral(R"([{"l": "Zürich", "h": "127.0.0.1", "c": "Schweiz", "n": "ch", "z": "Europa"}])").toUtf8();
        SimpleCrypt crypt(7342);
        crypt.setCompressionMode(SimpleCrypt::CompressionAlways);
        crypt.setIntegrityProtectionMode(SimpleCrypt::ProtectionHash);
        const QByteArray latin1List = QString::fromUtf8(utf8List).toLatin1();
        QVERIFY(latin1List.contains("Z\xfcrich"));
        for (const QByteArray& list : { latin1List, utf8List }) {
            QFile cache(Settings::locationsFullFileName());
            QVERIFY(cache.open(QIODevice::WriteOnly | QIODevice::Truncate));
            cache.write(crypt.encryptToString(list + "<<>>").toLatin1());
            cache.close();
            GetLocations gl(nullptr, {}, {});
            QList<Location::Ptr> stored;
            QList<Region::Ptr> regions;
            QVERIFY(gl.getStoredLocations(stored, regions));
            QCOMPARE(stored.size(), 1);
            QCOMPARE(stored.first()->city(), QStringLiteral("Zürich"));
            gl.stop();
        }
    }

    // Destroyed without stop(): logged, and nothing is left running.
    void object_destroyedWithoutStop()
    {
        LogCapture log;
        {
            GetLocations gl(nullptr, { url("/slow-a") }, { url("/a/ike-winmac.json") });
            gl.updateLocations();
            QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount("/slow-a"), 1, 5000);
        }
        QVERIFY(log.contains("GetLocations was not stopped befer destroy"));
    }

    void object_latencyOption()
    {
        GetLocations gl(nullptr, {}, {});
        QSignalSpy changed(&gl, &GetLocations::optionDisableLatencyTestChanged);
        SettingOption::Ptr option(new SettingOption(false, false));
        gl.setOptionDisableLatencyTest(option);
        gl.setOptionDisableLatencyTest(option);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(gl.optionDisableLatencyTest(), option);
        QVERIFY(!gl.latencyTestDisabled());
        option->setValue(true);
        QVERIFY(gl.latencyTestDisabled());
        option->setValue(false);
        QVERIFY(!gl.latencyTestDisabled());
        gl.setOptionDisableLatencyTest(SettingOption::Ptr());
        QCOMPARE(changed.count(), 2);
        option->setValue(true); // no longer followed
        QVERIFY(!gl.latencyTestDisabled());
        gl.stop();
    }
};

OSTREL_TEST_MAIN(TestGetLocations)
#include "tst_getlocations.moc"
