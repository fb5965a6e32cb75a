// The demo web service: it answers on every loopback port of a deployment
// file, and what it serves is read by the client's own parsers.

#include "demoservice.h"
#include "downloader.h"
#include "getexternalip.h"
#include "getnews.h"
#include "getservers.h"
#include "qt-json/json.h"
#include "testsupport.h"

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
        const QList<ProxyLocation::Ptr> proxies =
            parseProxyLocations(fetch(QStringLiteral("http://127.0.0.1:%1/api/v2rayconf.json").arg(m_bucket)));
        QVERIFY(proxies.size() >= 1);
        for (const auto& p : proxies)
            QCOMPARE(p->address(), QStringLiteral("127.0.0.1"));

        QVERIFY(parseNews(fetch(QStringLiteral("http://127.0.0.1:%1/api/latest-news.json").arg(m_api))).size() >= 1);

        GetExternalIpResult ip;
        QVERIFY(parseExternalIPResult(fetch(QStringLiteral("http://127.0.0.1:%1/geo/").arg(m_api)), ip));
        QVERIFY(ip.errors.isEmpty());

        bool ok = false;
        const QVariantList versions =
            QtJson::parse(QString::fromUtf8(fetch(QStringLiteral("http://127.0.0.1:%1/api/versionmac.json").arg(m_api))), ok)
                .toList();
        QVERIFY(ok);
        QVERIFY(!versions.isEmpty());
        QVERIFY(!versions.first().toMap().value("version").toString().isEmpty());
    }

    void unknownPathsAndEscapes()
    {
        QCOMPARE(int(downloadByUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/api/nothing.json").arg(m_api)), 3000).networkError),
                 int(QNetworkReply::ContentNotFoundError));
        // Only files directly in the demo directory are served.
        QCOMPARE(int(downloadByUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/api/..%2F..%2Fhttpfixture.h").arg(m_api)), 3000).networkError),
                 int(QNetworkReply::ContentNotFoundError));
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
