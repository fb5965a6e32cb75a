#include "connect_state_object.h"

#include "log.h"

#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QThread>

// Read by the GUI thread while the engine's thread writes it.
static_assert(std::atomic<ConnectStateObject::StateSnapshot>::is_always_lock_free,
              "the state snapshot must be one lock-free word");

ConnectStateObject::ConnectStateObject(QObject* parent)
    : QObject(parent)
    , m_dnsFiltering(new DNSFiltering())
{
    // stateChanged reaches other threads as a queued signal.
    qRegisterMetaType<Constants::ConnectState>("Constants::ConnectState");
}

void ConnectStateObject::setState(Constants::ConnectState value, bool withError)
{
    const Constants::ConnectState old = connectState();
    if (old == value)
        return;
    StateSnapshot changed;
    changed.state = value;
    changed.withError = withError;
    m_state.store(changed);
    emit stateChanged(old, value, withError);
}

void ConnectStateObject::errorWithNewState(const QString& text, Constants::ConnectState newState)
{
    setState(newState);
    emit error(text);
}

bool ConnectStateObject::waitForState(QThread* thread, Constants::ConnectState state, int maxWaitSeconds)
{
    try {
        QElapsedTimer started;
        started.start();
        // Only the calling thread's own dispatcher may be driven from here.
        QAbstractEventDispatcher* dispatcher = (thread && thread == QThread::currentThread())
            ? thread->eventDispatcher()
            : nullptr;
        while (connectState() != state && started.elapsed() / 1000 < maxWaitSeconds) {
            if (dispatcher)
                dispatcher->processEvents(QEventLoop::AllEvents);
            QThread::msleep(10);
            qDebug().noquote() << "waitWorkCompleted wait...";
        }
        return connectState() != state;
    }
    ALOG_CATCHALL("ConnectStateObject::waitForState")
    return false;
}

void ConnectStateObject::setConnectionHost(QString connectionHost)
{
    m_connectionHost = connectionHost;
}

void ConnectStateObject::setOptionDoNotChangeDNS(bool optionDoNotChangeDNS)
{
    if (m_optionDoNotChangeDNS == optionDoNotChangeDNS)
        return;
    m_optionDoNotChangeDNS = optionDoNotChangeDNS;
    emit optionDoNotChangeDNSChanged(m_optionDoNotChangeDNS);
}

void ConnectStateObject::setOptionGatewayRemoval(bool optionGatewayRemoval)
{
    if (m_optionGatewayRemoval == optionGatewayRemoval)
        return;
    m_optionGatewayRemoval = optionGatewayRemoval;
    emit optionGatewayRemovalChanged(m_optionGatewayRemoval);
}

void ConnectStateObject::setProtocol(Protocol::Ptr protocol)
{
    if (m_protocol == protocol)
        return;
    m_protocol = protocol;
    emit protocolChanged(m_protocol);
}

void ConnectStateObject::setPort(Port::Ptr port)
{
    if (m_port == port)
        return;
    m_port = port;
    emit portChanged(m_port);
}

void ConnectStateObject::setLocation(Location::Ptr location)
{
    if (m_location == location)
        return;
    m_location = location;
    emit locationChanged(m_location);
}

void ConnectStateObject::setOptionDisableDNS(bool optionDisableDNS)
{
    if (m_optionDisableDNS == optionDisableDNS)
        return;
    m_optionDisableDNS = optionDisableDNS;
    emit optionDisableDNSChanged(m_optionDisableDNS);
}

void ConnectStateObject::setProxyLocation(ProxyLocation::Ptr proxyLocation)
{
    if (m_proxyLocation == proxyLocation)
        return;
    m_proxyLocation = proxyLocation;
    emit proxyLocationChanged(m_proxyLocation);
}

void ConnectStateObject::setDnsFiltering(DNSFiltering::Ptr dnsFiltering)
{
    if (m_dnsFiltering == dnsFiltering)
        return;
    m_dnsFiltering = dnsFiltering;
    emit dnsFilteringChanged(m_dnsFiltering);
}

void OpenVpnConnectParams::logInfo(const QString& caption) const
{
    const auto yesNo = [](bool v) { return v ? QStringLiteral("true") : QStringLiteral("false"); };
    qDebug().noquote() << "============== OpenVpnConnectParams =" << logSafe(caption) << "=================";
    qDebug().noquote() << "protocol:" << Constants::protocolTypeToStr(protocol);
    qDebug().noquote() << "serverIP:" << serverIP;
    qDebug().noquote() << "username:" << username;
    qDebug().noquote() << "ovpnFile:" << ovpnFile;
    qDebug().noquote() << "configPath:" << configPath;
    qDebug().noquote() << "withV2RayProxy:" << yesNo(withV2RayProxy);
    qDebug().noquote() << "bWithReconnect:" << yesNo(bWithReconnect);
    qDebug().noquote() << "dnsScripts:" << yesNo(dnsScripts);
}

SetStateOnExit::SetStateOnExit(ConnectStateObject* obj, Constants::ConnectState newState)
    : m_obj(obj)
    , m_newState(newState)
{
    Q_ASSERT(m_obj);
}

SetStateOnExit::~SetStateOnExit()
{
    if (m_obj)
        m_obj->setState(m_newState, false);
}

PlatformConnectionCustom::PlatformConnectionCustom(QObject* parent)
    : ConnectStateObject(parent)
{
}

void PlatformConnectionCustom::connect(const OpenVpnConnectParams& params)
{
    m_conectionParams = params;
    doConnect();
}
