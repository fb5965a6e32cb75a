#include "testsupport.h"

#include "log.h"
#include "settings.h"
#include "systemhelper.h"
#include "util/eventfreewaits.h"
#include "util/serialjobrunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

const QString kSh = QStringLiteral("/bin/sh");

// The process group of a process; 0 when it is gone.
qint64 processGroup(const QString& pid)
{
    const QString stat = QString::fromLatin1(TestSupport::readBytes(QStringLiteral("/proc/%1/stat").arg(pid)));
    const QStringList fields =
        stat.mid(stat.lastIndexOf(QLatin1Char(')')) + 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return fields.size() < 3 ? 0 : fields.at(2).toLongLong();
}

using TestSupport::processAlive;

// The names of this process's threads.
QStringList threadNames()
{
    QStringList names;
    for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        names << QString::fromLatin1(TestSupport::readBytes(QStringLiteral("/proc/self/task/%1/comm").arg(task)))
                     .trimmed();
    return names;
}

QList<qint64> livingMembersOfGroup(qint64 group)
{
    QList<qint64> members;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number && processGroup(entry) == group && processAlive(pid))
            members << pid;
    }
    return members;
}

} // namespace

class TestSystemHelper : public QObject
{
    Q_OBJECT
private slots:
    void init() { settings().setValue(QStringLiteral("FullLog"), true); }

    void exitCodeAndOutput_data();
    void exitCodeAndOutput();
    void timeoutKeepsPartialOutputAndEndsProcessGroup();
    void zeroTimeoutWaitsWithoutLimit();
    void programThatCannotStart_data();
    void programThatCannotStart();
    void commandEndedBySignal();
    void commandGetsEndOfInput();
    void commandStartsCleanAndNeverWaitsForRoomToWrite();
    void logLines();
    void outsideTextStaysOneLogLine();
    void noLogWhenFullLogOffOrSilent();
    void commandBesideExecutableShownShortened();
    void runsFromThreadsWithoutEventLoop();
    void waitsKeepEventsFlowing();
    void eventFreeWaitsHandleNoEvents();
    void processRunningWaits();
    void readFiles();
    void emasculatedPath_data();
    void emasculatedPath();
    void timerLogsUnlessSilent();
    void releaseTwice();
    void aRunnerGoingEndsItsRunningCommandAndJoins();
};

void TestSystemHelper::exitCodeAndOutput_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("output");

    QTest::newRow("success") << "printf 'one\\ntwo\\n'" << 0 << "one\ntwo\n";
    QTest::newRow("failure code") << "echo failed; exit 3" << 3 << "failed\n";
    QTest::newRow("highest code") << "exit 255" << 255 << "";
    QTest::newRow("utf-8 output") << "printf '\\303\\244\\342\\202\\254 ok'" << 0
                                  << QString::fromUtf8("\xc3\xa4\xe2\x82\xac ok");
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

// A command past its time-out returns what it wrote so far and ends with
// everything it started (one child in the background, one it waits for):
// nothing of it outlives the call, also when it ignores SIGTERM.
void TestSystemHelper::timeoutKeepsPartialOutputAndEndsProcessGroup()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString pidFile = dir.filePath(QStringLiteral("pids"));
    const QString script = QStringLiteral("echo $$ > \"$1\"; sleep 30 & echo $! >> \"$1\"; echo partial; "
                                          "sh -c 'echo $$ >> \"$1\"; exec sleep 30' sh \"$1\"");

    for (const bool killOverdue : { false, true }) {
        for (const bool ignoresTerm : { false, true }) {
            const QString row = QStringLiteral("killOverdue %1, ignores SIGTERM %2").arg(killOverdue).arg(ignoresTerm);
            QString result;
            const int code = SystemHelper::executeWithWait(
                kSh,
                { QStringLiteral("-c"), (ignoresTerm ? QStringLiteral("trap '' TERM; ") : QString()) + script,
                  QStringLiteral("sh"), pidFile },
                result, 500, true, killOverdue);
            QCOMPARE(code, int(SystemHelper::ExecuteTimedOut));
            QCOMPARE(result, QStringLiteral("partial\n"));

            const QStringList pids = SystemHelper::readAllStrings(pidFile);
            QVERIFY2(pids.size() == 3, qPrintable(row));
            for (const QString& pid : pids)
                QVERIFY2(!processAlive(pid.toLongLong()),
                         qPrintable(row + QStringLiteral(": process %1 still runs").arg(pid)));
            // The script led a group of its own, and none of it is left.
            QVERIFY2(livingMembersOfGroup(pids.first().toLongLong()).isEmpty(), qPrintable(row));
            QFile::remove(pidFile);
        }
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

// A command starts as from a shell: default signal dispositions (SIGPIPE
// is ignored here), nothing blocked, and none of this process's descriptors
// but 0, 1 and 2, also one opened without O_CLOEXEC. Output beyond what a
// pipe holds arrives whole, whether or not the wait processes events.
void TestSystemHelper::commandStartsCleanAndNeverWaitsForRoomToWrite()
{
    const int leaked = ::open("/dev/null", O_RDONLY);
    QVERIFY(leaked > 2);
    struct sigaction previousPipe = {};
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    QVERIFY(::sigaction(SIGPIPE, &ignore, &previousPipe) == 0);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigset_t previousMask;
    QVERIFY(::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask) == 0);
    const auto restore = qScopeGuard([&] {
        ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
        ::sigaction(SIGPIPE, &previousPipe, nullptr);
        ::close(leaked);
    });

    QString result;
    QCOMPARE(SystemHelper::executeWithWait(
                 QStringLiteral("/bin/grep"),
                 { QStringLiteral("-E"), QStringLiteral("^Sig(Blk|Ign):"), QStringLiteral("/proc/self/status") },
                 result, 5000, true, false),
             0);
    QCOMPARE(result, QStringLiteral("SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n"));
    QCOMPARE(SystemHelper::executeWithWait(kSh, { QStringLiteral("-c"), QStringLiteral("ls /proc/$$/fd") }, result,
                                           5000, true, false),
             0);
    QCOMPARE(result, QStringLiteral("0\n1\n2\n"));

    const QStringList chatty { QStringLiteral("-c"), QStringLiteral("yes 0123456789 | head -c 1000000; echo end >&2") };
    QCOMPARE(SystemHelper::executeWithWait(kSh, chatty, result, 20000, true, false), 0);
    QCOMPARE(result.size(), 1000000);
    {
        EventFreeWaits noEvents;
        result.clear();
        QCOMPARE(SystemHelper::executeWithWait(kSh, chatty, result, 20000, true, false), 0);
        QCOMPARE(result.size(), 1000000);
    }
}

void TestSystemHelper::logLines()
{
    LogCapture capture;
    QString result;
    QCOMPARE(SystemHelper::executeWithWait(
                 kSh, { QStringLiteral("-c"), QStringLiteral("printf 'a\\n\\n  \\nb\\n'; exit 4") }, result, 5000,
                 false, false),
             4);
    // Blank lines stay in the result and are left out of the log.
    QCOMPARE(result, QStringLiteral("a\n\n  \nb\n"));

    const QStringList starts = LogCapture::matching(
        QStringLiteral("^======== (\\d+)\\) command: /bin/sh -c printf .* \\| timeout 5000 ms$"));
    QCOMPARE(starts.size(), 1);
    const QString number = QRegularExpression(QStringLiteral("(\\d+)\\)")).match(starts.first()).captured(1);
    const QStringList results = LogCapture::matching(
        QStringLiteral("^  %1\\) \\[\\d+ ms\\] command result <4> \\| <a\\\\nb>$").arg(number));
    QCOMPARE(results.size(), 1);

    QCOMPARE(SystemHelper::executeWithWait(kSh, { QStringLiteral("-c"), QStringLiteral("echo out; echo oops >&2") },
                                           result, 5000, false, false),
             0);
    QCOMPARE(LogCapture::matching(
                 QStringLiteral("^  \\d+\\) \\[\\d+ ms\\] command result <0> \\| errors: <oops\\\\n> \\| <out> $"))
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

// Arguments, output and errors may carry a server's text: in the log each
// stays escaped inside its one line, so a line feed or an escape sequence
// cannot forge a line of its own.
void TestSystemHelper::outsideTextStaysOneLogLine()
{
    const QString hostile = QStringLiteral("x\n[12:00:00] [W] FORGED\x1b[2J");
    const QString escaped = QRegularExpression::escape(QStringLiteral("x\\n[12:00:00] [W] FORGED\\x1b[2J"));
    LogCapture capture;
    QString result;
    QCOMPARE(
        SystemHelper::executeWithWait(kSh,
                                      { QStringLiteral("-c"), QStringLiteral("printf %s \"$1\"; printf %s \"$1\" >&2"),
                                        QStringLiteral("sh"), hostile },
                                      result, 5000, false, false),
        0);
    QCOMPARE(result, hostile);
    QCOMPARE(SystemHelper::executeWithWait(hostile, {}, result, 5000, false, false),
             int(SystemHelper::ExecuteFailedToStart));
    QCOMPARE(SystemHelper::executeWithWait(kSh, { QStringLiteral("-c"), QStringLiteral("sleep 5"), hostile }, result,
                                           100, false, true),
             int(SystemHelper::ExecuteTimedOut));

    const QStringList lines = LogCapture::lines();
    for (const QString& line : lines)
        QVERIFY2(!line.contains(QLatin1Char('\n')) && !line.contains(QChar(0x1b)), qPrintable(logSafe(line)));
    QCOMPARE(LogCapture::count(
                 QStringLiteral("^======== \\d+\\) command: /bin/sh -c .* sh %1 \\| timeout 5000 ms$").arg(escaped)),
             1);
    QCOMPARE(
        LogCapture::count(
            QStringLiteral("^  \\d+\\) \\[\\d+ ms\\] command result <0> \\| errors: <%1> \\| <%1> $").arg(escaped)),
        1);
    QCOMPARE(LogCapture::count(QStringLiteral("^  \\d+\\) %1 failed to start:").arg(escaped)), 1);
    QCOMPARE(LogCapture::count(
                 QStringLiteral("^======== \\d+\\) command: /bin/sh -c sleep 5 %1 \\| timeout 100 ms$").arg(escaped)),
             1);
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
    QVERIFY(TestSupport::writeExecutable(path, "#!/bin/sh\necho beside \"$1\"\n"));
    const auto removeScript = qScopeGuard([&path] { QFile::remove(path); });

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
        qthreadCode = SystemHelper::executeWithWait(
            kSh, { QStringLiteral("-c"), QStringLiteral("echo qthread; exit 9") }, qthreadOutput, 20000, true, false);
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
    QCOMPARE(SystemHelper::executeWithWait(kSh, { QStringLiteral("-c"), QStringLiteral("sleep 0.2") }, result, 5000,
                                           true, false),
             0);
    QCOMPARE(fired, 1);

    QTimer::singleShot(0, this, [&fired] { ++fired; });
    SystemHelper::sleep(50);
    QCOMPARE(fired, 2);

    QMetaObject::invokeMethod(
        this, [&fired] { ++fired; }, Qt::QueuedConnection);
    waitWithProcessEvents(QStringLiteral("test"), 1);
    QCOMPARE(fired, 3);
}

void TestSystemHelper::eventFreeWaitsHandleNoEvents()
{
    // The thread that completes the quit while the process ends: its
    // commands and its jobs on an owner's thread end all the same, and no
    // event is handled meanwhile.
    int fired = 0;
    QTimer::singleShot(0, this, [&fired] { ++fired; });
    SerialJobRunner runner(QStringLiteral("test-runner"));
    {
        EventFreeWaits noEvents;
        QVERIFY(EventFreeWaits::active());
        QString result;
        QCOMPARE(SystemHelper::executeWithWait(kSh, { QStringLiteral("-c"), QStringLiteral("sleep 0.2; echo done") },
                                               result, 5000, true, false),
                 0);
        QCOMPARE(result, QStringLiteral("done\n"));
        QCOMPARE(SystemHelper::executeWithWait(kSh, { QStringLiteral("-c"), QStringLiteral("sleep 10") }, result, 200,
                                               true, true),
                 int(SystemHelper::ExecuteTimedOut));
        const auto slowJob = [] {
            QThread::msleep(100);
            return 7;
        };
        QCOMPARE(runner.call(slowJob), 7);
        QCOMPARE(fired, 0);
    }
    QVERIFY(!EventFreeWaits::active());
    QCOMPARE(runner.call([] { return 8; }), 8);
    QCOMPARE(fired, 1);
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
             QStringList(
                 { QStringLiteral("  "), QStringLiteral("first line"), QString::fromUtf8("zweite Zeile \xc3\xa4") }));

    const QString missing = dir.filePath(QStringLiteral("missing"));
    QVERIFY(SystemHelper::readAll(missing).isEmpty());
    QVERIFY(SystemHelper::readAllStrings(missing).isEmpty());
}

void TestSystemHelper::emasculatedPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("unix") << "/usr/Bin/OpenVPN"
                          << "usrbinopenvpn";
    QTest::newRow("windows") << "C:\\Program Files\\App\\"
                             << "c:program filesapp";
    QTest::newRow("mixed, padded") << "  /A\\b/C  "
                                   << "abc";
    QTest::newRow("empty") << ""
                           << "";
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
    // The firewall's and the resolver's threads end with the platform object.
    QCOMPARE(threadNames().filter(QRegularExpression(QStringLiteral("^(firewall|resolver)$"))).size(), 2);
    QSignalSpy destroyed(first, &QObject::destroyed);
    SystemHelper::release();
    QCOMPARE(destroyed.count(), 1);
    QCOMPARE(threadNames().filter(QRegularExpression(QStringLiteral("^(firewall|resolver)$"))), QStringList());
    SystemHelper::release();
    QCOMPARE(destroyed.count(), 1);
    // A new platform object answers after a release.
    QVERIFY(SystemHelper::instance().isRouteManagementEnabled());
    SystemHelper::release();
}

// The owner of a runner goes while a job runs a long command and uses the
// owner afterwards: the runner ends the command with everything it
// started, and the job has returned before anything of the owner is gone.
void TestSystemHelper::aRunnerGoingEndsItsRunningCommandAndJoins()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString pidFile = dir.filePath(QStringLiteral("pids"));
    // Its runner goes first, as the platform object's.
    struct Owner
    {
        QString result = QStringLiteral("waiting");
        SerialJobRunner runner { QStringLiteral("going") };
    };
    auto* owner = new Owner;
    std::atomic<bool> returned { false };
    int code = 0;
    std::thread caller([owner, &returned, &code, &pidFile] {
        owner->runner.run([owner, &returned, &code, &pidFile] {
            QString output;
            code = SystemHelper::executeWithWait(
                kSh,
                { QStringLiteral("-c"), QStringLiteral("echo $$ > \"$1\"; sleep 75 & echo $! >> \"$1\"; sleep 75"),
                  QStringLiteral("sh"), pidFile },
                output, 0, true, false);
            owner->result = QStringLiteral("done");
            returned = true;
        });
    });
    const auto join = qScopeGuard([&caller] { caller.join(); });
    QTRY_COMPARE_WITH_TIMEOUT(SystemHelper::readAllStrings(pidFile).size(), 2, 10000);

    delete owner;
    QVERIFY(returned);
    QCOMPARE(code, int(SystemHelper::ExecuteCrashed));
    const QStringList pids = SystemHelper::readAllStrings(pidFile);
    // SIGKILL has been sent to the group; a member on another CPU may take
    // a moment to be gone.
    for (const QString& pid : pids)
        QTRY_VERIFY2_WITH_TIMEOUT(!processAlive(pid.toLongLong()), qPrintable(pid), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(livingMembersOfGroup(pids.first().toLongLong()).isEmpty(), 5000);
}

OSTREL_TEST_MAIN(TestSystemHelper, TestMain::Core)

#include "tst_systemhelper.moc"
