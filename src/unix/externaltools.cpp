#include "unix/externaltools.h"

#include "settings.h"

QString ExternalTools::FIREWALL()
{
    return Settings::makeFilePathToBinLocation(QStringLiteral("ostrel-killswitch.sh"));
}

QString ExternalTools::DNSSCRIPT()
{
    return Settings::makeFilePathToBinLocation(QStringLiteral("ostrel-dns"));
}

QString ExternalTools::OPEN_LINK()
{
    return Settings::makeFilePathToBinLocation(QStringLiteral("open_link.sh"));
}

QStringList ExternalTools::enable()
{
    return { QStringLiteral("enable") };
}

QStringList ExternalTools::disable()
{
    return { QStringLiteral("disable") };
}

QStringList ExternalTools::status()
{
    return { QStringLiteral("status") };
}

QStringList ExternalTools::replace()
{
    return { QStringLiteral("replace") };
}

QStringList ExternalTools::localnetwork()
{
    return { QStringLiteral("localnetwork") };
}

QStringList ExternalTools::allow()
{
    return { QStringLiteral("allow") };
}

QStringList ExternalTools::deny()
{
    return { QStringLiteral("deny") };
}

QStringList ExternalTools::dnsscript_init()
{
    return { QStringLiteral("init") };
}

QStringList ExternalTools::dnsscript_dns_on()
{
    return { QStringLiteral("dns_on") };
}

QStringList ExternalTools::dnsscript_secure_dns_on()
{
    return { QStringLiteral("dns_securedns_on") };
}

QStringList ExternalTools::dnsscript_secure_dnsstr_on()
{
    return { QStringLiteral("dns_securednsstr_on") };
}

int ExternalTools::SMALL_WAIT_TIME()
{
    return 6000;
}

int ExternalTools::FAST_WAIT_TIME()
{
    return 300;
}
