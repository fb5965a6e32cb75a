#include "testsupport.h"

#include "settings.h"
#include "systemhelper.h"

#include <QCoreApplication>
#include <QFile>
#include <QMutex>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>

#include <signal.h>

#include <thread>
#include <vector>

namespace {

// Collects the messages written while it lives.
class LogCapture
{
public:
    LogCapture()
    {
        s_lines.clear();
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }

    static QStringList lines()
    {
        QMutexLocker lock(&s_mutex);
        return s_lines;
    }
    static QStringList matching(const QString& pattern)
    {
        const QRegularExpression re(pattern);
        QStringList found;
        const QStringList all = lines();
        for (const QString& line : all) {
            if (re.match(line).hasMatch())
                found << line;
        }
        return found;
    }

private:
    static void handler(QtMsgType, const QMessageLogContext&, const QString& message)
    {
        QMutexLocker lock(&s_mutex);
        s_lines << message;
    }

    QtMessageHandler m_previous = nullptr;
    static QStringList s_lines;
    static QMutex s_mutex;
};

QStringList LogCapture::s_lines;
QMutex LogCapture::s_mutex;

const QString kSh = QStringLiteral("/bin/sh");

bool processExists(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

} // namespace

class TestSystemHelper : public QObject
{
    Q_OBJECT
private slots:
    void init() { settings().setValue(QStringLiteral("FullLog"), true); }

    void exitCodeAndOutput_data();
    void exitCodeAndOutput();
    void timeoutKeepsPartialOutputAndEndsProcess();
    void zeroTimeoutWaitsWithoutLimit();
    void programThatCannotStart_data();
    void programThatCannotStart();
    void commandEndedBySignal();
    void commandGetsEndOfInput();
    void logLines();
    void noLogWhenFullLogOffOrSilent();
    void commandBesideExecutableShownShortened();
    void runsFromThreadsWithoutEventLoop();
    void waitsKeepEventsFlowing();
    void processRunningWaits();
    void readFiles();
    void emasculatedPath_data();
    void emasculatedPath();
    void timerLogsUnlessSilent();
    void releaseTwice();
};

void TestSystemHelper::exitCodeAndOutput_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("output");

    QTest::newRow("success") << "printf 'one\\ntwo\\n'" << 0 << "one\ntwo\n";
    QTest::newRow("failure code") << "echo failed; exit 3" << 3 << "failed\n";
    QTest::newRow("highest code") << "exit 255" << 255 << "";
    QTest::newRow("utf-8 output") << "printf '\\303\\244\\342\\202\\254 ok'" << 0 << QString::fromUtf8("\xc3\xa4\xe2\x82\xac ok");
    QTest::newRow("standard error kept apart") << "echo out; echo err >&2" << 0 << "out\n";
}

void TestSystemHelper::exitCodeAndOutput()
{
    QFETCH(QString, script);
    QFETCH(int, code);
    QFETCH(QString, output);

    QString result = QStringLiteral("stale");
    QCOMPARE(SystemHelper::executeWithWait(kSh, { QStringLiteral("-c"), script }, result, 10000, true, false), code);
    QCOMPARE(result, output);
}

void TestSystemHelper::timeoutKeepsPartialOutputAndEndsProcess()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString pidFile = dir.filePath(QStringLiteral("pid"));

    for (const bool killOverdue : { false, true }) {
        QString result;
        const int code = SystemHelper::executeWithWait(
            kSh, { QStringLiteral("-c"), QStringLiteral("echo $$ > '%1'; echo partial; exec sleep 30").arg(pidFile) },
            result, 300, true, killOverdue);
        QCOMPARE(code, int(SystemHelper::ExecuteTimedOut));
        QCOMPARE(result, QStringLiteral("partial\n"));

        const qint64 pid = SystemHelper::readAll(pidFile).toLongLong();
        QVERIFY(pid > 0);
        // The overdue command does not outlive the call.
        QVERIFY2(!processExists(pid), qPrintable(QStringLiteral("process %1 still runs").arg(pid)));
        QFile::remove(pidFile);
    }
}

void TestSystemHelper::zeroTimeoutWaitsWithoutLimit()
{
    const QStringList args { QStringLiteral("-c"), QStringLiteral("sleep 0.3; echo done") };
    QString result;
    // The same command overruns a tiny limit, and ends normally without one.
    QCOMPARE(SystemHelper::executeWithWait(kSh, args, result, 5, true, true), int(SystemHelper::ExecuteTimedOut));
    QCOMPARE(SystemHelper::executeWithWait(kSh, args, result, 0, true, false), 0);
    QCOMPARE(result, QStringLiteral("done\n"));
    QCOMPARE(SystemHelper::executeWithWait(kSh, args, result, -1, true, false), 0);
    QCOMPARE(result, QStringLiteral("done\n"));
}

void TestSystemHelper::programThatCannotStart_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing") << "missing";
    QTest::newRow("not executable") << "plain file";
    QTest::newRow("empty name") << "empty";
}

void TestSystemHelper::programThatCannotStart()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString program;
    if (kind == QLatin1String("missing")) {
        program = dir.filePath(QStringLiteral("no-such-program"));
    } else if (kind == QLatin1String("plain file")) {
        program = dir.filePath(QStringLiteral("not-executable.sh"));
        QFile file(program);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nexit 0\n");
        file.close();
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    }

    LogCapture capture;
    QString result = QStringLiteral("stale");
    const int code = SystemHelper::executeWithWait(program, { QStringLiteral("x") }, result, 2000, false, false);
    QCOMPARE(code, int(SystemHelper::ExecuteFailedToStart));
    QVERIFY(result.isEmpty());
    QCOMPARE(LogCapture::matching(QStringLiteral("failed to start")).size(), 1);
    QCOMPARE(LogCapture::matching(QStringLiteral("command result <-2>")).size(), 1);
}

void TestSystemHelper::commandEndedBySignal()
{
    QString result;
    const int code = SystemHelper::executeWithWait(kSh, { QStringLiteral("-c"), QStringLiteral("kill -9 $$") }, result,
                                                   5000, true, false);
    QCOMPARE(code, int(SystemHelper::ExecuteCrashed));
}

void TestSystemHelper::commandGetsEndOfInput()
{
    // A command that reads its input must not wait for text that never comes.
    QString result;
    QCOMPARE(SystemHelper::executeWithWait(QStringLiteral("/bin/cat"), {}, result, 5000, true, false), 0);
    QVERIFY(result.isEmpty());
}

void TestSystemHelper::logLines()
{
    LogCapture capture;
    QString result;
    QCOMPARE(SystemHelper::executeWithWait(kSh, { QStringLiteral("-c"), QStringLiteral("printf 'a\\n\\n  \\nb\\n'; exit 4") },
                                           result, 5000, false, false),
             4);
    // Blank lines stay in the result and are left out of the log.
    QCOMPARE(result, QStringLiteral("a\n\n  \nb\n"));

    const QStringList starts
        = LogCapture::matching(QStringLiteral("^======== (\\d+)\\) command: /bin/sh -c printf .* \\| timeout 5000 ms$"));
    QCOMPARE(starts.size(), 1);
    const QString number = QRegularExpression(QStringLiteral("(\\d+)\\)")).match(starts.first()).captured(1);
    const QStringList results = LogCapture::matching(
        QStringLiteral("^  %1\\) \\[\\d+ ms\\] command result <4> \\| <a\nb>$").arg(number));
    QCOMPARE(results.size(), 1);

    QCOMPARE(SystemHelper::executeWithWait(kSh, { QStringLiteral("-c"), QStringLiteral("echo out; echo oops >&2") },
                                           result, 5000, false, false),
             0);
    QCOMPARE(LogCapture::matching(QStringLiteral("^  \\d+\\) \\[\\d+ ms\\] command result <0> \\| errors: <oops\n> \\| <out> $"))
                 .size(),
             1);

    // Numbers go up from one command to the next.
    const QStringList allStarts = LogCapture::matching(QStringLiteral("^======== \\d+\\) command:"));
    QCOMPARE(allStarts.size(), 2);
    QVERIFY(allStarts.at(0) != allStarts.at(1));

    QCOMPARE(SystemHelper::executeWithWait(kSh, { QStringLiteral("-c"), QStringLiteral("exec sleep 5") }, result, 100,
                                           false, true),
             -1);
    QCOMPARE(LogCapture::matching(QStringLiteral("/bin/sh timeout expired$")).size(), 1);
    QCOMPARE(LogCapture::matching(QStringLiteral("command result <-1> \\| <>$")).size(), 1);
}

void TestSystemHelper::noLogWhenFullLogOffOrSilent()
{
    QString result;
    {
        LogCapture capture;
        settings().setValue(QStringLiteral("FullLog"), false);
        QCOMPARE(SystemHelper::executeWithWait(kSh, { QStringLiteral("-c"), QStringLiteral("echo x; echo y >&2") },
                                               result, 5000, false, false),
                 0);
        QCOMPARE(result, QStringLiteral("x\n"));
        QCOMPARE(LogCapture::matching(QStringLiteral("command")).size(), 0);
    }
    {
        LogCapture capture;
        settings().setValue(QStringLiteral("FullLog"), true);
        QCOMPARE(SystemHelper::executeWithWait(kSh, { QStringLiteral("-c"), QStringLiteral("echo x") }, result, 5000,
                                               true, false),
                 0);
        QCOMPARE(LogCapture::matching(QStringLiteral("command")).size(), 0);
    }
}

void TestSystemHelper::commandBesideExecutableShownShortened()
{
    if (!QFileInfo(QCoreApplication::applicationDirPath()).isWritable())
        QSKIP("needs to place a script beside the test executable");
    // A plain file: an open temporary file could not be run ("text file busy").
    const QString path = QCoreApplication::applicationDirPath()
        + QStringLiteral("/tst-beside-%1.sh").arg(QCoreApplication::applicationPid());
    const QString name = QFileInfo(path).fileName();
    QFile script(path);
    QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
    script.write("#!/bin/sh\necho beside \"$1\"\n");
    script.close();
    QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    const auto removeScript = qScopeGuard([&script] { script.remove(); });

    LogCapture capture;
    QString result;
    const int code = SystemHelper::executeWithWait(path, { QStringLiteral("arg") }, result, 5000, false, false);
    QVERIFY2(code == 0, qPrintable(LogCapture::lines().join(QLatin1Char('\n'))));
    QCOMPARE(result, QStringLiteral("beside arg\n"));
    QCOMPARE(LogCapture::matching(QStringLiteral("^======== \\d+\\) command: \\.\\.\\./%1 arg \\| timeout 5000 ms$")
                                      .arg(QRegularExpression::escape(name)))
                 .size(),
             1);
    QCOMPARE(LogCapture::matching(QRegularExpression::escape(QCoreApplication::applicationDirPath())).size(), 0);
}

void TestSystemHelper::runsFromThreadsWithoutEventLoop()
{
    // Latency workers are plain threads, the connection worker a QThread that
    // never runs exec(): both must see their commands end and read the output.
    constexpr int count = 4;
    std::vector<int> codes(count, -100);
    std::vector<QString> outputs(count);
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([i, &codes, &outputs] {
            codes[size_t(i)] = SystemHelper::executeWithWait(
                kSh, { QStringLiteral("-c"), QStringLiteral("echo thread %1; exit %1").arg(i) }, outputs[size_t(i)],
                20000, true, false);
        });
    }
    int qthreadCode = -100;
    QString qthreadOutput;
    QThread* qthread = QThread::create([&qthreadCode, &qthreadOutput] {
        qthreadCode = SystemHelper::executeWithWait(kSh, { QStringLiteral("-c"), QStringLiteral("echo qthread; exit 9") },
                                                    qthreadOutput, 20000, true, false);
    });
    qthread->start();
    for (auto& thread : threads)
        thread.join();
    QVERIFY(qthread->wait(30000));
    delete qthread;

    for (int i = 0; i < count; ++i) {
        QCOMPARE(codes[size_t(i)], i);
        QCOMPARE(outputs[size_t(i)], QStringLiteral("thread %1\n").arg(i));
    }
    QCOMPARE(qthreadCode, 9);
    QCOMPARE(qthreadOutput, QStringLiteral("qthread\n"));
}

void TestSystemHelper::waitsKeepEventsFlowing()
{
    int fired = 0;
    QTimer::singleShot(0, this, [&fired] { ++fired; });
    QString result;
    QCOMPARE(SystemHelper::executeWithWait(kSh, { QStringLiteral("-c"), QStringLiteral("sleep 0.2") }, result, 5000, true,
                                           false),
             0);
    QCOMPARE(fired, 1);

    QTimer::singleShot(0, this, [&fired] { ++fired; });
    SystemHelper::sleep(50);
    QCOMPARE(fired, 2);

    QMetaObject::invokeMethod(this, [&fired] { ++fired; }, Qt::QueuedConnection);
    waitWithProcessEvents(QStringLiteral("test"), 1);
    QCOMPARE(fired, 3);
}

void TestSystemHelper::processRunningWaits()
{
    QProcess process;
    process.start(QStringLiteral("/bin/sleep"), { QStringLiteral("30") });
    QVERIFY(SystemHelper::waitProcessRunning(process, QString(), 0, 10));
    QVERIFY(!SystemHelper::waitProcessNotRunning(process, QString(), 0, 0));
    QVERIFY(!SystemHelper::waitWithEventProcessing2(process, QStringLiteral("test"), 20));

    process.kill();
    QVERIFY(SystemHelper::waitProcessNotRunning(process, QString(), 0, 10));
    QVERIFY(!SystemHelper::waitProcessRunning(process, QString(), 0, 0));
    QVERIFY(SystemHelper::waitWithEventProcessing(QStringLiteral("test"), process, 20));
}

void TestSystemHelper::readFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("file.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("  \nfirst line\n\nzweite Zeile \xc3\xa4\n\n");
    file.close();

    QCOMPARE(SystemHelper::readAll(path), QString::fromUtf8("first line\n\nzweite Zeile \xc3\xa4"));
    QCOMPARE(SystemHelper::readAllStrings(path),
             QStringList({ QStringLiteral("  "), QStringLiteral("first line"), QString::fromUtf8("zweite Zeile \xc3\xa4") }));

    const QString missing = dir.filePath(QStringLiteral("missing"));
    QVERIFY(SystemHelper::readAll(missing).isEmpty());
    QVERIFY(SystemHelper::readAllStrings(missing).isEmpty());
}

void TestSystemHelper::emasculatedPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("unix") << "/usr/Bin/OpenVPN" << "usrbinopenvpn";
    QTest::newRow("windows") << "C:\\Program Files\\App\\" << "c:program filesapp";
    QTest::newRow("mixed, padded") << "  /A\\b/C  " << "abc";
    QTest::newRow("empty") << "" << "";
}

void TestSystemHelper::emasculatedPath()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(::emasculatedPath(path), expected);
}

void TestSystemHelper::timerLogsUnlessSilent()
{
    LogCapture capture;
    {
        Timer named(QStringLiteral("named step"));
        Timer silent(QStringLiteral("quiet step"), true);
        Timer unnamed;
        QThread::msleep(5);
        QVERIFY(named.ms() >= 5);
        QVERIFY(unnamed.ms() >= 5);
    }
    const QStringList lines = LogCapture::matching(QStringLiteral("TIMER"));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^TIMER  named step \\d+ ms$")).match(lines.first()).hasMatch(),
             qPrintable(lines.first()));
}

void TestSystemHelper::releaseTwice()
{
    SystemHelper* first = &SystemHelper::instance();
    QCOMPARE(&SystemHelper::instance(), first);
    QSignalSpy destroyed(first, &QObject::destroyed);
    SystemHelper::release();
    QCOMPARE(destroyed.count(), 1);
    SystemHelper::release();
    QCOMPARE(destroyed.count(), 1);
    // A new platform object answers after a release.
    QVERIFY(SystemHelper::instance().isRouteManagementEnabled());
    SystemHelper::release();
}

OSTREL_TEST_MAIN_CORE(TestSystemHelper)

#include "tst_systemhelper.moc"
