#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct GetExternalIpResult
{
    QString ip;            // the external address as the service reports it
    QString country;       // the country name as the service reports it
    QList<QString> errors; // empty on success
};

// The address-check job (pool thread): one download, time-out 5000 ms.
GetExternalIpResult getExternalIP(const QString& url);
// Reads "ip" and "country_name" (or "countryName") from the answer; true
// when either is not empty.
bool parseExternalIPResult(const QByteArray& data, GetExternalIpResult& result);
