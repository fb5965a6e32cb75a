#pragma once

// Minimal tray icon so that the model builds; the full icon with its menu is
// written separately and replaces this file.

#include "model/location.h"
#include "model/locationmodel.h"
#include "model/region.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

class Connection;
class QWidget;
class QWindow;

class MTrayIcon : public QSystemTrayIcon
{
    Q_OBJECT
public:
    // What the tray asks of and tells the application; the model implements it.
    class Demands
    {
    public:
        virtual Connection* sysIconDemands_connection() = 0;
        virtual QString sysIconDemands_title() = 0;
        virtual const LocationModel* sysIconDemands_validLocations() = 0;
        virtual const RegionModel* sysIconDemands_regions() = 0;
        virtual void sysIconDemands_onLocationSelected(Location::Ptr location) = 0;
        virtual void sysIconDemands_onOpen() = 0;
        virtual void sysIconDemands_onClose() = 0;
        virtual void sysIconDemands_onDisconnect() = 0;
        virtual void sysIconDemands_onRestoreGw() = 0;
        virtual void sysIconDemands_onKillSwitchMenu() = 0;
        virtual void sysIconDemands_onResume() = 0;
        virtual QWindow* sysIconDemands_window() = 0;
        virtual QWidget* sysIconDemands_widget() = 0;
        virtual void sysIconDemands_activateWindow() = 0;
        virtual const QList<Location::Ptr> sysIconDemands_locationsForRegion(Region::Ptr region) = 0;
        virtual bool sysIconDemands_useColoredIcon() = 0;

    protected:
        ~Demands() = default; // the tray never deletes through this interface
    };

    MTrayIcon(QObject* parent, Demands* demands, const QString& iconPath, bool manualShowMenu)
        : QSystemTrayIcon(parent)
        , m_demands(demands)
        , m_manualShowMenu(manualShowMenu)
    {
        Q_UNUSED(iconPath)
    }

    void initConnectionsMenu() {}

public slots:
    void onConnected() {}
    void onDisconnected() {}
    void reloadIconImage() {}

private:
    Demands* m_demands;
    bool m_manualShowMenu;
};
