#include "checknewversion.h"
#include "httpfixture.h"
#include "testsupport.h"

#include <QSignalSpy>

using HttpFixture::Route;

using Version = UpdateManager::Version;
Q_DECLARE_METATYPE(UpdateManager::Version)

class TestVersionCheck : public QObject
{
    Q_OBJECT

private slots:
    void detectVersion_data();
    void detectVersion();
    void versionOrder_data();
    void versionOrder();
    void firstParsableEntryIsTaken();
    void onlyNewerVersionIsAnnounced_data();
    void onlyNewerVersionIsAnnounced();
    void failingMirrorsAreSkippedInOrder();
    void allMirrorsFailing();
    void slowMirrorIsAbandoned();
    void interruptionEndsTheWait();
    void compressedListRefusedWithinMemory();

private:
    // One pass of the version check with short waits.
    void runPass(UpdateManager& manager);
    static QByteArray versionList(const QString& version, const QString& url = "http://127.0.0.1/pkg");
};

void TestVersionCheck::detectVersion_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QString>("version");
    QTest::newRow("plain") << "2.3.0" << true << "2.3.0";
    QTest::newRow("middle not a number") << "1.x.3" << true << "1.0.3";
    QTest::newRow("last not a number") << "1.2.x" << false << "9.9.9";
    QTest::newRow("major only") << "3" << true << "3.0.0";
    QTest::newRow("two parts") << "4.5" << true << "4.5.0";
    QTest::newRow("fourth part ignored") << "2.1.1.9" << true << "2.1.1";
    QTest::newRow("empty third") << "2.1." << false << "9.9.9";
    QTest::newRow("empty") << "" << false << "9.9.9";
    QTest::newRow("word") << "abc" << false << "9.9.9";
}

void TestVersionCheck::detectVersion()
{
    QFETCH(QString, text);
    QFETCH(bool, parsed);
    QFETCH(QString, version);
    Version ver(9, 9, 9);
    QCOMPARE(UpdateManager::detectVersion(text, ver), parsed);
    QCOMPARE(ver.toStr(), version);
}

void TestVersionCheck::versionOrder_data()
{
    QTest::addColumn<Version>("a");
    QTest::addColumn<Version>("b");
    QTest::addColumn<bool>("less");
    QTest::newRow("third counts as a number") << Version(2, 1, 9) << Version(2, 1, 10) << true;
    QTest::newRow("equal") << Version(2, 1, 1) << Version(2, 1, 1) << false;
    QTest::newRow("minor before third") << Version(2, 2, 0) << Version(2, 1, 9) << false;
    QTest::newRow("major before minor") << Version(1, 9, 9) << Version(2, 0, 0) << true;
}

void TestVersionCheck::versionOrder()
{
    QFETCH(Version, a);
    QFETCH(Version, b);
    QFETCH(bool, less);
    QCOMPARE(a < b, less);
    if (!less && !(a == b))
        QVERIFY(b < a);
}

QByteArray TestVersionCheck::versionList(const QString& version, const QString& url)
{
    return QStringLiteral("[{\"version\": \"%1\", \"url\": \"%2\", \"notes\": 1}]").arg(version, url).toUtf8();
}

void TestVersionCheck::runPass(UpdateManager& manager)
{
    manager.setTimeouts(2000, 10);
    manager.start();
    QVERIFY(manager.wait(30000));
}

void TestVersionCheck::firstParsableEntryIsTaken()
{
    HttpFixture::Server server;
    QVERIFY(server.start());
    server.setRoute(
        "/api/versionmac.json",
        Route::ok(
            R"([{"version": "abc", "url": "first"}, {"version": "2.3.0", "url": "second"}, {"version": "3.0.0", "url": "third"}])"));
    UpdateManager manager(nullptr, { server.url("/api/versionmac.json") }, "update");
    QSignalSpy announced(&manager, &UpdateManager::newVersionAvailable);
    runPass(manager);
    QCOMPARE(manager.newVersion(), QString("2.3.0"));
    QCOMPARE(manager.newVersionUrl(), QString("second"));
    QCOMPARE(announced.count(), 1);
}

void TestVersionCheck::onlyNewerVersionIsAnnounced_data()
{
    QTest::addColumn<QString>("offered");
    QTest::addColumn<int>("announcements");
    QTest::newRow("newer third") << "2.1.2" << 1;
    QTest::newRow("newer third, two digits") << "2.1.10" << 1;
    QTest::newRow("same") << "2.1.1" << 0;
    QTest::newRow("older") << "2.0.9" << 0;
}

void TestVersionCheck::onlyNewerVersionIsAnnounced()
{
    QFETCH(QString, offered);
    QFETCH(int, announcements);
    HttpFixture::Server server;
    QVERIFY(server.start());
    server.setRoute("/v.json", Route::ok(versionList(offered)));
    // A second mirror is not asked once the first answered.
    UpdateManager manager(nullptr, { server.url("/v.json"), server.url("/other.json") }, "update");
    QCOMPARE(manager.currentVersion(), QString("2.1.1"));
    QSignalSpy announced(&manager, &UpdateManager::newVersionAvailable);
    runPass(manager);
    QCOMPARE(announced.count(), announcements);
    QCOMPARE(manager.newVersion(), offered);
    QCOMPARE(server.requestCount("/other.json"), 0);
}

void TestVersionCheck::failingMirrorsAreSkippedInOrder()
{
    HttpFixture::Server server;
    QVERIFY(server.start());
    server.setRoute("/missing.json", Route::withStatus(404, versionList("7.0.0")));
    server.setRoute("/object.json", Route::ok(R"({"version": "7.0.0", "url": "x"})"));
    server.setRoute("/junk.json", Route::ok("<html>not json</html>"));
    server.setRoute("/dropped.json", Route::dropAfter(0));
    server.setRoute("/good.json", Route::ok(versionList("2.2.0", "good")));
    const QStringList order = { "/missing.json", "/object.json", "/junk.json", "/dropped.json", "/good.json" };
    QStringList urls;
    for (const QString& path : order)
        urls << server.url(path);
    urls << server.url("/never.json");
    UpdateManager manager(nullptr, urls, "update");
    QSignalSpy announced(&manager, &UpdateManager::newVersionAvailable);
    runPass(manager);

    QCOMPARE(manager.newVersion(), QString("2.2.0"));
    QCOMPARE(manager.newVersionUrl(), QString("good"));
    QCOMPARE(announced.count(), 1);
    QStringList asked;
    for (const HttpFixture::Request& request : server.requests())
        asked << QString::fromUtf8(request.path);
    // Qt resends a request once when the connection closes before an answer.
    asked.removeDuplicates();
    QCOMPARE(asked, order);
}

void TestVersionCheck::allMirrorsFailing()
{
    HttpFixture::Server server;
    QVERIFY(server.start());
    server.setRoute("/empty.json", Route::ok("[]"));
    const QString refused = QStringLiteral("http://127.0.0.1:%1/v.json").arg(HttpFixture::refusingPort());
    UpdateManager manager(nullptr, { server.url("/empty.json"), refused, server.url("/404.json") }, "update");
    QSignalSpy announced(&manager, &UpdateManager::newVersionAvailable);
    runPass(manager);
    QCOMPARE(manager.newVersion(), QString("2.1.1"));
    QVERIFY(manager.newVersionUrl().isEmpty());
    QCOMPARE(announced.count(), 0);
    // One pass: every mirror once, none again.
    QCOMPARE(server.requestCount(), 2);
}

void TestVersionCheck::slowMirrorIsAbandoned()
{
    HttpFixture::Server slow, fast;
    QVERIFY(slow.start());
    QVERIFY(fast.start());
    // The slow mirror would offer a newer version, too late.
    slow.setRoute("/v.json", Route::slow(versionList("9.0.0"), 2500));
    fast.setRoute("/v.json", Route::ok(versionList("2.4.0", "fast")));
    UpdateManager manager(nullptr, { slow.url("/v.json"), fast.url("/v.json") }, "update");
    QSignalSpy announced(&manager, &UpdateManager::newVersionAvailable);
    manager.setTimeouts(300, 10);
    manager.start();
    QVERIFY(manager.wait(30000));
    QCOMPARE(manager.newVersion(), QString("2.4.0"));
    QCOMPARE(manager.newVersionUrl(), QString("fast"));
    QCOMPARE(slow.requestCount(), 1);
}

void TestVersionCheck::interruptionEndsTheWait()
{
    HttpFixture::Server server;
    QVERIFY(server.start());
    server.setRoute("/hang.json", Route::hangForever());
    // Default waits: 30 s per request, far beyond the wait below.
    UpdateManager manager(nullptr, { server.url("/hang.json"), server.url("/hang.json") }, "update");
    manager.start();
    QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), 1, 10000);
    manager.requestInterruption();
    QVERIFY(manager.wait(10000));
    QCOMPARE(server.requestCount(), 1);
    QCOMPARE(manager.newVersion(), QString("2.1.1"));
}

// A mirror sending a list that inflates to 1 GiB although the plain list
// was asked for: refused without inflating it, the next mirror is asked.
void TestVersionCheck::compressedListRefusedWithinMemory()
{
    const qint64 mib = 1024 * 1024;
    const QByteArray bomb = HttpFixture::gzipOfZeros(1024 * mib);
    QVERIFY(!bomb.isEmpty());
    Route compressed = Route::ok(bomb);
    compressed.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
    HttpFixture::Server server;
    QVERIFY(server.start());
    server.setRoute("/bomb.json", compressed);
    server.setRoute("/v.json", Route::ok(versionList("2.4.0", "plain")));
    UpdateManager manager(nullptr, { server.url("/bomb.json"), server.url("/v.json") }, "update");
    QVERIFY(HttpFixture::resetPeakMemory());
    manager.setTimeouts(20000, 10);
    manager.start();
    QVERIFY(manager.wait(60000));
#if OSTREL_PEAK_MEMORY_MEANINGFUL
    const qint64 peak = HttpFixture::peakMemoryBytes();
    QVERIFY2(peak > 0 && peak < 256 * mib, qPrintable(QString::number(peak)));
#endif
    QCOMPARE(manager.newVersion(), QString("2.4.0"));
    QCOMPARE(manager.newVersionUrl(), QString("plain"));
}

OSTREL_TEST_MAIN(TestVersionCheck, TestMain::Core)
#include "tst_versioncheck.moc"
