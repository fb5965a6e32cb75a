// Downloads against real loopback servers: the blocking downloadByUrl and the
// observable Downloader, over HTTP and HTTPS.

#include "downloader.h"
#include "httpfixture.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QSignalSpy>
#include <QSslError>
#include <QtConcurrent>

using HttpFixture::Route;
using HttpFixture::Server;

namespace {
constexpr qint64 kMiB = 1024 * 1024;
} // namespace

class TestDownloader : public QObject
{
    Q_OBJECT

private:
    Server m_http;
    Server m_https;
    Server m_untrusted;

private slots:
    void initTestCase()
    {
        QVERIFY(m_http.start(Server::Http));
        QVERIFY(m_https.start(Server::Https, 0, Server::TrustedByTestCa));
        QVERIFY(m_untrusted.start(Server::Https, 0, Server::SelfSigned));
        HttpFixture::trustTestCa();

        m_http.setRoute("/list.json", Route::ok("[{\"n\":\"de\"}]"));
        m_http.setRoute("/empty", Route::empty());
        m_http.setRoute("/missing", Route::withStatus(404, "nothing here"));
        m_http.setRoute("/failing", Route::withStatus(500, "broken"));
        m_http.setRoute("/moved", Route::redirect(m_http.url("/list.json"), 302, "moved elsewhere"));
        m_http.setRoute("/moved-empty", Route::redirect(m_http.url("/list.json"), 301));
        m_http.setRoute("/slow", Route::slow("late", 3000));
        m_http.setRoute("/drop", Route::dropAfter(50));
        m_http.setRoute("/hang", Route::hangForever());
        m_http.setRoute("/big", Route::huge(8 * 1024 * 1024));
        m_http.setRoute("/too-big", Route::huge(kDownloadByUrlMaxBytes + 4 * 1024 * 1024));
        m_http.setRoute("/progress", Route::trickle(QByteArray(2048, 'x'), 512, 30));
        m_http.setRoute("/long", Route::trickle(QByteArray(4096, 'y'), 64, 50));
        m_https.setRoute("/secure.json", Route::ok("[\"secure\"]"));
        m_untrusted.setRoute("/secure.json", Route::ok("[\"secure\"]"));
    }

    void cleanup() { QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy)); }

    // ------------------------------------------------------------ downloadByUrl

    void downloadByUrl_outcomes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("errorStr");
        QTest::addColumn<int>("networkError");

        QTest::newRow("body") << "/list.json" << 3000 << true << QByteArray("[{\"n\":\"de\"}]") << QString()
                              << int(QNetworkReply::NoError);
        // An empty answer without any error still is no success.
        QTest::newRow("empty body") << "/empty" << 3000 << false << QByteArray() << QString()
                                    << int(QNetworkReply::NoError);
        // A redirect is not followed: its own body is the data.
        QTest::newRow("redirect with body")
            << "/moved" << 3000 << true << QByteArray("moved elsewhere") << QString() << int(QNetworkReply::NoError);
        QTest::newRow("redirect without body")
            << "/moved-empty" << 3000 << false << QByteArray() << QString() << int(QNetworkReply::NoError);
        QTest::newRow("slower than the time-out")
            << "/slow" << 300 << false << QByteArray() << "timeout error" << int(QNetworkReply::NoError);
        QTest::newRow("never answers") << "/hang" << 300 << false << QByteArray() << "timeout error"
                                       << int(QNetworkReply::NoError);
    }

    void downloadByUrl_outcomes()
    {
        QFETCH(QString, path);
        QFETCH(int, timeout);
        QFETCH(bool, success);
        QFETCH(QByteArray, data);
        QFETCH(QString, errorStr);
        QFETCH(int, networkError);

        const DownloadResult r = downloadByUrl(QUrl(m_http.url(path)), timeout);
        QCOMPARE(r.isSuccess(), success);
        QCOMPARE(r.data, data);
        QCOMPARE(r.errorStr, errorStr);
        QCOMPARE(int(r.networkError), networkError);
    }

    void downloadByUrl_redirectTargetNeverAsked()
    {
        m_http.clearRequests();
        downloadByUrl(QUrl(m_http.url("/moved")), 3000);
        QCOMPARE(m_http.requestCount("/moved"), 1);
        QCOMPARE(m_http.requestCount("/list.json"), 0);
    }

    void downloadByUrl_networkErrors_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("networkError");
        QTest::newRow("404") << m_http.url("/missing") << int(QNetworkReply::ContentNotFoundError);
        QTest::newRow("500") << m_http.url("/failing") << int(QNetworkReply::InternalServerError);
        QTest::newRow("closed without answer") << m_http.url("/drop") << int(QNetworkReply::RemoteHostClosedError);
        QTest::newRow("refused") << QStringLiteral("http://127.0.0.1:%1/list.json").arg(HttpFixture::refusingPort())
                                 << int(QNetworkReply::ConnectionRefusedError);
    }

    void downloadByUrl_networkErrors()
    {
        QFETCH(QString, url);
        QFETCH(int, networkError);
        const DownloadResult r = downloadByUrl(QUrl(url), 3000);
        QVERIFY(!r.isSuccess());
        QCOMPARE(int(r.networkError), networkError);
        QVERIFY(r.data.isEmpty());
        QVERIFY(!r.errorStr.isEmpty());
        QVERIFY2(!r.errorStr.contains(QLatin1Char('\n')), qPrintable(r.errorStr));
    }

    void downloadByUrl_https()
    {
        const DownloadResult ok = downloadByUrl(QUrl(m_https.url("/secure.json")), 3000);
        QVERIFY2(ok.isSuccess(), qPrintable(ok.errorStr));
        QCOMPARE(ok.data, QByteArray("[\"secure\"]"));

        // A certificate nobody vouches for: one line per SSL error, then the
        // reply's own line; nothing of the body.
        const DownloadResult bad = downloadByUrl(QUrl(m_untrusted.url("/secure.json")), 3000);
        QVERIFY(!bad.isSuccess());
        QVERIFY(bad.data.isEmpty());
        QCOMPARE(int(bad.networkError), int(QNetworkReply::SslHandshakeFailedError));
        const QStringList lines = bad.errorStr.split(QLatin1Char('\n'));
        QVERIFY2(lines.size() >= 2, qPrintable(bad.errorStr));
        QVERIFY2(lines.contains(QSslError(QSslError::SelfSignedCertificate).errorString()), qPrintable(bad.errorStr));
        QVERIFY(!lines.last().isEmpty());
        QVERIFY(!lines.last().contains(QSslError(QSslError::SelfSignedCertificate).errorString()));
    }

    void downloadByUrl_largeBodies()
    {
        const DownloadResult big = downloadByUrl(QUrl(m_http.url("/big")), 20000);
        QVERIFY2(big.isSuccess(), qPrintable(big.errorStr));
        QCOMPARE(big.data.size(), 8 * 1024 * 1024);
        QVERIFY(big.data.startsWith("[{\"l\""));

        const DownloadResult tooBig = downloadByUrl(QUrl(m_http.url("/too-big")), 20000);
        QVERIFY(!tooBig.isSuccess());
        QVERIFY(tooBig.data.isEmpty());
        QVERIFY2(tooBig.errorStr.startsWith(QStringLiteral("download larger than")), qPrintable(tooBig.errorStr));
    }

    // The application's proxy must never be used: a proxy here would see the request.
    void downloadByUrl_ignoresProxy()
    {
        Server proxy;
        QVERIFY(proxy.start());
        proxy.setHandler([](const HttpFixture::Request&) { return Route::ok("from the proxy"); });
        QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", proxy.port()));

        const DownloadResult r = downloadByUrl(QUrl(m_http.url("/list.json")), 3000);
        QVERIFY2(r.isSuccess(), qPrintable(r.errorStr));
        QCOMPARE(r.data, QByteArray("[{\"n\":\"de\"}]"));
        QCOMPARE(proxy.requestCount(), 0);

        Downloader d;
        QSignalSpy finished(&d, &Downloader::finished);
        d.get(QUrl(m_http.url("/list.json")));
        QVERIFY(finished.wait(5000));
        QCOMPARE(d.result().data, QByteArray("[{\"n\":\"de\"}]"));
        QCOMPARE(proxy.requestCount(), 0);
    }

    // Several pool threads download at once, each with its own loop.
    void downloadByUrl_parallelOnPool()
    {
        for (int i = 0; i < 6; ++i)
            m_http.setRoute(QStringLiteral("/p%1").arg(i), Route::slow(QByteArray::number(i), 100));
        QList<QFuture<DownloadResult>> futures;
        for (int i = 0; i < 6; ++i)
            futures << QtConcurrent::run(downloadByUrl, QUrl(m_http.url(QStringLiteral("/p%1").arg(i))), 5000,
                                         StopCheck());
        for (int i = 0; i < 6; ++i) {
            const DownloadResult r = futures[i].result();
            QVERIFY2(r.isSuccess(), qPrintable(r.errorStr));
            QCOMPARE(r.data, QByteArray::number(i));
        }
        const DownloadResult inPool = downloadByUrlInPool(QUrl(m_http.url("/slow")), 200);
        QCOMPARE(inPool.errorStr, QStringLiteral("timeout error"));
    }

    // ------------------------------------------------------------ Downloader

    void downloader_terminalEvents_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("emptyError");
        QTest::addColumn<QByteArray>("data");

        QTest::newRow("finished") << m_http.url("/list.json") << int(Downloader::StateCompleted) << true
                                  << QByteArray("[{\"n\":\"de\"}]");
        QTest::newRow("redirect not followed")
            << m_http.url("/moved") << int(Downloader::StateCompleted) << true << QByteArray("moved elsewhere");
        QTest::newRow("https trusted") << m_https.url("/secure.json") << int(Downloader::StateCompleted) << true
                                       << QByteArray("[\"secure\"]");
        QTest::newRow("404") << m_http.url("/missing") << int(Downloader::StateCompletedWithError) << false
                             << QByteArray();
        QTest::newRow("refused") << QStringLiteral("http://127.0.0.1:%1/x").arg(HttpFixture::refusingPort())
                                 << int(Downloader::StateCompletedWithError) << false << QByteArray();
        QTest::newRow("untrusted certificate")
            << m_untrusted.url("/secure.json") << int(Downloader::StateCompletedWithError) << false << QByteArray();
    }

    // Each download ends exactly once, with the state, the text and the data
    // of its first terminal event.
    void downloader_terminalEvents()
    {
        QFETCH(QString, url);
        QFETCH(int, state);
        QFETCH(bool, emptyError);
        QFETCH(QByteArray, data);

        QScopedPointer<Downloader> d(downloadWithController(QUrl(url)));
        QSignalSpy finished(d.data(), &Downloader::finished);
        QSignalSpy stateChanged(d.data(), &Downloader::stateChanged);
        QVERIFY(finished.wait(5000));
        processMessagesFor(300); // any late event of the same reply must be ignored
        QCOMPARE(finished.count(), 1);
        QCOMPARE(stateChanged.count(), 1);
        QCOMPARE(int(d->state()), state);
        const QString error = finished.first().first().toString();
        QCOMPARE(error.isEmpty(), emptyError);
        QCOMPARE(d->result().data, data);
        if (!emptyError) {
            QVERIFY(d->result().errorStr.endsWith(error));
            QVERIFY(!d->result().isSuccess());
        }
    }

    void downloader_sslErrorsListedBeforeReplyText()
    {
        Downloader d;
        QSignalSpy finished(&d, &Downloader::finished);
        d.get(QUrl(m_untrusted.url("/secure.json")));
        QVERIFY(finished.wait(5000));
        const QStringList lines = d.result().errorStr.split(QLatin1Char('\n'));
        QVERIFY2(lines.size() >= 2, qPrintable(d.result().errorStr));
        QCOMPARE(lines.first(), QSslError(QSslError::SelfSignedCertificate).errorString());
        QCOMPARE(lines.last(), finished.first().first().toString());
        QCOMPARE(lines.last(), QStringLiteral("SSL handshake failed"));
    }

    void downloader_cancel()
    {
        // Before anything runs: nothing happens.
        Downloader idle;
        QSignalSpy idleFinished(&idle, &Downloader::finished);
        idle.cancelDownload();
        QCOMPARE(int(idle.state()), int(Downloader::StateNone));
        QCOMPARE(idleFinished.count(), 0);

        // During a download: ends once, with an error.
        Downloader d;
        QSignalSpy finished(&d, &Downloader::finished);
        QSignalSpy progress(&d, &Downloader::downloadProgress);
        d.get(QUrl(m_http.url("/long")));
        QVERIFY(progress.wait(5000));
        d.cancelDownload();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
        d.cancelDownload(); // a second cancel finds no reply
        processMessagesFor(200);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(int(d.state()), int(Downloader::StateCompletedWithError));
        QCOMPARE(int(d.result().networkError), int(QNetworkReply::OperationCanceledError));
        QVERIFY(d.result().data.isEmpty());
    }

    void downloader_destroyedWhileRunning()
    {
        auto* d = downloadWithController(QUrl(m_http.url("/long")));
        QSignalSpy progress(d, &Downloader::downloadProgress);
        QVERIFY(progress.wait(5000));
        delete d;
        processMessagesFor(200);
        // The server is still serving.
        QVERIFY(downloadByUrl(QUrl(m_http.url("/list.json")), 3000).isSuccess());
    }

    void downloader_progress()
    {
        Downloader d;
        QSignalSpy percent(&d, &Downloader::receivedPercentageChanged);
        QSignalSpy finished(&d, &Downloader::finished);
        d.get(QUrl(m_http.url("/progress")));
        QVERIFY(finished.wait(5000));
        QCOMPARE(d.bytesTotal(), qint64(2048));
        QCOMPARE(d.bytesReceived(), qint64(2048));
        QCOMPARE(d.receivedPercentage(), 100.0);
        QVERIFY(!percent.isEmpty());
        for (const auto& args : qAsConst(percent)) {
            const double v = args.first().toDouble();
            QVERIFY(v > 0 && v <= 100);
        }
    }

    void downloader_percentageRule_data()
    {
        QTest::addColumn<qint64>("received");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<double>("percent");
        QTest::newRow("quarter") << qint64(512) << qint64(2048) << 25.0;
        QTest::newRow("truncated, not rounded") << qint64(1) << qint64(3) << 33.33;
        QTest::newRow("two thirds") << qint64(2) << qint64(3) << 66.66;
        QTest::newRow("all") << qint64(7) << qint64(7) << 100.0;
        QTest::newRow("total unknown") << qint64(100) << qint64(-1) << 0.0;
        QTest::newRow("total zero") << qint64(0) << qint64(0) << 0.0;
    }

    void downloader_percentageRule()
    {
        QFETCH(qint64, received);
        QFETCH(qint64, total);
        QFETCH(double, percent);
        Downloader d;
        d.setTotal(total);
        d.setBytesReceived(received);
        QCOMPARE(d.getReceivedPercentage(), percent);
    }

    void downloader_settersEmitOnChangeOnly()
    {
        Downloader d;
        QSignalSpy received(&d, &Downloader::bytesReceivedChanged);
        QSignalSpy total(&d, &Downloader::bytesTotalChanged);
        QSignalSpy percent(&d, &Downloader::receivedPercentageChanged);
        d.setBytesReceived(10);
        d.setBytesReceived(10);
        d.setTotal(20);
        d.setTotal(20);
        d.setReceivedPercentage(50.0);
        d.setReceivedPercentage(50.0);
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toLongLong(), 10);
        QCOMPARE(total.count(), 1);
        QCOMPARE(percent.count(), 1);
        QCOMPARE(percent.first().first().toDouble(), 50.0);
    }

    // A server that sends gzip although asked for the plain body: both kinds
    // of download fail (never a success with an empty body), and neither
    // inflates the answer, so memory stays far below the inflated size.
    void compressedAnswersFailWithinCaps()
    {
        const qint64 inflated = 1024 * kMiB; // above both caps
        const QByteArray bomb = HttpFixture::gzipOfZeros(inflated);
        QVERIFY(!bomb.isEmpty() && bomb.size() < 4 * kMiB);
        Route route = Route::ok(bomb, "application/json");
        route.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
        m_http.setRoute("/bomb.json", route);
        m_http.clearRequests();

        QVERIFY(HttpFixture::resetPeakMemory());
        const DownloadResult r = downloadByUrl(QUrl(m_http.url("/bomb.json")), 30000);
        QVERIFY(!r.isSuccess());
        QVERIFY(r.data.isEmpty());
        QVERIFY2(!r.errorStr.isEmpty() && r.errorStr != QLatin1String("timeout error"), qPrintable(r.errorStr));

        Downloader d;
        QSignalSpy finished(&d, &Downloader::finished);
        d.get(QUrl(m_http.url("/bomb.json")));
        QVERIFY(finished.wait(30000));
        processMessagesFor(200);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(int(d.state()), int(Downloader::StateCompletedWithError));
        QVERIFY(!finished.first().first().toString().isEmpty());
        QVERIFY(!d.result().isSuccess());
        QVERIFY(d.result().data.isEmpty());

#if OSTREL_PEAK_MEMORY_MEANINGFUL
        const qint64 peak = HttpFixture::peakMemoryBytes();
        QVERIFY2(peak > 0 && peak < 256 * kMiB, qPrintable(QString::number(peak)));
#endif
        // Both asked for the body as it is.
        const QList<HttpFixture::Request> requests = m_http.requests();
        QCOMPARE(requests.size(), 2);
        for (const HttpFixture::Request& request : requests)
            QCOMPARE(request.header("Accept-Encoding"), QByteArray("identity"));
    }

    // A stop request ends a download in flight at once, whether the server
    // never answers or sends its answer slowly.
    void stopEndsTheDownloadInFlight_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("never answers") << "/hang";
        QTest::newRow("trickles") << "/stop-trickle";
    }

    void stopEndsTheDownloadInFlight()
    {
        QFETCH(QString, path);
        m_http.setRoute("/stop-trickle", Route::trickle(QByteArray(100000, 'z'), 10, 100));
        m_http.clearRequests();
        FetchStop::Ptr stop(new FetchStop);
        QFuture<DownloadResult> future = QtConcurrent::run(
            [this, path, stop]() { return downloadByUrlInPool(QUrl(m_http.url(path)), 60000, stopCheck(stop)); });
        QTRY_COMPARE_WITH_TIMEOUT(m_http.requestCount(path), 1, 5000);
        QElapsedTimer elapsed;
        elapsed.start();
        stop->stop();
        QVERIFY(QTest::qWaitFor([&future]() { return future.isFinished(); }, 5000));
        QVERIFY2(elapsed.elapsed() < 5000, qPrintable(QString::number(elapsed.elapsed())));
        const DownloadResult r = future.result();
        QVERIFY(!r.isSuccess());
        QCOMPARE(r.errorStr, QStringLiteral("stopped"));
        // A stopped check never starts a download.
        m_http.clearRequests();
        QCOMPARE(downloadByUrl(QUrl(m_http.url("/list.json")), 3000, stopCheck(stop)).errorStr,
                 QStringLiteral("stopped"));
        QCOMPARE(m_http.requestCount(), 0);
    }

private:
    static void processMessagesFor(int ms)
    {
        QTest::qWait(ms);
    }
};

OSTREL_TEST_MAIN(TestDownloader, TestMain::Core)
#include "tst_downloader.moc"
