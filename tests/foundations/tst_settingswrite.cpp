#include "model/model.h"
#include "nstools.h"
#include "settings.h"
#include "testsupport.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>

// Writes of the settings store that fail: a full file system and a read-only
// one, each mounted by the test in its own mount namespace.
class TestSettingsWrite : public QObject
{
    Q_OBJECT

private slots:
    void failedWritesAreReportedOncePerRun_data();
    void failedWritesAreReportedOncePerRun();
    void userIsToldWhenChoicesCannotBeSaved();
};

namespace {

QByteArray fileContent(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Fills the file system of `dir` up to the last byte.
bool fill(const QString& dir)
{
    QFile filler(dir + "/filler");
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size() && filler.flush()) { }
    filler.close();
    QFile small(dir + "/filler2");
    if (small.open(QIODevice::WriteOnly)) {
        while (small.write("x", 1) == 1 && small.flush()) { }
    }
    return filler.size() > 0;
}

int criticalLines(const QString& file)
{
    int count = 0;
    for (const QString& line : LogCapture::lines()) {
        if (line.startsWith("Settings not saved:") && line.contains(file))
            ++count;
    }
    return count;
}

} // namespace

void TestSettingsWrite::failedWritesAreReportedOncePerRun_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("reason");
    QTest::newRow("full file system") << false << "No space left on device";
    QTest::newRow("read-only file system") << true << "Read-only file system";
}

void TestSettingsWrite::failedWritesAreReportedOncePerRun()
{
    QFETCH(bool, readOnly);
    QFETCH(QString, reason);
    if (!NsTools::inPrivateNamespaces())
        QSKIP("needs private mount namespaces (root)");

    QTemporaryDir tmp;
    const QString dir = tmp.path() + "/data";
    QVERIFY(QDir().mkpath(dir));
    QCOMPARE(NsTools::run("mount", { "-t", "tmpfs", "-o", "size=256k", "tmpfs", dir }).code, 0);
    auto breakIt = [&]() {
        return readOnly ? NsTools::run("mount", { "-o", "remount,ro", dir }).code == 0 : fill(dir);
    };
    auto mendIt = [&]() {
        return readOnly ? NsTools::run("mount", { "-o", "remount,rw", dir }).code == 0
                        : QFile::remove(dir + "/filler") && QFile::remove(dir + "/filler2");
    };

    const QString path = dir + "/ostrel.conf";
    LogCapture log;
    {
        Settings store(path);
        QSignalSpy failed(&store, &Settings::writeFailed);
        QSignalSpy recovered(&store, &Settings::writeRecovered);
        store.setValue("k", "old");
        store.sync();
        QVERIFY(fileContent(path).contains("k=old"));
        QCOMPARE(failed.count(), 0);
        const QByteArray good = fileContent(path);

        // The write QSettings makes from the event loop fails: reported once,
        // with the file and the reason; the file stays as it was.
        QVERIFY(breakIt());
        store.setValue("k", "new");
        store.setValue("favorite", QString(3000, 'x'));
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 5000);
        QCOMPARE(failed.first().at(0).toString(), path);
        QVERIFY2(failed.first().at(1).toString().contains(reason), qPrintable(failed.first().at(1).toString()));
        QCOMPARE(criticalLines(path), 1);
        QVERIFY(LogCapture::contains(reason));
        QVERIFY(store.writeFailing());
        QCOMPARE(fileContent(path), good);

        // Further failures of the same run are not reported again.
        store.setValue("k", "newer");
        store.sync();
        store.sync();
        QCOMPARE(failed.count(), 1);
        QCOMPARE(criticalLines(path), 1);
        QCOMPARE(fileContent(path), good);
        QCOMPARE(recovered.count(), 0);

        // The next write that succeeds ends the run and writes everything.
        QVERIFY(mendIt());
        store.sync();
        QCOMPARE(recovered.count(), 1);
        QVERIFY(!store.writeFailing());
        QVERIFY(fileContent(path).contains("k=newer"));

        // A later failure begins a new run and is reported again.
        QVERIFY(breakIt());
        store.setValue("k", "latest");
        store.sync();
        QCOMPARE(failed.count(), 2);
        QCOMPARE(criticalLines(path), 2);
        QVERIFY(fileContent(path).contains("k=newer"));
        QVERIFY(mendIt());
    }
    NsTools::run("umount", { dir });
}

void TestSettingsWrite::userIsToldWhenChoicesCannotBeSaved()
{
    if (!NsTools::inPrivateNamespaces())
        QSKIP("needs private mount namespaces (root)");
    // The client's own store, on a data directory that turns read-only.
    const QString path = Settings::fullFileName();
    const QString dir = QFileInfo(path).absolutePath();
    settings().setValue("startMinimized", false);
    settings().sync();
    const QByteArray good = fileContent(path);
    QVERIFY(good.contains("startMinimized=false"));

    Model* model = new Model(nullptr);
    auto stopModel = qScopeGuard([model]() {
        model->stop();
        delete model;
    });
    QSignalSpy toasts(model, &Model::qmlShowToast);
    QCOMPARE(NsTools::run("mount", { "--bind", dir, dir }).code, 0);
    auto unmount = qScopeGuard([dir]() { NsTools::run("umount", { dir }); });
    QCOMPARE(NsTools::run("mount", { "-o", "remount,bind,ro", dir }).code, 0);

    model->optionStartMinimized()->setValue(true);
    model->optionMinimizeOnClose()->setValue(false);
    QTRY_COMPARE_WITH_TIMEOUT(toasts.count(), 1, 5000);
    QCOMPARE(toasts.first().at(0).toString(), QStringLiteral("Settings could not be saved"));
    QVERIFY2(toasts.first().at(1).toString().contains(path)
                 && toasts.first().at(1).toString().contains("Read-only file system"),
             qPrintable(toasts.first().at(1).toString()));
    QCOMPARE(fileContent(path), good);

    // Once the directory is writable again, the choices reach the file.
    QCOMPARE(NsTools::run("mount", { "-o", "remount,bind,rw", dir }).code, 0);
    settings().sync();
    QVERIFY(fileContent(path).contains("startMinimized=true"));
    QCOMPARE(toasts.count(), 1);
}

OSTREL_TEST_MAIN(TestSettingsWrite, TestMain::PrivateNamespaces)

#include "tst_settingswrite.moc"
