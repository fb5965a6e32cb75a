#pragma once

#include <QAbstractSocket>
#include <QLocalSocket>
#include <QObject>
#include <QString>
#include <QStringList>

// State of the link to OpenVPN's management interface. The four values
// whose names begin with "stopped" are the stopped states.
enum OpenVpnManagerState {
    stopped_none = 0,
    taking_openvpn_process = 1, // connecting to the management socket
    openvpn_process = 2, // link up
    stopped_with_error = 3,
    stopped_cant_connect = 4,
    stopped_done = 5,
};

// The last state OpenVPN reported over the management interface.
enum OpenVpnProcessState {
    none = 0,
    CONNECTING = 1,
    WAIT = 2,
    AUTH = 3,
    GET_CONFIG = 4,
    ASSIGN_IP = 5,
    ADD_ROUTES = 6,
    CONNECTED = 7,
    RECONNECTING = 8,
    EXITING = 9,
    UNKNOWN_STATE = 10,
};

Q_DECLARE_METATYPE(OpenVpnManagerState)
Q_DECLARE_METATYPE(OpenVpnProcessState)

// Where OpenVPN's management interface listens: a Unix socket in the
// engine's root-only directory.
class ExternalToolsCustom
{
public:
    static QString managementSocketPath();
    // The socket as OpenVPN's "--management" arguments take it (path, "unix").
    static QStringList managementSocket();
};

// Client side of OpenVPN's management interface: connects to the management
// socket, makes sure the peer is the OpenVPN process it was told to expect,
// switches on log and state notifications, answers the credential prompts
// and follows the management link's and OpenVPN's states. The credentials
// travel only over this socket, and only to that process.
class OpenVpnManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString username READ username WRITE setUsername NOTIFY onUsernameChanged)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY onPasswordChanged)
    Q_PROPERTY(OpenVpnManagerState state READ state WRITE setState NOTIFY stateChanged)
    Q_PROPERTY(
        OpenVpnProcessState vpnProcessState READ vpnProcessState WRITE setVpnProcessState NOTIFY vpnProcessStateChanged)

public:
    explicit OpenVpnManager(QObject* parent = nullptr);
    ~OpenVpnManager() override;

    virtual void foobar() { }

    QString username() const { return m_username; }
    QString password() const { return m_password; }
    OpenVpnManagerState state() const { return m_state; }
    OpenVpnProcessState vpnProcessState() const { return m_vpnProcessState; }

    // Sends one command as UTF-8; `silent` keeps the text out of the log
    // (the comment is logged instead).
    void write(const QString& text, bool silent, const QString& comment);

    // The password OpenVPN asks for ("ENTER PASSWORD:") before it takes any
    // command; empty when the interface has none. Never logged.
    void setManagementPassword(const QString& password) { m_managementPassword = password; }
    // The line as it may be logged: every credential of this client cut out.
    QString redacted(const QString& line) const;
    // The process that must be at the other end of the socket (its pid, and
    // its user id: root or this process's own). Nothing is sent to any other
    // peer; 0 accepts none.
    void setExpectedPeer(qint64 pid) { m_expectedPeerPid = pid; }
    qint64 expectedPeer() const { return m_expectedPeerPid; }

signals:
    void onUsernameChanged(QString username);
    void onPasswordChanged(QString password);
    void authVerificationFailed(QString line);
    void noTAPWindowsAdapters(QString line);
    void errorRemoteHostClosed();
    void disconnected();
    void stateChanged(OpenVpnManagerState state);
    void output(QString line);
    void vpnProcessStateChanged(OpenVpnProcessState vpnProcessState);
    // A credential could not be sent safely (line break or NUL in it, or a
    // user name that cannot go unquoted); the link is being closed.
    void credentialRejected(QString reason);
    // OpenVPN refused the management password, or closed the link before
    // the client had logged in.
    void managementLoginFailed(QString reason);
    // The process at the other end of the socket is not the expected one;
    // nothing was sent and the link is closed.
    void peerRejected(QString reason);

public slots:
    void start(QString socketPath);
    void startFullManagement(QString socketPath);
    void disconnectFromVpnProcess();
    virtual void foo() { }
    void setUsername(QString username);
    void setPassword(QString password);
    void setState(OpenVpnManagerState state);
    void writeCommand(QString cmd);
    void setVpnProcessState(OpenVpnProcessState vpnProcessState);
    void setStates(OpenVpnManagerState managerState, OpenVpnProcessState vpnProcessState);
    void dumpState();

private slots:
    void onSocketConnected();
    void onSocketDisconnected();
    void onSocketError(QLocalSocket::LocalSocketError error);
    void bytesWritten(qint64 bytes);
    void readyRead();

private:
    void processLine(const QString& line);
    void answerCredential(bool isUsername);
    void logStatistics();
    void sendSessionCommands();
    // Whether the peer is the expected process; the reason when not.
    bool peerIsExpected(QString* why) const;

    QLocalSocket* m_socket = nullptr;
    QString m_username;
    QString m_password;
    bool m_fullManagement = false;
    QString m_managementPassword;
    // Connected, the management password not yet accepted.
    bool m_awaitingLogin = false;
    qint64 m_expectedPeerPid = 0;
    OpenVpnManagerState m_state = stopped_none;
    OpenVpnProcessState m_vpnProcessState = none;
};

// Appends "--management", the socket's arguments and "--management-query-passwords".
void openVpnManagerAddManagmentParams(QStringList& openVpnExecParams, const QStringList& managementSocket);
bool openVpnManagerState_isStopped(OpenVpnManagerState state);
QString socketStateToString(QAbstractSocket::SocketState state);
// Whether OpenVPN says it waits for credentials from the management interface.
bool openVpnManagerIsOpenVpnRequestAuth(const QString& line);
// The value as it goes between double quotes in a management command:
// a backslash before every backslash and double quote.
QString escapedValue(const QString& value);
// False for a value holding CR, LF or NUL: it would end the command early
// and could smuggle in a second one.
bool isSendableCredential(const QString& value);
// Whether a value cannot be sent as a bare (unquoted) command argument.
bool credentialNeedsQuoting(const QString& value);
// The longest parameter OpenVPN's management interface takes, in bytes of
// the value once unquoted.
constexpr int kManagementParameterMaxBytes = 256;
// Whether OpenVPN accepts the value as one management parameter (UTF-8).
bool credentialFitsManagement(const QString& value);
// `line` with every occurrence of each non-empty secret replaced, and the
// echo in OpenVPN's "Parameter ... is too long" complaint cut off.
QString redactSecrets(const QString& line, const QStringList& secrets);
// The text after "fatal:" when the line has it, else the line.
QString friendlyStr(const QString& line);
