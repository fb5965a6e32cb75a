#pragma once

#include <QString>
#include <QStringList>

// The scripts beside the executable, the words they take and the time-outs
// of their runs.
class ExternalTools
{
public:
    // Kill-switch script.
    static QString FIREWALL();
    // Resolver script; also OpenVPN's up and down script.
    static QString DNSSCRIPT();
    // Opens a web address in the desktop's browser.
    static QString OPEN_LINK();

    static QStringList enable();
    static QStringList disable();
    static QStringList status();
    static QStringList replace();
    static QStringList localnetwork();
    static QStringList allow();
    static QStringList deny();

    static QStringList dnsscript_init();
    static QStringList dnsscript_dns_on();
    static QStringList dnsscript_secure_dns_on();
    static QStringList dnsscript_secure_dnsstr_on();

    // Time-out of every script run, in milliseconds.
    static int SMALL_WAIT_TIME();
    // Time-out of a quick kill-switch status query (the tray icon's).
    static int FAST_WAIT_TIME();
};
