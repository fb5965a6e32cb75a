// A logout while connected: the real client, on a display of its own (Xvfb),
// connects on its own to the loopback OpenVPN server with the kill switch on;
// then the display goes away while it runs, while it quits, or at the moment
// the client is told to quit. Qt ends the process when its display
// connection breaks; the quit must complete all the same: no OpenVPN of the
// client left, the user's resolver file back, the kill switch off as the
// quit leaves it, and no heap fault. Inside network and mount namespaces of
// the test's own (root; skipped otherwise).

#include "testsupport.h"

#include "demoservice.h"
#include "nstools.h"
#include "roadrig.h"
#include "settings.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>

using NsTools::chainRules;
using TestSupport::readBytes;

enum class Ending { DisplayWhileConnected, DisplayWhileQuitting, DisplayAndQuitTogether };
Q_DECLARE_METATYPE(Ending)

namespace {

const QString kUser = QStringLiteral("logout-user");
const QString kPassword = QStringLiteral("logout-Pass-9");
// The first port of "OpenVPN 256-bit", the protocol the client used last.
const quint16 kPort = 18000;
const QByteArray kUsersResolver = "# the user's own\nnameserver 192.0.2.53\n";
// A display number of this network namespace only: the server listens on
// its abstract socket alone and takes no lock file.
const QString kDisplay = QStringLiteral(":7");
const int kConnectWaitMs = 120000;
const int kEndWaitMs = 150000;

QString client()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/ostrel");
}

// The OpenVPN the client starts (the server's is Debian's own).
QList<qint64> clientsOpenVpn()
{
    return RoadRig::processesHere("openvpn.ostrel");
}

// The last lines of the client's output, for a failure's message.
QByteArray lastLines(const QByteArray& text)
{
    const QList<QByteArray> lines = text.split('\n');
    return lines.mid(qMax(0, lines.size() - 25)).join('\n');
}

bool displayListens()
{
    return readBytes("/proc/net/unix").contains("@/tmp/.X11-unix/X" + kDisplay.mid(1).toLatin1());
}

// The client's standard output and log lines, followed as they come.
class Output
{
public:
    explicit Output(const QString& path)
        : m_file(path)
    {
    }
    QByteArray all() const { return readBytes(m_file.fileName()); }
    // Waits (bounded, in short steps) until a new line holds `fragment`.
    bool waitFor(const QByteArray& fragment, int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            if (m_file.isOpen() || m_file.open(QIODevice::ReadOnly)) {
                m_seen += m_file.readAll();
                const int at = m_seen.indexOf(fragment);
                if (at >= 0) {
                    m_seen.remove(0, at + fragment.size());
                    return true;
                }
                m_seen.remove(0, qMax(0, m_seen.size() - fragment.size()));
            }
            if (deadline.hasExpired())
                return false;
            QThread::msleep(2);
        }
    }

private:
    QFile m_file;
    QByteArray m_seen;
};

} // namespace

class TestLogout : public QObject
{
    Q_OBJECT
    RoadRig m_rig;
    HttpFixture::DemoService m_service;
    QTemporaryDir m_home;

    // A settings file as a user leaves it who connected before: the account
    // kept, "OpenVPN 256-bit" to the demo list's "de" with the kill switch,
    // connecting on start.
    void prepareHome()
    {
        for (const char* sub : { "data/ostrel", "tmp" })
            QVERIFY(QDir().mkpath(m_home.filePath(sub)));
        QFile::remove(m_home.filePath("data/ostrel/ostrel.conf"));
        Settings store(m_home.filePath("data/ostrel/ostrel.conf"));
        store.setValue("FullLog", true);
        store.setValue("detailedDebug", "true");
        store.setValue("savePass", "true");
        store.setSimpleCryptedValue("username", kUser);
        store.setSimpleCryptedValue("password", kPassword);
        store.setValue("AutoConnect", "true");
        store.setValue("VpnDropProtection", "true");
        store.setValue("Protocol", "OpenVPN 256-bit");
        store.setValue("group_settings_openvpn/location", "de");
        store.setValue("group_settings_openvpn/killswitch", true);
        store.setValue("group_settings_openvpn/port", "UDP-" + QString::number(kPort));
        store.sync();
    }

    // What an ending without the quit may have left for the next round.
    void clearLeftovers()
    {
        for (qint64 pid : clientsOpenVpn())
            ::kill(pid_t(pid), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(clientsOpenVpn().isEmpty(), 10000);
        NsTools::run(QCoreApplication::applicationDirPath() + "/ostrel-killswitch.sh", { "disable" });
        QFile::remove("/etc/resolv.conf");
        QVERIFY(TestSupport::writeBytes("/etc/resolv.conf", kUsersResolver));
    }

private slots:
    void initTestCase()
    {
        if (!NsTools::inPrivateNamespaces())
            QSKIP("needs root: the tunnel, the kill switch and the resolver file live in namespaces of the test's own");
        for (const char* program : { "Xvfb", "openvpn", "iptables" }) {
            if (QStandardPaths::findExecutable(program, { "/usr/sbin", "/usr/bin", "/sbin", "/bin" }).isEmpty())
                QSKIP(qPrintable(QString("%1 is not installed").arg(program)));
        }
        OSTREL_RIG_STEP(m_rig.enterPrivateEtc());
        OSTREL_RIG_STEP(m_rig.setUsersResolver(kUsersResolver));
        OSTREL_RIG_STEP(m_rig.startServer("udp", kPort, kUser, kPassword));
        // The server lists, with every location on 127.0.0.1.
        QString error;
        QVERIFY2(m_service.start(HttpFixture::DemoService::defaultDeploymentIni(),
                                 HttpFixture::DemoService::defaultDemoDir(), &error),
                 qPrintable(error));
    }

    void cleanupTestCase()
    {
        m_service.stop();
        if (NsTools::inPrivateNamespaces())
            clearLeftovers();
        m_rig.tearDown();
    }

    void quitCompletesWhenTheDisplayGoes_data()
    {
        QTest::addColumn<Ending>("ending");
        QTest::newRow("display gone while connected") << Ending::DisplayWhileConnected;
        QTest::newRow("display gone while quitting") << Ending::DisplayWhileQuitting;
        QTest::newRow("logout: quit and display together") << Ending::DisplayAndQuitTogether;
    }

    void quitCompletesWhenTheDisplayGoes()
    {
        QFETCH(Ending, ending);
        OSTREL_RIG_STEP(prepareHome());

        QProcess display;
        display.setProcessChannelMode(QProcess::ForwardedChannels);
        display.start("Xvfb",
                      { kDisplay, "-nolisten", "unix", "-nolisten", "tcp", "-nolock", "-screen", "0", "1280x1024x24" });
        QProcess ostrel;
        const auto cleanUp = qScopeGuard([&] {
            for (QProcess* process : { &ostrel, &display }) {
                if (process->state() != QProcess::NotRunning) {
                    process->kill();
                    process->waitForFinished(10000);
                }
            }
            clearLeftovers();
        });
        QVERIFY(display.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(displayListens(), 20000);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XAUTHORITY" })
            env.remove(name);
        env.insert("DISPLAY", kDisplay);
        env.insert("QT_QUICK_BACKEND", "software");
        env.insert("HOME", m_home.path());
        env.insert("XDG_DATA_HOME", m_home.filePath("data"));
        env.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        env.insert("TMPDIR", m_home.filePath("tmp"));
        ostrel.setProcessEnvironment(env);
        ostrel.setProcessChannelMode(QProcess::MergedChannels);
        const QString outPath = m_home.filePath("out.txt");
        QFile::remove(outPath);
        ostrel.setStandardOutputFile(outPath);
        ostrel.start(client(), QStringList());
        QVERIFY(ostrel.waitForStarted());
        Output out(outPath);

        // Connected, with the kill switch and the tunnel's resolver in place.
        QVERIFY2(out.waitFor("onConnected()", kConnectWaitMs), lastLines(out.all()).constData());
        QCOMPARE(clientsOpenVpn().size(), 1);
        QVERIFY(!chainRules("ostrelallowedip").isEmpty());
        QVERIFY(readBytes("/etc/resolv.conf") != kUsersResolver);

        const pid_t clientPid = pid_t(ostrel.processId());
        const pid_t displayPid = pid_t(display.processId());
        switch (ending) {
        case Ending::DisplayWhileConnected:
            ::kill(displayPid, SIGTERM);
            break;
        case Ending::DisplayWhileQuitting:
            // Gone while the quit waits for its kill-switch step.
            ::kill(clientPid, SIGTERM);
            QVERIFY2(out.waitFor("Model::aboutToQuit()", 30000), lastLines(out.all()).constData());
            ::kill(displayPid, SIGTERM);
            break;
        case Ending::DisplayAndQuitTogether:
            ::kill(clientPid, SIGTERM);
            ::kill(displayPid, SIGTERM);
            break;
        }
        QVERIFY2(ostrel.waitForFinished(kEndWaitMs), lastLines(out.all()).constData());
        const QByteArray text = out.all();
        if (ending != Ending::DisplayAndQuitTogether)
            QVERIFY2(text.contains("The X11 connection broke"), lastLines(text).constData());

        // Ended by an exit, not by a fault.
        QVERIFY2(ostrel.exitStatus() == QProcess::NormalExit, lastLines(text).constData());
        for (const char* fault : { "malloc(", "free(", "AddressSanitizer", "runtime error:" })
            QVERIFY2(!text.contains(fault), lastLines(text).constData());
        // The quit completed: OpenVPN stopped, the resolver file the user's,
        // the kill switch off.
        QVERIFY2(clientsOpenVpn().isEmpty(), lastLines(text).constData());
        QCOMPARE(readBytes("/etc/resolv.conf"), kUsersResolver);
        QVERIFY2(chainRules("ostrelallowedip").isEmpty(), qPrintable(chainRules("ostrelallowedip").join('\n')));
    }
};

OSTREL_TEST_MAIN(TestLogout, TestMain::PrivateNamespaces)

#include "tst_logout.moc"
