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

#define DNS_V4_EMPTY "0.0.0.0"
#define DNS_V6_EMPTY "0.0.0.0"

QString userErrorMessageAuthFailed();
QString userErrorMessageAllAdaptersInUse();
QString userErrorMessageBadCredential();

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

protected:
    OpenVpnManager m_openVpnManager;
    QString m_userName;
    QString m_password;
};
