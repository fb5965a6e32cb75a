// Prints how long a connect takes through the engine (connect() to
// Connected) and how long a bare OpenVPN client with the same configuration
// needs to report "Initialization Sequence Completed", on the same loopback
// server in the same run, and the ratio of the two medians.
#include "engineworker.h"
#include "nstools.h"
#include "openvpnserverfixture.h"

#include "systemhelper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

namespace {
const quint16 kPort = 11951;
const int kRounds = 5;
const QString kUser = QStringLiteral("bench");
const QString kPassword = QStringLiteral("bench \"pass\"");

double median(QVector<double> v)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Engine: connect() until the state reads Connected, then disconnect.
double engineRound(const OpenVpnConnectParams& params)
{
    EngineWorker worker;
    if (!worker.begin())
        return -1;
    worker.call([](Connection& c) { c.initialize(); }, 60000);
    std::atomic<qint64> connectedAfter { -1 };
    QElapsedTimer timer;
    worker.call(
        [&](Connection& c) {
            timer.start();
            if (c.openManager()->connect(params))
                connectedAfter = timer.nsecsElapsed();
            c.disconnect(true);
        },
        120000);
    return connectedAfter < 0 ? -1 : connectedAfter / 1e6;
}

// Bare client: credentials through a FIFO, so they never sit in a file.
double bareRound(const QString& dir)
{
    const QString fifo = dir + "/credentials.fifo";
    QFile::remove(fifo);
    if (mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0)
        return -1;
    QProcess openvpn;
    openvpn.setWorkingDirectory(dir);
    openvpn.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer timer;
    timer.start();
    openvpn.start("openvpn", { "--config", "config.ovpn", "--auth-user-pass", fifo });
    if (!openvpn.waitForStarted(10000))
        return -1;
    {
        QFile pipe(fifo);
        if (pipe.open(QIODevice::WriteOnly)) // blocks until OpenVPN opens it
            pipe.write((kUser + "\n" + kPassword + "\n").toUtf8());
    }
    double result = -1;
    QByteArray output;
    QElapsedTimer limit;
    limit.start();
    while (limit.elapsed() < 60000 && openvpn.state() == QProcess::Running) {
        openvpn.waitForReadyRead(100);
        output += openvpn.readAll();
        if (output.contains("Initialization Sequence Completed")) {
            result = timer.nsecsElapsed() / 1e6;
            break;
        }
    }
    openvpn.terminate();
    if (!openvpn.waitForFinished(30000)) {
        openvpn.kill();
        openvpn.waitForFinished(5000);
    }
    QFile::remove(fifo);
    return result;
}
} // namespace

int main(int argc, char* argv[])
{
    NsTools::reexecInPrivateNamespaces(argc, argv, NsTools::LoopbackUp | NsTools::PrivateResolverFile);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("ostrel");
    QTextStream out(stdout);
    if (!NsTools::inPrivateNamespaces()) {
        out << "bench_engine_connect: needs root (tun devices in a private network namespace)\n";
        return 0;
    }
    // Keep the engine's per-line debug output off the terminal.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    SystemHelper::instance();

    QTemporaryDir work;
    // The data directory is the bench's own; the engine's root-only files go
    // to the empty /run of the namespace.
    qputenv("XDG_DATA_HOME", QFile::encodeName(work.path() + "/data"));
    OpenVpnServerFixture server(OpenVpnFixture::scriptsDir(), work.path());
    QString error;
    if (!server.makePki(&error)) {
        out << "PKI failed: " << error << "\n";
        return 1;
    }
    server.addUser(kUser, kPassword);
    if (!server.start("udp", kPort, {}, &error)) {
        out << "server failed: " << error << "\n";
        return 1;
    }
    const QString configDir = work.path() + "/client";
    QDir().mkpath(configDir);
    QFile config(configDir + "/config.ovpn");
    config.open(QIODevice::WriteOnly | QIODevice::Truncate);
    config.write(server.clientConfig("udp", kPort));
    config.close();

    OpenVpnConnectParams params = loopbackConnectParams(kUser, kPassword);
    params.configPath = configDir;

    QVector<double> engine, bare;
    for (int i = 0; i < kRounds; ++i) {
        const double e = engineRound(params);
        const double b = bareRound(configDir);
        out << QString("round %1: engine %2 ms, bare openvpn %3 ms\n").arg(i + 1).arg(e, 0, 'f', 1).arg(b, 0, 'f', 1);
        out.flush();
        if (e >= 0)
            engine << e;
        if (b >= 0)
            bare << b;
    }
    server.stop();
    const double me = median(engine), mb = median(bare);
    out << QString("median over %1 rounds: engine %2 ms, bare openvpn %3 ms, ratio %4\n")
               .arg(kRounds)
               .arg(me, 0, 'f', 1)
               .arg(mb, 0, 'f', 1)
               .arg(mb > 0 ? me / mb : 0, 0, 'f', 2);
    return 0;
}
