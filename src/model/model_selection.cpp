// Selection and reconciliation, favourites, saved choices and the data feeds: behaviour filled in separately.
#include "model/model.h"

// Plain stores for now; the selection behaviour (logging, dependent lists)
// comes with the rest of this file.
void Model::setSelectedProtocol(Protocol::Ptr selectedProtocol)
{
    if (m_selectedProtocol == selectedProtocol)
        return;
    m_selectedProtocol = selectedProtocol;
    emit selectedProtocolChanged(m_selectedProtocol);
    emit selectedProtocolRawChanged(m_selectedProtocol.data());
}

void Model::setSelectedPort(Port::Ptr selectedPort)
{
    if (m_selectedPort == selectedPort)
        return;
    m_selectedPort = selectedPort;
    emit selectedPortChanged(m_selectedPort);
    emit selectedPortRawChanged(m_selectedPort.data());
}

void Model::setSelectedLocation(Location::Ptr selectedLocation)
{
    if (m_selectedLocation == selectedLocation)
        return;
    m_selectedLocation = selectedLocation;
    emit selectedLocationChanged(m_selectedLocation);
    emit selectedLocationRawChanged(m_selectedLocation.data());
}

void Model::setSelectedProxyLocation(ProxyLocation::Ptr selectedProxyLocation)
{
    if (m_selectedProxyLocation == selectedProxyLocation)
        return;
    m_selectedProxyLocation = selectedProxyLocation;
    emit selectedProxyLocationChanged(m_selectedProxyLocation);
    emit selectedProxyLocationRawChanged(m_selectedProxyLocation.data());
}

void Model::setSelectedDNSFiltering(DNSFiltering::Ptr selectedDNSFiltering)
{
    if (m_selectedDNSFiltering == selectedDNSFiltering)
        return;
    m_selectedDNSFiltering = selectedDNSFiltering;
    emit selectedDNSFilteringChanged(m_selectedDNSFiltering);
    emit selectedDNSFilteringRawChanged(m_selectedDNSFiltering.data());
}

void Model::setSelectedRegion(Region::Ptr selectedRegion)
{
    if (m_selectedRegion == selectedRegion)
        return;
    m_selectedRegion = selectedRegion;
    emit selectedRegionChanged(m_selectedRegion);
}

void Model::setUsername(QString username)
{
    username = username.trimmed();
    if (m_username == username)
        return;
    m_username = username;
    emit usernameChanged(m_username);
}

void Model::setUserpassword(QString userpassword)
{
    userpassword = userpassword.trimmed();
    if (m_userpassword == userpassword)
        return;
    m_userpassword = userpassword;
    emit userpasswordChanged(m_userpassword);
}

void Model::selectPortById(QString id) { Q_UNUSED(id) }
void Model::userSelectProtocolById(int id) { Q_UNUSED(id) }

void Model::userSelectLocationById(QString id, bool deferred)
{
    Q_UNUSED(id)
    Q_UNUSED(deferred)
}

void Model::userSelectProxyLocationById(QString id, bool deferred)
{
    Q_UNUSED(id)
    Q_UNUSED(deferred)
}

void Model::userSelectDNSFilteringById(QString id, bool deferred)
{
    Q_UNUSED(id)
    Q_UNUSED(deferred)
}

void Model::selectRegionById(QString id) { Q_UNUSED(id) }
int Model::getSelectedRegionIndex() { return -1; }

void Model::configureConnectionSettings(ConnectionSettingsAction action, Protocol::Ptr prevSelectedProtocol)
{
    Q_UNUSED(action)
    Q_UNUSED(prevSelectedProtocol)
}

void Model::setLocationById(QString id) { Q_UNUSED(id) }

bool Model::selectProxyLocationById(QString id)
{
    Q_UNUSED(id)
    return false;
}

bool Model::selectDNSFilteringById(QString id)
{
    Q_UNUSED(id)
    return false;
}

void Model::updateValidLocations() {}

void Model::onLocationsReceivedApply(const QList<Location::Ptr>& locations, const QList<Region::Ptr>& regions)
{
    Q_UNUSED(locations)
    Q_UNUSED(regions)
}

void Model::invertLocationFavorite(QString id) { Q_UNUSED(id) }
void Model::locationFavoriteSave() {}
void Model::locationFavoriteLoad() {}
void Model::saveConnectionParams() {}
void Model::saveCredentials() {}
void Model::updateNews() {}
void Model::onNewsReaded() {}
void Model::updateExternalIp(bool completeOnly) { Q_UNUSED(completeOnly) }
void Model::setupGetLocationsHandlers() {}
void Model::refreshLocations() {}
