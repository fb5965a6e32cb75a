// News and the external-address lookup: parsers and fetch jobs against
// loopback servers.

#include "getexternalip.h"
#include "getnews.h"
#include "getservers.h"
#include "httpfixture.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QtConcurrent>

using HttpFixture::Route;
using HttpFixture::Server;

Q_DECLARE_METATYPE(HttpFixture::Route)

namespace {
const QByteArray kNews =
    "[\n"
    "  {\"id\": \"7\", \"title\": \"Second \\\"quoted\\\"\\nline\", \"date\": \"5/3/2021\", \"url\": \"http://127.0.0.1/n/7\"},\n"
    "  {\"id\": \"6\", \"title\": \"First\", \"date\": \"28/2/2021\", \"url\": \"http://127.0.0.1/n/6\"}\n"
    "]";
}

class TestNewsAndIp : public QObject
{
    Q_OBJECT

private:
    Server m_server;

    QString refused(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(HttpFixture::refusingPort()).arg(path);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        m_server.setRoute("/news.json", Route::ok(kNews));
        m_server.setRoute("/empty-array.json", Route::ok("[]"));
        m_server.setRoute("/garbage", Route::ok("<html>not news</html>"));
        m_server.setRoute("/missing", Route::withStatus(404));
    }

    // ------------------------------------------------------------ news

    void parseNews_fields()
    {
        const QList<News::Ptr> news = parseNews(kNews);
        QCOMPARE(news.size(), 2);
        QCOMPARE(news[0]->id(), QStringLiteral("7"));
        QCOMPARE(news[0]->text(), QStringLiteral("Second \"quoted\"\nline"));
        QCOMPARE(news[0]->url(), QStringLiteral("http://127.0.0.1/n/7"));
        QCOMPARE(news[0]->date(), QDateTime(QDate(2021, 3, 5), QTime(0, 0)));
        QCOMPARE(news[1]->id(), QStringLiteral("6"));
        QCOMPARE(news[1]->date().date(), QDate(2021, 2, 28));
        // Items created here have no parent.
        QVERIFY(news[0]->parent() == nullptr);
    }

    void parseNews_dates_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QDate>("expected"); // null: the date-time is invalid
        QTest::newRow("day/month/year") << "5/3/2021" << QDate(2021, 3, 5);
        QTest::newRow("leading zeros") << "05/03/2021" << QDate(2021, 3, 5);
        QTest::newRow("no slash") << "2021-03-05" << QDate();
        QTest::newRow("impossible day") << "31/2/2021" << QDate();
        QTest::newRow("month missing") << "5//2021" << QDate();
        QTest::newRow("empty") << "" << QDate();
        QTest::newRow("words") << "five/march/2021" << QDate();
    }

    void parseNews_dates()
    {
        QFETCH(QString, date);
        QFETCH(QDate, expected);
        const QByteArray json = "[{\"id\":\"1\",\"title\":\"t\",\"date\":\"" + date.toUtf8() + "\",\"url\":\"u\"}]";
        const QList<News::Ptr> news = parseNews(json);
        QCOMPARE(news.size(), 1);
        if (expected.isNull()) {
            QVERIFY(!news[0]->date().isValid());
        } else {
            QCOMPARE(news[0]->date().date(), expected);
            QCOMPARE(news[0]->date().time(), QTime(0, 0));
        }
    }

    void parseNews_badInput_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("count");
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("empty array") << QByteArray("[]") << 0;
        QTest::newRow("object, not array") << QByteArray("{\"id\":\"1\"}") << 0;
        QTest::newRow("garbage") << QByteArray("\x01\x02<html>") << 0;
        QTest::newRow("truncated") << QByteArray("[{\"id\":\"1\",\"title\":\"a") << 0;
        QTest::newRow("missing keys") << QByteArray("[{}]") << 1;
        QTest::newRow("numbers as values") << QByteArray("[{\"id\":12,\"title\":3}]") << 1;
    }

    void parseNews_badInput()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, count);
        const QList<News::Ptr> news = parseNews(data);
        QCOMPARE(news.size(), count);
        if (count == 1 && data.contains("12"))
            QCOMPARE(news[0]->id(), QStringLiteral("12"));
    }

    // The mirrors fail, answer nothing usable, then the further address has news.
    void getNews_triesAddressesInOrder()
    {
        m_server.clearRequests();
        const QStringList urls { refused("/latest-news.json"), m_server.url("/empty-array.json"),
                                 m_server.url("/garbage"), m_server.url("/news.json") };
        const GetNewsResult result =
            QtConcurrent::run(getNewsPaced, urls, FetchPacing { 1000, 10 }, FetchStop::Ptr()).result();
        QVERIFY2(result.errors.isEmpty(), qPrintable(result.errors.join(" | ")));
        QCOMPARE(result.news.size(), 2);
        QCOMPARE(result.news[0]->id(), QStringLiteral("7"));
        // Handed over to the application's thread.
        QCOMPARE(result.news[0]->thread(), QCoreApplication::instance()->thread());
        QCOMPARE(m_server.requestCount("/news.json"), 1);
        QCOMPARE(m_server.requestCount("/garbage"), 1);
    }

    // Every pass over every address fails: one text per attempt.
    void getNews_allFail()
    {
        const QStringList urls { refused("/a"), m_server.url("/missing") };
        const GetNewsResult result =
            QtConcurrent::run(getNewsPaced, urls, FetchPacing { 1000, 10 }, FetchStop::Ptr()).result();
        QVERIFY(result.news.isEmpty());
        QCOMPARE(result.errors.size(), 8);
        for (int i = 0; i < 8; i += 2) {
            QVERIFY2(result.errors[i].contains("refused", Qt::CaseInsensitive), qPrintable(result.errors[i]));
            QVERIFY2(result.errors[i + 1].contains("not found", Qt::CaseInsensitive), qPrintable(result.errors[i + 1]));
        }
    }

    // Usable answers that hold no news add no text, but are no success either.
    void getNews_onlyEmptyLists()
    {
        m_server.clearRequests();
        const GetNewsResult result = QtConcurrent::run(getNewsPaced, QStringList { m_server.url("/empty-array.json") },
                                                       FetchPacing { 1000, 10 }, FetchStop::Ptr())
                                         .result();
        QVERIFY(result.news.isEmpty());
        QVERIFY(result.errors.isEmpty());
        QCOMPARE(m_server.requestCount("/empty-array.json"), 4);
    }

    void newsExUrl_isTheNewsPortOfTheDeployment()
    {
        const QUrl url(NEWS_EX_URL);
        QVERIFY(url.isValid());
        QCOMPARE(url.scheme(), QStringLiteral("http"));
        QCOMPARE(url.port(), 8001);
        QCOMPARE(url.path(), QStringLiteral("/api/news.json"));
        QVERIFY(!url.host().isEmpty());
    }

    // ------------------------------------------------------------ external address

    void parseExternalIP_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("parsed");
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("country");
        QTest::addColumn<QStringList>("errors");

        QTest::newRow("ip and country_name")
            << QByteArray(R"({"ip":"203.0.113.7","country_name":"Norway"})") << true << "203.0.113.7"
            << "Norway" << QStringList();
        QTest::newRow("countryName only")
            << QByteArray(R"({"ip":"203.0.113.7","countryName":"Chile"})") << true << "203.0.113.7"
            << "Chile" << QStringList();
        QTest::newRow("country_name wins")
            << QByteArray(R"({"ip":"1.2.3.4","countryName":"B","country_name":"A"})") << true << "1.2.3.4"
            << "A" << QStringList();
        QTest::newRow("ip only") << QByteArray(R"({"ip":"203.0.113.7"})") << true << "203.0.113.7" << QString()
                                 << QStringList { "countryName not found" };
        QTest::newRow("empty ip, no country")
            << QByteArray(R"({"ip":""})") << false << QString() << QString() << QStringList { "countryName not found" };
        QTest::newRow("both empty") << QByteArray(R"({"ip":"","country_name":""})") << false << QString() << QString()
                                    << QStringList();
        QTest::newRow("not json") << QByteArray("<html>") << false << QString() << QString()
                                  << QStringList { "Can't parse result" };
        QTest::newRow("blank") << QByteArray(" \n") << false << QString() << QString()
                               << QStringList { "Can't parse result" };
    }

    void parseExternalIP()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, parsed);
        QFETCH(QString, ip);
        QFETCH(QString, country);
        QFETCH(QStringList, errors);
        GetExternalIpResult result;
        QCOMPARE(parseExternalIPResult(answer, result), parsed);
        QCOMPARE(result.ip, ip);
        QCOMPARE(result.country, country);
        QCOMPARE(QStringList(result.errors), errors);
    }

    void getExternalIP_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<Route>("route");
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("country");
        QTest::addColumn<QString>("error"); // empty: no error; else the start of the only error

        QTest::newRow("answer") << "/geo/" << Route::ok(R"({"ip":"198.51.100.2","country_name":"Peru"})")
                                << "198.51.100.2"
                                << "Peru" << QString();
        // The parse found an address, so "countryName not found" is dropped.
        QTest::newRow("ip only") << "/geo/" << Route::ok(R"({"ip":"198.51.100.2"})") << "198.51.100.2" << QString()
                                 << QString();
        QTest::newRow("both empty") << "/geo/" << Route::ok(R"({"ip":"","country_name":""})") << QString() << QString()
                                    << QString();
        QTest::newRow("garbage") << "/geo/" << Route::ok("<<<") << QString() << QString() << "Can't parse result";
        QTest::newRow("404") << "/geo/" << Route::withStatus(404) << QString() << QString() << "Error transferring";
        QTest::newRow("empty body") << "/geo/" << Route::empty() << QString() << QString() << "empty answer";
    }

    void getExternalIP()
    {
        QFETCH(QString, path);
        QFETCH(Route, route);
        QFETCH(QString, ip);
        QFETCH(QString, country);
        QFETCH(QString, error);
        m_server.setRoute(path, route);
        const GetExternalIpResult result =
            QtConcurrent::run(::getExternalIP, m_server.url(path), FetchStop::Ptr()).result();
        QCOMPARE(result.ip, ip);
        QCOMPARE(result.country, country);
        if (error.isNull()) {
            QVERIFY2(result.errors.isEmpty(), qPrintable(QStringList(result.errors).join(" | ")));
        } else {
            QCOMPARE(result.errors.size(), 1);
            QVERIFY2(result.errors.first().startsWith(error), qPrintable(result.errors.first()));
        }
    }

    void getExternalIP_slowService()
    {
        m_server.setRoute("/geo-slow/", Route::slow(R"({"ip":"1.1.1.1"})", 8000));
        const GetExternalIpResult result =
            QtConcurrent::run(::getExternalIP, m_server.url("/geo-slow/"), FetchStop::Ptr()).result();
        QCOMPARE(QStringList(result.errors), QStringList { "timeout error" });
        QVERIFY(result.ip.isEmpty());
    }

    // ------------------------------------------------------------ stop

    // A stop request ends the news, external-address and proxy-list jobs
    // while their mirror never answers or trickles, long before the
    // download's time-out; nothing further is asked.
    void jobsEndOnStop_data()
    {
        QTest::addColumn<QString>("job");
        QTest::addColumn<QString>("path");
        for (const char* job : { "news", "external address", "proxy list" }) {
            QTest::newRow(qPrintable(QStringLiteral("%1, never answers").arg(job))) << job << "/stall-hang";
            QTest::newRow(qPrintable(QStringLiteral("%1, trickles").arg(job))) << job << "/stall-trickle";
        }
    }

    void jobsEndOnStop()
    {
        QFETCH(QString, job);
        QFETCH(QString, path);
        m_server.setRoute("/stall-hang", Route::hangForever());
        m_server.setRoute("/stall-trickle", Route::trickle(QByteArray(100000, ' '), 10, 100));
        m_server.clearRequests();
        const QStringList urls { m_server.url(path), m_server.url("/news.json") };
        FetchStop::Ptr stop(new FetchStop);
        QFuture<QStringList> errors = QtConcurrent::run([job, urls, stop]() {
            if (job == QLatin1String("news"))
                return getNews(urls, stop).errors;
            if (job == QLatin1String("external address"))
                return QStringList(::getExternalIP(urls.first(), stop).errors);
            return getProxyLocations(urls, stop).errors;
        });
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount(path), 1, 5000);
        QElapsedTimer elapsed;
        elapsed.start();
        stop->stop();
        QVERIFY(QTest::qWaitFor([&errors]() { return errors.isFinished(); }, 4000));
        QVERIFY2(elapsed.elapsed() < 4000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(errors.result().last(), QStringLiteral("stopped"));
        QCOMPARE(m_server.requestCount("/news.json"), 0);
    }
};

OSTREL_TEST_MAIN(TestNewsAndIp, TestMain::Core)
#include "tst_newsandip.moc"
