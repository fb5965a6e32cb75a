#include "testsupport.h"

#include "checknewversion.h"
#include "demoservice.h"
#include "deployment.h"
#include "getservers.h"
#include "model/model.h"
#include "settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QUrl>

// Start and stop against the demo service, which answers on the loopback
// ports the compiled-in deployment names.
class TestModelStart : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    HttpFixture::DemoService m_service;

    static bool deploymentIsLoopback()
    {
        for (const char* key : { "api/primary", "api/bucket", "servers/primary", "web/geo", "web/site" }) {
            const QString host = QUrl(Deployment::value(QString::fromLatin1(key))).host();
            if (host != QLatin1String("localhost") && !host.startsWith(QLatin1String("127.")))
                return false;
        }
        return true;
    }

    static int navigationCount(const QList<QSignalSpy*>& spies)
    {
        int n = 0;
        for (QSignalSpy* spy : spies)
            n += spy->count();
        return n;
    }

private slots:
    void initTestCase()
    {
        if (!deploymentIsLoopback())
            QSKIP("the compiled-in deployment names addresses outside loopback");
        QVERIFY(m_dir.isValid());
        // The autostart link lives under the home directory: a private one.
        QVERIFY(QDir().mkpath(m_dir.filePath("home")));
        qputenv("HOME", m_dir.filePath("home").toLocal8Bit());
        const QString ini = m_dir.filePath("deployment.ini");
        QVERIFY(QFile::copy(":/deployment/deployment.ini", ini));
        QString error;
        QVERIFY2(m_service.start(ini, HttpFixture::DemoService::defaultDemoDir(), &error), qPrintable(error));
    }

    void init()
    {
        TestSupport::resetSettings();
        // No pings: the latency threads are not what these tests look at.
        settings().setValue("disableLatencyTest", true);
    }

    void startPutsOptionsInTheirStartStateAndStopJoinsEverything()
    {
        // An earlier run left the autostart option on and its link behind.
        settings().setValue("LaunchAtStartup", "true");
        settings().setValue("blockIPv6", "true");
        const QString link = Model::autostartLinkPath();
        QVERIFY(QDir().mkpath(QFileInfo(link).absolutePath()));
        QFile::remove(link);
        QVERIFY(QFile::link(Model::autostartLinkTarget(), link));

        LogCapture log;
        Model model(nullptr);
        QVERIFY(model.optionLaunchOnSystemStart()->value());
        QSignalSpy locationsState(&model, &Model::getLocationsStateChanged);
        QVERIFY(model.start());

        QVERIFY(!model.optionLaunchOnSystemStart()->value());
        QVERIFY(!model.optionLaunchOnSystemStart()->enabled());
        QVERIFY(!QFileInfo(link).isSymLink());
        QCOMPARE(settings().valueReadOnly("LaunchAtStartup", QVariant()).toString(), QStringLiteral("false"));
        QVERIFY(!model.optionBlockIPV6()->value());
        QVERIFY(!model.optionBlockIPV6()->enabled());
        QCOMPARE(Settings::blockIPv6(), QStringLiteral("false"));
        QVERIFY(model.optionGatewayRemoval()->enabled());
        QVERIFY(model.isDebugBtnAvailable());
        // The status line is set first; the list may already have cleared it.
        QVERIFY(!locationsState.isEmpty());
        QCOMPARE(locationsState.first().first().toString(), QStringLiteral("updating locations..."));
        QCOMPARE(model.dnsFilterings()->count(), 3);
        QVERIFY(model.selectedDNSFiltering());
        QVERIFY(!log.contains("start load testing"));

        // The latency switch reaches the location service as the same object.
        QCOMPARE(getLocations().optionDisableLatencyTest().data(), model.optionDisableLatencyTest());
        const QPointer<GetLocations> locations = &getLocations();
        QCOMPARE(&getLocations(), locations.data());
        const QPointer<UpdateManager> updates = &getUpdateManager();
        QVERIFY(updates->isRunning() || updates->isFinished());

        // Straight after start: the server-list fetch and the version check
        // are normally still running; stop() waits for them.
        model.stop();
        QVERIFY(model.connectionThread()->isFinished());
        QVERIFY(!model.connection());
        // The news and address fetches started by start() were waited for.
        QVERIFY(!log.contains("left behind"));
        QVERIFY(locations.isNull());
        QVERIFY(updates.isNull());
    }

    void loadTestTicks()
    {
        // Each tick picks a random location; with this option on, a changed
        // location would also connect and ask for the Connect page.
        settings().setValue("ConnectWhenChoosingNewLocation", false);
        LogCapture log;
        Model model(nullptr);
        model.setIsDebugLoadTest(true);
        QVERIFY(model.start());
        QVERIFY(log.contains("start load testing"));

        QSignalSpy skins(&model, &Model::skinTypeChanged);
        QList<QSignalSpy*> pages = {
            new QSignalSpy(&model, &Model::goPreferencesPage), new QSignalSpy(&model, &Model::goConnectPage),
            new QSignalSpy(&model, &Model::goSelectLocation),  new QSignalSpy(&model, &Model::goSelectProtocol),
            new QSignalSpy(&model, &Model::goSelectPort),
        };
        auto deletePages = qScopeGuard([&] { qDeleteAll(pages); });

        // With credentials but no location the load test's connect stops
        // with a toast and does not turn to the Preferences page.
        model.setUsername("load-test-user");
        model.setUserpassword("load-test-password");
        const Constants::SkinType initialSkin = model.skinType();
        for (int tick = 1; tick <= 12; ++tick) {
            QVERIFY(QMetaObject::invokeMethod(&model, "refreshDebugTimerEvent"));
            if (tick == 3)
                QCOMPARE(skins.count(), 0);
            if (tick == 4)
                QCOMPARE(skins.count(), 1);
        }
        QCOMPARE(log.count("^LOAD TEST: refreshTimerEvent$"), 2);
        QCOMPARE(log.count("^LOAD TEST: vpnConnectDisconnect$"), 1);
        QCOMPARE(log.count("^LOAD TEST: change SkinType$"), 3);
        QCOMPARE(log.count("^LOAD TEST: initConnectionsMenu$"), 12);
        QCOMPARE(skins.count(), 3);
        QVERIFY(model.skinType() != initialSkin);
        QCOMPARE(navigationCount(pages), 12);

        model.stop();
        QVERIFY(model.connectionThread()->isFinished());
    }

    // The lists come in any order, some while start() still runs: a list
    // that is not in yet is nothing to complain about.
    void startLogsNoCriticalLineWhileTheListsComeIn()
    {
        static QStringList critical;
        static QtMessageHandler previous = nullptr;
        critical.clear();
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (type == QtCriticalMsg)
                critical << text;
            if (previous)
                previous(type, context, text);
        });
        const auto restore = qScopeGuard([] { qInstallMessageHandler(previous); });

        Model model(nullptr);
        QVERIFY(model.start());
        // "None" and the local proxy are always there; the demo service adds more.
        QTRY_VERIFY_WITH_TIMEOUT(model.locationsReceived() && model.proxyLocations()->count() > 2, 30000);
        QVERIFY(model.selectedRegion());
        QVERIFY(model.selectedDNSFiltering());
        QVERIFY(model.selectedProxyLocation());
        model.stop();
        QVERIFY2(critical.isEmpty(), qPrintable(critical.join(QLatin1Char('\n'))));
    }

    void randomBetweenStaysInRange()
    {
        QSet<int> seen;
        for (int i = 0; i < 2000; ++i) {
            const int r = randomBetween(1, 5);
            QVERIFY(r >= 1 && r <= 5);
            seen.insert(r);
        }
        QCOMPARE(seen.size(), 5);
        QCOMPARE(randomBetween(7, 7), 7);
    }

    void cleanupTestCase() { m_service.stop(); }
};

OSTREL_TEST_MAIN(TestModelStart)
#include "tst_modelstart.moc"
