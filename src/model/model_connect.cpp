// Connect and disconnect, the OpenVPN and V2Ray configuration files, the
// V2Ray client download, and the start-up, sleep/wake and quit handling.
#include "model/model.h"

#include "arctools.h"
#include "deployment.h"
#include "log.h"
#include "settings.h"
#include "systemhelper.h"
#include "utils.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <QtConcurrent>

namespace {

// The start-up connect has not been tried yet.
bool doOnce = true;
// Since the last forced reconnect after a wake; invalid until the first.
QElapsedTimer lastForceReconnectTime;

// Forced reconnects after a wake start at most once in this many seconds.
const qint64 kForceReconnectQuietSeconds = 19;
// The command that installs the tunnel adapter; this platform has none.
const char kTapInstallCommand[] = "";
const int kTapInstallTimeoutMs = 300000;
const int kWorkWaitSeconds = 180;

const char kLocalSocksAddress[] = "127.0.0.1";
const char kLocalSocksPort[] = "1080";
const char kV2RaySocksPort[] = "10801";

// A single word of a configuration line: a host name, an address or a
// gateway. Nothing that could end the word, start a comment or a new line.
bool isConfigWord(const QString& value)
{
    if (value.isEmpty() || value.size() > 255 || value.startsWith(QLatin1Char('-')))
        return false;
    for (const QChar c : value) {
        if (!(c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char(':')
              || c == QLatin1Char('_')))
            return false;
    }
    return true;
}

// A decimal number in [low, high] written the way JSON and OpenVPN read it
// back: digits only, no sign, no leading zero.
bool isPlainNumber(const QString& value, int low, int high)
{
    bool ok = false;
    const int number = value.toInt(&ok, 10);
    return ok && number >= low && number <= high && QString::number(number) == value;
}

bool isPortNumber(const QString& value)
{
    return isPlainNumber(value, 1, 65535);
}

// A whole line: no line break or other control character.
bool isSingleLine(const QString& value)
{
    for (const QChar c : value) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            return false;
    }
    return true;
}

// Text for the inside of a JSON string in a Latin-1 file: quotes,
// backslashes, control and non-ASCII characters escaped.
QString jsonStringContent(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        const ushort u = c.unicode();
        if (c == QLatin1Char('"') || c == QLatin1Char('\\')) {
            out += QLatin1Char('\\');
            out += c;
        } else if (u < 0x20 || u > 0x7e) {
            out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

// Replaces the placeholders in one pass: a value that itself holds a
// placeholder's text is never replaced again.
QString fillPlaceholders(const QString& text, const QList<QPair<QString, QString>>& values)
{
    QString out;
    out.reserve(text.size());
    int i = 0;
    while (i < text.size()) {
        bool replaced = false;
        if (text.at(i) == QLatin1Char('%')) {
            for (const auto& value : values) {
                if (text.midRef(i, value.first.size()) == value.first) {
                    out += value.second;
                    i += value.first.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += text.at(i++);
    }
    return out;
}

QString ovpnTemplateName(int bits, bool tcp)
{
    switch (bits) {
    case 128:
        return tcp ? QStringLiteral("tcp-128.ovpn") : QStringLiteral("udp-128.ovpn");
    case 256:
        return tcp ? QStringLiteral("tcp-256.ovpn") : QStringLiteral("udp-256.ovpn");
    case 257:
        return (tcp ? QStringLiteral("ecc-tcp-128%1.ovpn") : QStringLiteral("ecc-udp-128%1.ovpn")).arg(QString());
    case 258:
        return tcp ? QStringLiteral("xor-tcp-128.ovpn") : QStringLiteral("xor-udp-128.ovpn");
    default:
        return QString();
    }
}

// The template family of a protocol.
int ovpnBits(Constants::ProtocolType protocol)
{
    switch (protocol) {
    case Constants::ProtocolType_OPENVPN128:
        return 128;
    case Constants::ProtocolType_OPENVPN_ECC:
        return 257;
    case Constants::ProtocolType_OPENVPN_XOR:
        return 258;
    default:
        return 256;
    }
}

bool writesOpenVpnFile(Constants::ProtocolType protocol)
{
    return protocol != Constants::ProtocolType_PPTP && protocol != Constants::ProtocolType_IKEv2
        && protocol != Constants::ProtocolType_L2TP;
}

// Seconds from a settings text; `fallback` when it is not an integer.
int delaySeconds(const QString& text, int fallback)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : fallback;
}

} // namespace

// ----------------------------------------------------------------- proxy kinds and files

bool proxyLocationDisabled(const ProxyLocation::Ptr& proxyLocation)
{
    return !proxyLocation || proxyLocation->id() == QLatin1String(PROXY_LOCATION_DISABLED);
}

bool proxyLocationLocal(const ProxyLocation::Ptr& proxyLocation)
{
    return proxyLocation && proxyLocation->id() == QLatin1String(PROXY_LOCATION_LOCAL);
}

bool proxyLocationV2Ray(const ProxyLocation::Ptr& proxyLocation)
{
    return proxyLocation && !proxyLocationDisabled(proxyLocation) && !proxyLocationLocal(proxyLocation);
}

QString killSwitchHost(const Connection& connection)
{
    const ProxyLocation::Ptr proxy = connection.proxyLocation();
    return proxyLocationV2Ray(proxy) ? proxy->address() : connection.connectionHost();
}

bool readFileContent(const QString& fullFilePath, QByteArray& res)
{
    // A directory (a resource folder too) opens, but holds no content.
    if (!QFileInfo(fullFilePath).isFile()) {
        qCritical().noquote() << "file not exists:" << fullFilePath;
        return false;
    }
    QFile file(fullFilePath);
    if (!file.open(QIODevice::ReadOnly)) {
        qCritical().noquote() << "can't open file:" << fullFilePath;
        return false;
    }
    res = file.readAll();
    const bool complete = res.size() == file.size();
    file.close();
    return complete;
}

bool readFileContentAsString(const QString& fullFilePath, QString& res)
{
    QByteArray bytes;
    if (!readFileContent(fullFilePath, bytes))
        return false;
    res = QString::fromLatin1(bytes);
    return true;
}

// ----------------------------------------------------------------- debug page

void Model::minidump()
{
    qWarning().noquote() << "Can't make minidump. App build without breakpad.";
}

void Model::writeOpenVpnCommand(QString cmd)
{
    m_connectDisconnectThread->writeOpenVpnCommand(cmd);
}

void Model::logDebugInfo()
{
    ALogMsgGroup group(QStringLiteral("SystemHelper info"));
    SystemHelper::instance().logInfo();
}

// ----------------------------------------------------------------- connect and disconnect

bool Model::isLocationValidForProtocol(const Location::Ptr& location, const Protocol::Ptr& protocol)
{
    return location && protocol && location->locationType() == protocol->locationType();
}

void Model::vpnConnectDisconnect()
{
    try {
        Connection* c = connection();
        qInfo().noquote() << Q_FUNC_INFO << Constants::stateToStr(connectionState());
        // Until the worker takes a connect up, the engine still reads
        // Disconnected while the window shows Connecting: a press then
        // cancels that connect.
        const bool connectPending = m_connectDisconnectThread->askedState() == Constants::RequestedAction_Connect;
        if (!c->isDisconnectedState() || connectPending) {
            qInfo().noquote() << "======== TRY DISCONNECT IN SEPARATE THREAD ============";
            m_connectDisconnectThread->askState(Constants::RequestedAction_Disconnect);
            return;
        }

        if (m_username.isEmpty()) {
            activateMainWindow();
            emit goPreferencesPage();
            showToast(tr("User name not specified"));
            return;
        }
        if (m_userpassword.isEmpty()) {
            activateMainWindow();
            emit goPreferencesPage();
            showToast(tr("Password name not specified"));
            return;
        }
        if (!m_selectedLocation) {
            activateMainWindow();
            showToast(tr("Location not selected"));
            return;
        }
        // Without a protocol and port the configuration cannot be written.
        if (!m_selectedProtocol || (m_selectedProtocol->isOpenVpn() && !m_selectedPort)) {
            activateMainWindow();
            showToast(tr("Protocol or port not selected"));
            return;
        }
        // The host comes from a download and goes into "config.ovpn".
        if (!isConfigWord(m_selectedLocation->connectionHost())) {
            qCritical().noquote() << Q_FUNC_INFO << "unusable server address for" << m_selectedLocation->code();
            activateMainWindow();
            showToast(tr("The server address of this location is not valid"));
            return;
        }

        c->setOptionDoNotChangeDNS(m_optionDoNotChangeDNS->value());
        c->setOptionGatewayRemoval(m_optionGatewayRemoval->value());
        c->setOptionDisableDNS(m_optionDisableDNS->value());
        c->setLocation(m_selectedLocation);
        c->setProtocol(m_selectedProtocol);
        c->setPort(m_selectedPort);
        c->setConnectionHost(m_selectedLocation->connectionHost());
        c->setProxyLocation(m_v2RayAvailable ? m_selectedProxyLocation : ProxyLocation::Ptr());
        c->setDnsFiltering(m_selectedDNSFiltering);

        const ProxyLocation::Ptr proxy = c->proxyLocation();
        const bool useProxy = m_v2RayAvailable && !proxyLocationDisabled(proxy);
        const QString socksAddress = useProxy ? QString::fromLatin1(kLocalSocksAddress) : QString();
        const QString socksPort = socksAddress.isEmpty() ? QString()
            : proxyLocationLocal(proxy)                  ? QString::fromLatin1(kLocalSocksPort)
                                                         : QString::fromLatin1(kV2RaySocksPort);

        QList<QString> dnsLines;
        const DNSFiltering::Ptr filtering = c->dnsFiltering();
        if (filtering && m_selectedProtocol->isOpenVpn()) {
            QString resolver;
            if (filtering->dnsFiltering() == Constants::DNSFiltering_secureDNS)
                resolver = Deployment::value(QStringLiteral("dns/secureResolver"));
            else if (filtering->dnsFiltering() == Constants::DNSFiltering_secureDNS_localStreaming)
                resolver = Deployment::value(QStringLiteral("dns/secureStreamingResolver"));
            if (!resolver.isEmpty()) {
                dnsLines << QStringLiteral("pull-filter ignore \"dhcp-option DNS\"")
                         << QStringLiteral("dhcp-option DNS ") + resolver;
            }
        }

        // The user's own SOCKS proxy runs on this machine: no bypass route.
        const QString proxyRouteHost = useProxy && proxyLocationV2Ray(proxy) ? proxy->address() : QString();

        // The file of an earlier connect never serves this one: it goes
        // first, and a connect whose file is not written does not start.
        const QString ovpnPath = SystemHelper::instance().configsFilesDirPath() + QLatin1Char('/')
            + Constants::openVpnConfigFileName();
        if (QFileInfo::exists(ovpnPath) && !QFile::remove(ovpnPath)) {
            qCritical().noquote() << Q_FUNC_INFO << "Can't delete file" << ovpnPath;
            showToast(tr("Can't write the OpenVPN configuration: %1 cannot be replaced").arg(ovpnPath));
            return;
        }
        const Constants::ProtocolType protocolType = m_selectedProtocol->id();
        if (writesOpenVpnFile(protocolType)) {
            const QString route = m_optionGatewayRemoval->value() ? SystemHelper::instance().getDefaultRoute()
                                                                  : QString();
            QString whyNot;
            if (!makeOVPNFile(ovpnBits(protocolType), c->port()->getProtocolStr(), c->port()->getPortNum(),
                              c->connectionHost(), true, route, false, socksAddress, socksPort, dnsLines,
                              proxyRouteHost, &whyNot)) {
                showToast(tr("Can't write the OpenVPN configuration: %1").arg(whyNot));
                return;
            }
        }

        if (!configureV2ProxyConfFile(proxy)) {
            showToast(QStringLiteral("Can't configure v2ray"));
            return;
        }

        if (!Settings::fullLog())
            ALog::Clear();
        else
            qDebug().noquote() << QString(72, QLatin1Char('-'));

        setConnectLocation(m_selectedLocation);
        qInfo().noquote() << "======== TRY CONNECT IN SEPARATE THREAD ============";
        // Shown as connecting from the press on, also while the worker is
        // still starting up: a second press then means what it shows.
        if (m_connectDisconnectThread->askState(Constants::RequestedAction_Connect))
            setVisualConnectionState(Constants::ConnectState_Connecting);
    }
    ALOG_CATCHALL("Model::vpnConnectDisconnect")
}

void Model::doDisconnect(bool waitWithProcessMessages)
{
    try {
        Connection* c = connection();
        if (!c || c->isDisconnectedState())
            return;
        if (c->isConnectedState())
            m_connectDisconnectThread->askState(Constants::RequestedAction_Disconnect);
        const int stepMs = 200;
        for (int waitedMs = 0; waitedMs <= 9999; waitedMs += stepMs) {
            if (waitWithProcessMessages) {
                if (connectionState() == Constants::ConnectState_Disconnected)
                    break;
                processMessages(stepMs);
            } else {
                if (c->isDisconnectedState())
                    break;
                QThread::msleep(stepMs);
            }
        }
        if (!c->isDisconnectedState())
            qWarning().noquote() << Q_FUNC_INFO << "not disconnected";
    }
    ALOG_CATCHALL("Model::doDisconnect")
}

void Model::selectLocationWithConnect(Location::Ptr location)
{
    try {
        if (!location) {
            qWarning().noquote() << Q_FUNC_INFO << "empty location object";
            return;
        }
        // Another choice may come in one of the waits below and run to its
        // end there; it is the later one, so it holds and this one stops.
        const quint64 choice = ++m_locationChoices;
        auto supersede = [this, choice] {
            if (choice == m_locationChoices)
                return false;
            qDebug().noquote() << "Model::selectLocationWithConnect a later choice took over";
            return true;
        };
        auto stateText = [this] { return Constants::stateToStr(connectionState()); };
        qDebug().noquote() << Q_FUNC_INFO << "P1" << stateText();
        m_connectDisconnectThread->waitWorkCompleted(kWorkWaitSeconds);
        if (supersede())
            return;
        qDebug().noquote() << Q_FUNC_INFO << "P1-1" << stateText();
        setChangingLocationFlag(true);

        if (connectionState() == Constants::ConnectState_Connected) {
            qDebug().noquote() << Q_FUNC_INFO << "P2" << stateText();
            vpnConnectDisconnect();
            m_connectDisconnectThread->waitWorkCompleted(kWorkWaitSeconds);
            if (supersede())
                return;
            qDebug().noquote() << Q_FUNC_INFO << "P3" << stateText();
        }

        if (connectionState() != Constants::ConnectState_Connected) {
            qDebug().noquote() << Q_FUNC_INFO << "P5" << stateText();
            setSelectedLocation(location);
            SystemHelper::sleep(100);
            m_connectDisconnectThread->waitWorkCompleted(kWorkWaitSeconds);
            if (supersede())
                return;
            qDebug().noquote() << Q_FUNC_INFO << "P6" << stateText();
            QMetaObject::invokeMethod(this, "vpnConnectDisconnect", Qt::QueuedConnection);
            QTimer::singleShot(500, this, &Model::resetChangingLocationFlag);
        } else {
            qDebug().noquote() << Q_FUNC_INFO << "P7" << stateText();
            resetChangingLocationFlag();
        }
    }
    ALOG_CATCHALL("Model::selectLocationWithConnect")
}

void Model::onConnectionStateChanged(Constants::ConnectState oldState, Constants::ConnectState newState, bool withError)
{
    emit connectionStateChanged(newState);
    Timer timer(QStringLiteral("Model::onConnectionStateChanged ") + Constants::stateToStr(oldState)
                + QStringLiteral("->") + Constants::stateToStr(newState));
    try {
        if (newState == Constants::ConnectState_Connected)
            setConnectedTime(QDateTime::currentDateTime());
        updateDependedOptions();

        if (newState == Constants::ConnectState_Connected) {
            saveConnectionParams();
            if (m_optionSavePassword->value())
                saveCredentials();
            updateExternalIp(false);
            if (m_trayIcon)
                m_trayIcon->onConnected();
            // The worker's reaction to this state came first and asked for
            // the kill switch; a refusal must not pass for protection.
            const Connection* c = connection();
            if (c && c->optionGatewayRemoval())
                showKillSwitchFailure();
        } else if (newState == Constants::ConnectState_Disconnected) {
            setConnectLocation(Location::Ptr());
            const bool showError = oldState != Constants::ConnectState_Disconnecting && withError;
            if (!m_changingLocationFlag)
                updateExternalIp(false);
            if (m_trayIcon)
                m_trayIcon->onDisconnected();
            setIsRestoreGwAvailable(SystemHelper::instance().isDefaultRouteRemoved(false));
            if (showError) {
                qDebug().noquote() << "onDisconnected() with Error";
                activateMainWindow();
                showToast(tr("VPN disconnected"));
            }
        }
    }
    ALOG_CATCHALL("Model::onConnectionStateChanged")
}

void Model::onConnectionError(QString msg)
{
    try {
        qDebug().noquote() << "onConnectionError()";
        // The engine's texts are rich text with a link to the help page; it
        // escapes every part that comes from elsewhere.
        auto* box = new QMessageBox(QMessageBox::NoIcon, QString::fromLatin1(message_title), msg, QMessageBox::Ok,
                                    messageParent());
        box->setTextFormat(Qt::RichText);
        box->setTextInteractionFlags(Qt::TextBrowserInteraction);
        // Modal, but not run in a loop of its own: the error often comes
        // while a state reaction waits for a command, which must finish and
        // show the engine's state behind the box.
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::ApplicationModal);
        box->show();
    }
    ALOG_CATCHALL("Model::onConnectionError")
}

void Model::doConnectOnStartup()
{
    try {
        if (!doOnce)
            return;
        Connection* c = connection();
        c->setOptionDoNotChangeDNS(m_optionDoNotChangeDNS->value());
        c->setOptionGatewayRemoval(m_optionGatewayRemoval->value());
        c->setOptionDisableDNS(m_optionDisableDNS->value());

        if (c->attachAvailable()) {
            m_connectDisconnectThread->askState(Constants::RequestedAction_Attach);
            doOnce = false;
            return;
        }
        if (!m_optionAutoConnectOnLaunch->value())
            return;
        doOnce = false;
        if (!m_selectedLocation || !m_selectedProtocol)
            return;
        if (Settings::protocol() != m_selectedProtocol->name())
            return;
        const ProtocolSettingGroup::Ptr group = m_selectedProtocol->protocolSettingGroup();
        if (!group
            || (m_selectedLocation->code() != group->defaultLocation()
                && m_selectedLocation->id() != group->defaultLocation()))
            return;
        QTimer::singleShot(0, this, &Model::vpnConnectDisconnect);
    }
    ALOG_CATCHALL("Model::doConnectOnStartup")
}

// ----------------------------------------------------------------- kill switch

void Model::updateDropProtectionState()
{
    const Connection* c = connection();
    if (!c || !c->isConnectedState())
        return;
    SystemHelper& system = SystemHelper::instance();
    if (c->optionGatewayRemoval()) {
        // Enabled now: the local-network rule the option calls for goes with
        // it, as at connect. Already in force: its rules stay as they are.
        if (!system.isDefaultRouteRemoved(false)) {
            if (!system.removeDefaultRoute(killSwitchHost(*c))) {
                showKillSwitchFailure();
                return;
            }
            if (m_optionDisableLANTraffic->value())
                system.localnetworkTrafficDeny();
            else
                system.localnetworkTrafficAllow();
        }
    } else if (!system.restoreDefaultRoute(false)) {
        showKillSwitchOffFailure();
    }
}

void Model::showKillSwitchFailure()
{
    const QString why = SystemHelper::instance().killSwitchFailure();
    if (why.isEmpty())
        return;
    qWarning().noquote() << "Kill switch is off:" << why;
    activateMainWindow();
    showToast(tr("The kill switch could not be turned on"), why);
}

void Model::showKillSwitchOffFailure()
{
    const QString why = SystemHelper::instance().killSwitchFailure();
    if (why.isEmpty())
        return;
    qWarning().noquote() << "Kill switch is still on:" << why;
    activateMainWindow();
    showToast(tr("The kill switch could not be turned off"), why);
}

void Model::showDnsFailure()
{
    const QString why = SystemHelper::instance().dnsFailure();
    qWarning().noquote() << "Tunnel resolver not set:" << why;
    activateMainWindow();
    showToast(tr("The DNS servers of the VPN could not be set"), why);
}

void Model::restoreGw()
{
    restoreDefaultRoute(true, true);
}

void Model::restoreGwFromConfig()
{
    SystemHelper::instance().restoreGwServiceExec();
}

void Model::restoreDefaultRoute(bool needRequestIp, bool waitWhileRestored)
{
    try {
        SystemHelper& system = SystemHelper::instance();
        if (!system.restoreDefaultRoute(waitWhileRestored))
            showKillSwitchOffFailure();
        const Connection* c = connection();
        if (c && !c->isConnectedState()) {
            system.staticRouteDelete(c->connectionHost());
            if (!m_optionDoNotChangeDNS->value())
                system.restoreDnsRecords();
            setIsRestoreGwAvailable(system.isDefaultRouteRemoved(false));
        }
        if (needRequestIp)
            updateExternalIp(false);
    }
    ALOG_CATCHALL("Model::restoreDefaultRoute")
}

// ----------------------------------------------------------------- OpenVPN configuration file

bool Model::makeOVPNFile(int bits, QString protocol, QString port, QString server, bool bWithPersistRemoteIp,
                         const QString& route, bool withLowerMTU, const QString& sockProxyIp,
                         const QString& sockProxyPort, const QList<QString>& dnsFiltering,
                         const QString& proxyRouteHost, QString* whyNot)
{
    auto refuse = [whyNot](const QString& reason) {
        if (whyNot)
            *whyNot = reason;
        return false;
    };
    try {
        const QString dirPath = SystemHelper::instance().configsFilesDirPath();
        if (!QDir(dirPath).exists() && !QDir().mkpath(dirPath)) {
            qCritical().noquote() << Q_FUNC_INFO << "can't create directory:" << dirPath;
            return refuse(tr("the directory %1 cannot be created").arg(dirPath));
        }
        const QString target = dirPath + QLatin1Char('/') + Constants::openVpnConfigFileName();
        const bool tcp = protocol == QLatin1String("TCP");

        QByteArray templateBytes;
        if (!readFileContent(QStringLiteral(":/ovpnconfs/") + ovpnTemplateName(bits, tcp), templateBytes))
            return refuse(tr("no template for this protocol"));

        // Every value below ends up as a word of a directive: one that could
        // end its line or add a directive of its own is refused.
        QStringList refused;
        if (!isConfigWord(server))
            refused << QStringLiteral("server");
        if (!isPortNumber(port))
            refused << QStringLiteral("port");
        if (!route.isEmpty() && !isConfigWord(route))
            refused << QStringLiteral("route");
        if (!sockProxyIp.isEmpty() && (!isConfigWord(sockProxyIp) || !isPortNumber(sockProxyPort)))
            refused << QStringLiteral("socks proxy");
        if (!proxyRouteHost.isEmpty() && !isConfigWord(proxyRouteHost))
            refused << QStringLiteral("proxy route host");
        for (const QString& line : dnsFiltering) {
            if (!isSingleLine(line))
                refused << QStringLiteral("DNS line");
        }
        if (!refused.isEmpty()) {
            qCritical().noquote() << Q_FUNC_INFO
                                  << "not written, unusable values:" << refused.join(QStringLiteral(", "));
            return refuse(tr("unusable %1").arg(refused.join(QStringLiteral(", "))));
        }

        QStringList lines = dnsFiltering;
        if (tcp)
            lines << QStringLiteral("proto tcp-client");
        lines << QStringLiteral("remote ") + server;
        lines << QStringLiteral("rport ") + port;
        if (bWithPersistRemoteIp)
            lines << QStringLiteral("persist-remote-ip");
        // The server stays reachable through the physical gateway while the
        // kill switch has taken the default route away.
        if (!route.isEmpty())
            lines << QStringLiteral("route ") + server + QStringLiteral(" 255.255.255.255 ") + route;
        if (withLowerMTU)
            lines << QStringLiteral("mssfix 1245");
        if (!sockProxyIp.isEmpty())
            lines << QStringLiteral("socks-proxy ") + sockProxyIp + QLatin1Char(' ') + sockProxyPort;
        if (!proxyRouteHost.isEmpty())
            lines << QStringLiteral("route %1 255.255.255.255 net_gateway default").arg(proxyRouteHost);

        QByteArray content;
        for (const QString& line : qAsConst(lines))
            content += line.toLocal8Bit() + "\r\n";
        content += templateBytes;

        // Replaced whole or not at all.
        QSaveFile file(target);
        if (!file.open(QIODevice::WriteOnly) || !makePrivate(file) || file.write(content) != content.size()
            || !file.commit()) {
            qCritical().noquote() << Q_FUNC_INFO << "Can't write file" << target << file.errorString();
            return refuse(tr("%1 cannot be written").arg(target));
        }
        return true;
    }
    ALOG_CATCHALL("Model::makeOVPNFile")
    return refuse(tr("internal error"));
}

// ----------------------------------------------------------------- V2Ray

void Model::updateV2RayLocations()
{
    try {
        const auto job = [this] { return QtConcurrent::run(&getProxyLocations, getV2RayProxyListUrls(), m_fetchStop); };
        const auto handle = [this](const GetProxyLocationsResult& result) {
            QList<ProxyLocation::Ptr> fetched;
            if (!result.errors.isEmpty() && result.locations.isEmpty()) {
                qCritical().noquote() << "Get v2Ray Locations  error:"
                                      << logSafe(result.errors).join(QLatin1Char('\n'));
                getStoredProxyLocations(fetched);
            } else {
                fetched = result.locations;
            }
            for (const ProxyLocation::Ptr& location : qAsConst(fetched)) {
                if (location->id().startsWith(QLatin1String("cf")) && location->id().endsWith(QLatin1String("proxy")))
                    location->setFirstCountryCode(QString::fromLatin1(CLOUDFLARE_FLAG_ICON_NAME));
            }
            QList<ProxyLocation::Ptr> list;
            list << ProxyLocation::Ptr(new ProxyLocation(QString::fromLatin1(PROXY_LOCATION_DISABLED),
                                                         QStringLiteral("None (disabled)"), QString(), QString(),
                                                         QString(), QString(), QString()));
            list << ProxyLocation::Ptr(new ProxyLocation(
                QString::fromLatin1(PROXY_LOCATION_LOCAL), QStringLiteral("Your own local SOCKS5 proxy"),
                QStringLiteral("127.0.0.1 1080"), QString(), QString(), QString(), QString()));
            list << fetched;
            m_proxyLocations.setList(list);
            configureConnectionSettings(v2RayProxyConnectionsListUpdated);
            updateV2RayProxyEnabled();
        };
        if (!m_v2RayLocationsFetch.request(
                this, job, handle, [this] { updateV2RayLocations(); }, "Model::updateV2RayLocations::finished"))
            qWarning().noquote() << "!v2RayLocationsWatcher->isFinished";
    }
    ALOG_CATCHALL("Model::updateV2RayLocations")
}

void Model::updateV2RayProxyEnabled()
{
    const QString path = SystemHelper::instance().v2RayBinaryFullFilePath();
    const bool exists = QFileInfo::exists(path);
    qDebug().noquote() << "hideV2Ray:" << hideV2Ray();
    qDebug().noquote() << "v2RayBinaryFullFilePath:" << path;
    qDebug().noquote() << "QFileInfo::exists(v2RayBinaryFullFilePath):" << exists;
    setV2RayProxyEnabled(!hideV2Ray() && !proxyLocationDisabled(m_selectedProxyLocation));
    setV2RayAvailable(!hideV2Ray() && exists);
}

void Model::v2RayDownload()
{
    try {
        if (m_v2RayDownloader) {
            qDebug().noquote() << Q_FUNC_INFO << "downloader not empty";
            return;
        }
        const QStringList urls = getV2RayBinaryUrls();
        if (urls.isEmpty()) {
            qDebug().noquote() << Q_FUNC_INFO << "urls is empty";
            return;
        }
        // Released from inside its own finished signal: deleted later.
        m_v2RayDownloader = QSharedPointer<Downloader>(downloadWithController(QUrl(urls.first())),
                                                       &QObject::deleteLater);
        emit v2RayDownloaderChanged(m_v2RayDownloader.data());
        ASSERT_CONNECT(connect(m_v2RayDownloader.data(), &Downloader::finished, this, [this](QString error) {
            try {
                qDebug().noquote() << "Downloader::completed / size:" << logSafe(error);
                const QByteArray data = error.isEmpty() && m_v2RayDownloader ? m_v2RayDownloader->result().data
                                                                             : QByteArray();
                m_v2RayDownloader.reset();
                emit v2RayDownloaderChanged(nullptr);
                if (!error.isEmpty()) {
                    showToast(QStringLiteral("Can't get v2ray\n") + error);
                    return;
                }

                // The extraction logs what its reading of the archive found.
                const QString targetDir = QFileInfo(SystemHelper::instance().v2RayBinaryFullFilePath()).absolutePath();
                QString extractError;
                qDebug().noquote() << Q_FUNC_INFO << "archive size:" << data.size();
                if (!ArcTools::extractArchive(data, targetDir, &extractError)) {
                    qDebug().noquote() << Q_FUNC_INFO << "extractAll failed" << extractError;
                    showToast(QStringLiteral("Zip extraction error."));
                    return;
                }
                // An archive made elsewhere may not carry the executable bit.
                const QString binary = SystemHelper::instance().v2RayBinaryFullFilePath();
                if (QFileInfo(binary).isFile())
                    QFile::setPermissions(binary, QFile::permissions(binary) | QFile::ExeOwner | QFile::ReadOwner);
                qDebug().noquote() << Q_FUNC_INFO << "END status()"
                                   << "extracted into" << targetDir;
                updateV2RayProxyEnabled();
            }
            ALOG_CATCHALL("Model::v2RayDownload::finished")
        }));
    }
    ALOG_CATCHALL("Model::v2RayDownload")
}

bool Model::configureV2ProxyConfFile(ProxyLocation::Ptr proxyLocation)
{
    try {
        const QString dirPath = SystemHelper::instance().configsFilesDirPath();
        const QString target = dirPath + QLatin1Char('/') + Constants::v2RayConfigFileName();
        const Connection* c = connection();
        if (!proxyLocation || !c || !proxyLocationV2Ray(c->proxyLocation())) {
            if (QFileInfo::exists(target) && !QFile::remove(target))
                qWarning().noquote() << Q_FUNC_INFO << "Can't delete file" << target;
            return true;
        }

        // A file from an earlier connect must not survive a failed write.
        if (QFileInfo::exists(target) && !QFile::remove(target)) {
            qCritical().noquote() << Q_FUNC_INFO << "Can't delete file" << target;
            return false;
        }
        if (!QDir(dirPath).exists())
            QDir().mkpath(dirPath);
        QString text;
        if (!readFileContentAsString(QStringLiteral(":/ovpnconfs/proxy_template.json"), text))
            return false;

        // The rule the proxy list applies; port and alter id stand unquoted
        // in the file, the other values inside strings (escaped all the same).
        QString unusable;
        if (!proxyLocation->isUsable(&unusable)) {
            qCritical().noquote() << Q_FUNC_INFO << "unusable" << unusable << "of proxy"
                                  << logSafe(proxyLocation->id());
            return false;
        }
        text = fillPlaceholders(text,
                                {
                                    { QStringLiteral("%address%"), jsonStringContent(proxyLocation->address()) },
                                    { QStringLiteral("%port%"), proxyLocation->port() },
                                    { QStringLiteral("%userid%"), jsonStringContent(proxyLocation->userid()) },
                                    { QStringLiteral("%alterid%"), proxyLocation->alterid() },
                                    { QStringLiteral("%path%"), jsonStringContent(proxyLocation->path()) },
                                });

        QSaveFile file(target);
        if (!file.open(QIODevice::WriteOnly) || !makePrivate(file) || file.write(text.toLatin1()) < 0
            || !file.commit()) {
            qCritical().noquote() << Q_FUNC_INFO << "Can't write file" << target;
            return false;
        }
        return true;
    }
    ALOG_CATCHALL("Model::makeV2ProxyConfFile")
    // A file not known to be right must not be used.
    return false;
}

// ----------------------------------------------------------------- start-up checks

void Model::checkVpnInstalled()
{
    const QString title = QString::fromLatin1(message_title);
    qDebug().noquote() << "checkVpnInstalled...";
    if (!m_connectDisconnectThread->waitInitializeCompleted(10))
        QMessageBox::information(messageParent(), title, tr("Can't initialize internal structures."));

    if (!m_connectDisconnectThread->connectionInitializeResult()) {
        qDebug().noquote() << "S14";
        QMessageBox::information(messageParent(), title, tr("OpenVPN initialize error"));
    }

    qDebug().noquote() << "S15";
    if (!m_connectDisconnectThread->connectionTapInstalledResult()) {
        qDebug().noquote() << "S16";
        const QMessageBox::StandardButton answer = QMessageBox::question(
            messageParent(), title, tr("TAP drivers not installed. Install it now?"),
            QMessageBox::Yes | QMessageBox::Cancel);
        if (answer == QMessageBox::Yes) {
            const QString installCommand = QString::fromLatin1(kTapInstallCommand);
            if (!installCommand.isEmpty()) {
                QString output;
                SystemHelper::executeWithWait(installCommand, QStringList(), output, kTapInstallTimeoutMs, false, true);
            }
            qDebug().noquote() << "S17";
            if (!m_connectDisconnectThread->connectionTapInstalledResultUpdated()) {
                qDebug().noquote() << "S18";
                QMessageBox::warning(messageParent(), title, tr("TAP drivers not installed. Terminated"));
                QCoreApplication::quit();
                return;
            }
        }
    }

    startIpcServer();
}

// ----------------------------------------------------------------- sleep, wake and quit

void Model::receiveSleep()
{
    qDebug().noquote() << Q_FUNC_INFO;
}

void Model::receiveWake()
{
    qDebug().noquote() << Q_FUNC_INFO;
    const QString stateText = connectionState() == Constants::ConnectState_Connected ? tr("Connected")
                                                                                     : tr("Disconnected");
    if (m_trayIcon && QSystemTrayIcon::supportsMessages() && QSystemTrayIcon::isSystemTrayAvailable()) {
        m_trayIcon->showMessage(tr("OSTREL"), tr("OSTREL Client Software") + QLatin1Char(' ') + stateText,
                                QSystemTrayIcon::Information, 10000);
        emit resume();
        if (QWindow* window = mainWindow())
            window->requestUpdate();
        else
            qWarning().noquote() << Q_FUNC_INFO << "mainWindow() == null";
    }
    qDebug().noquote() << "optionForceReconnectOnSleepResume:" << m_optionForceReconnectOnSleepResume->value()
                       << ".     connectState:" << Constants::stateToStr(connectionState());
    if (m_optionForceReconnectOnSleepResume->value()) {
        const int delay = forceReconnectOnSleepResumeDelaySec();
        if (delay < 0) {
            qWarning().noquote() << Q_FUNC_INFO << "negative reconnect delay; no reconnect";
            return;
        }
        QTimer::singleShot(delay * 1000, this, &Model::forceReconnect);
    }
}

void Model::forceReconnect()
{
    qDebug().noquote() << Q_FUNC_INFO << "connectState:" << Constants::stateToStr(connectionState());
    if (lastForceReconnectTime.isValid() && lastForceReconnectTime.elapsed() / 1000 <= kForceReconnectQuietSeconds) {
        qDebug().noquote() << Q_FUNC_INFO << "skip extra notification";
        return;
    }
    lastForceReconnectTime.start();
    if (connectionState() != Constants::ConnectState_Connected
        && connectionState() != Constants::ConnectState_Connecting)
        return;

    const int delay = forceReconnectOnSleepResumeConnectDelaySec();
    qDebug().noquote() << Q_FUNC_INFO << "selectLocationWithConnect with connect delay:" << delay * 1000;
    m_connectDisconnectThread->askState(Constants::RequestedAction_Disconnect);
    m_connectDisconnectThread->waitWorkCompleted(kWorkWaitSeconds);
    connection()->waitForState(QThread::currentThread(), Constants::ConnectState_Disconnected, 30);
    if (connectionState() == Constants::ConnectState_Disconnected) {
        setChangingLocationFlag(true);
        if (delay * 1000 > 0)
            processMessages(delay * 1000);
        selectLocationWithConnect(m_selectedLocation);
    } else {
        qWarning().noquote() << Q_FUNC_INFO << "P4"
                             << "connectState() != Constants::ConnectState_Disconnected";
    }
}

int Model::forceReconnectOnSleepResumeDelaySec()
{
    const int value = delaySeconds(Settings::reconnectOnSleepResumeDelaySec(), 5);
    qDebug().noquote() << Q_FUNC_INFO << value;
    return value;
}

int Model::forceReconnectOnSleepResumeConnectDelaySec()
{
    const int value = delaySeconds(Settings::reconnectOnSleepResumeConnectDelaySec(), 2);
    qDebug().noquote() << Q_FUNC_INFO << value;
    return value;
}

void Model::aboutToQuit()
{
    try {
        qDebug().noquote() << Q_FUNC_INFO;
        stopFetches();
        // The password only when the user asked for it (saveCredentials).
        saveCredentials();
        const Connection* c = connection();
        if (c && !c->isDisconnectedState())
            qWarning().noquote() << "!connection()->isDisconnectedState()";
        if (m_optionGatewayRemoval->value() && QOpenVPN2::anotherClientsSession())
            qWarning().noquote() << Q_FUNC_INFO
                                 << "another running copy of the client has its session open; its kill switch stays";
        else if (m_optionGatewayRemoval->value())
            restoreDefaultRoute(false, true);
        if (!Settings::fullLog())
            ALog::Clear();
        SystemHelper::instance().finalize();
        qDebug().noquote() << Q_FUNC_INFO << "completed";
        m_quitCompleted = true;
    }
    ALOG_CATCHALL("Model::aboutToQuit")
}
