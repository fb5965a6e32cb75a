// The V2Ray proxy-location list: parser, fetch over loopback mirrors, cache.

#include "getservers.h"
#include "httpfixture.h"
#include "settings.h"
#include "testsupport.h"

#include <QFile>
#include <QtConcurrent>

using HttpFixture::Route;
using HttpFixture::Server;

namespace {

const QByteArray kThree =
    "[\n"
    "  {\"n\": \"nlproxy\", \"c\": \"Netherlands\", \"address\": \"10.2.0.1\", \"port\": \"443\", \"userid\": \"u-1\", \"alterid\": \"0\", \"path\": \"/ray\"},\n"
    "  {\"n\": \"usproxy\", \"c\": \"USA\", \"address\": \"proxy.example.net\", \"port\": 8443, \"userid\": \"u-2\", \"alterid\": \"4\"},\n"
    "  {\"n\": \"cfproxy\", \"c\": \"Café \\\"CDN\\\"\", \"address\": \"2001:db8::7\", \"port\": \"10086\", \"userid\": \"u-3\", \"alterid\": \"0\", \"path\": \"/w\"}\n"
    "]";

QByteArray cacheBytes()
{
    return TestSupport::readBytes(Settings::proxyLocationsFullFileName());
}

QStringList idsOf(const QList<ProxyLocation::Ptr>& list)
{
    QStringList out;
    for (const auto& p : list)
        out << p->id();
    return out;
}

} // namespace

class TestProxyLocations : public QObject
{
    Q_OBJECT

private:
    Server m_server;

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        m_server.setRoute("/three", Route::ok(kThree));
        m_server.setRoute("/empty-array", Route::ok("[]"));
        m_server.setRoute("/garbage", Route::ok("<html>"));
        m_server.setRoute("/missing", Route::withStatus(404));
    }

    void init()
    {
        QFile::remove(Settings::proxyLocationsFullFileName());
        m_server.clearRequests();
    }

    void parse_fields()
    {
        const QList<ProxyLocation::Ptr> list = parseProxyLocations(kThree);
        QCOMPARE(idsOf(list), (QStringList { "nlproxy", "usproxy", "cfproxy" }));
        const ProxyLocation::Ptr nl = list[0];
        QCOMPARE(nl->caption(), QStringLiteral("Netherlands"));
        QCOMPARE(nl->address(), QStringLiteral("10.2.0.1"));
        QCOMPARE(nl->port(), QStringLiteral("443"));
        QCOMPARE(nl->userid(), QStringLiteral("u-1"));
        QCOMPARE(nl->alterid(), QStringLiteral("0"));
        QCOMPARE(nl->path(), QStringLiteral("/ray"));
        // A host name is a valid proxy address; a number is a port; no path is an empty one.
        QCOMPARE(list[1]->address(), QStringLiteral("proxy.example.net"));
        QCOMPARE(list[1]->port(), QStringLiteral("8443"));
        QCOMPARE(list[1]->path(), QString());
        // UTF-8 and quotes in the caption (shown, never written to a file).
        QCOMPARE(list[2]->caption(), QStringLiteral("Café \"CDN\""));
    }

    void parse_badInput_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("ids");
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("garbage") << QByteArray("\xff\xfe<html>") << QStringList();
        QTest::newRow("object") << QByteArray(R"({"n":"x"})") << QStringList();
        QTest::newRow("truncated") << kThree.left(kThree.size() / 2) << QStringList();
        QTest::newRow("empty array") << QByteArray("[]") << QStringList();
    }

    void parse_badInput()
    {
        QFETCH(QByteArray, data);
        QFETCH(QStringList, ids);
        QCOMPARE(idsOf(parseProxyLocations(data)), ids);
    }

    // Values that go into the V2Ray configuration must not be able to break it.
    void parse_unsafeEntriesSkipped_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::newRow("newline in path") << QByteArray(
            "{\"n\":\"x\",\"address\":\"10.0.0.1\",\"port\":\"1\",\"path\":\"/a\\n}\"}");
        QTest::newRow("quote in userid") << QByteArray(
            "{\"n\":\"x\",\"address\":\"10.0.0.1\",\"port\":\"1\",\"userid\":\"a\\\",\\\"b\"}");
        QTest::newRow("backslash in alterid")
            << QByteArray("{\"n\":\"x\",\"address\":\"10.0.0.1\",\"port\":\"1\",\"alterid\":\"0\\\\\"}");
        QTest::newRow("quote in path") << QByteArray(
            "{\"n\":\"x\",\"address\":\"10.0.0.1\",\"port\":\"1\",\"path\":\"/\\\"\"}");
        QTest::newRow("address with blank") << QByteArray(R"({"n":"x","address":"10.0.0.1 x","port":"1"})");
        QTest::newRow("address an option") << QByteArray(R"({"n":"x","address":"-c","port":"1"})");
        QTest::newRow("no address") << QByteArray(R"({"n":"x","port":"1"})");
        QTest::newRow("port text") << QByteArray("{\"n\":\"x\",\"address\":\"10.0.0.1\",\"port\":\"443\\\"x\"}");
        QTest::newRow("port zero") << QByteArray(R"({"n":"x","address":"10.0.0.1","port":"0"})");
        QTest::newRow("port too large") << QByteArray(R"({"n":"x","address":"10.0.0.1","port":70000})");
        QTest::newRow("no port") << QByteArray(R"({"n":"x","address":"10.0.0.1"})");
    }

    void parse_unsafeEntriesSkipped()
    {
        QFETCH(QByteArray, entry);
        // Usable user and alter ids unless the row gives its own (later keys win).
        entry.replace(0, 1, R"({"userid":"u","alterid":"0",)");
        const QByteArray json = "[" + entry
            + R"(,{"n":"ok","address":"10.0.0.2","port":"2","userid":"u","alterid":"0"}])";
        QCOMPARE(idsOf(parseProxyLocations(json)), QStringList { "ok" });
    }

    // The first mirror answers an empty list, the second three locations.
    void fetch_emptyThenList()
    {
        const GetProxyLocationsResult r = QtConcurrent::run(
                                              getProxyLocationsPaced,
                                              QStringList { m_server.url("/empty-array"), m_server.url("/three") },
                                              FetchPacing { 1000, 10 }, FetchStop::Ptr())
                                              .result();
        QVERIFY(r.errors.isEmpty());
        QCOMPARE(r.locations.size(), 3);
        for (const auto& p : r.locations)
            QCOMPARE(p->thread(), QCoreApplication::instance()->thread());
        QCOMPARE(Settings::decode(QString::fromLatin1(cacheBytes())), QString::fromLatin1(kThree));

        QList<ProxyLocation::Ptr> stored;
        QVERIFY(getStoredProxyLocations(stored));
        QCOMPARE(idsOf(stored), (QStringList { "nlproxy", "usproxy", "cfproxy" }));
        QCOMPARE(stored[2]->caption(), QStringLiteral("Café \"CDN\"")); // UTF-8 survives the cache
    }

    // Failures and unusable answers: every failure counted, the cache kept.
    void fetch_failuresKeepCache()
    {
        QVERIFY(saveProxyLocations(QString::fromLatin1(kThree)));
        const QByteArray before = cacheBytes();
        const QString refused = QStringLiteral("http://127.0.0.1:%1/v2rayconf.json").arg(HttpFixture::refusingPort());
        const GetProxyLocationsResult r = QtConcurrent::run(getProxyLocationsPaced,
                                                            QStringList { refused, m_server.url("/garbage"),
                                                                          m_server.url("/empty-array") },
                                                            FetchPacing { 1000, 10 }, FetchStop::Ptr())
                                              .result();
        QVERIFY(r.locations.isEmpty());
        QCOMPARE(r.errors.size(), 4); // the refused address in each pass; the others add nothing
        QCOMPARE(m_server.requestCount("/garbage"), 4);
        QCOMPARE(cacheBytes(), before);
    }

    void fetch_allMissing()
    {
        const GetProxyLocationsResult r = QtConcurrent::run(getProxyLocationsPaced,
                                                            QStringList { m_server.url("/missing") },
                                                            FetchPacing { 1000, 10 }, FetchStop::Ptr())
                                              .result();
        QCOMPARE(r.errors.size(), 4);
        for (const QString& e : r.errors)
            QVERIFY2(e.contains("Not Found"), qPrintable(e));
    }

    void cache_unusable_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("count");
        QTest::newRow("missing") << QByteArray() << false << 0;
        QTest::newRow("not scrambled") << QByteArray("plain-text") << false << 0;
        QTest::newRow("empty list") << Settings::encode("[]").toLatin1() << true << 0;
        QTest::newRow("garbage list") << Settings::encode("garbage").toLatin1() << true << 0;
    }

    void cache_unusable()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, ok);
        QFETCH(int, count);
        if (!content.isNull()) {
            QFile f(Settings::proxyLocationsFullFileName());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        QList<ProxyLocation::Ptr> list { ProxyLocation::Ptr(new ProxyLocation("stale", "", "", "", "", "", "")) };
        LogCapture log;
        QCOMPARE(getStoredProxyLocations(list), ok);
        QCOMPARE(list.size(), count);
        if (content.isNull())
            QVERIFY(log.contains("Can't open Proxy Locations file"));
    }
};

OSTREL_TEST_MAIN(TestProxyLocations)
#include "tst_proxylocations.moc"
