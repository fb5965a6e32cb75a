// Durations against a wall clock that jumps: the connected time the window
// shows and the worker's waits. The suite runs with libfaketime loaded, which
// moves this process's wall clock (not its monotonic one) by the offset in a
// file the test rewrites. And the clock the connected time counts on: the
// boot-time one, which goes on while the machine is suspended.
#include "testsupport.h"

#include "model/model.h"
#include "util/boottimer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExpression>
#include <QSaveFile>
#include <QScopeGuard>

#include <cstdio>
#include <functional>

#include <unistd.h>

namespace {

const char kClockFileVariable[] = "FAKETIME_TIMESTAMP_FILE";
const char kClocksVariable[] = "OSTREL_TEST_PRINT_CLOCKS";

// Moves this process's wall clock by `offset` from the true time ("+1d",
// "-1h", "+0"); the file is replaced in one step.
bool setClock(const QByteArray& offset)
{
    QSaveFile file(qEnvironmentVariable(kClockFileVariable));
    return file.open(QIODevice::WriteOnly) && file.write(offset + "\n") > 0 && file.commit();
}

} // namespace

class TestWallClock : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty(kClockFileVariable))
            QSKIP("libfaketime is not installed");
        const QDateTime before = QDateTime::currentDateTime();
        QVERIFY(setClock("+1d"));
        QVERIFY2(before.secsTo(QDateTime::currentDateTime()) > 86000, "libfaketime does not move the clock");
    }

    void cleanup() { QVERIFY(setClock("+0")); }

    void cleanupTestCase() { QFile::remove(qEnvironmentVariable(kClockFileVariable)); }

    // Connected 65 s ago; then the clock goes a day forward, or an hour back.
    void theConnectedTimeIgnoresClockChanges()
    {
        Model model(nullptr);
        const auto stop = qScopeGuard([&model] { model.stop(); });
        // As the connect page asks for it.
        QQmlEngine engine;
        engine.rootContext()->setContextProperty("viewmodel", &model);
        QQmlExpression shown(engine.rootContext(), nullptr, "viewmodel.getElapsedTimeString(viewmodel.connectedTime)");
        model.setConnectedTime(QDateTime::currentDateTime().addSecs(-65));
        const QStringList expected = { "1m:5s", "1m:6s" };
        for (const QByteArray offset : { "+1d", "-1h" }) {
            QVERIFY(setClock(offset));
            QVERIFY2(expected.contains(model.getElapsedTimeString(model.connectedTime())),
                     qPrintable(model.getElapsedTimeString(model.connectedTime())));
            QVERIFY2(expected.contains(shown.evaluate().toString()), qPrintable(shown.evaluate().toString()));
        }
    }

    // A machine cannot be suspended here; a time namespace whose boot-time
    // clock is a day ahead of its monotonic one stands for a day's suspend.
    // There the clock the connected time counts on reads the boot-time
    // clock, not the monotonic one.
    void theConnectedTimeCountsOnTheBootClock()
    {
        if (!TestSupport::isRoot())
            QSKIP("a time namespace needs root");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kClocksVariable, "1");
        env.remove("LD_PRELOAD");
        child.setProcessEnvironment(env);
        child.start(
            "unshare",
            { "--time", "--boottime", "86400", "--monotonic", "0", "--", QCoreApplication::applicationFilePath() });
        QVERIFY(child.waitForFinished(30000));
        const QByteArray refused = child.readAllStandardError();
        if (refused.startsWith("unshare:"))
            QSKIP(refused.constData());
        // "<connected-time clock> <monotonic clock> <uptime>", milliseconds
        const QList<QByteArray> read = child.readAllStandardOutput().trimmed().split(' ');
        QCOMPARE(read.size(), 3);
        const qint64 connectedClock = read.at(0).toLongLong();
        const qint64 monotonic = read.at(1).toLongLong();
        const qint64 uptime = read.at(2).toLongLong();
        QVERIFY2(connectedClock - monotonic >= 86400000, read.join(' ').constData());
        QVERIFY2(qAbs(connectedClock - uptime) < 2000, read.join(' ').constData());
    }

    // Each wait of 2 s sees the clock jump after 300 ms (and come back after
    // 4 s): it still waits its 2 s.
    void theWorkersWaitsCountTheirOwnTime()
    {
        ConnectionThread worker(nullptr, nullptr);
        // Neither initialised nor served: both waits run to their end.
        worker.holdInitialization(120000);
        worker.start();
        const auto end = qScopeGuard([&worker] { worker.finalize(); });
        QVERIFY(worker.waitForConnection(10000));
        QVERIFY(worker.askState(Constants::RequestedAction_Disconnect));
        const QList<QPair<const char*, std::function<bool()>>> waits = {
            { "waitWorkCompleted", [&worker] { return worker.waitWorkCompleted(2); } },
            { "waitInitializeCompleted", [&worker] { return !worker.waitInitializeCompleted(2); } },
        };
        for (const QByteArray offset : { "+1d", "-1h" }) {
            for (const auto& wait : waits) {
                QTimer jump, back;
                jump.setSingleShot(true);
                back.setSingleShot(true);
                connect(&jump, &QTimer::timeout, [&offset] { setClock(offset); });
                connect(&back, &QTimer::timeout, [] { setClock("+0"); });
                jump.start(300);
                back.start(4000);
                QElapsedTimer waited;
                waited.start();
                QVERIFY2(wait.second(), wait.first);
                const qint64 ms = waited.elapsed();
                QVERIFY(setClock("+0"));
                QVERIFY2(ms >= 1900 && ms < 3500, qPrintable(QString("%1 %2: %3 ms").arg(wait.first, offset).arg(ms)));
            }
        }
    }
};

// Runs the suite again with libfaketime loaded (where it is installed), the
// clock's offset in a file of its own; the monotonic clock stays true.
static void underFakeTime(char* argv[])
{
    const QByteArray library = OSTREL_LIBFAKETIME;
    if (library.isEmpty() || !QFile::exists(library) || !qEnvironmentVariableIsEmpty(kClockFileVariable))
        return;
    const QByteArray clockFile = QDir::tempPath().toLocal8Bit() + "/ostrel-wallclock-" + QByteArray::number(::getpid());
    if (!TestSupport::writeBytes(clockFile, "+0\n"))
        return;
    qputenv("LD_PRELOAD", library);
    qputenv(kClockFileVariable, clockFile);
    qputenv("FAKETIME_NO_CACHE", "1");
    qputenv("FAKETIME_DONT_FAKE_MONOTONIC", "1");
    // Its "fix" for timed waits would end Qt's waits on the monotonic clock
    // at once.
    qputenv("FAKETIME_FORCE_MONOTONIC_FIX", "0");
    // The sanitizers' runtime is then not the first library loaded.
    qputenv("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    ::execv("/proc/self/exe", argv);
    QFile::remove(clockFile);
    qunsetenv(kClockFileVariable);
    qunsetenv("LD_PRELOAD");
}

// The clocks as this process reads them, in milliseconds.
static int printClocks(int, char*[])
{
    const QByteArray uptime = TestSupport::readBytes("/proc/uptime").split(' ').value(0);
    QElapsedTimer monotonic;
    monotonic.start();
    std::printf("%lld %lld %lld\n", static_cast<long long>(BootTimer::nowMs()),
                static_cast<long long>(monotonic.msecsSinceReference()),
                static_cast<long long>(uptime.toDouble() * 1000));
    return 0;
}

OSTREL_TEST_MAIN(TestWallClock,
                 TestMain()
                     .beforeApplication(underFakeTime)
                     .helperRole([] { return qEnvironmentVariableIsSet(kClocksVariable); }, printClocks))

#include "tst_wallclock.moc"
