#include "unix/qopenvpn2.h"

#include "log.h"
#include "systemhelper.h"
#include "unix/externaltools.h"
#include "utils.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

namespace {
const int kProcessWaitMs = 30000;
const int kAttachAttempts = 10;
const int kAttachPauseMs = 500;
const int kShowAdaptersTimeoutMs = 10000;
const int kManagementPortWaitMs = 5000;

void pollOnce()
{
    waitWithProcessEvents(QStringLiteral("05"), 1);
}
} // namespace

QOpenVPN2::QOpenVPN2(QObject* parent)
    : QOpenVPN2Custom(parent)
    , m_v2Ray(parent)
{
    ASSERT_CONNECT(QObject::connect(&m_openVpnProcess, &QProcess::readyRead, this, &QOpenVPN2::onVpnProcessReadyRead));
    ASSERT_CONNECT(QObject::connect(&m_openVpnProcess, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                                    this, &QOpenVPN2::onVpnProcessFinished));
}

QOpenVPN2::~QOpenVPN2()
{
    try {
        disconnect();
        m_openVpnProcess.disconnect(this);
        if (isOpenVpnProcessRunning()) {
            m_openVpnProcess.kill();
            m_openVpnProcess.waitForFinished(5000);
        }
    }
    ALOG_CATCHALL("QOpenVPN2::~QOpenVPN2")
}

bool QOpenVPN2::initialize()
{
    return initializeWith(QCoreApplication::applicationDirPath() + QStringLiteral("/openvpn.ostrel"));
}

bool QOpenVPN2::initializeWith(const QString& exePath)
{
    try {
        openVPNExePath_ = exePath;
        qDebug().noquote() << Q_FUNC_INFO << openVPNExePath_;
        if (!QFile::exists(openVPNExePath_)) {
            qDebug().noquote() << Q_FUNC_INFO << "file not exist " << openVPNExePath_;
            return false;
        }
        if (!checkVersion()) {
            qDebug().noquote() << Q_FUNC_INFO << "openvpn checkVersion failed!";
            return false;
        }
        qDebug().noquote() << Q_FUNC_INFO << "openvpn checkVersion Ok";

        QString result;
        const int code = SystemHelper::executeWithWait(ExternalTools::DNSSCRIPT(), ExternalTools::dnsscript_init(), result,
                                                       ExternalTools::SMALL_WAIT_TIME(), false, false);
        if (!dnsInitSucceeded(code, result)) {
            qDebug().noquote() << Q_FUNC_INFO << "dnsscript_init failed";
            return false;
        }
        return true;
    }
    ALOG_CATCHALL("QOpenVPN2::initializeWith")
    return false;
}

bool QOpenVPN2::dnsInitSucceeded(int exitCode, const QString& output)
{
    static const QRegularExpression failureLine(QStringLiteral("^error"), QRegularExpression::MultilineOption);
    return exitCode == 0 && !output.contains(failureLine);
}

bool QOpenVPN2::versionLineAccepted(const QString& firstLine)
{
    if (!firstLine.contains(QLatin1String("OpenVPN"), Qt::CaseInsensitive))
        return false;
    const QChar major = firstLine.size() > 8 ? firstLine.at(8) : QChar();
    const QChar minor = firstLine.size() > 10 ? firstLine.at(10) : QChar();
    if (major == QLatin1Char('2') && minor == QLatin1Char('0'))
        return false;
    return major != QLatin1Char('1');
}

bool QOpenVPN2::checkVersion()
{
    try {
        QProcess process;
        process.start(openVPNExePath_, {QStringLiteral("--version")}, QIODevice::ReadOnly);
        if (!process.waitForFinished(kProcessWaitMs)) {
            process.kill();
            process.waitForFinished(5000);
        }
        const QString output = QString::fromLocal8Bit(process.readAllStandardOutput());
        const QString firstLine = output.section(QLatin1Char('\n'), 0, 0);
        qDebug().noquote() << Q_FUNC_INFO << firstLine.trimmed();
        return versionLineAccepted(firstLine);
    }
    ALOG_CATCHALL("QOpenVPN2::checkVersion")
    return false;
}

bool QOpenVPN2::adaptersOutputAccepted(const QString& output)
{
    return output.size() >= 4 && output.at(output.size() - 3) != QLatin1Char(':');
}

bool QOpenVPN2::tapInstalled()
{
    try {
        QProcess process;
        process.start(openVPNExePath_, {QStringLiteral("--show-adapters")}, QIODevice::ReadOnly);
        // Bounded: a process that never starts or never ends must not hold
        // the worker thread.
        QElapsedTimer elapsed;
        elapsed.start();
        while (process.state() != QProcess::NotRunning && elapsed.elapsed() < kShowAdaptersTimeoutMs)
            pollOnce();
        if (process.state() != QProcess::NotRunning) {
            qCritical().noquote() << Q_FUNC_INFO << "--show-adapters did not finish in time";
            process.kill();
            process.waitForFinished(5000);
            return false;
        }
        return adaptersOutputAccepted(QString::fromLocal8Bit(process.readAllStandardOutput()));
    }
    ALOG_CATCHALL("QOpenVPN2::tapInstalled")
    return false;
}

void QOpenVPN2::terminateProcessAndWait()
{
    m_openVpnProcess.terminate();
    if (!SystemHelper::waitWithEventProcessing2(m_openVpnProcess, QStringLiteral("03"), kProcessWaitMs)) {
        qCritical().noquote() << Q_FUNC_INFO << "OpenVPN did not end after terminate; killing it";
        m_openVpnProcess.kill();
        SystemHelper::waitWithEventProcessing2(m_openVpnProcess, QStringLiteral("04"), 5000);
    }
}

bool QOpenVPN2::startOpenVpnProcess()
{
    try {
        if (isOpenVpnProcessRunning()) {
            qWarning().noquote() << Q_FUNC_INFO << "Openvpn process already running. Terminate...";
            terminateProcessAndWait();
        }
        setState(Constants::ConnectState_Connecting);
        setCredential(m_connectParams.username, m_connectParams.password);

        m_commandParams.clear();
        openVpnManagerAddManagmentParams(m_commandParams, ExternalToolsCustom::managementHostPort());
        m_commandParams << QStringLiteral("--config") << m_connectParams.ovpnFile;
        if (m_connectParams.bWithReconnect)
            m_commandParams << QStringLiteral("--persist-remote-ip");
        if (m_connectParams.dnsScripts) {
            m_commandParams << QStringLiteral("--script-security") << QStringLiteral("2") << QStringLiteral("--up")
                            << ExternalTools::DNSSCRIPT() << QStringLiteral("--down") << ExternalTools::DNSSCRIPT();
        }

        m_openVpnProcess.setWorkingDirectory(m_connectParams.configPath);
        m_openVpnProcess.setProcessChannelMode(QProcess::MergedChannels);
        m_openVpnProcess.setProgram(openVPNExePath_);
        m_openVpnProcess.setArguments(m_commandParams);
        m_managementListening = false;

        qDebug().noquote() << Q_FUNC_INFO << "m_process.start: " << openVPNExePath_ << m_commandParams.join(QLatin1Char(' '));
        m_openVpnProcess.start(QIODevice::ReadWrite);
        m_openVpnProcessPid = m_openVpnProcess.processId();
        qDebug().noquote() << Q_FUNC_INFO << "open vpn process pid: " << m_openVpnProcessPid;
        m_openVpnProcess.waitForStarted(kProcessWaitMs);

        if (m_openVpnProcess.state() == QProcess::Running) {
            waitForManagementPort();
            return true;
        }
        m_disconnectReason = m_openVpnProcess.errorString();
        qCritical().noquote() << Q_FUNC_INFO << "OpenVPN Process Error:" << m_disconnectReason;
        disconnect();
        return false;
    }
    ALOG_CATCHALL("QOpenVPN2::startOpenVpnProcess")
    return false;
}

// OpenVPN opens its management port a few milliseconds after it starts; an
// attach before that would be refused and show a Disconnected state in the
// middle of a connect. Bounded, and ends early when the process ends.
void QOpenVPN2::waitForManagementPort()
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!m_managementListening && isOpenVpnProcessRunning() && !m_resetCurrentConnecting
           && elapsed.elapsed() < kManagementPortWaitMs)
        pollOnce();
}

bool QOpenVPN2::connect(const OpenVpnConnectParams& params)
{
    try {
        qDebug().noquote() << QString(52, QLatin1Char('='));
        qDebug().noquote() << "=========================CONNECT===================";
        params.logInfo(QStringLiteral("connect"));
        m_connectParams = params;

        // A line break or NUL would end the management command early and
        // could smuggle in another one: refuse before anything starts.
        if (!isSendableCredential(params.username) || !isSendableCredential(params.password)) {
            qCritical().noquote() << Q_FUNC_INFO << "credential holds a line break or NUL; not connecting";
            errorWithNewState(USER_ERROR_MESSAGE_BAD_CREDENTIAL, Constants::ConnectState_Disconnected);
            return false;
        }

        if (params.withV2RayProxy) {
            m_v2Ray.stopV2RayProcess();
            setState(Constants::ConnectState_Connecting);
            if (!m_v2Ray.startV2RayProcess(params.configPath)) {
                m_v2Ray.stopV2RayProcess();
                setState(Constants::ConnectState_Disconnected);
                return false;
            }
        }

        if (!startOpenVpnProcess()) {
            setState(Constants::ConnectState_Disconnected);
            return false;
        }
        setCredential(params.username, params.password);

        for (int attempt = 0; attempt < kAttachAttempts; ++attempt) {
            if (doAttach(OPENVPN_ATTACH_MAX_WAIT_SECONDS, true))
                return true;
            if (m_resetCurrentConnecting) {
                disconnect();
                return false;
            }
            setState(Constants::ConnectState_Disconnected);
            QThread::msleep(kAttachPauseMs);
        }
        // No OpenVPN (or proxy) may stay behind a connect that gave up.
        disconnect();
        return false;
    }
    ALOG_CATCHALL("QOpenVPN2::connect")
    return false;
}

bool QOpenVPN2::attach(int maxSeconds, bool authAvailable, QString* message)
{
    Q_UNUSED(maxSeconds)
    Q_UNUSED(authAvailable)
    Q_UNUSED(message)
    if (m_resetCurrentConnecting)
        disconnect();
    return false;
}

bool QOpenVPN2::doAttach(int maxSeconds, bool authAvailable, QString* message)
{
    Q_UNUSED(authAvailable)
    try {
        m_resetCurrentConnecting = false;
        if (!isOpenVpnProcessRunning())
            return false;

        const qint64 limitMs = qint64(maxSeconds) * 1000;
        QElapsedTimer elapsed;

        // Phase 1: a previous link must have ended.
        elapsed.start();
        while (!openVpnManagerState_isStopped(m_openVpnManager.state()) && !m_resetCurrentConnecting) {
            pollOnce();
            if (elapsed.elapsed() > limitMs) {
                qCritical().noquote() << Q_FUNC_INFO << "VpnManager is busy connect time has expired";
                dumpState();
                return false;
            }
        }

        qCritical().noquote() << Q_FUNC_INFO << "start attaching...";
        m_openVpnManager.startFullManagement(ExternalToolsCustom::managmentHost(), ExternalToolsCustom::managmentPort());

        // Phase 2: the management link comes up.
        elapsed.restart();
        while (m_openVpnManager.state() == taking_openvpn_process && !m_resetCurrentConnecting) {
            pollOnce();
            if (elapsed.elapsed() > limitMs) {
                const QString text = QStringLiteral("connect time has expired");
                qCritical().noquote() << Q_FUNC_INFO << text;
                dumpState();
                if (message)
                    *message = text;
                return false;
            }
        }
        if (openVpnManagerState_isStopped(m_openVpnManager.state())) {
            const QString text = QStringLiteral("can't connect to existen openvpn process");
            qCritical().noquote() << Q_FUNC_INFO << text;
            dumpState();
            if (message)
                *message = text;
            return false;
        }

        // Phase 3: OpenVPN reports its way to CONNECTED (or gives up).
        elapsed.restart();
        while (m_openVpnManager.state() == openvpn_process && !m_resetCurrentConnecting) {
            pollOnce();
            if (elapsed.elapsed() > 10 * limitMs) {
                const QString text = QStringLiteral("wait time has expired");
                qCritical().noquote() << Q_FUNC_INFO << text;
                dumpState();
                if (message)
                    *message = text;
                return false;
            }
            if (m_openVpnManager.vpnProcessState() == CONNECTED)
                return true;
            if (m_openVpnManager.vpnProcessState() == EXITING)
                return false;
        }
        return m_openVpnManager.vpnProcessState() == CONNECTED;
    }
    ALOG_CATCHALL("QOpenVPN2::doAttach")
    return false;
}

void QOpenVPN2::dumpState()
{
    m_openVpnManager.dumpState();
    qCritical().noquote() << "isOpenVpnProcessRunning:" << isOpenVpnProcessRunning();
    qCritical().noquote() << "pid:" << m_openVpnProcessPid;
    qCritical().noquote() << "process.state:" << m_openVpnProcess.state();
}

void QOpenVPN2::disconnect()
{
    try {
        if (!isDisconnectedState() && !isDisconnectingState()) {
            setState(Constants::ConnectState_Disconnecting);
            SetStateOnExit onExit(this, Constants::ConnectState_Disconnected);
            terminateProcessAndWait();
            waitWithProcessEvents(QStringLiteral("05-1"), 0);
            if (!openVpnManagerState_isStopped(m_openVpnManager.state()))
                qCritical().noquote() << Q_FUNC_INFO << "can't disconnect";
            m_openVpnManager.disconnectFromVpnProcess();
            m_v2Ray.stopV2RayProcess();
        } else {
            if (isOpenVpnProcessRunning()) {
                qWarning().noquote() << Q_FUNC_INFO << "Openvpn process running terminate...";
                terminateProcessAndWait();
            }
            m_v2Ray.stopV2RayProcess();
        }
    }
    ALOG_CATCHALL("QOpenVPN2::disconnect")
}

void QOpenVPN2::onVpnProcessReadyRead()
{
    try {
        while (m_openVpnProcess.canReadLine()) {
            const QString line = QString::fromLocal8Bit(m_openVpnProcess.readLine()).trimmed();
            if (line.contains(QLatin1String("MANAGEMENT: TCP Socket listening on")))
                m_managementListening = true;
            qDebug().noquote() << line;
        }
    }
    ALOG_CATCHALL("QOpenVPN2::onVpnProcessReadyRead")
}

void QOpenVPN2::onVpnProcessFinished()
{
    try {
        qDebug().noquote() << Q_FUNC_INFO << m_openVpnProcess.exitCode();
        setState(Constants::ConnectState_Disconnected);
    }
    ALOG_CATCHALL("QOpenVPN2::onVpnProcessFinished")
}
