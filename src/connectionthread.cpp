#include "connectionthread.h"

#include "log.h"
#include "model/model.h"
#include "settings.h"
#include "systemhelper.h"
#include "unix/connection.h"
#include "unix/qopenvpn2.h"
#include "util/concurrentstep.h"
#include "utils.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QScopeGuard>

#include <memory>

namespace {
// Longest sleep of the idle worker: between two of its sleeps it delivers the
// engine's socket and process events. A posted request ends the sleep.
const unsigned long kIdlePollMs = 100;
// How often a request whose serving threw is served before it is dropped.
const int kServingAttempts = 3;
} // namespace

ConnectionThread::ConnectionThread(Model* model, QObject* parent)
    : QThread(parent)
    , m_model(model)
{
}

ConnectionThread::~ConnectionThread()
{
    delete m_connection.exchange(nullptr);
}

bool ConnectionThread::waitForConnection(int maxWaitMs)
{
    QDeadlineTimer deadline(maxWaitMs);
    QMutexLocker locker(&m_startUpMutex);
    while (!connection()) {
        if (!m_connectionPublished.wait(&m_startUpMutex, deadline))
            return connection() != nullptr;
    }
    return true;
}

void ConnectionThread::holdInitialization(int maxHoldMs)
{
    QMutexLocker locker(&m_startUpMutex);
    m_initializationHeld = true;
    m_initializationHoldMs = maxHoldMs;
}

void ConnectionThread::releaseInitialization()
{
    QMutexLocker locker(&m_startUpMutex);
    m_initializationHeld = false;
    m_initializationReleased.wakeAll();
}

void ConnectionThread::waitForInitializationRelease()
{
    QMutexLocker locker(&m_startUpMutex);
    const QDeadlineTimer deadline(m_initializationHoldMs);
    while (m_initializationHeld && !m_finalize.load()) {
        if (!m_initializationReleased.wait(&m_startUpMutex, deadline))
            break;
    }
    m_initializationHeld = false;
}

bool ConnectionThread::connectionTapInstalledResultUpdated()
{
    Connection* c = connection();
    m_connectionTapInstalledResult.store(c && c->tapInstalled());
    return m_connectionTapInstalledResult.load();
}

void ConnectionThread::run()
{
    Connection* engine = new Connection();
    // Connected before the engine is published, so that no change is missed;
    // the model's reaction is handed on from there. The thread object
    // belongs to the GUI thread: the call arrives queued.
    ASSERT_CONNECT(QObject::connect(engine, &ConnectStateObject::stateChanged, this,
                                    &ConnectionThread::onConnectionStateChanged, Qt::AutoConnection));
    {
        QMutexLocker locker(&m_startUpMutex);
        m_connection.store(engine);
        m_connectionPublished.wakeAll();
    }
    waitForInitializationRelease();

    qInfo().noquote() << "ConnectThread::run";
    qRegisterMetaType<Constants::ConnectState>("Constants::ConnectState");

    try {
        // Ended before it began: the start-up checks, which run the resolver
        // script and OpenVPN, are of no use any more.
        if (!m_finalize.load()) {
            if (m_model && !m_model->optionDoNotChangeDNS()->value())
                SystemHelper::instance().dnsManagementInit();

            m_connectionInitializeResult.store(engine->initialize());
            if (m_connectionInitializeResult.load())
                m_connectionTapInstalledResult.store(engine->tapInstalled());
        }
    }
    ALOG_CATCHALL("ConnectionThread::run")
    m_connectionInitializeCompleted.store(true);
    qInfo().noquote() << "ConnectThread initialize comleted." << m_connectionInitializeResult.load()
                      << m_connectionTapInstalledResult.load();

    while (!m_finalize.load()) {
        try {
            const Constants::RequestedAction request = m_askedState.load();
            writeOpenVpnCommands();
            if (request != Constants::RequestedAction_Connect && request != Constants::RequestedAction_Disconnect
                && request != Constants::RequestedAction_Attach) {
                // No event loop of its own: this is what delivers the
                // engine's socket and process events while idle.
                if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
                    dispatcher->processEvents(QEventLoop::AllEvents);
                waitForWork(kIdlePollMs);
                continue;
            }
            serve(request);
            m_failedServings = 0;
            m_askedState.store(Constants::RequestedAction_None);
            // A disconnect asked for while the connect was served, too late
            // for the connect to see it.
            if (m_cancelConnect.exchange(false)) {
                Connection* c = connection();
                if (c && !c->isDisconnectedState())
                    doDisconnect();
            }
            // Queued behind the state changes of the serving.
            QMetaObject::invokeMethod(this, &ConnectionThread::onRequestServed, Qt::QueuedConnection);
        } catch (...) {
            qDebug().noquote() << Q_FUNC_INFO << " EXCEPTION in CATCHALL block"
                               << "ConnectionThread::run";
            ALog::saveCurrentLogFile();
            // Served again on the next pass, but not for ever.
            if (++m_failedServings >= kServingAttempts) {
                qWarning().noquote() << Q_FUNC_INFO << "request dropped after" << m_failedServings
                                     << "failures:" << Constants::requestedActionToStr(m_askedState.load());
                m_failedServings = 0;
                m_askedState.store(Constants::RequestedAction_None);
            }
        }
    }

    try {
        qInfo().noquote() << "ConnectThread run function completed";
        // Unpublished first, and deleted once finalize() no longer uses it.
        Connection* engine = m_connection.exchange(nullptr);
        while (m_guiUsingEngine.load() != 0)
            QThread::yieldCurrentThread();
        delete engine;
        qInfo().noquote() << "connection deleted";
    }
    ALOG_CATCHALL("ConnectionThread::run::finalization")
}

void ConnectionThread::waitForWork(unsigned long maxMs)
{
    QMutexLocker locker(&m_workMutex);
    // Looked at under the lock the posting side takes to wake: nothing
    // posted before the wait begins is missed.
    if (m_askedState.load() != Constants::RequestedAction_None || m_writeOpenVpnCommandPending.load()
        || m_finalize.load())
        return;
    m_workPosted.wait(&m_workMutex, maxMs);
}

void ConnectionThread::wakeWorker()
{
    QMutexLocker locker(&m_workMutex);
    m_workPosted.wakeAll();
}

void ConnectionThread::serve(Constants::RequestedAction request)
{
    Connection* c = connection();
    qDebug().noquote() << Q_FUNC_INFO << "needState:" << Constants::requestedActionToStr(request)
                       << "currentState:" << Constants::stateToStr(c->connectState());
    switch (request) {
    case Constants::RequestedAction_Connect:
        // A reset left from before belongs to no connect; a cancel of this
        // one may already be there and is then seen by the engine.
        c->clearResetRequest();
        if (m_cancelConnect.load()) {
            qInfo().noquote() << Q_FUNC_INFO << "connect cancelled before it began";
            m_cancelConnect.store(false);
            break;
        }
        if (!c->isConnectedState() && !c->isConnectingState())
            doConnect();
        break;
    case Constants::RequestedAction_Disconnect:
        doDisconnect();
        break;
    default:
        // Attach: the engine of this platform has nothing to attach to.
        break;
    }
}

bool ConnectionThread::askState(Constants::RequestedAction needState)
{
    try {
        const Constants::RequestedAction current = m_askedState.load();
        qDebug().noquote() << Q_FUNC_INFO << "askedState:" << Constants::requestedActionToStr(current)
                           << "needState:" << Constants::requestedActionToStr(needState);
        Connection* c = connection();
        if (needState == Constants::RequestedAction_Disconnect && c
            && (current == Constants::RequestedAction_Connect || c->isConnectingState())) {
            // The flag first: the worker looks at it after it has cleared
            // the engine's reset, so one of the two reaches the connect.
            m_cancelConnect.store(true);
            c->resetCurrentConnecting();
        }
        if (current != Constants::RequestedAction_None) {
            qWarning().noquote() << "askedState" << Constants::requestedActionToStr(current) << "needState"
                                 << Constants::requestedActionToStr(needState);
            return false;
        }
        if (needState == Constants::RequestedAction_Connect) {
            m_cancelConnect.store(false);
            if (m_model) {
                m_connectUsername = m_model->username();
                m_connectPassword = m_model->userpassword();
            }
        }
        m_askedState.store(needState);
        wakeWorker();
        return true;
    }
    ALOG_CATCHALL("ConnectionThread::askState")
    return false;
}

void ConnectionThread::doConnect()
{
    Connection* c = connection();
    qDebug().noquote() << "connect...";
    if (const ProxyLocation::Ptr proxy = c->proxyLocation())
        qDebug().noquote() << "connect..." << logSafe(proxy->id()) << logSafe(proxy->caption());

    SystemHelper& system = SystemHelper::instance();
    system.saveDefaultRoute();
    system.enableRouteChangeCallback(false);
    // Under the session lock, once no other client's session runs: the
    // exception is the session owner's, and another client's kill switch
    // lets its own server through.
    const QString host = killSwitchHost(*c);
    c->openManager()->setSessionStartStep([&system, host]() -> QString {
        const SystemHelper::KnownStateScope pass;
        if (system.defaultRouteSetConnectionServer(host) || !system.isDefaultRouteRemoved(false))
            return QString();
        // Through a V2Ray proxy the machine talks to the proxy, not the
        // server. The kill switch is on and does not let that address
        // through: the connect could only run into its time-out.
        const QString why = system.killSwitchFailure();
        qCritical().noquote() << "not connecting: the kill switch does not let the server through:" << why;
        return QStringLiteral("The kill switch could not let the server through: ") + why;
    });

    OpenVpnConnectParams params;
    params.protocol = c->protocol() ? c->protocol()->id() : Constants::ProtocolType_UNKNOWN;
    params.serverIP = c->connectionHost();
    params.username = m_connectUsername;
    params.password = m_connectPassword;
    params.bWithReconnect = true;
    // The directory the model wrote "config.ovpn" and "proxy.json" into.
    params.configPath = system.configsFilesDirPath();
    params.dnsScripts = !c->optionDoNotChangeDNS();
    params.withV2RayProxy = proxyLocationV2Ray(c->proxyLocation());
    params.ovpnFile = Constants::openVpnConfigFileName();
    c->connect(params);
    // Not left for a connect of another road.
    c->openManager()->setSessionStartStep(nullptr);
}

void ConnectionThread::doDisconnect()
{
    qDebug().noquote() << "disconnect...";
    connection()->disconnect(true);
}

bool ConnectionThread::waitInitializeCompleted(int maxWaitSeconds)
{
    const QDeadlineTimer deadline(qint64(maxWaitSeconds) * 1000);
    while (!m_connectionInitializeCompleted.load() && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
        qDebug().noquote() << "waitInitializeCompleted wait...";
    }
    return m_connectionInitializeCompleted.load();
}

bool ConnectionThread::waitWorkCompleted(int maxWaitSeconds)
{
    try {
        auto busy = [this] {
            const Connection* c = connection();
            const Constants::ConnectState engineState = c ? c->connectState() : Constants::ConnectState_Disconnected;
            return m_askedState.load() != Constants::RequestedAction_None
                || m_onConnectionStateChangedCompletedState != engineState;
        };
        const QDeadlineTimer deadline(qint64(maxWaitSeconds) * 1000);
        int waitedMs = 0;
        while (busy() && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            QThread::msleep(50);
            waitedMs += 50;
            if (waitedMs % 1000 == 0)
                qInfo().noquote() << "waitWorkCompleted wait..." << waitedMs;
        }
        return m_askedState.load() != Constants::RequestedAction_None;
    }
    ALOG_CATCHALL("ConnectionThread::waitWorkCompleted")
    return false;
}

void ConnectionThread::finalize()
{
    try {
        if (!isRunning())
            return;
        m_finalize.store(true);
        releaseInitialization();
        wakeWorker();
        QElapsedTimer started;
        started.start();
        qint64 limitSeconds = 5;
        while (isRunning()) {
            cutShortRequestInService();
            QThread::msleep(10);
            if (started.elapsed() / 1000 > limitSeconds) {
                limitSeconds += 5;
                qDebug().noquote() << "ConnectThread - long finalization...";
            }
            if (limitSeconds > FinalizeLimitSeconds) {
                qWarning().noquote() << "ERROR: ConnectThread - break finalization!";
                return;
            }
        }
    }
    ALOG_CATCHALL("ConnectionThread::finalize")
}

void ConnectionThread::cutShortRequestInService()
{
    // A connect in progress would hold the worker for minutes. Asked again
    // on every poll: the engine forgets the request between two attempts.
    ++m_guiUsingEngine;
    if (m_askedState.load() != Constants::RequestedAction_None) {
        if (Connection* c = connection())
            c->resetCurrentConnecting();
    }
    --m_guiUsingEngine;
}

void ConnectionThread::onRequestServed()
{
    if (m_model && m_askedState.load() == Constants::RequestedAction_None)
        m_model->setVisualConnectionState(m_onConnectionStateChangedCompletedState);
}

void ConnectionThread::writeOpenVpnCommand(const QString& cmd)
{
    // The worker owns the text until it has taken it.
    if (m_writeOpenVpnCommandPending.load()) {
        qWarning().noquote() << Q_FUNC_INFO << "the previous command is not delivered yet; ignored";
        return;
    }
    m_writeOpenVpnCommand = cmd;
    m_writeOpenVpnCommandPending.store(true);
    wakeWorker();
}

void ConnectionThread::writeOpenVpnCommands()
{
    if (!m_writeOpenVpnCommandPending.load())
        return;
    const QString cmd = m_writeOpenVpnCommand;
    m_writeOpenVpnCommandPending.store(false);
    if (Connection* c = connection())
        c->writeOpenVpnCommand(cmd);
}

void ConnectionThread::onConnectionStateChanged(Constants::ConnectState oldState, Constants::ConnectState newState,
                                                bool withError)
{
    // The commands below process events while they wait: the reactions to
    // later changes may run, and end, inside this one.
    const quint64 reaction = ++m_reactionsStarted;
    m_modelReactions.append({ reaction, oldState, newState, withError, false });
    // The kill switch is read once for the whole reaction, the model's too.
    const SystemHelper::KnownStateScope pass;
    reactOnSystem(reaction, oldState, newState);
    for (ModelReaction& pending : m_modelReactions) {
        if (pending.reaction == reaction)
            pending.systemDone = true;
    }
    handOnToModel();
}

void ConnectionThread::reactOnSystem(quint64 reaction, Constants::ConnectState oldState,
                                     Constants::ConnectState newState)
{
    Timer timer(QStringLiteral("ConnectionThread::onConnectionStateChanged ") + Constants::stateToStr(oldState)
                + QStringLiteral("->") + Constants::stateToStr(newState));
    try {
        Connection* c = connection();
        SystemHelper& system = SystemHelper::instance();
        const bool blockIPv6 = Settings::blockIPv6() == QLatin1String("true");
        if (c && m_model && newState == Constants::ConnectState_Connected) {
            qDebug().noquote() << "Connected...";
            // The tunnel's resolver only while the tunnel is up: once it has
            // ended, the engine has put the user's back (the kill switch
            // below is wanted all the same). The resolver file and the
            // firewall have owners of their own: the resolver's change runs
            // beside the firewall's steps, which keep their order.
            std::unique_ptr<ConcurrentStep> resolver;
            bool resolverSet = true;
            if (!c->optionDoNotChangeDNS() && c->isConnectedState()) {
                const Constants::DNSFiltering filtering = c->dnsFiltering() ? c->dnsFiltering()->dnsFiltering()
                                                                            : Constants::DNSFiltering_disabled;
                const bool disableDns = m_model->optionDisableDNS()->value();
                resolver.reset(new ConcurrentStep([&system, &resolverSet, disableDns, filtering] {
                    resolverSet = system.assignDnsToInterfaces(disableDns, QString::fromLatin1(ON_CONNECTED_DNS_V4),
                                                               QString::fromLatin1(ON_CONNECTED_DNS_V6), filtering);
                }));
            }
            system.defaultRouteSetConnectionServer(killSwitchHost(*c));
            if (c->optionGatewayRemoval()) {
                system.removeDefaultRoute(killSwitchHost(*c));
                if (m_model->optionDisableLANTraffic()->value())
                    system.localnetworkTrafficDeny();
                else
                    system.localnetworkTrafficAllow();
            }
            if (blockIPv6)
                system.IPv6Block();
            if (resolver) {
                resolver->wait();
                if (!resolverSet)
                    m_model->showDnsFailure();
            }
            qDebug().noquote() << "onConnected()";
        } else if (c && m_model && newState == Constants::ConnectState_Disconnected) {
            qDebug().noquote() << "Disconnected...";
            // Asked below, after the resolver's step, which leaves it alone.
            system.readKillSwitchAhead();
            if ((!c->optionGatewayRemoval() || c->optionDisableDNS()) && !c->optionDoNotChangeDNS())
                system.restoreDnsRecords();
            if (blockIPv6)
                system.IPv6Unblock();
            m_model->setIsRestoreGwAvailable(system.isDefaultRouteRemoved(false));
            qDebug().noquote() << "onDisconnected()";
            m_model->restoreDNSNic(false);
            m_model->setIsRestoreGwAvailable(system.isDefaultRouteRemoved(false));
        }
    }
    ALOG_CATCHALL("ConnectionThread::onConnectionStateChanged")
    if (reaction != m_reactionsStarted) {
        // A newer change has been reacted to already; its state stands.
        qDebug().noquote() << Q_FUNC_INFO << Constants::stateToStr(newState) << "superseded by a newer change";
        return;
    }
    m_onConnectionStateChangedCompletedState = newState;
    // A connect posted but not yet taken up keeps showing as one.
    const bool connectPending = m_askedState.load() == Constants::RequestedAction_Connect;
    if (m_model && !(connectPending && newState == Constants::ConnectState_Disconnected))
        m_model->setVisualConnectionState(newState);
}

void ConnectionThread::handOnToModel()
{
    if (m_handingOnToModel)
        return;
    m_handingOnToModel = true;
    const auto done = qScopeGuard([this] { m_handingOnToModel = false; });
    // The model's reaction may process events too: a change whose system
    // reaction ends meanwhile is handed on by this loop, after it.
    while (!m_modelReactions.isEmpty() && m_modelReactions.first().systemDone) {
        const ModelReaction next = m_modelReactions.takeFirst();
        if (m_model)
            m_model->onConnectionStateChanged(next.oldState, next.newState, next.withError);
    }
}
