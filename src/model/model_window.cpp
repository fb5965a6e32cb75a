// Window, display, single-instance server, QML helpers, web links and tray demands: behaviour filled in separately.
#include "model/model.h"

#include <QDebug>

void bringRunningApplicationToFront() {}

// ----------------------------------------------------------------- plain property setters

void Model::setVisualConnectionState(Constants::ConnectState visualConnectionState)
{
    if (visualConnectionState == Constants::ConnectState_Disconnected && m_changingLocationFlag)
        return;
    if (m_visualConnectionState == visualConnectionState)
        return;
    m_visualConnectionState = visualConnectionState;
    emit visualConnectionStateChanged(m_visualConnectionState);
}

void Model::setUserChangeSkin(bool userChangeSkin)
{
    if (m_userChangeSkin == userChangeSkin)
        return;
    m_userChangeSkin = userChangeSkin;
    emit userChangeSkinChanged(m_userChangeSkin);
}

void Model::setLocationsReceived(bool locationsReceived)
{
    if (m_locationsReceived == locationsReceived)
        return;
    m_locationsReceived = locationsReceived;
    emit locationsReceivedChanged(m_locationsReceived);
}

void Model::setExternalCountry(QString externalCountry)
{
    if (m_externalCountry == externalCountry)
        return;
    m_externalCountry = externalCountry;
    emit externalCountryChanged(m_externalCountry);
}

void Model::setExternalIP(QString externalIP)
{
    if (m_externalIP == externalIP)
        return;
    m_externalIP = externalIP;
    emit externalIPChanged(m_externalIP);
}

void Model::setAppVersion(QString appVersion)
{
    if (m_appVersion == appVersion)
        return;
    m_appVersion = appVersion;
    emit appVersionChanged(m_appVersion);
}

void Model::setKDpi(double kDpi)
{
    if (qFuzzyCompare(m_kDpi, kDpi))
        return;
    m_kDpi = kDpi;
    emit kDpiChanged(m_kDpi);
}

void Model::setNewsAttentionCounter(int newsAttentionCounter)
{
    if (m_newsAttentionCounter == newsAttentionCounter)
        return;
    m_newsAttentionCounter = newsAttentionCounter;
    emit newsAttentionCounterChanged(m_newsAttentionCounter);
}

void Model::setChangingLocationFlag(bool changingLocationFlag)
{
    if (m_changingLocationFlag == changingLocationFlag)
        return;
    m_changingLocationFlag = changingLocationFlag;
    emit changingLocationFlagChanged(m_changingLocationFlag);
}

void Model::setConnectLocation(Location::Ptr connectLocation)
{
    if (m_connectLocation == connectLocation)
        return;
    m_connectLocation = connectLocation;
    emit connectLocationChanged(m_connectLocation);
}

void Model::setIsRestoreGwAvailable(bool isRestoreGwAvailable)
{
    if (m_isRestoreGwAvailable == isRestoreGwAvailable)
        return;
    m_isRestoreGwAvailable = isRestoreGwAvailable;
    emit isRestoreGwAvailableChanged(m_isRestoreGwAvailable);
}

void Model::setIsRestoreGwFormConfigAvailable(bool isRestoreGwFormConfigAvailable)
{
    if (m_isRestoreGwFormConfigAvailable == isRestoreGwFormConfigAvailable)
        return;
    m_isRestoreGwFormConfigAvailable = isRestoreGwFormConfigAvailable;
    emit isRestoreGwFormConfigAvailableChanged(m_isRestoreGwFormConfigAvailable);
}

void Model::setIsRestoreDNSAvailable(bool isRestoreDNSAvailable)
{
    if (m_isRestoreDNSAvailable == isRestoreDNSAvailable)
        return;
    m_isRestoreDNSAvailable = isRestoreDNSAvailable;
    emit isRestoreDNSAvailableChanged(m_isRestoreDNSAvailable);
}

void Model::setIsDebugBtnAvailable(bool isDebugBtnAvailable)
{
    if (m_isDebugBtnAvailable == isDebugBtnAvailable)
        return;
    m_isDebugBtnAvailable = isDebugBtnAvailable;
    emit isDebugBtnAvailableChanged(m_isDebugBtnAvailable);
}

void Model::setIsDebugLoadTest(bool isDebugLoadTest)
{
    if (m_isDebugLoadTest == isDebugLoadTest)
        return;
    m_isDebugLoadTest = isDebugLoadTest;
    emit isDebugLoadTestChanged(m_isDebugLoadTest);
}

void Model::setGetLocationsState(QString getLocationsState)
{
    if (m_getLocationsState == getLocationsState)
        return;
    m_getLocationsState = getLocationsState;
    emit getLocationsStateChanged(m_getLocationsState);
}

void Model::setConnectedTime(QDateTime connectedTime)
{
    if (m_connectedTime == connectedTime)
        return;
    m_connectedTime = connectedTime;
    emit connectedTimeChanged(m_connectedTime);
}

void Model::setQmlApplicationEngine(QQmlApplicationEngine* qmlApplicationEngine)
{
    if (m_qmlApplicationEngine == qmlApplicationEngine)
        return;
    m_qmlApplicationEngine = qmlApplicationEngine;
    emit applicationEngineChanged(m_qmlApplicationEngine);
}

void Model::setV2RayAvailable(bool v2RayAvailable)
{
    qDebug().noquote() << "setV2RayAvailable:" << v2RayAvailable;
    if (m_v2RayAvailable == v2RayAvailable)
        return;
    m_v2RayAvailable = v2RayAvailable;
    emit v2RayAvailableChanged(m_v2RayAvailable);
}

void Model::setV2RayProxyEnabled(bool v2RayProxyEnabled)
{
    if (m_v2RayProxyEnabled == v2RayProxyEnabled)
        return;
    m_v2RayProxyEnabled = v2RayProxyEnabled;
    emit v2RayProxyEnabledChanged(m_v2RayProxyEnabled);
}

void Model::showToast(QString msg, QString details)
{
    emit qmlShowToast(msg, details);
}

void Model::manualTroubleshootingAndFixingClicked()
{
    emit showHelp();
}

void Model::resetChangingLocationFlag()
{
    setChangingLocationFlag(false);
}

// ----------------------------------------------------------------- placeholders

QWindow* Model::mainWindow() { return nullptr; }
QWidget* Model::mainWidget() { return nullptr; }
void Model::activateMainWindow() {}
void Model::minimizeMainWindow() {}
void Model::hideMainWindow() {}
void Model::minimizeClicked() {}
void Model::onMainWindowMinimized() {}
bool Model::onMainWindowClosing() { return false; }
bool Model::beforClosing() { return false; }
void Model::onClose() {}
void Model::sceneCompleted() {}
void Model::installEventsFilters() {}
void Model::removeEventsFilters() {}

bool Model::eventFilter(QObject* watched, QEvent* event)
{
    Q_UNUSED(watched)
    Q_UNUSED(event)
    return false;
}

bool Model::nativeEventFilter(const QByteArray& eventType, void* message, long* result)
{
    Q_UNUSED(eventType)
    Q_UNUSED(message)
    Q_UNUSED(result)
    return false;
}

void Model::recalcDisplay() {}
void Model::onGeometryChanged(const QRect& geometry) { Q_UNUSED(geometry) }
void Model::onAvailableGeometryChanged(const QRect& geometry) { Q_UNUSED(geometry) }
void Model::onDevicePixelRatioChanged(qreal dpi) { Q_UNUSED(dpi) }
void Model::onPhysicalSizeChanged(const QSizeF& size) { Q_UNUSED(size) }
void Model::onPhysicalDotsPerInchChanged(qreal dpi) { Q_UNUSED(dpi) }
void Model::onLogicalDotsPerInchChanged(qreal dpi) { Q_UNUSED(dpi) }
void Model::onVirtualGeometryChanged(const QRect& rect) { Q_UNUSED(rect) }
void Model::onRefreshRateChanged(qreal refreshRate) { Q_UNUSED(refreshRate) }
void Model::ipcServerNewConnection() {}
void Model::ipcConnectionTest() {}
void Model::ipcClientRead() {}
void Model::ipcClientError(QLocalSocket::LocalSocketError socketError) { Q_UNUSED(socketError) }

QString Model::newsDateString(const QDate& date)
{
    Q_UNUSED(date)
    return QString();
}

void Model::linkAktivated(const QString& url) { Q_UNUSED(url) }

QString Model::makeTextLink(const QString& url, const QString& text, const QString& color)
{
    Q_UNUSED(url)
    Q_UNUSED(text)
    Q_UNUSED(color)
    return QString();
}

QString Model::checkUserName(QString value)
{
    Q_UNUSED(value)
    return QString();
}

QString Model::checkUserPassword(QString value)
{
    Q_UNUSED(value)
    return QString();
}

QString Model::getWindowsTroubleshootHelpText() { return QString(); }
QString Model::getLogText() { return QString(); }
void Model::saveLog() {}

QString Model::getElapsedTimeString(const QDateTime& dt)
{
    Q_UNUSED(dt)
    return QString();
}

void Model::showLog() {}
void Model::resetPassword() {}
void Model::iPLeakCheck() {}
void Model::restoreDNSNic(bool updateExternalInfo) { Q_UNUSED(updateExternalInfo) }
void Model::onNewVersion() {}
void Model::onNewVersionDownloaded(QString fileName) { Q_UNUSED(fileName) }
void Model::crash1() {}
void Model::exception() {}
void Model::onNeedVPN(QString str) { Q_UNUSED(str) }
void Model::onClientArea(QString str) { Q_UNUSED(str) }
void Model::onWhatProtocolToUse(QString str) { Q_UNUSED(str) }
void Model::onNodesStatus(QString str) { Q_UNUSED(str) }
void Model::onSupport(QString str) { Q_UNUSED(str) }
void Model::onLegal(QString str) { Q_UNUSED(str) }
void Model::onRoadmap(QString str) { Q_UNUSED(str) }
void Model::onProtocol(QString str) { Q_UNUSED(str) }

// ----------------------------------------------------------------- tray demands

Connection* Model::sysIconDemands_connection() { return connection(); }
QString Model::sysIconDemands_title() { return QString::fromLatin1(message_title); }
const LocationModel* Model::sysIconDemands_validLocations() { return &m_validLocations; }
const RegionModel* Model::sysIconDemands_regions() { return &m_regions; }
void Model::sysIconDemands_onLocationSelected(Location::Ptr location) { Q_UNUSED(location) }
void Model::sysIconDemands_onOpen() {}
void Model::sysIconDemands_onClose() {}
void Model::sysIconDemands_onDisconnect() {}
void Model::sysIconDemands_onRestoreGw() {}
void Model::sysIconDemands_onKillSwitchMenu() {}
void Model::sysIconDemands_onResume() {}
QWindow* Model::sysIconDemands_window() { return nullptr; }
QWidget* Model::sysIconDemands_widget() { return nullptr; }
void Model::sysIconDemands_activateWindow() {}

const QList<Location::Ptr> Model::sysIconDemands_locationsForRegion(Region::Ptr region)
{
    Q_UNUSED(region)
    return QList<Location::Ptr>();
}

bool Model::sysIconDemands_useColoredIcon() { return false; }
