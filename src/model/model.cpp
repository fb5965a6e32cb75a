#include "model/model.h"

#include "checknewversion.h"
#include "deployment.h"
#include "getservers.h"
#include "log.h"
#include "settings.h"
#include "systemhelper.h"
#include "util/eventfreewaits.h"
#include "utils.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QScreen>
#include <QThread>
#include <QUrl>
#include <QtConcurrent>

#include <stdexcept>

// ----------------------------------------------------------------- addresses

QString serviceSiteUrl(const QString& path)
{
    return Deployment::value(QStringLiteral("web/site")) + path;
}

QString serviceRedirectUrl(const QString& path)
{
    // The target is one query value: its own "&", "#", "+" and "%" are
    // encoded so the redirect service does not split it ("...&deptid=1").
    const QByteArray target = QUrl::toPercentEncoding(serviceSiteUrl(path), ":/?=@!$'()*,;");
    return Deployment::value(QStringLiteral("web/redirect")) + QStringLiteral("?to=") + QString::fromLatin1(target);
}

QString ipLeakCheckUrl()
{
    return Deployment::value(QStringLiteral("web/geo")) + QStringLiteral("/");
}

// ----------------------------------------------------------------- process-wide services

namespace {
GetLocations* getLocations_instance = nullptr;
UpdateManager* updateManager_instance = nullptr;

// stop() waits this long for the update thread and for each fetch job.
constexpr int kUpdateThreadStopWaitMs = 30000;
// The fetch jobs give up their downloads when stopped, so this is a bound only.
constexpr int kFetchJobStopWaitMs = 5000;
// The kill-switch status query cannot be told to stop, but its script is
// killed after the platform's time-out for a status run (6 s): stop() waits
// that out, so the job never ends into the model or the platform object
// released after it.
constexpr int kKillSwitchStatusStopWaitMs = 15000;
} // namespace

GetLocations& getLocations()
{
    if (!getLocations_instance)
        getLocations_instance = new GetLocations(nullptr, getServersUrls(false), getServersUrls(true));
    return *getLocations_instance;
}

UpdateManager& getUpdateManager()
{
    if (!updateManager_instance) {
        const bool portable = QFile::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/portable.conf"));
        qDebug().noquote() << "isPortable: " << portable;
        updateManager_instance = new UpdateManager(nullptr, getCheckVersionUrls(), updateServiceUrl(portable));
    }
    return *updateManager_instance;
}

bool stopThreads()
{
    if (getLocations_instance) {
        getLocations_instance->stop();
        delete getLocations_instance;
        getLocations_instance = nullptr;
    }
    if (updateManager_instance) {
        // The version check gives up between and during its requests when
        // asked to, so the wait stays short.
        updateManager_instance->requestInterruption();
        if (!updateManager_instance->wait(QDeadlineTimer(kUpdateThreadStopWaitMs))) {
            // Deleting a running thread would abort the process; it is left
            // to the end of the process instead.
            qCritical().noquote() << Q_FUNC_INFO << "update thread still running; left behind";
            updateManager_instance = nullptr;
            return false;
        }
        delete updateManager_instance;
        updateManager_instance = nullptr;
    }
    return true;
}

int randomBetween(int low, int high)
{
    if (high < low)
        return low;
    const quint32 span = quint32(high - low) + 1;
    return low + int(QRandomGenerator::global()->generate() % span);
}

// ----------------------------------------------------------------- construction

Model::Model(QQmlApplicationEngine* applicationEngine)
    : QObject(nullptr)
    , m_qmlApplicationEngine(applicationEngine)
{
    createOptions();
    m_favoriteModel.setSourceModel(&m_locations);

    Timer timer(QStringLiteral("Model::Model"));

    ALog::setDetailedDebug(m_optionDetailedDebug->value());
    qInfo().noquote() << "Detailed Debug" << m_optionDetailedDebug->value();
    qInfo().noquote() << "P1";

    fillOptionTexts();

    m_appVersion = QStringLiteral(OSTREL_VERSION_STR);

    m_connectDisconnectThread = new ConnectionThread(this, nullptr);
    m_connectDisconnectThread->holdInitialization(StartUpWorkHoldMs);
    m_connectDisconnectThread->start();
    if (!waitForWorkerConnection(WorkerStartWaitMs)) {
        qCritical().noquote() << Q_FUNC_INFO << "the connection thread did not create its connection within"
                              << WorkerStartWaitMs << "ms; the model cannot be used";
        m_connectDisconnectThread->finalize();
        if (!m_connectDisconnectThread->isRunning())
            delete m_connectDisconnectThread;
        m_connectDisconnectThread = nullptr;
        throw std::runtime_error("connection thread not initialised");
    }

    m_optionWintun->setEnabled(!m_optionLibreSSL->value());

    ASSERT_CONNECT(connect(m_optionLaunchOnSystemStart.data(), &SettingOption::beforValueChanged, this,
                           &Model::optionBeforValueChanged, Qt::DirectConnection));
    const QList<SettingOption::Ptr> reacting = {
        m_optionDoNotChangeDNS,    m_optionDisableLANTraffic,  m_optionGatewayRemoval,   m_optionSavePassword,
        m_optionCensoredCountry,   m_optionDisableDNS,         m_optionMacUseColorIcons, m_optionDetailedDebug,
        m_optionUseSoftwareOpenGL, m_optionDisableLatencyTest, m_optionLightSkin,        m_optionLibreSSL,
    };
    for (const SettingOption::Ptr& option : reacting)
        ASSERT_CONNECT(connect(option.data(), &SettingOption::valueChanged, this, &Model::optionValueChanged));

    ASSERT_CONNECT(connect(&SystemHelper::instance(), &SystemHelper::receiveSleep, this, &Model::receiveSleep));
    ASSERT_CONNECT(connect(&SystemHelper::instance(), &SystemHelper::receiveWake, this, &Model::receiveWake));
    // Choices that cannot be written live in memory only: the user is told.
    ASSERT_CONNECT(
        connect(&settings(), &Settings::writeFailed, this, [this](const QString& file, const QString& reason) {
            showToast(tr("Settings could not be saved"), file + QStringLiteral(": ") + reason);
        }));
    qInfo().noquote() << "P2";

    setSkinType(Settings::skin() == QLatin1String("1") ? Constants::SkinType_standart
                                                       : Constants::SkinType_standart_light);

    if (m_optionSavePassword->value()) {
        m_username = Settings::username().trimmed();
        m_userpassword = Settings::password().trimmed();
    }

    adjustOptionsForPlatform();
    qInfo().noquote() << "P3";

    m_locations.setList(QList<Location::Ptr>());
    qInfo().noquote() << "P4";
    buildProtocolCatalogue();
    buildPlaceholderNews();
    buildHelpSections();
    qInfo().noquote() << "P9";

    // The worker hands each state change on to onConnectionStateChanged once
    // its own reaction to it has ended.
    qInfo().noquote() << "P10";
    ASSERT_CONNECT(connect(connection(), &Connection::error, this, &Model::onConnectionError));
    qInfo().noquote() << "P11";

    m_trayIcon = new MTrayIcon(this, this, QString(), false);
    m_trayIcon->initConnectionsMenu();
    ASSERT_CONNECT(connect(&m_webLinks, &WebLinkHandler::failed, this,
                           [this](const QString& url) { showToast(tr("The link could not be opened"), url); }));
    qInfo().noquote() << "P12";

    connectScreen();
    qInfo().noquote() << "P13";

    const bool systemLaunchState = launchOnSystemStartReadSystemState(m_optionLaunchOnSystemStart->value());
    if (systemLaunchState != m_optionLaunchOnSystemStart->value())
        m_optionLaunchOnSystemStart->setValue(systemLaunchState);
    if (systemLaunchState)
        launchOnSystemStartFixSettings();

    recalcDisplay();
}

Model::~Model()
{
    if (m_connectDisconnectThread) {
        // stop() has normally ended the worker already.
        m_connectDisconnectThread->finalize();
        if (m_connectDisconnectThread->isRunning())
            qCritical().noquote() << Q_FUNC_INFO << "connection thread still running; left behind";
        else
            delete m_connectDisconnectThread;
        m_connectDisconnectThread = nullptr;
    }
    qDebug().noquote() << "virtual Model::~Model()";
}

bool Model::waitForWorkerConnection(int maxWaitMs)
{
    // The GUI thread blocks without processing events: nothing may reach the
    // model before its engine object exists. The worker wakes it as soon as
    // the engine is there.
    return m_connectDisconnectThread->waitForConnection(maxWaitMs);
}

void Model::createOptions()
{
    auto option = [](bool defaultValue, const char* key, bool saveAsString) {
        return SettingOption::Ptr(
            new SettingOption(defaultValue, QString::fromLatin1(key), saveAsString, true, true, QString()));
    };
    m_optionSavePassword = option(true, "savePass", true);
    m_optionMinimizeOnClose = option(true, "minimizeOnClose2", true);
    m_optionStartMinimized = option(false, "startMinimized", false);
    m_optionAutoConnectOnLaunch = option(false, "AutoConnect", true);
    m_optionLaunchOnSystemStart = option(false, "LaunchAtStartup", true);
    m_optionGatewayRemoval = option(false, "VpnDropProtection", true);
    m_optionCensoredCountry = option(false, "useAlternativeAPIServer", false);
    m_optionBlockIPV6 = option(true, "blockIPv6", true);
    m_optionDisableDNS = option(false, "disableDNSOnPhysicalNIC", true);
    m_optionDoNotChangeDNS = option(false, "dontDNS", false);
    m_optionLowerMTU = option(false, "lowerMTU", true);
    m_optionLibreSSL = option(false, "useOpenVPNInsteadOpenSSL", false);
    m_optionDisableLANTraffic = option(false, "disableLANTraffic", false);
    m_optionProtocolPortOnConnectPage = option(false, "ProtocolPortOnConnectPage", false);
    m_optionConnectWhenChoosingNewLocation = option(true, "ConnectWhenChoosingNewLocation", false);
    m_optionMacUseColorIcons = option(false, "useColorIcons", false);
    m_optionDetailedDebug = option(false, "detailedDebug", true);
    m_optionUseSoftwareOpenGL = option(false, "useSoftwareOpenGL", false);
    m_optionDisableLatencyTest = option(false, "disableLatencyTest", false);
    // Not stored: mirrors the "skin" setting.
    m_optionLightSkin = SettingOption::Ptr(new SettingOption(false, false));
    m_optionWintun = option(false, "wintun", false);
    m_optionForceReconnectOnSleepResume = option(false, "forceReconnectOnSleepResume", false);
}

QString Model::autostartLinkPath()
{
    return QDir::homePath() + QStringLiteral("/.config/autostart/") + QStringLiteral("ostrel.desktop");
}

QString Model::autostartLinkTarget()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/") + QStringLiteral("ostrel.desktop");
}

void Model::adjustOptionsForPlatform()
{
    m_optionGatewayRemoval->setCaption(tr("Firewall blocker (kill switch)"));
    m_optionGatewayRemoval->setDescription(
        tr("Block all non-VPN traffic to protect against IP leaking if connection drops. Restore via \"Disable "
           "killswitch\" after disconnect. Kill switch is also disabled on reboot."));
    m_optionWintun->setVisible(false);
    m_optionLibreSSL->setVisible(false);
    m_optionDisableDNS->setVisible(false);
    m_optionStartMinimized->setValue(false);
    m_optionStartMinimized->setVisible(false);
    m_optionBlockIPV6->setVisible(false);
    m_optionLaunchOnSystemStart->setVisible(false);
    m_optionForceReconnectOnSleepResume->setVisible(false);
}

void Model::connectScreen()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        qWarning().noquote() << Q_FUNC_INFO << "no primary screen";
        return;
    }
    qDebug().noquote() << "geometry: " << screen->geometry();
    qDebug().noquote() << "availableGeometry: " << screen->availableGeometry();
    qDebug().noquote() << "physicalDotsPerInch: " << screen->physicalDotsPerInch();
    qDebug().noquote() << "physicalSize: " << screen->physicalSize();
    qDebug().noquote() << "logicalDotsPerInch: " << screen->logicalDotsPerInch();
    qDebug().noquote() << "virtualGeometry: " << screen->virtualGeometry();
    qDebug().noquote() << "refreshRate: " << screen->refreshRate();

    ASSERT_CONNECT(connect(screen, &QScreen::geometryChanged, this, &Model::onGeometryChanged));
    ASSERT_CONNECT(connect(screen, &QScreen::availableGeometryChanged, this, &Model::onAvailableGeometryChanged));
    ASSERT_CONNECT(connect(screen, &QScreen::physicalDotsPerInchChanged, this, &Model::onDevicePixelRatioChanged));
    ASSERT_CONNECT(connect(screen, &QScreen::physicalSizeChanged, this, &Model::onPhysicalSizeChanged));
    ASSERT_CONNECT(connect(screen, &QScreen::physicalDotsPerInchChanged, this, &Model::onPhysicalDotsPerInchChanged));
    ASSERT_CONNECT(connect(screen, &QScreen::logicalDotsPerInchChanged, this, &Model::onLogicalDotsPerInchChanged));
    ASSERT_CONNECT(connect(screen, &QScreen::virtualGeometryChanged, this, &Model::onVirtualGeometryChanged));
    ASSERT_CONNECT(connect(screen, &QScreen::refreshRateChanged, this, &Model::onRefreshRateChanged));
}

// ----------------------------------------------------------------- protocol catalogue, news, help

void Model::buildProtocolCatalogue()
{
    struct Entry
    {
        Constants::ProtocolType type;
        QStringList ports;
    };
    const QList<Entry> catalogue = {
        { Constants::ProtocolType_OPENVPN_ECC,
          { "UDP-4431", "UDP-1993", "UDP-5501", "UDP-43800", "UDP-60060", "TCP-8089", "TCP-1995", "TCP-19995" } },
        { Constants::ProtocolType_OPENVPN256,
          { "UDP-18000", "UDP-50050", "UDP-57432", "UDP-65100", "TCP-2121", "TCP-18333", "TCP-15900" } },
        { Constants::ProtocolType_OPENVPN128,
          { "UDP-53", "UDP-88", "UDP-12200", "UDP-26000", "TCP-80", "TCP-88", "TCP-12200", "TCP-26000" } },
        { Constants::ProtocolType_OPENVPN_XOR,
          { "UDP-27000", "UDP-27001", "UDP-27002", "UDP-27003", "UDP-6113", "TCP-443", "TCP-993", "TCP-6112",
            "TCP-27036" } },
    };

    QList<Protocol::Ptr> protocols;
    for (const Entry& entry : catalogue) {
        Protocol::Ptr protocol(new Protocol(entry.type));
        QList<Port::Ptr> ports;
        for (const QString& id : entry.ports)
            ports.append(Port::Ptr(new Port(id)));
        protocol->ports()->setList(ports);
        protocols.append(protocol);
    }
    qInfo().noquote() << "P5";
    qInfo().noquote() << "P6";

    const QSharedPointer<ProtocolSettingGroup> openVpnGroup(
        new ProtocolSettingGroup(QStringLiteral("openvpn"), QString(), false, QString(), QString()));
    const QSharedPointer<ProtocolSettingGroup> otherGroup(
        new ProtocolSettingGroup(QStringLiteral("not_openvpn"), QString(), false, QString(), QString()));
    for (const Protocol::Ptr& protocol : protocols)
        protocol->setProtocolSettingGroup(protocol->isOpenVpn() ? openVpnGroup : otherGroup);
    m_protocolSettingGroups = { openVpnGroup, otherGroup };

    protocolSettingGroupsConfigSettingsMigration(protocols);
    qInfo().noquote() << "P7";
    m_protocols.setList(protocols);
    qInfo().noquote() << "P8";
}

void Model::buildPlaceholderNews()
{
    const QString features = serviceSiteUrl(QStringLiteral("/features"));
    const QList<News::Ptr> news = {
        News::Ptr(new News(QStringLiteral("1"), QDate(2016, 10, 5), QStringLiteral("iOS App Released"), features)),
        News::Ptr(new News(QStringLiteral("2"), QDate(2016, 10, 6), QStringLiteral("Double-hop support"),
                           serviceSiteUrl(QString()))),
        News::Ptr(new News(QStringLiteral("3"), QDate(2016, 10, 7),
                           QStringLiteral("Windows Client version 3.6 released"), features)),
        News::Ptr(new News(QStringLiteral("4"), QDate(2016, 10, 8), QStringLiteral("Text 4 ").repeated(11),
                           QStringLiteral("url 4"))),
        News::Ptr(new News(QStringLiteral("5"), QDate(2016, 10, 9), QStringLiteral("Text 5 ").repeated(6),
                           QStringLiteral("url 5"))),
        News::Ptr(new News(QStringLiteral("6"), QDate(2016, 10, 10), QStringLiteral("Text 6 ").repeated(3),
                           QStringLiteral("url 6"))),
    };
    m_news.setList(news);
}

void Model::buildHelpSections()
{
    struct Item
    {
        const char* id;
        const char* path;
    };
    struct Section
    {
        const char* name;
        const char* comment;
        QList<Item> items;
    };
    const QList<Section> sections = {
        { "Essential",
          "",
          { { "VPN app options explained", "/vpn-explained-windows" },
            { "Important Privacy Measures for VPN Users", "/knowledgebase/57/Important-Privacy-Measures.html" },
            { "What VPN Protocols to Use?", "/what-vpn-protocols" },
            { "How to test the VPN speed correctly", "/knowledgebase/81/How-to-properly-test-VPN-speed.html" },
            { "Instructions for Users in China", "/knowledgebase/61/Instructions-for-users-in-China.html" },
            { "FAQ", "/faq" } } },
        { "Tutorials, Troubleshooting",
          "",
          { { "Software downloads and tutorials", "/tutorials" },
            { "Knowledge Base", "/knowledgebase.php" },
            { "Common problems, Troubleshooting", "/knowledgebase/5/Troubleshooting" } } },
        { "Stay up to date", "", { { "Roadmap", "/roadmap" }, { "Software change log", "/software-changelog" } } },
        { "Get in touch",
          "Important: Before getting in touch, make sure you check the resources above, as almost everything is "
          "already covered on site.",
          { { "Ticketing", "/submitticket.php?step=2&deptid=1" }, { "Contact methods", "/contact" } } },
    };

    const QString more = QStringLiteral("More >>");
    QList<HelpSection::Ptr> list;
    for (const Section& section : sections) {
        HelpSection::Ptr helpSection(
            new HelpSection(QString::fromUtf8(section.name), QString::fromUtf8(section.comment)));
        QList<HelpItem::Ptr> items;
        for (const Item& item : section.items)
            items.append(HelpItem::Ptr(
                new HelpItem(QString::fromUtf8(item.id), serviceRedirectUrl(QString::fromUtf8(item.path)), more)));
        helpSection->items()->setList(items);
        list.append(helpSection);
    }
    m_helpSections.setList(list);
}

// ----------------------------------------------------------------- options

void Model::fillOptionTexts()
{
    m_optionMinimizeOnClose->setCaption(tr("Minimize on close"));
    m_optionStartMinimized->setCaption(tr("Start minimized"));
    m_optionAutoConnectOnLaunch->setCaption(tr("Auto-connect on Software launch"));
    m_optionAutoConnectOnLaunch->setDescription(tr("Auto-connect using last used location and protocol settings"));
    m_optionLaunchOnSystemStart->setCaption(tr("Launch on system start"));
    m_optionGatewayRemoval->setCaption(tr("Kill switch"));
    m_optionGatewayRemoval->setDescription(
        tr("Disable Internet access if the VPN is disconnected. Connectivity can be restored by clicking the "
           "\"Disable killswitch\" button below the Connection button or in the System Tray menu. Connectivity is "
           "also restored on system reboot."));
    m_optionCensoredCountry->setCaption(tr("I am in China or other censored country"));
    m_optionCensoredCountry->setDescription(
        tr("Get the alternative server list in 'China Optimized' locations category"));
    m_optionBlockIPV6->setCaption(tr("Block IPv6 (Windows Firewall needs to be enabled)"));
    m_optionDisableDNS->setCaption(tr("Disable DNS on physical NIC on-connect"));
    m_optionDisableDNS->setDescription(tr("Remove DNS resolver(s) on physical network adapters. Normally not needed. "
                                          "Enable only if you experience DNS leaks."));
    m_optionDoNotChangeDNS->setCaption(tr("Do not change DNS on-connect"));
    m_optionDoNotChangeDNS->setDescription(tr("You must use a public DNS resolver on physical NIC, not DHCP. Enable if "
                                              "you face problems with the DNS assignment."));
    m_optionLowerMTU->setCaption(tr("Lower MTU (experimental)"));
    m_optionLowerMTU->setDescription(tr("This could improve speed and reliability."));
    m_optionLibreSSL->setCaption(tr("LibreSSL instead of OpenSSL"));
    m_optionLibreSSL->setDescription(tr("More secure, can be slower than OpenSSL on connections of 80+ Mbps"));
    m_optionDisableLANTraffic->setCaption(tr("Disable LAN Traffic"));
    m_optionProtocolPortOnConnectPage->setCaption(tr("Protocol/Port selection in Connect tab"));
    m_optionConnectWhenChoosingNewLocation->setCaption(tr("Auto-connect when choosing new location"));
    m_optionMacUseColorIcons->setCaption(tr("Use blue/red icons in status menu bar"));
    m_optionDetailedDebug->setCaption(tr("Detailed debug in log"));
    m_optionDetailedDebug->setDescription(tr("Increase debug verbosity in the connection log."));
    m_optionUseSoftwareOpenGL->setCaption(tr("Use alternative graphics rendering engine"));
    m_optionUseSoftwareOpenGL->setDescription(
        tr("Enable this only if you face a problem with graphical rendering of the VPN client app."));
    m_optionDisableLatencyTest->setCaption(tr("Disable latency test"));
    m_optionLightSkin->setCaption(tr("Light Theme"));
    m_optionLightSkin->setDescription(tr("Use light / dark theme"));
    m_optionWintun->setCaption(tr("Use wintun driver if installed (experimental)"));
    m_optionWintun->setDescription(tr("Check the ") + QStringLiteral("<a href=\"")
                                   + serviceRedirectUrl(QStringLiteral("/vpn-wintun")) + QStringLiteral("\">")
                                   + tr("KB article") + QStringLiteral("</a>") + tr(" for more details."));
    m_optionForceReconnectOnSleepResume->setCaption(tr("Force reconnect on sleep resume"));
    m_optionForceReconnectOnSleepResume->setDescription(tr("Enable if you face problems reconnecting after sleep."));

    m_optionModelPreferences.setList({
        m_optionMinimizeOnClose,
        m_optionStartMinimized,
        m_optionLightSkin,
        m_optionAutoConnectOnLaunch,
        m_optionLaunchOnSystemStart,
        m_optionConnectWhenChoosingNewLocation,
        m_optionMacUseColorIcons,
    });
    m_optionModelAdvanced.setList({
        m_optionGatewayRemoval,
        m_optionDisableLANTraffic,
        m_optionCensoredCountry,
        m_optionProtocolPortOnConnectPage,
        m_optionForceReconnectOnSleepResume,
        m_optionWintun,
        m_optionBlockIPV6,
        m_optionDisableDNS,
        m_optionDoNotChangeDNS,
        m_optionLowerMTU,
        m_optionLibreSSL,
        m_optionDetailedDebug,
        m_optionUseSoftwareOpenGL,
        m_optionDisableLatencyTest,
    });
}

void Model::optionBeforValueChanged(bool oldValue, bool newValue, bool& cancel)
{
    Q_UNUSED(oldValue)
    QObject* option = sender();
    qDebug().noquote() << Q_FUNC_INFO << option;
    if (option == m_optionLaunchOnSystemStart.data()) {
        if (!launchOnSystemStartApply(newValue))
            cancel = true;
        return;
    }
    qDebug().noquote() << Q_FUNC_INFO << "unhandled call";
}

void Model::optionValueChanged(bool newValue)
{
    QObject* option = sender();
    qDebug().noquote() << Q_FUNC_INFO << option << newValue;
    const bool connected = connectionState() == Constants::ConnectState_Connected;

    if (option == m_optionGatewayRemoval.data()) {
        // Takes effect on the running connection at once: the engine's
        // switch follows the option, so the state reaction of a later
        // reconnect and updateDropProtectionState agree with it.
        if (connected) {
            if (Connection* c = connection())
                c->setOptionGatewayRemoval(newValue);
        }
        updateDropProtectionState();
        updateDependedOptions();
    } else if (option == m_optionSavePassword.data()) {
        if (!newValue)
            saveCredentials();
    } else if (option == m_optionCensoredCountry.data()) {
        setGetLocationsState(QStringLiteral("updating locations..."));
        getLocations().restart(getServersUrls(false), getServersUrls(true));
    } else if (option == m_optionDisableDNS.data() || option == m_optionDoNotChangeDNS.data()) {
        updateDependedOptions();
    } else if (option == m_optionDetailedDebug.data()) {
        ALog::setDetailedDebug(newValue);
    } else if (option == m_optionLightSkin.data()) {
        setSkinType(newValue ? Constants::SkinType_standart_light : Constants::SkinType_standart);
    } else if (option == m_optionUseSoftwareOpenGL.data()) {
        showToast(tr("The change will take effect after you restart the program."), QString());
    } else if (option == m_optionDisableLANTraffic.data()) {
        if (connected) {
            if (newValue)
                SystemHelper::instance().localnetworkTrafficDeny();
            else
                SystemHelper::instance().localnetworkTrafficAllow();
        }
    } else if (option == m_optionMacUseColorIcons.data()) {
        if (m_trayIcon)
            m_trayIcon->reloadIconImage();
    } else if (option == m_optionLibreSSL.data()) {
        m_optionWintun->setEnabled(!m_optionLibreSSL->value());
    }
}

void Model::updateDependedOptions()
{
    Timer timer(QStringLiteral("updateDependedOptions"));
    try {
        updateOptionInterlocks();
        // The kill switch is asked after only when the answer matters.
        setIsRestoreGwAvailable(connectionState() == Constants::ConnectState_Disconnected
                                && SystemHelper::instance().isDefaultRouteRemoved(false));
    }
    ALOG_CATCHALL("Model::updateDependedOptions")
}

void Model::updateOptionInterlocks()
{
    if (m_optionDisableDNS->value())
        m_optionDoNotChangeDNS->setValue(false);
    if (m_optionDoNotChangeDNS->value())
        m_optionDisableDNS->setValue(false);
    m_optionDisableDNS->setEnabled(!m_optionDoNotChangeDNS->value());
    m_optionDoNotChangeDNS->setEnabled(!m_optionDisableDNS->value());
    m_optionDisableLANTraffic->setEnabled(m_optionGatewayRemoval->value());
}

void Model::queryRestoreGwAvailableInBackground()
{
    if (m_killSwitchStatusWatcher)
        return;
    const quint64 setsBefore = m_restoreGwAvailableSets;
    // No parent: one still running at stop is left behind, not deleted with
    // the model under its job.
    auto* watcher = new QFutureWatcher<bool>();
    m_killSwitchStatusWatcher = watcher;
    ASSERT_CONNECT(connect(watcher, &QFutureWatcher<bool>::finished, this, [this, setsBefore, watcher]() {
        // Whatever set the entry since the query started (a connect, the
        // user lifting the kill switch) knows better than this answer.
        if (m_restoreGwAvailableSets != setsBefore)
            return;
        setIsRestoreGwAvailable(watcher->result() && connectionState() == Constants::ConnectState_Disconnected);
    }));
    m_killSwitchStatusWatcher->setFuture(
        QtConcurrent::run([]() { return SystemHelper::instance().isDefaultRouteRemoved(false); }));
}

void Model::releaseStartUpWork()
{
    if (m_startUpWorkReleased)
        return;
    cancelStartUpWork();
    m_connectDisconnectThread->releaseInitialization();
    startFirstFetches();
    queryRestoreGwAvailableInBackground();
}

void Model::cancelStartUpWork()
{
    m_startUpWorkReleased = true;
    m_startUpWorkTimer.stop();
    disconnect(m_firstFrameConnection);
}

void Model::startFirstFetches()
{
    Timer threadsTimer(QStringLiteral("Model::start::threads"));
    getLocations().updateLocations();
    qInfo().noquote() << Q_FUNC_INFO << "S3";
    updateExternalIp(false);
    qInfo().noquote() << Q_FUNC_INFO << "S4";
    updateNews();
    qInfo().noquote() << Q_FUNC_INFO << "S4";
    updateV2RayLocations();
    qInfo().noquote() << Q_FUNC_INFO << "S5";
    getUpdateManager().start();
    qInfo().noquote() << Q_FUNC_INFO << "S6";
}

void Model::dnsFilteringUpdate()
{
    const QList<DNSFiltering::Ptr> list = {
        DNSFiltering::Ptr(new DNSFiltering(tr("Disabled"), Constants::DNSFiltering_disabled)),
        DNSFiltering::Ptr(new DNSFiltering(tr("SecureDNS"), Constants::DNSFiltering_secureDNS)),
        DNSFiltering::Ptr(
            new DNSFiltering(tr("SecureDNS + local streaming"), Constants::DNSFiltering_secureDNS_localStreaming)),
    };
    if (!m_selectedDNSFiltering)
        setSelectedDNSFiltering(list.first());
    m_dnsFilterings.setList(list);
}

void Model::setSkinType(Constants::SkinType skinType)
{
    // The light-theme option follows the skin; its own change comes back
    // here and finds the skin already consistent.
    m_optionLightSkin->setValue(skinType == Constants::SkinType_standart_light);
    if (m_skinType == skinType)
        return;
    Settings::set_skin(QString::number(int(skinType)));
    m_skinType = skinType;
    emit skinTypeChanged(skinType);
}

bool Model::launchOnSystemStartApply(bool launchAtStartup)
{
    try {
        const QString link = autostartLinkPath();
        const QFileInfo linkInfo(link);
        if (!launchAtStartup) {
            // A link to a missing file is still a link to remove.
            const bool present = linkInfo.exists() || linkInfo.isSymLink();
            if (present && !QFile::remove(link)) {
                qDebug().noquote() << "File not removed: " << link;
                return false;
            }
            return true;
        }
        const QString dirPath = linkInfo.absolutePath();
        if (!QDir(dirPath).exists())
            QDir().mkpath(dirPath);
        if (QDir(dirPath).exists()) {
            if (!QFile::link(autostartLinkTarget(), link))
                qDebug().noquote() << "Cannot create link to the autostart directory. Link:" << link;
        } else {
            qDebug().noquote() << "Cannot create directory:" << QDir(dirPath).absolutePath();
        }
        return true;
    }
    ALOG_CATCHALL("Model::launchOnSystemStartApply")
    return false;
}

bool Model::launchOnSystemStartReadSystemState(bool defValue)
{
    // The option is kept off on this platform; the stored value stands.
    return defValue;
}

void Model::launchOnSystemStartFixSettings()
{
}

// ----------------------------------------------------------------- start and stop

bool Model::start()
{
    Timer timer(QStringLiteral("Model::start"));
    qInfo().noquote() << Q_FUNC_INFO << "S1";
    setGetLocationsState(QStringLiteral("updating locations..."));
    setupGetLocationsHandlers();

    UpdateManager& updateManager = getUpdateManager();
    ASSERT_CONNECT(connect(&updateManager, SIGNAL(newVersionAvailable()), this, SLOT(onNewVersion())));
    ASSERT_CONNECT(
        connect(&updateManager, SIGNAL(newVersionDownloaded(QString)), this, SLOT(onNewVersionDownloaded(QString))));

    getLocations().setOptionDisableLatencyTest(m_optionDisableLatencyTest);
    // The DNS-filtering choices are fixed: in the list before any fetch can
    // answer.
    dnsFilteringUpdate();
    qInfo().noquote() << Q_FUNC_INFO << "S2";

    // The fetches (server list, address, news, proxy list, version check)
    // start with the rest of the start-up work, see below.

    m_optionBlockIPV6->setEnabled(false);
    m_optionBlockIPV6->setValue(false);
    m_optionLaunchOnSystemStart->setValue(false);
    m_optionLaunchOnSystemStart->setEnabled(false);
    qInfo().noquote() << Q_FUNC_INFO << "S7";
    qInfo().noquote() << Q_FUNC_INFO << "S8";

    setIsDebugBtnAvailable(true);
    qInfo().noquote() << Q_FUNC_INFO << "S9";

    m_optionGatewayRemoval->setEnabled(SystemHelper::instance().isRouteManagementEnabled());

    updateDropProtectionState();
    // What the first frame does not show waits for it (at most
    // StartUpWorkHoldMs): the fetches, whose answers are worked in on this
    // thread, and the kill-switch status, which takes a script run and is
    // asked in the background. The entry that lifts a kill switch appears
    // once the answer is in.
    updateOptionInterlocks();
    if (m_qmlApplicationEngine) {
        m_startUpWorkTimer.setSingleShot(true);
        ASSERT_CONNECT(connect(&m_startUpWorkTimer, &QTimer::timeout, this, &Model::releaseStartUpWork));
        m_startUpWorkTimer.start(StartUpWorkHoldMs);
    } else {
        releaseStartUpWork();
    }
    updateV2RayProxyEnabled();
    qInfo().noquote() << Q_FUNC_INFO << "S19";

    ASSERT_CONNECT(connect(qApp, &QCoreApplication::aboutToQuit, this, &Model::aboutToQuit));
    qInfo().noquote() << Q_FUNC_INFO << "S20";
    qInfo().noquote() << Q_FUNC_INFO << "S20";

    ASSERT_CONNECT(connect(&m_refreshTimer, &QTimer::timeout, this, &Model::refreshTimerEvent));
    m_refreshTimer.start(RefreshIntervalMs);

    if (isDebugLoadTest()) {
        qWarning().noquote() << "start load testing";
        ASSERT_CONNECT(connect(&m_refreshDebugTimer, &QTimer::timeout, this, &Model::refreshDebugTimerEvent));
        m_refreshDebugTimer.start(LoadTestIntervalMs);
    }
    return true;
}

template <typename T>
bool Model::waitForWatcher(QFutureWatcher<T>* watcher, int maxWaitMs)
{
    QDeadlineTimer deadline(maxWaitMs);
    // The job's own state: the watcher's flag only changes when its finished
    // event is delivered, and no events are processed here.
    while (!watcher->future().isFinished()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

void Model::stopFetches()
{
    m_fetchStop->stop();
}

void Model::stop()
{
    shutDown(true);
}

bool Model::completeQuitWhileEnding()
{
    // Processing events here would run into the end of the process again.
    EventFreeWaits noEvents;
    qWarning().noquote() << Q_FUNC_INFO << "the process ends before its quit completed; completing it";
    // Called again from inside its own wait, it queues behind the step that
    // waits and takes the same decisions.
    if (!m_quitCompleted)
        aboutToQuit();
    // The tray icon belongs to the display, which may be gone.
    const bool threadsEnded = shutDown(false);
    qInfo().noquote() << Q_FUNC_INFO << "completed";
    return threadsEnded;
}

bool Model::shutDown(bool withTrayIcon)
{
    // Stopped before the window came up: nothing starts any more.
    cancelStartUpWork();
    stopFetches();
    bool threadsEnded = true;
    if (m_connectDisconnectThread) {
        m_connectDisconnectThread->finalize();
        threadsEnded = !m_connectDisconnectThread->isRunning();
    }
    if (m_trayIcon && withTrayIcon)
        m_trayIcon->setVisible(false);
    if (m_refreshTimer.isActive()) {
        m_refreshTimer.stop();
        ASSERT_CONNECT(disconnect(&m_refreshTimer, &QTimer::timeout, this, &Model::refreshTimerEvent));
    }
    threadsEnded = stopThreads() && threadsEnded;

    // A job still running after the wait keeps its watcher: deleting it
    // under a running job is not allowed, and the job itself ends on its own.
    auto release = [&threadsEnded](auto*& watcher, const char* name, int maxWaitMs = kFetchJobStopWaitMs) {
        if (!watcher)
            return;
        if (waitForWatcher(watcher, maxWaitMs)) {
            delete watcher;
        } else {
            qCritical().noquote() << "Model::stop" << name << "still running; left behind";
            threadsEnded = false;
        }
        watcher = nullptr;
    };
    release(m_newsFetch.watcher(), "news fetch");
    release(m_externalIpFetch.watcher(), "external address fetch");
    release(m_v2RayLocationsFetch.watcher(), "proxy list fetch");
    release(m_killSwitchStatusWatcher, "kill-switch status query", kKillSwitchStatusStopWaitMs);
    return threadsEnded;
}

void Model::refreshTimerEvent()
{
    try {
        qInfo().noquote() << Q_FUNC_INFO;
        getLocations().startSilent();
        updateNews();
        updateV2RayLocations();
        updateV2RayProxyEnabled();
    }
    ALOG_CATCHALL("Model::refreshTimerEvent")
}

void Model::refreshDebugTimerEvent()
{
    static int counter = 0;
    const int n = ++counter;

    if (n % 6 == 0) {
        qInfo().noquote() << "LOAD TEST: refreshTimerEvent";
        refreshTimerEvent();
    }
    if (n % 12 == 0) {
        try {
            qInfo().noquote() << "LOAD TEST: vpnConnectDisconnect";
            vpnConnectDisconnect();
        }
        ALOG_CATCHALL("Model::refreshDebugTimerEvent 1")
    }
    if (n % 4 == 0) {
        try {
            qInfo().noquote() << "LOAD TEST: change SkinType";
            setSkinType(m_skinType == Constants::SkinType_standart ? Constants::SkinType_standart_light
                                                                   : Constants::SkinType_standart);
        }
        ALOG_CATCHALL("Model::refreshDebugTimerEvent 2")
    }

    qInfo().noquote() << "LOAD TEST: initConnectionsMenu";
    if (m_trayIcon)
        m_trayIcon->initConnectionsMenu();

    qInfo().noquote() << "LOAD TEST: select random page";
    switch (randomBetween(1, 5)) {
    case 1:
        emit goPreferencesPage();
        break;
    case 2:
        emit goConnectPage();
        break;
    case 3:
        emit goSelectLocation();
        break;
    case 4:
        emit goSelectProtocol();
        break;
    default:
        emit goSelectPort();
        break;
    }

    qInfo().noquote() << "LOAD TEST: select random location";
    if (const Location::Ptr location = m_validLocations.randomElem())
        userSelectLocationById(location->code(), false);
}

void Model::updateAvailableClicked()
{
    QMessageBox box(QMessageBox::Information, tr("VPN app update"),
                    QStringLiteral("A new version is available. <a href=\"") + URL_CHANGELOG
                        + QStringLiteral("\">See changelog</a><br> Download and install it from our website."),
                    QMessageBox::Close, messageParent());
    box.setDefaultButton(QMessageBox::NoButton);
    box.exec();
}

void Model::setAppNewVersion(QString appNewVersion)
{
    if (m_appNewVersion == appNewVersion)
        return;
    m_appNewVersion = appNewVersion;
    emit appNewVersionChanged(m_appNewVersion);
}

void Model::dlog(QString text)
{
    qInfo().noquote() << Q_FUNC_INFO << text;
}
