#pragma once

#include "model/location.h"
#include "model/region.h"

#include <QList>
#include <QMenu>
#include <QPointer>
#include <QSharedPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>

class Connection;
class LocationModel;
class RegionModel;
class QAction;
class QWidget;
class QWindow;

// The client's icon in the desktop's system tray with its context menu: the
// server locations grouped by region (the connected one as the default
// entry), and the commands Open, Disconnect, Disable killswitch, Exit and
// Resume. The picture tells whether a tunnel is up. Everything the tray
// needs to know or do goes through Demands; the tray knows nothing else of
// the application. GUI thread only.
class MTrayIcon : public QSystemTrayIcon
{
    Q_OBJECT
public:
    // What the application answers and does for the tray. Every call comes
    // from the GUI thread at the moment the tray needs it; the commands and
    // the choice of a location come once the menu's or the icon's event
    // handling has returned, so they may wait in nested event loops.
    class Demands
    {
    public:
        // The connection whose state and location the tray shows; may be
        // null while the connection does not exist yet.
        virtual Connection* sysIconDemands_connection() = 0;
        // The application title, the start of the tooltip.
        virtual QString sysIconDemands_title() = 0;
        virtual const LocationModel* sysIconDemands_validLocations() = 0;
        // The regions, in display order.
        virtual const RegionModel* sysIconDemands_regions() = 0;
        virtual void sysIconDemands_onLocationSelected(Location::Ptr location) = 0;
        virtual void sysIconDemands_onOpen() = 0;
        // May ask the user first and keep the application running.
        virtual void sysIconDemands_onClose() = 0;
        virtual void sysIconDemands_onDisconnect() = 0;
        // Switches the kill switch off.
        virtual void sysIconDemands_onRestoreGw() = 0;
        // Toggles the kill switch.
        virtual void sysIconDemands_onKillSwitchMenu() = 0;
        virtual void sysIconDemands_onResume() = 0;
        virtual QWindow* sysIconDemands_window() = 0;
        // Parent of the location submenu; may be null.
        virtual QWidget* sysIconDemands_widget() = 0;
        virtual void sysIconDemands_activateWindow() = 0;
        // The locations of one region to offer, in display order.
        virtual const QList<Location::Ptr> sysIconDemands_locationsForRegion(Region::Ptr region) = 0;
        virtual bool sysIconDemands_useColoredIcon() = 0;

    protected:
        // The tray never deletes the application through this interface.
        ~Demands() = default;
    };

    // `demands` is not owned and must outlive the tray. An empty `iconPath`
    // leaves the picture to the connection state. With `manualShowMenu` the
    // menu is not the icon's context menu: the tray shows it itself and
    // hides it once the pointer stays away from it.
    MTrayIcon(QObject* parent, MTrayIcon::Demands* demands, const QString& iconPath, bool manualShowMenu);
    ~MTrayIcon() override;

    // Rebuilds the location submenu from the current regions and locations.
    // While the location submenu is open the rebuild waits until it closes:
    // the entries under the pointer must not vanish. The old region menus go
    // once none of their own handlers is on the stack.
    void initConnectionsMenu();
    QMenu* menu();

public slots:
    void onConnected();
    void onDisconnected();
    void onLocationSelected();
    void onRegionSelected();
    void onOpen();
    void onClose();
    void onResume();
    void onDisconnect();
    void onRestoreGw();
    void onKillSwitchMenu();
    // Picks the picture for the connection state and the colour preference.
    void reloadIconImage();

protected slots:
    void clicked(QSystemTrayIcon::ActivationReason reason);
    void manualShowContextMenu();
    // One tick of the hide timer of a manually shown menu.
    void tryHide();
    void setCursorToMenu();
    // Marks the connected location as the default entry of its region and
    // its region as the default entry of the location submenu.
    void findDefaultAction();
    // Gives the leaf entries named `connectionName` the tick while a
    // connection is up, every other location entry its flag.
    void markActionByName(QMenu* menu, QString connectionName);

private slots:
    // Carries out a rebuild that waited for the menu to close.
    void rebuildAfterMenuClosed();

private:
    // What a click on the icon does, once the icon's event handling returned.
    void afterActivation(QSystemTrayIcon::ActivationReason reason);
    // Calls the application once the calling menu or icon code has returned.
    void handOver(const std::function<void(Demands*)>& demand);
    bool isConnected() const;
    bool connectionsMenuIsOpen() const;
    void rebuildConnectionsMenu();
    // The submenu, created again when the widget it belonged to has gone.
    QMenu* connectionsMenu();
    QMenu* createConnectionsMenu();

    MTrayIcon::Demands* m_demands;
    bool m_manualShowMenu;
    QMenu m_menu;
    QTimer m_hideTimer;
    int m_outsizeCounter = 0;
    bool m_rebuildPending = false;
    QList<QSharedPointer<QAction>> m_connections_actions;
    // Its parent is the application's widget, which may go first.
    QPointer<QMenu> m_connections;
    QAction* m_disconnectAction = nullptr;
    QAction* m_exitAction = nullptr;
    QAction* m_exitResume = nullptr;
    QAction* m_openAction = nullptr;
    QAction* m_restoreRouteAction = nullptr;
    // Titled and shown by the kill-switch state on every click; not placed
    // in the menu.
    QAction* m_killSwitch = nullptr;
};
