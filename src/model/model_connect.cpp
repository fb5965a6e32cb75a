// Connect and disconnect, the configuration files, V2Ray and the start-up, sleep and quit handling: behaviour filled in separately.
#include "model/model.h"

bool proxyLocationDisabled(const ProxyLocation::Ptr& proxyLocation)
{
    Q_UNUSED(proxyLocation)
    return true;
}

bool proxyLocationLocal(const ProxyLocation::Ptr& proxyLocation)
{
    Q_UNUSED(proxyLocation)
    return false;
}

bool proxyLocationV2Ray(const ProxyLocation::Ptr& proxyLocation)
{
    Q_UNUSED(proxyLocation)
    return false;
}

bool readFileContent(const QString& fullFilePath, QByteArray& res)
{
    Q_UNUSED(fullFilePath)
    Q_UNUSED(res)
    return false;
}

bool readFileContentAsString(const QString& fullFilePath, QString& res)
{
    Q_UNUSED(fullFilePath)
    Q_UNUSED(res)
    return false;
}

void Model::minidump() {}
void Model::writeOpenVpnCommand(QString cmd) { Q_UNUSED(cmd) }
void Model::v2RayDownload() {}
void Model::vpnConnectDisconnect() {}
void Model::restoreGw() {}
void Model::restoreGwFromConfig() {}
void Model::checkVpnInstalled() {}
void Model::forceReconnect() {}
void Model::updateV2RayProxyEnabled() {}
void Model::updateV2RayLocations() {}
void Model::logDebugInfo() {}
void Model::onConnectionError(QString msg) { Q_UNUSED(msg) }
void Model::updateDropProtectionState() {}

void Model::restoreDefaultRoute(bool needRequestIp, bool waitWhileRestored)
{
    Q_UNUSED(needRequestIp)
    Q_UNUSED(waitWhileRestored)
}

void Model::aboutToQuit() {}

void Model::onConnectionStateChanged(Constants::ConnectState oldState, Constants::ConnectState newState)
{
    Q_UNUSED(oldState)
    Q_UNUSED(newState)
}

void Model::doConnectOnStartup() {}
void Model::receiveSleep() {}
void Model::receiveWake() {}
void Model::doDisconnect(bool waitWithProcessMessages) { Q_UNUSED(waitWithProcessMessages) }
void Model::selectLocationWithConnect(Location::Ptr location) { Q_UNUSED(location) }

bool Model::isLocationValidForProtocol(const Location::Ptr& location, const Protocol::Ptr& protocol)
{
    Q_UNUSED(location)
    Q_UNUSED(protocol)
    return false;
}

void Model::makeOVPNFile(int bits, QString protocol, QString port, QString server, bool bWithPersistRemoteIp,
                         const QString& route, bool withLowerMTU, const QString& sockProxyIp,
                         const QString& sockProxyPort, const QList<QString>& dnsFiltering,
                         const QString& proxyRouteHost)
{
    Q_UNUSED(bits)
    Q_UNUSED(protocol)
    Q_UNUSED(port)
    Q_UNUSED(server)
    Q_UNUSED(bWithPersistRemoteIp)
    Q_UNUSED(route)
    Q_UNUSED(withLowerMTU)
    Q_UNUSED(sockProxyIp)
    Q_UNUSED(sockProxyPort)
    Q_UNUSED(dnsFiltering)
    Q_UNUSED(proxyRouteHost)
}

bool Model::configureV2ProxyConfFile(ProxyLocation::Ptr proxyLocation)
{
    Q_UNUSED(proxyLocation)
    return false;
}

int Model::forceReconnectOnSleepResumeDelaySec() { return 0; }
int Model::forceReconnectOnSleepResumeConnectDelaySec() { return 0; }
