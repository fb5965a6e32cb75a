#include "unix/qopenvpn2.h"

#include "log.h"
#include "systemhelper.h"
#include "unix/clientpresence.h"
#include "unix/externaltools.h"
#include "unix/rootonlydirectory.h"
#include "unix/systemhelper_unix.h"
#include "utils.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const int kProcessWaitMs = 30000;
const int kKillWaitMs = 5000;
const int kAttachAttempts = 10;
const int kAttachPauseMs = 500;
const int kShowAdaptersTimeoutMs = 10000;
const int kManagementPortWaitMs = 5000;
// An orphaned OpenVPN gets this long after terminate, and again after kill.
const int kOrphanTerminateWaitMs = 10000;
const int kOrphanKillWaitMs = 5000;
// Another client holds the session lock at most while it stops a left-over
// OpenVPN, resets the resolver, starts its proxy and its OpenVPN.
const int kSessionLockWaitMs = 90000;
// At start-up the lock is waited for this long; past it, in the background.
const int kStartUpLockWaitMs = 1000;
const int kStartUpCheckRetryMs = 200;
// V2Ray's local SOCKS port must accept connections within this time.
const int kV2RayListenWaitMs = 10000;
const int kV2RayProbeIntervalMs = 20;
const quint16 kV2RayDefaultSocksPort = 10801;
// OpenVPN output lines kept for the cause of its end.
const int kOutputTailLines = 40;

void pollOnce()
{
    waitWithProcessEvents(QStringLiteral("05"), 1);
}

// Writes `data` to a new file only its owner may read; an old file (or a
// link) at the path is removed first.
bool writePrivateFile(const QString& path, const QByteArray& data)
{
    const QByteArray name = QFile::encodeName(path);
    ::unlink(name.constData());
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, 0600) == 0;
    qint64 written = 0;
    while (ok && written < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + written, size_t(data.size() - written));
        if (n <= 0)
            ok = false;
        else
            written += n;
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok)
        ::unlink(name.constData());
    return ok;
}

// OpenVPN's log line without its time stamp.
QString withoutTimeStamp(const QString& line)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "));
    QString result = line;
    result.remove(stamp);
    return result.trimmed();
}
} // namespace

QOpenVPN2::QOpenVPN2(QObject* parent)
    : QOpenVPN2Custom(parent)
    , m_v2Ray(parent)
{
    ASSERT_CONNECT(QObject::connect(&m_openVpnProcess, &QProcess::readyRead, this, &QOpenVPN2::onVpnProcessReadyRead));
    ASSERT_CONNECT(QObject::connect(&m_openVpnProcess, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                                    this, &QOpenVPN2::onVpnProcessFinished));
    m_startUpCheck.setSingleShot(true);
    m_startUpCheck.setInterval(kStartUpCheckRetryMs);
    ASSERT_CONNECT(QObject::connect(&m_startUpCheck, &QTimer::timeout, this, &QOpenVPN2::startUpCheckInBackground));
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
        if (m_announced)
            ClientPresence::withdraw();
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
        announcePresence();

        // A crash of an earlier run may have left its OpenVPN holding the
        // tunnel. The look and the resolver reset are one step: no other
        // client starts its session in between.
        SessionLock::Hold lock(m_sessionLock);
        if (RootOnlyDirectory::isTrusted() && !lock.take(kStartUpLockWaitMs)) {
            qWarning().noquote() << Q_FUNC_INFO << "process" << SessionLock::holder()
                                 << "holds the session lock: the look for a left-over session and the resolver"
                                 << "reset wait for it in the background";
            m_startUpCheckPending = true;
            m_startUpCheckWaited.start();
            m_startUpCheck.start();
            return true;
        }
        return checkLeftOverSession();
    }
    ALOG_CATCHALL("QOpenVPN2::initializeWith")
    return false;
}

void QOpenVPN2::announcePresence()
{
    if (!m_announced)
        m_announced = ClientPresence::announce();
}

bool QOpenVPN2::checkLeftOverSession()
{
    QString busy;
    stopOrphanedOpenVpn(&busy);
    if (!busy.isEmpty()) {
        qWarning().noquote() << Q_FUNC_INFO << "another running copy of the client has its session open: its"
                             << "resolver, kill switch and session files are left as they are (no resolver reset)";
        return true;
    }

    QString result;
    const int code = UnixSystemHelper::runResolverScript(ExternalTools::dnsscript_init(), result);
    if (code == ResolverScriptRefused) {
        // Another change of the resolver file was running: it is someone's
        // own, and a later session's end resets it again.
        qWarning().noquote() << Q_FUNC_INFO << "the resolver script refused its reset; the resolver file is left"
                             << "as it is:" << logSafe(result.trimmed());
        return true;
    }
    if (!dnsInitSucceeded(code, result)) {
        qDebug().noquote() << Q_FUNC_INFO << "dnsscript_init failed";
        return false;
    }
    return true;
}

void QOpenVPN2::startUpCheckInBackground()
{
    try {
        if (!m_startUpCheckPending)
            return;
        SessionLock::Hold lock(m_sessionLock);
        if (!lock.take(0)) {
            if (m_startUpCheckWaited.elapsed() < kSessionLockWaitMs && RootOnlyDirectory::isTrusted()) {
                m_startUpCheck.start();
                return;
            }
            m_startUpCheckPending = false;
            qWarning().noquote() << Q_FUNC_INFO << "process" << SessionLock::holder()
                                 << "still holds the session lock; the look for a left-over session is left to the"
                                 << "next connect";
            return;
        }
        m_startUpCheckPending = false;
        qInfo().noquote() << Q_FUNC_INFO << "session lock free after" << m_startUpCheckWaited.elapsed() << "ms";
        if (!checkLeftOverSession())
            qWarning().noquote() << Q_FUNC_INFO << "the resolver could not be reset";
    }
    ALOG_CATCHALL("QOpenVPN2::startUpCheckInBackground")
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
        process.start(openVPNExePath_, { QStringLiteral("--version") }, QIODevice::ReadOnly);
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
        process.start(openVPNExePath_, { QStringLiteral("--show-adapters") }, QIODevice::ReadOnly);
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

QString QOpenVPN2::pidFilePath()
{
    return SessionRecord::path();
}

QString QOpenVPN2::managementPasswordFilePath()
{
    return RootOnlyDirectory::filePath(QStringLiteral("openvpn-management.pass"));
}

void QOpenVPN2::resetCurrentConnecting()
{
    m_resetCurrentConnecting = true;
    // A wait of the worker sleeps until its next event: wake it.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread()))
        dispatcher->wakeUp();
}

QString QOpenVPN2::redacted(const QString& line) const
{
    return m_openVpnManager.redacted(line);
}

bool QOpenVPN2::waitFor(const std::function<bool()>& done, qint64 limitMs, bool stopOnReset)
{
    QElapsedTimer elapsed;
    elapsed.start();
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread());
    while (!done()) {
        if (stopOnReset && m_resetCurrentConnecting)
            return false;
        const qint64 left = limitMs - elapsed.elapsed();
        if (left <= 0)
            return false;
        if (!dispatcher) {
            pollOnce();
            continue;
        }
        // Sleeps until a socket, process, timer or posted event arrives;
        // the timer bounds the sleep.
        QTimer wake;
        wake.setSingleShot(true);
        wake.start(int(qMin<qint64>(left, 100)));
        dispatcher->processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void QOpenVPN2::terminateProcessAndWait()
{
    if (!isOpenVpnProcessRunning())
        return;
    m_openVpnProcess.terminate();
    if (!waitFor([this] { return !isOpenVpnProcessRunning(); }, kProcessWaitMs, false)) {
        qCritical().noquote() << Q_FUNC_INFO << "OpenVPN did not end after terminate; killing it";
        m_openVpnProcess.kill();
        waitFor([this] { return !isOpenVpnProcessRunning(); }, kKillWaitMs, false);
    }
}

bool QOpenVPN2::writeManagementPasswordFile()
{
    QByteArray random(24, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(random.data()), random.size() / 4);
    m_managementPassword = QString::fromLatin1(random.toHex());
    if (!writePrivateFile(managementPasswordFilePath(), m_managementPassword.toLatin1() + '\n')) {
        qCritical().noquote() << Q_FUNC_INFO << "cannot write" << managementPasswordFilePath();
        m_managementPassword.clear();
        return false;
    }
    m_openVpnManager.setManagementPassword(m_managementPassword);
    return true;
}

bool QOpenVPN2::pidRecordWritten()
{
    SessionRecord record;
    if (SessionRecord::read(&record) != SessionRecord::Read::Usable || record.openVpnPid != m_openVpnProcessPid
        || !record.isOwnClients())
        return false;
    m_openVpnStarted = record.openVpnStarted;
    return true;
}

bool QOpenVPN2::removeSessionFiles(const SessionRecord& owner)
{
    // Only inside the checked directory; elsewhere nothing is ours.
    if (!RootOnlyDirectory::isTrusted())
        return false;
    SessionRecord record;
    if (SessionRecord::read(&record) != SessionRecord::Read::Usable
        || !record.names(owner.openVpnPid, owner.openVpnStarted)) {
        qWarning().noquote() << Q_FUNC_INFO << "the pid record does not name the OpenVPN" << owner.openVpnPid
                             << "; the session files are left to the session it names";
        return false;
    }
    QFile::remove(managementPasswordFilePath());
    QFile::remove(ExternalToolsCustom::managementSocketPath());
    // The record last: until it is gone, the session can still be found.
    QFile::remove(pidFilePath());
    return true;
}

void QOpenVPN2::restoreResolver()
{
    if (!QFile::exists(ExternalTools::DNSSCRIPT()))
        return;
    QString result;
    const int code = UnixSystemHelper::runResolverScript(ExternalTools::dnsscript_init(), result);
    qDebug().noquote() << Q_FUNC_INFO << "resolver check:" << code << result.trimmed();
}

void QOpenVPN2::endSession()
{
    if (!m_sessionActive)
        return;
    m_sessionActive = false;
    SessionRecord own;
    own.openVpnPid = m_openVpnProcessPid;
    own.openVpnStarted = m_openVpnStarted;
    // Without a root-only directory no client can have started a session
    // since, so the resolver is still this one's.
    SessionLock::Hold lock(m_sessionLock, kSessionLockWaitMs);
    const bool ours = lock.held() ? removeSessionFiles(own) : !RootOnlyDirectory::isTrusted();
    m_managementPassword.clear();
    m_openVpnManager.setManagementPassword(QString());
    m_openVpnManager.disconnectFromVpnProcess();
    m_v2Ray.stopV2RayProcess();
    // OpenVPN's down script does not run when it was killed. A session that
    // is no longer the recorded one has the resolver in its hands now.
    if (m_sessionDnsScripts && ours)
        restoreResolver();
}

bool QOpenVPN2::anotherClientsSession()
{
    if (!RootOnlyDirectory::isTrusted())
        return false;
    if (ClientPresence::anotherClientRuns())
        return true;
    SessionRecord record;
    return SessionRecord::read(&record) == SessionRecord::Read::Usable
        && record.clientPid != QCoreApplication::applicationPid() && record.clientRuns() && record.openVpnRuns();
}

bool QOpenVPN2::stopOrphanedOpenVpn(QString* busy)
{
    try {
        QString why;
        if (!RootOnlyDirectory::isTrusted(&why)) {
            // Whatever lies there may have been put there by anybody.
            if (QFileInfo::exists(RootOnlyDirectory::path()) || QFileInfo(RootOnlyDirectory::path()).isSymLink())
                qCritical().noquote() << Q_FUNC_INFO << why;
            return false;
        }
        SessionLock::Hold lock(m_sessionLock, kSessionLockWaitMs);
        if (!lock.held()) {
            qCritical().noquote() << Q_FUNC_INFO << "without the session lock nothing is stopped";
            return false;
        }
        SessionRecord record;
        const SessionRecord::Read read = SessionRecord::read(&record);
        if (read != SessionRecord::Read::Usable) {
            if (read == SessionRecord::Read::Unusable)
                qCritical().noquote() << Q_FUNC_INFO << "unusable pid record; nothing is stopped";
            return false;
        }
        if (record.openVpnPid == m_openVpnProcessPid && isOpenVpnProcessRunning())
            return false; // the one this object runs
        const bool openVpnRuns = record.openVpnRuns();
        if (record.clientRuns()) {
            // Its client still runs and looks after it (and after the record).
            if (openVpnRuns) {
                qWarning().noquote() << Q_FUNC_INFO << "the OpenVPN" << record.openVpnPid << "of the running client"
                                     << record.clientPid << "is left alone";
                if (busy)
                    *busy = QStringLiteral("Another running copy of the client (process %1) has an OpenVPN connection "
                                           "open; it is left as it is, and no second connection is started.")
                                .arg(record.clientPid);
            }
            return false;
        }
        bool stopped = false;
        if (openVpnRuns) {
            const qint64 pid = record.openVpnPid;
            const QByteArray& started = record.openVpnStarted;
            qWarning().noquote() << Q_FUNC_INFO << "an OpenVPN left by an earlier run still runs, pid" << pid
                                 << "; stopping it";
            QElapsedTimer elapsed;
            elapsed.start();
            ::kill(pid_t(pid), SIGTERM);
            while (SessionRecord::processStartTime(pid) == started && elapsed.elapsed() < kOrphanTerminateWaitMs)
                QThread::msleep(10);
            if (SessionRecord::processStartTime(pid) == started) {
                qCritical().noquote() << Q_FUNC_INFO << "it did not end after terminate; killing it";
                ::kill(pid_t(pid), SIGKILL);
                elapsed.restart();
                while (SessionRecord::processStartTime(pid) == started && elapsed.elapsed() < kOrphanKillWaitMs)
                    QThread::msleep(10);
            }
            stopped = SessionRecord::processStartTime(pid) != started;
            qInfo().noquote() << Q_FUNC_INFO << "left-over OpenVPN stopped:" << stopped;
            if (!stopped)
                return false; // still recorded, so that it can be found again
        } else {
            qInfo().noquote() << Q_FUNC_INFO << "stale pid record; the OpenVPN it names no longer runs";
        }
        removeSessionFiles(record);
        // That session ended without its down script, maybe.
        restoreResolver();
        return stopped;
    }
    ALOG_CATCHALL("QOpenVPN2::stopOrphanedOpenVpn")
    return false;
}

bool QOpenVPN2::startOpenVpnProcess()
{
    try {
        if (isOpenVpnProcessRunning()) {
            qWarning().noquote() << Q_FUNC_INFO << "Openvpn process already running. Terminate...";
            terminateProcessAndWait();
        }
        endSession();
        setState(Constants::ConnectState_Connecting);
        setCredential(m_connectParams.username, m_connectParams.password);
        m_outputTail.clear();

        // From here until the record names the new OpenVPN, no other client
        // may look at the session files or start one.
        SessionLock::Hold lock(m_sessionLock, kSessionLockWaitMs, [this] { return bool(m_resetCurrentConnecting); });
        if (!lock.held()) {
            m_disconnectReason = QStringLiteral("OpenVPN was not started: the session lock %1 could not be taken.")
                                     .arg(SessionLock::path().toHtmlEscaped());
            return false;
        }

        // A socket file left by an earlier OpenVPN of ours.
        ::unlink(QFile::encodeName(ExternalToolsCustom::managementSocketPath()).constData());
        if (!writeManagementPasswordFile()) {
            m_disconnectReason = QStringLiteral(
                "The password file of OpenVPN's management interface could not be written.");
            return false;
        }

        m_commandParams.clear();
        openVpnManagerAddManagmentParams(m_commandParams,
                                         ExternalToolsCustom::managementSocket() << managementPasswordFilePath());
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
        m_openVpnProcess.recordNextStart();
        m_managementListening = false;
        m_openVpnStarted.clear();

        qDebug().noquote() << Q_FUNC_INFO << "m_process.start: " << openVPNExePath_
                           << m_commandParams.join(QLatin1Char(' '));
        m_openVpnProcess.start(QIODevice::ReadWrite);
        m_openVpnProcess.waitForStarted(kProcessWaitMs);
        m_openVpnProcessPid = m_openVpnProcess.processId();
        qDebug().noquote() << Q_FUNC_INFO << "open vpn process pid: " << m_openVpnProcessPid;

        if (m_openVpnProcess.state() == QProcess::Running && pidRecordWritten()) {
            m_sessionActive = true;
            m_sessionDnsScripts = m_connectParams.dnsScripts;
            lock.release();
            waitForManagementPort();
            return true;
        }
        if (m_openVpnProcess.state() == QProcess::Running) {
            m_disconnectReason = QStringLiteral("OpenVPN was stopped: its pid record %1 could not be written.")
                                     .arg(pidFilePath().toHtmlEscaped());
            terminateProcessAndWait();
        } else {
            m_disconnectReason = QStringLiteral("OpenVPN could not be started: ")
                + m_openVpnProcess.errorString().toHtmlEscaped();
        }
        qCritical().noquote() << Q_FUNC_INFO << "OpenVPN Process Error:" << m_disconnectReason;
        // Still under the lock: these files are the ones just written, and
        // a record this client wrote names no running OpenVPN.
        SessionRecord record;
        if (SessionRecord::read(&record) == SessionRecord::Read::Usable && record.isOwnClients()
            && !record.openVpnRuns())
            QFile::remove(pidFilePath());
        QFile::remove(managementPasswordFilePath());
        QFile::remove(ExternalToolsCustom::managementSocketPath());
        m_managementPassword.clear();
        m_openVpnManager.setManagementPassword(QString());
        return false;
    }
    ALOG_CATCHALL("QOpenVPN2::startOpenVpnProcess")
    return false;
}

// OpenVPN opens its management socket a few milliseconds after it starts and
// says so on its output; the attach waits for that line. Bounded, and ends
// early when the process ends or the connect is cancelled.
void QOpenVPN2::waitForManagementPort()
{
    waitFor([this] { return m_managementListening || !isOpenVpnProcessRunning(); }, kManagementPortWaitMs, true);
}

bool QOpenVPN2::waitForV2RaySocksPort()
{
    // The port the proxy's configuration names; the model writes 10801.
    quint16 port = kV2RayDefaultSocksPort;
    QFile config(m_connectParams.configPath + QLatin1Char('/') + Constants::v2RayConfigFileName());
    if (config.open(QIODevice::ReadOnly)) {
        const QJsonArray inbounds =
            QJsonDocument::fromJson(config.readAll()).object().value(QLatin1String("inbounds")).toArray();
        const int configured = inbounds.isEmpty() ? 0
                                                  : inbounds.first().toObject().value(QLatin1String("port")).toInt();
        if (configured > 0 && configured < 65536)
            port = quint16(configured);
    }
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < kV2RayListenWaitMs && !m_resetCurrentConnecting && m_v2Ray.isRunning()) {
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), port);
        waitFor(
            [&probe] {
                return probe.state() == QAbstractSocket::ConnectedState
                    || probe.state() == QAbstractSocket::UnconnectedState;
            },
            kV2RayListenWaitMs - elapsed.elapsed(), true);
        if (probe.state() == QAbstractSocket::ConnectedState) {
            probe.abort();
            qDebug().noquote() << Q_FUNC_INFO << "proxy listens on port" << port << "after" << elapsed.elapsed()
                               << "ms";
            return true;
        }
        probe.abort();
        waitFor([] { return false; }, kV2RayProbeIntervalMs, true);
    }
    qCritical().noquote() << Q_FUNC_INFO << "proxy does not accept connections on port" << port;
    return false;
}

bool QOpenVPN2::connect(const OpenVpnConnectParams& params)
{
    try {
        qDebug().noquote() << QString(52, QLatin1Char('='));
        qDebug().noquote() << "=========================CONNECT===================";
        params.logInfo(QStringLiteral("connect"));
        m_connectParams = params;
        m_disconnectReason.clear();
        m_disconnectRequested = false;
        m_errorReported = false;
        m_sessionConnected = false;
        // This connect looks at the session itself; the step is its own.
        m_startUpCheckPending = false;
        m_startUpCheck.stop();
        const std::function<QString()> sessionStartStep = std::move(m_sessionStartStep);
        m_sessionStartStep = nullptr;

        // While it runs, the connect alone decides when the state becomes
        // Disconnected; the reset it sees is used up with it.
        struct ConnectScope
        {
            QOpenVPN2* self;
            explicit ConnectScope(QOpenVPN2* s)
                : self(s)
            {
                self->m_connectInProgress = true;
            }
            ~ConnectScope()
            {
                self->m_connectInProgress = false;
                self->m_resetCurrentConnecting = false;
            }
        } scope(this);

        // A line break or NUL would end the management command early and
        // could smuggle in another one: refuse before anything starts.
        if (!isSendableCredential(params.username) || !isSendableCredential(params.password)) {
            qCritical().noquote() << Q_FUNC_INFO << "credential holds a line break or NUL; not connecting";
            m_errorReported = true;
            errorWithNewState(USER_ERROR_MESSAGE_BAD_CREDENTIAL, Constants::ConnectState_Disconnected);
            return false;
        }
        // OpenVPN would refuse it and echo it into its answer.
        if (!credentialFitsManagement(params.username) || !credentialFitsManagement(params.password)) {
            qCritical().noquote() << Q_FUNC_INFO << "credential longer than OpenVPN takes; not connecting";
            m_errorReported = true;
            errorWithNewState(USER_ERROR_MESSAGE_CREDENTIAL_TOO_LONG, Constants::ConnectState_Disconnected);
            return false;
        }
        if (m_resetCurrentConnecting) {
            qInfo().noquote() << Q_FUNC_INFO << "cancelled before it began";
            return false;
        }

        // The pid record, the management socket and its password live in
        // a directory only root controls, or nowhere. From the look for a
        // running or left-over session until this one's record is written,
        // no other client looks or starts.
        QString refusal;
        SessionLock::Hold lock(m_sessionLock);
        if (RootOnlyDirectory::ensure(&refusal)) {
            announcePresence();
            if (lock.take(kSessionLockWaitMs, [this] { return bool(m_resetCurrentConnecting); })) {
                stopOrphanedOpenVpn(&refusal);
                if (refusal.isEmpty() && !m_resetCurrentConnecting && sessionStartStep)
                    refusal = sessionStartStep();
            } else if (!m_resetCurrentConnecting) {
                refusal = QStringLiteral("No connection was started: another copy of the client held the session "
                                         "lock %1 too long.")
                              .arg(SessionLock::path());
            }
        }
        if (m_resetCurrentConnecting) {
            qInfo().noquote() << Q_FUNC_INFO << "cancelled before it began";
            return false;
        }
        if (!refusal.isEmpty()) {
            qCritical().noquote() << Q_FUNC_INFO << refusal;
            m_errorReported = true;
            m_disconnectReason = refusal.toHtmlEscaped();
            errorWithNewState(m_disconnectReason, Constants::ConnectState_Disconnected);
            return false;
        }
        setState(Constants::ConnectState_Connecting);

        if (params.withV2RayProxy) {
            m_v2Ray.stopV2RayProcess();
            if (!m_v2Ray.startV2RayProcess(params.configPath)) {
                m_v2Ray.stopV2RayProcess();
                return failConnect(QStringLiteral("The V2Ray proxy could not be started: ")
                                   + m_v2Ray.lastError().toHtmlEscaped());
            }
            // OpenVPN would fail at once against a proxy not listening yet.
            if (!waitForV2RaySocksPort()) {
                m_v2Ray.stopV2RayProcess();
                return failConnect(QStringLiteral("The V2Ray proxy did not open its local port."));
            }
        }

        if (m_resetCurrentConnecting || !startOpenVpnProcess())
            return failConnect(m_disconnectReason);
        lock.release();
        setCredential(params.username, params.password);

        for (int attempt = 0; attempt < kAttachAttempts; ++attempt) {
            if (doAttach(OPENVPN_ATTACH_MAX_WAIT_SECONDS, true)) {
                // A cancel that came with OpenVPN's last report still wins:
                // the state never showed Connected for it.
                if (m_resetCurrentConnecting)
                    break;
                m_sessionConnected = true;
                return true;
            }
            // Cancelled, told the user already, or OpenVPN is gone or going:
            // another attach would not help.
            if (m_resetCurrentConnecting || m_errorReported || !isOpenVpnProcessRunning()
                || m_openVpnManager.vpnProcessState() == EXITING)
                break;
            waitFor([] { return false; }, kAttachPauseMs, true);
        }
        return failConnect(QString());
    }
    ALOG_CATCHALL("QOpenVPN2::connect")
    return false;
}

bool QOpenVPN2::failConnect(const QString& cause)
{
    const bool cancelled = m_resetCurrentConnecting;
    if (cancelled) {
        qInfo().noquote() << Q_FUNC_INFO << "connect cancelled";
        m_disconnectRequested = true;
        setState(Constants::ConnectState_Disconnecting);
    } else {
        // Its last words tell why: on its output and over the management
        // link, which may still hold lines when the process has ended.
        if (isOpenVpnProcessRunning() && m_openVpnManager.vpnProcessState() == EXITING)
            waitFor([this] { return !isOpenVpnProcessRunning(); }, kProcessWaitMs, false);
        if (!isOpenVpnProcessRunning())
            waitFor([this] { return m_errorReported || openVpnManagerState_isStopped(m_openVpnManager.state()); },
                    kManagementPortWaitMs, false);
    }
    QString text = cause;
    if (text.isEmpty() && m_sessionActive && !isOpenVpnProcessRunning())
        text = exitCause();
    if (text.isEmpty())
        text = QStringLiteral("The connection could not be established: OpenVPN did not report a connection.");

    terminateProcessAndWait();
    m_openVpnManager.disconnectFromVpnProcess();
    m_v2Ray.stopV2RayProcess();
    endSession();
    m_connectInProgress = false;
    setState(Constants::ConnectState_Disconnected);
    if (!cancelled && !m_errorReported) {
        qCritical().noquote() << Q_FUNC_INFO << logSafe(text);
        m_disconnectReason = text;
        reportError(text);
    }
    return false;
}

QString QOpenVPN2::exitCause() const
{
    for (const QString& line : m_outputTail) {
        if (line.contains(QLatin1String("AUTH_FAILED")))
            return USER_ERROR_MESSAGE_ALL_AUTH_FILED;
    }
    for (const QString& line : m_outputTail) {
        if (line.contains(QLatin1String("scramble"), Qt::CaseInsensitive)
            && line.contains(QLatin1String("Options error"), Qt::CaseInsensitive))
            return QStringLiteral("This OpenVPN does not support the scramble option that the XOR protocol needs.");
    }
    for (const QString& line : m_outputTail) {
        const int at = line.indexOf(QLatin1String("Options error:"), 0, Qt::CaseInsensitive);
        if (at >= 0 && !line.contains(QLatin1String("Please correct these errors")))
            return QStringLiteral("OpenVPN refused its configuration: ") + line.mid(at + 14).trimmed().toHtmlEscaped();
    }
    for (int i = m_outputTail.size() - 1; i >= 0; --i) {
        const QString& line = m_outputTail.at(i);
        if (line.contains(QLatin1String("error"), Qt::CaseInsensitive)
            || line.contains(QLatin1String("fatal"), Qt::CaseInsensitive))
            return QStringLiteral("OpenVPN stopped: ") + friendlyStr(line).trimmed().toHtmlEscaped();
    }
    if (m_openVpnProcess.exitStatus() == QProcess::CrashExit)
        return QStringLiteral("OpenVPN ended unexpectedly: it was killed or crashed.");
    return QStringLiteral("OpenVPN ended unexpectedly (exit code %1).").arg(m_openVpnProcess.exitCode());
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
        if (!isOpenVpnProcessRunning())
            return false;

        const qint64 limitMs = qint64(maxSeconds) * 1000;

        // Phase 1: a previous link must have ended.
        if (!waitFor([this] { return openVpnManagerState_isStopped(m_openVpnManager.state()); }, limitMs, true)) {
            if (!m_resetCurrentConnecting) {
                qCritical().noquote() << Q_FUNC_INFO << "VpnManager is busy connect time has expired";
                dumpState();
            }
            return false;
        }

        qCritical().noquote() << Q_FUNC_INFO << "start attaching...";
        m_openVpnManager.setManagementPassword(m_managementPassword);
        m_openVpnManager.setExpectedPeer(m_openVpnProcessPid);
        m_openVpnManager.startFullManagement(ExternalToolsCustom::managementSocketPath());

        // Phase 2: the management link comes up.
        if (!waitFor([this] { return m_openVpnManager.state() != taking_openvpn_process; }, limitMs, true)) {
            if (m_resetCurrentConnecting)
                return false;
            const QString text = QStringLiteral("connect time has expired");
            qCritical().noquote() << Q_FUNC_INFO << text;
            dumpState();
            if (message)
                *message = text;
            return false;
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
        const bool settled = waitFor(
            [this] {
                return m_openVpnManager.state() != openvpn_process || m_openVpnManager.vpnProcessState() == CONNECTED
                    || m_openVpnManager.vpnProcessState() == EXITING || !isOpenVpnProcessRunning();
            },
            10 * limitMs, true);
        if (!settled && !m_resetCurrentConnecting) {
            const QString text = QStringLiteral("wait time has expired");
            qCritical().noquote() << Q_FUNC_INFO << text;
            dumpState();
            if (message)
                *message = text;
            return false;
        }
        return m_openVpnManager.state() == openvpn_process && m_openVpnManager.vpnProcessState() == CONNECTED;
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
        m_disconnectRequested = true;
        if (!isDisconnectedState() && !isDisconnectingState()) {
            setState(Constants::ConnectState_Disconnecting);
            SetStateOnExit onExit(this, Constants::ConnectState_Disconnected);
            terminateProcessAndWait();
            waitWithProcessEvents(QStringLiteral("05-1"), 0);
            if (!openVpnManagerState_isStopped(m_openVpnManager.state()))
                qCritical().noquote() << Q_FUNC_INFO << "can't disconnect";
            m_openVpnManager.disconnectFromVpnProcess();
            m_v2Ray.stopV2RayProcess();
            endSession();
        } else {
            if (isOpenVpnProcessRunning()) {
                qWarning().noquote() << Q_FUNC_INFO << "Openvpn process running terminate...";
                terminateProcessAndWait();
            }
            m_v2Ray.stopV2RayProcess();
            endSession();
        }
    }
    ALOG_CATCHALL("QOpenVPN2::disconnect")
}

bool QOpenVPN2::disconnectAsked() const
{
    return QOpenVPN2Custom::disconnectAsked() || (m_connectInProgress && m_resetCurrentConnecting);
}

void QOpenVPN2::managementLinkEnded()
{
    try {
        const bool wasConnected = isConnectedState() || m_sessionConnected;
        if (isOpenVpnProcessRunning()) {
            // Nobody could stop it any more: stop it now, so that the state
            // shown is the truth.
            qWarning().noquote() << Q_FUNC_INFO << "management link lost while OpenVPN runs; stopping it";
            terminateProcessAndWait();
        }
        endSession();
        setState(Constants::ConnectState_Disconnected, wasConnected);
    }
    ALOG_CATCHALL("QOpenVPN2::managementLinkEnded")
}

void QOpenVPN2::onVpnProcessReadyRead()
{
    try {
        while (m_openVpnProcess.canReadLine()) {
            const QString line = redacted(QString::fromLocal8Bit(m_openVpnProcess.readLine()).trimmed());
            if (line.contains(QLatin1String("MANAGEMENT: unix domain socket listening on")))
                m_managementListening = true;
            m_outputTail << withoutTimeStamp(line);
            while (m_outputTail.size() > kOutputTailLines)
                m_outputTail.removeFirst();
            qDebug().noquote() << logSafe(line);
        }
    }
    ALOG_CATCHALL("QOpenVPN2::onVpnProcessReadyRead")
}

void QOpenVPN2::onVpnProcessFinished()
{
    try {
        // Lines still in the pipe carry the cause of the end.
        onVpnProcessReadyRead();
        const QByteArray rest = m_openVpnProcess.readAll();
        if (!rest.trimmed().isEmpty())
            m_outputTail << withoutTimeStamp(redacted(QString::fromLocal8Bit(rest)));
        qDebug().noquote() << Q_FUNC_INFO << m_openVpnProcess.exitCode() << m_openVpnProcess.exitStatus();
        // A connect in progress sees the end and settles the state itself.
        if (m_connectInProgress)
            return;
        const bool unasked = !m_disconnectRequested && (isConnectedState() || m_sessionConnected);
        endSession();
        setState(Constants::ConnectState_Disconnected, unasked);
    }
    ALOG_CATCHALL("QOpenVPN2::onVpnProcessFinished")
}
