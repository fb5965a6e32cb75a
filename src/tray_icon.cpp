#include "tray_icon.h"

#include "log.h"
#include "model/locationmodel.h"
#include "systemhelper.h"
#include "unix/connection.h"
#include "utils.h"

#include <QAction>
#include <QCursor>
#include <QDebug>
#include <QEvent>
#include <QFont>
#include <QIcon>

#include <algorithm>

namespace {

const int kHideTickMs = 200;
// Ticks in a row with the pointer away before a manual menu closes.
const int kHideAfterTicks = 6;
// How far around an open menu the pointer still counts as on it.
const int kNearMenuPixels = 50;

const QString kIconConnectedColored = QStringLiteral(":/MainWindow/Images/ostrel.ico");
const QString kIconConnectedPlain = QStringLiteral(":/MainWindow/Images/vpn-black.png");
const QString kIconDisconnectedColored = QStringLiteral(":/MainWindow/Images/ostrel-red.png");
const QString kIconDisconnectedPlain = QStringLiteral(":/MainWindow/Images/vpn-grey.png");
const QString kIconChecked = QStringLiteral(":/MainWindow/Images/checked.png");

// Menu text showing `caption` as written: a single "&" would otherwise
// become a keyboard mnemonic ("Bosnia & Herzegovina").
QString entryText(const QString& caption)
{
    QString text = caption;
    text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return text;
}

bool nearVisibleMenu(const QMenu* menu, const QPoint& point)
{
    return menu && menu->isVisible()
        && menu->geometry()
               .adjusted(-kNearMenuPixels, -kNearMenuPixels, kNearMenuPixels, kNearMenuPixels)
               .contains(point);
}

// A region's submenu that knows whether its own event handling is on the
// stack. A retired one is deleted only once that has returned: a deferred
// delete posted under it would otherwise run in the first nested event loop
// below it (a wait of the model's) and free the menu under Qt's own code.
class RegionMenu : public QMenu
{
public:
    RegionMenu(const QString& title, QWidget* parent)
        : QMenu(title, parent)
    {
    }

    // Taken out of the menu: deleted as soon as none of its handlers runs.
    void retire()
    {
        m_retired = true;
        if (m_dispatchDepth == 0)
            deleteLater();
    }

protected:
    bool event(QEvent* event) override
    {
        // The deletion itself: nothing of this object may be touched after.
        if (event->type() == QEvent::DeferredDelete)
            return QMenu::event(event);
        ++m_dispatchDepth;
        const bool handled = QMenu::event(event);
        // Posted here, the delete runs only once this event's delivery has
        // returned to an event loop below it.
        if (--m_dispatchDepth == 0 && m_retired)
            deleteLater();
        return handled;
    }

private:
    int m_dispatchDepth = 0;
    bool m_retired = false;
};

} // namespace

MTrayIcon::MTrayIcon(QObject* parent, MTrayIcon::Demands* demands, const QString& iconPath, bool manualShowMenu)
    : QSystemTrayIcon(parent)
    , m_demands(demands)
    , m_manualShowMenu(manualShowMenu)
    , m_hideTimer(this)
{
    if (!iconPath.isEmpty())
        setIcon(QIcon(iconPath));
    ASSERT_CONNECT(QObject::connect(this, &QSystemTrayIcon::activated, this, &MTrayIcon::clicked));
    m_hideTimer.setObjectName(QStringLiteral("hideTimer"));
    m_hideTimer.setInterval(kHideTickMs);
    ASSERT_CONNECT(QObject::connect(&m_hideTimer, &QTimer::timeout, this, &MTrayIcon::tryHide));
    // Queued: the menu is hidden by the time a waiting rebuild runs.
    ASSERT_CONNECT(
        QObject::connect(&m_menu, &QMenu::aboutToHide, this, &MTrayIcon::rebuildAfterMenuClosed, Qt::QueuedConnection));
    if (!m_manualShowMenu)
        setContextMenu(&m_menu);

    m_openAction = new QAction(tr("&Open"), this);
    m_exitAction = new QAction(tr("&Exit"), this);
    m_exitResume = new QAction(tr("&Resume"), this);
    m_disconnectAction = new QAction(tr("&Disconnect"), this);
    m_restoreRouteAction = new QAction(tr("&Disable killswitch"), this);
    m_killSwitch = new QAction(tr("&Killswitch on/off"), this);
    ASSERT_CONNECT(QObject::connect(m_openAction, &QAction::triggered, this, &MTrayIcon::onOpen));
    ASSERT_CONNECT(QObject::connect(m_exitAction, &QAction::triggered, this, &MTrayIcon::onClose));
    ASSERT_CONNECT(QObject::connect(m_exitResume, &QAction::triggered, this, &MTrayIcon::onResume));
    ASSERT_CONNECT(QObject::connect(m_disconnectAction, &QAction::triggered, this, &MTrayIcon::onDisconnect));
    ASSERT_CONNECT(QObject::connect(m_restoreRouteAction, &QAction::triggered, this, &MTrayIcon::onRestoreGw));
    ASSERT_CONNECT(QObject::connect(m_killSwitch, &QAction::triggered, this, &MTrayIcon::onKillSwitchMenu));

    m_menu.addMenu(createConnectionsMenu());
    m_menu.addSeparator();
    m_menu.addAction(m_openAction);
    m_menu.addAction(m_disconnectAction);
    m_menu.addSeparator();
    m_menu.addAction(m_restoreRouteAction);
    m_menu.addSeparator();
    m_menu.addAction(m_exitAction);
    m_menu.addAction(m_exitResume);

    onDisconnected();
    // Shown once the picture is set: a tray entry without one would flash
    // empty first.
    show();
}

MTrayIcon::~MTrayIcon()
{
    try {
        qDebug().noquote() << Q_FUNC_INFO;
        m_hideTimer.stop();
        setContextMenu(nullptr);
        m_connections_actions.clear();
        delete m_connections.data();
    }
    ALOG_CATCHALL("MTrayIcon::~MTrayIcon")
}

QMenu* MTrayIcon::menu()
{
    return &m_menu;
}

QMenu* MTrayIcon::createConnectionsMenu()
{
    QWidget* parentWidget = m_demands->sysIconDemands_widget();
    m_connections = new QMenu(tr("&Connections"), parentWidget ? parentWidget : &m_menu);
    ASSERT_CONNECT(QObject::connect(m_connections.data(), &QMenu::aboutToHide, this, &MTrayIcon::rebuildAfterMenuClosed,
                                    Qt::QueuedConnection));
    return m_connections;
}

QMenu* MTrayIcon::connectionsMenu()
{
    if (!m_connections) {
        qWarning().noquote() << Q_FUNC_INFO << "the locations menu went with its parent widget; created again";
        const QList<QAction*> actions = m_menu.actions();
        m_menu.insertMenu(actions.isEmpty() ? nullptr : actions.first(), createConnectionsMenu());
    }
    return m_connections;
}

bool MTrayIcon::isConnected() const
{
    const Connection* connection = m_demands->sysIconDemands_connection();
    return connection && connection->isConnectedState();
}

bool MTrayIcon::connectionsMenuIsOpen() const
{
    if (!m_connections)
        return false;
    if (m_connections->isVisible())
        return true;
    const QList<QAction*> entries = m_connections->actions();
    return std::any_of(entries.begin(), entries.end(),
                       [](const QAction* entry) { return entry->menu() && entry->menu()->isVisible(); });
}

void MTrayIcon::initConnectionsMenu()
{
    try {
        if (connectionsMenuIsOpen()) {
            qDebug().noquote() << Q_FUNC_INFO << "locations menu open: rebuilt once it closes";
            m_rebuildPending = true;
            return;
        }
        m_rebuildPending = false;
        rebuildConnectionsMenu();
    }
    ALOG_CATCHALL("MTrayIcon::initConnectionsMenu")
}

void MTrayIcon::rebuildAfterMenuClosed()
{
    try {
        if (!m_rebuildPending)
            return;
        if (connectionsMenuIsOpen()) // opened again before this ran
            return;
        m_rebuildPending = false;
        rebuildConnectionsMenu();
        findDefaultAction();
    }
    ALOG_CATCHALL("MTrayIcon::rebuildAfterMenuClosed")
}

void MTrayIcon::rebuildConnectionsMenu()
{
    QMenu* connections = connectionsMenu();
    // A deferred delete runs in the next event loop that processes events,
    // which may be a nested wait further down the stack. The old region
    // menus are therefore retired, not deleted: each goes once its own event
    // handling has returned, with its entries, released into it first.
    QList<RegionMenu*> oldRegionMenus;
    const QList<QAction*> entries = connections->actions();
    for (QAction* entry : entries) {
        if (auto* regionMenu = dynamic_cast<RegionMenu*>(entry->menu()))
            oldRegionMenus << regionMenu;
    }
    connections->clear();
    m_connections_actions.clear();
    for (RegionMenu* regionMenu : qAsConst(oldRegionMenus))
        regionMenu->retire();

    const RegionModel* regions = m_demands->sysIconDemands_regions();
    if (!regions)
        return;
    const QList<Region::Ptr> regionList = regions->list();
    for (const Region::Ptr& region : regionList) {
        if (!region)
            continue;
        auto* regionMenu = new RegionMenu(tr("region: ") + entryText(region->caption()), connections);
        connections->addMenu(regionMenu);
        regionMenu->menuAction()->setData(QVariant::fromValue(region));
        const QList<Location::Ptr> locations = m_demands->sysIconDemands_locationsForRegion(region);
        for (const Location::Ptr& location : locations) {
            if (!location)
                continue;
            // Released into its region menu, which goes once no handler of
            // its own runs; without the menu, nothing can run it any more.
            const QPointer<RegionMenu> owner(regionMenu);
            QSharedPointer<QAction> action(new QAction(location->icon1(), entryText(location->caption())),
                                           [owner](QAction* released) {
                                               if (owner)
                                                   released->setParent(owner);
                                               else
                                                   delete released;
                                           });
            action->setData(QVariant::fromValue(location));
            ASSERT_CONNECT(QObject::connect(action.data(), &QAction::triggered, this, &MTrayIcon::onLocationSelected));
            regionMenu->addAction(action.data());
            m_connections_actions << action;
        }
    }
}

void MTrayIcon::onConnected()
{
    try {
        reloadIconImage();
        m_disconnectAction->setVisible(true);
        findDefaultAction();
    }
    ALOG_CATCHALL("MTrayIcon::onConnected")
}

void MTrayIcon::onDisconnected()
{
    try {
        m_disconnectAction->setVisible(false);
        reloadIconImage();
        setToolTip(m_demands->sysIconDemands_title() + QStringLiteral(" - Disconnected"));
        findDefaultAction();
    }
    ALOG_CATCHALL("MTrayIcon::onDisconnected")
}

void MTrayIcon::onLocationSelected()
{
    try {
        QObject* origin = sender();
        qDebug().noquote() << Q_FUNC_INFO << origin;
        QAction* action = qobject_cast<QAction*>(origin);
        if (!action)
            return;
        const Location::Ptr location = action->data().value<Location::Ptr>();
        if (!location) {
            qWarning().noquote() << Q_FUNC_INFO << "entry without a location";
            return;
        }
        handOver([location](Demands* demands) { demands->sysIconDemands_onLocationSelected(location); });
    }
    ALOG_CATCHALL("MTrayIcon::onLocationSelected")
}

void MTrayIcon::onRegionSelected()
{
    try {
        QObject* origin = sender();
        qDebug().noquote() << Q_FUNC_INFO << origin;
        if (QAction* action = qobject_cast<QAction*>(origin)) {
            const Region::Ptr region = action->data().value<Region::Ptr>();
            qDebug().noquote() << Q_FUNC_INFO << logSafe(region ? region->caption() : QString());
        }
    }
    ALOG_CATCHALL("MTrayIcon::onRegionSelected")
}

void MTrayIcon::onOpen()
{
    try {
        handOver([](Demands* demands) { demands->sysIconDemands_onOpen(); });
    }
    ALOG_CATCHALL("MTrayIcon::onOpen")
}

void MTrayIcon::onClose()
{
    try {
        qDebug().noquote() << "[close] menu item clicked";
        handOver([](Demands* demands) { demands->sysIconDemands_onClose(); });
    }
    ALOG_CATCHALL("MTrayIcon::onClose")
}

void MTrayIcon::onResume()
{
    try {
        qDebug().noquote() << Q_FUNC_INFO;
        handOver([](Demands* demands) { demands->sysIconDemands_onResume(); });
    }
    ALOG_CATCHALL("MTrayIcon::onResume")
}

void MTrayIcon::onDisconnect()
{
    try {
        handOver([](Demands* demands) { demands->sysIconDemands_onDisconnect(); });
    }
    ALOG_CATCHALL("MTrayIcon::onDisconnect")
}

void MTrayIcon::onRestoreGw()
{
    try {
        handOver([](Demands* demands) { demands->sysIconDemands_onRestoreGw(); });
    }
    ALOG_CATCHALL("MTrayIcon::onRestoreGw")
}

void MTrayIcon::onKillSwitchMenu()
{
    try {
        handOver([](Demands* demands) { demands->sysIconDemands_onKillSwitchMenu(); });
    }
    ALOG_CATCHALL("MTrayIcon::onKillSwitchMenu")
}

void MTrayIcon::reloadIconImage()
{
    try {
        const bool colored = m_demands->sysIconDemands_useColoredIcon();
        if (isConnected())
            setIcon(QIcon(colored ? kIconConnectedColored : kIconConnectedPlain));
        else
            setIcon(QIcon(colored ? kIconDisconnectedColored : kIconDisconnectedPlain));
    }
    ALOG_CATCHALL("MTrayIcon::reloadIconImage")
}

void MTrayIcon::clicked(QSystemTrayIcon::ActivationReason reason)
{
    try {
        qDebug().noquote() << Q_FUNC_INFO << reason;
        // The kill-switch look runs a command and processes events while it
        // waits: not under the icon's own event handling.
        QMetaObject::invokeMethod(
            this,
            [this, reason] {
                try {
                    afterActivation(reason);
                }
                ALOG_CATCHALL("MTrayIcon::clicked")
            },
            Qt::QueuedConnection);
    }
    ALOG_CATCHALL("MTrayIcon::clicked")
}

void MTrayIcon::afterActivation(QSystemTrayIcon::ActivationReason reason)
{
    initConnectionsMenu();
    findDefaultAction();

    const bool routeRemoved = SystemHelper::instance().isDefaultRouteRemoved(true);
    m_killSwitch->setVisible(routeRemoved || isConnected());
    m_killSwitch->setText(routeRemoved ? tr("Disable killswitch") : tr("Enable killswitch"));
    m_restoreRouteAction->setEnabled(routeRemoved);

    if (reason == QSystemTrayIcon::DoubleClick)
        onOpen();
    // Without a context menu attached, nothing else would show the menu.
    if (m_manualShowMenu && reason == QSystemTrayIcon::Context)
        manualShowContextMenu();
}

void MTrayIcon::handOver(const std::function<void(Demands*)>& demand)
{
    // Queued: the menu's or the icon's code that called the handler returns
    // first. The application's answer may wait seconds in nested event loops,
    // which must not run under that code: a menu deleted in such a loop would
    // be used again once the wait is over.
    QMetaObject::invokeMethod(
        this,
        [this, demand] {
            try {
                demand(m_demands);
            }
            ALOG_CATCHALL("MTrayIcon::handOver")
        },
        Qt::QueuedConnection);
}

void MTrayIcon::manualShowContextMenu()
{
    try {
        m_outsizeCounter = 0;
        m_hideTimer.start();
        m_menu.popup(geometry().topLeft());
    }
    ALOG_CATCHALL("MTrayIcon::manualShowContextMenu")
}

void MTrayIcon::tryHide()
{
    try {
        if (!m_menu.isVisible()) {
            // Closed by a choice or by the user.
            m_outsizeCounter = 0;
            m_hideTimer.stop();
            return;
        }
        const QPoint pointer = QCursor::pos();
        // The pointer may be on any open level: the menu, the locations
        // submenu or one region's submenu.
        bool near = nearVisibleMenu(&m_menu, pointer) || nearVisibleMenu(m_connections, pointer);
        if (!near && m_connections) {
            const QList<QAction*> entries = m_connections->actions();
            for (const QAction* entry : entries) {
                if (nearVisibleMenu(entry->menu(), pointer)) {
                    near = true;
                    break;
                }
            }
        }
        if (near) {
            m_outsizeCounter = 0;
            return;
        }
        if (++m_outsizeCounter >= kHideAfterTicks) {
            m_outsizeCounter = 0;
            m_hideTimer.stop();
            m_menu.hide();
        }
    }
    ALOG_CATCHALL("MTrayIcon::tryHide")
}

void MTrayIcon::setCursorToMenu()
{
    try {
        const QRect area = m_menu.geometry();
        if (!area.contains(QCursor::pos()))
            QCursor::setPos(area.topLeft() + QPoint(10, 10));
    }
    ALOG_CATCHALL("MTrayIcon::setCursorToMenu")
}

void MTrayIcon::findDefaultAction()
{
    try {
        QMenu* connections = connectionsMenu();
        const Connection* connection = m_demands->sysIconDemands_connection();
        const bool connected = connection && connection->isConnectedState();
        const Location::Ptr location = connected ? connection->location() : Location::Ptr();
        markActionByName(connections, location ? location->caption() : QString());

        if (!connected) {
            connections->setDefaultAction(nullptr);
            return;
        }
        if (!location)
            return;
        const QString text = entryText(location->caption());
        const QList<QAction*> regionEntries = connections->actions();
        for (QAction* regionEntry : regionEntries) {
            QMenu* regionMenu = regionEntry->menu();
            if (!regionMenu)
                continue;
            const QList<QAction*> actions = regionMenu->actions();
            for (QAction* action : actions) {
                if (action->text() != text)
                    continue;
                regionMenu->setDefaultAction(action);
                connections->setDefaultAction(regionEntry);
                QFont font = regionEntry->font();
                font.setBold(true);
                regionEntry->setFont(font);
                return;
            }
        }
    }
    ALOG_CATCHALL("MTrayIcon::findDefaultAction")
}

void MTrayIcon::markActionByName(QMenu* menu, QString connectionName)
{
    try {
        if (!menu)
            return;
        const bool connected = isConnected();
        const QString text = entryText(connectionName);
        const QList<QAction*> actions = menu->actions();
        for (QAction* action : actions) {
            if (action->menu()) {
                markActionByName(action->menu(), connectionName);
                continue;
            }
            const Location::Ptr location = action->data().value<Location::Ptr>();
            if (connected && action->text() == text)
                action->setIcon(QIcon(kIconChecked));
            else if (location)
                action->setIcon(location->icon1());
        }
    }
    ALOG_CATCHALL("MTrayIcon::markActionByName")
}
