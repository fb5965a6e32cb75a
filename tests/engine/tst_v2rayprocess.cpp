// The V2Ray client process: Debian's real v2ray on a loopback SOCKS inbound,
// and a stand-in that ignores SIGTERM. This test binary lives in a directory
// of its own, so the "v2ray" it places beside itself is its own.
#include "enginetestmain.h"
#include "testsupport.h"

#include "systemhelper.h"
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
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    f.write("#!/bin/sh\n" + body);
    f.close();
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

bool processAlive(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) != "Z";
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

    void realClientStartsListensAndStopsOnTerminate()
    {
        if (!OpenVpnFixture::inPrivateNetworkNamespace())
            QSKIP("needs root: the SOCKS port is opened inside a private network namespace");
        const QString v2ray = QStandardPaths::findExecutable("v2ray");
        if (v2ray.isEmpty())
            QSKIP("Debian's v2ray is not installed");
        QVERIFY(placeProgram(v2ray));
        QFile config(m_dir.path() + "/" + Constants::v2RayConfigFileName());
        QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(QString(R"({"log": {"loglevel": "info"},
 "inbounds": [{"listen": "127.0.0.1", "port": %1, "protocol": "socks", "settings": {"udp": false}}],
 "outbounds": [{"protocol": "blackhole"}]})").arg(kSocksPort).toUtf8());
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
        QVERIFY(!processAlive(pid));
    }

    void clientIgnoringTerminateEndsAtTheCloseStep()
    {
        QVERIFY(placeProgram(writeScript(m_dir.path(), "trap '' TERM\necho '   '\necho ready\nwhile :; do sleep 1; done\n")));
        LogCapture log;
        V2RayProcess proxy;
        QVERIFY(proxy.startV2RayProcess(m_dir.path()));
        const qint64 pid = proxy.pid();
        QTRY_VERIFY_WITH_TIMEOUT(LogCapture::contains("V4RayProcess: ready"), 10000);
        QVERIFY(proxy.stopV2RayProcess());
        QVERIFY(LogCapture::contains("proxy stopped by close"));
        QVERIFY(!LogCapture::contains("proxy stopped by terminate"));
        QVERIFY(!processAlive(pid));
        // The blank line was not logged.
        for (const QString& line : LogCapture::lines())
            QVERIFY(line.trimmed() != "V4RayProcess:");
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

OSTREL_ENGINE_TEST_MAIN(TestV2RayProcess)
#include "tst_v2rayprocess.moc"
