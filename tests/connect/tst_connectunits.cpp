// The model's configuration writers, the worker's request handling, the
// V2Ray list and client download, and the connect preconditions. This test
// lives in a directory of its own: no OpenVPN or scripts beside it (a
// connect fails at once and touches nothing), and the "v2ray" it downloads
// is its own. The V2Ray list and archive come from a loopback server on the
// deployment's port, inside a network namespace of the test's own as root.
#include "testsupport.h"

#include "checknewversion.h"
#include "deployment.h"
#include "httpfixture.h"
#include "model/model.h"
#include "resources.h"
#include "settings.h"
#include "singlestartman.h"
#include "systemhelper.h"
#include "ziphelpers.h"

#include <QAbstractButton>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>

#include <functional>
#include <memory>

namespace {

QString configPath(const QString& name)
{
    return SystemHelper::instance().configsFilesDirPath() + QLatin1Char('/') + name;
}

using TestSupport::readBytes;
using TestSupport::writeBytes;

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

    void ovpnFileLines()
    {
        auto written = [this](int bits, const QString& protocol, const QString& route, const QString& socksIp,
                              const QStringList& dns, const QString& proxyRoute, bool lowerMtu) {
            m_model->makeOVPNFile(bits, protocol, "1194", "10.0.0.1", true, route, lowerMtu, socksIp, "10801", dns,
                                  proxyRoute);
            return readBytes(configPath("config.ovpn"));
        };
        // The template follows the last CR LF directly, byte for byte.
        auto withTemplate = [](const QByteArray& generated, const QString& name) {
            return generated + readBytes(":/ovpnconfs/" + name);
        };
        const QByteArray plain = "remote 10.0.0.1\r\nrport 1194\r\npersist-remote-ip\r\n";
        QCOMPARE(written(256, "UDP", "", "", {}, "", false), withTemplate(plain, "udp-256.ovpn"));
        QCOMPARE(written(257, "tcp", "", "", {}, "", false), withTemplate(plain, "ecc-udp-128.ovpn"));
        QCOMPARE(written(258, "UDP", "", "", {}, "", false), withTemplate(plain, "xor-udp-128.ovpn"));
        QCOMPARE(
            written(128, "TCP", "192.168.1.1", "127.0.0.1",
                    { "pull-filter ignore \"dhcp-option DNS\"", "dhcp-option DNS 10.255.0.1" }, "203.0.113.5", true),
            withTemplate("pull-filter ignore \"dhcp-option DNS\"\r\ndhcp-option DNS 10.255.0.1\r\nproto tcp-client\r\n"
                         "remote 10.0.0.1\r\nrport 1194\r\npersist-remote-ip\r\n"
                         "route 10.0.0.1 255.255.255.255 192.168.1.1\r\nmssfix 1245\r\nsocks-proxy 127.0.0.1 10801\r\n"
                         "route 203.0.113.5 255.255.255.255 net_gateway default\r\n",
                         "tcp-128.ovpn"));

        // No template for the family, or a value that would end its line: the
        // earlier file stays.
        const QList<std::function<void()>> refused = {
            [this] { m_model->makeOVPNFile(512, "UDP", "1194", "10.0.0.1", true, "", false, "", "", {}, ""); },
            [this] {
                m_model->makeOVPNFile(256, "UDP", "1194", "10.0.0.1\nup /bin/sh", true, "", false, "", "", {}, "");
            },
            [this] {
                m_model->makeOVPNFile(256, "UDP", "1194\r\nscript-security 3", "10.0.0.1", true, "", false, "", "", {},
                                      "");
            },
            [this] {
                m_model->makeOVPNFile(256, "UDP", "1194", "10.0.0.1", true, "", false, "", "",
                                      { "dhcp-option DNS 10.0.0.9\nup /x" }, "");
            },
        };
        for (const auto& write : refused) {
            QVERIFY(writeBytes(configPath("config.ovpn"), "earlier file\n"));
            write();
            QCOMPARE(readBytes(configPath("config.ovpn")), QByteArray("earlier file\n"));
        }
    }

    void proxyJsonCarriesTheValuesSafely()
    {
        // A placeholder's own text and characters outside Latin-1 stay
        // inside their strings.
        const QString userid = "id-%path%";
        const QString path = "/ray%port%\u00e9\u4e2d";
        const ProxyLocation::Ptr location = proxy("nlproxy", "443", "64", userid, path);
        m_model->connection()->setProxyLocation(location);
        QVERIFY(m_model->configureV2ProxyConfFile(location));
        QJsonParseError error;
        const QJsonObject root = QJsonDocument::fromJson(readBytes(configPath("proxy.json")), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QJsonObject server = root["outbounds"][0]["settings"]["vnext"][0].toObject();
        QCOMPARE(server["address"].toString(), QString("v2.example.net"));
        QCOMPARE(server["port"].toVariant(), QVariant(443));
        QCOMPARE(server["users"][0]["id"].toString(), userid);
        QCOMPARE(server["users"][0]["alterId"].toVariant(), QVariant(64));
        QCOMPARE(root["outbounds"][0]["streamSettings"]["wsSettings"]["path"].toString(), path);

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

    void theProxyListKeepsOnlyWhatTheWritersTake()
    {
        // One entry per way of being unusable, and usable ones of each
        // address kind; the list and the writers must agree on every one.
        const QByteArray list = R"([
            {"n":"okname","c":"A","address":"v2.example.net","port":"443","userid":"u1","alterid":"0","path":"/p"},
            {"n":"okv4","c":"A","address":"192.0.2.7","port":8443,"userid":"u1","alterid":64,"path":""},
            {"n":"okv6","c":"A","address":"2001:db8::7","port":"443","userid":"u1","alterid":"0","path":"/p"},
            {"n":"blankport","c":"B","address":"192.0.2.7","port":" 443","userid":"u1","alterid":"0","path":"/p"},
            {"n":"signport","c":"B","address":"192.0.2.7","port":"+443","userid":"u1","alterid":"0","path":"/p"},
            {"n":"zeroport","c":"B","address":"192.0.2.7","port":"0443","userid":"u1","alterid":"0","path":"/p"},
            {"n":"noalter","c":"B","address":"192.0.2.7","port":"443","userid":"u1","path":"/p"},
            {"n":"noid","c":"B","address":"192.0.2.7","port":"443","alterid":"0","path":"/p"},
            {"n":"blankaddr","c":"B","address":" 1.2.3.4","port":"443","userid":"u1","alterid":"0","path":"/p"},
            {"n":"scope","c":"B","address":"fe80::1%eth0","port":"443","userid":"u1","alterid":"0","path":"/p"},
            {"n":"shortv4","c":"B","address":"10.1","port":"443","userid":"u1","alterid":"0","path":"/p"},
            {"n":"quote","c":"B","address":"192.0.2.7","port":"443","userid":"u\u00221","alterid":"0","path":"/p"},
            {"n":"newline","c":"B","address":"192.0.2.7","port":"443","userid":"u1","alterid":"0","path":"/p\u000aq"}
        ])";
        QStringList kept;
        for (const ProxyLocation::Ptr& location : parseProxyLocations(list)) {
            kept << location->id();
            m_model->connection()->setProxyLocation(location);
            QVERIFY2(m_model->configureV2ProxyConfFile(location), qPrintable(location->id()));
        }
        QCOMPARE(kept, QStringList({ "okname", "okv4", "okv6" }));

        // The same values, never through the list, are refused by the writer.
        const QVariantList entries = QJsonDocument::fromJson(list).toVariant().toList();
        for (const QVariant& entry : entries.mid(3)) {
            const QVariantMap m = entry.toMap();
            const ProxyLocation::Ptr location(
                new ProxyLocation(m["n"].toString(), m["c"].toString(), m["address"].toString(), m["port"].toString(),
                                  m["userid"].toString(), m["alterid"].toString(), m["path"].toString()));
            QVERIFY(writeBytes(configPath("proxy.json"), "earlier file"));
            m_model->connection()->setProxyLocation(location);
            QVERIFY2(!m_model->configureV2ProxyConfFile(location), qPrintable(location->id()));
            // Nothing of an earlier connect is left for the V2Ray client.
            QVERIFY(!QFile::exists(configPath("proxy.json")));
        }
    }

    void aConnectNeverStartsWithAnEarlierFile()
    {
        Location::Ptr location(new Location("here"));
        location->setHost("192.0.2.10");
        m_model->setUsername("user");
        m_model->setUserpassword("secret");
        m_model->setSelectedLocation(location);
        m_model->setSelectedProtocol(Protocol::Ptr(new Protocol(Constants::ProtocolType_OPENVPN256)));
        m_model->setSelectedPort(Port::Ptr(new Port("TCP-2121")));
        QSignalSpy toasts(m_model.get(), &Model::qmlShowToast);
        auto connectRefused = [&](const QString& toast) {
            m_model->vpnConnectDisconnect();
            QCOMPARE(m_model->connectionThread()->askedState(), Constants::RequestedAction_None);
            QCOMPARE(m_model->connectionState(), Constants::ConnectState_Disconnected);
            QVERIFY(!m_model->connectLocation());
            QVERIFY(!toasts.isEmpty());
            QVERIFY2(toasts.last().first().toString().startsWith(toast), qPrintable(toasts.last().first().toString()));
        };

        // A proxy whose address the OpenVPN file cannot carry (made by hand:
        // the list would not take it): the earlier file is gone, nothing posted.
        QVERIFY(writeBytes(configPath("config.ovpn"), "remote 198.51.100.1\nrport 1194\n"));
        m_model->setSelectedProxyLocation(
            ProxyLocation::Ptr(new ProxyLocation("scoped", "S", "fe80::1%eth0", "443", "u1", "0", "/p")));
        // As if the V2Ray client were there (choosing a proxy looks for it).
        m_model->setV2RayAvailable(true);
        connectRefused("Can't write the OpenVPN configuration: unusable proxy route host");
        QVERIFY(!QFile::exists(configPath("config.ovpn")));

        // The earlier file cannot even be removed (a directory stands there).
        m_model->setSelectedProxyLocation(ProxyLocation::Ptr());
        QVERIFY(QDir().mkpath(configPath("config.ovpn") + "/held"));
        connectRefused("Can't write the OpenVPN configuration: " + configPath("config.ovpn") + " cannot be replaced");
        QVERIFY(QDir(configPath("config.ovpn")).removeRecursively());

        // The V2Ray file cannot be written: no connect either.
        m_model->setSelectedProxyLocation(proxy("nlproxy", "443", "x"));
        m_model->setV2RayAvailable(true);
        connectRefused("Can't configure v2ray");
        m_model->setSelectedProxyLocation(ProxyLocation::Ptr());
        m_model->setV2RayAvailable(false);
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
        QCOMPARE(texts,
                 QStringList({ "User name not specified", "Password name not specified", "Location not selected",
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
        m_model->setSelectedDNSFiltering(
            DNSFiltering::Ptr(new DNSFiltering("s", Constants::DNSFiltering_secureDNS_localStreaming)));
        // Without the V2Ray client no proxy is used, whatever is selected.
        m_model->setSelectedProxyLocation(proxy("nlproxy"));
        QVERIFY(writeBytes(configPath("proxy.json"), "{}"));
        QVERIFY(!m_model->v2RayAvailable());

        LogCapture log;
        m_model->vpnConnectDisconnect();
        QCOMPARE(m_model->connectLocation(), location);
        QVERIFY(!m_model->connection()->proxyLocation());
        QVERIFY(!QFile::exists(configPath("proxy.json")));
        QVERIFY(!proxyLocationLocal(ProxyLocation::Ptr()) && !proxyLocationV2Ray(ProxyLocation::Ptr()));
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

    void v2RayListAndClient()
    {
        HttpFixture::Server server;
        if (!server.start(HttpFixture::Server::Http, QUrl(Deployment::value("api/primary")).port()))
            QSKIP("the deployment's loopback port is taken (run as root for a namespace of the test's own)");
        server.setRoute(
            "/api/v2rayconf.json",
            HttpFixture::Route::ok(
                R"([{"n":"cfproxy","c":"A","address":"127.0.0.1","port":"443","userid":"u","alterid":"0","path":"/p"},
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

        server.setRoute(archivePath, HttpFixture::Route::ok("no archive at all", "application/zip"));
        m_model->v2RayDownload();
        QTRY_COMPARE_WITH_TIMEOUT(toasts.count(), 1, 20000);
        QCOMPARE(toasts.last().first().toString(), QString("Zip extraction error."));

        // Stored without the executable bit, as an archive made elsewhere.
        const QByteArray zip = ZipHelpers::zipBytes({ { "v2ray", 0100600, "#!/bin/sh\necho stand-in\n" } });
        QVERIFY(!zip.isEmpty());
        server.setRoute(archivePath, HttpFixture::Route::ok(zip, "application/zip"));
        m_model->v2RayDownload();
        QVERIFY(m_model->v2RayDownloader());
        QTRY_VERIFY_WITH_TIMEOUT(m_model->v2RayAvailable(), 20000);
        QVERIFY(!m_model->v2RayDownloader());
        QVERIFY(QFileInfo(binary).isExecutable());
        QCOMPARE(toasts.count(), 1);
        QFile::remove(binary);
    }

    // A server's text reaches the log escaped, one line each.
    void hostileServerTextStaysOnItsLine()
    {
        HttpFixture::Server server;
        if (!server.start(HttpFixture::Server::Http, QUrl(Deployment::value("api/primary")).port()))
            QSKIP("the deployment's loopback port is taken (run as root for a namespace of the test's own)");
        auto checkEscaped = [](const QString& marker, const QString& escaped) {
            const QStringList lines = LogCapture::matching(QRegularExpression::escape(marker));
            QVERIFY2(!lines.isEmpty(), qPrintable(marker));
            for (const QString& line : lines) {
                QVERIFY2(line.contains(escaped), qPrintable(line));
                for (const QChar c : line)
                    QVERIFY2(c.category() != QChar::Other_Control, qPrintable(line));
            }
        };

        LogCapture log;
        server.setRoute("/api/versionmac.json",
                        HttpFixture::Route::ok("[{\"version\": \"2.9.0\", "
                                               "\"url\": \"http://127.0.0.1/pkg\\n[C] forged url line\\u001b[2K\"}]"));
        UpdateManager manager(nullptr, { server.url("/api/versionmac.json") }, "update");
        manager.setTimeouts(5000, 10);
        manager.start();
        QVERIFY(manager.wait(30000));
        QCOMPARE(manager.newVersion(), QString("2.9.0"));
        checkEscaped("forged url line", "http://127.0.0.1/pkg\\n[C] forged url line\\x1b[2K");

        HttpFixture::Route hostile = HttpFixture::Route::withStatus(500);
        hostile.reason = "Oops\r[C] forged reason line\x1b[2K";
        server.setRoute(QUrl(getV2RayBinaryUrls().first()).path(), hostile);
        QSignalSpy toasts(m_model.get(), &Model::qmlShowToast);
        m_model->v2RayDownload();
        QTRY_COMPARE_WITH_TIMEOUT(toasts.count(), 1, 20000);
        checkEscaped("forged reason line", "Oops\\r[C] forged reason line\\x1b[2K");

        // The error box shows the engine's messages as rich text, with their
        // help links (the engine escapes what it quotes), and returns at once.
        QVERIFY(QMetaObject::invokeMethod(m_model.get(), "onConnectionError",
                                          Q_ARG(QString, userErrorMessageAuthFailed())));
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        QCOMPARE(box->textFormat(), Qt::RichText);
        QVERIFY(box->textInteractionFlags().testFlag(Qt::LinksAccessibleByMouse));
        box->close();
    }

    void aRefreshedProxyListKeepsTheChoice()
    {
        HttpFixture::Server server;
        if (!server.start(HttpFixture::Server::Http, QUrl(Deployment::value("api/primary")).port()))
            QSKIP("the deployment's loopback port is taken (run as root for a namespace of the test's own)");
        auto serve = [&](const QByteArray& entries) {
            server.setRoute("/api/v2rayconf.json", HttpFixture::Route::ok("[" + entries + "]"));
            QSignalSpy reset(m_model->proxyLocations(), &QAbstractItemModel::modelReset);
            m_model->updateV2RayLocations();
            QVERIFY(reset.wait(20000));
        };
        const QByteArray other =
            R"({"n":"deproxy","c":"DE","address":"192.0.2.8","port":"443","userid":"u1","alterid":"0","path":"/p"})";
        serve(
            other
            + R"(,{"n":"nlproxy","c":"NL","address":"192.0.2.7","port":"443","userid":"u1","alterid":"0","path":"/p"})");
        m_model->userSelectProxyLocationById("nlproxy");
        QCOMPARE(m_model->selectedProxyLocation()->port(), QString("443"));

        // The periodic refresh brings new objects with a new port: the choice
        // is the new list's entry of the same id, in QML as well.
        QSignalSpy raw(m_model.get(), &Model::selectedProxyLocationRawChanged);
        serve(
            other
            + R"(,{"n":"nlproxy","c":"NL","address":"192.0.2.9","port":"8443","userid":"u1","alterid":"0","path":"/p"})");
        const ProxyLocation::Ptr chosen = m_model->selectedProxyLocation();
        QVERIFY(m_model->proxyLocations()->list().contains(chosen));
        QCOMPARE(chosen->id() + " " + chosen->address() + " " + chosen->port(), QString("nlproxy 192.0.2.9 8443"));
        QCOMPARE(raw.count(), 1);

        // A connect writes what the new entry says.
        Location::Ptr location(new Location("here"));
        location->setHost("192.0.2.10");
        m_model->setUsername("user");
        m_model->setUserpassword("secret");
        m_model->setSelectedLocation(location);
        m_model->setSelectedProtocol(Protocol::Ptr(new Protocol(Constants::ProtocolType_OPENVPN256)));
        m_model->setSelectedPort(Port::Ptr(new Port("TCP-2121")));
        m_model->setV2RayAvailable(true);
        m_model->vpnConnectDisconnect();
        const QJsonObject written = QJsonDocument::fromJson(readBytes(configPath("proxy.json"))).object();
        const QJsonObject vnext = written["outbounds"][0]["settings"]["vnext"][0].toObject();
        QCOMPARE(vnext["address"].toString() + " " + QString::number(vnext["port"].toInt()), QString("192.0.2.9 8443"));
        QVERIFY(readBytes(configPath("config.ovpn")).contains("route 192.0.2.9 255.255.255.255 net_gateway default"));
        QVERIFY(!m_model->connectionThread()->waitWorkCompleted(60));

        // Gone from the list: chosen again, never kept from the old list.
        LogCapture log;
        serve(other);
        QVERIFY(m_model->proxyLocations()->list().contains(m_model->selectedProxyLocation()));
        QVERIFY(m_model->selectedProxyLocation()->id() != "nlproxy");
        QVERIFY(log.contains("proxy location lost nlproxy"));
        m_model->setV2RayAvailable(false);
    }

    void startUpChecksWithoutOpenVpn()
    {
        // No "openvpn.ostrel" beside this test: the engine did not initialise
        // and no adapter was probed. The single-instance server's socket goes
        // into a directory of this test's own.
        QTemporaryDir tmp;
        const QByteArray previousTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", tmp.path().toLocal8Bit());
        const auto restoreTmp = qScopeGuard([&] { qputenv("TMPDIR", previousTmp); });
        QVERIFY(!m_model->connectionThread()->connectionInitializeResult());
        auto serverListens = [] {
            QLocalSocket probe;
            probe.connectToServer(SingleStartMan::ipcServerPath());
            return probe.waitForConnected(2000);
        };
        // Whether the application was asked to quit: an event loop started
        // now returns at once. Draining it as the application's end would
        // lets the next loops run again.
        auto quitAsked = [] {
            QEventLoop loop;
            QTimer::singleShot(3000, &loop, [&loop] { loop.exit(1); });
            const bool asked = loop.exec() != 1;
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            QCoreApplication::exec();
            return asked;
        };

        // The adapter "installed": nothing can install it here, so the
        // application quits and the server never listens.
        m_boxCloser.stop();
        QStringList texts;
        QTimer answer;
        QMessageBox::StandardButton button = QMessageBox::Yes;
        connect(&answer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                QAbstractButton* chosen = box->button(button);
                chosen ? chosen->click() : box->button(QMessageBox::Ok)->click();
            }
        });
        answer.start(50);
        const auto restoreCloser = qScopeGuard([&] { m_boxCloser.start(50); });
        m_model->checkVpnInstalled();
        QCOMPARE(texts,
                 QStringList({ "OpenVPN initialize error", "TAP drivers not installed. Install it now?",
                               "TAP drivers not installed. Terminated" }));
        QVERIFY(quitAsked());
        QVERIFY(!serverListens());

        // Cancelled: start-up goes on and the server listens afterwards.
        texts.clear();
        button = QMessageBox::Cancel;
        m_model->checkVpnInstalled();
        QCOMPARE(texts, QStringList({ "OpenVPN initialize error", "TAP drivers not installed. Install it now?" }));
        QVERIFY(!quitAsked());
        QVERIFY(serverListens());
    }

    void wakeDelaysAndForcedReconnect()
    {
        settings().remove("ReconnectOnSleepResumeConnectDelaySec");
        QCOMPARE(m_model->forceReconnectOnSleepResumeConnectDelaySec(), 5);
        settings().setValue("ReconnectOnSleepResumeConnectDelaySec", "abc");
        QCOMPARE(m_model->forceReconnectOnSleepResumeConnectDelaySec(), 2);

        // Disconnected: the forced reconnect stores its time and stops; a
        // second one within 20 s is skipped.
        settings().setValue("ReconnectOnSleepResumeDelaySec", "0");
        m_model->optionForceReconnectOnSleepResume()->setValue(true);
        LogCapture log;
        QMetaObject::invokeMethod(m_model.get(), "receiveWake");
        QTRY_COMPARE_WITH_TIMEOUT(log.count("forceReconnect\\(\\) connectState: Disconnected"), 1, 5000);
        QVERIFY(!log.contains("skip extra notification"));
        m_model->forceReconnect();
        QCOMPARE(log.count("skip extra notification"), 1);
    }
};

// As root the suite runs in network and mount namespaces of its own: the
// deployment's loopback port is then free whatever else runs here.
OSTREL_TEST_MAIN(TestConnectUnits, TestMain::PrivateNamespaces | TestMain::LoopbackUp)
#include "tst_connectunits.moc"
