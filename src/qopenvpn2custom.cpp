#include "qopenvpn2custom.h"

#include "deployment.h"
#include "log.h"
#include "utils.h"

namespace {
QString helpLink(const QString& page)
{
    const QString url = Deployment::value(QStringLiteral("web/site")) + QStringLiteral("/help/") + page;
    return QStringLiteral("<a href='%1'>%1</a>").arg(url);
}
} // namespace

QString userErrorMessageAuthFailed()
{
    return QStringLiteral("Wrong VPN credentials. Error 'AUTH_FAILED'.<br />Solution at ")
        + helpLink(QStringLiteral("auth-failed"));
}

QString userErrorMessageAllAdaptersInUse()
{
    return QStringLiteral("Error: all adapters in use.<br />Solution at ")
        + helpLink(QStringLiteral("all-adapters-in-use"));
}

QString userErrorMessageBadCredential()
{
    return QStringLiteral("The user name or password contains a line break or a NUL character and cannot be used.");
}

QString userErrorMessageCredentialTooLong()
{
    return QStringLiteral("The user name or password is too long: OpenVPN takes at most %1 bytes for each.")
        .arg(kManagementParameterMaxBytes);
}

QOpenVPN2Custom::QOpenVPN2Custom(QObject* parent)
    : ConnectStateObject(parent)
{
    ASSERT_CONNECT(QObject::connect(&m_openVpnManager, &OpenVpnManager::stateChanged, this,
                                    &QOpenVPN2Custom::managementStateChanged));
    ASSERT_CONNECT(QObject::connect(&m_openVpnManager, &OpenVpnManager::vpnProcessStateChanged, this,
                                    &QOpenVPN2Custom::managementStateChanged));
    ASSERT_CONNECT(QObject::connect(&m_openVpnManager, &OpenVpnManager::authVerificationFailed, this,
                                    &QOpenVPN2Custom::managementAuthVerificationFailed));
    ASSERT_CONNECT(QObject::connect(&m_openVpnManager, &OpenVpnManager::noTAPWindowsAdapters, this,
                                    &QOpenVPN2Custom::managementNoTAPWindowsAdapters));
    ASSERT_CONNECT(QObject::connect(&m_openVpnManager, &OpenVpnManager::credentialRejected, this,
                                    &QOpenVPN2Custom::managementCredentialRejected));
    ASSERT_CONNECT(QObject::connect(&m_openVpnManager, &OpenVpnManager::peerRejected, this,
                                    &QOpenVPN2Custom::managementPeerRejected));
}

void QOpenVPN2Custom::setCredential(const QString& userName, const QString& password)
{
    m_userName = userName;
    m_password = password;
    m_openVpnManager.setUsername(userName);
    m_openVpnManager.setPassword(password);
}

void QOpenVPN2Custom::writeOpenVpnCommand(const QString& cmd)
{
    m_openVpnManager.writeCommand(cmd);
}

void QOpenVPN2Custom::managementStateChanged()
{
    try {
        const OpenVpnManagerState managerState = m_openVpnManager.state();
        const OpenVpnProcessState processState = m_openVpnManager.vpnProcessState();
        qDebug().noquote() << Q_FUNC_INFO << QStringLiteral("%1/%2").arg(int(managerState)).arg(int(processState));

        if (openVpnManagerState_isStopped(managerState)) {
            // The connect or the disconnect in progress settles the state.
            if (m_connectInProgress || m_disconnectRequested || isDisconnectedState())
                return;
            managementLinkEnded();
            return;
        }
        if (disconnectAsked()) {
            // What OpenVPN reports while it is being stopped (routes added,
            // even connected) belongs to a tunnel on its way down: the state
            // stays Disconnecting until its process has ended.
            if (!isDisconnectedState())
                setState(Constants::ConnectState_Disconnecting);
            return;
        }
        if (managerState == taking_openvpn_process) {
            setState(Constants::ConnectState_Connecting);
            return;
        }
        switch (processState) {
        case UNKNOWN_STATE:
            if (!m_connectInProgress)
                setState(Constants::ConnectState_Disconnected);
            break;
        case CONNECTED:
            setState(Constants::ConnectState_Connected);
            break;
        case EXITING:
            // An exit nobody asked for shows when the process has ended, as
            // Disconnected with an error.
            break;
        case WAIT:
        case GET_CONFIG:
        case ASSIGN_IP:
        case ADD_ROUTES:
        case CONNECTING:
        case RECONNECTING:
        case AUTH:
            setState(Constants::ConnectState_Connecting);
            break;
        case none:
            qCritical().noquote() << Q_FUNC_INFO << "unprocessed combination";
            break;
        }
    }
    ALOG_CATCHALL("QOpenVPN2Custom::managementStateChanged")
}

void QOpenVPN2Custom::managementAuthVerificationFailed(QString line)
{
    try {
        qDebug().noquote() << Q_FUNC_INFO << logSafe(m_openVpnManager.redacted(line.trimmed()));
        reportError(USER_ERROR_MESSAGE_ALL_AUTH_FILED);
    }
    ALOG_CATCHALL("QOpenVPN2Custom::managementAuthVerificationFailed")
}

void QOpenVPN2Custom::managementNoTAPWindowsAdapters(QString line)
{
    try {
        qDebug().noquote() << Q_FUNC_INFO << logSafe(m_openVpnManager.redacted(line.trimmed()));
        reportError(USER_ERROR_MESSAGE_ALL_ADAPTERS_IN_USE);
    }
    ALOG_CATCHALL("QOpenVPN2Custom::managementNoTAPWindowsAdapters")
}

void QOpenVPN2Custom::managementCredentialRejected(QString reason)
{
    try {
        qDebug().noquote() << Q_FUNC_INFO << reason;
        reportError(USER_ERROR_MESSAGE_BAD_CREDENTIAL);
    }
    ALOG_CATCHALL("QOpenVPN2Custom::managementCredentialRejected")
}

void QOpenVPN2Custom::managementPeerRejected(QString reason)
{
    try {
        qCritical().noquote() << Q_FUNC_INFO << reason;
        reportError(QStringLiteral("The connection was stopped before the credentials were sent: %1.")
                        .arg(reason.toHtmlEscaped()));
    }
    ALOG_CATCHALL("QOpenVPN2Custom::managementPeerRejected")
}

void QOpenVPN2Custom::managementLinkEnded()
{
    setState(Constants::ConnectState_Disconnected, isConnectedState());
}

void QOpenVPN2Custom::reportError(const QString& text)
{
    m_errorReported = true;
    emit error(text);
}
