// The demo web service: it answers on every loopback port of a deployment
// file, and what it serves is read by the client's own parsers.

#include "demoservice.h"
#include "downloader.h"
#include "getexternalip.h"
#include "getnews.h"
#include "getservers.h"
#include "model/model.h"
#include "qopenvpn2custom.h"
#include "qt-json/json.h"
#include "testsupport.h"

#include <QRegularExpression>

#include <QTemporaryDir>
#include <QTextStream>

using HttpFixture::DemoService;

class TestDemoService : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_ini;
    quint16 m_api = 0;
    quint16 m_bucket = 0;
    DemoService m_service;

    QByteArray fetch(const QString& url)
    {
        const DownloadResult r = downloadByUrl(QUrl(url), 3000);
        return r.isSuccess() ? r.data : QByteArray();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_api = HttpFixture::refusingPort();
        m_bucket = HttpFixture::refusingPort();
        while (m_bucket == m_api)
            m_bucket = HttpFixture::refusingPort();
        m_ini = m_dir.filePath("deployment.ini");
        QFile f(m_ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QTextStream(&f) << "[api]\nprimary=http://127.0.0.1:" << m_api << "/api\n"
                        << "bucket=http://127.0.0.1:" << m_bucket << "/api\n"
                        << "[web]\ngeo=http://127.0.0.1:" << m_api << "\n"
                        << "elsewhere=http://192.0.2.1:9/x\n";
        f.close();
        QString error;
        QVERIFY2(m_service.start(m_ini, DemoService::defaultDemoDir(), &error), qPrintable(error));
    }

    void portsOfDeployment()
    {
        const auto ports = DemoService::portsOf(m_ini);
        QCOMPARE(ports.size(), 2); // not the address outside loopback
        QCOMPARE(m_service.ports().size(), 2);
        // The shipped demo deployment: its ports and the news server's.
        QList<quint16> demo;
        for (const auto& p : DemoService::portsOf(DemoService::defaultDeploymentIni()))
            demo << p.first;
        QVERIFY(demo.contains(8001));
        QVERIFY(demo.size() >= 3);
    }

    void serverListsParse()
    {
        QMap<QString, Location::Ptr> map;
        QList<Region::Ptr> regions;
        const QByteArray regular = fetch(QStringLiteral("http://127.0.0.1:%1/api/locations-desktop.json").arg(m_api));
        const QByteArray ike = fetch(QStringLiteral("http://127.0.0.1:%1/api/ike-winmac.json").arg(m_bucket));
        QVERIFY(!regular.isEmpty() && !ike.isEmpty());
        locationStrToList(QString::fromUtf8(regular), map, regions);
        const int regularCount = map.size();
        QVERIFY(regularCount >= 3);
        ikeLocationStrToList(QString::fromUtf8(ike), map, regions);
        QVERIFY(map.size() > regularCount);
        for (const auto& l : map)
            QCOMPARE(l->host(), QStringLiteral("127.0.0.1"));
        QVERIFY(regions.size() >= 2);
    }

    void otherFilesParse()
    {
        const QList<ProxyLocation::Ptr> proxies = parseProxyLocations(
            fetch(QStringLiteral("http://127.0.0.1:%1/api/v2rayconf.json").arg(m_bucket)));
        QVERIFY(proxies.size() >= 1);
        for (const auto& p : proxies)
            QCOMPARE(p->address(), QStringLiteral("127.0.0.1"));

        QVERIFY(parseNews(fetch(QStringLiteral("http://127.0.0.1:%1/api/latest-news.json").arg(m_api))).size() >= 1);

        GetExternalIpResult ip;
        QVERIFY(parseExternalIPResult(fetch(QStringLiteral("http://127.0.0.1:%1/geo/").arg(m_api)), ip));
        QVERIFY(ip.errors.isEmpty());

        bool ok = false;
        const QVariantList versions =
            QtJson::parse(
                QString::fromUtf8(fetch(QStringLiteral("http://127.0.0.1:%1/api/versionmac.json").arg(m_api))), ok)
                .toList();
        QVERIFY(ok);
        QVERIFY(!versions.isEmpty());
        QVERIFY(!versions.first().toMap().value("version").toString().isEmpty());
    }

    void unknownPathsAndEscapes()
    {
        QCOMPARE(int(downloadByUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/api/nothing.json").arg(m_api)), 3000)
                         .networkError),
                 int(QNetworkReply::ContentNotFoundError));
        // Only files directly in the demo directory are served.
        QCOMPARE(
            int(downloadByUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/api/..%2F..%2Fhttpfixture.h").arg(m_api)), 3000)
                    .networkError),
            int(QNetworkReply::ContentNotFoundError));
    }

    void everyLinkOfTheClientAnswersWithAPage()
    {
        // The addresses the client opens: its web links, the address check,
        // the help pages named in its error messages, its help sections and
        // the news it shows, all on the demo deployment compiled into it.
        QStringList links = { URL_NEED_VPN,  URL_CLIENT_AREA,   URL_PROTOCOL,     URL_STATUS,
                              URL_SUPPORT,   URL_LEGAL,         URL_PROTOCOL_USE, URL_ROADMAP,
                              URL_CHANGELOG, URL_RESETPASSWORD, URL_IPLEACKCHECK };
        const QRegularExpression href(QStringLiteral("href='([^']+)'"));
        for (const QString& message : { userErrorMessageAuthFailed(), userErrorMessageAllAdaptersInUse() })
            links << href.match(message).captured(1);
        {
            TestSupport::resetSettings();
            Model model(nullptr);
            for (const HelpSection::Ptr& section : model.helpSections()->list()) {
                for (const HelpItem::Ptr& item : section->items()->list())
                    links << item->url();
            }
            model.stop();
        }
        bool ok = false;
        const QVariantList news =
            QtJson::parse(
                QString::fromUtf8(fetch(QStringLiteral("http://127.0.0.1:%1/api/latest-news.json").arg(m_api))), ok)
                .toList();
        QVERIFY(ok && !news.isEmpty());
        for (const QVariant& entry : news)
            links << entry.toMap().value("url").toString();
        QVERIFY(links.size() > 20);

        for (const QString& link : qAsConst(links)) {
            QUrl url(link);
            QVERIFY2(url.isValid() && url.scheme() == "http" && QHostAddress(url.host()).isLoopback(),
                     qPrintable(link));
            // A redirect leads on to the demo site, once.
            std::optional<HttpFixture::Route> route;
            for (int hop = 0; hop < 2; ++hop) {
                HttpFixture::Request request;
                request.method = "GET";
                request.path = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority);
                request.serverPort = quint16(url.port(80));
                route = DemoService::answer(DemoService::defaultDemoDir(), request);
                QVERIFY2(route, qPrintable(link));
                if (route->status != 302)
                    break;
                url = QUrl(QString::fromUtf8(route->headers.value(0).second));
            }
            QVERIFY2(route->status == 200 && route->contentType.startsWith("text/html"), qPrintable(link));
            QVERIFY2(route->body.contains("</html>"), qPrintable(link));
        }
        // The AUTH_FAILED help names the demo account.
        HttpFixture::Request help;
        help.path = QUrl(href.match(userErrorMessageAuthFailed()).captured(1)).path().toUtf8();
        QVERIFY(DemoService::answer(DemoService::defaultDemoDir(), help)->body.contains("AUTH_FAILED"));
        // Data files still answer 404 when missing, and no page leaves the pages directory.
        for (const QByteArray& path : { QByteArray("/api/missing.json"), QByteArray("/mirror/none.zip") }) {
            HttpFixture::Request request;
            request.path = path;
            QVERIFY2(!DemoService::answer(DemoService::defaultDemoDir(), request), path.constData());
        }
        QVERIFY(!DemoService::webPage(DemoService::defaultPagesDir(), "/../../CMakeLists", {}).contains("project("));
    }

    void startFailures()
    {
        DemoService other;
        QString error;
        QVERIFY(!other.start(m_ini, DemoService::defaultDemoDir(), &error)); // ports taken
        QVERIFY(error.contains("cannot listen"));
        QVERIFY(other.ports().isEmpty());
        QVERIFY(!other.start(m_dir.filePath("none.ini"), DemoService::defaultDemoDir(), &error));
        QVERIFY(!other.start(m_ini, m_dir.filePath("no-dir"), &error));
    }
};

OSTREL_TEST_MAIN(TestDemoService)
#include "tst_demoservice.moc"
