#include "testsupport.h"

#include "deployment.h"
#include "httpfixture.h"
#include "serverlists.h"
#include "settings.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QUrl>

using namespace ServerLists;

namespace {

QByteArray newsWithIds(const QList<int>& ids)
{
    QByteArrayList entries;
    for (int id : ids) {
        const QByteArray n = QByteArray::number(id);
        entries << "{\"id\": \"" + n + "\", \"title\": \"News " + n
                + "\", \"date\": \"1/2/2024\", \"url\": \"http://127.0.0.1/n/" + n + "\"}";
    }
    return "[" + entries.join(",") + "]";
}

} // namespace

// The news, external-address and server-list feeds as the model turns them
// into state. News and the address come from the deployment's addresses, so
// a server takes the primary API port (fixed) for these tests.
class TestModelFeeds : public QObject
{
    Q_OBJECT

    HttpFixture::Server m_server;

    static void invoke(Model& model, const char* slot) { QVERIFY(QMetaObject::invokeMethod(&model, slot)); }

    static void updateExternalIp(Model& model, bool completeOnly)
    {
        QVERIFY(QMetaObject::invokeMethod(&model, "updateExternalIp", Q_ARG(bool, completeOnly)));
    }

private slots:
    void initTestCase()
    {
        const QUrl primary(Deployment::value("api/primary"));
        const QUrl geo(Deployment::value("web/geo"));
        if (primary.host() != QLatin1String("127.0.0.1") || geo.host() != QLatin1String("127.0.0.1")
            || primary.port() != geo.port() || primary.path() != QLatin1String("/api"))
            QSKIP("the compiled-in deployment does not put the API and the address check on one loopback port");
        // Another run on this machine may hold the port for a while.
        QDeadlineTimer deadline(60000);
        while (!m_server.start(HttpFixture::Server::Http, quint16(primary.port()))) {
            QVERIFY2(!deadline.hasExpired(), "the primary API port stays taken");
            QTest::qWait(500);
        }
        m_server.setRoute("/api/locations-desktop.json", HttpFixture::Route::ok(regular()));
        m_server.setRoute("/api/ike-winmac.json", HttpFixture::Route::ok(ike()));
        m_server.setRoute(
            "/api/v2rayconf.json",
            HttpFixture::Route::ok(
                R"j([{"n": "nlproxy", "c": "Netherlands", "address": "127.0.0.1", "port": "10086", "userid": "u", "alterid": "0", "path": "/ray"}])j"));
    }

    void init()
    {
        TestSupport::resetSettings();
        QFile::remove(Settings::locationsFullFileName());
        settings().setValue("disableLatencyTest", true);
        m_server.clearRequests();
    }

    void newsAttentionCounterFollowsTheLastReadId()
    {
        m_server.setRoute("/api/latest-news.json", HttpFixture::Route::ok(newsWithIds({ 3, 7, 12 })));
        ModelHolder model(new Model(nullptr));
        invoke(*model, "updateNews");
        QTRY_COMPARE_WITH_TIMEOUT(model->newsAttentionCounter(), 12, 20000);
        QCOMPARE(model->news()->count(), 3);

        model->onNewsReaded();
        QCOMPARE(Settings::lastNotifiedNewsId(), QStringLiteral("12"));
        QCOMPARE(model->newsAttentionCounter(), 0);

        m_server.setRoute("/api/latest-news.json", HttpFixture::Route::ok(newsWithIds({ 14, 12 })));
        invoke(*model, "updateNews");
        QTRY_COMPARE_WITH_TIMEOUT(model->newsAttentionCounter(), 2, 20000);
        model->onNewsReaded();
        QCOMPARE(Settings::lastNotifiedNewsId(), QStringLiteral("14"));
    }

    void newsRequestsDuringAFetchCollapseIntoOne()
    {
        const QString path = QStringLiteral("/api/latest-news.json");
        m_server.setRoute(path, HttpFixture::Route::slow(newsWithIds({ 1, 2 }), 700));
        LogCapture log;
        ModelHolder model(new Model(nullptr));
        QSignalSpy resets(model->news(), &QAbstractItemModel::modelReset);
        invoke(*model, "updateNews");
        invoke(*model, "updateNews");
        invoke(*model, "updateNews");
        QCOMPARE(log.count("!newsWatcher->isFinished"), 2);
        QTRY_COMPARE_WITH_TIMEOUT(resets.count(), 2, 30000);
        QTest::qWait(300);
        QCOMPARE(m_server.requestCount(path), 2);
        QCOMPARE(resets.count(), 2);
    }

    // For each feed, a request made while its fetch runs fetches once more
    // after it, also when handling the first result threw (here a slot on a
    // signal the handler emits).
    void aRequestDuringAFetchRunsOnceAfterItAlsoWhenHandlingThrew()
    {
        ModelHolder model(new Model(nullptr));
        bool thrown = false;
        const auto throwOnce = [&thrown] {
            if (!thrown) {
                thrown = true;
                throw std::runtime_error("handling the result failed");
            }
        };
        const auto requestTwice = [&](const char* slot, const QString& path, const QByteArray& body) {
            thrown = false;
            m_server.setRoute(path, HttpFixture::Route::slow(body, 700));
            invoke(*model, slot);
            invoke(*model, slot);
        };

        // News: the first list throws before the badge is set; the second sets it.
        const QString news = QStringLiteral("/api/latest-news.json");
        QMetaObject::Connection thrower = connect(model->news(), &QAbstractItemModel::modelReset, throwOnce);
        requestTwice("updateNews", news, newsWithIds({ 1, 2 }));
        QTRY_COMPARE_WITH_TIMEOUT(model->newsAttentionCounter(), 2, 30000);
        QVERIFY(thrown);
        disconnect(thrower);

        // External address: the first answer throws before the address is set.
        const QString geo = QStringLiteral("/geo/");
        thrower = connect(model.get(), &Model::externalCountryChanged, throwOnce);
        requestTwice("updateExternalIp", geo, R"j({"ip": "198.51.100.8", "country_name": "Testland"})j");
        QTRY_COMPARE_WITH_TIMEOUT(model->externalIP(), QStringLiteral("198.51.100.8"), 30000);
        QVERIFY(thrown);
        disconnect(thrower);

        // Proxy list: the first list throws; the second is applied.
        const QString proxies = QStringLiteral("/api/v2rayconf.json");
        QSignalSpy proxyLists(model->proxyLocations(), &QAbstractItemModel::modelReset);
        thrower = connect(model->proxyLocations(), &QAbstractItemModel::modelReset, throwOnce);
        requestTwice(
            "updateV2RayLocations", proxies,
            R"j([{"n": "nlproxy", "c": "Netherlands", "address": "127.0.0.1", "port": "10086", "userid": "u", "alterid": "0", "path": "/ray"}])j");
        QTRY_COMPARE_WITH_TIMEOUT(proxyLists.count(), 2, 30000);
        QVERIFY(thrown);
        QCOMPARE(model->proxyLocations()->count(), 3);

        // Exactly one fetch followed each first one.
        QTest::qWait(1000);
        QCOMPARE(m_server.requestCount(news), 2);
        QCOMPARE(m_server.requestCount(geo), 2);
        QCOMPARE(m_server.requestCount(proxies), 2);
        QCOMPARE(proxyLists.count(), 2);
    }

    void externalAddressAndCountry()
    {
        m_server.setRoute("/geo/", HttpFixture::Route::ok(R"j({"ip": "198.51.100.7", "country_name": ""})j"));
        ModelHolder model(new Model(nullptr));
        const QString tooltip = model->trayIcon()->toolTip();
        updateExternalIp(*model, false);
        QTRY_COMPARE_WITH_TIMEOUT(model->externalIP(), QStringLiteral("198.51.100.7"), 20000);
        QCOMPARE(model->externalCountry(), QStringLiteral("-"));
        // Not connected: the tooltip stays.
        QCOMPARE(model->trayIcon()->toolTip(), tooltip);

        LogCapture log;
        m_server.setRoute("/geo/", HttpFixture::Route::withStatus(500));
        updateExternalIp(*model, false);
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("Get external Ip error:"), 20000);
        QCOMPARE(model->externalIP(), QStringLiteral("198.51.100.7"));
        QCOMPARE(model->externalCountry(), QStringLiteral("-"));

        // The closing sequence waits for a running lookup without a new one.
        m_server.setRoute("/geo/",
                          HttpFixture::Route::slow(R"j({"ip": "203.0.113.9", "countryName": "Testland"})j", 500));
        updateExternalIp(*model, false);
        updateExternalIp(*model, true);
        QCoreApplication::processEvents();
        QCOMPARE(model->externalIP(), QStringLiteral("203.0.113.9"));
        QCOMPARE(model->externalCountry(), QStringLiteral("Testland"));
        QCOMPARE(m_server.requestCount("/geo/"), 3);
    }

    // The address check's answer is logged with its control characters
    // escaped: a status text holding a carriage return and a terminal
    // escape makes no line of its own.
    void hostileGeoAnswerLoggedOnOneLine()
    {
        HttpFixture::Route hostile = HttpFixture::Route::withStatus(500);
        hostile.reason = "Oops\r[C] forged geo line\x1b[2K";
        m_server.setRoute("/geo/", hostile);
        ModelHolder model(new Model(nullptr));
        LogCapture log;
        updateExternalIp(*model, false);
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("Get external Ip error:"), 20000);
        const QStringList lines = log.matching(QStringLiteral("forged geo line"));
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(QLatin1String("Oops\\r[C] forged geo line\\x1b[2K")),
                 qPrintable(lines.first()));
        for (const QChar c : lines.first())
            QVERIFY2(c.category() != QChar::Other_Control, qPrintable(lines.first()));
    }

    void listFailuresFallBackToTheCache()
    {
        ModelHolder model(new Model(nullptr));
        QVERIFY(QMetaObject::invokeMethod(model.get(), "setupGetLocationsHandlers"));
        QSignalSpy toasts(model.get(), &Model::qmlShowToast);

        emit getLocations().locatoinsGetError({ "mirror one failed", "mirror two failed" }, false);
        QCOMPARE(model->getLocationsState(), QStringLiteral("Can't update locations."));
        QCOMPARE(toasts.count(), 1);
        QCOMPARE(toasts.at(0).at(0).toString(), QStringLiteral("Get locations errors"));
        QCOMPARE(toasts.at(0).at(1).toString(), QStringLiteral("mirror one failed\nmirror two failed"));
        QVERIFY(!model->locationsReceived());

        // A silent failure with a cache: the cached list is applied, no toast.
        QVERIFY(saveLocations(QString::fromUtf8(regular()), QString::fromUtf8(ike())));
        emit getLocations().locatoinsGetError({ "refresh failed" }, true);
        QVERIFY(model->locationsReceived());
        QCOMPARE(model->getLocationsState(), QString()); // the selector's status line is gone
        QCOMPARE(model->locations()->count(), 8);
        QVERIFY(model->selectedLocation());
        QCOMPARE(toasts.count(), 1);

        // Latencies reach the model's own items; unknown codes are dropped.
        LogCapture log;
        emit getLocations().pingMeasured("gb", 42);
        QCOMPARE(model->locations()->find("gb")->pingMs(), 42);
        emit getLocations().pingMeasured("gone", 5);
        QVERIFY(log.contains("object not found gone"));

        // A refresh forgets every latency and fetches both lists again.
        model->refreshLocations();
        QCOMPARE(model->locations()->find("gb")->pingMs(), -1);
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requestCount("/api/ike-winmac.json") == 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("M0"), 20000);
    }

    void cleanupTestCase() { m_server.stop(); }
};

OSTREL_TEST_MAIN(TestModelFeeds)
#include "tst_modelfeeds.moc"
