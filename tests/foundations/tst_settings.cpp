#include "testsupport.h"

#include "deployment.h"
#include "settings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>

namespace {
QString fileText(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QString::fromUtf8(f.readAll());
}
} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void init() { TestSupport::resetSettings(); }

    void missingKeyStoresItsDefault()
    {
        const QString path = m_dir.filePath(QStringLiteral("store.conf"));
        {
            Settings store(path);
            QCOMPARE(store.valueReadOnly(QStringLiteral("skin"), QStringLiteral("1")).toString(), QStringLiteral("1"));
            QVERIFY(!store.valueInited(QStringLiteral("skin")));
            QVERIFY(!store.value(QStringLiteral("nothing"), QVariant()).isValid());
            QVERIFY(store.isEmpty());
            QCOMPARE(store.value(QStringLiteral("skin"), QStringLiteral("1")).toString(), QStringLiteral("1"));
            QVERIFY(store.valueInited(QStringLiteral("skin")));
            // Once stored, another default does not replace it.
            QCOMPARE(store.value(QStringLiteral("skin"), QStringLiteral("3")).toString(), QStringLiteral("1"));
        }
        const QString text = fileText(path);
        QVERIFY2(text.contains(QStringLiteral("skin=1")), qPrintable(text));
        QVERIFY(!text.contains(QStringLiteral("nothing")));
    }

    void typedAccessorsOfTheSharedStore()
    {
        QCOMPARE(Settings::skin(), QStringLiteral("1"));
        QCOMPARE(Settings::lastNotifiedNewsId(), QStringLiteral("0"));
        QCOMPARE(Settings::blockIPv6(), QStringLiteral("false"));
        QCOMPARE(Settings::reconnectOnSleepResumeDelaySec(), QStringLiteral("5"));
        QVERIFY(Settings::fullLog());
        QVERIFY(!Settings::debugPing());
        QCOMPARE(Settings::protocol(), QString());
        for (const char* key : { "skin", "lastNotifiedNewsId", "blockIPv6", "ReconnectOnSleepResumeDelaySec", "FullLog",
                                 "debugping", "Protocol" })
            QVERIFY2(settings().valueInited(QLatin1String(key)), key);

        Settings::set_skin(QStringLiteral("2"));
        Settings::set_favorite(QStringLiteral("a|b"));
        QCOMPARE(Settings::skin(), QStringLiteral("2"));
        QCOMPARE(Settings::favorite(), QStringLiteral("a|b"));
        settings().sync();
        QVERIFY(fileText(Settings::fullFileName()).contains(QStringLiteral("skin=2")));
    }

    void credentialsAreStoredScrambled()
    {
        QVERIFY(Settings::username().isEmpty());
        QVERIFY(!settings().valueInited(QStringLiteral("username")));

        Settings::set_username(QStringLiteral("alice"));
        Settings::set_password(QStringLiteral("p\"a ss\\word"));
        const QString stored = settings().valueReadOnly(QStringLiteral("username"), QVariant()).toString();
        QVERIFY(!stored.isEmpty());
        QVERIFY(!stored.contains(QStringLiteral("alice")));
        QCOMPARE(Settings::username(), QStringLiteral("alice"));
        QCOMPARE(Settings::password(), QStringLiteral("p\"a ss\\word"));

        // The same name again leaves the stored text alone; a new one replaces it.
        Settings::set_username(QStringLiteral("alice"));
        QCOMPARE(settings().valueReadOnly(QStringLiteral("username"), QVariant()).toString(), stored);
        Settings::set_username(QStringLiteral("bob"));
        QVERIFY(settings().valueReadOnly(QStringLiteral("username"), QVariant()).toString() != stored);
        QCOMPARE(Settings::username(), QStringLiteral("bob"));

        settings().sync();
        const QString file = fileText(Settings::fullFileName());
        QVERIFY(!file.contains(QStringLiteral("bob")));
        QVERIFY(!file.contains(QStringLiteral("ss\\word")));
    }

    void damagedScrambledValuesReadEmpty_data()
    {
        QTest::addColumn<QString>("stored");
        const QString good = Settings::encode(QStringLiteral("alice"));
        QTest::newRow("cut short") << good.left(good.size() / 2);
        QByteArray wrongVersion = QByteArray::fromBase64(good.toLatin1());
        wrongVersion[0] = 2;
        QTest::newRow("wrong version") << QString::fromLatin1(wrongVersion.toBase64());
        QTest::newRow("garbage") << QStringLiteral("%%%not even base64");
        QTest::newRow("empty") << QString();
    }

    void damagedScrambledValuesReadEmpty()
    {
        QFETCH(QString, stored);
        settings().setValue(QStringLiteral("password"), stored);
        QVERIFY(Settings::password().isEmpty());
    }

    void garbageLinesInTheFile()
    {
        const QString path = m_dir.filePath(QStringLiteral("garbage.conf"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("\x01\x02\xff\xfe binary\n=novalue\n[General]\nskin=3\nno equals sign\n" + QByteArray(5000, '\x7f')
                + "\n[unterminated\nFullLog=false\n");
        f.close();
        Settings store(path);
        QCOMPARE(store.value(QStringLiteral("skin"), QStringLiteral("1")).toString(), QStringLiteral("3"));
        QVERIFY(store.simpleCryptedValue(QStringLiteral("password")).isEmpty());
        QCOMPARE(Settings::decode(QStringLiteral("garbage")), QString());
    }

    void copyValuesKeepsScrambledTextsAndHidesCredentials()
    {
        Settings source(m_dir.filePath(QStringLiteral("old.conf")));
        source.setValue(QStringLiteral("skin"), QStringLiteral("2"));
        source.setSimpleCryptedValue(QStringLiteral("password"), QStringLiteral("topsecret"));
        const QString scrambled = source.valueReadOnly(QStringLiteral("password"), QVariant()).toString();
        Settings target(m_dir.filePath(QStringLiteral("new.conf")));
        LogCapture capture;
        target.copyValuesFrom(source);
        const QStringList lines = LogCapture::lines();
        QVERIFY(lines.contains(QStringLiteral("skin / 2")));
        QVERIFY(lines.contains(QStringLiteral("password / ***")));
        QCOMPARE(target.valueReadOnly(QStringLiteral("password"), QVariant()).toString(), scrambled);
        QCOMPARE(target.simpleCryptedValue(QStringLiteral("password")), QStringLiteral("topsecret"));
        QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("new.conf"))));
    }

    void findSettingInDir()
    {
        QTemporaryDir dir;
        const auto touch = [&](const QString& name) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[General]\nuseSoftwareOpenGL=true\n");
        };
        touch(QStringLiteral("Portable.CONF.conf.txt"));
        touch(QStringLiteral("PORTABLE.conf"));
        QDir(dir.path()).mkdir(QStringLiteral("sub.conf"));
        QVERIFY(::findSettingInDir(dir.filePath(QStringLiteral("ostrel"))).isNull());

        touch(QStringLiteral("side.conf"));
        const QSharedPointer<Settings> found = ::findSettingInDir(dir.filePath(QStringLiteral("ostrel")));
        QVERIFY(!found.isNull());
        QCOMPARE(QFileInfo(found->fileName()).fileName(), QStringLiteral("side.conf"));
        QVERIFY(found->valueReadOnly(QStringLiteral("useSoftwareOpenGL"), false).toBool());
    }

    void openSuseNodeNames_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<bool>("suse");
        QTest::newRow("index 1") << "h.suse-box" << false;
        QTest::newRow("index 4") << "host.suse" << false;
        QTest::newRow("index 5") << "host1.suse" << true;
        QTest::newRow("later") << "my-workstation.suse.lan" << true;
        QTest::newRow("absent") << "debian" << false;
    }

    void openSuseNodeNames()
    {
        QFETCH(QString, node);
        QFETCH(bool, suse);
        QCOMPARE(Settings::isOpensuseNodeName(node), suse);
    }

    void addressLists()
    {
        const QStringList regular = getServersUrls(false);
        QCOMPARE(regular.size(), 2);
        for (const QString& url : regular)
            QVERIFY2(url.endsWith(QStringLiteral("/locations-desktop.json")), qPrintable(url));
        QVERIFY(getServersUrls(true).first().endsWith(QStringLiteral("/ike-winmac.json")));
        QVERIFY(getCheckVersionUrls().last().endsWith(QStringLiteral("/versionmac.json")));
        QVERIFY(getNewsUrls().first().endsWith(QStringLiteral("/latest-news.json")));
        QVERIFY(getV2RayProxyListUrls().first().endsWith(QStringLiteral("/v2rayconf.json")));
        QCOMPARE(getV2RayBinaryUrls().size(), 1);
        QVERIFY(getV2RayBinaryUrls().first().endsWith(QStringLiteral("/mirror/v2ray-linux.zip")));
        QVERIFY(updateServiceUrl(true).endsWith(QStringLiteral("/mirror/mac-update.pkg")));
        QCOMPARE(updateServiceUrl(true), updateServiceUrl(false));
        QVERIFY(apiGeoUrlGet().endsWith(QStringLiteral("/geo/")));
        const QString primary = regular.first();

        settings().setValue(QStringLiteral("useAlternativeAPIServer"), true);
        const QStringList alternative = getServersUrls(false);
        QCOMPARE(alternative.size(), 3);
        QVERIFY(alternative.first().startsWith(QStringLiteral("http://")));
        QVERIFY(!alternative.contains(primary));
        QVERIFY(
            updateServiceUrl(false).startsWith(Deployment::value(QStringLiteral("servers/alternative")) + "/mirror/"));
        QVERIFY(Deployment::value(QStringLiteral("servers/alternative"))
                != Deployment::value(QStringLiteral("servers/primary")));
        for (const QString& url : alternative)
            QVERIFY2(QUrl(url).isValid() && !QUrl(url).host().isEmpty(), qPrintable(url));
    }

    void sharedStoreFromManyThreads()
    {
        constexpr int threads = 6;
        constexpr int keys = 150;
        QList<QThread*> workers;
        for (int t = 0; t < threads; ++t) {
            workers << QThread::create([t] {
                for (int k = 0; k < keys; ++k) {
                    const QString key = QStringLiteral("t%1/k%2").arg(t).arg(k);
                    settings().value(key, k);
                    settings().value(QStringLiteral("shared"), QStringLiteral("default"));
                    Settings::set_username(QStringLiteral("user%1").arg(t));
                    settings().allKeys();
                }
            });
        }
        for (QThread* w : workers)
            w->start();
        for (QThread* w : workers) {
            QVERIFY(w->wait(60000));
            delete w;
        }
        for (int t = 0; t < threads; ++t)
            for (int k = 0; k < keys; k += 37)
                QCOMPARE(settings().valueReadOnly(QStringLiteral("t%1/k%2").arg(t).arg(k), -1).toInt(), k);
        QVERIFY(Settings::username().startsWith(QStringLiteral("user")));
        QCOMPARE(settings().valueReadOnly(QStringLiteral("shared"), QVariant()).toString(), QStringLiteral("default"));
    }

    void lockFileRemoval()
    {
        const QString lock = Settings::fullFileName() + QStringLiteral(".lock");
        QFile f(lock);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        Settings::removeLockFile();
        QVERIFY(!QFile::exists(lock));
        Settings::removeLockFile(); // nothing to do, nothing logged
    }

    void logAllValuesHidesCredentials()
    {
        Settings::set_password(QStringLiteral("x"));
        settings().setValue(QStringLiteral("skin"), QStringLiteral("1"));
        LogCapture capture;
        Settings::logAllValues();
        const QStringList lines = LogCapture::lines();
        QCOMPARE(lines.first(), QStringLiteral("=============== config =================="));
        QVERIFY(lines.contains(QStringLiteral("skin: 1")));
        QCOMPARE(lines.last(), QStringLiteral("================================="));
        for (const QString& line : lines)
            QVERIFY2(!line.startsWith(QStringLiteral("password")) && !line.startsWith(QStringLiteral("username")),
                     qPrintable(line));
    }
};

OSTREL_TEST_MAIN(TestSettings, TestMain::Core)
#include "tst_settings.moc"
