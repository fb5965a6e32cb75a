#pragma once

#include "connectionthread.h"
#include "downloader.h"
#include "getexternalip.h"
#include "getnews.h"
#include "getservers.h"
#include "model/constants.h"
#include "model/dnsfiltering.h"
#include "model/feedfetch.h"
#include "model/helpsection.h"
#include "model/location.h"
#include "model/locationmodel.h"
#include "model/news.h"
#include "model/port.h"
#include "model/protocol.h"
#include "model/protocolsettinggroup.h"
#include "model/proxylocation.h"
#include "model/region.h"
#include "model/settingoptionmodel.h"
#include "settingsoption.h"
#include "tray_icon.h"
#include "unix/connection.h"
#include "util/boottimer.h"
#include "weblinkhandler.h"

#include <QAbstractNativeEventFilter>
#include <QDate>
#include <QDateTime>
#include <QFutureWatcher>
#include <QHash>
#include <QList>
#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QQmlApplicationEngine>
#include <QRect>
#include <QSharedPointer>
#include <QSizeF>
#include <QString>
#include <QTimer>

class GetLocations;
class QEvent;
class QWidget;
class QWindow;
class UpdateManager;

// ----------------------------------------------------------------- names shared by the model's sources

constexpr char IPC_SERVER_NAME[] = "ostrel.ipcServer";
// A location whose caption contains this text (any case) is served by OpenVPN XOR only.
constexpr char OpenVPNXorOnlyStr[] = "OpenVPN XOR ONLY";
constexpr char PROXY_LOCATION_DISABLED[] = "1";
constexpr char PROXY_LOCATION_LOCAL[] = "2";
constexpr char CLOUDFLARE_FLAG_ICON_NAME[] = "cloudflare";
constexpr char DEFAULT_LOCATION_ID[] = "nl3";
constexpr char ON_CONNECTED_DNS_V4[] = "1.1.1.1";
constexpr char ON_CONNECTED_DNS_V6[] = "2001:4860:4860::8888";
constexpr char message_title[] = "OSTREL Client Software";

// Pages of the service's web site. The site and its link-redirect service
// are deployment data ("web/site", "web/redirect").
QString serviceSiteUrl(const QString& path);
// The redirect address that leads to `path` on the service's site.
QString serviceRedirectUrl(const QString& path);

#define URL_NEED_VPN serviceRedirectUrl(QStringLiteral("/vpn-accounts"))
#define URL_CLIENT_AREA serviceRedirectUrl(QStringLiteral("/clientarea.php"))
#define URL_PROTOCOL                                                                                                   \
    serviceRedirectUrl(QStringLiteral("/knowledgebase/36/PPTP-vs-L2TP-vs-OpenVPN-which-one-to-use.html"))
#define URL_STATUS serviceRedirectUrl(QStringLiteral("/status"))
#define URL_SUPPORT serviceRedirectUrl(QStringLiteral("/support"))
#define URL_LEGAL serviceRedirectUrl(QStringLiteral("/legal"))
#define URL_PROTOCOL_USE serviceRedirectUrl(QStringLiteral("/what-vpn-protocols"))
#define URL_ROADMAP serviceRedirectUrl(QStringLiteral("/roadmap"))
#define URL_CHANGELOG serviceRedirectUrl(QStringLiteral("/software-changelog"))
#define URL_RESETPASSWORD serviceRedirectUrl(QStringLiteral("/clientarea.php?action=products"))
// The root page of the address-check site (the server of the geo lookup).
QString ipLeakCheckUrl();
#define URL_IPLEACKCHECK ipLeakCheckUrl()

// Why the connection choices are reconciled.
enum ConnectionSettingsAction {
    connectionsListUpdated = 0,
    v2RayProxyConnectionsListUpdated = 1,
    userSelectLocation = 2,
    userSelectProtocol = 3,
    userSelectPort = 4,
    userSelectProxyLocation = 5,
};

// The three kinds of proxy location, told apart by id.
bool proxyLocationDisabled(const ProxyLocation::Ptr& proxyLocation);
bool proxyLocationLocal(const ProxyLocation::Ptr& proxyLocation);
bool proxyLocationV2Ray(const ProxyLocation::Ptr& proxyLocation);
// The one address the kill switch lets traffic reach besides the tunnel:
// the V2Ray proxy's while the connection runs through one (the machine then
// never talks to the VPN server itself), else the VPN server's.
QString killSwitchHost(const Connection& connection);

// A whole file or resource; true when every byte was read.
bool readFileContent(const QString& fullFilePath, QByteArray& res);
// The same decoded from Latin-1; `res` is left unchanged on failure.
bool readFileContentAsString(const QString& fullFilePath, QString& res);

// The process-wide location service and update checker, created on first
// use; stopThreads() stops and deletes both. False when the update thread
// did not end in time and was left behind.
GetLocations& getLocations();
UpdateManager& getUpdateManager();
bool stopThreads();

// An integer in [low, high].
int randomBetween(int low, int high);

// Connects to a running instance's single-instance server and drops the
// connection, which brings that instance's window up.
void bringRunningApplicationToFront();

// ----------------------------------------------------------------- Model

// The application's controller: every list and choice the window shows, the
// credentials and preferences, the connection worker and the tray icon.
// Created once on the GUI thread; QML reaches it as "viewmodel".
class Model : public QObject, public MTrayIcon::Demands, public QAbstractNativeEventFilter
{
    Q_OBJECT

    // Read-write values.
    Q_PROPERTY(Constants::ConnectState visualConnectionState READ visualConnectionState WRITE setVisualConnectionState
                   NOTIFY visualConnectionStateChanged)
    Q_PROPERTY(
        Protocol::Ptr selectedProtocol READ selectedProtocol WRITE setSelectedProtocol NOTIFY selectedProtocolChanged)
    Q_PROPERTY(Port::Ptr selectedPort READ selectedPort WRITE setSelectedPort NOTIFY selectedPortChanged)
    Q_PROPERTY(
        Location::Ptr selectedLocation READ selectedLocation WRITE setSelectedLocation NOTIFY selectedLocationChanged)
    Q_PROPERTY(ProxyLocation::Ptr selectedProxyLocation READ selectedProxyLocation WRITE setSelectedProxyLocation NOTIFY
                   selectedProxyLocationChanged)
    Q_PROPERTY(Region::Ptr selectedRegion READ selectedRegion WRITE setSelectedRegion NOTIFY selectedRegionChanged)
    Q_PROPERTY(QString username READ username WRITE setUsername NOTIFY usernameChanged)
    Q_PROPERTY(QString userpassword READ userpassword WRITE setUserpassword NOTIFY userpasswordChanged)
    Q_PROPERTY(Constants::SkinType skinType READ skinType WRITE setSkinType NOTIFY skinTypeChanged)
    Q_PROPERTY(bool userChangeSkin READ userChangeSkin WRITE setUserChangeSkin NOTIFY userChangeSkinChanged)
    Q_PROPERTY(bool locationsReceived READ locationsReceived WRITE setLocationsReceived NOTIFY locationsReceivedChanged)
    Q_PROPERTY(QString externalCountry READ externalCountry WRITE setExternalCountry NOTIFY externalCountryChanged)
    Q_PROPERTY(QString externalIP READ externalIP WRITE setExternalIP NOTIFY externalIPChanged)
    Q_PROPERTY(QString appVersion READ appVersion WRITE setAppVersion NOTIFY appVersionChanged)
    Q_PROPERTY(QString appNewVersion READ appNewVersion WRITE setAppNewVersion NOTIFY appNewVersionChanged)
    Q_PROPERTY(double kDpi READ kDpi WRITE setKDpi NOTIFY kDpiChanged)
    Q_PROPERTY(int newsAttentionCounter READ newsAttentionCounter WRITE setNewsAttentionCounter NOTIFY
                   newsAttentionCounterChanged)
    Q_PROPERTY(bool changingLocationFlag READ changingLocationFlag WRITE setChangingLocationFlag NOTIFY
                   changingLocationFlagChanged)
    Q_PROPERTY(
        Location::Ptr connectLocation READ connectLocation WRITE setConnectLocation NOTIFY connectLocationChanged)
    Q_PROPERTY(DNSFiltering::Ptr selectedDNSFiltering READ selectedDNSFiltering WRITE setSelectedDNSFiltering NOTIFY
                   selectedDNSFilteringChanged)
    Q_PROPERTY(bool isRestoreGwAvailable READ isRestoreGwAvailable WRITE setIsRestoreGwAvailable NOTIFY
                   isRestoreGwAvailableChanged)
    Q_PROPERTY(bool isRestoreGwFormConfigAvailable READ isRestoreGwFormConfigAvailable WRITE
                   setIsRestoreGwFormConfigAvailable NOTIFY isRestoreGwFormConfigAvailableChanged)
    Q_PROPERTY(bool isRestoreDNSAvailable READ isRestoreDNSAvailable WRITE setIsRestoreDNSAvailable NOTIFY
                   isRestoreDNSAvailableChanged)
    Q_PROPERTY(bool isDebugBtnAvailable READ isDebugBtnAvailable WRITE setIsDebugBtnAvailable NOTIFY
                   isDebugBtnAvailableChanged)
    Q_PROPERTY(bool isDebugLoadTest READ isDebugLoadTest WRITE setIsDebugLoadTest NOTIFY isDebugLoadTestChanged)
    Q_PROPERTY(
        QString getLocationsState READ getLocationsState WRITE setGetLocationsState NOTIFY getLocationsStateChanged)
    Q_PROPERTY(QDateTime connectedTime READ connectedTime WRITE setConnectedTime NOTIFY connectedTimeChanged)
    Q_PROPERTY(QQmlApplicationEngine* qmlApplicationEngine READ qmlApplicationEngine WRITE setQmlApplicationEngine
                   NOTIFY applicationEngineChanged)
    Q_PROPERTY(bool v2RayAvailable READ v2RayAvailable WRITE setV2RayAvailable NOTIFY v2RayAvailableChanged)
    Q_PROPERTY(bool v2RayProxyEnabled READ v2RayProxyEnabled WRITE setV2RayProxyEnabled NOTIFY v2RayProxyEnabledChanged)

    // Plain-pointer twins of the selections (what QML reads).
    Q_PROPERTY(Protocol* selectedProtocolRaw READ selectedProtocolRaw NOTIFY selectedProtocolRawChanged)
    Q_PROPERTY(Port* selectedPortRaw READ selectedPortRaw NOTIFY selectedPortRawChanged)
    Q_PROPERTY(Location* selectedLocationRaw READ selectedLocationRaw NOTIFY selectedLocationRawChanged)
    Q_PROPERTY(
        ProxyLocation* selectedProxyLocationRaw READ selectedProxyLocationRaw NOTIFY selectedProxyLocationRawChanged)
    Q_PROPERTY(Region* selectedRegionRaw READ selectedRegionRaw NOTIFY selectedRegionRawChanged)
    Q_PROPERTY(DNSFiltering* selectedDNSFilteringRaw READ selectedDNSFilteringRaw NOTIFY selectedDNSFilteringRawChanged)

    // Read-only with a change signal.
    Q_PROPERTY(Constants::ConnectState connectionState READ connectionState NOTIFY connectionStateChanged)
    Q_PROPERTY(Downloader* v2RayDownloader READ v2RayDownloader NOTIFY v2RayDownloaderChanged)

    // Fixed for the model's life.
    Q_PROPERTY(LocationModel* locations READ locations CONSTANT)
    Q_PROPERTY(ProtocolModel* protocols READ protocols CONSTANT)
    Q_PROPERTY(NewsModel* news READ news CONSTANT)
    Q_PROPERTY(HelpSectionModel* helpSections READ helpSections CONSTANT)
    Q_PROPERTY(RegionModel* regions READ regions CONSTANT)
    Q_PROPERTY(LocationModel* validLocations READ validLocations CONSTANT)
    Q_PROPERTY(ProxyLocationModel* proxyLocations READ proxyLocations CONSTANT)
    Q_PROPERTY(DNSFilteringModel* dnsFilterings READ dnsFilterings CONSTANT)
    Q_PROPERTY(LocationFavoriteModel* favoriteModel READ favoriteModel CONSTANT)
    Q_PROPERTY(Connection* connection READ connection CONSTANT)
    Q_PROPERTY(SettingOption* optionSavePassword READ optionSavePassword CONSTANT)
    Q_PROPERTY(SettingOption* optionMinimizeOnClose READ optionMinimizeOnClose CONSTANT)
    Q_PROPERTY(SettingOption* optionStartMinimized READ optionStartMinimized CONSTANT)
    Q_PROPERTY(SettingOption* optionAutoConnectOnLaunch READ optionAutoConnectOnLaunch CONSTANT)
    Q_PROPERTY(SettingOption* optionLaunchOnSystemStart READ optionLaunchOnSystemStart CONSTANT)
    Q_PROPERTY(SettingOption* optionGatewayRemoval READ optionGatewayRemoval CONSTANT)
    Q_PROPERTY(SettingOption* optionCensoredCountry READ optionCensoredCountry CONSTANT)
    Q_PROPERTY(SettingOption* optionBlockIPV6 READ optionBlockIPV6 CONSTANT)
    Q_PROPERTY(SettingOption* optionDisableDNS READ optionDisableDNS CONSTANT)
    Q_PROPERTY(SettingOption* optionDoNotChangeDNS READ optionDoNotChangeDNS CONSTANT)
    Q_PROPERTY(SettingOption* optionLowerMTU READ optionLowerMTU CONSTANT)
    Q_PROPERTY(SettingOption* optionLibreSSL READ optionLibreSSL CONSTANT)
    Q_PROPERTY(SettingOption* optionDisableLANTraffic READ optionDisableLANTraffic CONSTANT)
    Q_PROPERTY(SettingOption* optionProtocolPortOnConnectPage READ optionProtocolPortOnConnectPage CONSTANT)
    Q_PROPERTY(SettingOption* optionConnectWhenChoosingNewLocation READ optionConnectWhenChoosingNewLocation CONSTANT)
    Q_PROPERTY(SettingOption* optionMacUseColorIcons READ optionMacUseColorIcons CONSTANT)
    Q_PROPERTY(SettingOption* optionDetailedDebug READ optionDetailedDebug CONSTANT)
    Q_PROPERTY(SettingOption* optionUseSoftwareOpenGL READ optionUseSoftwareOpenGL CONSTANT)
    Q_PROPERTY(SettingOption* optionDisableLatencyTest READ optionDisableLatencyTest CONSTANT)
    Q_PROPERTY(SettingOption* optionLightSkin READ optionLightSkin CONSTANT)
    Q_PROPERTY(SettingOption* optionWintun READ optionWintun CONSTANT)
    Q_PROPERTY(SettingOption* optionForceReconnectOnSleepResume READ optionForceReconnectOnSleepResume CONSTANT)
    Q_PROPERTY(SettingOptionModel* optionModelPreferences READ optionModelPreferences CONSTANT)
    Q_PROPERTY(SettingOptionModel* optionModelAdvanced READ optionModelAdvanced CONSTANT)
    Q_PROPERTY(bool hideV2Ray READ hideV2Ray CONSTANT)

public:
    // The engine is usually set afterwards with setQmlApplicationEngine().
    explicit Model(QQmlApplicationEngine* applicationEngine);
    ~Model() override;

    // After construction: wires the services and starts the refresh timer;
    // the first fetches follow the window's first frame (at once without a
    // QML engine). After the event loop: stop() ends every thread.
    bool start();
    void stop();
    // The process ends from inside event handling (Qt ends it when the
    // connection to the display breaks) before the quit and stop() have run:
    // completes the clean-up of aboutToQuit(), unless it completed, and of
    // stop() but the tray icon, on the calling thread without processing
    // events. Each wait is bounded. True when every thread the model ends
    // has ended.
    bool completeQuitWhileEnding();
    // Gives up every news, external-address and proxy-list download in
    // flight and every one started later; the jobs then end at once. Part of
    // quitting (stop() calls it too).
    void stopFetches();

    // How long the constructor waits for the worker's engine object.
    static constexpr int WorkerStartWaitMs = 10000;
    // The start-up work the first frame does not need (the worker's checks,
    // the first fetches, the kill-switch status) waits at most this long for
    // the window's first frame.
    static constexpr int StartUpWorkHoldMs = 1000;
    static constexpr int RefreshIntervalMs = 600000;
    static constexpr int LoadTestIntervalMs = 5000;

    // ------------------------------------------------------------- accessors

    Constants::ConnectState visualConnectionState() const { return m_visualConnectionState; }
    Protocol::Ptr selectedProtocol() const { return m_selectedProtocol; }
    Port::Ptr selectedPort() const { return m_selectedPort; }
    Location::Ptr selectedLocation() const { return m_selectedLocation; }
    ProxyLocation::Ptr selectedProxyLocation() const { return m_selectedProxyLocation; }
    Region::Ptr selectedRegion() const { return m_selectedRegion; }
    QString username() const { return m_username; }
    QString userpassword() const { return m_userpassword; }
    Constants::SkinType skinType() const { return m_skinType; }
    bool userChangeSkin() const { return m_userChangeSkin; }
    bool locationsReceived() const { return m_locationsReceived; }
    QString externalCountry() const { return m_externalCountry; }
    QString externalIP() const { return m_externalIP; }
    QString appVersion() const { return m_appVersion; }
    QString appNewVersion() const { return m_appNewVersion; }
    double kDpi() const { return m_kDpi; }
    int newsAttentionCounter() const { return m_newsAttentionCounter; }
    bool changingLocationFlag() const { return m_changingLocationFlag; }
    Location::Ptr connectLocation() const { return m_connectLocation; }
    DNSFiltering::Ptr selectedDNSFiltering() const { return m_selectedDNSFiltering; }
    bool isRestoreGwAvailable() const { return m_isRestoreGwAvailable; }
    bool isRestoreGwFormConfigAvailable() const { return m_isRestoreGwFormConfigAvailable; }
    bool isRestoreDNSAvailable() const { return m_isRestoreDNSAvailable; }
    bool isDebugBtnAvailable() const { return m_isDebugBtnAvailable; }
    bool isDebugLoadTest() const { return m_isDebugLoadTest; }
    QString getLocationsState() const { return m_getLocationsState; }
    QDateTime connectedTime() const { return m_connectedTime; }
    QQmlApplicationEngine* qmlApplicationEngine() const { return m_qmlApplicationEngine; }
    bool v2RayAvailable() const { return m_v2RayAvailable; }
    bool v2RayProxyEnabled() const { return m_v2RayProxyEnabled; }

    Protocol* selectedProtocolRaw() const { return m_selectedProtocol.data(); }
    Port* selectedPortRaw() const { return m_selectedPort.data(); }
    Location* selectedLocationRaw() const { return m_selectedLocation.data(); }
    ProxyLocation* selectedProxyLocationRaw() const { return m_selectedProxyLocation.data(); }
    Region* selectedRegionRaw() const { return m_selectedRegion.data(); }
    DNSFiltering* selectedDNSFilteringRaw() const { return m_selectedDNSFiltering.data(); }

    Constants::ConnectState connectionState() const
    {
        const Connection* c = connection();
        return c ? c->connectState() : Constants::ConnectState_Disconnected;
    }
    Downloader* v2RayDownloader() const { return m_v2RayDownloader.data(); }

    LocationModel* locations() { return &m_locations; }
    ProtocolModel* protocols() { return &m_protocols; }
    NewsModel* news() { return &m_news; }
    HelpSectionModel* helpSections() { return &m_helpSections; }
    RegionModel* regions() { return &m_regions; }
    LocationModel* validLocations() { return &m_validLocations; }
    ProxyLocationModel* proxyLocations() { return &m_proxyLocations; }
    DNSFilteringModel* dnsFilterings() { return &m_dnsFilterings; }
    LocationFavoriteModel* favoriteModel() { return &m_favoriteModel; }
    // The worker's engine object.
    Connection* connection() const
    {
        return m_connectDisconnectThread ? m_connectDisconnectThread->connection() : nullptr;
    }

    SettingOption* optionSavePassword() const { return m_optionSavePassword.data(); }
    SettingOption* optionMinimizeOnClose() const { return m_optionMinimizeOnClose.data(); }
    SettingOption* optionStartMinimized() const { return m_optionStartMinimized.data(); }
    SettingOption* optionAutoConnectOnLaunch() const { return m_optionAutoConnectOnLaunch.data(); }
    SettingOption* optionLaunchOnSystemStart() const { return m_optionLaunchOnSystemStart.data(); }
    SettingOption* optionGatewayRemoval() const { return m_optionGatewayRemoval.data(); }
    SettingOption* optionCensoredCountry() const { return m_optionCensoredCountry.data(); }
    SettingOption* optionBlockIPV6() const { return m_optionBlockIPV6.data(); }
    SettingOption* optionDisableDNS() const { return m_optionDisableDNS.data(); }
    SettingOption* optionDoNotChangeDNS() const { return m_optionDoNotChangeDNS.data(); }
    SettingOption* optionLowerMTU() const { return m_optionLowerMTU.data(); }
    SettingOption* optionLibreSSL() const { return m_optionLibreSSL.data(); }
    SettingOption* optionDisableLANTraffic() const { return m_optionDisableLANTraffic.data(); }
    SettingOption* optionProtocolPortOnConnectPage() const { return m_optionProtocolPortOnConnectPage.data(); }
    SettingOption* optionConnectWhenChoosingNewLocation() const
    {
        return m_optionConnectWhenChoosingNewLocation.data();
    }
    SettingOption* optionMacUseColorIcons() const { return m_optionMacUseColorIcons.data(); }
    SettingOption* optionDetailedDebug() const { return m_optionDetailedDebug.data(); }
    SettingOption* optionUseSoftwareOpenGL() const { return m_optionUseSoftwareOpenGL.data(); }
    SettingOption* optionDisableLatencyTest() const { return m_optionDisableLatencyTest.data(); }
    SettingOption* optionLightSkin() const { return m_optionLightSkin.data(); }
    SettingOption* optionWintun() const { return m_optionWintun.data(); }
    SettingOption* optionForceReconnectOnSleepResume() const { return m_optionForceReconnectOnSleepResume.data(); }
    SettingOptionModel* optionModelPreferences() { return &m_optionModelPreferences; }
    SettingOptionModel* optionModelAdvanced() { return &m_optionModelAdvanced; }
    bool hideV2Ray() const { return false; }

    bool isDebug() const { return true; }
    // Parent of the model's message boxes: none.
    QWidget* messageParent() const { return nullptr; }
    MTrayIcon* trayIcon() const { return m_trayIcon; }
    ConnectionThread* connectionThread() const { return m_connectDisconnectThread; }
    const QList<QSharedPointer<ProtocolSettingGroup>>& protocolSettingGroups() const { return m_protocolSettingGroups; }

    // ------------------------------------------------------------- operations without a meta entry

    // Connect and disconnect.
    void doDisconnect(bool waitWithProcessMessages);
    void selectLocationWithConnect(Location::Ptr location);
    static bool isLocationValidForProtocol(const Location::Ptr& location, const Protocol::Ptr& protocol);
    // Writes "config.ovpn"; false, with the reason in `whyNot`, when it was
    // not written (an earlier file then stays as it was).
    bool makeOVPNFile(int bits, QString protocol, QString port, QString server, bool bWithPersistRemoteIp,
                      const QString& route, bool withLowerMTU, const QString& sockProxyIp, const QString& sockProxyPort,
                      const QList<QString>& dnsFiltering, const QString& proxyRouteHost, QString* whyNot = nullptr);
    bool configureV2ProxyConfFile(ProxyLocation::Ptr proxyLocation);
    int forceReconnectOnSleepResumeDelaySec();
    int forceReconnectOnSleepResumeConnectDelaySec();

    // Selection and favourites.
    void setLocationById(QString id);
    bool selectProxyLocationById(QString id);
    bool selectDNSFilteringById(QString id);
    void locationFavoriteSave();
    void locationFavoriteLoad();

    // Window.
    QWindow* mainWindow();
    QWidget* mainWidget();
    // Starts the single-instance server (the last of the start-up checks);
    // false when it could not listen.
    bool startIpcServer();

    // Autostart link.
    bool launchOnSystemStartApply(bool launchAtStartup);
    bool launchOnSystemStartReadSystemState(bool defValue);
    void launchOnSystemStartFixSettings();
    // The autostart link and the file it points to.
    static QString autostartLinkPath();
    static QString autostartLinkTarget();

    // ------------------------------------------------------------- tray demands

    Connection* sysIconDemands_connection() override;
    QString sysIconDemands_title() override;
    const LocationModel* sysIconDemands_validLocations() override;
    const RegionModel* sysIconDemands_regions() override;
    void sysIconDemands_onLocationSelected(Location::Ptr location) override;
    void sysIconDemands_onOpen() override;
    void sysIconDemands_onClose() override;
    void sysIconDemands_onDisconnect() override;
    void sysIconDemands_onRestoreGw() override;
    void sysIconDemands_onKillSwitchMenu() override;
    void sysIconDemands_onResume() override;
    QWindow* sysIconDemands_window() override;
    QWidget* sysIconDemands_widget() override;
    void sysIconDemands_activateWindow() override;
    const QList<Location::Ptr> sysIconDemands_locationsForRegion(Region::Ptr region) override;
    bool sysIconDemands_useColoredIcon() override;

    // Both pass every event on.
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool nativeEventFilter(const QByteArray& eventType, void* message, long* result) override;

    // ------------------------------------------------------------- invokable from QML

    // Selection.
    Q_INVOKABLE void selectPortById(QString id);
    Q_INVOKABLE void userSelectProtocolById(int id);
    Q_INVOKABLE void userSelectLocationById(QString id, bool deferred = false);
    Q_INVOKABLE void userSelectProxyLocationById(QString id, bool deferred = false);
    Q_INVOKABLE void userSelectDNSFilteringById(QString id, bool deferred = false);
    Q_INVOKABLE void selectRegionById(QString id);

    // Helpers.
    Q_INVOKABLE QString newsDateString(const QDate& date);
    Q_INVOKABLE void linkAktivated(const QString& url);
    Q_INVOKABLE QString makeTextLink(const QString& url, const QString& text,
                                     const QString& color = QStringLiteral("#269DE2"));
    Q_INVOKABLE QString checkUserName(QString value);
    Q_INVOKABLE QString checkUserPassword(QString value);
    Q_INVOKABLE bool isOSX() const { return false; }
    Q_INVOKABLE bool isWindows() const { return false; }
    Q_INVOKABLE bool isLinux() const { return true; }
    Q_INVOKABLE QString getWindowsTroubleshootHelpText();
    Q_INVOKABLE QString getLogText();
    Q_INVOKABLE void saveLog();
    Q_INVOKABLE QString versionPostfix() const { return QString(); }
    Q_INVOKABLE QString getElapsedTimeString(const QDateTime& dt);

    // Data feeds.
    Q_INVOKABLE void refreshLocations();
    Q_INVOKABLE void onNewsReaded();

    // QML's own diagnostic output.
    Q_INVOKABLE void dlog(QString text);
    Q_INVOKABLE void sceneCompleted();
    Q_INVOKABLE void invertLocationFavorite(QString id);

signals:
    void visualConnectionStateChanged(Constants::ConnectState visualConnectionState);
    void selectedProtocolChanged(Protocol::Ptr selectedProtocol);
    void selectedPortChanged(Port::Ptr selectedPort);
    void selectedLocationChanged(Location::Ptr selectedLocation);
    void selectedProxyLocationChanged(ProxyLocation::Ptr selectedProxyLocation);
    void selectedRegionChanged(Region::Ptr selectedRegion);
    void usernameChanged(QString username);
    void userpasswordChanged(QString userpassword);
    void skinTypeChanged(Constants::SkinType skinType);
    void userChangeSkinChanged(bool userChangeSkin);
    void locationsReceivedChanged(bool locationsReceived);
    void externalCountryChanged(QString externalCountry);
    void externalIPChanged(QString externalIP);
    void appVersionChanged(QString appVersion);
    void appNewVersionChanged(QString appNewVersion);
    void kDpiChanged(double kDpi);
    void newsAttentionCounterChanged(int newsAttentionCounter);
    void changingLocationFlagChanged(bool changingLocationFlag);
    void connectLocationChanged(Location::Ptr connectLocation);
    void selectedDNSFilteringChanged(DNSFiltering::Ptr selectedDNSFiltering);
    void isRestoreGwAvailableChanged(bool isRestoreGwAvailable);
    void isRestoreGwFormConfigAvailableChanged(bool isRestoreGwFormConfigAvailable);
    void isRestoreDNSAvailableChanged(bool isRestoreDNSAvailable);
    void isDebugBtnAvailableChanged(bool isDebugBtnAvailable);
    void isDebugLoadTestChanged(bool isDebugLoadTest);
    void getLocationsStateChanged(QString getLocationsState);
    void connectedTimeChanged(QDateTime connectedTime);
    void applicationEngineChanged(QQmlApplicationEngine* qmlApplicationEngine);
    void v2RayAvailableChanged(bool v2RayAvailable);
    void v2RayProxyEnabledChanged(bool v2RayProxyEnabled);

    void selectedProtocolRawChanged(Protocol* selectedProtocolRaw);
    void selectedPortRawChanged(Port* selectedPortRaw);
    void selectedLocationRawChanged(Location* selectedLocationRaw);
    void selectedProxyLocationRawChanged(ProxyLocation* selectedProxyLocationRaw);
    void selectedRegionRawChanged(Region* selectedRegionRaw);
    void selectedDNSFilteringRawChanged(DNSFiltering* selectedDNSFilteringRaw);

    void connectionStateChanged(Constants::ConnectState connectionState);
    void v2RayDownloaderChanged(Downloader* v2RayDownloader);

    // Navigation requests to the standard skin.
    void goPreferencesPage();
    void goConnectPage();
    void goSelectLocation();
    void goSelectProxyLocation();
    void goSelectDNSFiltering();
    void goSelectProtocol();
    void goSelectPort();

    void showHelp();
    void resume();
    void displayCoefficientChanged(double displayCoefficient);
    void beforeAppClose();
    void qmlShowLog();
    void qmlShowToast(QString msg, QString details);

public slots:
    // Called from QML.
    void minidump();
    void writeOpenVpnCommand(QString cmd);
    void v2RayDownload();
    void showLog();
    void minimizeClicked();
    void resetPassword();
    void vpnConnectDisconnect();
    void restoreGw();
    void restoreGwFromConfig();
    void restoreDNSNic(bool updateExternalInfo = true);
    // The tunnel's resolver could not be set: the window says so with the
    // DNS script's reason.
    void showDnsFailure();
    void onMainWindowMinimized();
    bool onMainWindowClosing();
    void iPLeakCheck();
    int getSelectedRegionIndex();
    void updateAvailableClicked();
    void ipcConnectionTest();
    void crash1();
    void exception();
    void activateMainWindow();
    void showToast(QString msg, QString details = QString());

    // Setters of the read-write properties.
    void setVisualConnectionState(Constants::ConnectState visualConnectionState);
    void setSelectedProtocol(Protocol::Ptr selectedProtocol);
    void setSelectedPort(Port::Ptr selectedPort);
    void setSelectedLocation(Location::Ptr selectedLocation);
    void setSelectedProxyLocation(ProxyLocation::Ptr selectedProxyLocation);
    void setSelectedRegion(Region::Ptr selectedRegion);
    void setUsername(QString username);
    void setUserpassword(QString userpassword);
    void setSkinType(Constants::SkinType skinType);
    void setUserChangeSkin(bool userChangeSkin);
    void setLocationsReceived(bool locationsReceived);
    void setExternalCountry(QString externalCountry);
    void setExternalIP(QString externalIP);
    void setAppVersion(QString appVersion);
    void setAppNewVersion(QString appNewVersion);
    void setKDpi(double kDpi);
    void setNewsAttentionCounter(int newsAttentionCounter);
    void setChangingLocationFlag(bool changingLocationFlag);
    void setConnectLocation(Location::Ptr connectLocation);
    void setSelectedDNSFiltering(DNSFiltering::Ptr selectedDNSFiltering);
    void setIsRestoreGwAvailable(bool isRestoreGwAvailable);
    void setIsRestoreGwFormConfigAvailable(bool isRestoreGwFormConfigAvailable);
    void setIsRestoreDNSAvailable(bool isRestoreDNSAvailable);
    void setIsDebugBtnAvailable(bool isDebugBtnAvailable);
    void setIsDebugLoadTest(bool isDebugLoadTest);
    void setGetLocationsState(QString getLocationsState);
    void setConnectedTime(QDateTime connectedTime);
    void setQmlApplicationEngine(QQmlApplicationEngine* qmlApplicationEngine);
    void setV2RayAvailable(bool v2RayAvailable);
    void setV2RayProxyEnabled(bool v2RayProxyEnabled);

    // Used by the program's own code.
    // The model's reaction to a state change of the engine, after the
    // worker's own (ConnectionThread). `withError` belongs to this change;
    // the engine may have moved on since.
    void onConnectionStateChanged(Constants::ConnectState oldState, Constants::ConnectState newState, bool withError);
    void refreshTimerEvent();
    void refreshDebugTimerEvent();
    void checkVpnInstalled();
    void forceReconnect();
    void updateV2RayProxyEnabled();
    void updateV2RayLocations();
    void dnsFilteringUpdate();
    void configureConnectionSettings(ConnectionSettingsAction action,
                                     Protocol::Ptr prevSelectedProtocol = Protocol::Ptr());
    // Before the user leaves `previous` for `next`: remembers the port of
    // `previous` and, when the group changes, the choices of the group left.
    void rememberChoicesBeforeProtocolChange(const Protocol::Ptr& previous, const Protocol::Ptr& next);
    void onNeedVPN(QString str);
    void onClientArea(QString str);
    void onWhatProtocolToUse(QString str);
    void onNodesStatus(QString str);
    void onSupport(QString str);
    void onLegal(QString str);
    void onRoadmap(QString str);
    void onProtocol(QString str);
    void onClose();
    void onNewVersion();
    void onNewVersionDownloaded(QString fileName);
    void saveCredentials();
    void saveConnectionParams();
    void logDebugInfo();
    bool beforClosing();
    void installEventsFilters();
    void removeEventsFilters();
    void manualTroubleshootingAndFixingClicked();
    void recalcDisplay();
    void resetChangingLocationFlag();

private slots:
    void onLocationsReceivedApply(const QList<Location::Ptr>& locations, const QList<Region::Ptr>& regions);
    void updateValidLocations();
    void onConnectionError(QString msg);
    void updateDependedOptions();
    void updateDropProtectionState();
    void restoreDefaultRoute(bool needRequestIp = true, bool waitWhileRestored = true);
    void aboutToQuit();
    void optionBeforValueChanged(bool oldValue, bool newValue, bool& cancel);
    void optionValueChanged(bool newValue);
    void doConnectOnStartup();
    void minimizeMainWindow();
    void hideMainWindow();
    void onGeometryChanged(const QRect& geometry);
    void onAvailableGeometryChanged(const QRect& geometry);
    void onDevicePixelRatioChanged(qreal dpi);
    void onPhysicalSizeChanged(const QSizeF& size);
    void onPhysicalDotsPerInchChanged(qreal dpi);
    void onLogicalDotsPerInchChanged(qreal dpi);
    void onVirtualGeometryChanged(const QRect& rect);
    void onRefreshRateChanged(qreal refreshRate);
    void ipcServerNewConnection();
    void ipcClientRead();
    void ipcClientError(QLocalSocket::LocalSocketError socketError);
    void fillOptionTexts();
    void receiveSleep();
    void receiveWake();
    void updateNews();
    void updateExternalIp(bool completeOnly = false);
    void setupGetLocationsHandlers();

private:
    // Tells the user, when the last kill-switch "enable" was refused, that the
    // kill switch is off and why.
    void showKillSwitchFailure();
    // Tells the user, when the last "disable" was refused or failed, that the
    // kill switch still blocks the traffic and why.
    void showKillSwitchOffFailure();
    // Construction steps.
    void createOptions();
    void adjustOptionsForPlatform();
    void buildProtocolCatalogue();
    void buildPlaceholderNews();
    void buildHelpSections();
    void connectScreen();
    // The options that follow other options: DNS choices, LAN traffic.
    void updateOptionInterlocks();
    // Sets isRestoreGwAvailable from a kill-switch status query run on a
    // pool thread, unless something else set it in the meantime.
    void queryRestoreGwAvailableInBackground();
    // Once: lets the worker run its checks, starts the first fetches and
    // asks the kill-switch status.
    void releaseStartUpWork();
    // The start-up work is no longer waited for, nor started.
    void cancelStartUpWork();
    void startFirstFetches();
    // Releases the start-up work when `window` has drawn its first frame.
    void releaseStartUpWorkAtFirstFrame(QWindow* window);
    // Waits, bounded, until the worker has created its engine object.
    bool waitForWorkerConnection(int maxWaitMs);
    // A running fetch job ends before its watcher goes; false when it did
    // not end in time (the watcher is then left alone).
    template <typename T>
    static bool waitForWatcher(QFutureWatcher<T>* watcher, int maxWaitMs);
    // stop(), the tray icon hidden only `withTrayIcon`; false when a thread
    // was left behind.
    bool shutDown(bool withTrayIcon);

    QQmlApplicationEngine* m_qmlApplicationEngine;
    Constants::SkinType m_skinType = Constants::SkinType_standart;
    ProtocolModel m_protocols;
    NewsModel m_news;
    LocationModel m_locations;
    HelpSectionModel m_helpSections;
    Protocol::Ptr m_selectedProtocol;
    Port::Ptr m_selectedPort;
    Location::Ptr m_selectedLocation;
    LocationModel m_validLocations;
    ProxyLocationModel m_proxyLocations;
    ProxyLocation::Ptr m_selectedProxyLocation;
    DNSFilteringModel m_dnsFilterings;
    DNSFiltering::Ptr m_selectedDNSFiltering;
    QString m_username;
    QString m_userpassword;
    SettingOption::Ptr m_optionSavePassword;
    SettingOption::Ptr m_optionMinimizeOnClose;
    SettingOption::Ptr m_optionStartMinimized;
    SettingOption::Ptr m_optionAutoConnectOnLaunch;
    SettingOption::Ptr m_optionLaunchOnSystemStart;
    SettingOption::Ptr m_optionGatewayRemoval;
    SettingOption::Ptr m_optionCensoredCountry;
    SettingOption::Ptr m_optionBlockIPV6;
    SettingOption::Ptr m_optionDisableDNS;
    SettingOption::Ptr m_optionDoNotChangeDNS;
    SettingOption::Ptr m_optionLowerMTU;
    SettingOption::Ptr m_optionLibreSSL;
    SettingOption::Ptr m_optionDisableLANTraffic;
    SettingOption::Ptr m_optionProtocolPortOnConnectPage;
    SettingOption::Ptr m_optionConnectWhenChoosingNewLocation;
    SettingOption::Ptr m_optionMacUseColorIcons;
    SettingOption::Ptr m_optionDetailedDebug;
    SettingOption::Ptr m_optionUseSoftwareOpenGL;
    SettingOption::Ptr m_optionDisableLatencyTest;
    SettingOption::Ptr m_optionLightSkin;
    SettingOption::Ptr m_optionWintun;
    SettingOption::Ptr m_optionForceReconnectOnSleepResume;
    bool m_userChangeSkin = false;
    bool m_locationsReceived = false;
    QString m_externalCountry;
    QString m_externalIP;
    // Off until the kill-switch status is known: the window never offers to
    // lift a kill switch that is not there.
    bool m_isRestoreGwAvailable = false;
    // Counts the writes of isRestoreGwAvailable, so that a background
    // status answer never overwrites a newer value.
    quint64 m_restoreGwAvailableSets = 0;
    QString m_appVersion;
    bool m_isRestoreDNSAvailable = false;
    bool m_isRestoreGwFormConfigAvailable = false;
    bool m_isDebugBtnAvailable = false;
    MTrayIcon* m_trayIcon = nullptr;
    // Counts the calls of selectLocationWithConnect: the latest one holds.
    quint64 m_locationChoices = 0;
    // Every web address, the ones Qt opens itself included, goes through
    // the link script.
    WebLinkHandler m_webLinks;
    Region::Ptr m_selectedRegion;
    RegionModel m_regions;
    QString m_appNewVersion;
    QLocalServer m_ipcServer;
    QLocalSocket m_ipcSocket;
    quint16 m_ipcSocketBlockSize = 0;
    QTimer m_refreshTimer;
    QTimer m_refreshDebugTimer;
    // Work done while the window loads slows the load down (starting a
    // process most of all): what the first frame does not need waits for it.
    QTimer m_startUpWorkTimer;
    QMetaObject::Connection m_firstFrameConnection;
    bool m_startUpWorkReleased = false;
    bool m_quitCompleted = false;
    double m_kDpi = 1.0;
    QString m_getLocationsState;
    int m_newsAttentionCounter = 0;
    ConnectionThread* m_connectDisconnectThread = nullptr;
    bool m_isDebugLoadTest = false;
    SettingOptionModel m_optionModelPreferences;
    SettingOptionModel m_optionModelAdvanced;
    LocationFavoriteModel m_favoriteModel;
    QDateTime m_connectedTime;
    // The connected time counts on the boot-time clock from the moment it
    // was set, and `m_connectedTime` was this long ago then: a change of the
    // system clock does not change it, and a suspend the tunnel survives
    // counts.
    BootTimer m_connectedClock;
    qint64 m_connectedClockOffsetMs = 0;
    bool m_changingLocationFlag = false;
    Location::Ptr m_connectLocation;
    Constants::ConnectState m_visualConnectionState = Constants::ConnectState_Disconnected;
    bool m_v2RayAvailable = false;
    bool m_v2RayProxyEnabled = false;
    FeedFetch<GetNewsResult> m_newsFetch;
    FeedFetch<GetProxyLocationsResult> m_v2RayLocationsFetch;
    FeedFetch<GetExternalIpResult> m_externalIpFetch;
    QFutureWatcher<bool>* m_killSwitchStatusWatcher = nullptr;
    FetchStop::Ptr m_fetchStop { new FetchStop };
    QList<QSharedPointer<ProtocolSettingGroup>> m_protocolSettingGroups;
    // The port last chosen with each protocol (by protocol type) in this
    // run, so that a protocol chosen again gets its own port back.
    QHash<int, QString> m_lastPortIdOfProtocol;
    QSharedPointer<Downloader> m_v2RayDownloader;
};
