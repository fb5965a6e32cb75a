// The model's choices (protocol, port, location, region, proxy location, DNS
// filtering) and how they are kept consistent; favourites and the saved
// connection choices; the news, external-address and server-list feeds.
#include "model/model.h"

#include "getexternalip.h"
#include "getnews.h"
#include "getservers.h"
#include "log.h"
#include "settings.h"
#include "systemhelper.h"
#include "utils.h"

#include <QMetaObject>
#include <QTimer>
#include <QtConcurrent>

namespace {

QString captionOrNull(const QString& caption, bool present)
{
    return present ? logSafe(caption) : QStringLiteral("null");
}

bool portListHasId(const QList<Port::Ptr>& ports, const QString& id)
{
    for (const Port::Ptr& port : ports) {
        if (port && port->id() == id)
            return true;
    }
    return false;
}

} // namespace

// ----------------------------------------------------------------- selection setters

void Model::setSelectedProtocol(Protocol::Ptr selectedProtocol)
{
    qInfo().noquote() << Q_FUNC_INFO << selectedProtocol.data()
                      << (selectedProtocol ? selectedProtocol->name() : QString());
    if (m_selectedProtocol == selectedProtocol)
        return;
    m_selectedProtocol = selectedProtocol;
    emit selectedProtocolChanged(m_selectedProtocol);
    emit selectedProtocolRawChanged(m_selectedProtocol.data());
    updateValidLocations();
}

void Model::setSelectedPort(Port::Ptr selectedPort)
{
    qInfo().noquote() << Q_FUNC_INFO << selectedPort.data() << (selectedPort ? selectedPort->name() : QString());
    if (m_selectedPort == selectedPort)
        return;
    m_selectedPort = selectedPort;
    emit selectedPortChanged(m_selectedPort);
    emit selectedPortRawChanged(m_selectedPort.data());
}

void Model::setSelectedLocation(Location::Ptr selectedLocation)
{
    qInfo().noquote() << Q_FUNC_INFO << selectedLocation.data()
                      << captionOrNull(selectedLocation ? selectedLocation->caption() : QString(),
                                       !selectedLocation.isNull());
    if (m_selectedLocation == selectedLocation)
        return;
    m_selectedLocation = selectedLocation;
    emit selectedLocationChanged(m_selectedLocation);
    emit selectedLocationRawChanged(m_selectedLocation.data());
}

void Model::setSelectedProxyLocation(ProxyLocation::Ptr selectedProxyLocation)
{
    qInfo().noquote() << Q_FUNC_INFO << selectedProxyLocation.data()
                      << captionOrNull(selectedProxyLocation ? selectedProxyLocation->caption() : QString(),
                                       !selectedProxyLocation.isNull());
    if (m_selectedProxyLocation == selectedProxyLocation)
        return;
    m_selectedProxyLocation = selectedProxyLocation;
    emit selectedProxyLocationChanged(m_selectedProxyLocation);
    emit selectedProxyLocationRawChanged(m_selectedProxyLocation.data());
    updateV2RayProxyEnabled();
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
    qInfo().noquote() << Q_FUNC_INFO << selectedRegion.data()
                      << captionOrNull(selectedRegion ? selectedRegion->caption() : QString(),
                                       !selectedRegion.isNull());
    if (m_selectedRegion == selectedRegion)
        return;
    m_selectedRegion = selectedRegion;
    // QML asks getSelectedRegionIndex() instead of reading the raw twin.
    emit selectedRegionChanged(m_selectedRegion);
    updateValidLocations();
}

// ----------------------------------------------------------------- credentials

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

void Model::saveCredentials()
{
    try {
        Settings::set_username(m_username);
        // The password stays on disk only while the user wants it kept.
        if (m_optionSavePassword->value())
            Settings::set_password(m_userpassword);
        else
            Settings::removePassword();
    }
    ALOG_CATCHALL("Model::saveCredentials")
}

// ----------------------------------------------------------------- select by id

void Model::selectPortById(QString id)
{
    if (!m_selectedProtocol)
        return;
    const Port::Ptr port = m_selectedProtocol->ports()->find(id);
    if (port)
        setSelectedPort(port);
}

void Model::userSelectProtocolById(int id)
{
    try {
        const Protocol::Ptr previous = m_selectedProtocol;
        const Protocol::Ptr next = m_protocols.find(Constants::ProtocolType(id));
        rememberChoicesBeforeProtocolChange(previous, next);
        setSelectedProtocol(next);
        configureConnectionSettings(userSelectProtocol, previous);
    }
    ALOG_CATCHALL("Model::userSelectProtocolById")
}

void Model::rememberChoicesBeforeProtocolChange(const Protocol::Ptr& previous, const Protocol::Ptr& next)
{
    if (!previous || previous == next)
        return;
    if (m_selectedPort)
        m_lastPortIdOfProtocol.insert(int(previous->id()), m_selectedPort->id());
    const ProtocolSettingGroup::Ptr left = previous->protocolSettingGroup();
    if (!left || !next || next->protocolSettingGroup() == left)
        return;
    // The group's values are what the reconciliation brings back when the
    // user returns to the group: the choices made since the last connect
    // must not give way to those of that connect. Kept in memory only; the
    // settings file keeps the values of the last connection.
    if (m_selectedLocation)
        left->setDefaultLocation(m_selectedLocation->code());
    left->setKillSwitchOptionValue(m_optionGatewayRemoval->value());
    if (m_selectedDNSFiltering)
        left->setDnsFiltering(m_selectedDNSFiltering->id());
    left->setProxyLocation(proxyLocationDisabled(m_selectedProxyLocation) ? QString() : m_selectedProxyLocation->id());
    if (m_selectedPort)
        left->setPort(m_selectedPort->id());
}

void Model::userSelectLocationById(QString id, bool deferred)
{
    try {
        if (deferred) {
            // A list delegate may select an entry of the list it belongs to;
            // the selection rebuilds that list once the delegate's event is over.
            QMetaObject::invokeMethod(this, "userSelectLocationById", Qt::QueuedConnection, Q_ARG(QString, id),
                                      Q_ARG(bool, false));
            return;
        }
        const Location::Ptr previous = m_selectedLocation;
        setLocationById(id);
        configureConnectionSettings(userSelectLocation);
        if (m_optionConnectWhenChoosingNewLocation->value() && m_selectedLocation != previous) {
            selectLocationWithConnect(m_selectedLocation);
            emit goConnectPage();
        }
    }
    ALOG_CATCHALL("Model::userSelectLocationById")
}

void Model::userSelectProxyLocationById(QString id, bool deferred)
{
    try {
        if (deferred) {
            QMetaObject::invokeMethod(this, "userSelectProxyLocationById", Qt::QueuedConnection, Q_ARG(QString, id),
                                      Q_ARG(bool, false));
            return;
        }
        if (selectProxyLocationById(id))
            configureConnectionSettings(userSelectProxyLocation);
    }
    ALOG_CATCHALL("Model::userSelectProxyLocationById")
}

void Model::userSelectDNSFilteringById(QString id, bool deferred)
{
    try {
        if (deferred) {
            QMetaObject::invokeMethod(this, "userSelectDNSFilteringById", Qt::QueuedConnection, Q_ARG(QString, id),
                                      Q_ARG(bool, false));
            return;
        }
        selectDNSFilteringById(id);
    }
    ALOG_CATCHALL("Model::userSelectDNSFilteringById")
}

void Model::selectRegionById(QString id)
{
    setSelectedRegion(m_regions.find(id));
}

int Model::getSelectedRegionIndex()
{
    if (!m_selectedRegion)
        return -1;
    return m_regions.list().indexOf(m_selectedRegion);
}

void Model::setLocationById(QString id)
{
    try {
        setSelectedLocation(m_locations.find(id));
    }
    ALOG_CATCHALL("Model::setLocationById")
}

bool Model::selectProxyLocationById(QString id)
{
    try {
        if (id.isEmpty())
            return false;
        const ProxyLocation::Ptr found = m_proxyLocations.find(id);
        if (!found)
            return false;
        setSelectedProxyLocation(found);
        return true;
    }
    ALOG_CATCHALL("Model::selectProxyLocationById")
    return false;
}

bool Model::selectDNSFilteringById(QString id)
{
    try {
        if (id.isEmpty())
            return false;
        const DNSFiltering::Ptr found = m_dnsFilterings.find(id);
        if (!found)
            return false;
        setSelectedDNSFiltering(found);
        return true;
    }
    ALOG_CATCHALL("Model::selectDNSFilteringById")
    return false;
}

void Model::updateValidLocations()
{
    if (!m_selectedProtocol)
        return;
    m_validLocations.setList(m_locations.getFilteredList(m_selectedProtocol->locationType(), m_selectedRegion));
}

// ----------------------------------------------------------------- reconciliation

void Model::configureConnectionSettings(ConnectionSettingsAction action, Protocol::Ptr prevSelectedProtocol)
{
    qInfo().noquote() << Q_FUNC_INFO << int(action)
                      << (prevSelectedProtocol ? prevSelectedProtocol->name() : QStringLiteral("null"));

    // The selected protocol's group, read afresh at each step.
    auto group = [this]() {
        return m_selectedProtocol ? m_selectedProtocol->protocolSettingGroup() : ProtocolSettingGroup::Ptr();
    };

    // 1. A change of protocol group loads that group's remembered choices.
    bool newProtocolGroup = action == userSelectProtocol && prevSelectedProtocol && m_selectedProtocol
        && prevSelectedProtocol->protocolSettingGroup() != m_selectedProtocol->protocolSettingGroup();

    // 2. A replaced list holds new objects: find the location again by code.
    if (m_selectedLocation) {
        const QString oldCaption = m_selectedLocation->caption();
        setLocationById(m_selectedLocation->code());
        if (!m_selectedLocation)
            qCritical().noquote() << Q_FUNC_INFO << "location lost" << logSafe(oldCaption);
    }
    // The proxy list is replaced as a whole too: its choice is found again by
    // id, never kept as an object of the old list; when the id is gone, the
    // passes below choose again.
    if (m_selectedProxyLocation && !m_proxyLocations.list().contains(m_selectedProxyLocation)) {
        const QString oldId = m_selectedProxyLocation->id();
        setSelectedProxyLocation(m_proxyLocations.find(oldId));
        if (!m_selectedProxyLocation)
            qCritical().noquote() << Q_FUNC_INFO << "proxy location lost" << logSafe(oldId);
    }

    // 3. A favourite brings the protocol and port it was marked with.
    if (action == userSelectLocation && m_selectedLocation && m_selectedLocation->favorite()) {
        const Protocol::Ptr protocol = m_protocols.find(m_selectedLocation->favoriteProtocolType());
        if (protocol) {
            qDebug().noquote() << Q_FUNC_INFO << "auto set protocol for favorite location" << protocol->name();
            setSelectedProtocol(protocol);
            selectPortById(m_selectedLocation->favoritePortId());
        }
    }

    // 4. Some locations are served by OpenVPN XOR only.
    if (action == userSelectLocation && m_selectedLocation
        && m_selectedLocation->caption().contains(QLatin1String(OpenVPNXorOnlyStr), Qt::CaseInsensitive)
        && (!m_selectedProtocol || m_selectedProtocol->id() != Constants::ProtocolType_OPENVPN_XOR)) {
        const Protocol::Ptr xorProtocol = m_protocols.find(Constants::ProtocolType_OPENVPN_XOR);
        if (!xorProtocol)
            qCritical().noquote() << Q_FUNC_INFO << "Cant find protocol OPENVPN_XOR";
        else
            setSelectedProtocol(xorProtocol);
    }

    // 5. A proxy carries TCP only: a UDP port gives way (step 12 picks another).
    if (action == userSelectProxyLocation && !proxyLocationDisabled(m_selectedProxyLocation) && m_selectedPort
        && m_selectedPort->protocol() == Constants::Protocol_UDP) {
        setSelectedPort(Port::Ptr());
    }

    // 6. Protocol: the one used last, else the catalogue's first.
    if (!m_selectedProtocol) {
        const QString storedName = Settings::protocol();
        const Protocol::Ptr stored = m_protocols.some(
            [&storedName](const Protocol::Ptr& protocol) { return protocol->name() == storedName; });
        if (stored) {
            newProtocolGroup = true;
            qDebug().noquote() << Q_FUNC_INFO << "protocol selected from conf file";
            setSelectedProtocol(stored);
        } else {
            setSelectedProtocol(m_protocols.firstElem());
        }
    }
    if (!m_selectedProtocol) {
        qCritical().noquote() << Q_FUNC_INFO << "can't select protocol" << m_protocols.count();
        return;
    }

    // 7. Kill switch.
    if (m_selectedProtocol != prevSelectedProtocol) {
        m_optionGatewayRemoval->setEnabled(SystemHelper::instance().isRouteManagementEnabled());
        if (newProtocolGroup && group())
            m_optionGatewayRemoval->setValue(group()->killSwitchOptionValue());
    }

    // 8. Location validity.
    if (!isLocationValidForProtocol(m_selectedLocation, m_selectedProtocol))
        setSelectedLocation(Location::Ptr());

    // 9. Location default.
    if (!m_selectedLocation || newProtocolGroup) {
        Location::Ptr candidate;
        if (const ProtocolSettingGroup::Ptr g = group()) {
            if (!g->defaultLocation().isEmpty())
                candidate = m_locations.find(g->defaultLocation());
        }
        if (!candidate)
            candidate = m_selectedLocation;
        if (!candidate)
            candidate = m_locations.find(QLatin1String(DEFAULT_LOCATION_ID));
        if (!isLocationValidForProtocol(candidate, m_selectedProtocol))
            candidate.reset();
        if (!candidate) {
            const Protocol::Ptr protocol = m_selectedProtocol;
            candidate = m_locations.some(
                [&protocol](const Location::Ptr& location) { return isLocationValidForProtocol(location, protocol); });
        }
        setSelectedLocation(candidate);
    }

    // 10. Region: found again by id, then always the selected location's.
    if (m_selectedRegion) {
        const QString oldCaption = m_selectedRegion->caption();
        selectRegionById(m_selectedRegion->id());
        if (!m_selectedRegion)
            qCritical().noquote() << Q_FUNC_INFO << "region lost" << logSafe(oldCaption);
    }
    if (m_selectedLocation && m_selectedLocation->region())
        selectRegionById(m_selectedLocation->region()->id());
    // The proxy list may come before the server list: no region to select
    // until a server list has been applied.
    if (!m_selectedRegion && (locationsReceived() || action == connectionsListUpdated))
        qCritical().noquote() << Q_FUNC_INFO << "can't select region";

    // 11. Proxy location, first pass: only with the V2Ray client present.
    if ((!m_selectedProxyLocation || newProtocolGroup) && v2RayAvailable()) {
        const ProtocolSettingGroup::Ptr g = group();
        setSelectedProxyLocation(g ? m_proxyLocations.find(g->proxyLocation()) : ProxyLocation::Ptr());
    }

    // 12. Port.
    {
        const bool udpAvailable = !v2RayProxyEnabled();
        const QList<Port::Ptr> validPortsList = m_selectedProtocol->ports()->someList(
            [udpAvailable](const Port::Ptr& port) { return checkPortProtocolAvalable(port, udpAvailable, true); });
        const bool currentPortIsValid = m_selectedPort && portListHasId(validPortsList, m_selectedPort->id());
        if (!m_selectedPort || newProtocolGroup || !currentPortIsValid) {
            const ProtocolSettingGroup::Ptr g = group();
            // The protocol's own port of this run first: the group holds one
            // port for all its protocols.
            Port::Ptr port = m_selectedProtocol->ports()->find(
                m_lastPortIdOfProtocol.value(int(m_selectedProtocol->id())));
            if (!port || !portListHasId(validPortsList, port->id()))
                port = g ? m_selectedProtocol->ports()->find(g->port()) : Port::Ptr();
            if (!port || !portListHasId(validPortsList, port->id()))
                port = validPortsList.isEmpty() ? Port::Ptr() : validPortsList.first();
            setSelectedPort(port);
        }
        if (!m_selectedPort)
            qCritical().noquote() << Q_FUNC_INFO << "port not selected";
    }

    // 13. DNS filtering.
    if (!m_selectedDNSFiltering || newProtocolGroup) {
        const ProtocolSettingGroup::Ptr g = group();
        DNSFiltering::Ptr filtering = g ? m_dnsFilterings.find(g->dnsFiltering()) : DNSFiltering::Ptr();
        if (!filtering)
            filtering = m_dnsFilterings.firstElem();
        setSelectedDNSFiltering(filtering);
        if (!m_selectedDNSFiltering)
            qCritical().noquote() << Q_FUNC_INFO << "selectedDNSFiltering not selected";
    }

    // 14. Proxy location, second pass.
    if (!m_selectedProxyLocation || newProtocolGroup) {
        const ProtocolSettingGroup::Ptr g = group();
        ProxyLocation::Ptr proxy = g ? m_proxyLocations.find(g->proxyLocation()) : ProxyLocation::Ptr();
        if (!proxy)
            proxy = m_proxyLocations.firstElem();
        setSelectedProxyLocation(proxy);
        // Likewise the server list may come before the proxy list.
        if (!m_selectedProxyLocation && m_proxyLocations.count() > 0)
            qCritical().noquote() << Q_FUNC_INFO << "selectedProxyLocation not selected";
    }

    // 15. Only OpenVPN runs through a proxy: back to the "None" entry.
    if (!proxyLocationDisabled(m_selectedProxyLocation) && !m_selectedProtocol->isOpenVpn())
        setSelectedProxyLocation(m_proxyLocations.firstElem());

    // 16. Which protocols have anything to offer in the selected region.
    for (const Protocol::Ptr& protocol : m_protocols.list())
        protocol->setHaveLocations(!m_locations.getFilteredList(protocol->locationType(), m_selectedRegion).isEmpty());
}

void Model::onLocationsReceivedApply(const QList<Location::Ptr>& locations, const QList<Region::Ptr>& regions)
{
    qInfo().noquote() << Q_FUNC_INFO;
    m_regions.merge(regions);
    // The region filter compares objects: every location must point at the
    // model's own region of its id.
    for (const Location::Ptr& location : locations) {
        if (location && location->region())
            location->setRegion(m_regions.find(location->region()->id()));
    }
    m_locations.merge(locations);

    configureConnectionSettings(connectionsListUpdated);
    qInfo().noquote() << "M5";
    if (!locationsReceived()) {
        doConnectOnStartup();
        qInfo().noquote() << "M6";
    }
    setLocationsReceived(true);
    // A list is in place: the selector's "updating locations..." or "Can't
    // update locations." line no longer applies.
    setGetLocationsState(QString());
    qInfo().noquote() << "M7";
    if (m_trayIcon)
        m_trayIcon->initConnectionsMenu();
    qInfo().noquote() << "M8";
    locationFavoriteLoad();
}

// ----------------------------------------------------------------- favourites and saved choices

void Model::invertLocationFavorite(QString id)
{
    try {
        const Location::Ptr location = m_locations.find(id);
        if (!location) {
            qWarning().noquote() << Q_FUNC_INFO << "location not founded" << logSafe(id);
            return;
        }
        location->setFavorite(!location->favorite());
        if (!location->favorite()) {
            location->setFavoriteProtocolType(Constants::ProtocolType_UNKNOWN);
            location->setFavoritePortId(QString());
        } else {
            if (m_selectedProtocol)
                location->setFavoriteProtocolType(m_selectedProtocol->id());
            if (m_selectedPort)
                location->setFavoritePortId(m_selectedPort->id());
        }
        m_favoriteModel.invalidate();
        locationFavoriteSave();
    }
    ALOG_CATCHALL("Model::invertLocationFavorite")
}

void Model::locationFavoriteSave()
{
    QStringList records;
    for (const Location::Ptr& location : m_locations.list()) {
        if (location->favorite())
            records.append(location->saveToString());
    }
    Settings::set_favorite(records.join(QLatin1Char('/')));
}

void Model::locationFavoriteLoad()
{
    try {
        const QStringList parts = Settings::favorite().split(QLatin1Char('/'), Qt::KeepEmptyParts, Qt::CaseSensitive);
        for (const QString& part : parts) {
            QString code;
            Constants::ProtocolType protocolType = Constants::ProtocolType_UNKNOWN;
            QString portId;
            if (!Location::parseFromString(part, code, protocolType, portId)) {
                if (!part.isEmpty())
                    qWarning().noquote() << Q_FUNC_INFO << "Can't parce string" << logSafe(part);
                continue;
            }
            const Location::Ptr location = m_locations.find(code);
            if (!location) {
                qWarning().noquote() << Q_FUNC_INFO << "Location not founded" << logSafe(code);
                continue;
            }
            qInfo().noquote() << Q_FUNC_INFO << "Favorite location:" << logSafe(code);
            location->setFavorite(true);
            location->setFavoriteProtocolType(protocolType);
            location->setFavoritePortId(portId);
        }
        m_favoriteModel.invalidate();
    }
    ALOG_CATCHALL("Model::locationFavoriteLoad")
}

void Model::saveConnectionParams()
{
    try {
        const Connection* c = connection();
        if (!c)
            return;
        const Protocol::Ptr protocol = c->protocol();
        const ProtocolSettingGroup::Ptr group = protocol ? protocol->protocolSettingGroup()
                                                         : ProtocolSettingGroup::Ptr();
        if (group) {
            const Location::Ptr location = c->location();
            const DNSFiltering::Ptr dnsFiltering = c->dnsFiltering();
            const ProxyLocation::Ptr proxy = c->proxyLocation();
            const Port::Ptr port = c->port();
            group->setNewValues(location ? location->code() : QString(), c->optionGatewayRemoval(),
                                dnsFiltering ? dnsFiltering->id() : QString(),
                                proxyLocationDisabled(proxy) ? QString() : proxy->id(), port ? port->id() : QString());
        }
        if (protocol)
            Settings::set_protocol(protocol->name());
    }
    ALOG_CATCHALL("Model::saveConnectionParams")
}

// ----------------------------------------------------------------- data feeds

void Model::updateNews()
{
    try {
        const auto job = [this] { return QtConcurrent::run(getNews, getNewsUrls() << NEWS_EX_URL, m_fetchStop); };
        const auto handle = [this](const GetNewsResult& result) {
            if (!result.errors.isEmpty()) {
                qCritical().noquote() << "Model::updateNews"
                                      << "Get news error:" << logSafe(result.errors);
                return;
            }
            m_news.setList(result.news);
            const int maxId = m_news.getMaxId();
            // Unreadable stored text counts as nothing read.
            const int lastNotified = Settings::lastNotifiedNewsId().toInt();
            if (lastNotified < maxId)
                setNewsAttentionCounter(maxId - lastNotified);
        };
        if (!m_newsFetch.request(
                this, job, handle, [this] { updateNews(); }, "Model::updateNews"))
            qWarning().noquote() << Q_FUNC_INFO << "!newsWatcher->isFinished";
    }
    ALOG_CATCHALL("Model::updateNews")
}

void Model::onNewsReaded()
{
    qInfo().noquote() << Q_FUNC_INFO;
    try {
        const int maxId = m_news.getMaxId();
        if (Settings::lastNotifiedNewsId().toInt() < maxId)
            Settings::set_lastNotifiedNewsId(QString::number(maxId));
        setNewsAttentionCounter(0);
    }
    ALOG_CATCHALL("Model::onNewsReaded")
}

void Model::updateExternalIp(bool completeOnly)
{
    try {
        if (completeOnly) {
            // The job's download has its own time-out, so this wait ends.
            m_externalIpFetch.waitForFinished();
            return;
        }
        const auto job = [this] { return QtConcurrent::run(getExternalIP, apiGeoUrlGet(), m_fetchStop); };
        const auto handle = [this](const GetExternalIpResult& result) {
            if (!result.errors.isEmpty()) {
                qCritical().noquote() << "Model::updateExternalIp"
                                      << "Get external Ip error:" << logSafe(result.errors);
                return;
            }
            if (connectionState() == Constants::ConnectState_Connected && m_trayIcon) {
                const QString where = m_connectLocation ? m_connectLocation->caption() : result.country;
                m_trayIcon->setToolTip(where + QStringLiteral(" - [") + result.ip + QStringLiteral("]"));
            }
            setExternalCountry(result.country.isEmpty() ? QStringLiteral("-") : result.country);
            setExternalIP(result.ip.isEmpty() ? QStringLiteral("-") : result.ip);
        };
        if (!m_externalIpFetch.request(
                this, job, handle, [this] { updateExternalIp(false); }, "Model::updateExternalIp"))
            qWarning().noquote() << Q_FUNC_INFO << "!getExternalIpWatcher->isFinished";
    }
    ALOG_CATCHALL("Model::updateExternalIp")
}

void Model::setupGetLocationsHandlers()
{
    GetLocations& service = getLocations();

    ASSERT_CONNECT(connect(&service, &GetLocations::locatoinsGetSuccessfully, this, [this]() {
        try {
            qInfo().noquote() << "M0";
            QList<Location::Ptr> locations;
            QList<Region::Ptr> regions;
            getLocations().extractLocations(locations, regions);
            if (!locations.isEmpty())
                onLocationsReceivedApply(locations, regions);
        }
        ALOG_CATCHALL("Model::onLocationsReceived")
    }));

    ASSERT_CONNECT(
        connect(&service, &GetLocations::locatoinsGetError, this, [this](const QList<QString>& errors, bool silent) {
            try {
                qInfo().noquote() << "M9";
                qDebug().noquote() << "Model::onLocationsGetError" << logSafe(QStringList(errors));
                if (!locationsReceived()) {
                    QList<Location::Ptr> locations;
                    QList<Region::Ptr> regions;
                    if (getLocations().getStoredLocations(locations, regions) && !locations.isEmpty())
                        onLocationsReceivedApply(locations, regions);
                    else
                        setGetLocationsState(QStringLiteral("Can't update locations."));
                }
                if (!silent)
                    showToast(tr("Get locations errors"), QStringList(errors).join(QLatin1Char('\n')));
            }
            ALOG_CATCHALL("Model::onLocationsGetError")
        }));

    // Emitted on a latency thread; handled here on the GUI thread.
    ASSERT_CONNECT(connect(&service, &GetLocations::pingMeasured, this, [this](const QString& locationId, int ms) {
        const Location::Ptr location = m_locations.find(locationId);
        if (location)
            location->setPingMs(ms);
        else
            qWarning().noquote() << "Model::pingMeasured"
                                 << "object not found" << logSafe(locationId);
    }));
}

void Model::refreshLocations()
{
    try {
        for (const Location::Ptr& location : m_locations.list())
            location->setPingMs(location->pingMsNoValue());
        getLocations().updateLocations();
        updateV2RayLocations();
    }
    ALOG_CATCHALL("Model::refreshLocations")
}
