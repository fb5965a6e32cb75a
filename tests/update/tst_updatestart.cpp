#include "checknewversion.h"
#include "settings.h"
#include "singlestartman.h"
#include "systemhelper.h"
#include "testsupport.h"
#include "treehelpers.h"
#include "updatenotice.h"

#include <QLockFile>
#include <QTemporaryDir>

#include <unistd.h>

using namespace TreeHelpers;

namespace {
const QString kFailed = QStringLiteral("Update failed.");
const QString kSucceeded = QStringLiteral(
    "Update successful. Older version archived (you can remove the backup archive manually).");
} // namespace

class TestUpdateStart : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cleanupTestCase();
    void withoutSwitchNothingHappens();
    void finishesUpdateOfInstallation();
    void refusesTargetsThatAreNoInstallation_data();
    void refusesTargetsThatAreNoInstallation();
    void waitsForLockHolder();
    void unlistableDirectoryStopsUpdate();

private:
    QStringList m_notices;
};

void TestUpdateStart::init()
{
    m_notices.clear();
    UpdateNotice::setPresenter([this](const QString& text) { m_notices << text; });
    TestSupport::resetSettings();
}

void TestUpdateStart::cleanup()
{
    UpdateNotice::setPresenter(UpdateNotice::Presenter());
    SingleStartMan::setLockDirectoryForTests(QString());
}

void TestUpdateStart::cleanupTestCase()
{
    SystemHelper::release();
}

void TestUpdateStart::withoutSwitchNothingHappens()
{
    QTemporaryDir tmp;
    QVERIFY(makeTree(tmp.path(), { { "ostrel", "launcher" }, { "ostrel.conf", "[General]\nk=old\n" } }));
    const QMap<QString, QByteArray> before = snapshot(tmp.path());

    QCOMPARE(UpdateManager::executeOnStart(*qobject_cast<QApplication*>(qApp)), UpdateManager::erContinue);
    const QStringList lookalikes = { "ostrel", "-update=" + tmp.path(), "--update" + tmp.path(),
                                     "x--update=" + tmp.path() };
    QCOMPARE(UpdateManager::executeOnStart(lookalikes, tmp.path()), UpdateManager::erContinue);
    QCOMPARE(snapshot(tmp.path()), before);
    QVERIFY(m_notices.isEmpty());
    QVERIFY(!settings().contains("k"));
}

void TestUpdateStart::finishesUpdateOfInstallation()
{
    QTemporaryDir tmp;
    const QString source = tmp.path() + "/new", target = tmp.path() + "/installed";
    // The launcher leaves a mark beside itself, so its start from the
    // updated place can be seen.
    QVERIFY(makeTree(
        source,
        { { "ostrel", "#!/bin/sh\necho started > \"$(dirname \"$0\")/launched\"\n" }, { "data/lib.so", "new lib" } }));
    QVERIFY(QFile::setPermissions(source + "/ostrel", QFile::Permissions(0x7555)));
    QVERIFY(makeTree(target,
                     { { "ostrel", "old launcher" },
                       { "data/lib.so", "old lib" },
                       { "ostrel.exe.conf", "[General]\nk=exe\n" },
                       { "sub/ostrel.conf", "[General]\nk=last\nonlyNew=1\n" },
                       { "keep.zip", "zip" } }));

    // Started from "<bundle>/data", the new installation is "<bundle>".
    QCOMPARE(UpdateManager::executeOnStart({ "ostrel", "-X", "--update=" + target }, source + "/data"),
             UpdateManager::erClose);

    QCOMPARE(m_notices, QStringList({ kSucceeded }));
    QCOMPARE(settings().valueReadOnly("k", QVariant()).toString(), QString("last"));
    QCOMPARE(settings().valueReadOnly("onlyNew", QVariant()).toString(), QString("1"));
    QCOMPARE(readFile(target + "/data/lib.so"), QByteArray("new lib"));
    QCOMPARE(readFile(target + "/keep.zip"), QByteArray("zip"));
    QCOMPARE(backups(target).size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(target + "/launched"), 10000);
    QVERIFY(!QFileInfo::exists(source + "/launched"));
}

void TestUpdateStart::refusesTargetsThatAreNoInstallation_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("missing directory") << "nowhere";
    QTest::newRow("home-like directory") << "home";
    QTest::newRow("launcher only a link") << "linked";
    QTest::newRow("empty argument") << "";
    QTest::newRow("source itself") << "new";
    QTest::newRow("source inside target") << "home/new-parent";
}

void TestUpdateStart::refusesTargetsThatAreNoInstallation()
{
    QFETCH(QString, target);
    QTemporaryDir tmp;
    QVERIFY(makeTree(tmp.path(),
                     { { "new/ostrel", "new launcher" },
                       { "home/Documents/letter.txt", "mine" },
                       { "home/ostrel.conf", "[General]\nk=foreign\n" },
                       { "home/tool-ostrel", "x" },
                       { "linked/ostrel", "->" + tmp.path().toUtf8() + "/new/ostrel" },
                       { "home/new-parent/ostrel", "old" } }));
    const QString source = target == "home/new-parent" ? tmp.path() + "/home/new-parent/update" : tmp.path() + "/new";
    QVERIFY(QDir().mkpath(source));
    const QMap<QString, QByteArray> before = snapshot(tmp.path());

    const QString argument = "--update=" + (target.isEmpty() ? QString() : tmp.path() + "/" + target);
    QCOMPARE(UpdateManager::executeOnStart({ "ostrel", argument }, source), UpdateManager::erClose);

    QCOMPARE(m_notices, QStringList({ kFailed }));
    QCOMPARE(snapshot(tmp.path()), before);
    QVERIFY(!settings().contains("k"));
}

void TestUpdateStart::waitsForLockHolder()
{
    QTemporaryDir tmp;
    SingleStartMan::setLockDirectoryForTests(tmp.path() + "/missing");
    QVERIFY(SingleStartMan::waitForClose("busy", 2, 10));

    SingleStartMan::setLockDirectoryForTests(tmp.path());
    QCOMPARE(SingleStartMan::lockFileFullPathAndName(), tmp.path() + "/ostrel-run.lock");
    QVERIFY(SingleStartMan::waitForClose("busy", 2, 10));

    // A lock left by a process that has ended does not hold anyone up.
    QProcess ended;
    ended.start("sleep", { "30" });
    QVERIFY(ended.waitForStarted(5000));
    const qint64 deadPid = ended.processId();
    ended.kill();
    QVERIFY(ended.waitForFinished(5000));
    QVERIFY(writeFile(SingleStartMan::lockFileFullPathAndName(),
                      QByteArray::number(deadPid) + "\nostrel\n" + QSysInfo::machineHostName().toUtf8() + "\n"));
    QVERIFY(SingleStartMan::waitForClose("busy", 2, 10));
    QVERIFY(m_notices.isEmpty());

    QLockFile holder(SingleStartMan::lockFileFullPathAndName());
    QVERIFY(holder.tryLock(0));
    QVERIFY(!SingleStartMan::waitForClose("busy", 2, 10));
    QCOMPARE(m_notices, QStringList({ "busy" }));

    // Released while waiting: the wait ends without a notice.
    QTimer::singleShot(100, this, [&holder]() { holder.unlock(); });
    QVERIFY(SingleStartMan::waitForClose("busy", 500, 10));
    QCOMPARE(m_notices.size(), 1);
}

void TestUpdateStart::unlistableDirectoryStopsUpdate()
{
    QTemporaryDir tmp;
    const QString source = tmp.path() + "/new", target = tmp.path() + "/installed", lockDir = tmp.path() + "/lock";
    QVERIFY(makeTree(source, { { "ostrel", "new launcher" }, { "data/lib.so", "new lib" } }));
    QVERIFY(makeTree(target,
                     { { "ostrel", "old launcher" },
                       { "data/lib.so", "old lib" },
                       { "plugins/hidden/a.so", "plugin" },
                       { "plugins/b.so", "b" } }));
    QVERIFY(QDir().mkpath(lockDir));

    if (!TestSupport::isRoot()) {
        QVERIFY(QFile::setPermissions(target + "/plugins/hidden", QFile::Permissions()));
        SingleStartMan::setLockDirectoryForTests(lockDir);
        const QMap<QString, QByteArray> before = snapshot(target);
        QCOMPARE(UpdateManager::executeOnStart({ "ostrel", "--update=" + target }, source), UpdateManager::erClose);
        QVERIFY(QFile::setPermissions(target + "/plugins/hidden", QFile::Permissions(0x7700)));
        QCOMPARE(m_notices, QStringList({ kFailed }));
        QCOMPARE(snapshot(target), before);
        return;
    }

    // Root lists every directory: the installation belongs to an unprivileged
    // user, who runs the update and may delete everything in it.
    QVERIFY(QFile::setPermissions(tmp.path(), QFile::Permissions(0x7755)));
    QDirIterator it(tmp.path(), QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QStringList owned = { source, target, lockDir };
    while (it.hasNext())
        owned << it.next();
    for (const QString& path : owned)
        QVERIFY2(::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0, qPrintable(path));
    QVERIFY(QFile::setPermissions(target + "/plugins/hidden", QFile::Permissions()));
    const QMap<QString, QByteArray> before = snapshot(target);

    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", lockDir);
    env.insert("XDG_DATA_HOME", lockDir + "/data");
    env.insert("XDG_CONFIG_HOME", lockDir + "/config");
    probe.setProcessEnvironment(env);
    probe.start("setpriv",
                { "--reuid=65534", "--regid=65534", "--clear-groups",
                  QCoreApplication::applicationDirPath() + "/update_start_probe", source, lockDir,
                  "--update=" + target });
    QVERIFY(probe.waitForFinished(30000));
    if (probe.exitStatus() != QProcess::NormalExit || (probe.exitCode() != 20 && probe.exitCode() != 21))
        QSKIP("cannot run a process as an unprivileged user here");
    QCOMPARE(probe.exitCode(), 20);
    QCOMPARE(QString::fromUtf8(probe.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
             QStringList({ kFailed }));
    QCOMPARE(snapshot(target), before);
    QVERIFY(backups(target).isEmpty());
}

OSTREL_TEST_MAIN(TestUpdateStart)
#include "tst_updatestart.moc"
