// The model's configuration writers, the worker's request handling, the
// V2Ray list and client download, and the connect preconditions. This test
// lives in a directory of its own: no OpenVPN or scripts beside it (a
// connect fails at once and touches nothing), and the "v2ray" it downloads
// is its own. The V2Ray list and archive come from a loopback server on the
// deployment's port, inside a network namespace of the test's own as root.
#include "testsupport.h"

#include "deployment.h"
#include "httpfixture.h"
#include "model/model.h"
#include "nstools.h"
#include "resources.h"
#include "settings.h"
#include "systemhelper.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QtGui/private/qzipwriter_p.h>

#include <memory>

namespace {

QString configPath(const QString& name)
{
    return SystemHelper::instance().configsFilesDirPath() + QLatin1Char('/') + name;
}

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool writeBytes(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

ProxyLocation::Ptr proxy(const QString& id, const QString& port = "443", const QString& alterid = "0",
                         const QString& userid = "0b5c7c2e-2c55-4f6b-9a0e-3b1f6f3a9d11", const QString& path = "/ray")
{
    return ProxyLocation::Ptr(new ProxyLocation(id, "caption", "v2.example.net", port, userid, alterid, path));
}

} // namespace

class TestConnectUnits : public QObject
{
    Q_OBJECT
    std::unique_ptr<Model> m_model;
    QTimer m_boxCloser;

private slots:
    void initTestCase()
    {
        initResources();
        TestSupport::resetSettings();
        m_model.reset(new Model(nullptr));
        // No box may hold a test: every modal one is closed at once.
        connect(&m_boxCloser, &QTimer::timeout, [] {
            if (QWidget* box = QApplication::activeModalWidget())
                box->close();
        });
        m_boxCloser.start(50);
    }

    void cleanupTestCase()
    {
        m_model->stop();
        m_model.reset();
    }

    void ovpnFileLines_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<QString>("route");
        QTest::addColumn<QString>("socksIp");
        QTest::addColumn<QString>("socksPort");
        QTest::addColumn<QStringList>("dns");
        QTest::addColumn<QString>("proxyRoute");
        QTest::addColumn<bool>("lowerMtu");
        QTest::addColumn<QByteArray>("generated");
        QTest::addColumn<QString>("templateName");

        const QByteArray plain = "remote 10.0.0.1\r\nrport 1194\r\npersist-remote-ip\r\n";
        QTest::newRow("udp, a socks port without address") << 256 << "UDP" << "" << "" << "1080" << QStringList() << ""
                                                           << false << plain << "udp-256.ovpn";
        QTest::newRow("lower-case tcp counts as udp") << 257 << "tcp" << "" << "" << "" << QStringList() << "" << false
                                                      << plain << "ecc-udp-128.ovpn";
        QTest::newRow("tcp, every line") << 128 << "TCP" << "192.168.1.1" << "127.0.0.1" << "10801"
                                         << QStringList { "pull-filter ignore \"dhcp-option DNS\"", "dhcp-option DNS 10.255.0.1" }
                                         << "203.0.113.5" << true
                                         << QByteArray("pull-filter ignore \"dhcp-option DNS\"\r\ndhcp-option DNS 10.255.0.1\r\n"
                                                       "proto tcp-client\r\nremote 10.0.0.1\r\nrport 1194\r\npersist-remote-ip\r\n"
                                                       "route 10.0.0.1 255.255.255.255 192.168.1.1\r\nmssfix 1245\r\n"
                                                       "socks-proxy 127.0.0.1 10801\r\n"
                                                       "route 203.0.113.5 255.255.255.255 net_gateway default\r\n")
                                         << "tcp-128.ovpn";
        QTest::newRow("ecc tcp") << 257 << "TCP" << "" << "" << "" << QStringList() << "" << false
                                 << "proto tcp-client\r\n" + plain << "ecc-tcp-128.ovpn";
        QTest::newRow("xor udp") << 258 << "UDP" << "" << "" << "" << QStringList() << "" << false << plain
                                 << "xor-udp-128.ovpn";
        QTest::newRow("256 tcp") << 256 << "TCP" << "" << "" << "" << QStringList() << "" << false
                                 << "proto tcp-client\r\n" + plain << "tcp-256.ovpn";
        QTest::newRow("128 udp") << 128 << "UDP" << "" << "" << "" << QStringList() << "" << false << plain
                                 << "udp-128.ovpn";
    }

    void ovpnFileLines()
    {
        QFETCH(int, bits);
        QFETCH(QString, protocol);
        QFETCH(QString, route);
        QFETCH(QString, socksIp);
        QFETCH(QString, socksPort);
        QFETCH(QStringList, dns);
        QFETCH(QString, proxyRoute);
        QFETCH(bool, lowerMtu);
        QFETCH(QByteArray, generated);
        QFETCH(QString, templateName);

        m_model->makeOVPNFile(bits, protocol, "1194", "10.0.0.1", true, route, lowerMtu, socksIp, socksPort, dns, proxyRoute);
        // The template follows the last CR LF directly, byte for byte.
        QCOMPARE(readBytes(configPath("config.ovpn")), generated + readBytes(":/ovpnconfs/" + templateName));
    }

    void ovpnFileRefusedKeepsTheOldOne_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("proxyRoute");
        QTest::addColumn<QString>("dnsLine");
        QTest::newRow("no template for the family") << 512 << "10.0.0.1" << "1194" << "" << "";
        QTest::newRow("line break in the server") << 256 << "10.0.0.1\nup /bin/sh" << "1194" << "" << "";
        QTest::newRow("blank in the server") << 256 << "10.0.0.1 443" << "1194" << "" << "";
        QTest::newRow("directive after the port") << 256 << "10.0.0.1" << "1194\r\nscript-security 3" << "" << "";
        QTest::newRow("proxy host with more words") << 256 << "10.0.0.1" << "1194" << "203.0.113.5 net_gateway\nup x" << "";
        QTest::newRow("line break in a DNS line") << 256 << "10.0.0.1" << "1194" << "" << "dhcp-option DNS 10.0.0.9\nup /x";
    }

    void ovpnFileRefusedKeepsTheOldOne()
    {
        QFETCH(int, bits);
        QFETCH(QString, server);
        QFETCH(QString, port);
        QFETCH(QString, proxyRoute);
        QFETCH(QString, dnsLine);
        QVERIFY(writeBytes(configPath("config.ovpn"), "earlier file\n"));
        const QStringList dns = dnsLine.isEmpty() ? QStringList() : QStringList { dnsLine };
        m_model->makeOVPNFile(bits, "UDP", port, server, true, "", false, "", "", dns, proxyRoute);
        QCOMPARE(readBytes(configPath("config.ovpn")), QByteArray("earlier file\n"));
    }

    void proxyJsonCarriesTheValuesSafely()
    {
        // Quotes, a backslash, a line break, a placeholder's own text and a
        // character outside Latin-1 stay inside their strings.
        const QString userid = "id\"}, \"x\": {\"\\";
        const QString path = "/ray\n%port%\u00e9\u4e2d";
        const ProxyLocation::Ptr location = proxy("nlproxy", "443", "64", userid, path);
        m_model->connection()->setProxyLocation(location);
        QVERIFY(m_model->configureV2ProxyConfFile(location));

        QJsonParseError error;
        const QJsonObject root = QJsonDocument::fromJson(readBytes(configPath("proxy.json")), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(root["inbounds"][0]["port"].toInt(), 10801);
        const QJsonObject vmess = root["outbounds"][0].toObject();
        const QJsonObject server = vmess["settings"]["vnext"][0].toObject();
        QCOMPARE(server["address"].toString(), QString("v2.example.net"));
        QCOMPARE(server["port"].toVariant(), QVariant(443));
        QCOMPARE(server["users"][0]["id"].toString(), userid);
        QCOMPARE(server["users"][0]["alterId"].toVariant(), QVariant(64));
        QCOMPARE(vmess["streamSettings"]["wsSettings"]["path"].toString(), path);
        QCOMPARE(root["outbounds"].toArray().size(), 2);

        // The real client reads what is written for an ordinary location.
        const QString v2ray = QStandardPaths::findExecutable("v2ray");
        if (v2ray.isEmpty())
            QSKIP("Debian's v2ray is not installed");
        const ProxyLocation::Ptr ordinary = proxy("usproxy", "8443", "0", "0b5c7c2e-2c55-4f6b-9a0e-3b1f6f3a9d11", path);
        m_model->connection()->setProxyLocation(ordinary);
        QVERIFY(m_model->configureV2ProxyConfFile(ordinary));
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        check.start(v2ray, { "-test", "-config", configPath("proxy.json") });
        QVERIFY(check.waitForFinished(20000));
        QVERIFY2(check.exitCode() == 0, check.readAll().constData());
    }

    void proxyJsonRefusesWhatIsNoNumber_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("alterid");
        QTest::newRow("port with a key after it") << "443, \"x\": 1" << "0";
        QTest::newRow("port with a leading zero") << "0443" << "0";
        QTest::newRow("port out of range") << "70000" << "0";
        QTest::newRow("alter id closing the object") << "443" << "0}";
        QTest::newRow("empty alter id") << "443" << "";
    }

    void proxyJsonRefusesWhatIsNoNumber()
    {
        QFETCH(QString, port);
        QFETCH(QString, alterid);
        QVERIFY(writeBytes(configPath("proxy.json"), "{}"));
        const ProxyLocation::Ptr location = proxy("nlproxy", port, alterid);
        m_model->connection()->setProxyLocation(location);
        QVERIFY(!m_model->configureV2ProxyConfFile(location));
        QCOMPARE(readBytes(configPath("proxy.json")), QByteArray("{}"));
    }

    void proxyJsonGoesForOtherThanV2Ray_data()
    {
        QTest::addColumn<QString>("engineProxy");
        QTest::addColumn<QString>("argument");
        QTest::newRow("disabled") << "1" << "1";
        QTest::newRow("own SOCKS5 proxy") << "2" << "2";
        QTest::newRow("no location") << "nlproxy" << "";
    }

    void proxyJsonGoesForOtherThanV2Ray()
    {
        QFETCH(QString, engineProxy);
        QFETCH(QString, argument);
        QVERIFY(writeBytes(configPath("proxy.json"), "{}"));
        m_model->connection()->setProxyLocation(proxy(engineProxy));
        QVERIFY(m_model->configureV2ProxyConfFile(argument.isEmpty() ? ProxyLocation::Ptr() : proxy(argument)));
        QVERIFY(!QFile::exists(configPath("proxy.json")));
        QVERIFY(!proxyLocationLocal(ProxyLocation::Ptr()) && !proxyLocationV2Ray(ProxyLocation::Ptr()));
    }

    void connectChecksBeforePosting()
    {
        Location::Ptr bad(new Location("bad"));
        bad->setHost("10.0.0.1\nup /bin/sh");
        m_model->setSelectedLocation(Location::Ptr());
        m_model->setSelectedProtocol(Protocol::Ptr(new Protocol(Constants::ProtocolType_OPENVPN256)));
        m_model->setSelectedPort(Port::Ptr(new Port("UDP-1194")));
        m_model->setUsername("");
        m_model->setUserpassword("");
        QSignalSpy toasts(m_model.get(), &Model::qmlShowToast);
        QSignalSpy preferences(m_model.get(), &Model::goPreferencesPage);
        QFile::remove(configPath("config.ovpn"));

        m_model->vpnConnectDisconnect();
        m_model->setUsername("user");
        m_model->vpnConnectDisconnect();
        m_model->setUserpassword("secret");
        m_model->vpnConnectDisconnect();
        m_model->setSelectedLocation(bad);
        m_model->vpnConnectDisconnect();

        QStringList texts;
        for (const QList<QVariant>& toast : toasts)
            texts << toast.first().toString();
        QCOMPARE(texts, QStringList({ "User name not specified", "Password name not specified", "Location not selected",
                                      "The server address of this location is not valid" }));
        QCOMPARE(preferences.count(), 2);
        QCOMPARE(m_model->connectionThread()->askedState(), Constants::RequestedAction_None);
        QVERIFY(!QFile::exists(configPath("config.ovpn")));
    }

    void connectWritesTheFilesAndPostsTheRequest()
    {
        Location::Ptr location(new Location("here"));
        location->setHost("192.0.2.10");
        m_model->setUsername("user");
        m_model->setUserpassword("secret");
        m_model->setSelectedLocation(location);
        m_model->setSelectedProtocol(Protocol::Ptr(new Protocol(Constants::ProtocolType_OPENVPN_ECC)));
        m_model->setSelectedPort(Port::Ptr(new Port("TCP-8089")));
        m_model->setSelectedDNSFiltering(DNSFiltering::Ptr(new DNSFiltering("s", Constants::DNSFiltering_secureDNS_localStreaming)));
        // Without the V2Ray client no proxy is used, whatever is selected.
        m_model->setSelectedProxyLocation(proxy("nlproxy"));
        QVERIFY(writeBytes(configPath("proxy.json"), "{}"));
        QVERIFY(!m_model->v2RayAvailable());

        LogCapture log;
        m_model->vpnConnectDisconnect();
        QCOMPARE(m_model->connectLocation(), location);
        QVERIFY(!m_model->connection()->proxyLocation());
        QVERIFY(!QFile::exists(configPath("proxy.json")));
        const QByteArray expected = "pull-filter ignore \"dhcp-option DNS\"\r\ndhcp-option DNS "
            + Deployment::value("dns/secureStreamingResolver").toLatin1()
            + "\r\nproto tcp-client\r\nremote 192.0.2.10\r\nrport 8089\r\npersist-remote-ip\r\n";
        QCOMPARE(readBytes(configPath("config.ovpn")), expected + readBytes(":/ovpnconfs/ecc-tcp-128.ovpn"));

        // OpenVPN is not beside this test: the worker serves the request and
        // the engine ends Disconnected.
        QVERIFY(!m_model->connectionThread()->waitWorkCompleted(60));
        QCOMPARE(m_model->connectionState(), Constants::ConnectState_Disconnected);
        QTRY_VERIFY_WITH_TIMEOUT(!m_model->connectLocation(), 10000);
        for (const QString& line : LogCapture::lines())
            QVERIFY2(!line.contains("secret"), qPrintable(line));
    }

    void workerServesOneRequestAtATime()
    {
        ConnectionThread worker(m_model.get(), nullptr);
        worker.finalize(); // not running: nothing to end, and it may still start
        worker.start();
        QVERIFY(worker.waitInitializeCompleted(30));
        QVERIFY(worker.connection());
        QVERIFY(!worker.connectionInitializeResult());

        LogCapture log;
        QVERIFY(worker.askState(Constants::RequestedAction_Attach));
        QTRY_COMPARE_WITH_TIMEOUT(worker.askedState(), Constants::RequestedAction_None, 10000);
        QVERIFY(!worker.waitWorkCompleted(10));
        QVERIFY(!log.contains("connect...") && !log.contains("disconnect..."));

        worker.finalize();
        QVERIFY(worker.isFinished());
        QVERIFY(!worker.connection());
    }

    void v2RayListAndClient()
    {
        HttpFixture::Server server;
        if (!server.start(HttpFixture::Server::Http, QUrl(Deployment::value("api/primary")).port()))
            QSKIP("the deployment's loopback port is taken (run as root for a namespace of the test's own)");
        server.setRoute("/api/v2rayconf.json",
                        HttpFixture::Route::ok(R"([{"n":"cfproxy","c":"A","address":"127.0.0.1","port":"443","userid":"u","alterid":"0","path":"/p"},
                                                  {"n":"xcfproxy","c":"B","address":"127.0.0.1","port":"443","userid":"u","alterid":"0","path":"/p"}])"));
        m_model->updateV2RayLocations();
        QTRY_COMPARE_WITH_TIMEOUT(m_model->proxyLocations()->count(), 4, 20000);
        const QList<ProxyLocation::Ptr> list = m_model->proxyLocations()->list();
        QCOMPARE(list[0]->id() + "|" + list[0]->caption(), QString("1|None (disabled)"));
        QCOMPARE(list[1]->id() + "|" + list[1]->caption() + "|" + list[1]->address(),
                 QString("2|Your own local SOCKS5 proxy|127.0.0.1 1080"));
        QCOMPARE(list[2]->firstCountryCode(), QString("cloudflare"));
        QCOMPARE(list[3]->firstCountryCode(), QString("xc"));

        const QString binary = SystemHelper::instance().v2RayBinaryFullFilePath();
        QFile::remove(binary);
        const QString archivePath = QUrl(getV2RayBinaryUrls().first()).path();
        QSignalSpy toasts(m_model.get(), &Model::qmlShowToast);

        server.setRoute(archivePath, HttpFixture::Route::withStatus(404, "gone"));
        m_model->v2RayDownload();
        QTRY_COMPARE_WITH_TIMEOUT(toasts.count(), 1, 20000);
        QVERIFY(toasts.last().first().toString().startsWith("Can't get v2ray\n"));
        QVERIFY(!m_model->v2RayDownloader());

        server.setRoute(archivePath, HttpFixture::Route::ok("no archive at all", "application/zip"));
        m_model->v2RayDownload();
        QTRY_COMPARE_WITH_TIMEOUT(toasts.count(), 2, 20000);
        QCOMPARE(toasts.last().first().toString(), QString("Zip extraction error."));

        QBuffer zip;
        zip.open(QIODevice::WriteOnly);
        {
            QZipWriter writer(&zip);
            // Stored without the executable bit, as an archive made elsewhere.
            writer.setCreationPermissions(QFile::ReadOwner | QFile::WriteOwner);
            writer.addFile("v2ray", QByteArray("#!/bin/sh\necho stand-in\n"));
            writer.close();
        }
        server.setRoute(archivePath, HttpFixture::Route::ok(zip.data(), "application/zip"));
        m_model->v2RayDownload();
        QVERIFY(m_model->v2RayDownloader());
        QTRY_VERIFY_WITH_TIMEOUT(m_model->v2RayAvailable(), 20000);
        QVERIFY(!m_model->v2RayDownloader());
        QVERIFY(QFileInfo(binary).isExecutable());
        QCOMPARE(toasts.count(), 2);
        QFile::remove(binary);
        m_model->updateV2RayProxyEnabled();
        QVERIFY(!m_model->v2RayAvailable());
    }

    void wakeDelaysAndForcedReconnect()
    {
        settings().remove("ReconnectOnSleepResumeConnectDelaySec");
        QCOMPARE(m_model->forceReconnectOnSleepResumeConnectDelaySec(), 5);
        settings().setValue("ReconnectOnSleepResumeConnectDelaySec", "abc");
        QCOMPARE(m_model->forceReconnectOnSleepResumeConnectDelaySec(), 2);
        settings().setValue("ReconnectOnSleepResumeDelaySec", "abc");
        QCOMPARE(m_model->forceReconnectOnSleepResumeDelaySec(), 5);
        settings().setValue("ReconnectOnSleepResumeDelaySec", "0");

        // Disconnected: the forced reconnect stores its time and stops; a
        // second one within 20 s is skipped.
        m_model->optionForceReconnectOnSleepResume()->setValue(true);
        LogCapture log;
        QMetaObject::invokeMethod(m_model.get(), "receiveWake");
        QTRY_COMPARE_WITH_TIMEOUT(log.count("forceReconnect\\(\\) connectState: Disconnected"), 1, 5000);
        QVERIFY(!log.contains("skip extra notification"));
        m_model->forceReconnect();
        QCOMPARE(log.count("skip extra notification"), 1);
        QVERIFY(!log.contains("selectLocationWithConnect with connect delay"));
    }
};

int main(int argc, char* argv[])
{
    // As root the suite runs in network and mount namespaces of its own: the
    // deployment's loopback port is then free whatever else runs here.
    NsTools::reexecInPrivateNamespaces(argc, argv);
    QApplication app(argc, argv);
    if (NsTools::inPrivateNamespaces())
        NsTools::run("ip", { "link", "set", "lo", "up" });
    TestSupport::initApplication();
    TestConnectUnits tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_connectunits.moc"
