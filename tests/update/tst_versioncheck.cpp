#include "checknewversion.h"
#include "testsupport.h"

using Version = UpdateManager::Version;
Q_DECLARE_METATYPE(UpdateManager::Version)

class TestVersionCheck : public QObject
{
    Q_OBJECT

private slots:
    void detectVersion_data();
    void detectVersion();
    void versionOrder_data();
    void versionOrder();
};

void TestVersionCheck::detectVersion_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QString>("version");
    QTest::newRow("plain") << "2.3.0" << true << "2.3.0";
    QTest::newRow("middle not a number") << "1.x.3" << true << "1.0.3";
    QTest::newRow("last not a number") << "1.2.x" << false << "9.9.9";
    QTest::newRow("major only") << "3" << true << "3.0.0";
    QTest::newRow("two parts") << "4.5" << true << "4.5.0";
    QTest::newRow("fourth part ignored") << "2.1.1.9" << true << "2.1.1";
    QTest::newRow("empty third") << "2.1." << false << "9.9.9";
    QTest::newRow("empty") << "" << false << "9.9.9";
    QTest::newRow("word") << "abc" << false << "9.9.9";
}

void TestVersionCheck::detectVersion()
{
    QFETCH(QString, text);
    QFETCH(bool, parsed);
    QFETCH(QString, version);
    Version ver(9, 9, 9);
    QCOMPARE(UpdateManager::detectVersion(text, ver), parsed);
    QCOMPARE(ver.toStr(), version);
}

void TestVersionCheck::versionOrder_data()
{
    QTest::addColumn<Version>("a");
    QTest::addColumn<Version>("b");
    QTest::addColumn<bool>("less");
    QTest::newRow("third counts as a number") << Version(2, 1, 9) << Version(2, 1, 10) << true;
    QTest::newRow("equal") << Version(2, 1, 1) << Version(2, 1, 1) << false;
    QTest::newRow("minor before third") << Version(2, 2, 0) << Version(2, 1, 9) << false;
    QTest::newRow("major before minor") << Version(1, 9, 9) << Version(2, 0, 0) << true;
}

void TestVersionCheck::versionOrder()
{
    QFETCH(Version, a);
    QFETCH(Version, b);
    QFETCH(bool, less);
    QCOMPARE(a < b, less);
    if (!less && !(a == b))
        QVERIFY(b < a);
}

OSTREL_TEST_MAIN_CORE(TestVersionCheck)
#include "tst_versioncheck.moc"
