#include "testsupport.h"

#include "settings.h"
#include "settingsoption.h"

class TestSettingOption : public QObject
{
    Q_OBJECT

private slots:
    void init() { TestSupport::resetSettings(); }

    void missingKeyFollowsDefaultUntilSet()
    {
        SettingOption option(true, QStringLiteral("opt"), false, true, true, QStringLiteral("Caption"));
        QVERIFY(option.value());
        QVERIFY(!option.haveStoredValue());
        QCOMPARE(settings().valueReadOnly(QStringLiteral("opt"), QVariant()), QVariant(true));

        QSignalSpy defaults(&option, &SettingOption::defaultValueChanged);
        QSignalSpy values(&option, &SettingOption::valueChanged);
        option.setDefaultValue(false);
        QVERIFY(!option.value());
        QCOMPARE(defaults.count(), 1);
        QCOMPARE(defaults.first().first().toBool(), false);
        QCOMPARE(values.count(), 1);
        QCOMPARE(values.first().first().toBool(), false);

        // The field was read as true: setting true is no change, the option
        // keeps following its default.
        option.setValue(true);
        QVERIFY(!option.value());
        QVERIFY(!option.haveStoredValue());

        QSignalSpy stored(&option, &SettingOption::haveStoredValueChanged);
        option.setValue(false);
        option.setValue(true);
        QVERIFY(option.value());
        QCOMPARE(stored.count(), 1);
        option.setDefaultValue(true);
        option.setDefaultValue(false);
        QVERIFY(option.value());
        QCOMPARE(settings().valueReadOnly(QStringLiteral("opt"), QVariant()), QVariant(true));
    }

    void existingKeyIsRead()
    {
        settings().setValue(QStringLiteral("opt"), false);
        SettingOption option(true, QStringLiteral("opt"), false, true, true, QString());
        QVERIFY(option.haveStoredValue());
        QVERIFY(!option.value());
    }

    void receiversSeeTheNewValue()
    {
        // An option that never stored a value follows its default; the first
        // change must already read back inside the change signal.
        SettingOption option(false, QStringLiteral("fresh"), true, true, true, QString());
        settings().remove(QStringLiteral("fresh"));
        bool seen = false;
        connect(&option, &SettingOption::valueChanged, this, [&] { seen = option.value(); });
        option.setValue(true);
        QVERIFY(seen);
        QVERIFY(option.haveStoredValue());
    }

    void vetoLeavesEverythingUnchanged()
    {
        SettingOption option(false, QStringLiteral("veto"), false, true, true, QString());
        settings().remove(QStringLiteral("veto"));
        int asked = 0;
        connect(&option, &SettingOption::beforValueChanged, this, [&](bool oldValue, bool newValue, bool& cancel) {
            ++asked;
            QCOMPARE(oldValue, false);
            QCOMPARE(newValue, true);
            cancel = true;
        });
        QSignalSpy values(&option, &SettingOption::valueChanged);
        QSignalSpy stored(&option, &SettingOption::haveStoredValueChanged);
        option.setValue(true);
        QCOMPARE(asked, 1);
        QVERIFY(!option.value());
        QCOMPARE(values.count(), 0);
        QCOMPARE(stored.count(), 0);
        QVERIFY(!option.haveStoredValue());
        QVERIFY(!settings().valueInited(QStringLiteral("veto")));
    }

    void storedAsText_data()
    {
        QTest::addColumn<bool>("saveAsString");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("expected");
        QTest::newRow("text true") << true << "true" << true;
        QTest::newRow("text True") << true << "True" << false;
        QTest::newRow("text 1") << true << "1" << false;
        QTest::newRow("bool TRUE") << false << "TRUE" << true;
        QTest::newRow("bool yes") << false << "yes" << true;
        QTest::newRow("bool 0") << false << "0" << false;
        QTest::newRow("bool False") << false << "False" << false;
        QTest::newRow("bool empty") << false << "" << false;
    }

    void storedAsText()
    {
        QFETCH(bool, saveAsString);
        QFETCH(QString, stored);
        QFETCH(bool, expected);
        settings().setValue(QStringLiteral("k"), stored);
        SettingOption option(!expected, QStringLiteral("k"), saveAsString, true, true, QString());
        QCOMPARE(option.value(), expected);
    }

    void textOptionWritesText()
    {
        SettingOption option(false, QStringLiteral("txt"), true, true, true, QString());
        QCOMPARE(settings().valueReadOnly(QStringLiteral("txt"), QVariant()).toString(), QStringLiteral("false"));
        option.setValue(true);
        QCOMPARE(settings().valueReadOnly(QStringLiteral("txt"), QVariant()).toString(), QStringLiteral("true"));
        settings().sync();
        Settings reread(Settings::fullFileName());
        QCOMPARE(reread.valueReadOnly(QStringLiteral("txt"), QVariant()).userType(), int(QMetaType::QString));
    }

    void freeStandingOptionNeverTouchesTheStore()
    {
        SettingOption option(true, false);
        QVERIFY(option.value());
        QSignalSpy values(&option, &SettingOption::valueChanged);
        option.setValue(false);
        QVERIFY(!option.value());
        option.setDefaultValue(true);
        QVERIFY(!option.value());
        QCOMPARE(values.count(), 1);
        QVERIFY(!option.haveStoredValue());
        QVERIFY(settings().isEmpty());

        SettingOption real(false, true);
        real.setValue(true);
        QVERIFY(real.value());
        QVERIFY(settings().isEmpty());
    }

    void updateCopiesThroughSetters()
    {
        SettingOption target(false, QStringLiteral("a"), false, true, true, QStringLiteral("old"));
        SettingOption source(true, QStringLiteral("b"), false, true, true, QString());
        source.setVisible(false);
        source.setCaption(QStringLiteral("new"));
        source.setDescription(QStringLiteral("text"));
        QSignalSpy captions(&target, &SettingOption::captionChanged);
        QSignalSpy visible(&target, &SettingOption::visibleChanged);
        target.update(source);
        QVERIFY(target.value());
        QCOMPARE(settings().valueReadOnly(QStringLiteral("a"), QVariant()), QVariant(true));
        QCOMPARE(target.haveStoredValue(), source.haveStoredValue());
        QCOMPARE(target.defaultValue(), true);
        QVERIFY(!target.visible());
        QCOMPARE(target.caption(), QStringLiteral("new"));
        QCOMPARE(target.description(), QStringLiteral("text"));
        QCOMPARE(captions.count(), 1);
        QCOMPARE(visible.count(), 1);
        target.update(source);
        QCOMPARE(captions.count(), 1);
    }
};

OSTREL_TEST_MAIN(TestSettingOption, TestMain::Core)
#include "tst_settingsoption.moc"
