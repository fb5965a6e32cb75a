// Start-up cost of the client beside a bare Qt Quick window importing the
// same Qt modules (bench_bare_window). Each is started several times in
// turn, with the OpenGL and with the software scene-graph renderer: the time
// from the start of the process to its window's first swapped frame, and the
// resident memory some seconds after that frame. The client runs with fresh
// settings against the demo deployment's loopback service. Prints medians
// and ratios; asserts nothing. Needs an X display (xvfb-run).
//
//   bench_startup [runs, default 5] [settle seconds, default 10]

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

QTextStream out(stdout);

qint64 monotonicNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<qint64>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Resident set of a running process in MB, -1 when unknown.
double residentMb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QString text = QString::fromLatin1(status.readAll());
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("VmRSS:\\s+(\\d+) kB")).match(text);
    return m.hasMatch() ? m.captured(1).toDouble() / 1024.0 : -1;
}

bool answers(const QString& host, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(host, port);
    return socket.waitForConnected(300);
}

// Pause after each program has ended, before the next one starts.
constexpr unsigned long kPauseBetweenRunsMs = 1500;

struct Sample
{
    double firstFrameMs = -1;
    double residentMb = -1;
    QString detail;
};

// Starts `program`, waits for its first-frame line, lets it settle, reads
// its resident memory and ends it.
Sample measure(const QString& program, const QProcessEnvironment& env, int settleSeconds)
{
    Sample sample;
    QProcess process;
    process.setProcessEnvironment(env);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    const qint64 startedNs = monotonicNs();
    process.start(program, QStringList());
    if (!process.waitForStarted(10000)) {
        sample.detail = QStringLiteral("did not start: ") + process.errorString();
        return sample;
    }
    const QRegularExpression frameLine(QStringLiteral("ostrel: first frame (\\d+)"));
    QByteArray errors;
    const qint64 deadlineNs = startedNs + 60LL * 1000000000LL;
    while (sample.firstFrameMs < 0 && monotonicNs() < deadlineNs && process.state() == QProcess::Running) {
        process.waitForReadyRead(200);
        errors += process.readAllStandardError();
        const QRegularExpressionMatch m = frameLine.match(QString::fromLatin1(errors));
        if (m.hasMatch())
            sample.firstFrameMs = (m.captured(1).toLongLong() - startedNs) / 1e6;
    }
    if (sample.firstFrameMs < 0) {
        sample.detail = QStringLiteral("no first frame; stderr: ") + QString::fromLocal8Bit(errors.right(400));
    } else {
        // Waiting here, not pumping: the child's output goes on into its
        // pipe, which is drained below.
        for (int i = 0; i < settleSeconds * 10 && process.state() == QProcess::Running; ++i) {
            QThread::msleep(100);
            errors += process.readAllStandardError();
        }
        sample.residentMb = residentMb(process.processId());
        const QRegularExpressionMatch gl =
            QRegularExpression(QStringLiteral("GL_RENDERER:\\s*([^\\n]+)")).match(QString::fromLatin1(errors));
        if (gl.hasMatch())
            sample.detail = gl.captured(1).trimmed();
    }
    process.terminate();
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(5000);
    }
    // The X server and the system go on tidying up after a program has
    // ended; the next start should not pay for that.
    QThread::msleep(kPauseBetweenRunsMs);
    return sample;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int runs = args.size() > 1 ? std::max(1, args[1].toInt()) : 5;
    const int settle = args.size() > 2 ? std::max(0, args[2].toInt()) : 10;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "bench_startup needs an X display: run it under xvfb-run\n");
        return 2;
    }
    const QString bin = QCoreApplication::applicationDirPath();
    const QString client = bin + QStringLiteral("/ostrel");
    const QString bare = bin + QStringLiteral("/bench_bare_window");

    // The demo deployment's loopback service, unless one already answers.
    QProcess service;
    const QString ini = QStringLiteral(OSTREL_BENCH_DEPLOYMENT_INI);
    QString apiHost;
    quint16 apiPort = 0;
    {
        QFile file(ini);
        if (file.open(QIODevice::ReadOnly)) {
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("(?m)^primary=(\\S+)")).match(QString::fromUtf8(file.readAll()));
            const QUrl api(m.captured(1));
            apiHost = api.host();
            apiPort = quint16(api.port());
        }
    }
    const bool loopback = apiHost == QLatin1String("127.0.0.1") || apiHost == QLatin1String("localhost");
    if (loopback && !answers(apiHost, apiPort)) {
        service.setStandardOutputFile(QProcess::nullDevice());
        service.setStandardErrorFile(QProcess::nullDevice());
        service.start(bin + QStringLiteral("/ostrel-demo-service"), { QStringLiteral("--deployment"), ini });
        service.waitForStarted(10000);
        for (int i = 0; i < 50 && !answers(apiHost, apiPort); ++i)
            QThread::msleep(100);
    }
    out << "client: " << client << "\n";
    out << "demo service: " << (loopback ? (answers(apiHost, apiPort) ? "answering" : "NOT answering") : "not loopback")
        << "\n";
    out << "runs per program and renderer: " << runs << ", resident memory read " << settle
        << " s after the first frame\n";
    QFile cpu(QStringLiteral("/proc/cpuinfo"));
    if (cpu.open(QIODevice::ReadOnly)) {
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("model name\\s*:\\s*([^\\n]+)"))
                                              .match(QString::fromLatin1(cpu.readAll()));
        out << "machine: " << m.captured(1) << ", " << QThread::idealThreadCount() << " threads\n";
    }
    out.flush();

    struct Renderer
    {
        const char* name;
        const char* backend; // QT_QUICK_BACKEND, empty for OpenGL
    };
    const Renderer renderers[] = { { "OpenGL", "" }, { "software", "software" } };
    int failures = 0;
    for (const Renderer& renderer : renderers) {
        std::vector<double> bareFrame, clientFrame, bareMemory, clientMemory;
        QString glRenderer;
        for (int run = 0; run < runs; ++run) {
            // Alternating which goes first evens out what the machine is doing.
            for (int which = 0; which < 2; ++which) {
                const bool isClient = (which + run) % 2 == 1;
                QTemporaryDir home;
                QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
                env.insert(QStringLiteral("HOME"), home.path());
                env.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/data"));
                env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
                env.insert(QStringLiteral("XDG_CACHE_HOME"), home.path() + QStringLiteral("/cache"));
                env.insert(QStringLiteral("OSTREL_REPORT_FIRST_FRAME"), QStringLiteral("1"));
                env.remove(QStringLiteral("QT_QPA_PLATFORM"));
                if (*renderer.backend)
                    env.insert(QStringLiteral("QT_QUICK_BACKEND"), QString::fromLatin1(renderer.backend));
                else
                    env.remove(QStringLiteral("QT_QUICK_BACKEND"));
                if (!isClient)
                    env.insert(QStringLiteral("QSG_INFO"), QStringLiteral("1"));
                const Sample s = measure(isClient ? client : bare, env, settle);
                out << renderer.name << " run " << run + 1 << " " << (isClient ? "client" : "bare  ") << ": ";
                if (s.firstFrameMs < 0 || s.residentMb < 0) {
                    ++failures;
                    out << "FAILED " << s.detail << "\n";
                    out.flush();
                    continue;
                }
                out << QString::number(s.firstFrameMs, 'f', 0) << " ms to first frame, "
                    << QString::number(s.residentMb, 'f', 1) << " MB resident\n";
                out.flush();
                (isClient ? clientFrame : bareFrame).push_back(s.firstFrameMs);
                (isClient ? clientMemory : bareMemory).push_back(s.residentMb);
                if (!isClient && !s.detail.isEmpty())
                    glRenderer = s.detail;
            }
        }
        const double bf = median(bareFrame), cf = median(clientFrame);
        const double bm = median(bareMemory), cm = median(clientMemory);
        out << "== " << renderer.name << " renderer";
        if (!glRenderer.isEmpty())
            out << " (GL_RENDERER " << glRenderer << ")";
        out << "\n";
        out << "   first frame, median: bare " << QString::number(bf, 'f', 0) << " ms, client "
            << QString::number(cf, 'f', 0) << " ms, ratio " << QString::number(bf > 0 ? cf / bf : 0, 'f', 2)
            << " (goal at most 1.30)\n";
        out << "   resident, median: bare " << QString::number(bm, 'f', 1) << " MB, client "
            << QString::number(cm, 'f', 1) << " MB, difference " << QString::number(cm - bm, 'f', 1)
            << " MB (goal at most 30.0)\n";
        out.flush();
    }
    if (service.state() == QProcess::Running) {
        service.terminate();
        if (!service.waitForFinished(10000)) {
            service.kill();
            service.waitForFinished(5000);
        }
    }
    return failures ? 1 : 0;
}
