#include "getservers.h"
#include "log.h"
#include "model/model.h"
#include "resources.h"
#include "settings.h"
#include "systemhelper.h"
#include "testsupport.h"

#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>

#include <sys/stat.h>

// The files the client writes belong to its user alone: checked by their
// modes and by a second user (nobody) trying to read them.
class TestPrivateFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initResources(); }
    void cleanupTestCase() { SystemHelper::release(); }
    void filesLeftByEarlierVersionsBecomePrivateAtStart();
    void filesWrittenNowArePrivate();
};

namespace {

int mode(const QString& path)
{
    struct stat st = {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

bool writeWithMode(const QString& path, int fileMode)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write("secret\n") == 7
        && ::chmod(QFile::encodeName(path).constData(), mode_t(fileMode)) == 0;
}

// Whether the unprivileged user can read `path`; -1 when that cannot be tried.
int nobodyReads(const QString& path)
{
    QProcess cat;
    cat.start("setpriv", { "--reuid=65534", "--regid=65534", "--clear-groups", "cat", path });
    if (!cat.waitForFinished(10000) || cat.exitStatus() != QProcess::NormalExit)
        return -1;
    return cat.exitCode() == 0 ? 1 : 0;
}

// Every file below `dir` is 0600 and every directory 0700, `dir` included;
// and once the directory lets others pass, nobody reads any of the files,
// while a file that allows it (the control) is read.
void verifyPrivate(const QString& dir, const QStringList& files)
{
    QCOMPARE(mode(dir), 0700);
    for (const QString& file : files)
        QVERIFY2(mode(file) == 0600, qPrintable(file + ": " + QString::number(mode(file), 8)));
    if (!TestSupport::isRoot())
        return;
    QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0711) == 0);
    auto restore = qScopeGuard([&dir]() { ::chmod(QFile::encodeName(dir).constData(), 0700); });
    const QString control = dir + "/control.txt";
    QVERIFY(writeWithMode(control, 0644));
    const int controlRead = nobodyReads(control);
    QFile::remove(control);
    if (controlRead != 1)
        QSKIP("cannot run a process as an unprivileged user here");
    for (const QString& file : files) {
        // Subdirectories are 0700 themselves: only files directly inside count.
        if (QFileInfo(file).absolutePath() == dir)
            QVERIFY2(nobodyReads(file) == 0, qPrintable(file));
    }
}

} // namespace

void TestPrivateFiles::filesLeftByEarlierVersionsBecomePrivateAtStart()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::DataLocation);
    const QStringList files = {
        Settings::logFullFileName(),
        Settings::logFullFileName() + "20260101-1205.txt",
        Settings::locationsFullFileName(),
        Settings::proxyLocationsFullFileName(),
        dir + "/config.ovpn",
        dir + "/proxy.json",
        dir + "/sub/kept.txt",
    };
    for (const QString& file : files)
        QVERIFY(writeWithMode(file, 0644));
    settings().setValue("k", "v");
    settings().sync();
    QVERIFY(::chmod(QFile::encodeName(Settings::fullFileName()).constData(), 0644) == 0);
    QVERIFY(::chmod(QFile::encodeName(dir + "/sub").constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0755) == 0);

    Settings::init();

    QCOMPARE(mode(dir + "/sub"), 0700);
    verifyPrivate(dir, files + QStringList({ Settings::fullFileName() }));
    QVERIFY(QDir(dir + "/sub").removeRecursively());
}

void TestPrivateFiles::filesWrittenNowArePrivate()
{
    // A first start: nothing there yet but the directory, open to everyone.
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::DataLocation);
    QVERIFY(QDir(dir).removeRecursively());
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0755) == 0);

    ALog::init(Settings::logFullFileName());
    QCOMPARE(mode(dir), 0700);
    QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0755) == 0);
    ALog::startLogging();
    ALog::out("a line with the environment");
    ALog::saveCurrentLogFile();
    ALog::stopLogging();
    const QStringList copies = QDir(dir).entryList({ "ostrel.log2*.txt" }, QDir::Files);
    QCOMPARE(copies.size(), 1);

    settings().setValue("username", "someone");
    settings().sync();
    QVERIFY(saveLocations("[]", "[]"));
    QVERIFY(saveProxyLocations("[]"));
    {
        Model model(nullptr);
        auto stop = qScopeGuard([&model]() { model.stop(); });
        QCOMPARE(SystemHelper::instance().configsFilesDirPath(), dir);
        QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0755) == 0);
        QVERIFY(model.makeOVPNFile(256, "UDP", "1194", "127.0.0.1", false, QString(), false, QString(), QString(), {},
                                   QString()));
        QCOMPARE(mode(dir), 0700);
    }

    verifyPrivate(dir,
                  { Settings::fullFileName(), Settings::logFullFileName(), dir + "/" + copies.first(),
                    Settings::locationsFullFileName(), Settings::proxyLocationsFullFileName(), dir + "/config.ovpn" });
}

OSTREL_TEST_MAIN(TestPrivateFiles)
#include "tst_privatefiles.moc"
