// The tray icon driven through a recording stand-in for the application,
// with real connection objects, list models, resources and kill-switch
// script. No system tray is needed.

#include "testsupport.h"

#include "model/locationmodel.h"
#include "nstools.h"
#include "resources.h"
#include "systemhelper.h"
#include "tray_icon.h"
#include "unix/connection.h"
#include "utils.h"

#include <QAction>
#include <QCursor>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

class TestConnection : public Connection
{
public:
    using ConnectStateObject::setState;
};

class RecordingDemands : public MTrayIcon::Demands
{
public:
    Connection* connection = nullptr;
    QWidget* widget = nullptr;
    RegionModel regions;
    LocationModel locations;
    bool colored = false;
    QStringList calls;
    Location::Ptr selected;
    std::function<void()> whenSelected;

    Connection* sysIconDemands_connection() override { return connection; }
    QString sysIconDemands_title() override { return QStringLiteral("Title"); }
    const LocationModel* sysIconDemands_validLocations() override { return &locations; }
    const RegionModel* sysIconDemands_regions() override { return &regions; }
    void sysIconDemands_onLocationSelected(Location::Ptr location) override
    {
        selected = location;
        if (whenSelected)
            whenSelected();
    }
    void sysIconDemands_onOpen() override { calls << QStringLiteral("onOpen"); }
    void sysIconDemands_onClose() override { calls << QStringLiteral("onClose"); }
    void sysIconDemands_onDisconnect() override { calls << QStringLiteral("onDisconnect"); }
    void sysIconDemands_onRestoreGw() override { calls << QStringLiteral("onRestoreGw"); }
    void sysIconDemands_onKillSwitchMenu() override { calls << QStringLiteral("onKillSwitchMenu"); }
    void sysIconDemands_onResume() override { calls << QStringLiteral("onResume"); }
    QWindow* sysIconDemands_window() override { return nullptr; }
    QWidget* sysIconDemands_widget() override { return widget; }
    void sysIconDemands_activateWindow() override { calls << QStringLiteral("activateWindow"); }
    const QList<Location::Ptr> sysIconDemands_locationsForRegion(Region::Ptr region) override
    {
        return locations.getFilteredList(Constants::LocationType_Common, region);
    }
    bool sysIconDemands_useColoredIcon() override { return colored; }
};

Location::Ptr makeLocation(const QString& code, const QString& caption, const Region::Ptr& region)
{
    Location::Ptr location(new Location(code));
    location->setCode(code);
    location->setCaption(caption);
    location->setRegion(region);
    location->initImages();
    return location;
}

QStringList texts(const QMenu* menu)
{
    QStringList result;
    for (const QAction* action : menu->actions())
        result << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return result;
}

QAction* entry(const QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

// A click on the icon, carried out as the event loop carries it out.
void clickIcon(MTrayIcon& tray, QSystemTrayIcon::ActivationReason reason)
{
    emit tray.activated(reason);
    QCoreApplication::sendPostedEvents(&tray, QEvent::MetaCall);
}

QImage pixels(const QIcon& icon)
{
    return icon.pixmap(QSize(16, 16)).toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestTrayIcon : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { initResources(); }
    void init();
    void cleanup();

    void menuGroupsLocationsByRegion();
    void choiceThatBringsNewListsRebuildsTheMenu();
    void aRegionMenuGoesOnlyOnceItsOwnHandlingReturned();
    void refreshWhileLocationsAreOpenWaitsForTheMenuToClose();
    void locationMenuOutlivesItsParentWidget();
    void connectedLocationIsDefaultAndTicked();
    void pictureFollowsStateAndColourChoice_data();
    void pictureFollowsStateAndColourChoice();
    void commandsReachDemands();
    void killSwitchStateShapesItsEntries();
    void manualMenuClosesWhenPointerStaysAway();

private:
    QMenu* connections() const { return m_tray->menu()->actions().first()->menu(); }
    QMenu* region(const QString& caption) const { return entry(connections(), "region: " + caption)->menu(); }
    QAction* command(const QString& text) const { return entry(m_tray->menu(), text); }
    // Opens the menu down to the region's submenu, as the keyboard does.
    QMenu* openRegion(const QString& caption);
    // A mouse click on the entry of an open menu.
    static void clickEntry(QMenu* menu, QAction* action)
    {
        QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(action).center());
    }
    void setConnected(const Location::Ptr& location);

    std::unique_ptr<RecordingDemands> m_demands;
    std::unique_ptr<TestConnection> m_connection;
    std::unique_ptr<MTrayIcon> m_tray;
    Region::Ptr m_europe { new Region(QStringLiteral("eu")) };
    Region::Ptr m_asia { new Region(QStringLiteral("as")) };
    Location::Ptr m_germany, m_bosnia, m_japan;
};

void TestTrayIcon::setConnected(const Location::Ptr& location)
{
    m_connection->setLocation(location);
    m_connection->setState(location ? Constants::ConnectState_Connected : Constants::ConnectState_Disconnected);
    location ? m_tray->onConnected() : m_tray->onDisconnected();
}

QMenu* TestTrayIcon::openRegion(const QString& caption)
{
    QMenu* menu = m_tray->menu();
    menu->popup(QPoint(0, 0));
    menu->setActiveAction(menu->actions().first());
    QTest::keyClick(menu, Qt::Key_Right);
    if (!QTest::qWaitFor([this] { return connections()->isVisible(); }))
        return nullptr;
    QMenu* regionMenu = region(caption);
    connections()->setActiveAction(regionMenu->menuAction());
    QTest::keyClick(connections(), Qt::Key_Right);
    return QTest::qWaitFor([regionMenu] { return regionMenu->isVisible(); }) ? regionMenu : nullptr;
}

void TestTrayIcon::init()
{
    m_europe->setCaption(QStringLiteral("Europe"));
    m_asia->setCaption(QStringLiteral("Asia"));
    m_germany = makeLocation(QStringLiteral("de"), QStringLiteral("Germany"), m_europe);
    m_bosnia = makeLocation(QStringLiteral("ba"), QStringLiteral("Bosnia & Herzegovina"), m_europe);
    m_japan = makeLocation(QStringLiteral("jp"), QStringLiteral("Japan"), m_asia);
    const Location::Ptr germanyInAsia = makeLocation(QStringLiteral("dex"), QStringLiteral("Germany"), m_asia);
    const Region::Ptr empty(new Region(QStringLiteral("em")));
    empty->setCaption(QStringLiteral("Empty"));

    m_demands.reset(new RecordingDemands);
    m_demands->regions.setList({ m_europe, m_asia, empty });
    m_demands->locations.setList({ m_germany, m_japan, m_bosnia, germanyInAsia });
    m_connection.reset(new TestConnection);
    // The application creates its tray before its connection exists.
    m_tray.reset(new MTrayIcon(nullptr, m_demands.get(), QString(), false));
    m_demands->connection = m_connection.get();
    m_tray->initConnectionsMenu();
}

void TestTrayIcon::cleanup()
{
    m_tray.reset();
    m_connection.reset();
    m_demands.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestTrayIcon::menuGroupsLocationsByRegion()
{
    QCOMPARE(texts(m_tray->menu()),
             QStringList(
                 { "&Connections", "-", "&Open", "&Disconnect", "-", "&Disable killswitch", "-", "&Exit", "&Resume" }));
    QCOMPARE(m_tray->contextMenu(), m_tray->menu());
    QVERIFY(!command("&Disconnect")->isVisible());
    QCOMPARE(m_tray->toolTip(), QStringLiteral("Title - Disconnected"));

    QCOMPARE(texts(connections()), QStringList({ "region: Europe", "region: Asia", "region: Empty" }));
    QCOMPARE(texts(region("Europe")), QStringList({ "Germany", "Bosnia && Herzegovina" }));
    QCOMPARE(texts(region("Asia")), QStringList({ "Japan", "Germany" }));
    QCOMPARE(texts(region("Empty")), QStringList());

    QAction* bosnia = entry(region("Europe"), QStringLiteral("Bosnia && Herzegovina"));
    QVERIFY(!m_bosnia->icon1().isNull());
    QCOMPARE(pixels(bosnia->icon()), pixels(m_bosnia->icon1()));
    bosnia->trigger();
    QTRY_COMPARE(m_demands->selected, m_bosnia);
}

void TestTrayIcon::choiceThatBringsNewListsRebuildsTheMenu()
{
    // The application refreshes its lists when a location is chosen and
    // waits while it reconnects: the choice comes once the menu's own
    // handling of the click has returned.
    const Location::Ptr france = makeLocation(QStringLiteral("fr"), QStringLiteral("France"), m_europe);
    bool clickReturned = false;
    bool chosenAfterTheClick = false;
    m_demands->whenSelected = [&] {
        chosenAfterTheClick = clickReturned;
        m_demands->regions.setList({ m_europe });
        m_demands->locations.setList({ france, m_germany });
        m_tray->initConnectionsMenu();
        processMessages(100);
    };
    const QPointer<QMenu> europe = openRegion(QStringLiteral("Europe"));
    QVERIFY(europe);
    const QPointer<QAction> germany = entry(europe, QStringLiteral("Germany"));
    clickEntry(europe, germany);
    clickReturned = true;
    QVERIFY(!m_tray->menu()->isVisible());
    QVERIFY(europe && germany);
    QTRY_COMPARE(m_demands->selected, m_germany);
    QVERIFY(chosenAfterTheClick);
    QTRY_VERIFY(!europe && !germany);
    QCOMPARE(texts(connections()), QStringList { "region: Europe" });
    QCOMPARE(texts(region("Europe")), QStringList({ "France", "Germany" }));
    entry(region("Europe"), QStringLiteral("France"))->trigger();
    QTRY_COMPARE(m_demands->selected, france);
}

void TestTrayIcon::aRegionMenuGoesOnlyOnceItsOwnHandlingReturned()
{
    // A refresh has come while the region's menu is open; the click closes
    // the menu, and the waiting rebuild runs in a wait under the click.
    const QPointer<QMenu> europe = openRegion(QStringLiteral("Europe"));
    QVERIFY(europe);
    m_demands->regions.setList({ m_asia, m_europe });
    m_tray->initConnectionsMenu();
    const QPointer<QAction> germany = entry(europe, QStringLiteral("Germany"));
    bool rebuiltInTheWait = false;
    connect(germany, &QAction::triggered, this, [&] {
        processMessages(50);
        rebuiltInTheWait = texts(connections()).first() == QStringLiteral("region: Asia");
        processMessages(50);
    });
    clickEntry(europe, germany);
    QVERIFY(rebuiltInTheWait);
    // Retired in the wait, but deleted only after its handling returned.
    QVERIFY(europe && germany);
    QTRY_VERIFY(!europe && !germany);
    QTRY_COMPARE(m_demands->selected, m_germany);
}

void TestTrayIcon::refreshWhileLocationsAreOpenWaitsForTheMenuToClose()
{
    QMenu* menu = m_tray->menu();
    const QPointer<QMenu> europe = openRegion(QStringLiteral("Europe"));
    QVERIFY(europe);
    const QPointer<QAction> germany = entry(europe, QStringLiteral("Germany"));

    // A list refresh arrives while the user is in the region's menu.
    const Location::Ptr france = makeLocation(QStringLiteral("fr"), QStringLiteral("France"), m_europe);
    m_demands->regions.setList({ m_europe });
    m_demands->locations.setList({ france, m_germany });
    m_tray->initConnectionsMenu();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTest::qWait(50);
    QVERIFY(menu->isVisible() && connections()->isVisible() && europe && europe->isVisible());
    QVERIFY(germany);
    QCOMPARE(texts(connections()), QStringList({ "region: Europe", "region: Asia", "region: Empty" }));

    // Closed by the user: the new lists show next time.
    for (int level = 0; level < 3 && QApplication::activePopupWidget(); ++level)
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
    QTRY_VERIFY(!menu->isVisible());
    QTRY_COMPARE(texts(connections()), QStringList { "region: Europe" });
    QCOMPARE(texts(region("Europe")), QStringList({ "France", "Germany" }));

    // With the menu closed a refresh is at once.
    m_demands->regions.setList({ m_europe, m_asia });
    m_tray->initConnectionsMenu();
    QCOMPARE(texts(connections()), QStringList({ "region: Europe", "region: Asia" }));
}

void TestTrayIcon::locationMenuOutlivesItsParentWidget()
{
    std::unique_ptr<QWidget> parent(new QWidget);
    m_demands->widget = parent.get();
    MTrayIcon tray(nullptr, m_demands.get(), QString(), false);
    m_demands->widget = nullptr;
    parent.reset();
    tray.initConnectionsMenu();
    QCOMPARE(tray.menu()->actions().first()->text(), QStringLiteral("&Connections"));
    QCOMPARE(texts(tray.menu()->actions().first()->menu()).size(), 3);
}

void TestTrayIcon::connectedLocationIsDefaultAndTicked()
{
    const QImage tick = pixels(QIcon(QStringLiteral(":/MainWindow/Images/checked.png")));
    setConnected(m_germany);
    QMenu* europe = region("Europe");
    QVERIFY(command("&Disconnect")->isVisible());
    // The caption is in two regions: the first in order is the default.
    QCOMPARE(connections()->defaultAction(), europe->menuAction());
    QCOMPARE(europe->defaultAction(), entry(europe, QStringLiteral("Germany")));
    QVERIFY(europe->menuAction()->font().bold());
    QVERIFY(!region("Asia")->menuAction()->font().bold());
    QCOMPARE(pixels(entry(europe, QStringLiteral("Germany"))->icon()), tick);
    QVERIFY(pixels(entry(europe, QStringLiteral("Bosnia && Herzegovina"))->icon()) != tick);

    setConnected(Location::Ptr());
    QVERIFY(!connections()->defaultAction());
    QVERIFY(europe->menuAction()->font().bold()); // until the next rebuild
    QCOMPARE(pixels(entry(europe, QStringLiteral("Germany"))->icon()), pixels(m_germany->icon1()));
    QVERIFY(!command("&Disconnect")->isVisible());
    QCOMPARE(m_tray->toolTip(), QStringLiteral("Title - Disconnected"));

    setConnected(makeLocation(QStringLiteral("us"), QStringLiteral("Not offered"), m_europe));
    QVERIFY(!connections()->defaultAction());
}

void TestTrayIcon::pictureFollowsStateAndColourChoice_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("colored");
    QTest::addColumn<QString>("picture");
    QTest::newRow("connected, plain") << true << false << "vpn-black.png";
    QTest::newRow("connected, coloured") << true << true << "ostrel.ico";
    QTest::newRow("disconnected, plain") << false << false << "vpn-grey.png";
    QTest::newRow("disconnected, coloured") << false << true << "ostrel-red.png";
}

void TestTrayIcon::pictureFollowsStateAndColourChoice()
{
    QFETCH(bool, connected);
    QFETCH(bool, colored);
    QFETCH(QString, picture);
    m_demands->colored = !colored;
    setConnected(connected ? m_japan : Location::Ptr());
    // A changed preference shows at once.
    m_demands->colored = colored;
    m_tray->reloadIconImage();
    QCOMPARE(pixels(m_tray->icon()), pixels(QIcon(":/MainWindow/Images/" + picture)));
}

void TestTrayIcon::commandsReachDemands()
{
    const QList<QPair<QString, QString>> commands = {
        { "&Open", "onOpen" },  { "&Disconnect", "onDisconnect" }, { "&Disable killswitch", "onRestoreGw" },
        { "&Exit", "onClose" }, { "&Resume", "onResume" },         { "&Killswitch on/off", "onKillSwitchMenu" }
    };
    for (const auto& pair : commands) {
        m_demands->calls.clear();
        const QList<QAction*> actions = m_tray->findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly);
        const auto found = std::find_if(actions.begin(), actions.end(),
                                        [&](QAction* action) { return action->text() == pair.first; });
        QVERIFY2(found != actions.end(), qPrintable(pair.first));
        (*found)->trigger();
        QVERIFY(m_demands->calls.isEmpty()); // once the menu's code returned
        QTRY_COMPARE(m_demands->calls, QStringList { pair.second });
    }

    // A click rebuilds the menu; only a double click opens the window too.
    m_demands->calls.clear();
    m_demands->regions.setList({ m_asia });
    clickIcon(*m_tray, QSystemTrayIcon::Trigger);
    QCOMPARE(texts(connections()), QStringList { "region: Asia" });
    QCoreApplication::processEvents();
    QVERIFY(m_demands->calls.isEmpty());
    clickIcon(*m_tray, QSystemTrayIcon::DoubleClick);
    QTRY_COMPARE(m_demands->calls, QStringList { "onOpen" });
}

void TestTrayIcon::killSwitchStateShapesItsEntries()
{
    if (!NsTools::inPrivateNamespaces())
        QSKIP("needs root and a private network namespace: the kill-switch state is the system's");
    QAction* toggle = nullptr;
    for (QAction* action : m_tray->findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!m_tray->menu()->actions().contains(action))
            toggle = action;
    }
    QVERIFY(toggle);
    clickIcon(*m_tray, QSystemTrayIcon::Trigger);
    QVERIFY(!toggle->isVisible());
    QVERIFY(!command("&Disable killswitch")->isEnabled());

    setConnected(m_japan);
    clickIcon(*m_tray, QSystemTrayIcon::Trigger);
    QVERIFY(toggle->isVisible());
    QCOMPARE(toggle->text(), QStringLiteral("Enable killswitch"));

    setConnected(Location::Ptr());
    const QString script = QCoreApplication::applicationDirPath() + QStringLiteral("/ostrel-killswitch.sh");
    QCOMPARE(NsTools::run(script, { "enable", "198.51.100.7" }).code, 0);
    clickIcon(*m_tray, QSystemTrayIcon::Trigger);
    const bool visible = toggle->isVisible();
    const bool restoreEnabled = command("&Disable killswitch")->isEnabled();
    QCOMPARE(NsTools::run(script, { "disable" }).code, 0);
    QVERIFY(visible);
    QVERIFY(restoreEnabled);
    QCOMPARE(toggle->text(), QStringLiteral("Disable killswitch"));
}

void TestTrayIcon::manualMenuClosesWhenPointerStaysAway()
{
    MTrayIcon tray(nullptr, m_demands.get(), QString(), true);
    QVERIFY(!tray.contextMenu());
    QMenu* menu = tray.menu();
    QTimer* hideTimer = tray.findChild<QTimer*>(QStringLiteral("hideTimer"));
    const auto ticks = [&tray](int count) {
        for (int i = 0; i < count; ++i)
            QMetaObject::invokeMethod(&tray, "tryHide", Qt::DirectConnection);
    };

    clickIcon(tray, QSystemTrayIcon::Context);
    QVERIFY(menu->isVisible());
    QVERIFY(hideTimer && hideTimer->isActive());
    hideTimer->stop(); // ticked by hand below
    const QRect area = menu->geometry();
    const QPoint near(area.right() + 40, area.center().y());
    const QPoint away(area.right() + 60, area.center().y());

    QCursor::setPos(near);
    ticks(10);
    QVERIFY(menu->isVisible());
    QCursor::setPos(away);
    ticks(5);
    QCursor::setPos(near); // coming back starts the count again
    ticks(1);
    QCursor::setPos(away);
    ticks(5);
    QVERIFY(menu->isVisible());
    ticks(1);
    QVERIFY(!menu->isVisible());

    // Left to its own timer, the menu closes too.
    clickIcon(tray, QSystemTrayIcon::Context);
    QTRY_VERIFY_WITH_TIMEOUT(!menu->isVisible(), 10000);
    QVERIFY(!hideTimer->isActive());
}

static void releaseSystemHelper()
{
    SystemHelper::release();
}

// Without the namespaces the kill-switch case skips.
OSTREL_TEST_MAIN(TestTrayIcon, TestMain(TestMain::PrivateNamespaces).finish(releaseSystemHelper))

#include "tst_trayicon.moc"
