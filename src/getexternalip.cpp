#include "getexternalip.h"

#include "downloader.h"
#include "log.h"
#include "qt-json/json.h"

#include <QUrl>
#include <QVariantMap>

GetExternalIpResult getExternalIP(const QString& url, FetchStop::Ptr stop)
{
    GetExternalIpResult result;
    const DownloadResult download = downloadByUrlInPool(QUrl(url), 5000, stopCheck(stop));
    if (download.isSuccess()) {
        if (parseExternalIPResult(download.data, result))
            result.errors.clear();
    } else {
        result.errors.append(download.failureText());
    }
    return result;
}

bool parseExternalIPResult(const QByteArray& data, GetExternalIpResult& result)
{
    bool ok = false;
    const QVariantMap answer = QtJson::parse(QString::fromUtf8(data), ok).toMap();
    if (!ok) {
        result.errors.append(QStringLiteral("Can't parse result"));
        return false;
    }
    qInfo().noquote() << Q_FUNC_INFO << "IP10";
    result.ip = answer.value(QStringLiteral("ip")).toString();
    if (answer.contains(QStringLiteral("country_name")))
        result.country = answer.value(QStringLiteral("country_name")).toString();
    else if (answer.contains(QStringLiteral("countryName")))
        result.country = answer.value(QStringLiteral("countryName")).toString();
    else
        result.errors.append(QStringLiteral("countryName not found"));
    return !result.ip.isEmpty() || !result.country.isEmpty();
}
