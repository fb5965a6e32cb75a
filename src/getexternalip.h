#pragma once

#include "downloader.h"

#include <QByteArray>
#include <QList>
#include <QString>

struct GetExternalIpResult
{
    QString ip; // the external address as the service reports it
    QString country; // the country name as the service reports it
    QList<QString> errors; // empty on success
};

// The address-check job (pool thread): one download, time-out 5000 ms. A set
// `stop` gives up the download in flight ("stopped").
GetExternalIpResult getExternalIP(const QString& url, FetchStop::Ptr stop = FetchStop::Ptr());
// Reads "ip" and "country_name" (or "countryName") from the answer; true
// when either is not empty.
bool parseExternalIPResult(const QByteArray& data, GetExternalIpResult& result);
