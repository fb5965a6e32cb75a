// Window, display, single-instance server, QML helpers, web links and tray demands.
#include "model/model.h"

#include "checknewversion.h"
#include "getservers.h"
#include "log.h"
#include "model/windowhelpers.h"
#include "settings.h"
#include "singlestartman.h"
#include "systemhelper.h"
#include "utils.h"

#include <QApplication>
#include <QDataStream>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QQuickWindow>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>

namespace {

constexpr qint64 kLogTextLimit = 204800;
constexpr int kSceneCheckDelayMs = 1000;
// How long a second start waits to reach the running instance.
constexpr int kBringToFrontWaitMs = 3000;
const char kIpcAnswer[] = "I'm hear";

bool dpiUsable(qreal dpi)
{
    return !std::isnan(dpi) && dpi >= 5 && dpi <= 10000;
}

// Ok / Cancel question without parent under the program's title; true unless
// Cancel was chosen.
bool confirm(const QString& text)
{
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(message_title), text,
                    QMessageBox::Ok | QMessageBox::Cancel, nullptr);
    return box.exec() != QMessageBox::Cancel;
}

bool someoneListens(const QString& serverName)
{
    QLocalSocket probe;
    probe.connectToServer(serverName, QIODevice::ReadWrite);
    const bool connected = probe.waitForConnected(1000);
    probe.abort();
    return connected;
}

void openWebPage(const QString& address)
{
    QDesktopServices::openUrl(QUrl(address, QUrl::TolerantMode));
}

} // namespace

double displayScaleFactor(qreal logicalDpi, qreal physicalDpi)
{
    const qreal logical = dpiUsable(logicalDpi) ? logicalDpi : 96;
    const qreal physical = dpiUsable(physicalDpi) ? physicalDpi : logical;
    return physical / logical;
}

QString elapsedTimeText(qint64 seconds)
{
    if (seconds <= 59)
        return QStringLiteral("%1s").arg(seconds);
    const qint64 minutes = seconds / 60;
    if (minutes <= 59)
        return QStringLiteral("%1m:%2s").arg(minutes).arg(seconds % 60);
    const qint64 hours = minutes / 60;
    if (hours <= 23)
        return QStringLiteral("%1h:%2m").arg(hours).arg(minutes % 60);
    return QStringLiteral("%1d:%2h").arg(hours / 24).arg(hours % 24);
}

QByteArray ipcAnswerFrame()
{
    QByteArray block;
    QDataStream out(&block, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_4_0);
    out << quint16(0);
    out << QString::fromLatin1(kIpcAnswer);
    out.device()->seek(0);
    out << quint16(block.size() - int(sizeof(quint16)));
    return block;
}

bool activateRunningInstance(int timeoutMs)
{
    const QString path = SingleStartMan::ipcServerPath();
    if (path.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(path, QIODevice::ReadWrite);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    // Only a server of this same user is asked.
    if (!SingleStartMan::trustedServer(socket, path)) {
        qWarning().noquote() << Q_FUNC_INFO << "not this user's server: " << path;
        socket.abort();
        return false;
    }
    // The connection itself is the request; the answer tells that the peer
    // is one of ours.
    QDataStream in(&socket);
    in.setVersion(QDataStream::Qt_4_0);
    QElapsedTimer clock;
    clock.start();
    quint16 blockSize = 0;
    while (true) {
        if (blockSize == 0 && socket.bytesAvailable() >= qint64(sizeof(quint16)))
            in >> blockSize;
        if (blockSize != 0 && socket.bytesAvailable() >= blockSize) {
            QString text;
            in >> text;
            socket.abort();
            return text == QLatin1String(kIpcAnswer);
        }
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0 || !socket.waitForReadyRead(int(left))) {
            socket.abort();
            return false;
        }
    }
}

void bringRunningApplicationToFront()
{
    activateRunningInstance(kBringToFrontWaitMs);
}

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
    ++m_restoreGwAvailableSets;
    // The kill switch of another running client's session is that client's
    // to lift.
    if (isRestoreGwAvailable && QOpenVPN2::anotherClientsSession())
        isRestoreGwAvailable = false;
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
    if (m_connectedTime.isValid()) {
        m_connectedClock.start();
        m_connectedClockOffsetMs = m_connectedTime.msecsTo(QDateTime::currentDateTime());
    } else {
        m_connectedClock.invalidate();
    }
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

// ----------------------------------------------------------------- window

QWindow* Model::mainWindow()
{
    try {
        const QWindowList topLevel = QGuiApplication::topLevelWindows();
        for (QWindow* window : topLevel) {
            if (window->objectName() == QLatin1String("mainWindow"))
                return window;
        }
        if (!topLevel.isEmpty())
            return topLevel.first();
        const QWindowList all = QGuiApplication::allWindows();
        if (!all.isEmpty())
            return all.first();
    }
    ALOG_CATCHALL("Model::mainWindow")
    return nullptr;
}

QWidget* Model::mainWidget()
{
    const QWidgetList widgets = QApplication::allWidgets();
    return widgets.isEmpty() ? nullptr : widgets.first();
}

void Model::activateMainWindow()
{
    try {
        qInfo().noquote() << Q_FUNC_INFO;
        if (QWindow* window = mainWindow()) {
            qInfo().noquote() << "Current visibility:" << window->visibility();
            window->show();
            window->raise();
            window->requestActivate();
            window->requestUpdate();
            qInfo().noquote() << "Current visibility:" << window->visibility();
        } else {
            qWarning().noquote() << "mainWindow() == null";
        }

        const auto listWindows = [](const QWindowList& windows) {
            for (QWindow* window : windows) {
                qInfo().noquote() << "window: " << window << window->metaObject()->className() << " / "
                                  << window->objectName();
            }
        };
        qInfo().noquote() << "====================ALL APP Windows===============";
        listWindows(QGuiApplication::allWindows());
        qInfo().noquote() << "====================TOP LEVEL APP WINDOWS===============";
        listWindows(QGuiApplication::topLevelWindows());
    }
    ALOG_CATCHALL("Model::activateMainWindow")
}

void Model::minimizeMainWindow()
{
    try {
        qInfo().noquote() << Q_FUNC_INFO;
        QWindow* window = mainWindow();
        if (!window) {
            qDebug().noquote() << "window == null";
            return;
        }
        qInfo().noquote() << "Current visibility:" << window->visibility();
        if (window->visibility() != QWindow::Minimized)
            window->showMinimized();
    }
    ALOG_CATCHALL("Model::minimizeMainWindow")
}

void Model::hideMainWindow()
{
    try {
        qDebug().noquote() << "hide main window";
        QWindow* window = mainWindow();
        if (!window) {
            qDebug().noquote() << "window == null";
            return;
        }
        qInfo().noquote() << "Current visibility:" << window->visibility();
        window->hide();
        window->setVisibility(QWindow::Hidden);
        qInfo().noquote() << "Current visibility:" << window->visibility();
    }
    ALOG_CATCHALL("Model::hideMainWindow")
}

void Model::minimizeClicked()
{
    try {
        minimizeMainWindow();
    }
    ALOG_CATCHALL("Model::minimizeClicked")
}

void Model::onMainWindowMinimized()
{
    qDebug().noquote() << "main window minimized";
}

bool Model::onMainWindowClosing()
{
    try {
        qDebug().noquote() << Q_FUNC_INFO << "begin";
        QWindow* window = mainWindow();
        const bool hidden = window
            && (window->visibility() == QWindow::Minimized || window->visibility() == QWindow::Hidden);
        if (!hidden && m_optionMinimizeOnClose->value()) {
            QTimer::singleShot(0, this, &Model::minimizeClicked);
            return false;
        }
        if (!beforClosing())
            return false;
        QApplication::quit();
        qDebug().noquote() << Q_FUNC_INFO << "end";
    }
    ALOG_CATCHALL("Model::onMainWindowClosing")
    return true;
}

bool Model::beforClosing()
{
    try {
        const bool quitOnLastWindowClosed = QGuiApplication::quitOnLastWindowClosed();
        QGuiApplication::setQuitOnLastWindowClosed(true);
        // A cancelled exit goes on running as before: closing the window
        // later must not end the program past these questions.
        auto cancelled = [quitOnLastWindowClosed] {
            QGuiApplication::setQuitOnLastWindowClosed(quitOnLastWindowClosed);
            return false;
        };
        const Constants::ConnectState state = connectionState();
        if (state == Constants::ConnectState_Connected || state == Constants::ConnectState_Connecting) {
            activateMainWindow();
            if (!confirm(tr("Closing will disconnect your VPN")))
                return cancelled();
        } else if (state == Constants::ConnectState_Disconnected && !QOpenVPN2::anotherClientsSession()
                   && SystemHelper::instance().isDefaultRouteRemoved(false)) {
            if (!confirm(tr("Kill switch will be disabled on exit")))
                return cancelled();
        }
        updateExternalIp(true);
        doDisconnect(true);
        emit beforeAppClose();
        return true;
    }
    ALOG_CATCHALL("Model::beforClosing")
    return false;
}

void Model::onClose()
{
    try {
        qDebug().noquote() << "MainViewWindow::onClose";
        if (confirm(tr("Closing will disconnect your VPN")))
            QApplication::quit();
    }
    ALOG_CATCHALL("Model::onClose")
}

void Model::sceneCompleted()
{
    qDebug().noquote() << Q_FUNC_INFO;
    QTimer::singleShot(kSceneCheckDelayMs, this, &Model::checkVpnInstalled);
}

namespace {

// With OSTREL_REPORT_FIRST_FRAME set, the moment the window's first frame
// reaches the screen is written to standard error as
// "ostrel: first frame <CLOCK_MONOTONIC nanoseconds>", for measuring the
// start-up (bench/startup). frameSwapped comes on the render thread.
void reportFirstFrame(QWindow* window)
{
    auto* quickWindow = qobject_cast<QQuickWindow*>(window);
    if (!quickWindow || !qEnvironmentVariableIsSet("OSTREL_REPORT_FIRST_FRAME"))
        return;
    auto reported = QSharedPointer<QAtomicInt>::create(0);
    QObject::connect(
        quickWindow, &QQuickWindow::frameSwapped, quickWindow,
        [reported]() {
            if (!reported->testAndSetOrdered(0, 1))
                return;
            timespec now {};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::fprintf(stderr, "ostrel: first frame %lld\n",
                         static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
            std::fflush(stderr);
        },
        Qt::DirectConnection);
}

} // namespace

void Model::releaseStartUpWorkAtFirstFrame(QWindow* window)
{
    auto* quickWindow = qobject_cast<QQuickWindow*>(window);
    if (!quickWindow || m_startUpWorkReleased)
        return;
    // frameSwapped comes on the render thread: queued to this one.
    m_firstFrameConnection = connect(quickWindow, &QQuickWindow::frameSwapped, this, &Model::releaseStartUpWork,
                                     Qt::QueuedConnection);
}

void Model::installEventsFilters()
{
    try {
        reportFirstFrame(mainWindow());
        releaseStartUpWorkAtFirstFrame(mainWindow());
        if (QWindow* window = mainWindow())
            window->installEventFilter(this);
        if (QCoreApplication* app = QCoreApplication::instance())
            app->installNativeEventFilter(this);
    }
    ALOG_CATCHALL("Model::installEventsFilters")
}

void Model::removeEventsFilters()
{
    try {
        if (QWindow* window = mainWindow())
            window->removeEventFilter(this);
        if (QCoreApplication* app = QCoreApplication::instance())
            app->removeNativeEventFilter(this);
    }
    ALOG_CATCHALL("Model::removeEventsFilters")
}

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

// ----------------------------------------------------------------- display

void Model::recalcDisplay()
{
    try {
        QScreen* screen = QGuiApplication::primaryScreen();
        qreal logical = std::nan("");
        qreal physical = std::nan("");
        if (screen) {
            qInfo().noquote() << "geometry: " << screen->geometry();
            qInfo().noquote() << "availableGeometry: " << screen->availableGeometry();
            qInfo().noquote() << "physicalDotsPerInch: " << screen->physicalDotsPerInch();
            qInfo().noquote() << "physicalSize: " << screen->physicalSize();
            qInfo().noquote() << "logicalDotsPerInch: " << screen->logicalDotsPerInch();
            qInfo().noquote() << "virtualGeometry: " << screen->virtualGeometry();
            qInfo().noquote() << "refreshRate: " << screen->refreshRate();
            qInfo().noquote() << "devicePixelRatio: " << screen->devicePixelRatio();
            logical = screen->logicalDotsPerInch();
            physical = screen->physicalDotsPerInch();
        }
        const qreal logicalResult = dpiUsable(logical) ? logical : 96;
        const qreal physicalResult = dpiUsable(physical) ? physical : logicalResult;
        qInfo().noquote() << "logicalDotsPerInch result: " << logicalResult;
        qInfo().noquote() << "physicalDotsPerInch result: " << physicalResult;
        const double k = displayScaleFactor(logical, physical);
        qInfo().noquote() << "kDpi: " << k;
        setKDpi(k);
    }
    ALOG_CATCHALL("Model::recalcDisplay")
}

void Model::onGeometryChanged(const QRect& geometry)
{
    qDebug().noquote() << Q_FUNC_INFO << geometry;
}

void Model::onAvailableGeometryChanged(const QRect& geometry)
{
    qDebug().noquote() << Q_FUNC_INFO << geometry;
}

void Model::onDevicePixelRatioChanged(qreal dpi)
{
    qDebug().noquote() << Q_FUNC_INFO << dpi;
}

void Model::onPhysicalSizeChanged(const QSizeF& size)
{
    qDebug().noquote() << Q_FUNC_INFO << size;
}

void Model::onPhysicalDotsPerInchChanged(qreal dpi)
{
    try {
        qDebug().noquote() << Q_FUNC_INFO << dpi;
        recalcDisplay();
    }
    ALOG_CATCHALL("Model::onPhysicalDotsPerInchChanged")
}

void Model::onLogicalDotsPerInchChanged(qreal dpi)
{
    try {
        qDebug().noquote() << Q_FUNC_INFO << dpi;
        recalcDisplay();
    }
    ALOG_CATCHALL("Model::onLogicalDotsPerInchChanged")
}

void Model::onVirtualGeometryChanged(const QRect& rect)
{
    qDebug().noquote() << Q_FUNC_INFO << rect;
}

void Model::onRefreshRateChanged(qreal refreshRate)
{
    qDebug().noquote() << Q_FUNC_INFO << refreshRate;
}

// ----------------------------------------------------------------- single-instance server

bool Model::startIpcServer()
{
    try {
        if (m_ipcServer.isListening())
            return true;
        // Per user, in the user's private directory; other users neither
        // reach it nor put a socket of theirs in its place.
        const QString name = SingleStartMan::ipcServerPath();
        if (name.isEmpty()) {
            qCritical().noquote() << IPC_SERVER_NAME << "not started (no private directory)";
            return false;
        }
        qDebug().noquote() << Q_FUNC_INFO << "socketOptions: " << m_ipcServer.socketOptions();
        m_ipcServer.setSocketOptions(QLocalServer::UserAccessOption);
        qDebug().noquote() << Q_FUNC_INFO << "socketOptions: " << m_ipcServer.socketOptions();
        // Listening replaces whatever socket file has the name, a running
        // instance's too: that one keeps it.
        const bool taken = someoneListens(name);
        if (!taken && !m_ipcServer.listen(name) && m_ipcServer.serverError() == QAbstractSocket::AddressInUseError) {
            // A socket file left by an instance that ended without closing it.
            qDebug().noquote() << Q_FUNC_INFO << "removing a stale socket of " << name;
            QLocalServer::removeServer(name);
            m_ipcServer.listen(name);
        }
        if (!m_ipcServer.isListening()) {
            qCritical().noquote() << name << "not started"
                                  << (taken ? QStringLiteral("(in use)") : m_ipcServer.errorString());
            return false;
        }
        if (!connect(&m_ipcServer, &QLocalServer::newConnection, this, &Model::ipcServerNewConnection))
            qCritical().noquote() << "can't take signal ipcServer.newConnection()";
        return true;
    }
    ALOG_CATCHALL("Model::startIpcServer")
    return false;
}

void Model::ipcServerNewConnection()
{
    try {
        qDebug().noquote() << Q_FUNC_INFO;
        activateMainWindow();
        const QByteArray frame = ipcAnswerFrame();
        // Every waiting client gets its answer, not only the first.
        while (QLocalSocket* client = m_ipcServer.nextPendingConnection()) {
            if (!connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater))
                qWarning().noquote() << "not connected to signal";
            client->write(frame);
            client->flush();
            client->disconnectFromServer();
        }
    }
    ALOG_CATCHALL("Model::ipcServerNewConnection")
}

void Model::ipcConnectionTest()
{
    try {
        m_ipcSocketBlockSize = 0;
        m_ipcSocket.abort();
        m_ipcSocket.connectToServer(SingleStartMan::ipcServerPath(), QIODevice::ReadWrite);
        // The debug page may run the test any number of times: one
        // connection of each kind.
        disconnect(&m_ipcSocket, nullptr, this, nullptr);
        ASSERT_CONNECT(connect(&m_ipcSocket, &QLocalSocket::readyRead, this, &Model::ipcClientRead));
        ASSERT_CONNECT(connect(&m_ipcSocket, &QLocalSocket::errorOccurred, this, &Model::ipcClientError));
    }
    ALOG_CATCHALL("Model::ipcConnectionTest")
}

void Model::ipcClientRead()
{
    try {
        QDataStream in(&m_ipcSocket);
        in.setVersion(QDataStream::Qt_4_0);
        if (m_ipcSocketBlockSize == 0) {
            if (m_ipcSocket.bytesAvailable() < qint64(sizeof(quint16)))
                return;
            in >> m_ipcSocketBlockSize;
        }
        if (in.atEnd())
            return;
        QString text;
        in >> text;
        qDebug().noquote() << Q_FUNC_INFO << logSafe(text);
    }
    ALOG_CATCHALL("Model::ipcClientRead")
}

void Model::ipcClientError(QLocalSocket::LocalSocketError socketError)
{
    qCritical().noquote() << Q_FUNC_INFO << socketError;
}

// ----------------------------------------------------------------- QML helpers

QString Model::newsDateString(const QDate& date)
{
    return date.toString(QStringLiteral("dd MMMM yyyy"));
}

void Model::linkAktivated(const QString& url)
{
    qDebug().noquote() << Q_FUNC_INFO << logSafe(url);
    // The link script is waited for with events flowing: not under the QML
    // handler that asked, whose item a list refresh or a closed window may
    // delete in that wait. A failure comes back as a toast.
    m_webLinks.openLater(url);
}

QString Model::makeTextLink(const QString& url, const QString& text, const QString& color)
{
    Q_UNUSED(url)
    return QStringLiteral("<font color=\"") + color + QStringLiteral("\">") + text + QStringLiteral("</font>");
}

QString Model::checkUserName(QString value)
{
    if (value != value.trimmed())
        return tr("Username string include an empty character either in the beginning or at the end.");
    return QString();
}

QString Model::checkUserPassword(QString value)
{
    if (value != value.trimmed())
        return tr("Password string include an empty character either in the beginning or at the end.");
    return QString();
}

QString Model::getWindowsTroubleshootHelpText()
{
    QFile file(QStringLiteral(":/win/troubleshootHelpText.html"));
    if (!file.open(QIODevice::ReadOnly)) {
        const QString text = QStringLiteral("could not open file for read");
        qDebug().noquote() << Q_FUNC_INFO << text;
        return text;
    }
    return QString::fromLatin1(file.readAll());
}

QString Model::getLogText()
{
    try {
        QFile file(ALog::filePath());
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        const qint64 size = file.size();
        const bool skipped = size > kLogTextLimit;
        if (skipped)
            file.seek(size - kLogTextLimit);
        QString text = QString::fromLatin1(file.read(kLogTextLimit));
        if (skipped)
            text.prepend(QStringLiteral("Skip %1  Kb\n\n").arg((size - kLogTextLimit) / 1024));
        return text;
    }
    ALOG_CATCHALL("Model::getLogText")
    return QString();
}

void Model::saveLog()
{
    try {
        // Proposed in the user's home directory: the working directory may be
        // anywhere (a source tree, "/").
        const QString proposed = QDir(QDir::homePath()).filePath(QStringLiteral("connection_log.txt"));
        const QString target = QFileDialog::getSaveFileName(nullptr, tr("Save Log"), proposed,
                                                            tr("Text files (*.txt)"));
        QFile log(ALog::filePath());
        if (!log.open(QIODevice::ReadOnly))
            return;
        log.close();
        // The dialog has already asked before an existing file is replaced;
        // QFile::copy itself never overwrites.
        if (!target.isEmpty() && QFile::exists(target) && target != log.fileName())
            QFile::remove(target);
        if (target.isEmpty() || !log.copy(target))
            qWarning().noquote() << "log file not saved" << target;
        else
            makePrivate(target);
    }
    ALOG_CATCHALL("Model::saveLog")
}

QString Model::getElapsedTimeString(const QDateTime& dt)
{
    // The window asks for its connected time.
    if (m_connectedClock.isValid() && dt == m_connectedTime)
        return elapsedTimeText((m_connectedClockOffsetMs + m_connectedClock.elapsed()) / 1000);
    return elapsedTimeText(dt.secsTo(QDateTime::currentDateTime()));
}

void Model::showLog()
{
    try {
        // Lengths only: the values never reach the log.
        const QString storedName = Settings::username().trimmed();
        const QString storedPassword = Settings::password().trimmed();
        qDebug().noquote() << "config u/p length: "
                           << QString::number(storedName.length()) + QStringLiteral(" / ")
                + QString::number(storedPassword.length());
        const QString currentName = m_username.trimmed();
        const QString currentPassword = m_userpassword.trimmed();
        if (storedName != m_username || storedPassword != m_userpassword) {
            qDebug().noquote() << "current u/p length: "
                               << QString::number(currentName.length()) + QStringLiteral(" / ")
                    + QString::number(currentPassword.length());
        }
        emit qmlShowLog();
    }
    ALOG_CATCHALL("Model::showLog")
}

void Model::resetPassword()
{
    linkAktivated(URL_RESETPASSWORD);
}

void Model::iPLeakCheck()
{
    linkAktivated(URL_IPLEACKCHECK);
}

void Model::restoreDNSNic(bool updateExternalInfo)
{
    try {
        SystemHelper::instance().restoreDnsNic();
        if (updateExternalInfo) {
            updateExternalIp(false);
            updateNews();
            getLocations().updateLocations();
            updateV2RayLocations();
        }
    }
    ALOG_CATCHALL("Model::restoreDNSNic")
}

void Model::onNewVersion()
{
    try {
        qInfo().noquote() << "M14";
        setAppNewVersion(getUpdateManager().newVersion());
        updateAvailableClicked();
        qInfo().noquote() << "M14-1";
    }
    ALOG_CATCHALL("Model::onNewVersion")
}

void Model::onNewVersionDownloaded(QString fileName)
{
    try {
        qInfo().noquote() << "M16";
        UpdateManager::beginUpdateFromFile(fileName);
        qInfo().noquote() << "M17";
    }
    ALOG_CATCHALL("Model::onNewVersionDownloaded")
}

void Model::crash1()
{
    // No crash reporter is built in, so there is nothing to try out.
    qDebug().noquote() << "Can't crash on purpose. App build without crash handling.";
}

void Model::exception()
{
    try {
        throw std::string("Model::exception");
    }
    ALOG_CATCHALL("Model::exception")
}

void Model::onNeedVPN(QString str)
{
    Q_UNUSED(str)
    openWebPage(URL_NEED_VPN);
}

void Model::onClientArea(QString str)
{
    Q_UNUSED(str)
    openWebPage(URL_CLIENT_AREA);
}

void Model::onWhatProtocolToUse(QString str)
{
    Q_UNUSED(str)
    openWebPage(URL_PROTOCOL);
}

void Model::onNodesStatus(QString str)
{
    Q_UNUSED(str)
    openWebPage(URL_STATUS);
}

void Model::onSupport(QString str)
{
    Q_UNUSED(str)
    openWebPage(URL_SUPPORT);
}

void Model::onLegal(QString str)
{
    Q_UNUSED(str)
    openWebPage(URL_LEGAL);
}

void Model::onRoadmap(QString str)
{
    Q_UNUSED(str)
    openWebPage(URL_ROADMAP);
}

void Model::onProtocol(QString str)
{
    Q_UNUSED(str)
    openWebPage(URL_PROTOCOL_USE);
}

// ----------------------------------------------------------------- tray demands

Connection* Model::sysIconDemands_connection()
{
    return connection();
}

QString Model::sysIconDemands_title()
{
    return QString::fromLatin1(message_title);
}

const LocationModel* Model::sysIconDemands_validLocations()
{
    return validLocations();
}

const RegionModel* Model::sysIconDemands_regions()
{
    return regions();
}

void Model::sysIconDemands_onLocationSelected(Location::Ptr location)
{
    selectLocationWithConnect(location);
}

void Model::sysIconDemands_onOpen()
{
    activateMainWindow();
}

void Model::sysIconDemands_onClose()
{
    const bool iconShown = m_trayIcon && m_trayIcon->isVisible();
    if (m_trayIcon)
        m_trayIcon->hide();
    if (beforClosing())
        QApplication::quit();
    else if (iconShown)
        m_trayIcon->show(); // the user stays: so does the icon
}

void Model::sysIconDemands_onDisconnect()
{
    vpnConnectDisconnect();
}

void Model::sysIconDemands_onRestoreGw()
{
    restoreGw();
}

void Model::sysIconDemands_onKillSwitchMenu()
{
    try {
        SystemHelper& system = SystemHelper::instance();
        if (system.isDefaultRouteRemoved(false)) {
            if (Connection* c = connection())
                system.staticRouteDelete(c->connectionHost());
            if (!system.restoreDefaultRoute(true))
                showKillSwitchOffFailure();
            updateDependedOptions();
        } else if (connectionState() == Constants::ConnectState_Connected) {
            m_optionGatewayRemoval->setValue(!m_optionGatewayRemoval->value());
        }
    }
    ALOG_CATCHALL("Model::sysIconDemands_onKillSwitchMenu")
}

void Model::sysIconDemands_onResume()
{
}

QWindow* Model::sysIconDemands_window()
{
    return mainWindow();
}

QWidget* Model::sysIconDemands_widget()
{
    return mainWidget();
}

void Model::sysIconDemands_activateWindow()
{
    activateMainWindow();
}

const QList<Location::Ptr> Model::sysIconDemands_locationsForRegion(Region::Ptr region)
{
    if (!m_selectedProtocol)
        return QList<Location::Ptr>();
    return m_locations.getFilteredList(m_selectedProtocol->locationType(), region);
}

bool Model::sysIconDemands_useColoredIcon()
{
    if (!m_optionMacUseColorIcons->visible())
        return true;
    return m_optionMacUseColorIcons->value();
}
