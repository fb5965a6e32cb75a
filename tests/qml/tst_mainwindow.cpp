// The application window with a real Model: it comes up without a single
// QML warning, its pages switch, and what it shows follows the model.

#include "../appmodel/serverlists.h"
#include "model/model.h"
#include "qml/qmlregistration/componentcachemanager.h"
#include "resources.h"
#include "testsupport.h"

#include <QDir>
#include <QPointer>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <functional>

namespace {

QStringList g_qmlWarnings;
QtMessageHandler g_previousHandler = nullptr;

// Every warning of the QML engine, of a QML file or of script code.
void collectQmlWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QString category = QString::fromLatin1(context.category ? context.category : "");
    const bool fromQml = category == QLatin1String("qml") || category == QLatin1String("js")
        || category.startsWith(QLatin1String("qt.qml")) || category.startsWith(QLatin1String("qt.quick"))
        || message.contains(QLatin1String(".qml:"));
    if (type != QtDebugMsg && type != QtInfoMsg && fromQml)
        g_qmlWarnings << message;
    if (g_previousHandler && (type != QtDebugMsg || qEnvironmentVariableIsSet("OSTREL_TEST_VERBOSE")))
        g_previousHandler(type, context, message);
}

void findItems(QQuickItem* root, const QString& objectName, QList<QQuickItem*>& found)
{
    const QList<QQuickItem*> children = root->childItems();
    for (QQuickItem* child : children) {
        if (child->objectName() == objectName)
            found << child;
        findItems(child, objectName, found);
    }
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    Model* m_model = nullptr;
    QQmlApplicationEngine* m_engine = nullptr;
    ComponentCacheManager* m_cache = nullptr;
    QQuickWindow* m_window = nullptr;

    QQuickItem* item(const QString& objectName) const
    {
        QList<QQuickItem*> found;
        findItems(m_window->contentItem(), objectName, found);
        // Pages on their way out may still be in the tree: the visible one.
        for (QQuickItem* candidate : found) {
            if (candidate->isVisible())
                return candidate;
        }
        return found.value(0);
    }

    QString text(const QString& objectName) const
    {
        QQuickItem* found = item(objectName);
        return found ? found->property("text").toString() : QStringLiteral("<no %1>").arg(objectName);
    }

    QString currentPageName(const QString& stackName = QStringLiteral("StandartSkinStackView")) const
    {
        QQuickItem* stack = item(stackName);
        auto* page = stack ? stack->property("currentItem").value<QQuickItem*>() : nullptr;
        return page ? page->objectName() : QString();
    }

    void click(const QString& objectName)
    {
        QQuickItem* target = item(objectName);
        QVERIFY2(target, qPrintable(objectName));
        const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
        QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    }

    // Set OSTREL_WINDOW_SCREENSHOTS to a directory to keep a picture of
    // every state the test visits.
    void screenshot(const QString& name)
    {
        const QString dir = qEnvironmentVariable("OSTREL_WINDOW_SCREENSHOTS");
        if (dir.isEmpty())
            return;
        QTest::qWait(400); // let transitions end
        QDir().mkpath(dir);
        m_window->grabWindow().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
    }

    void expectNoQmlWarnings()
    {
        const QStringList warnings = g_qmlWarnings;
        g_qmlWarnings.clear();
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    }

private slots:
    void initTestCase()
    {
        initResources();
        g_previousHandler = qInstallMessageHandler(collectQmlWarnings);
        m_model = new Model(nullptr);
        m_engine = new QQmlApplicationEngine;
        m_model->setQmlApplicationEngine(m_engine);
        m_cache = new ComponentCacheManager(m_engine);
        QQmlEngine::setObjectOwnership(m_model, QQmlEngine::CppOwnership);
        m_engine->rootContext()->setContextProperty(QStringLiteral("viewmodel"), m_model);
        m_engine->rootContext()->setContextProperty(QStringLiteral("componentCache"), m_cache);
        m_engine->load(QUrl(QStringLiteral("qrc:/qml/main.qml")));
        QCOMPARE(m_engine->rootObjects().size(), 1);
        m_window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().first());
        QVERIFY(m_window);
        QCOMPARE(m_window->objectName(), QStringLiteral("mainWindow"));
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        QTRY_VERIFY_WITH_TIMEOUT(item(QStringLiteral("standartSkin")), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(currentPageName(), QStringLiteral("StandartSkinPageConnect"), 5000);
        QVERIFY(m_window->width() > 200 && m_window->height() > 300);
        screenshot(QStringLiteral("connect"));
        expectNoQmlWarnings();
    }

    void cleanupTestCase()
    {
        delete m_engine;
        delete m_cache;
        if (m_model)
            m_model->stop();
        delete m_model;
        qInstallMessageHandler(g_previousHandler);
        QVERIFY2(g_qmlWarnings.isEmpty(), qPrintable(g_qmlWarnings.join(QLatin1Char('\n'))));
    }

    void footerSwitchesPagesAndDropsTheOldOnes()
    {
        QPointer<QQuickItem> connectPage = item(QStringLiteral("StandartSkinPageConnect"));
        QVERIFY(connectPage);
        const QList<QPair<QString, QString>> pages = {
            { "FooterPreferences", "StandartSkinPagePreferences" },
            { "FooterAdvanced", "StandartSkinPageAdvanced" },
            { "FooterNews", "StandartSkinPageNews" },
            { "FooterHelp", "StandartSkinPageHelp" },
            { "FooterConnect", "StandartSkinPageConnect" },
        };
        for (const auto& page : pages) {
            click(page.first);
            QTRY_COMPARE_WITH_TIMEOUT(currentPageName(), page.second, 5000);
            QTRY_VERIFY_WITH_TIMEOUT(item(page.first)->property("isSelected").toBool(), 5000);
            screenshot(page.second);
        }
        // The first Connect page was destroyed when it left the stack.
        QTRY_VERIFY_WITH_TIMEOUT(connectPage.isNull(), 5000);
        expectNoQmlWarnings();
    }

    void connectionStateText_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("stateText");
        QTest::addColumn<bool>("elapsedShown");
        QTest::newRow("connecting") << int(Constants::ConnectState_Connecting) << "CONNECTING..." << false;
        QTest::newRow("connected") << int(Constants::ConnectState_Connected) << "" << true;
        QTest::newRow("disconnecting") << int(Constants::ConnectState_Disconnecting) << "DISCONNECTING..." << false;
        QTest::newRow("disconnected") << int(Constants::ConnectState_Disconnected) << "" << false;
    }

    void connectionStateText()
    {
        QFETCH(int, state);
        QFETCH(QString, stateText);
        QFETCH(bool, elapsedShown);
        m_model->setConnectedTime(QDateTime::currentDateTime().addSecs(-65));
        m_model->setVisualConnectionState(Constants::ConnectState(state));
        QTRY_COMPARE_WITH_TIMEOUT(text(QStringLiteral("ConnectStateText")), stateText, 5000);
        QCOMPARE(item(QStringLiteral("ElapsedTimeText"))->isVisible(), elapsedShown);
        QCOMPARE(item(QStringLiteral("ClickToCancelText"))->isVisible(),
                 state == int(Constants::ConnectState_Connecting));
        if (elapsedShown) {
            // The page shows the model's text for the connected time, once a second.
            const QStringList expected = { m_model->getElapsedTimeString(m_model->connectedTime()),
                                           m_model->getElapsedTimeString(m_model->connectedTime().addSecs(-1)) };
            QTRY_VERIFY_WITH_TIMEOUT(expected.contains(text(QStringLiteral("ElapsedTimeText"))), 5000);
        }
        screenshot(QStringLiteral("state-") + QTest::currentDataTag());
        expectNoQmlWarnings();
    }

    void selectedLocationFollowsTheModel()
    {
        Location::Ptr location(new Location(QStringLiteral("de")));
        location->setCode(QStringLiteral("de"));
        location->setName(QStringLiteral("Frankfurt"));
        m_model->setSelectedLocation(location);
        QTRY_COMPARE_WITH_TIMEOUT(text(QStringLiteral("LocationCombo")), QStringLiteral("Frankfurt"), 5000);
        QCOMPARE(item(QStringLiteral("LocationCombo"))->property("firstFlagSource").toString(),
                 QStringLiteral("qrc:///Images/flags/de.png"));
        location->setName(QStringLiteral("Frankfurt am Main"));
        QTRY_COMPARE_WITH_TIMEOUT(text(QStringLiteral("LocationCombo")), QStringLiteral("Frankfurt am Main"), 5000);
        m_model->setExternalIP(QStringLiteral("192.0.2.7"));
        QTRY_COMPARE_WITH_TIMEOUT(item(QStringLiteral("IpAddressPanel"))->property("value").toString(),
                                  QStringLiteral("192.0.2.7"), 5000);
        screenshot(QStringLiteral("location"));

        // Locations from a server list carry no name: their caption is shown.
        Location::Ptr listed(new Location(QString()));
        listed->setCity(QStringLiteral("Zurich"));
        listed->setCountry(QStringLiteral("Switzerland"));
        listed->setCaption(QStringLiteral("Switzerland - Zurich"));
        m_model->setSelectedLocation(listed);
        QTRY_COMPARE_WITH_TIMEOUT(text(QStringLiteral("LocationCombo")), QStringLiteral("Switzerland - Zurich"), 5000);

        m_model->setSelectedLocation(Location::Ptr());
        QTRY_COMPARE_WITH_TIMEOUT(text(QStringLiteral("LocationCombo")), QStringLiteral("Select location"), 5000);
        expectNoQmlWarnings();
    }

    void newsBadgeCountsUnreadNews()
    {
        QQuickItem* badge = item(QStringLiteral("FooterNewsBadge"));
        QVERIFY(badge);
        QVERIFY(!badge->isVisible());
        m_model->setNewsAttentionCounter(3);
        QTRY_VERIFY_WITH_TIMEOUT(badge->isVisible(), 5000);
        m_model->setNewsAttentionCounter(0);
        QTRY_VERIFY_WITH_TIMEOUT(!badge->isVisible(), 5000);
        expectNoQmlWarnings();
    }

    void toastShowsTheModelsMessage()
    {
        m_model->showToast(QStringLiteral("VPN disconnected"), QString());
        QTRY_VERIFY_WITH_TIMEOUT(item(QStringLiteral("MessageBox"))->isVisible(), 5000);
        QCOMPARE(text(QStringLiteral("MessageBox_text")), QStringLiteral("VPN disconnected"));
        screenshot(QStringLiteral("toast"));
        click(QStringLiteral("MessageBox"));
        QTRY_VERIFY_WITH_TIMEOUT(!item(QStringLiteral("MessageBox"))->isVisible(), 5000);
        expectNoQmlWarnings();
    }

    // The model's navigation signals open the selectors; the protocol list
    // shows the catalogue with the model's choice marked.
    void protocolSelectorMarksTheSelection()
    {
        const Protocol::Ptr second = m_model->protocols()->elem(1);
        QVERIFY(second);
        m_model->setSelectedProtocol(second);
        emit m_model->goSelectProtocol();
        QQuickItem* selector = item(QStringLiteral("ProtocolSelector"));
        QTRY_VERIFY_WITH_TIMEOUT(selector->isVisible(), 5000);
        QList<QQuickItem*> captions;
        QTRY_COMPARE_WITH_TIMEOUT(
            (captions.clear(), findItems(selector, QStringLiteral("SelectorItemCaption"), captions), captions.size()),
            m_model->protocols()->count(), 5000);
        QStringList selected;
        for (QQuickItem* caption : captions) {
            if (caption->property("demiBold").toBool())
                selected << caption->property("text").toString();
        }
        QCOMPARE(selected, QStringList({ second->name() }));
        screenshot(QStringLiteral("protocol-selector"));
        QMetaObject::invokeMethod(selector, "doLocalBack");
        QTRY_VERIFY_WITH_TIMEOUT(!selector->isVisible(), 5000);
        expectNoQmlWarnings();
    }

    // The location chooser lists the model's valid locations under their
    // regions, with flags, latency and the model's choice marked.
    void locationSelectorListsValidLocations()
    {
        const Region::Ptr europe(new Region(QStringLiteral("eu")));
        europe->setCaption(QStringLiteral("Europe"));
        const Region::Ptr america(new Region(QStringLiteral("am")));
        america->setCaption(QStringLiteral("America"));
        QList<Location::Ptr> locations;
        const QList<QStringList> rows = { { "de", "Frankfurt", "Germany" },
                                          { "nl", "Amsterdam", "Netherlands" },
                                          { "deat", "Vienna via Frankfurt", "Austria" },
                                          { "us", "New York", "USA" } };
        for (const QStringList& row : rows) {
            Location::Ptr location(new Location(row[0]));
            location->setCode(row[0]);
            location->setName(row[1]);
            location->setCountry(row[2]);
            location->setRegion(row[0] == QLatin1String("us") ? america : europe);
            locations << location;
        }
        locations[0]->setPingMs(23);
        m_model->regions()->setList({ europe, america });
        m_model->validLocations()->setList(locations);
        m_model->setSelectedLocation(locations[2]);

        emit m_model->goSelectLocation();
        QQuickItem* selector = item(QStringLiteral("LocationSelector"));
        QTRY_VERIFY_WITH_TIMEOUT(selector->isVisible(), 5000);
        QList<QQuickItem*> captions;
        QTRY_COMPARE_WITH_TIMEOUT(
            (captions.clear(), findItems(selector, QStringLiteral("SelectorItemCaption"), captions), captions.size()),
            locations.size(), 5000);
        QStringList selected;
        for (QQuickItem* caption : captions) {
            if (caption->property("demiBold").toBool())
                selected << caption->property("text").toString();
        }
        QCOMPARE(selected, QStringList({ "Vienna via Frankfurt" }));
        screenshot(QStringLiteral("location-selector"));
        QMetaObject::invokeMethod(selector, "doLocalBack");
        QTRY_VERIFY_WITH_TIMEOUT(!selector->isVisible(), 5000);
        m_model->setSelectedLocation(Location::Ptr());
        m_model->validLocations()->setList({});
        m_model->regions()->setList({});
        expectNoQmlWarnings();
    }

    // A list update picks the chosen location's region again: the marked
    // region tab and the rows shown stay the same region.
    void locationSelectorTabAgreesWithTheRowsAfterAnUpdate()
    {
        ServerLists::apply(*m_model);
        QVERIFY(m_model->selectedLocation() && m_model->selectedRegion());
        emit m_model->goSelectLocation();
        QQuickItem* selector = item(QStringLiteral("LocationSelector"));
        QTRY_VERIFY_WITH_TIMEOUT(selector->isVisible(), 5000);
        // The tabs are the visual tree's items with a chip index.
        std::function<void(QQuickItem*, QStringList&)> collectMarked = [&collectMarked](QQuickItem* at,
                                                                                        QStringList& marked) {
            if (at->property("chipIndex").isValid() && at->property("selected").toBool())
                marked << at->property("caption").toString();
            for (QQuickItem* child : at->childItems())
                collectMarked(child, marked);
        };
        auto markedTabs = [&collectMarked, selector]() {
            QStringList marked;
            collectMarked(selector, marked);
            return marked;
        };
        auto shownRows = [selector]() {
            QList<QQuickItem*> captions;
            findItems(selector, QStringLiteral("SelectorItemCaption"), captions);
            return captions.size();
        };

        QMetaObject::invokeMethod(selector, "selectCategoryByIndex", Q_ARG(QVariant, -1));
        QVERIFY(!m_model->selectedRegion());
        QCOMPARE(markedTabs(), QStringList({ "All regions" }));
        const int allRows = m_model->validLocations()->count();
        QTRY_COMPARE_WITH_TIMEOUT(shownRows(), allRows, 5000);

        ServerLists::apply(*m_model);
        QVERIFY(m_model->selectedRegion());
        QCOMPARE(markedTabs(), QStringList({ m_model->selectedRegion()->caption() }));
        QVERIFY(m_model->validLocations()->count() < allRows);
        QTRY_COMPARE_WITH_TIMEOUT(shownRows(), m_model->validLocations()->count(), 5000);

        QMetaObject::invokeMethod(selector, "doLocalBack");
        QTRY_VERIFY_WITH_TIMEOUT(!selector->isVisible(), 5000);
        expectNoQmlWarnings();
    }

    // The model's requests open the log window and the help window; a
    // closed log window is created afresh next time.
    void logAndHelpWindowsOpen()
    {
        auto windowTitled = [](const QString& title) -> QWindow* {
            const QWindowList windows = QGuiApplication::topLevelWindows();
            for (QWindow* window : windows) {
                if (window->title() == title && window->isVisible())
                    return window;
            }
            return nullptr;
        };
        emit m_model->qmlShowLog();
        QTRY_VERIFY_WITH_TIMEOUT(windowTitled(QStringLiteral("Connection log")), 5000);
        QPointer<QWindow> logWindow = windowTitled(QStringLiteral("Connection log"));
        QCOMPARE(logWindow->transientParent(), m_window);
        logWindow->close();
        QTRY_VERIFY_WITH_TIMEOUT(logWindow.isNull(), 5000);
        emit m_model->qmlShowLog();
        QTRY_VERIFY_WITH_TIMEOUT(windowTitled(QStringLiteral("Connection log")), 5000);
        windowTitled(QStringLiteral("Connection log"))->close();

        emit m_model->showHelp();
        QTRY_VERIFY_WITH_TIMEOUT(windowTitled(QStringLiteral("Help")), 5000);
        QPointer<QWindow> helpWindow = windowTitled(QStringLiteral("Help"));
        helpWindow->close();
        QTRY_VERIFY_WITH_TIMEOUT(helpWindow.isNull(), 5000);
        expectNoQmlWarnings();
    }

    void debugPageOpensAfterLogoClicksWhenAllowed()
    {
        for (int i = 0; i < 5; ++i)
            click(QStringLiteral("StandartSkinLogo"));
        QTest::qWait(100);
        QCOMPARE(currentPageName(), QStringLiteral("StandartSkinPageConnect"));
        m_model->setIsDebugBtnAvailable(true);
        for (int i = 0; i < 5; ++i)
            click(QStringLiteral("StandartSkinLogo"));
        QTRY_COMPARE_WITH_TIMEOUT(currentPageName(), QStringLiteral("StandartSkinPageDebug"), 5000);
        click(QStringLiteral("FooterConnect"));
        QTRY_COMPARE_WITH_TIMEOUT(currentPageName(), QStringLiteral("StandartSkinPageConnect"), 5000);
        expectNoQmlWarnings();
    }

    // The Debug page in the light palette: its title and command input in
    // the palette's dark text, not white on white.
    void debugPageReadableInTheLightPalette()
    {
        m_model->setSkinType(Constants::SkinType_standart_light);
        QTRY_COMPARE_WITH_TIMEOUT(currentPageName(), QStringLiteral("StandartSkinPageConnect"), 5000);
        m_model->setIsDebugBtnAvailable(true);
        QTRY_VERIFY_WITH_TIMEOUT(item(QStringLiteral("StandartSkinLogo")), 5000);
        for (int i = 0; i < 5; ++i)
            click(QStringLiteral("StandartSkinLogo"));
        QTRY_COMPARE_WITH_TIMEOUT(currentPageName(), QStringLiteral("StandartSkinPageDebug"), 5000);
        const int background = m_window->color().lightness();
        const int title = item(QStringLiteral("DebugPageTitle"))->property("color").value<QColor>().lightness();
        const int input = item(QStringLiteral("DebugCommandInput"))->property("textColor").value<QColor>().lightness();
        QVERIFY2(background - title > 100 && background - input > 100,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(background).arg(title).arg(input)));
        screenshot(QStringLiteral("light-debug"));
        m_model->setSkinType(Constants::SkinType_standart);
        QTRY_COMPARE_WITH_TIMEOUT(currentPageName(), QStringLiteral("StandartSkinPageConnect"), 5000);
        expectNoQmlWarnings();
    }

    // The user's choice of theme is the same skin loaded again in the other
    // palette; it opens on the Preferences page, where the choice is made.
    void lightThemeChoiceReloadsTheSkin()
    {
        click(QStringLiteral("FooterPreferences"));
        QTRY_COMPARE_WITH_TIMEOUT(currentPageName(), QStringLiteral("StandartSkinPagePreferences"), 5000);
        // Clicked where it rests, once the page has slid in.
        QTRY_VERIFY_WITH_TIMEOUT(!item(QStringLiteral("StandartSkinStackView"))->property("busy").toBool(), 5000);
        QPointer<QQuickItem> darkSkin = item(QStringLiteral("standartSkin"));
        const QColor darkBackground = m_window->color();
        click(QStringLiteral("Option_Light Theme_switch"));
        QTRY_VERIFY_WITH_TIMEOUT(darkSkin.isNull(), 5000);
        QCOMPARE(m_model->skinType(), Constants::SkinType_standart_light);
        QTRY_VERIFY_WITH_TIMEOUT(item(QStringLiteral("standartSkin")), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(currentPageName(), QStringLiteral("StandartSkinPagePreferences"), 5000);
        QVERIFY(!m_model->userChangeSkin());
        QVERIFY(m_window->color().lightness() > darkBackground.lightness());
        screenshot(QStringLiteral("light-preferences"));

        // A change that is not the user's (the load test's) starts on Connect.
        m_model->setSkinType(Constants::SkinType_standart);
        QTRY_COMPARE_WITH_TIMEOUT(currentPageName(), QStringLiteral("StandartSkinPageConnect"), 5000);
        QCOMPARE(m_window->color(), darkBackground);
        expectNoQmlWarnings();
    }

    // Each skin and palette after each other one: no QML warning, not even
    // from a skin on its way out.
    void everySkinAndPaletteWithoutWarnings()
    {
        const QList<Constants::SkinType> order = { Constants::SkinType_standart_light, Constants::SkinType_light,
                                                   Constants::SkinType_standart,       Constants::SkinType_light,
                                                   Constants::SkinType_standart_light, Constants::SkinType_standart };
        for (const Constants::SkinType skin : order) {
            m_model->setSkinType(skin);
            const bool light = skin == Constants::SkinType_light;
            QTRY_VERIFY_WITH_TIMEOUT(item(light ? QStringLiteral("lightSkin") : QStringLiteral("standartSkin")), 5000);
            QTRY_COMPARE_WITH_TIMEOUT(
                currentPageName(light ? QStringLiteral("LightSkinStackView") : QStringLiteral("StandartSkinStackView")),
                light ? QStringLiteral("LightSkinPageConnect") : QStringLiteral("StandartSkinPageConnect"), 5000);
            QTest::qWait(50); // images load and late bindings run
            QVERIFY2(g_qmlWarnings.isEmpty(),
                     qPrintable(QString::number(int(skin)) + ": " + g_qmlWarnings.join(QLatin1Char('\n'))));
        }
    }

    void lightSkinPagesLoad()
    {
        m_model->setSkinType(Constants::SkinType_light);
        QTRY_VERIFY_WITH_TIMEOUT(item(QStringLiteral("lightSkin")), 5000);
        QQuickItem* skin = item(QStringLiteral("lightSkin"));
        const QList<QPair<int, QString>> pages = {
            { 5, "LightSkinPageAccount" },        { 1, "LightSkinPagePreferences" },
            { 2, "LightSkinPageAdvanced" },       { 3, "LightSkinPageNews" },
            { 4, "LightSkinPageHelp" },           { 7, "LightSkinPageSelectLocation" },
            { 8, "LightSkinPageSelectProtocol" }, { 9, "LightSkinPageSelectPort" },
            { 0, "LightSkinPageConnect" },
        };
        QCOMPARE(text(QStringLiteral("LightSkinVersion")), QStringLiteral("Version: 3.7"));
        for (const auto& page : pages) {
            QMetaObject::invokeMethod(skin, "selectPage", Q_ARG(QVariant, page.first));
            QTRY_COMPARE_WITH_TIMEOUT(currentPageName(QStringLiteral("LightSkinStackView")), page.second, 5000);
            screenshot(page.second);
            if (page.second == QLatin1String("LightSkinPageHelp")) {
                // Help links are shown as the model's link texts.
                const HelpItem::Ptr first = m_model->helpSections()->firstElem()->items()->firstElem();
                QTRY_VERIFY_WITH_TIMEOUT(item(QStringLiteral("HelpItemLink")), 5000);
                QCOMPARE(text(QStringLiteral("HelpItemLink")), m_model->makeTextLink(first->url(), first->name()));
            }
        }
        m_model->setSkinType(Constants::SkinType_standart);
        QTRY_VERIFY_WITH_TIMEOUT(item(QStringLiteral("standartSkin")), 5000);
        expectNoQmlWarnings();
    }
};

OSTREL_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
