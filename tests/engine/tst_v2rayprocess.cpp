// The V2Ray client process: Debian's real v2ray on a loopback SOCKS inbound,
// and a stand-in that ignores SIGTERM. This test binary lives in a directory
// of its own, so the "v2ray" it places beside itself is its own.
#include "nstools.h"
#include "testsupport.h"

#include "systemhelper.h"
#include "unix/qopenvpn2.h"
#include "v2rayprocess.h"

#include <QTcpSocket>
#include <QTemporaryDir>

namespace {
const quint16 kSocksPort = 11080;

QString besideProgram()
{
    return SystemHelper::instance().v2RayBinaryFullFilePath();
}

bool placeProgram(const QString& target)
{
    QFile::remove(besideProgram());
    return QFile::link(target, besideProgram());
}

QString writeScript(const QString& dir, const QByteArray& body)
{
    const QString path = dir + "/fake-v2ray";
    return TestSupport::writeExecutable(path, "#!/bin/sh\n" + body) ? path : QString();
}
} // namespace

class TestV2RayProcess : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        SystemHelper::instance();
        QVERIFY(m_dir.isValid());
        QVERIFY(besideProgram().startsWith(QCoreApplication::applicationDirPath()));
    }

    void cleanupTestCase() { QFile::remove(besideProgram()); }

    void stopWithoutStartTouchesNothing()
    {
        V2RayProcess proxy;
        LogCapture log;
        QVERIFY(proxy.stopV2RayProcess());
        QVERIFY(!LogCapture::contains("proxy stopped by"));
    }

    void missingExecutableFailsToStart()
    {
        QFile::remove(besideProgram());
        V2RayProcess proxy;
        QVERIFY(!proxy.startV2RayProcess(m_dir.path()));
        QVERIFY(!proxy.lastError().isEmpty());
        QVERIFY(proxy.stopV2RayProcess());
    }

    void realClientStartsListensAndStops()
    {
        if (!NsTools::inPrivateNamespaces())
            QSKIP("needs root: the SOCKS port is opened inside a private network namespace");
        const QString v2ray = QStandardPaths::findExecutable("v2ray");
        if (v2ray.isEmpty())
            QSKIP("Debian's v2ray is not installed");
        QVERIFY(placeProgram(v2ray));
        QFile config(m_dir.path() + "/" + Constants::v2RayConfigFileName());
        QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(QString(R"({"log": {"loglevel": "info"},
 "inbounds": [{"listen": "127.0.0.1", "port": %1, "protocol": "socks", "settings": {"udp": false}}],
 "outbounds": [{"protocol": "blackhole"}]})")
                         .arg(kSocksPort)
                         .toUtf8());
        config.close();

        LogCapture log;
        V2RayProcess proxy;
        QVERIFY(proxy.startV2RayProcess(m_dir.path()));
        const qint64 pid = proxy.pid();
        QVERIFY(pid > 0);
        // It read "proxy.json" from the working directory: its port answers.
        bool listening = false;
        QDeadlineTimer deadline(10000);
        while (!listening && !deadline.hasExpired()) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, kSocksPort);
            listening = probe.waitForConnected(200);
            if (!listening)
                QTest::qWait(50);
        }
        QVERIFY(listening);
        QTRY_VERIFY_WITH_TIMEOUT(LogCapture::contains("V4RayProcess:"), 10000);

        QVERIFY(proxy.stopV2RayProcess());
        QCOMPARE(proxy.pid(), qint64(0));
        QVERIFY(LogCapture::contains("proxy stopped by close"));
        QVERIFY(!TestSupport::processAlive(pid));
    }

    void clientIgnoringTerminateEndsAtTheCloseStep()
    {
        QVERIFY(placeProgram(
            writeScript(m_dir.path(), "trap '' TERM\necho '   '\necho ready\nwhile :; do sleep 1; done\n")));
        LogCapture log;
        V2RayProcess proxy;
        QVERIFY(proxy.startV2RayProcess(m_dir.path()));
        const qint64 pid = proxy.pid();
        QTRY_VERIFY_WITH_TIMEOUT(LogCapture::contains("V4RayProcess: ready"), 10000);
        QVERIFY(proxy.stopV2RayProcess());
        QVERIFY(LogCapture::contains("proxy stopped by close"));
        QVERIFY(!LogCapture::contains("proxy stopped by terminate"));
        QVERIFY(!TestSupport::processAlive(pid));
        // The blank line was not logged.
        for (const QString& line : LogCapture::lines())
            QVERIFY(line.trimmed() != "V4RayProcess:");
    }

    // A proxied connect starts OpenVPN only once the proxy's SOCKS port
    // takes connections, and gives up (bounded) when it never does.
    void openVpnStartsOnlyOnceTheProxyListens_data()
    {
        QTest::addColumn<bool>("listens");
        QTest::newRow("listens after a moment") << true;
        QTest::newRow("never listens") << false;
    }
    void openVpnStartsOnlyOnceTheProxyListens()
    {
        QFETCH(bool, listens);
        if (!NsTools::inPrivateNamespaces())
            QSKIP("needs root: the SOCKS port is opened inside a private network namespace");
        const QString v2ray = QStandardPaths::findExecutable("v2ray");
        if (v2ray.isEmpty())
            QSKIP("Debian's v2ray is not installed");
        QTemporaryDir dir;
        QFile config(dir.path() + "/" + Constants::v2RayConfigFileName());
        QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(
            QString(
                R"({"inbounds": [{"listen": "127.0.0.1", "port": %1, "protocol": "socks", "settings": {"udp": false}}],
 "outbounds": [{"protocol": "blackhole"}]})")
                .arg(kSocksPort)
                .toUtf8());
        config.close();
        // The real client, late; or a client that never opens its port.
        QVERIFY(placeProgram(writeScript(dir.path(),
                                         listens ? "sleep 0.7\nexec '" + v2ray.toUtf8() + "' \"$@\"\n"
                                                 : QByteArray("exec sleep 600\n"))));
        // OpenVPN's stand-in notes whether the port answered when it started.
        const QString marker = dir.path() + "/port-at-start";
        const QString openvpn = dir.path() + "/openvpn.ostrel";
        QVERIFY(TestSupport::writeExecutable(
            openvpn,
            QString(
                "#!/bin/bash\n[ \"$1\" = --version ] && { echo 'OpenVPN 1.9'; exit 0; }\n"
                "if (exec 3<>/dev/tcp/127.0.0.1/%1) 2>/dev/null; then echo open > '%2'; else echo closed > '%2'; fi\n"
                "echo 'Options error: stand-in'; exit 1\n")
                .arg(kSocksPort)
                .arg(marker)
                .toUtf8()));

        QOpenVPN2 engine;
        QVERIFY(!engine.initializeWith(openvpn)); // refused version: path set, no scripts run
        QSignalSpy errors(&engine, &ConnectStateObject::error);
        OpenVpnConnectParams p;
        p.protocol = Constants::ProtocolType_OPENVPN256;
        p.username = "alice";
        p.password = "secret";
        p.ovpnFile = "config.ovpn";
        p.configPath = dir.path();
        p.withV2RayProxy = true;
        QVERIFY(!engine.connect(p));
        QCOMPARE(engine.connectState(), Constants::ConnectState_Disconnected);
        QCOMPARE(errors.count(), 1);
        if (listens) {
            QCOMPARE(QFile(marker).exists(), true);
            QFile m(marker);
            QVERIFY(m.open(QIODevice::ReadOnly));
            QCOMPARE(m.readAll().trimmed(), QByteArray("open"));
        } else {
            QVERIFY(errors.first().first().toString().contains("did not open its local port"));
            QVERIFY(!QFile::exists(marker));
        }
    }

    void clientEndingOnItsOwnClearsItsId()
    {
        QVERIFY(placeProgram(writeScript(m_dir.path(), "echo bye\nexit 3\n")));
        V2RayProcess proxy;
        QVERIFY(proxy.startV2RayProcess(m_dir.path()));
        QTRY_COMPARE_WITH_TIMEOUT(proxy.pid(), qint64(0), 10000);
        QVERIFY(proxy.stopV2RayProcess());
    }
};

OSTREL_TEST_MAIN(TestV2RayProcess,
                 TestMain::Core | TestMain::PrivateNamespaces | TestMain::LoopbackUp | TestMain::PrivateResolverFile)
#include "tst_v2rayprocess.moc"
