// Prints how long the client takes from the press to Connected and from the
// press to Not connected, beside a bare OpenVPN client with the very
// "config.ovpn" the client wrote, against the same loopback server of the
// ECC templates, over UDP and over TCP.
//
// The client is the real Model with its worker, the OpenVPN and the scripts
// beside the executable (kill switch on, resolver script on), in network and
// mount namespaces of its own with a private layer over /etc (root only).
// The press is Model::vpnConnectDisconnect(); a state is reached once both
// reactions to it, the worker's and the model's, have ended (their TIMER
// lines). The bare client's connect ends at "Initialization Sequence
// Completed", its disconnect when it has exited after SIGTERM. On loopback
// OpenVPN's own time spreads by a few hundred milliseconds from run to run,
// more than the client adds; so each line is followed by the client's part
// alone: its time less what its own OpenVPN took (start to CONNECTED,
// request to end to exit).
//
// Each transport is measured twice: with the kill switch left on by the
// disconnect before (as the client leaves it), and with it lifted before
// the press (the connect then builds it). OSTREL_BENCH_LOG=<file> keeps the
// client's log with milliseconds since the start.
#include "testsupport.h"

#include "log.h"
#include "nstools.h"
#include "resources.h"
#include "roadrig.h"
#include "systemhelper.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

namespace {

const int kRounds = 5;
const quint16 kUdpPort = 11981;
const quint16 kTcpPort = 11982;
const QString kUser = QStringLiteral("bench-user");
const QString kPassword = QStringLiteral("bench \"pass\"");

QElapsedTimer g_clock;
QMutex g_mutex;
// When each reaction to a state change ended: who ("ConnectionThread" or
// "Model"), the new state, nanoseconds on g_clock.
struct ReactionEnd
{
    QString who;
    QString state;
    qint64 at;
};
QList<ReactionEnd> g_ends;
QStringList g_log;
bool g_keepLog = false;

// When the client's OpenVPN was started, reported CONNECTED, was asked to
// end, and had ended: what lies between is OpenVPN's own time.
enum class EngineMark { Started, Connected, Ending, Ended };
struct EngineEvent
{
    EngineMark mark;
    qint64 at;
};
QList<EngineEvent> g_engine;

void handler(QtMsgType, const QMessageLogContext&, const QString& message)
{
    static const QRegularExpression timer(
        QStringLiteral("^TIMER\\s+(ConnectionThread|Model)::onConnectionStateChanged \\w+->(\\w+) \\d+ ms$"));
    static const QRegularExpression connected(QStringLiteral("^openvpn process \\d+ : >STATE:\\d+,CONNECTED,"));
    const qint64 now = g_clock.nsecsElapsed();
    // The client's own log file, as the client writes it.
    ALog::out(message);
    QMutexLocker lock(&g_mutex);
    const QRegularExpressionMatch m = timer.match(message);
    if (m.hasMatch())
        g_ends << ReactionEnd { m.captured(1), m.captured(2), now };
    if (message.contains(QLatin1String("m_process.start:")))
        g_engine << EngineEvent { EngineMark::Started, now };
    else if (connected.match(message).hasMatch())
        g_engine << EngineEvent { EngineMark::Connected, now };
    else if (message == QLatin1String("disconnect..."))
        g_engine << EngineEvent { EngineMark::Ending, now };
    else if (message.contains(QLatin1String("onVpnProcessFinished()")))
        g_engine << EngineEvent { EngineMark::Ended, now };
    if (g_keepLog)
        g_log << QStringLiteral("%1 %2").arg(now / 1000000, 7).arg(message);
}

double median(QVector<double> v)
{
    if (v.isEmpty())
        return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Milliseconds from `since` until both reactions to `state` ended after it;
// -1 when they did not within the time-out.
double reactionsDoneAfter(qint64 since, const QString& state, int timeoutMs)
{
    QElapsedTimer limit;
    limit.start();
    // Waits as the client's own event loop does, without spinning: the
    // reactions run in here.
    QEventLoop events;
    QTimer tick;
    tick.start(5);
    while (limit.elapsed() < timeoutMs) {
        {
            QMutexLocker lock(&g_mutex);
            qint64 worker = -1, model = -1;
            for (const ReactionEnd& end : qAsConst(g_ends)) {
                if (end.at < since || end.state != state)
                    continue;
                qint64& slot = end.who == QLatin1String("Model") ? model : worker;
                if (slot < 0)
                    slot = end.at;
            }
            if (worker >= 0 && model >= 0)
                return (qMax(worker, model) - since) / 1e6;
        }
        events.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return -1;
}

// Milliseconds between the first `from` and the first `to` after `since`;
// -1 when either is missing.
double engineSpan(qint64 since, EngineMark from, EngineMark to)
{
    QMutexLocker lock(&g_mutex);
    qint64 begin = -1;
    for (const EngineEvent& event : qAsConst(g_engine)) {
        if (event.at < since)
            continue;
        if (begin < 0 && event.mark == from)
            begin = event.at;
        else if (begin >= 0 && event.mark == to)
            return (event.at - begin) / 1e6;
    }
    return -1;
}

struct Figures
{
    QVector<double> connect, disconnect;
    // The client's part alone: the press to Connected (Not connected) less
    // the time its OpenVPN took from its start to CONNECTED (from the
    // request to end to its exit). Free of OpenVPN's own spread, which on
    // loopback is larger than the client's part.
    QVector<double> ownConnect, ownDisconnect;
};

// The bare client: credentials through a FIFO, so they never sit in a file.
class BareClient
{
public:
    explicit BareClient(const QString& dir)
        : m_dir(dir)
    {
    }

    // Milliseconds to "Initialization Sequence Completed"; -1 on failure.
    double connect()
    {
        const QString fifo = m_dir + "/credentials.fifo";
        QFile::remove(fifo);
        if (mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0)
            return -1;
        m_openvpn.setWorkingDirectory(m_dir);
        m_openvpn.setProcessChannelMode(QProcess::MergedChannels);
        QElapsedTimer timer;
        timer.start();
        m_openvpn.start("openvpn", { "--config", "config.ovpn", "--auth-user-pass", fifo });
        keepInLog("started");
        if (!m_openvpn.waitForStarted(10000))
            return -1;
        {
            QFile pipe(fifo);
            if (pipe.open(QIODevice::WriteOnly)) // blocks until OpenVPN opens it
                pipe.write((kUser + "\n" + kPassword + "\n").toUtf8());
        }
        QFile::remove(fifo);
        QByteArray output;
        QElapsedTimer limit;
        limit.start();
        while (limit.elapsed() < 60000 && m_openvpn.state() == QProcess::Running) {
            m_openvpn.waitForReadyRead(5);
            const QByteArray more = m_openvpn.readAll();
            output += more;
            keepInLog(more);
            if (output.contains("Initialization Sequence Completed"))
                return timer.nsecsElapsed() / 1e6;
        }
        m_output = output;
        return -1;
    }

    // Milliseconds from SIGTERM until the process has exited; -1 on failure.
    double disconnect()
    {
        if (m_openvpn.state() != QProcess::Running)
            return -1;
        QElapsedTimer timer;
        timer.start();
        m_openvpn.terminate();
        const bool exited = m_openvpn.waitForFinished(30000);
        const double ms = timer.nsecsElapsed() / 1e6;
        keepInLog(m_openvpn.readAll());
        if (!exited) {
            m_openvpn.kill();
            m_openvpn.waitForFinished(5000);
        }
        return exited ? ms : -1;
    }

    QByteArray output() const { return m_output; }

private:
    static void keepInLog(const QByteArray& output)
    {
        const qint64 now = g_clock.nsecsElapsed();
        QMutexLocker lock(&g_mutex);
        if (!g_keepLog)
            return;
        for (const QByteArray& line : output.split('\n')) {
            if (!line.isEmpty())
                g_log << QStringLiteral("%1 bare: %2").arg(now / 1000000, 7).arg(QString::fromLocal8Bit(line));
        }
    }

    QString m_dir;
    QProcess m_openvpn;
    QByteArray m_output;
};

} // namespace

class BenchConnect : public QObject
{
    Q_OBJECT
    RoadRig m_rig;
    QTextStream m_out { stdout };

    Model* model() { return m_rig.model(); }

    // One press to Connected and one to Not connected; false when a state
    // was not reached.
    bool clientRound(Figures& figures, bool killSwitchOnBefore)
    {
        if (!killSwitchOnBefore && SystemHelper::instance().isDefaultRouteRemoved(false)) {
            model()->restoreGw();
            if (SystemHelper::instance().isDefaultRouteRemoved(false))
                return false;
        }
        qint64 pressed = g_clock.nsecsElapsed();
        model()->vpnConnectDisconnect();
        const double connect = reactionsDoneAfter(pressed, "Connected", 60000);
        if (connect < 0 || model()->connectionState() != Constants::ConnectState_Connected)
            return false;
        const double engineConnect = engineSpan(pressed, EngineMark::Started, EngineMark::Connected);
        // The request is cleared before the next press is taken.
        m_rig.worker()->waitWorkCompleted(60);
        pressed = g_clock.nsecsElapsed();
        model()->vpnConnectDisconnect();
        const double disconnect = reactionsDoneAfter(pressed, "Disconnected", 60000);
        if (disconnect < 0)
            return false;
        const double engineDisconnect = engineSpan(pressed, EngineMark::Ending, EngineMark::Ended);
        m_rig.worker()->waitWorkCompleted(60);
        if (engineConnect < 0 || engineDisconnect < 0)
            return false;
        figures.connect << connect;
        figures.disconnect << disconnect;
        figures.ownConnect << connect - engineConnect;
        figures.ownDisconnect << disconnect - engineDisconnect;
        return true;
    }

    void line(const QString& label, const Figures& client, const Figures& bare)
    {
        const double cc = median(client.connect), bc = median(bare.connect);
        const double cd = median(client.disconnect), bd = median(bare.disconnect);
        m_out << QString("%1: connect: client %2 ms, bare openvpn %3 ms, difference %4 ms; "
                         "disconnect: client %5 ms, bare openvpn %6 ms, difference %7 ms\n")
                     .arg(label)
                     .arg(cc, 0, 'f', 1)
                     .arg(bc, 0, 'f', 1)
                     .arg(cc - bc, 0, 'f', 1)
                     .arg(cd, 0, 'f', 1)
                     .arg(bd, 0, 'f', 1)
                     .arg(cd - bd, 0, 'f', 1);
        m_out << QString("%1: the client's part alone (outside its OpenVPN process): connect %2 ms, "
                         "disconnect %3 ms\n")
                     .arg(label)
                     .arg(median(client.ownConnect), 0, 'f', 1)
                     .arg(median(client.ownDisconnect), 0, 'f', 1);
        m_out.flush();
    }

    void measure(const QString& proto, quint16 port)
    {
        OSTREL_RIG_STEP(m_rig.startEccServer(proto, port, kUser, kPassword));
        m_rig.logOn(kUser, kPassword, proto.toUpper() + "-" + QString::number(port),
                    DNSFiltering::Ptr(new DNSFiltering("d", Constants::DNSFiltering_disabled)),
                    Constants::ProtocolType_OPENVPN_ECC);
        model()->setSelectedLocation(RoadRig::loopbackLocation("bench"));

        // A first round, not counted: the client writes the configuration
        // the bare client runs, and leaves the kill switch on.
        Figures warmUp;
        QVERIFY(clientRound(warmUp, true));
        const QString bareDir = m_rig.workPath("bare-" + proto);
        QVERIFY(QDir().mkpath(bareDir));
        QFile::remove(bareDir + "/config.ovpn");
        QVERIFY(QFile::copy(SystemHelper::instance().configsFilesDirPath() + "/config.ovpn", bareDir + "/config.ovpn"));

        for (const bool on : { true, false }) {
            Figures client, bare;
            for (int i = 0; i < kRounds; ++i) {
                QVERIFY(clientRound(client, on));
                BareClient openvpn(bareDir);
                const double connect = openvpn.connect();
                const double disconnect = openvpn.disconnect();
                QVERIFY2(connect >= 0 && disconnect >= 0, openvpn.output().constData());
                bare.connect << connect;
                bare.disconnect << disconnect;
                m_out << QString("  %1 round %2: client %3 / %4 ms (its part %7 / %8 ms), bare %5 / %6 ms\n")
                             .arg(proto)
                             .arg(i + 1)
                             .arg(client.connect.last(), 0, 'f', 1)
                             .arg(client.disconnect.last(), 0, 'f', 1)
                             .arg(connect, 0, 'f', 1)
                             .arg(disconnect, 0, 'f', 1)
                             .arg(client.ownConnect.last(), 0, 'f', 1)
                             .arg(client.ownDisconnect.last(), 0, 'f', 1);
                m_out.flush();
            }
            line(QString("%1, kill switch %2 before the press, median of %3")
                     .arg(proto, on ? QStringLiteral("on") : QStringLiteral("off"))
                     .arg(kRounds),
                 client, bare);
        }
        m_rig.stopServer();
    }

private slots:
    void initTestCase()
    {
        initResources();
        if (!NsTools::inPrivateNamespaces())
            QSKIP("needs root: the tunnel, the kill switch and the resolver file live in namespaces of its own");
        g_clock.start();
        g_keepLog = qEnvironmentVariableIsSet("OSTREL_BENCH_LOG");
        ALog::init(m_rig.workPath("client.log"));
        ALog::startLogging();
        qInstallMessageHandler(handler);
        OSTREL_RIG_STEP(m_rig.enterPrivateEtc());
        OSTREL_RIG_STEP(m_rig.setUsersResolver("nameserver 192.0.2.53\n"));
        OSTREL_RIG_STEP(m_rig.startModel());
        model()->optionGatewayRemoval()->setValue(true);
    }

    void udp() { measure("udp", kUdpPort); }
    void tcp() { measure("tcp", kTcpPort); }

    void cleanupTestCase()
    {
        if (model() && SystemHelper::instance().isDefaultRouteRemoved(false))
            model()->restoreGw();
        m_rig.tearDown();
        qInstallMessageHandler(nullptr);
        if (g_keepLog) {
            QFile file(qEnvironmentVariable("OSTREL_BENCH_LOG"));
            if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                file.write(g_log.join('\n').toUtf8() + '\n');
        }
    }
};

namespace {
void offscreenUnlessTold(char*[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The settings and the data directory are the benchmark's own.
void ownDataDirectory()
{
    static QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + "/data"));
}
} // namespace

OSTREL_TEST_MAIN(BenchConnect,
                 TestMain(TestMain::PrivateNamespaces).beforeApplication(offscreenUnlessTold).prepare(ownDataDirectory))

#include "bench_connect.moc"
