#include "openvpnmanager.h"

#include "log.h"
#include "unix/rootonlydirectory.h"
#include "utils.h"

#include <sys/socket.h>
#include <unistd.h>

namespace {
// Lines read from OpenVPN over the life of the process.
int g_lineCounter = 0;

struct StateWord
{
    const char* text;
    OpenVpnProcessState state;
};

// First match wins: "RECONNECTING," must come before "CONNECTING," because
// the second occurs inside the first.
const StateWord kStateWords[] = {
    { "RECONNECTING,", RECONNECTING },
    { "CONNECTING,", CONNECTING },
    { "WAIT,", WAIT },
    { "AUTH,", AUTH },
    { "GET_CONFIG,", GET_CONFIG },
    { "ASSIGN_IP,", ASSIGN_IP },
    { "ADD_ROUTES,", ADD_ROUTES },
    { "CONNECTED,", CONNECTED },
    { "EXITING,", EXITING },
    { "TCP_CONNECT,", CONNECTING },
};

bool has(const QString& line, const char* text)
{
    return line.contains(QLatin1String(text), Qt::CaseInsensitive);
}
} // namespace

QString ExternalToolsCustom::managementSocketPath()
{
    return RootOnlyDirectory::filePath(QStringLiteral("openvpn-management.sock"));
}

QStringList ExternalToolsCustom::managementSocket()
{
    return { managementSocketPath(), QStringLiteral("unix") };
}

OpenVpnManager::OpenVpnManager(QObject* parent)
    : QObject(parent)
    , m_socket(new QLocalSocket(this))
{
    qRegisterMetaType<OpenVpnManagerState>("OpenVpnManagerState");
    qRegisterMetaType<OpenVpnProcessState>("OpenVpnProcessState");
    ASSERT_CONNECT(connect(m_socket, &QLocalSocket::connected, this, &OpenVpnManager::onSocketConnected));
    ASSERT_CONNECT(connect(m_socket, &QLocalSocket::disconnected, this, &OpenVpnManager::onSocketDisconnected));
    ASSERT_CONNECT(connect(m_socket, &QLocalSocket::errorOccurred, this, &OpenVpnManager::onSocketError));
    ASSERT_CONNECT(connect(m_socket, &QLocalSocket::bytesWritten, this, &OpenVpnManager::bytesWritten));
    ASSERT_CONNECT(connect(m_socket, &QLocalSocket::readyRead, this, &OpenVpnManager::readyRead));
}

OpenVpnManager::~OpenVpnManager()
{
    // The socket must not report into a half-destroyed object.
    m_socket->disconnect(this);
    delete m_socket;
    m_socket = nullptr;
}

void OpenVpnManager::start(QString socketPath)
{
    try {
        qDebug().noquote() << Q_FUNC_INFO << socketStateToString(QAbstractSocket::SocketState(m_socket->state()));
        m_fullManagement = false;
        m_awaitingLogin = false;
        m_socket->connectToServer(socketPath, QIODevice::ReadWrite);
    }
    ALOG_CATCHALL("OpenVpnManager::start")
}

void OpenVpnManager::startFullManagement(QString socketPath)
{
    try {
        qDebug().noquote() << Q_FUNC_INFO << socketStateToString(QAbstractSocket::SocketState(m_socket->state()));
        m_fullManagement = true;
        m_awaitingLogin = false;
        setStates(taking_openvpn_process, none);
        m_socket->connectToServer(socketPath, QIODevice::ReadWrite);
    }
    ALOG_CATCHALL("OpenVpnManager::startFullManagement")
}

void OpenVpnManager::disconnectFromVpnProcess()
{
    try {
        m_socket->disconnectFromServer();
    }
    ALOG_CATCHALL("OpenVpnManager::disconnectFromVpnProcess")
}

void OpenVpnManager::setUsername(QString username)
{
    if (m_username == username)
        return;
    m_username = username;
    emit onUsernameChanged(m_username);
}

void OpenVpnManager::setPassword(QString password)
{
    if (m_password == password)
        return;
    m_password = password;
    emit onPasswordChanged(m_password);
}

void OpenVpnManager::setState(OpenVpnManagerState state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(m_state);
}

void OpenVpnManager::setVpnProcessState(OpenVpnProcessState vpnProcessState)
{
    if (m_vpnProcessState == vpnProcessState)
        return;
    m_vpnProcessState = vpnProcessState;
    emit vpnProcessStateChanged(m_vpnProcessState);
}

void OpenVpnManager::setStates(OpenVpnManagerState managerState, OpenVpnProcessState vpnProcessState)
{
    const bool managerChanged = m_state != managerState;
    const bool processChanged = m_vpnProcessState != vpnProcessState;
    if (!managerChanged && !processChanged)
        return;
    // Both are stored before either signal goes out, so a receiver sees both.
    m_state = managerState;
    m_vpnProcessState = vpnProcessState;
    if (managerChanged)
        emit stateChanged(m_state);
    if (processChanged)
        emit vpnProcessStateChanged(m_vpnProcessState);
}

void OpenVpnManager::writeCommand(QString cmd)
{
    write(cmd, false, QString());
}

void OpenVpnManager::write(const QString& text, bool silent, const QString& comment)
{
    try {
        if (!silent)
            qDebug().noquote() << Q_FUNC_INFO << ">>>>>>>" << logSafe(redacted(text.trimmed())) << comment;
        if (m_socket->state() != QLocalSocket::ConnectedState) {
            qDebug().noquote() << Q_FUNC_INFO << ">>>>>>> socket state != ConnectedState";
            return;
        }
        // The service's accounts take UTF-8; Latin-1 would turn anything
        // beyond it into "?".
        m_socket->write(text.toUtf8());
        if (silent && !comment.isEmpty())
            qDebug().noquote() << Q_FUNC_INFO << ">>>>>>>" << comment;
    }
    ALOG_CATCHALL("OpenVpnManager::write")
}

void OpenVpnManager::dumpState()
{
    const QString separator(20, QLatin1Char('='));
    qDebug().noquote() << Q_FUNC_INFO << separator;
    qDebug().noquote() << "socket->state:" << socketStateToString(QAbstractSocket::SocketState(m_socket->state()));
    qDebug().noquote() << "vpnManager->state:" << int(m_state);
    qDebug().noquote() << "vpnProcessState:" << int(m_vpnProcessState);
    qDebug().noquote() << separator;
}

void OpenVpnManager::onSocketConnected()
{
    try {
        qDebug().noquote() << Q_FUNC_INFO << "connected";
        QString why;
        if (!peerIsExpected(&why)) {
            // Whoever listens there gets nothing, not even a command.
            qCritical().noquote() << Q_FUNC_INFO << "peer refused:" << why;
            m_awaitingLogin = false;
            m_socket->abort();
            setStates(stopped_with_error, m_vpnProcessState);
            emit peerRejected(why);
            return;
        }
        setState(openvpn_process);
        // With a management password OpenVPN takes every line as a login
        // attempt until it has accepted one: the commands wait for that.
        if (!m_managementPassword.isEmpty()) {
            m_awaitingLogin = true;
            // The prompt may already be here (it has no line end).
            readyRead();
            return;
        }
        sendSessionCommands();
    }
    ALOG_CATCHALL("OpenVpnManager::onSocketConnected")
}

void OpenVpnManager::sendSessionCommands()
{
    // Nothing else is sent unprompted: no hold release, no byte counts.
    writeCommand(QStringLiteral("log on\n"));
    writeCommand(QStringLiteral("state on\n"));
    writeCommand(QStringLiteral("pid\n"));
    writeCommand(QStringLiteral("state\n"));
}

void OpenVpnManager::onSocketDisconnected()
{
    try {
        qDebug().noquote() << Q_FUNC_INFO << "onSocketDisconnected";
        if (m_awaitingLogin) {
            m_awaitingLogin = false;
            emit managementLoginFailed(QStringLiteral("OpenVPN closed the management link before the login"));
        }
        emit disconnected();
        setState(stopped_done);
    }
    ALOG_CATCHALL("OpenVpnManager::onSocketDisconnected")
}

bool OpenVpnManager::peerIsExpected(QString* why) const
{
    struct ucred peer = {};
    socklen_t length = sizeof(peer);
    const qintptr fd = m_socket->socketDescriptor();
    if (fd < 0 || ::getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof(peer)) {
        *why = QStringLiteral("the credentials of the management socket's peer cannot be read");
        return false;
    }
    if (m_expectedPeerPid <= 0 || qint64(peer.pid) != m_expectedPeerPid) {
        *why = QStringLiteral("the management socket is held by process %1, not by the OpenVPN process %2")
                   .arg(qint64(peer.pid))
                   .arg(m_expectedPeerPid);
        return false;
    }
    if (peer.uid != 0 && peer.uid != ::geteuid()) {
        *why = QStringLiteral("the management socket's peer runs as user id %1").arg(peer.uid);
        return false;
    }
    return true;
}

void OpenVpnManager::onSocketError(QLocalSocket::LocalSocketError error)
{
    try {
        qDebug().noquote() << Q_FUNC_INFO << "error" << error << m_socket->errorString();
        switch (error) {
        case QLocalSocket::PeerClosedError:
            emit errorRemoteHostClosed();
            setState(m_vpnProcessState == EXITING ? stopped_done : stopped_with_error);
            break;
        case QLocalSocket::ConnectionRefusedError:
        case QLocalSocket::ServerNotFoundError:
            qDebug().noquote() << Q_FUNC_INFO << "cant_connect";
            setState(stopped_cant_connect);
            break;
        default:
            if (m_state == taking_openvpn_process || m_state == openvpn_process) {
                setState(stopped_with_error);
                qCritical().noquote() << Q_FUNC_INFO << "openvpnmanager stopped_with_error";
            }
            break;
        }
    }
    ALOG_CATCHALL("OpenVpnManager::onSocketError")
}

void OpenVpnManager::bytesWritten(qint64)
{
}

void OpenVpnManager::readyRead()
{
    try {
        static const QByteArray kPasswordPrompt("ENTER PASSWORD:");
        // Only whole lines: a line still on its way is read at the next
        // signal. The one exception is the password prompt, which has no
        // line end.
        while (m_socket) {
            if (m_awaitingLogin && m_socket->peek(kPasswordPrompt.size()) == kPasswordPrompt) {
                m_socket->read(kPasswordPrompt.size());
                write(m_managementPassword + QLatin1Char('\n'), true,
                      QStringLiteral("the management password is passed"));
                continue;
            }
            if (!m_socket->canReadLine())
                break;
            const QString line = QString::fromUtf8(m_socket->readLine());
            if (line.isEmpty())
                break;
            processLine(line);
        }
        qDebug().noquote() << Q_FUNC_INFO << "read completed";
    }
    ALOG_CATCHALL("OpenVpnManager::readyRead")
}

void OpenVpnManager::processLine(const QString& line)
{
    ++g_lineCounter;
    qDebug().noquote() << "openvpn process" << g_lineCounter << ":" << logSafe(redacted(line.trimmed()));

    if (m_awaitingLogin) {
        if (has(line, "SUCCESS: password is correct")) {
            m_awaitingLogin = false;
            sendSessionCommands();
        } else if (has(line, "ERROR: bad password")) {
            m_awaitingLogin = false;
            qCritical().noquote() << Q_FUNC_INFO << "management password refused";
            emit managementLoginFailed(QStringLiteral("OpenVPN refused the management password"));
            disconnectFromVpnProcess();
        }
        return;
    }

    // State words.
    bool stateWordFound = false;
    for (const StateWord& word : kStateWords) {
        if (has(line, word.text)) {
            setVpnProcessState(word.state);
            stateWordFound = true;
            break;
        }
    }
    if (!stateWordFound) {
        if (has(line, "STATE:")) {
            qCritical().noquote() << Q_FUNC_INFO << "unknown state";
            setVpnProcessState(UNKNOWN_STATE);
        } else {
            emit output(line);
        }
    }

    // Prompts and failures.
    if (has(line, "PASSWORD:Need 'Auth' username/password")) {
        answerCredential(true);
    } else if (has(line, "SUCCESS: 'Auth' username entered")) {
        answerCredential(false);
    } else if (has(line, "PASSWORD:Verification Failed")) {
        emit authVerificationFailed(line);
    } else if (has(line, "FATAL:There are no TAP-Windows adapters on this system.")
               || (has(line, "FATAL") && has(line, "adapters on this system are currently in use"))) {
        emit noTAPWindowsAdapters(QStringLiteral("Connect error: ") + friendlyStr(line));
    }

    if (has(line, "ERROR: the 'username' command requires")) {
        if (m_username.isEmpty()) {
            qCritical().noquote() << Q_FUNC_INFO << "empty username";
            disconnectFromVpnProcess();
        } else if (credentialNeedsQuoting(m_username)) {
            // A bare argument would be split or unescaped by OpenVPN's parser.
            qCritical().noquote() << Q_FUNC_INFO << "username cannot be sent unquoted";
            emit credentialRejected(QStringLiteral("user name cannot be sent unquoted"));
            disconnectFromVpnProcess();
        } else {
            write(QStringLiteral("username \"Auth\" %1\n").arg(m_username), false, QString());
        }
    } else if (has(line, "SUCCESS: 'Auth' password entered, but not yet verified")) {
        // Nothing to do until OpenVPN reports the verification.
    } else if (has(line, "OpenVPN STATISTICS")) {
        logStatistics();
    }
}

void OpenVpnManager::answerCredential(bool isUsername)
{
    const QString& value = isUsername ? m_username : m_password;
    const QString what = isUsername ? QStringLiteral("user name") : QStringLiteral("password");
    if (!isSendableCredential(value) || !credentialFitsManagement(value)) {
        qCritical().noquote() << Q_FUNC_INFO << what << "holds a line break or NUL or is too long; not sent";
        emit credentialRejected(what + QStringLiteral(" holds a line break or NUL character or is too long"));
        disconnectFromVpnProcess();
        return;
    }
    if (isUsername)
        write(QStringLiteral("username \"Auth\" \"%1\"\n").arg(escapedValue(value)), false, QString());
    else
        write(QStringLiteral("password \"Auth\" \"%1\"\n").arg(escapedValue(value)), true,
              QStringLiteral("the password is passed"));
}

void OpenVpnManager::logStatistics()
{
    while (m_socket->canReadLine()) {
        const QByteArray raw = m_socket->readLine();
        if (raw.isEmpty())
            break;
        const QString line = QString::fromUtf8(raw);
        ++g_lineCounter;
        qDebug().noquote() << g_lineCounter << "   " << logSafe(redacted(line.trimmed()));
        QString bare = line;
        while (bare.endsWith(QLatin1Char('\n')) || bare.endsWith(QLatin1Char('\r')))
            bare.chop(1);
        if (bare == QLatin1String("END"))
            break;
    }
}

QString OpenVpnManager::redacted(const QString& line) const
{
    return redactSecrets(line, { m_password, m_managementPassword });
}

void openVpnManagerAddManagmentParams(QStringList& openVpnExecParams, const QStringList& managementSocket)
{
    openVpnExecParams << QStringLiteral("--management") << managementSocket
                      << QStringLiteral("--management-query-passwords");
}

bool openVpnManagerState_isStopped(OpenVpnManagerState state)
{
    return state == stopped_none || state == stopped_with_error || state == stopped_cant_connect
        || state == stopped_done;
}

QString socketStateToString(QAbstractSocket::SocketState state)
{
    switch (int(state)) {
    case 0:
        return QStringLiteral("Unconnected");
    case 1:
        return QStringLiteral("HostLookup");
    case 2:
        return QStringLiteral("Connecting");
    case 3:
        return QStringLiteral("Connected");
    case 4:
        return QStringLiteral("Bound");
    case 5:
        return QStringLiteral("Listening");
    case 6:
        return QStringLiteral("Closing");
    default:
        return QStringLiteral("[unknown socket state]");
    }
}

bool openVpnManagerIsOpenVpnRequestAuth(const QString& line)
{
    return line.contains(QLatin1String("Need password(s) from management interface, waiting..."), Qt::CaseInsensitive);
}

QString escapedValue(const QString& value)
{
    QString result;
    result.reserve(value.size() + 8);
    for (const QChar c : value) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            result += QLatin1Char('\\');
        result += c;
    }
    return result;
}

bool isSendableCredential(const QString& value)
{
    for (const QChar c : value) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar(0))
            return false;
    }
    return true;
}

bool credentialNeedsQuoting(const QString& value)
{
    if (value.isEmpty() || value.startsWith(QLatin1Char('#')) || value.startsWith(QLatin1Char(';')))
        return true;
    for (const QChar c : value) {
        if (c.isSpace() || c == QLatin1Char('"') || c == QLatin1Char('\'') || c == QLatin1Char('\\') || c == QChar(0))
            return true;
    }
    return false;
}

bool credentialFitsManagement(const QString& value)
{
    return value.toUtf8().size() <= kManagementParameterMaxBytes;
}

QString redactSecrets(const QString& line, const QStringList& secrets)
{
    QString result = line;
    // OpenVPN echoes the first 256 characters of a parameter it refuses.
    const int tooLong = result.indexOf(QLatin1String("is too long ("), 0, Qt::CaseInsensitive);
    if (tooLong >= 0) {
        const int end = result.indexOf(QLatin1String("):"), tooLong);
        if (end >= 0)
            result = result.left(end + 2) + QStringLiteral(" [hidden]");
    }
    for (const QString& secret : secrets) {
        if (!secret.isEmpty())
            result.replace(secret, QStringLiteral("[hidden]"));
    }
    return result;
}

QString friendlyStr(const QString& line)
{
    const int pos = line.toLower().indexOf(QLatin1String("fatal:"));
    if (pos < 0)
        return line;
    return line.right(line.length() - pos - 6);
}
