// Connecting through a V2Ray proxy end to end. The model starts Debian's
// v2ray (beside this test, in a directory of its own) from the proxy.json it
// writes for an entry of the proxy list that the loopback HTTP fixture serves.
// The proxy lies in a second network namespace behind a veth pair, reached
// through a gateway at an address outside the local-network ranges, as a real
// one is; a second v2ray there (VMess over WebSocket and TLS in, freedom out)
// leads to the OpenVPN TCP server on that namespace's loopback. As root the
// test runs in network and mount namespaces of its own; otherwise it skips.
#include "testsupport.h"

#include "deployment.h"
#include "httpfixture.h"
#include "nstools.h"
#include "resources.h"
#include "roadrig.h"
#include "settings.h"
#include "systemhelper.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>

#include <memory>

namespace {

const quint16 kServerPort = 11971;
const quint16 kProxyPort = 10443;
const char kProxyAddress[] = "198.51.100.7";
const char kUserId[] = "0b5c7c2e-2c55-4f6b-9a0e-3b1f6f3a9d11";
const QString kUser = QStringLiteral("proxy-road-user");
const QString kPassword = QStringLiteral("pr0xy-road-pass");
// The OpenVPN server's own address inside the tunnel (fixture subnet).
const char kServerTunnelAddress[] = "10.98.0.1";

using NsTools::chainRules;
using TestSupport::readBytes;
using TestSupport::writeBytes;

// The model's V2Ray client: started with "-c proxy.json". Only this test's
// network namespace counts: /proc shows every process of the machine, and a
// v2ray of another test or of another run must not.
QList<qint64> proxyClients()
{
    return RoadRig::processesHere("v2ray -c proxy.json");
}

// Packets sent through this namespace's tun devices so far (/proc/net is
// this namespace's; /sys may show another's).
qint64 tunPacketsSent()
{
    qint64 sent = 0;
    for (const QByteArray& line : readBytes("/proc/net/dev").split('\n')) {
        const int colon = line.indexOf(':');
        if (colon < 0 || !line.left(colon).trimmed().startsWith("tun"))
            continue;
        const QList<QByteArray> fields = line.mid(colon + 1).simplified().split(' ');
        if (fields.size() > 9)
            sent += fields.at(9).toLongLong();
    }
    return sent;
}

QByteArray vmessStream()
{
    return R"("streamSettings": {"network": "ws", "security": "tls", "wsSettings": {"path": "/ray"},)";
}

} // namespace

class TestV2RayRoad : public QObject
{
    Q_OBJECT
    RoadRig m_rig;
    std::unique_ptr<NsTools::Namespace> m_far;
    std::unique_ptr<QProcess> m_proxyServer;
    std::unique_ptr<HttpFixture::Server> m_lists;
    Model* m_model = nullptr;
    Location::Ptr m_here;

    ConnectionThread* worker() { return m_rig.worker(); }
    QString configPath(const QString& name) { return SystemHelper::instance().configsFilesDirPath() + "/" + name; }

    // A long-running program inside the far namespace.
    std::unique_ptr<QProcess> startFar(const QStringList& command)
    {
        std::unique_ptr<QProcess> process(new QProcess);
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start("nsenter", QStringList { QString("--net=/proc/%1/ns/net").arg(m_far->pid()) } + command);
        return process;
    }

    static void stopProcess(std::unique_ptr<QProcess>& process)
    {
        if (!process)
            return;
        process->terminate();
        if (!process->waitForFinished(10000)) {
            process->kill();
            process->waitForFinished(5000);
        }
        process.reset();
    }

    void connectThroughTheProxy()
    {
        m_model->setSelectedLocation(m_here);
        m_rig.connectAndWait(90000);
        if (QTest::currentTestFailed())
            return;
        // Traffic to the server's tunnel address leaves through the tun device.
        const qint64 before = tunPacketsSent();
        QCOMPARE(NsTools::run("ping", { "-c", "1", "-W", "10", kServerTunnelAddress }, 20000).code, 0);
        QVERIFY(tunPacketsSent() > before);
    }

    void disconnect()
    {
        m_rig.disconnectAndWait();
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY_WITH_TIMEOUT(proxyClients().isEmpty(), 15000);
    }

private slots:
    void initTestCase()
    {
        initResources();
        if (!NsTools::inPrivateNamespaces())
            QSKIP("needs root: the tunnel, the veth pair and the kill switch live in namespaces of the test's own");
        const QString v2ray = QStandardPaths::findExecutable("v2ray");
        if (v2ray.isEmpty())
            QSKIP("Debian's v2ray is not installed");
        QVERIFY2(QFileInfo(SystemHelper::instance().v2RayBinaryFullFilePath()).isExecutable(),
                 "the build links v2ray beside this test");
        OSTREL_RIG_STEP(m_rig.enterPrivateEtc());

        // The far side: the proxy's address on its loopback, a /30 towards
        // this namespace, which reaches it through that gateway only.
        m_far.reset(new NsTools::Namespace(NsTools::Namespace::Net));
        QVERIFY(m_far->isValid());
        const QString farPid = QString::number(m_far->pid());
        for (const QStringList& command :
             QList<QStringList> { { "link", "add", "vroad0", "type", "veth", "peer", "name", "vroad1" },
                                  { "link", "set", "vroad1", "netns", farPid },
                                  { "addr", "add", "203.0.113.1/30", "dev", "vroad0" },
                                  { "link", "set", "vroad0", "up" },
                                  { "route", "add", "default", "via", "203.0.113.2" } })
            QCOMPARE(NsTools::run("ip", command).code, 0);
        const NsTools::RunResult far = m_far->bash("set -e\n"
                                                   "ip link set lo up\n"
                                                   "ip addr add \"$1/32\" dev lo\n"
                                                   "ip addr add 203.0.113.2/30 dev vroad1\n"
                                                   "ip link set vroad1 up\n",
                                                   { kProxyAddress });
        QVERIFY2(far.code == 0, qPrintable(far.err));

        // The OpenVPN server of the "tcp-256" template, on the far loopback:
        // its script runs there through a wrapper.
        const QString wrappers = m_rig.workPath("far-scripts");
        QVERIFY(QDir().mkpath(wrappers));
        const QString wrapper = wrappers + "/ovpn-server.sh";
        QVERIFY(TestSupport::writeExecutable(wrapper,
                                             "#!/bin/sh\nexec nsenter --net=/proc/" + farPid.toLatin1() + "/ns/net "
                                                 + (OpenVpnFixture::scriptsDir() + "/ovpn-server.sh").toLocal8Bit()
                                                 + " \"$@\"\n"));
        OSTREL_RIG_STEP(m_rig.startServer("tcp", kServerPort, kUser, kPassword, {}, wrappers));

        // The proxy server: VMess over WebSocket and TLS in, freedom out.
        const QString certs = TestSupport::fixturesDir() + "/http/certs/";
        const QString serverConfig = m_rig.workPath("proxy-server.json");
        QVERIFY(writeBytes(serverConfig,
                           R"({"log": {"loglevel": "warning"},
            "inbounds": [{"listen": ")"
                               + QByteArray(kProxyAddress) + R"(", "port": )" + QByteArray::number(kProxyPort)
                               + R"(, "protocol": "vmess",
                "settings": {"clients": [{"id": ")"
                               + QByteArray(kUserId) + R"(", "alterId": 0}]},
                )" + vmessStream()
                               + R"( "tlsSettings": {"certificates": [{"certificateFile": ")"
                               + (certs + "server.crt").toLocal8Bit() + R"(", "keyFile": ")"
                               + (certs + "server.key").toLocal8Bit() + R"("}]}}}],
            "outbounds": [{"protocol": "freedom"}]})"));
        m_proxyServer = startFar({ v2ray, "-config", serverConfig });
        QVERIFY(m_proxyServer->waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(m_far->exec({ "ss", "-Htln", QString("src %1:%2").arg(kProxyAddress).arg(kProxyPort) })
                                     .out.contains(QString::number(kProxyPort)),
                                 20000);

        // The service's proxy list.
        m_lists.reset(new HttpFixture::Server);
        QVERIFY(m_lists->start(HttpFixture::Server::Http, QUrl(Deployment::value("api/primary")).port()));
        m_lists->setRoute("/api/v2rayconf.json",
                          HttpFixture::Route::ok(R"([{"n":"farproxy","c":"Far","address":")" + QByteArray(kProxyAddress)
                                                 + R"(","port":")" + QByteArray::number(kProxyPort) + R"(","userid":")"
                                                 + QByteArray(kUserId) + R"(","alterid":"0","path":"/ray"}])"));

        // A run cut short (killed at its time-out) may have left the
        // directory that blocks the proxy configuration.
        QDir(configPath("proxy.json")).removeRecursively();
        OSTREL_RIG_STEP(m_rig.startModel());
        m_model = m_rig.model();
        QSignalSpy reset(m_model->proxyLocations(), &QAbstractItemModel::modelReset);
        m_model->updateV2RayLocations();
        QVERIFY(reset.wait(20000));
        QTRY_VERIFY_WITH_TIMEOUT(m_model->v2RayAvailable(), 10000);

        m_here.reset(new Location("far"));
        m_here->setCode("far");
        m_here->setHost("127.0.0.1");
        m_rig.logOn(kUser, kPassword, "TCP-" + QString::number(kServerPort),
                    DNSFiltering::Ptr(new DNSFiltering("d", Constants::DNSFiltering_disabled)));
    }

    void cleanupTestCase()
    {
        m_rig.stopModel();
        m_model = nullptr;
        stopProcess(m_proxyServer);
        // Before the far namespace goes: the server's script runs there.
        m_rig.stopServer();
        m_lists.reset();
        m_far.reset();
        m_rig.tearDown();
    }

    void throughTheProxyWithAndWithoutTheKillSwitch()
    {
        m_model->setSelectedProxyLocation(m_model->proxyLocations()->find("farproxy"));
        QVERIFY(m_model->v2RayAvailable());
        m_model->optionGatewayRemoval()->setValue(false);

        connectThroughTheProxy();
        QCOMPARE(proxyClients().size(), 1);
        QVERIFY(readBytes(configPath("config.ovpn")).contains("socks-proxy 127.0.0.1 10801\r\n"));
        disconnect();

        // With the kill switch: in force once connected, it lets the machine
        // reach the proxy (never the server, which it does not talk to).
        m_model->optionGatewayRemoval()->setValue(true);
        connectThroughTheProxy();
        QVERIFY(chainRules("ostrelallowedip")
                    .contains(QString("-A ostrelallowedip -d %1/32 -j ACCEPT").arg(kProxyAddress)));
        disconnect();
        QVERIFY(!chainRules("ostrelallowedip").isEmpty());

        // A second connect while the kill switch still holds: new streams to
        // the proxy must pass.
        connectThroughTheProxy();
        disconnect();

        // Turned on while connected, it allows the proxy as well.
        m_model->restoreGw();
        m_model->optionGatewayRemoval()->setValue(false);
        connectThroughTheProxy();
        m_model->optionGatewayRemoval()->setValue(true);
        QVERIFY(chainRules("ostrelallowedip")
                    .contains(QString("-A ostrelallowedip -d %1/32 -j ACCEPT").arg(kProxyAddress)));
        QCOMPARE(NsTools::run("ping", { "-c", "1", "-W", "10", kServerTunnelAddress }, 20000).code, 0);
        disconnect();
        m_model->restoreGw();
        m_model->optionGatewayRemoval()->setValue(false);
        QVERIFY(chainRules("ostrelallowedip").isEmpty());
    }

    void theUsersOwnSocksProxy()
    {
        // The user's own SOCKS5 proxy on port 1080: here a v2ray of the
        // user's with a SOCKS inbound, leading to the same far proxy.
        const QString userConfig = m_rig.workPath("own-socks.json");
        QVERIFY(writeBytes(userConfig,
                           R"({"log": {"loglevel": "warning"},
            "inbounds": [{"listen": "127.0.0.1", "port": 1080, "protocol": "socks", "settings": {"udp": false}}],
            "outbounds": [{"protocol": "vmess", "settings": {"vnext": [{"address": ")"
                               + QByteArray(kProxyAddress) + R"(", "port": )" + QByteArray::number(kProxyPort) + R"(,
                "users": [{"id": ")"
                               + QByteArray(kUserId) + R"(", "alterId": 0}]}]},
                )" + vmessStream()
                               + R"( "tlsSettings": {"allowInsecure": true}}}]})"));
        QProcess own;
        own.setProcessChannelMode(QProcess::MergedChannels);
        own.start(QStandardPaths::findExecutable("v2ray"), { "-config", userConfig });
        QVERIFY(own.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(NsTools::run("ss", { "-Htln", "src 127.0.0.1:1080" }).out.contains("1080"), 20000);
        // The server routes every address into the tunnel, and the client
        // knows only the proxy's own address (127.0.0.1): the user keeps the
        // proxy's upstream outside the tunnel with a route of their own.
        const QStringList upstream { kProxyAddress + QStringLiteral("/32"), "via", "203.0.113.2" };
        QCOMPARE(NsTools::run("ip", QStringList { "route", "add" } + upstream).code, 0);
        const auto dropUpstream = qScopeGuard([&upstream] {
            NsTools::run("ip", QStringList { "route", "del" } + upstream);
        });

        QVERIFY(writeBytes(configPath("proxy.json"), "{}"));
        m_model->setSelectedProxyLocation(m_model->proxyLocations()->find("2"));
        connectThroughTheProxy();
        QVERIFY(readBytes(configPath("config.ovpn")).contains("socks-proxy 127.0.0.1 1080\r\n"));
        QVERIFY(!QFile::exists(configPath("proxy.json")));
        QVERIFY(proxyClients().isEmpty());
        disconnect();
        own.terminate();
        QVERIFY(own.waitForFinished(10000));
    }

    void aProxyConfigurationThatCannotBeWrittenStopsTheConnect()
    {
        m_model->setSelectedProxyLocation(m_model->proxyLocations()->find("farproxy"));
        QFile::remove(configPath("proxy.json"));
        // Removed however the case ends: left behind, it would stand in the
        // way of the next run's proxy configuration.
        const auto removeHeld = qScopeGuard([this] { QDir(configPath("proxy.json")).removeRecursively(); });
        QVERIFY(QDir().mkpath(configPath("proxy.json") + "/held"));
        QSignalSpy toasts(m_model, &Model::qmlShowToast);
        m_model->setSelectedLocation(m_here);
        m_model->vpnConnectDisconnect();
        QCOMPARE(toasts.count(), 1);
        QCOMPARE(toasts.first().first().toString(), QString("Can't configure v2ray"));
        QCOMPARE(worker()->askedState(), Constants::RequestedAction_None);
        QCOMPARE(m_model->connectionState(), Constants::ConnectState_Disconnected);
        QVERIFY(proxyClients().isEmpty());
        QVERIFY(QDir(configPath("proxy.json")).removeRecursively());
    }
};

OSTREL_TEST_MAIN(TestV2RayRoad, TestMain::PrivateNamespaces)

#include "tst_v2rayroad.moc"
