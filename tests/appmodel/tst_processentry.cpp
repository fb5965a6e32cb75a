// The process entry: its switches, software-rendering choice and settings
// import in this process; start-up, shut-down, update refusal, detaching
// from a terminal and single-instance activation with the real executable
// (offscreen, private home, data and temporary directories).

#include "testsupport.h"

#include "processentry.h"
#include "settings.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kStartWaitMs = 60000;
constexpr int kStopWaitMs = 60000;
const QString kPassword = QStringLiteral("pw-Never-Shown-42");

// One private installation of the client's data: home, data directory,
// temporary directory (single-instance socket), a prepared settings file.
class ClientHome
{
public:
    ClientHome()
    {
        for (const char* sub : { "data/ostrel", "tmp" })
            QDir().mkpath(m_dir.filePath(sub));
        Settings store(confPath());
        store.setValue("detailedDebug", "true");
        store.setValue("disableLatencyTest", true);
        store.setValue("savePass", "true");
        store.setSimpleCryptedValue("username", "alice");
        store.setSimpleCryptedValue("password", kPassword);
        store.sync();
    }
    QString path(const QString& sub) const { return m_dir.filePath(sub); }
    QString confPath() const { return m_dir.filePath("data/ostrel/ostrel.conf"); }
    QString logText() const
    {
        QFile file(m_dir.filePath("data/ostrel/ostrel.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }

    // The client writes its standard output to `output`.
    void prepare(QProcess& process, const QString& output) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_dir.path());
        env.insert("XDG_DATA_HOME", m_dir.filePath("data"));
        env.insert("XDG_CONFIG_HOME", m_dir.filePath("config"));
        env.insert("TMPDIR", m_dir.filePath("tmp"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        // The offscreen platform has no OpenGL.
        env.insert("QT_QUICK_BACKEND", "software");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(output);
    }

private:
    QTemporaryDir m_dir;
};

QString client()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/ostrel");
}

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

// Waits (bounded) until the file holds `fragment`.
bool waitForText(const QString& path, const QString& fragment, int timeoutMs = kStartWaitMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!readText(path).contains(fragment)) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(50);
    }
    return true;
}

bool terminate(QProcess& process)
{
    const pid_t pid = pid_t(process.processId());
    if (process.state() == QProcess::NotRunning || pid <= 0)
        return true;
    ::kill(pid, SIGTERM);
    return process.waitForFinished(kStopWaitMs);
}

} // namespace

class TestProcessEntry : public QObject
{
    Q_OBJECT

private slots:
    void switches_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("haveX");
        QTest::addColumn<bool>("haveD");
        QTest::newRow("none") << QStringList { "/opt/ostrel/ostrel", "--update=/opt/Dir" } << false << false;
        QTest::newRow("dashes, more text") << QStringList { "ostrel", "-X", "--Debug" } << true << true;
        QTest::newRow("letter not second") << QStringList { "ostrel", "-aX", "X", "---X", "-", "-x" } << false << false;
        QTest::newRow("program path") << QStringList { "-Xprogram", "-Dfoo" } << true << true;
    }

    void switches()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, haveX);
        QFETCH(bool, haveD);
        QList<QByteArray> bytes;
        QVector<char*> argv;
        for (const QString& arg : args)
            bytes << arg.toLocal8Bit();
        for (QByteArray& b : bytes)
            argv << b.data();
        QCOMPARE(haveXArg(argv.size(), argv.data(), 'X'), haveX);
        QCOMPARE(haveXArg(argv.size(), argv.data(), 'D'), haveD);
    }

    void softwareOpenGLChoice()
    {
        QTemporaryDir dir;
        Settings side(dir.filePath("side.conf"));
        // Without a side file entry the preference decides.
        QVERIFY(chooseSoftwareOpenGL(false, &side, true));
        QVERIFY(!chooseSoftwareOpenGL(false, nullptr, false));
        // -X is remembered in the side file, which then outweighs the preference.
        QVERIFY(chooseSoftwareOpenGL(true, &side, false));
        QVERIFY(chooseSoftwareOpenGL(false, &side, false));
        QVERIFY(readText(dir.filePath("side.conf")).contains("useSoftwareOpenGL=true"));
        side.setValue("useSoftwareOpenGL", false);
        QVERIFY(!chooseSoftwareOpenGL(false, &side, true));
        QVERIFY(chooseSoftwareOpenGL(true, nullptr, false));
    }

    void olderSettingsImport()
    {
        QTemporaryDir dir;
        QVERIFY(!importOlderSettings(dir.path()));
        const auto write = [&](const QString& name, const char* value) {
            QDir().mkpath(QFileInfo(dir.filePath(name)).absolutePath());
            Settings old(dir.filePath(name));
            old.setValue("favorite", value);
        };
        write("old/Ostrel.conf", "from-Ostrel");
        write("deeper/a/ostrel.conf", "from-ostrel");
        write("ostrel.exe.conf", "from-exe");
        QCOMPARE(findOlderSettingsFiles(dir.path()),
                 QStringList({ dir.filePath("ostrel.exe.conf"), dir.filePath("old/Ostrel.conf"),
                               dir.filePath("deeper/a/ostrel.conf") }));
        TestSupport::resetSettings();
        QVERIFY(importOlderSettings(dir.path()));
        QCOMPARE(settings().valueReadOnly("favorite", QVariant()).toString(), QStringLiteral("from-ostrel"));
    }

    void startsAndStopsOnSigterm()
    {
        ClientHome home;
        QProcess process;
        const QString out = home.path("out.txt");
        home.prepare(process, out);
        process.start(client(), QStringList());
        QVERIFY(process.waitForStarted());
        QVERIFY2(waitForText(out, "S20"), qPrintable(readText(out)));
        QVERIFY(terminate(process));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);

        const QString text = readText(out);
        for (const char* line :
             { "ostrel started ...", "getpid: ", "productType: ", "forkInfo:  no isatty(...)", "ostrel version:  2.1.1",
               "config file path:  ", "haveDArg:  false", "Warning: LOCK_APP_UNIQUE_CONTROL ON",
               "seconds: ", "app finished", "app.exec result:  0" })
            QVERIFY2(text.contains(line), line);
        QVERIFY(text.indexOf("virtual Model::~Model()") < text.indexOf("app finished"));
        // The log file holds the same, and neither the password.
        QVERIFY(home.logText().contains("app.exec result:  0"));
        QVERIFY(!text.contains(kPassword) && !home.logText().contains(kPassword));
    }

    void updateRefusalEndsTheStart()
    {
        ClientHome home;
        QProcess process;
        const QString out = home.path("out.txt");
        home.prepare(process, out);
        process.start(client(), { "--update=" + home.path("no-installation") });
        QVERIFY(process.waitForStarted());
        // The refusal waits for the user; a quit request answers it too.
        QVERIFY2(waitForText(out, "Update failed."), qPrintable(readText(out)));
        QVERIFY(terminate(process));
        QCOMPARE(process.exitCode(), 0);
        const QString text = readText(out);
        QVERIFY(text.contains("UpdateManager::erClose"));
        QVERIFY(!text.contains("Model::~Model"));
    }

    void detachesFromATerminal()
    {
        // The detached client becomes this process's child when its parent
        // ends, so its exit can be waited for.
        QCOMPARE(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const auto closeMaster = qScopeGuard([master]() { ::close(master); });

        ClientHome home;
        QProcess starter;
        const QString out = home.path("out.txt");
        home.prepare(starter, out);
        starter.setStandardInputFile(QString::fromLocal8Bit(::ptsname(master)));
        starter.start(client(), QStringList());
        QVERIFY(starter.waitForFinished(kStartWaitMs));
        QCOMPARE(starter.exitCode(), 0);
        QVERIFY(waitForText(out, "after setsid"));
        const QRegularExpressionMatch ids = QRegularExpression("after setsid (\\d+)/(\\d+)").match(readText(out));
        QVERIFY(ids.hasMatch());
        const pid_t child = ids.captured(2).toInt();
        QVERIFY(child > 0);
        bool reapedChild = false;
        const auto endChild = qScopeGuard([&]() {
            if (!reapedChild) {
                ::kill(child, SIGKILL);
                ::waitpid(child, nullptr, 0);
            }
        });
        QCOMPARE(ids.captured(1), ids.captured(2)); // leads a session of its own
        QVERIFY(readText(out).contains("parent process COMPLITED after fork!"));

        QVERIFY2(waitForText(out, "S20"), qPrintable(readText(out)));
        QVERIFY(readText(out).contains("forkInfo:  FORK:"));
        QCOMPARE(::kill(child, SIGTERM), 0);
        int status = 0;
        QDeadlineTimer deadline(kStopWaitMs);
        pid_t reaped = 0;
        while ((reaped = ::waitpid(child, &status, WNOHANG)) == 0 && !deadline.hasExpired())
            QTest::qWait(50);
        QCOMPARE(reaped, child);
        reapedChild = true;
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    void secondStartActivatesTheFirst()
    {
        ClientHome home;
        QProcess first;
        const QString firstOut = home.path("first.txt");
        home.prepare(first, firstOut);
        first.start(client(), QStringList());
        QVERIFY(first.waitForStarted());
        const auto stopFirst = qScopeGuard([&]() { terminate(first); });
        // The server listens once the window has reported its scene.
        const QString socketPath = home.path("data/ostrel/ostrel.ipcServer");
        QDeadlineTimer deadline(kStartWaitMs);
        while (!QFile::exists(socketPath) && !deadline.hasExpired())
            QTest::qWait(50);
        QVERIFY2(QFile::exists(socketPath), qPrintable(readText(firstOut)));

        QProcess second;
        const QString secondOut = home.path("second.txt");
        home.prepare(second, secondOut);
        second.start(client(), QStringList());
        QVERIFY(second.waitForFinished(kStartWaitMs));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(readText(secondOut).contains("another instance is running"));
        QVERIFY(waitForText(firstOut, "ipcServerNewConnection"));
        // The running instance's log is left as it was.
        QVERIFY(home.logText().contains("ipcServerNewConnection"));
        QVERIFY(home.logText().contains("haveDArg:"));

        QVERIFY(terminate(first));
        QCOMPARE(first.exitCode(), 0);
    }
};

OSTREL_TEST_MAIN(TestProcessEntry)

#include "tst_processentry.moc"
