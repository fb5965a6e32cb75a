// The demo as "tools/dev.sh run" starts it (tools/run-client.sh with the
// demo build), with this program in the client's place: inside the demo's
// namespaces it drives a real Model through the demo web service, the
// loopback OpenVPN servers and the V2Ray server, connecting each protocol
// but XOR on its default port and once through each kind of proxy entry
// (the local SOCKS5 proxy and a V2Ray proxy), and checks that each tunnel
// carries every address (the template's half of the default route and the
// half the server pushes) and that packets cross it. Outside, it checks that
// the demo left nothing on the host: no process, interface, firewall rule,
// resolver change or mount. Root only (the demo needs namespaces); skipped
// otherwise.
#include "testsupport.h"

#include "model/model.h"
#include "resources.h"
#include "settings.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>

#include <unistd.h>

namespace {

const char kInsideVariable[] = "OSTREL_DEMO_TEST_INSIDE";
const QString kUser = QStringLiteral("demo");
const QString kPassword = QStringLiteral("demo");
const QString kProxy = QStringLiteral("nlproxy");
const quint16 kProxyServerPort = 10086;
// The user's own SOCKS5 proxy, as the proxy list's entry "2" names it.
const quint16 kLocalSocksPort = 1080;

// The target of a /proc link ("pid:[4026531836]"), as the kernel gives it.
QByteArray linkText(const QString& path)
{
    char target[256] = {};
    const ssize_t length = readlink(QFile::encodeName(path).constData(), target, sizeof(target) - 1);
    return length > 0 ? QByteArray(target, int(length)) : QByteArray();
}

using TestSupport::readBytes;

QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished(5000);
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

// A device's packet counter ("rx" or "tx") as this network namespace sees it.
quint64 packets(const QString& device, const QString& direction)
{
    const QList<QByteArray> lines = readBytes("/proc/net/dev").split('\n');
    for (const QByteArray& line : lines) {
        const int colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed() != device.toUtf8())
            continue;
        const QList<QByteArray> f = line.mid(colon + 1).simplified().split(' ');
        return f.value(direction == "rx" ? 1 : 9).toULongLong();
    }
    return 0;
}

// Local ports with a listening socket ("tcp": state LISTEN; "udp": bound).
QSet<quint16> listeningPorts(const QString& table)
{
    QSet<quint16> ports;
    const QList<QByteArray> lines = readBytes("/proc/net/" + table).split('\n');
    for (const QByteArray& line : lines.mid(1)) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 4)
            continue;
        if (table == "tcp" && f.at(3) != "0A")
            continue;
        ports.insert(quint16(f.at(1).split(':').value(1).toUInt(nullptr, 16)));
    }
    return ports;
}

bool establishedTo(quint16 port)
{
    const QList<QByteArray> lines = readBytes("/proc/net/tcp").split('\n');
    for (const QByteArray& line : lines.mid(1)) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() >= 4 && f.at(3) == "01" && f.at(2).split(':').value(1).toUInt(nullptr, 16) == port)
            return true;
    }
    return false;
}

// What the demo could leave behind on the host.
struct HostState
{
    // The demo's processes: its servers and scripts, and its web service and
    // client (this program) in a process namespace other than this test's.
    QStringList processes;
    QString links;
    QString rules;
    QByteArray resolver;
    QStringList mounts;
    // The client's root-only directory: the demo's is under its own /run.
    bool rootOnlyDirectory = false;

    static HostState now()
    {
        HostState s;
        s.rootOnlyDirectory = QFileInfo::exists("/run/ostrel");
        const QStringList entries = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        const QByteArray build = OSTREL_BUILD_DIR;
        const QByteArray ownNamespace = linkText("/proc/self/ns/pid");
        for (const QString& entry : entries) {
            bool number = false;
            entry.toLongLong(&number);
            if (!number)
                continue;
            const QByteArray commandLine = readBytes("/proc/" + entry + "/cmdline").replace('\0', ' ');
            const QByteArray itsNamespace = linkText("/proc/" + entry + "/ns/pid");
            const bool otherNamespace = !itsNamespace.isEmpty() && itsNamespace != ownNamespace;
            if (commandLine.contains(build + "/demo-run") || commandLine.contains(OSTREL_SOURCE_DIR "/tools/demo.sh")
                || (otherNamespace
                    && (commandLine.contains(build + "/bin/tst_demo")
                        || commandLine.contains(build + "/bin/ostrel-demo-service"))))
                s.processes << entry + " " + QString::fromUtf8(commandLine);
        }
        s.processes.sort();
        s.links = run("ip", { "-o", "link", "show" }).remove(QRegularExpression("\\s+(qlen|link/\\S+)\\s.*"));
        s.rules = run("iptables-save", {})
                      .remove(QRegularExpression("^#.*\n", QRegularExpression::MultilineOption))
                      .remove(QRegularExpression("\\[\\d+:\\d+\\]"));
        s.resolver = readBytes("/etc/resolv.conf");
        for (const QByteArray& line : readBytes("/proc/self/mountinfo").split('\n'))
            s.mounts << QString::fromUtf8(line.split(' ').value(4));
        s.mounts.sort();
        return s;
    }
};

} // namespace

// Inside the demo's namespaces, in the client's place.
class TestDemoInside : public QObject
{
    Q_OBJECT
    std::unique_ptr<Model> m_model;

    // The client's tunnel device, the server's at the other end (the demo
    // names it after the subnet and gives it no address), and the tunnel's
    // network ("10.98.N").
    bool tunnelDevices(QString* client, QString* server, QString* network)
    {
        const QStringList lines = run("ip", { "-o", "-4", "addr", "show" }).split('\n');
        QMap<QString, QString> clientBySubnet;
        const QRegularExpression re("^\\d+:\\s+(\\S+)\\s+inet\\s+10\\.98\\.(\\d+)\\.\\d+/");
        for (const QString& line : lines) {
            const auto m = re.match(line);
            if (m.hasMatch())
                clientBySubnet.insert(m.captured(2), m.captured(1));
        }
        if (clientBySubnet.size() != 1)
            return false;
        *client = clientBySubnet.first();
        *network = "10.98." + clientBySubnet.firstKey();
        *server = "tun-demo" + clientBySubnet.firstKey();
        const QRegularExpression device("^\\s*" + QRegularExpression::escape(*server) + ":",
                                        QRegularExpression::MultilineOption);
        return QString::fromUtf8(readBytes("/proc/net/dev")).contains(device);
    }

    // Both halves of the default route lead into the client's tunnel device,
    // and packets sent into it come out of the server's device.
    void checkTheTunnel()
    {
        QString client, server, network;
        QVERIFY2(tunnelDevices(&client, &server, &network), qPrintable(run("ip", { "-o", "-4", "addr", "show" })));
        const QRegularExpression throughClient("\\sdev " + QRegularExpression::escape(client) + "(\\s|$)");
        for (const QString& half : { QStringLiteral("0.0.0.0/1"), QStringLiteral("128.0.0.0/1") })
            QVERIFY2(run("ip", { "-4", "route", "show", "exact", half }).contains(throughClient),
                     qPrintable(half + " not through " + client + "\n" + run("ip", { "-4", "route" })));
        const quint64 sentBefore = packets(client, "tx");
        const quint64 arrivedBefore = packets(server, "rx");
        // A free address of the tunnel's network, sent out through the
        // client's device.
        run("ping", { "-n", "-c", "5", "-i", "0.2", "-W", "1", "-I", client, network + ".77" });
        QVERIFY2(packets(client, "tx") >= sentBefore + 5, qPrintable(client + "\n" + run("ip", { "route" })));
        QTRY_VERIFY_WITH_TIMEOUT(packets(server, "rx") >= arrivedBefore + 5, 10000);
    }

    void connectAndCheck(const QString& what)
    {
        QCOMPARE(m_model->connectionState(), Constants::ConnectState_Disconnected);
        m_model->vpnConnectDisconnect();
        QTRY_COMPARE_WITH_TIMEOUT(m_model->connectionState(), Constants::ConnectState_Connected, 120000);
        qInfo().noquote() << what << "connected";
        checkTheTunnel();
        if (QTest::currentTestFailed())
            return;
        disconnectAndSettle();
    }

    void disconnectAndSettle()
    {
        m_model->vpnConnectDisconnect();
        QTRY_COMPARE_WITH_TIMEOUT(m_model->connectionState(), Constants::ConnectState_Disconnected, 60000);
        // The worker takes the next request once it finished this one.
        QVERIFY(!m_model->connectionThread()->waitWorkCompleted(60));
    }

private slots:
    void initTestCase()
    {
        // The servers start beside the client; the demo says when all answer.
        QString ready = qEnvironmentVariable("OSTREL_DEMO_READY");
        if (ready.isEmpty())
            ready = QStringLiteral(OSTREL_BUILD_DIR "/demo-run/ready");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(ready), 300000);

        TestSupport::resetSettings();
        m_model.reset(new Model(nullptr));
        QVERIFY(m_model->connectionThread()->waitInitializeCompleted(30));
        QVERIFY(m_model->start());
        m_model->setUsername(kUser);
        m_model->setUserpassword(kPassword);
        // The lists come from the demo web service.
        QTRY_VERIFY_WITH_TIMEOUT(m_model->locationsReceived() && m_model->validLocations()->count() > 0, 120000);
        QTRY_VERIFY_WITH_TIMEOUT(m_model->proxyLocations()->count() > 2, 120000);
        QVERIFY(m_model->v2RayAvailable());
    }

    void cleanupTestCase()
    {
        if (m_model)
            m_model->stop();
        m_model.reset();
    }

    void everyOfferedPortHasAServer()
    {
        const QSet<quint16> udp = listeningPorts("udp");
        const QSet<quint16> tcp = listeningPorts("tcp");
        int ports = 0;
        for (const Protocol::Ptr& protocol : m_model->protocols()->list()) {
            if (protocol->id() == Constants::ProtocolType_OPENVPN_XOR)
                continue;
            for (const Port::Ptr& port : protocol->ports()->list()) {
                const quint16 number = quint16(port->id().section('-', 1).toUInt());
                const bool listening = port->protocol() == Constants::Protocol_TCP ? tcp.contains(number)
                                                                                   : udp.contains(number);
                QVERIFY2(listening, qPrintable(port->id()));
                ++ports;
            }
        }
        QCOMPARE(ports, 23);
    }

    void eachProtocolConnectsOnItsDefaultPort()
    {
        m_model->userSelectProxyLocationById(QStringLiteral("1"));
        int connected = 0;
        for (const Protocol::Ptr& protocol : m_model->protocols()->list()) {
            if (protocol->id() == Constants::ProtocolType_OPENVPN_XOR)
                continue;
            m_model->userSelectProtocolById(int(protocol->id()));
            const QString port = protocol->ports()->list().first()->id();
            m_model->selectPortById(port);
            QCOMPARE(m_model->selectedProtocol()->id(), protocol->id());
            QCOMPARE(m_model->selectedPort()->id(), port);
            QVERIFY(m_model->selectedLocation());
            connectAndCheck(protocol->name() + " " + port);
            if (QTest::currentTestFailed())
                return;
            ++connected;
        }
        QCOMPARE(connected, 3);
    }

    // The user's own SOCKS5 proxy (the demo's at 127.0.0.1:1080) and a V2Ray
    // proxy entry: the tunnel runs through each.
    void eachProxyEntryConnects()
    {
        const QList<QPair<QString, quint16>> entries = {
            { QStringLiteral("2"), kLocalSocksPort },
            { kProxy, kProxyServerPort },
        };
        for (const auto& entry : entries) {
            if (m_model->connectionState() != Constants::ConnectState_Disconnected)
                disconnectAndSettle();
            m_model->userSelectProtocolById(int(Constants::ProtocolType_OPENVPN_ECC));
            m_model->userSelectProxyLocationById(entry.first);
            QVERIFY(m_model->selectedProxyLocation());
            QCOMPARE(m_model->selectedProxyLocation()->id(), entry.first);
            // A proxy carries TCP only.
            m_model->selectPortById(QStringLiteral("TCP-8089"));
            QCOMPARE(m_model->selectedPort()->id(), QStringLiteral("TCP-8089"));
            QCOMPARE(m_model->connectionState(), Constants::ConnectState_Disconnected);
            m_model->vpnConnectDisconnect();
            QTRY_COMPARE_WITH_TIMEOUT(m_model->connectionState(), Constants::ConnectState_Connected, 120000);
            qInfo().noquote() << "proxy entry" << entry.first << "connected";
            QVERIFY2(establishedTo(entry.second), qPrintable(entry.first));
            checkTheTunnel();
            if (QTest::currentTestFailed())
                return;
            disconnectAndSettle();
        }
    }
};

// On the host: runs the demo with this program inside.
class TestDemo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (geteuid() != 0)
            QSKIP("needs root: the demo runs in namespaces of its own");
        for (const char* program : { "unshare", "openvpn", "v2ray", "iptables-save", "ip" }) {
            if (QStandardPaths::findExecutable(program, { "/usr/sbin", "/usr/bin", "/sbin", "/bin" }).isEmpty())
                QSKIP(qPrintable(QString("%1 is not installed").arg(program)));
        }
    }

    void demoConnectsAndLeavesNothingBehind()
    {
        const HostState before = HostState::now();

        QProcess demo;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("OSTREL_DEMO_CLIENT", QCoreApplication::applicationFilePath());
        env.insert(kInsideVariable, "1");
        env.insert("OSTREL_DEMO_TIMEOUT", "560");
        // Under Xvfb the program inside uses the display, as the client would.
        if (env.contains("DISPLAY"))
            env.remove("QT_QPA_PLATFORM");
        demo.setProcessEnvironment(env);
        demo.setProcessChannelMode(QProcess::MergedChannels);
        demo.start("bash",
                   { QStringLiteral(OSTREL_SOURCE_DIR "/tools/run-client.sh"), QStringLiteral(OSTREL_BUILD_DIR) });
        QVERIFY(demo.waitForStarted(10000));
        const bool ended = demo.waitForFinished(600000);
        if (!ended) {
            demo.terminate();
            demo.waitForFinished(30000);
        }
        const QByteArray output = demo.readAll();
        QVERIFY2(ended, output.right(6000).constData());
        QVERIFY2(demo.exitStatus() == QProcess::NormalExit && demo.exitCode() == 0, output.right(6000).constData());
        QVERIFY2(output.contains("Demo account:  user name \"demo\", password \"demo\""),
                 output.left(3000).constData());
        QVERIFY2(output.contains("Totals: 5 passed, 0 failed"), output.right(6000).constData());

        // The kernel ends what is left of the demo's process namespace as
        // its first process ends; that may take a moment on a busy machine.
        QTRY_COMPARE_WITH_TIMEOUT(HostState::now().processes, before.processes, 60000);
        const HostState after = HostState::now();
        QCOMPARE(after.links, before.links);
        QCOMPARE(after.rules, before.rules);
        QCOMPARE(after.resolver, before.resolver);
        QCOMPARE(after.mounts, before.mounts);
        QCOMPARE(after.rootOnlyDirectory, before.rootOnlyDirectory);
    }
};

static bool insideTheDemo()
{
    return qEnvironmentVariableIsSet(kInsideVariable) && qEnvironmentVariable("OSTREL_DEMO_INSIDE") == "1";
}

static int runInside(int argc, char* argv[])
{
    return TestSupport::TestMain().prepare(initResources).run<TestDemoInside>(argc, argv);
}

OSTREL_TEST_MAIN(TestDemo, TestMain().prepare(initResources).helperRole(insideTheDemo, runInside))

#include "tst_demo.moc"
