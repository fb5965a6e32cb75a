#include "arctools.h"
#include "testsupport.h"
#include "treehelpers.h"
#include "ziphelpers.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace TreeHelpers;

namespace {

struct ProbeRun
{
    int exitCode = -1;
    qint64 peakKb = -1;
    QString output;
};

// Runs the extraction probe `probe` on `zip` into `dir`, through `wrapper`
// (a command and its arguments) when one is given.
ProbeRun runExtractProbe(const QString& probe, const QString& zip, const QString& dir, QStringList wrapper = {})
{
    ProbeRun run;
    QProcess process;
    wrapper << probe << zip << dir;
    process.start(wrapper.takeFirst(), wrapper);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.output = QString::fromUtf8(process.readAllStandardOutput());
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    const QRegularExpressionMatch m = QRegularExpression("VmHWM: (\\d+) kB").match(run.output);
    if (m.hasMatch())
        run.peakKb = m.captured(1).toLongLong();
    return run;
}

QString extractProbe()
{
    return QCoreApplication::applicationDirPath() + "/extract_probe";
}

int fileMode(const QString& path)
{
    struct stat st = {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

constexpr quint64 kMiB = 1024 * 1024;

// Unpacks the archive file `zip` as the download's bytes are unpacked.
bool extractFile(const QString& zip, const QString& dir, QString* error = nullptr)
{
    return ArcTools::extractArchive(readFile(zip), dir, error);
}

} // namespace

class TestArcTools : public QObject
{
    Q_OBJECT

private slots:
    void backupHoldsTreeWithPermissions();
    void copyReplacesInstallationKeepingConfAndZip();
    void copyFailureCountsOnlyWhenStrong_data();
    void copyFailureCountsOnlyWhenStrong();
    void overlappingOrMissingTreesAreRefused_data();
    void overlappingOrMissingTreesAreRefused();
    void linksOutOfTargetAreNeverFollowed();
    void unreadableFileStopsBeforeClearing();
    void findsFiles();
    void bundlePath_data();
    void bundlePath();
    void extractCreatesParentDirectories();
    void extractRefusesEscapingEntries_data();
    void extractRefusesEscapingEntries();
    void extractRefusesWhatIsNoArchive();
    void extractMasksModes();
    void extractBoundsSizeAndMemory();
    void extractNeverReplacesProgramFiles();
    void extractTakesRealArchivesWholeOrNotAtAll();
    void extractRemovesLeftoversOfAKilledOne();
    void hostileNamesStayOnOneLogLine();
};

void TestArcTools::backupHoldsTreeWithPermissions()
{
    QTemporaryDir tmp;
    const QString dir = tmp.path() + "/inst";
    QVERIFY(makeTree(dir,
                     { { "bin/prog", "program" },
                       { "lib/private/key", "secret" },
                       { "a.conf", "conf" },
                       { "old.zip", "zip" },
                       { "sub/nested.zip", "zip" },
                       { "empty/", "" },
                       { "lnk", "->bin/prog" } }));
    const QMap<QString, QFile::Permissions> modes = {
        { "bin", QFile::Permissions(0x7055) },         { "bin/prog", QFile::Permissions(0x7055) },
        { "lib/private", QFile::Permissions(0x7000) }, { "lib/private/key", QFile::Permissions(0x6000) },
        { "a.conf", QFile::Permissions(0x6044) },      { "empty", QFile::Permissions(0x7050) },
    };
    for (auto it = modes.cbegin(); it != modes.cend(); ++it)
        QVERIFY(QFile::setPermissions(dir + "/" + it.key(), it.value()));

    QVERIFY(ArcTools::archiveDirectory(dir));
    const QStringList archives = backups(dir);
    QCOMPARE(archives.size(), 1);
    QVERIFY(QRegularExpression("^backup-2\\.1\\.1-\\d{8}-\\d{6}\\.zip$").match(archives.first()).hasMatch());

    QMap<QString, ZipHelpers::Item> entries;
    QVERIFY(ZipHelpers::readZip(dir + "/" + archives.first(), entries));
    QCOMPARE(
        QStringList(entries.keys()),
        QStringList({ "a.conf", "bin", "bin/prog", "empty", "lib", "lib/private", "lib/private/key", "lnk", "sub" }));
    for (const QString& name : entries.keys()) {
        const QFileInfo original(dir + "/" + name);
        if (original.isSymLink()) {
            QVERIFY(entries[name].isLink);
            QCOMPARE(entries[name].data, QByteArray("bin/prog"));
            continue;
        }
        QCOMPARE(entries[name].isDir, original.isDir());
        QCOMPARE(entries[name].perm, fileMode(original.filePath()));
        if (original.isFile())
            QCOMPARE(entries[name].data, readFile(original.filePath()));
    }
    // Other zip tools read it without a complaint.
    QProcess unzip;
    unzip.start("unzip", { "-t", dir + "/" + archives.first() });
    QVERIFY2(unzip.waitForFinished(30000), "unzip (Info-ZIP) is needed");
    QVERIFY2(unzip.exitStatus() == QProcess::NormalExit && unzip.exitCode() == 0, unzip.readAll().constData());

    // Unpacked again, the tree and its modes come back (links excepted).
    const QString copy = tmp.path() + "/copy";
    QVERIFY(extractFile(dir + "/" + archives.first(), copy));
    for (auto it = modes.cbegin(); it != modes.cend(); ++it)
        QCOMPARE(modeBits(QFileInfo(copy + "/" + it.key()).permissions()), it.value());
    QCOMPARE(readFile(copy + "/bin/prog"), QByteArray("program"));
    QVERIFY(!QFileInfo::exists(copy + "/lnk"));
}

void TestArcTools::copyReplacesInstallationKeepingConfAndZip()
{
    QTemporaryDir tmp;
    const QString source = tmp.path() + "/new", target = tmp.path() + "/old";
    QVERIFY(makeTree(target,
                     { { "a.conf", "user conf" },
                       { "old.zip", "old zip" },
                       { "bin/prog", "old prog" },
                       { "docs/readme", "old docs" },
                       { "docs/local.conf", "kept" },
                       { "stale", "stale" } }));
    QVERIFY(
        makeTree(source, { { "a.conf", "shipped conf" }, { "bin/prog", "new prog" }, { "share/icons/x.png", "png" } }));
    QVERIFY(QFile::setPermissions(source + "/bin/prog", QFile::Permissions(0x7555)));

    QVERIFY(ArcTools::copyDirToDestination(source, target, false));

    QMap<QString, QByteArray> after = snapshot(target);
    const QStringList archives = backups(target);
    QCOMPARE(archives.size(), 1);
    after.remove(archives.first());
    const QMap<QString, QByteArray> expected = {
        { "a.conf", "user conf" },  { "old.zip", "old zip" },   { "bin", "<dir>" },
        { "bin/prog", "new prog" }, { "docs", "<dir>" },        { "docs/local.conf", "kept" },
        { "share", "<dir>" },       { "share/icons", "<dir>" }, { "share/icons/x.png", "png" },
    };
    QCOMPARE(after, expected);
    QVERIFY(QFileInfo(target + "/bin/prog").permissions() & QFile::ExeOwner);

    QMap<QString, ZipHelpers::Item> entries;
    QVERIFY(ZipHelpers::readZip(target + "/" + archives.first(), entries));
    QCOMPARE(entries.value("bin/prog").data, QByteArray("old prog"));
    QCOMPARE(entries.value("a.conf").data, QByteArray("user conf"));
    QCOMPARE(entries.value("stale").data, QByteArray("stale"));
    for (const QString& name : entries.keys())
        QVERIFY2(!name.endsWith(".zip"), qPrintable(name));
}

void TestArcTools::copyFailureCountsOnlyWhenStrong_data()
{
    QTest::addColumn<bool>("strong");
    QTest::newRow("weak") << false;
    QTest::newRow("strong") << true;
}

void TestArcTools::copyFailureCountsOnlyWhenStrong()
{
    QFETCH(bool, strong);
    QTemporaryDir tmp;
    const QString source = tmp.path() + "/new", target = tmp.path() + "/old";
    QVERIFY(makeTree(target, { { "a.conf", "user conf" } }));
    QVERIFY(makeTree(source, { { "a.conf", "shipped conf" } }));
    // The kept configuration blocks the copy of the shipped one.
    QCOMPARE(ArcTools::copyDirToDestination(source, target, strong), !strong);
    QCOMPARE(readFile(target + "/a.conf"), QByteArray("user conf"));
}

void TestArcTools::overlappingOrMissingTreesAreRefused_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    QTest::newRow("source inside target") << "inst/update"
                                          << "inst";
    QTest::newRow("same directory") << "inst"
                                    << "inst/../inst";
    QTest::newRow("target inside source") << "inst"
                                          << "inst/bin";
    QTest::newRow("missing source") << "nowhere"
                                    << "inst";
    QTest::newRow("missing target") << "inst/update"
                                    << "nowhere";
}

void TestArcTools::overlappingOrMissingTreesAreRefused()
{
    QFETCH(QString, source);
    QFETCH(QString, target);
    QTemporaryDir tmp;
    QVERIFY(makeTree(tmp.path() + "/inst",
                     { { "ostrel", "launcher" }, { "bin/prog", "prog" }, { "update/ostrel", "new" } }));
    const QMap<QString, QByteArray> before = snapshot(tmp.path());

    QVERIFY(!ArcTools::copyDirToDestination(tmp.path() + "/" + source, tmp.path() + "/" + target, false));
    QCOMPARE(snapshot(tmp.path()), before);
}

void TestArcTools::linksOutOfTargetAreNeverFollowed()
{
    QTemporaryDir tmp;
    const QString outside = tmp.path() + "/outside", source = tmp.path() + "/new", target = tmp.path() + "/old";
    QVERIFY(makeTree(outside, { { "keep.txt", "outside" }, { "sub/inner.txt", "inner" } }));
    QVERIFY(makeTree(target,
                     { { "ostrel", "old" },
                       { "ext", "->" + outside.toUtf8() },
                       { "extfile", "->" + outside.toUtf8() + "/keep.txt" },
                       { "linked.conf", "->" + outside.toUtf8() + "/missing.conf" } }));
    QVERIFY(makeTree(source,
                     { { "ostrel", "new" },
                       { "ext/keep.txt", "new keep" },
                       { "extfile", "new file" },
                       { "linked.conf", "new conf" } }));
    const QMap<QString, QByteArray> outsideBefore = snapshot(outside);

    QVERIFY(ArcTools::copyDirToDestination(source, target, false));

    QCOMPARE(snapshot(outside), outsideBefore);
    QVERIFY(!QFileInfo(target + "/ext").isSymLink());
    QCOMPARE(readFile(target + "/ext/keep.txt"), QByteArray("new keep"));
    QCOMPARE(readFile(target + "/extfile"), QByteArray("new file"));
    QVERIFY(QFileInfo(target + "/linked.conf").isSymLink());

    const QStringList archives = backups(target);
    QCOMPARE(archives.size(), 1);
    QMap<QString, ZipHelpers::Item> entries;
    QVERIFY(ZipHelpers::readZip(target + "/" + archives.first(), entries));
    for (const QString& name : entries.keys()) {
        if (name.startsWith("ext"))
            QVERIFY2(entries[name].isLink, qPrintable(name));
    }
    QCOMPARE(QStringList(entries.keys()), QStringList({ "ext", "extfile", "linked.conf", "ostrel" }));
}

void TestArcTools::unreadableFileStopsBeforeClearing()
{
    QTemporaryDir tmp;
    const QString source = tmp.path() + "/new", target = tmp.path() + "/old";
    QVERIFY(makeTree(target, { { "ostrel", "old" }, { "bin/prog", "old prog" }, { "secret", "unreadable" } }));
    QVERIFY(makeTree(source, { { "ostrel", "new" }, { "bin/prog", "new prog" }, { "added", "new" } }));
    QVERIFY(QFile::setPermissions(target + "/secret", QFile::Permissions()));
    const QMap<QString, QByteArray> before = snapshot(target);

    if (!TestSupport::isRoot()) {
        QVERIFY(!ArcTools::copyDirToDestination(source, target, false));
    } else {
        // Root reads every file: run the copy as an unprivileged user.
        for (const QString& path : { tmp.path(), source, source + "/bin", target, target + "/bin" })
            QVERIFY(QFile::setPermissions(path, QFile::Permissions(0x7777)));
        for (const QString& path : { source + "/ostrel", source + "/bin/prog", source + "/added" })
            QVERIFY(QFile::setPermissions(path, QFile::Permissions(0x6644)));
        QProcess probe;
        probe.start("setpriv",
                    { "--reuid=65534", "--regid=65534", "--clear-groups",
                      QCoreApplication::applicationDirPath() + "/update_copy_probe", source, target });
        QVERIFY(probe.waitForFinished(30000));
        if (probe.exitStatus() != QProcess::NormalExit || (probe.exitCode() != 10 && probe.exitCode() != 11))
            QSKIP("cannot run a process as an unprivileged user here");
        QCOMPARE(probe.exitCode(), 11); // the copy failed
    }
    QCOMPARE(snapshot(target), before);
}

void TestArcTools::findsFiles()
{
    QTemporaryDir tmp;
    const QString dir = tmp.path() + "/inst", outside = tmp.path() + "/outside";
    QVERIFY(makeTree(outside, { { "ostrel.conf", "x" }, { "ostrel", "x" } }));
    QVERIFY(makeTree(dir,
                     { { "ostrel.conf", "1" },
                       { "a/ostrel.conf", "2" },
                       { "a/xostrel.conf", "3" },
                       { "b/Ostrel.conf", "4" },
                       { "link", "->" + outside.toUtf8() },
                       { "c/d/my-ostrel", "5" } }));

    QStringList found = { "earlier" };
    ArcTools::findFile(dir, "ostrel.conf", found);
    QCOMPARE(found.size(), 3);
    QCOMPARE(found.first(), QString("earlier"));
    QCOMPARE(QSet<QString>(found.begin() + 1, found.end()),
             QSet<QString>({ dir + "/ostrel.conf", dir + "/a/ostrel.conf" }));

    // The launcher search: a name ending in the launcher's, in subdirectories
    // too, but not behind a link.
    QCOMPARE(findFile("ostrel", QDir(dir)), dir + "/c/d/my-ostrel");
    QVERIFY(makeTree(dir, { { "c/ostrel", "6" } }));
    QCOMPARE(findFile("ostrel", QDir(dir)), dir + "/c/ostrel");
    QVERIFY(findFile("nothing", QDir(dir)).isEmpty());
}

void TestArcTools::bundlePath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("bundle");
    QTest::newRow("data dir") << "/opt/app/data"
                              << "/opt/app";
    QTest::newRow("plain") << "/opt/app"
                           << "/opt/app";
    QTest::newRow("name ending in data") << "/opt/appdata"
                                         << "/opt/appdata";
    QTest::newRow("data twice") << "/srv/data/app/data"
                                << "/srv/data/app";
    QTest::newRow("mac bundle") << "/Apps/X.app/Contents/MacOS"
                                << "/Apps/X.app";
    QTest::newRow("both") << "/Apps/X.app/Contents/MacOS/data"
                          << "/Apps/X.app";
}

void TestArcTools::bundlePath()
{
    QFETCH(QString, path);
    QFETCH(QString, bundle);
    QCOMPARE(getBundlePathFromPath(path), bundle);
}

void TestArcTools::extractCreatesParentDirectories()
{
    QTemporaryDir tmp;
    const QString zip = tmp.path() + "/v.zip";
    QVERIFY(ZipHelpers::writeZip(zip,
                                 { { "v2ray/bin/v2ray", 0100755, "binary" },
                                   { "geo/geoip.dat", 0100644, "geo" },
                                   { "link", 0120777, "/etc/passwd" } }));
    QVERIFY(extractFile(zip, tmp.path() + "/out/deeper"));
    QCOMPARE(snapshot(tmp.path() + "/out/deeper"),
             (QMap<QString, QByteArray>({ { "v2ray", "<dir>" },
                                          { "v2ray/bin", "<dir>" },
                                          { "v2ray/bin/v2ray", "binary" },
                                          { "geo", "<dir>" },
                                          { "geo/geoip.dat", "geo" } })));
}

void TestArcTools::extractRefusesEscapingEntries_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("linkInTarget");
    QTest::newRow("parent") << "../evil.txt" << false;
    QTest::newRow("parent inside") << "a/../../evil.txt" << false;
    QTest::newRow("deep parent") << "a/b/../../../evil.txt" << false;
    QTest::newRow("backslashes") << "..\\evil.txt" << false;
    QTest::newRow("absolute") << "<abs>" << false;
    QTest::newRow("through a link") << "lib/evil.txt" << true;
}

void TestArcTools::extractRefusesEscapingEntries()
{
    QFETCH(QString, entry);
    QFETCH(bool, linkInTarget);
    QTemporaryDir tmp;
    const QString target = tmp.path() + "/target", zip = tmp.path() + "/bad.zip";
    if (entry == "<abs>")
        entry = tmp.path() + "/evil.txt";
    if (linkInTarget)
        QVERIFY(makeTree(target, { { "lib", "->" + tmp.path().toUtf8() } }));
    QVERIFY(ZipHelpers::writeZip(zip, { { "good.txt", 0100644, "good" }, { entry, 0100644, "evil" } }));
    const QMap<QString, QByteArray> before = snapshot(tmp.path());

    QString error;
    QVERIFY(!extractFile(zip, target, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(snapshot(tmp.path()), before);
}

void TestArcTools::extractRefusesWhatIsNoArchive()
{
    // A download that is an error page or empty is no archive, even though
    // Qt's reader lists it as one without entries.
    QTemporaryDir tmp;
    const QString target = tmp.path() + "/target";
    for (const QByteArray& body : { QByteArray("<html>not found</html>"), QByteArray() }) {
        const QString file = tmp.path() + "/download.zip";
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(body);
        f.close();
        QString error;
        QVERIFY(!extractFile(file, target, &error));
        QVERIFY(!error.isEmpty());
    }
    QVERIFY(!QFileInfo::exists(target));
}

void TestArcTools::extractMasksModes()
{
    QTemporaryDir tmp;
    const QString zip = tmp.path() + "/modes.zip", target = tmp.path() + "/out";
    QVERIFY(ZipHelpers::writeZip(zip,
                                 {
                                     { "v2ray", 0100777, "binary" },
                                     { "setuid", 0104755, "binary" },
                                     { "shared/", 042777, {} },
                                     { "shared/data.dat", 0102666, "data" },
                                     { "private.key", 0100600, "key" },
                                     { "plain.txt", 0, "no mode stored" },
                                 }));

    QString error;
    QVERIFY2(extractFile(zip, target, &error), qPrintable(error));
    QCOMPARE(fileMode(target + "/v2ray"), 0755);
    QCOMPARE(fileMode(target + "/setuid"), 0755);
    QCOMPARE(fileMode(target + "/shared"), 0755);
    QCOMPARE(fileMode(target + "/shared/data.dat"), 0644);
    QCOMPARE(fileMode(target + "/private.key"), 0600);
    QCOMPARE(fileMode(target + "/plain.txt"), 0644);
    QCOMPARE(readFile(target + "/shared/data.dat"), QByteArray("data"));
    QCOMPARE(QDir(target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 5);
}

void TestArcTools::extractBoundsSizeAndMemory()
{
    QTemporaryDir tmp;
    const QString out = tmp.path() + "/out";
    const qint64 bound = ArcTools::kMaxExtractedBytes;
    QCOMPARE(bound, qint64(256 * kMiB));

    // What the probe needs for a tiny archive is the measure of the others.
    const QString small = tmp.path() + "/small.zip";
    QVERIFY(ZipHelpers::writeZip(small, { { "v2ray", 0100755, "binary" } }));
    const ProbeRun baseline = runExtractProbe(extractProbe(), small, tmp.path() + "/small");
    QCOMPARE(baseline.exitCode, 10);
    QVERIFY2(baseline.peakKb > 0, qPrintable(baseline.output));
    const qint64 allowedKb = baseline.peakKb + 48 * 1024;

    // A real entry of 96 MiB is unpacked without ever being held whole.
    const QString large = tmp.path() + "/large.zip";
    QVERIFY(ZipHelpers::writeZip(large, { { "v2ray", 0100755, {}, 96 * kMiB } }));
    ProbeRun run = runExtractProbe(extractProbe(), large, out);
    QCOMPARE(run.exitCode, 10);
    QCOMPARE(QFileInfo(out + "/v2ray").size(), qint64(96 * kMiB));
    QVERIFY2(run.peakKb < allowedKb, qPrintable(run.output));
    QVERIFY(QDir(out).removeRecursively());

    // Over the bound: one high-ratio entry, two entries together, and an entry
    // whose headers claim far less than it inflates to.
    const QVector<QPair<QString, QVector<ZipHelpers::Entry>>> refused = {
        { "one entry", { { "v2ray", 0100755, {}, quint64(bound) + kMiB } } },
        { "two entries", { { "v2ray", 0100755, {}, 130 * kMiB }, { "geoip.dat", 0100644, {}, 130 * kMiB } } },
        { "claims less", { { "v2ray", 0100755, {}, quint64(bound) + kMiB, true, qint64(kMiB) } } },
    };
    for (const auto& row : refused) {
        const QString zip = tmp.path() + "/bomb.zip";
        QVERIFY(ZipHelpers::writeZip(zip, row.second));
        QVERIFY2(QFileInfo(zip).size() < qint64(4 * kMiB), qPrintable(row.first));
        run = runExtractProbe(extractProbe(), zip, out);
        QVERIFY2(run.exitCode == 11, qPrintable(row.first + ": " + run.output));
        QVERIFY2(!QFileInfo::exists(out), qPrintable(row.first));
        QVERIFY2(run.peakKb > 0 && run.peakKb < allowedKb, qPrintable(row.first + ": " + run.output));
    }
}

void TestArcTools::extractNeverReplacesProgramFiles()
{
    // The program's directory is a copy of the probe with the files the
    // program brings beside it.
    QTemporaryDir tmp;
    const QString app = tmp.path() + "/app";
    QVERIFY(QDir().mkpath(app));
    QVERIFY(QFile::copy(extractProbe(), app + "/extract_probe"));
    const QStringList own = { "ostrel",     "openvpn.ostrel", "ostrel-killswitch.sh",
                              "ostrel-dns", "open_link.sh",   "ostrel.desktop" };
    for (const QString& name : own)
        QVERIFY(writeFile(app + "/" + name, "own " + name.toUtf8()));
    auto state = [&app]() {
        QMap<QString, QByteArray> files = snapshot(app);
        files["extract_probe"] = QCryptographicHash::hash(files.value("extract_probe"), QCryptographicHash::Sha1);
        return files;
    };
    const QMap<QString, QByteArray> before = state();

    for (const QString& name : own + QStringList({ "extract_probe" })) {
        const QString zip = tmp.path() + "/replace.zip";
        QVERIFY(ZipHelpers::writeZip(zip, { { "v2ray", 0100755, "binary" }, { name, 0100755, "#!/bin/sh\nid\n" } }));
        const ProbeRun run = runExtractProbe(app + "/extract_probe", zip, app);
        QVERIFY2(run.exitCode == 11, qPrintable(name + ": " + run.output));
        QVERIFY2(state() == before, qPrintable(name));
    }

    // The same archive unpacks anywhere else.
    const QString zip = tmp.path() + "/elsewhere.zip";
    QVERIFY(
        ZipHelpers::writeZip(zip, { { "v2ray", 0100755, "binary" }, { "ostrel-killswitch.sh", 0100755, "other" } }));
    QCOMPARE(runExtractProbe(app + "/extract_probe", zip, tmp.path() + "/other").exitCode, 10);
    QCOMPARE(readFile(tmp.path() + "/other/ostrel-killswitch.sh"), QByteArray("other"));
}

void TestArcTools::extractTakesRealArchivesWholeOrNotAtAll()
{
    QTemporaryDir tmp;
    auto runTool = [](const QString& dir, const QString& program, const QStringList& args) {
        QProcess tool;
        tool.setWorkingDirectory(dir);
        tool.start(program, args);
        const bool done = tool.waitForFinished(60000);
        if (!done) {
            tool.kill();
            tool.waitForFinished(5000);
        }
        return done && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
    };

    // Packed by Info-ZIP: a long zero run, whose last output the inflater
    // gives after the last input byte, and the system's V2Ray client as a
    // release archive holds it.
    const QString packed = tmp.path() + "/packed";
    const QByteArray zeros(131073, '\0');
    QVERIFY(writeFile(packed + "/zeros", zeros));
    const QString v2ray = QStandardPaths::findExecutable("v2ray");
    if (!v2ray.isEmpty())
        QVERIFY(QFile::copy(v2ray, packed + "/v2ray"));
    QVERIFY2(runTool(packed, "zip", { "-q", "-r", "-X", "../infozip.zip", "." }), "zip (Info-ZIP) is needed");
    QString error;
    QVERIFY2(extractFile(tmp.path() + "/infozip.zip", tmp.path() + "/unpacked", &error), qPrintable(error));
    QCOMPARE(readFile(tmp.path() + "/unpacked/zeros"), zeros);
    if (!v2ray.isEmpty()) {
        QCOMPARE(readFile(tmp.path() + "/unpacked/v2ray"), readFile(v2ray));
        QVERIFY(QFileInfo(tmp.path() + "/unpacked/v2ray").isExecutable());
    }

    // A file that cannot take its name after another one has: the one
    // replaced comes back and the directory made goes again.
    const QString target = tmp.path() + "/target";
    QVERIFY(makeTree(target, { { "b_ok", "before" }, { "keep/x", "x" } }));
    const QString conflict = tmp.path() + "/conflict.zip";
    QVERIFY(ZipHelpers::writeZip(conflict,
                                 { { "b_ok", 0100644, "after" }, { "a/", 040755, {} }, { "a", 0100644, "file" } }));
    const QMap<QString, QByteArray> before = snapshot(target);
    QVERIFY(!extractFile(conflict, target, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(snapshot(target), before);

    // Many small files with few file descriptors to spare.
    QVector<ZipHelpers::Entry> many;
    for (int i = 0; i < 3000; ++i)
        many.append({ QString("d%1/f%2").arg(i % 10).arg(i), 0100644, QByteArray::number(i) });
    const QString manyZip = tmp.path() + "/many.zip";
    QVERIFY(ZipHelpers::writeZip(manyZip, many));
    const ProbeRun run = runExtractProbe(extractProbe(), manyZip, tmp.path() + "/many", { "prlimit", "--nofile=256" });
    QVERIFY2(run.exitCode == 10, qPrintable(run.output));
    QCOMPARE(readFile(tmp.path() + "/many/d7/f2997"), QByteArray("2997"));
    QCOMPARE(snapshot(tmp.path() + "/many").size(), 3010);
}

void TestArcTools::extractRemovesLeftoversOfAKilledOne()
{
    // What an extraction killed midway leaves: unpacked files and files set
    // aside, under their temporary names, in the target and below. Beside
    // them files that only look alike, which are the user's.
    QTemporaryDir tmp;
    const QString target = tmp.path() + "/target";
    const QStringList leftovers = { ".unpack-AbCdEf", ".unpack-GhIjKl.old", "bin/.unpack-MnOpQr" };
    for (const QString& name : leftovers)
        QVERIFY(writeFile(target + "/" + name, "left over"));
    QVERIFY(makeTree(target,
                     { { ".unpack-notes", "mine" },
                       { "unpack-AbCdEf", "mine" },
                       { ".unpack-AbCd12", "mine" },
                       { ".unpack-AbCdEf.bak", "mine" },
                       { ".unpack-DiRdIr/", "" },
                       { ".unpack-LiNkAb", "->.unpack-notes" } }));
    QMap<QString, QByteArray> expected = snapshot(target);
    for (const QString& name : leftovers)
        expected.remove(name);
    if (TestSupport::isRoot()) {
        const QString foreign = target + "/.unpack-NoBody";
        QVERIFY(writeFile(foreign, "another user's"));
        QVERIFY(::chown(QFile::encodeName(foreign).constData(), 65534, 65534) == 0);
        expected.insert(".unpack-NoBody", "another user's");
    }

    const QString zip = tmp.path() + "/v.zip";
    QVERIFY(ZipHelpers::writeZip(zip, { { "v2ray", 0100755, "binary" } }));
    QString error;
    {
        // While another extraction runs there (it holds the directory's
        // lock), its temporary files are its own and stay.
        const int running = ::open(QFile::encodeName(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QVERIFY(running >= 0);
        const auto release = qScopeGuard([running] { ::close(running); });
        QVERIFY(::flock(running, LOCK_SH) == 0);
        QVERIFY2(extractFile(zip, target, &error), qPrintable(error));
        for (const QString& name : leftovers)
            QVERIFY2(QFileInfo::exists(target + "/" + name), qPrintable(name));
    }
    QVERIFY2(extractFile(zip, target, &error), qPrintable(error));

    expected.insert("v2ray", "binary");
    QCOMPARE(snapshot(target), expected);
}

void TestArcTools::hostileNamesStayOnOneLogLine()
{
    // Names an archive or an installation brings reach the log escaped, one
    // line each: refused and skipped entries, and the backup's file names.
    const QString forged = QStringLiteral("\\n[12:00:00] [W] FORGED \\x1b[2K");
    QTemporaryDir tmp;
    const QString zip = tmp.path() + "/hostile.zip";
    LogCapture capture;

    QVERIFY(ZipHelpers::writeZip(
        zip, { { "v2ray", 0100755, "binary" }, { "../x\n[12:00:00] [W] FORGED \x1b[2K", 0100644, "x" } }));
    QString error;
    QVERIFY(!extractFile(zip, tmp.path() + "/refused", &error));
    QVERIFY2(error.contains(forged), qPrintable(error));

    QVERIFY(ZipHelpers::writeZip(
        zip, { { "v2ray", 0100755, "binary" }, { "link\n[12:00:00] [W] FORGED \x1b[2K", 0120777, "v2ray" } }));
    QVERIFY(extractFile(zip, tmp.path() + "/unpacked"));

    const QString inst = tmp.path() + "/inst";
    QVERIFY(writeFile(inst + "/file\n[12:00:00] [W] FORGED \x1b[2K", "data"));
    QVERIFY(ArcTools::archiveDirectory(inst));

    const QStringList lines = LogCapture::lines();
    for (const QString& line : lines)
        QVERIFY2(!line.contains('\n') && !line.contains('\x1b'), qPrintable(line.toUtf8().toPercentEncoding(" /:[]-")));
    QCOMPARE(LogCapture::count("unsafe archive entry: \\.\\./x" + QRegularExpression::escape(forged)), 1);
    QCOMPARE(LogCapture::count("-link entry not created: +link" + QRegularExpression::escape(forged)), 1);
    QCOMPARE(LogCapture::count("-zip file: +.*/inst/file" + QRegularExpression::escape(forged)), 1);
}

OSTREL_TEST_MAIN(TestArcTools, TestMain::Core)
#include "tst_arctools.moc"
