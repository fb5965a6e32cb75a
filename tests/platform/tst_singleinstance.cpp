// One client per user: the instance lock, the per-user socket and the trust
// in its answer, with the real executable and a second local user
// ("nobody"). Every client gets a home, data and temporary directory of its
// own; a shared temporary directory stands for /tmp.

#include "testsupport.h"

#include "model/windowhelpers.h"
#include "settings.h"
#include "singlestartman.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kStartWaitMs = 60000;
constexpr int kStopWaitMs = 60000;

QString binary(const QString& name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

// The program and arguments that run `program` as the user "nobody".
QStringList asNobody(const QString& program, const QStringList& args = {})
{
    return QStringList { QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                         QStringLiteral("--clear-groups"), QStringLiteral("--"), program }
    + args;
}

bool chownToNobody(const QString& path)
{
    const struct passwd* nobody = ::getpwnam("nobody");
    return nobody && ::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid) == 0;
}

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

// A directory every user may write into, like /tmp.
class SharedTmp
{
public:
    SharedTmp() { ::chmod(QFile::encodeName(m_dir.path()).constData(), 01777); }
    QString path(const QString& sub = QString()) const { return sub.isEmpty() ? m_dir.path() : m_dir.filePath(sub); }

private:
    QTemporaryDir m_dir;
};

// One user's installation of the client's data, and the client started on
// it, as root or as "nobody".
class Client
{
public:
    Client(bool nobody, const SharedTmp& tmp)
        : m_nobody(nobody)
    {
        QDir().mkpath(m_dir.filePath(QStringLiteral("data/ostrel")));
        Settings store(m_dir.filePath(QStringLiteral("data/ostrel/ostrel.conf")));
        store.setValue(QStringLiteral("disableLatencyTest"), true);
        // The start-up steps in the output.
        store.setValue(QStringLiteral("detailedDebug"), QStringLiteral("true"));
        store.sync();
        ::chmod(QFile::encodeName(m_dir.filePath(QStringLiteral("data/ostrel"))).constData(), 0700);
        if (nobody) {
            for (const char* sub : { "", "data", "data/ostrel", "data/ostrel/ostrel.conf" })
                chownToNobody(m_dir.filePath(QLatin1String(sub)));
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir.filePath(QStringLiteral("cache")));
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.insert(QStringLiteral("TMPDIR"), tmp.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("out.txt")));
    }
    ~Client() { stop(); }

    bool start()
    {
        if (m_nobody)
            m_process.start(QStringLiteral("setpriv"), asNobody(binary(QStringLiteral("ostrel"))));
        else
            m_process.start(binary(QStringLiteral("ostrel")), QStringList());
        return m_process.waitForStarted(10000);
    }
    // Ends the client the way the system would, bounded.
    bool stop()
    {
        const pid_t pid = pid_t(m_process.processId());
        if (m_process.state() == QProcess::NotRunning || pid <= 0)
            return true;
        ::kill(pid, SIGTERM);
        if (m_process.waitForFinished(kStopWaitMs))
            return true;
        m_process.kill();
        m_process.waitForFinished(kStopWaitMs);
        return false;
    }
    QString output() const { return readText(m_dir.filePath(QStringLiteral("out.txt"))); }
    QString socketPath() const { return m_dir.filePath(QStringLiteral("data/ostrel/ostrel.ipcServer")); }
    QString lockPath() const { return m_dir.filePath(QStringLiteral("data/ostrel/ostrel.instance.lock")); }
    // The model came up: this start became the user's instance.
    bool startedModel() const { return output().contains(QLatin1String("S20")); }
    bool gaveWay() const { return output().contains(QLatin1String("another instance is running")); }
    bool listens() const { return QFileInfo(socketPath()).exists(); }
    const QProcess& process() const { return m_process; }

private:
    bool m_nobody;
    QTemporaryDir m_dir;
    QProcess m_process;
};

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = kStartWaitMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(50);
    }
    return true;
}

// A server that answers like a client, run as "nobody".
class FakeServer
{
public:
    bool start(const QString& socketPath)
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("setpriv"),
                        asNobody(binary(QStringLiteral("fake_instance_server")), { socketPath }));
        return m_process.waitForStarted(10000) && m_process.waitForReadyRead(10000)
            && m_process.readLine() == "listening\n";
    }
    ~FakeServer()
    {
        m_process.kill();
        m_process.waitForFinished(10000);
    }

private:
    QProcess m_process;
};

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!TestSupport::isRoot())
            QSKIP("needs root: a second user is started with setpriv");
        QVERIFY(QFileInfo(binary(QStringLiteral("ostrel"))).isExecutable());
        QVERIFY(QFileInfo(binary(QStringLiteral("fake_instance_server"))).isExecutable());
        // This process's own data directory, where "nobody" can reach in.
        QVERIFY(m_data.isValid());
        ::chmod(QFile::encodeName(m_data.path()).constData(), 0755);
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_data.path()));
    }

    // The answer counts only when the socket file and the process behind it
    // are this user's.
    void answerTrustedOnlyFromSameUser()
    {
        const QString dir = SingleStartMan::instanceDirectory();
        QVERIFY(!dir.isEmpty());
        QCOMPARE(QFileInfo(dir).permissions() & (QFile::WriteGroup | QFile::WriteOther), QFile::Permissions());
        const QString path = SingleStartMan::ipcServerPath();
        QCOMPARE(path, dir + QStringLiteral("/ostrel.ipcServer"));

        // "nobody" gets in for a moment and leaves a server behind.
        const QByteArray encodedDir = QFile::encodeName(dir);
        QCOMPARE(::chmod(encodedDir.constData(), 0777), 0);
        FakeServer fake;
        const bool listening = fake.start(path);
        QCOMPARE(::chmod(encodedDir.constData(), 0700), 0);
        QVERIFY(listening);
        QVERIFY(!SingleStartMan::instanceDirectory().isEmpty());
        {
            // It does answer as a client would.
            QLocalSocket raw;
            raw.connectToServer(path);
            QVERIFY(raw.waitForConnected(5000));
            QByteArray frame;
            QTRY_VERIFY_WITH_TIMEOUT((frame += raw.readAll()).size() >= 22, 5000);
            QCOMPARE(frame, ipcAnswerFrame());
        }
        QVERIFY(!activateRunningInstance(2000));
        // The file made over to this user: the process is still not.
        QVERIFY(::chown(QFile::encodeName(path).constData(), ::geteuid(), ::getegid()) == 0);
        QVERIFY(!activateRunningInstance(2000));

        // A server of this user is believed.
        QVERIFY(QFile::remove(path));
        QLocalServer own;
        QVERIFY(own.listen(path));
        QObject::connect(&own, &QLocalServer::newConnection, [&own]() {
            while (QLocalSocket* client = own.nextPendingConnection()) {
                QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
                client->write(ipcAnswerFrame());
                client->flush();
            }
        });
        QVERIFY(TestSupport::activatedFromAnotherThread());
    }

    // A socket of another user where the machine-wide one used to be does
    // not make the client give way.
    void foreignSocketDoesNotStopTheClient()
    {
        SharedTmp tmp;
        FakeServer fake;
        QVERIFY(fake.start(tmp.path(QStringLiteral("ostrel.ipcServer"))));
        Client client(false, tmp);
        QVERIFY(client.start());
        QVERIFY2(waitUntil([&]() { return client.listens() || client.process().state() == QProcess::NotRunning; }),
                 qPrintable(client.output()));
        QVERIFY2(client.startedModel() && client.listens(), qPrintable(client.output()));
        QVERIFY(!client.gaveWay());
        QVERIFY(client.stop());
        QCOMPARE(client.process().exitCode(), 0);
    }

    // Another user's start runs a client of its own beside the first.
    void anotherUserStartsItsOwnInstance()
    {
        SharedTmp tmp;
        Client first(false, tmp);
        QVERIFY(first.start());
        // Its single-instance server is about to listen, wherever that is.
        QVERIFY2(waitUntil([&]() { return first.output().count(QLatin1String("startIpcServer")) >= 2; }),
                 qPrintable(first.output()));
        QTest::qWait(200);

        Client second(true, tmp);
        QVERIFY(second.start());
        QVERIFY2(waitUntil([&]() { return second.listens() || second.process().state() == QProcess::NotRunning; }),
                 qPrintable(second.output()));
        QVERIFY2(second.startedModel() && second.listens(), qPrintable(second.output()));
        QVERIFY(!second.gaveWay());
        // The first one was not asked, and listens on its own.
        QVERIFY(!first.output().contains(QLatin1String("ipcServerNewConnection")));
        QVERIFY(first.listens());
        QCOMPARE(QFileInfo(second.socketPath()).ownerId(), ::getpwnam("nobody")->pw_uid);
        QVERIFY(second.stop());
        QVERIFY(first.stop());
        QCOMPARE(first.process().exitCode(), 0);
        QCOMPARE(second.process().exitCode(), 0);
    }

    // An instance that holds the lock but never answers is reported, and no
    // second client starts.
    void silentInstanceReported()
    {
        SharedTmp tmp;
        Client client(false, tmp);
        QProcess holder;
        // One process that takes the lock and then only sleeps.
        holder.start(QStringLiteral("bash"),
                     { QStringLiteral("-c"),
                       QStringLiteral("exec 9>\"$0\" && flock 9 && echo locked && exec sleep 600"),
                       client.lockPath() });
        QVERIFY(holder.waitForStarted(10000));
        const auto endHolder = qScopeGuard([&]() {
            holder.kill();
            holder.waitForFinished(10000);
        });
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readAll(), QByteArray("locked\n"));

        QVERIFY(client.start());
        QVERIFY2(waitUntil([&]() { return client.gaveWay(); }), qPrintable(client.output()));
        QVERIFY(client.output().contains(QLatin1String("another instance is running but does not answer")));
        // It waits for the user to read that; a quit request ends it too.
        QCOMPARE(client.process().state(), QProcess::Running);
        QVERIFY(client.stop());
        QCOMPARE(client.process().exitCode(), 0);
        QVERIFY(!client.startedModel());
        QVERIFY(!client.listens());
    }

    // Two starts of the same user close together: exactly one goes on.
    void startsCloseTogetherLeaveOne_data()
    {
        QTest::addColumn<int>("gapMs");
        QTest::newRow("0 ms") << 0;
        QTest::newRow("10 ms") << 10;
        QTest::newRow("50 ms") << 50;
    }

    void startsCloseTogetherLeaveOne()
    {
        QFETCH(int, gapMs);
        SharedTmp tmp;
        // Both on the same home: two clients of the same user.
        Client first(false, tmp);
        QVERIFY(first.start());
        QThread::msleep(ulong(gapMs));
        // A second process of the same installation.
        QProcess second;
        second.setProcessEnvironment(first.process().processEnvironment());
        second.setProcessChannelMode(QProcess::MergedChannels);
        QTemporaryDir outDir;
        const QString secondOut = outDir.filePath(QStringLiteral("second.txt"));
        second.setStandardOutputFile(secondOut);
        second.start(binary(QStringLiteral("ostrel")), QStringList());
        QVERIFY(second.waitForStarted(10000));
        const auto stopSecond = qScopeGuard([&]() {
            if (second.state() != QProcess::NotRunning) {
                ::kill(pid_t(second.processId()), SIGTERM);
                if (!second.waitForFinished(kStopWaitMs))
                    second.kill();
                second.waitForFinished(kStopWaitMs);
            }
        });

        auto secondStartedModel = [&]() { return readText(secondOut).contains(QLatin1String("S20")); };
        auto secondGaveWay = [&]() {
            return readText(secondOut).contains(QLatin1String("another instance is running"));
        };
        QVERIFY2(waitUntil([&]() {
                     return (first.startedModel() || secondStartedModel()) && (first.gaveWay() || secondGaveWay());
                 }),
                 qPrintable(first.output() + QStringLiteral("\n----\n") + readText(secondOut)));
        // Whatever else happens later, neither changes its mind.
        QTest::qWait(1000);
        QVERIFY(first.startedModel() != secondStartedModel());
        QVERIFY(first.gaveWay() != secondGaveWay());
        QCOMPARE(first.startedModel(), secondGaveWay());
        QVERIFY(first.stop());
    }

private:
    QTemporaryDir m_data;
};

OSTREL_TEST_MAIN(TestSingleInstance)

#include "tst_singleinstance.moc"
