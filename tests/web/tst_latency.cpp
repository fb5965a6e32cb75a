// Latency measurement: the summary-line rule, the real ping against loopback
// addresses, and a fake ping (first on PATH) for failures and odd outputs.
// Nothing here sends a packet beyond 127.0.0.0/8.

#include "getservers.h"
#include "latency.h"
#include "settings.h"
#include "testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

namespace {

// Collects pingMeasured from the latency threads.
class Recorder : public QObject
{
public:
    explicit Recorder(GetLocations& gl)
    {
        QObject::connect(
            &gl, &GetLocations::pingMeasured, this,
            [this](const QString& code, int ms) {
                QMutexLocker lock(&m_mutex);
                m_events.append({ code, ms });
            },
            Qt::DirectConnection);
    }
    QList<int> values(const QString& code) const
    {
        QMutexLocker lock(&m_mutex);
        QList<int> out;
        for (const auto& e : m_events) {
            if (e.first == code)
                out << e.second;
        }
        return out;
    }
    int count() const
    {
        QMutexLocker lock(&m_mutex);
        return m_events.size();
    }

private:
    mutable QMutex m_mutex;
    QList<QPair<QString, int>> m_events;
};

Location::Ptr makeLocation(const QString& code, const QString& host)
{
    Location::Ptr l(new Location(code));
    l->setCode(code);
    l->setHost(host);
    return l;
}

} // namespace

class TestLatency : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_fakeDir; // the fake's call log and pid file
    QString m_fakePingDir;
    QByteArray m_originalPath;

    QStringList fakeCalls() const
    {
        QFile f(m_fakeDir.filePath("calls.log"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    int callsFor(const QString& host) const
    {
        int n = 0;
        for (const QString& line : fakeCalls()) {
            if (line.section('|', 1) == host + " -c 1")
                ++n;
        }
        return n;
    }

    void useFakePing(bool on)
    {
        qputenv("PATH", on ? m_fakePingDir.toLocal8Bit() + ":" + m_originalPath : m_originalPath);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_fakeDir.isValid());
        m_fakePingDir = QStringLiteral(OSTREL_FAKE_PING_DIR);
        QVERIFY(QFileInfo(m_fakePingDir + "/ping").isExecutable());
        m_originalPath = qgetenv("PATH");
        qputenv("FAKE_PING_LOG", m_fakeDir.filePath("calls.log").toLocal8Bit());
        qputenv("FAKE_PING_PID", m_fakeDir.filePath("sleep.pid").toLocal8Bit());
    }

    void init()
    {
        QFile::remove(m_fakeDir.filePath("calls.log"));
        TestSupport::resetSettings();
        useFakePing(false);
    }

    void cleanup() { useFakePing(false); }

    // ------------------------------------------------------------ summary line

    void parsePingResult_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("ms");
        const QString head =
            "PING 127.0.0.1 (127.0.0.1) 56(84) bytes of data.\n64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.045 ms\n\n"
            "--- 127.0.0.1 ping statistics ---\n1 packets transmitted, 1 received, 0% packet loss, time 0ms\n";
        QTest::newRow("average, whole ms") << head + "rtt min/avg/max/mdev = 23.456/24.789/25.012/0.500 ms\n"
                                           << true << 24;
        QTest::newRow("not rounded") << "rtt min/avg/max/mdev = 9.87/10.02/10.5/0.1 ms" << true << 10;
        QTest::newRow("below one ms") << "rtt min/avg/max/mdev = 0.4/0.4/0.4/0.0 ms\n\n\n" << true << 0;
        QTest::newRow("three digits") << "round-trip min/avg/max = 100.1/250.9/400.2 ms" << true << 250;
        QTest::newRow("loss line last") << head << false << -1;
        QTest::newRow("empty") << "" << false << -1;
        QTest::newRow("only line ends") << "\n\n\n" << false << -1;
        QTest::newRow("no slash after =") << "time = 12 ms" << false << -1;
        QTest::newRow("letters after slash") << "x = 1/avg/3" << false << -1;
        QTest::newRow("= in an earlier line only") << "a = 1/2/3\nno equals here" << false << -1;
        QTest::newRow("last = counts") << "a = 1/2/3 b = 4/5/6" << true << 5;
        QTest::newRow("too large for int") << "x = 1/99999999999999/3" << false << -1;
        QTest::newRow("negative") << "x = 1/-5/3" << false << -1;
    }

    void parsePingResult()
    {
        QFETCH(QString, output);
        QFETCH(bool, ok);
        QFETCH(int, ms);
        int value = -1;
        QCOMPARE(::parsePingResult(output, value), ok);
        if (ok)
            QCOMPARE(value, ms);
    }

    void timeoutsGrow()
    {
        QCOMPARE(pingTimeoutMs(1), 3000);
        QCOMPARE(pingTimeoutMs(2), 4000);
        QCOMPARE(pingTimeoutMs(3), 5000);
    }

    // ------------------------------------------------------------ real ping

    // More locations than one batch of workers: every one is measured once.
    void realPing_loopbackAddresses()
    {
        QProcess probe;
        probe.start("ping", { "127.0.0.1", "-c", "1" });
        if (!probe.waitForFinished(5000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) {
            probe.kill();
            probe.waitForFinished(1000);
            QSKIP("the system ping cannot reach 127.0.0.1 here");
        }

        QList<Location::Ptr> locations;
        locations << makeLocation("lo1", "127.0.0.1") << makeLocation("lo2", "127.0.0.2");
        for (int i = 1; i <= 10; ++i)
            locations << makeLocation(QStringLiteral("net%1").arg(i), QStringLiteral("127.0.1.%1").arg(i));

        GetLocations gl(nullptr, {}, {});
        Recorder recorder(gl);
        gl.setPingList(locations);
        gl.startPingThread();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count(), locations.size(), 30000);
        for (const auto& l : locations) {
            const QList<int> values = recorder.values(l->code());
            QCOMPARE(values.size(), 1);
            QVERIFY2(values.first() >= 0, qPrintable(l->code()));
            QCOMPARE(l->pingMs(), values.first());
        }
        QVERIFY(!gl.havePingTask());
        gl.stop();
    }

    // A refilled queue is measured by the running scheduler, round after
    // round. The workers hold the last reference to a measured location while
    // its pingMsChanged is queued to the GUI thread, so the location must not
    // be destroyed on a worker thread: every one ends on its own thread.
    void realPing_refill()
    {
        const int rounds = 20;
        const int perRound = 7;
        QThread* const owner = QThread::currentThread();
        // Shared, so that locations outliving a failed check do not count
        // into a finished stack frame.
        struct Counts
        {
            QAtomicInt destroyed = 0;
            QAtomicInt destroyedElsewhere = 0;
        };
        const QSharedPointer<Counts> counts(new Counts);
        const auto fresh = [counts, owner](const QString& code) {
            const Location::Ptr l = makeLocation(code, "127.0.0.13");
            QObject::connect(
                l.data(), &QObject::destroyed, l.data(),
                [counts, owner]() {
                    counts->destroyed.ref();
                    if (QThread::currentThread() != owner)
                        counts->destroyedElsewhere.ref();
                },
                Qt::DirectConnection);
            return l;
        };

        GetLocations gl(nullptr, {}, {});
        Recorder recorder(gl);
        useFakePing(true);
        gl.startPingThread();
        for (int round = 0; round < rounds; ++round) {
            QList<Location::Ptr> list;
            for (int i = 0; i < perRound; ++i)
                list << fresh(QStringLiteral("r%1-%2").arg(round).arg(i));
            gl.setPingList(list);
            list.clear(); // the queue holds the only references
            QTRY_COMPARE_WITH_TIMEOUT(recorder.count(), (round + 1) * perRound, 20000);
        }
        QCOMPARE(recorder.values(QStringLiteral("r%1-%2").arg(rounds - 1).arg(perRound - 1)), QList<int> { 10 });
        gl.stop();
        QTRY_COMPARE_WITH_TIMEOUT(counts->destroyed.loadAcquire(), rounds * perRound, 10000);
        QCOMPARE(counts->destroyedElsewhere.loadAcquire(), 0);
    }

    // ------------------------------------------------------------ fake ping

    void fakePing_outcomes()
    {
        useFakePing(true);
        const Location::Ptr silentOk = makeLocation("silent", "127.0.0.12");
        silentOk->setPingMs(42);
        const QList<Location::Ptr> locations { makeLocation("loss", "127.0.0.11"),  silentOk,
                                               makeLocation("good", "127.0.0.13"),  makeLocation("odd", "127.0.0.14"),
                                               makeLocation("exit2", "127.0.0.15"), makeLocation("third", "127.0.0.16"),
                                               makeLocation("nohost", "") };
        GetLocations gl(nullptr, {}, {});
        Recorder recorder(gl);
        gl.setPingList(locations);
        gl.startPingThread();

        // Loss line and exit code 1: -1 for the exit code and -1 for the line, in each of three tries.
        // No output at exit 0: nothing reported. A summary line: one value.
        const int expected = 6 + 0 + 1 + 3 + 2 + 5 + 3;
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count(), expected, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(callsFor("127.0.0.12"), 3, 10000);

        QCOMPARE(recorder.values("loss"), QList<int>({ -1, -1, -1, -1, -1, -1 }));
        QCOMPARE(locations[0]->pingMs(), -1);
        QCOMPARE(recorder.values("silent"), QList<int>());
        QCOMPARE(silentOk->pingMs(), 42);
        QCOMPARE(recorder.values("good"), QList<int> { 10 });
        QCOMPARE(locations[2]->pingMs(), 10);
        QCOMPARE(recorder.values("odd"), QList<int>({ -1, -1, -1 }));
        // Failed exit code, but a readable summary: -1, then the value.
        QCOMPARE(recorder.values("exit2"), QList<int>({ -1, 0 }));
        QCOMPARE(locations[4]->pingMs(), 0);
        QCOMPARE(recorder.values("third"), QList<int>({ -1, -1, -1, -1, 7 }));
        QCOMPARE(locations[5]->pingMs(), 7);
        // An empty host: ping fails, stderr is no output.
        QCOMPARE(recorder.values("nohost"), QList<int>({ -1, -1, -1 }));

        QCOMPARE(callsFor("127.0.0.11"), 3);
        QCOMPARE(callsFor("127.0.0.13"), 1);
        QCOMPARE(callsFor("127.0.0.14"), 3);
        QCOMPARE(callsFor("127.0.0.15"), 1);
        QCOMPARE(callsFor("127.0.0.16"), 3);
        QCOMPARE(callsFor(""), 3);
        gl.stop();
    }

    void fakePing_debugPing()
    {
        useFakePing(true);
        settings().setValue("debugping", true);
        LogCapture log;
        GetLocations gl(nullptr, {}, {});
        Recorder recorder(gl);
        gl.setPingList({ makeLocation("odd", "127.0.0.14") });
        gl.startPingThread();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count(), 3, 30000);
        gl.stop();
        QVERIFY(log.contains("ping additional attempt 2"));
        QVERIFY(log.contains("ping additional attempt 3"));
        QVERIFY(!log.contains("ping additional attempt 4"));
        // Each run is logged by the command runner, with the growing time-outs.
        QVERIFY(log.contains("timeout 3000"));
        QVERIFY(log.contains("timeout 4000"));
        QVERIFY(log.contains("timeout 5000"));
    }

    // Measuring switched off: the queue waits until it is switched on again.
    void latencyOption_pausesMeasuring()
    {
        useFakePing(true);
        SettingOption::Ptr off(new SettingOption(true, false));
        GetLocations gl(nullptr, {}, {});
        gl.setOptionDisableLatencyTest(off);
        Recorder recorder(gl);
        gl.setPingList({ makeLocation("good", "127.0.0.13") });
        gl.startPingThread();
        QTest::qWait(2500);
        QCOMPARE(callsFor("127.0.0.13"), 0);
        QVERIFY(gl.havePingTask());
        off->setValue(false);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count(), 1, 10000);
        gl.stop();
    }

    // stop() waits for a running ping; the process does not outlive it.
    void stop_duringHangingPing()
    {
        useFakePing(true);
        const QString pidFile = m_fakeDir.filePath("sleep.pid");
        QFile::remove(pidFile);
        GetLocations gl(nullptr, {}, {});
        gl.setPingList({ makeLocation("hang", "127.0.0.17"), makeLocation("after", "127.0.0.13") });
        gl.startPingThread();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pidFile) && QFile(pidFile).size() > 0, 10000);
        QFile f(pidFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const pid_t pid = pid_t(f.readAll().trimmed().toInt());
        QVERIFY(pid > 0);
        gl.stop();
        QVERIFY(gl.stopped());
        QVERIFY2(::kill(pid, 0) != 0, "the ping process outlived stop()");
    }

    void stop_withEmptyQueueAndTwice()
    {
        GetLocations gl(nullptr, {}, {});
        gl.startPingThread();
        QTest::qWait(100);
        gl.stop();
        gl.stop();
        gl.startPingThread(); // stopped: no new scheduler
        QVERIFY(gl.stopped());
    }
};

OSTREL_TEST_MAIN(TestLatency)
#include "tst_latency.moc"
