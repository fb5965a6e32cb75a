#pragma once

#include "connect_state_object.h"
#include "openvpnmanager.h"

#include <QString>

// Seconds passed to every attach.
#define OPENVPN_ATTACH_MAX_WAIT_SECONDS 60
#define OPENVPN_QATTACH_MAX_WAIT_SECONDS 60

// Texts shown to the user (HTML, with a link to the help page).
#define USER_ERROR_MESSAGE_ALL_AUTH_FILED userErrorMessageAuthFailed()
#define USER_ERROR_MESSAGE_ALL_ADAPTERS_IN_USE userErrorMessageAllAdaptersInUse()
// Shown when a credential cannot be handed to OpenVPN safely.
#define USER_ERROR_MESSAGE_BAD_CREDENTIAL userErrorMessageBadCredential()
// Shown when a credential is longer than OpenVPN takes.
#define USER_ERROR_MESSAGE_CREDENTIAL_TOO_LONG userErrorMessageCredentialTooLong()

#define DNS_V4_EMPTY "0.0.0.0"
#define DNS_V6_EMPTY "0.0.0.0"

QString userErrorMessageAuthFailed();
QString userErrorMessageAllAdaptersInUse();
QString userErrorMessageBadCredential();
QString userErrorMessageCredentialTooLong();

// Owns the management client and turns its two states into the
// connection's state.
class QOpenVPN2Custom : public ConnectStateObject
{
    Q_OBJECT
public:
    explicit QOpenVPN2Custom(QObject* parent = nullptr);

    void setCredential(const QString& userName, const QString& password);
    void writeOpenVpnCommand(const QString& cmd);
    OpenVpnManager* openVpnManager() { return &m_openVpnManager; }

private slots:
    void managementStateChanged();
    void managementAuthVerificationFailed(QString line);
    void managementNoTAPWindowsAdapters(QString line);
    void managementCredentialRejected(QString reason);
    void managementPeerRejected(QString reason);

protected:
    // The management link ended (a stopped state) outside a connect and
    // outside a disconnect the user asked for.
    virtual void managementLinkEnded();
    // Emits `error` and notes that the running connect has told the user.
    // Variable parts of `text` (OpenVPN's words, a reason, a path) must be
    // escaped: the text is shown as rich text.
    void reportError(const QString& text);
    // A disconnect was asked for: by the user, or as the cancel of the
    // connect in progress. OpenVPN's reports no longer move the state on.
    virtual bool disconnectAsked() const { return m_disconnectRequested; }

    OpenVpnManager m_openVpnManager;
    // A connect is being served: link losses and OpenVPN's own states do
    // not show as Disconnected in its middle; the connect decides the end.
    bool m_connectInProgress = false;
    // The user asked for the disconnect under way (or done).
    bool m_disconnectRequested = false;
    // The running connect has already shown the user an error.
    bool m_errorReported = false;
    QString m_userName;
    QString m_password;
};
