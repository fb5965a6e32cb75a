#include "getnews.h"

#include "deployment.h"
#include "downloader.h"
#include "log.h"
#include "qt-json/json.h"

#include <QDate>
#include <QDateTime>
#include <QThread>
#include <QUrl>

QString newsExUrl()
{
    return QStringLiteral("http://") + Deployment::value(QStringLiteral("web/newsHost"))
        + QStringLiteral(":8001/api/news.json");
}

GetNewsResult getNews(const QStringList& urls, FetchStop::Ptr stop)
{
    return getNewsPaced(urls, FetchPacing(), stop);
}

GetNewsResult getNewsPaced(const QStringList& urls, FetchPacing pacing, FetchStop::Ptr stop)
{
    GetNewsResult result;
    const bool found = fetchFirstUsable(
        urls, pacing, result.errors,
        [&result](const QByteArray& data) {
            result.news = parseNews(data);
            return !result.news.isEmpty();
        },
        stopCheck(stop));
    if (found)
        moveObjectsToMainThread(result.news);
    return result;
}

QList<News::Ptr> parseNews(const QByteArray& data)
{
    QList<News::Ptr> list;
    const QVariantList entries = QtJson::parse(QString::fromUtf8(data)).toList();
    for (const QVariant& entry : entries) {
        qInfo().noquote() << Q_FUNC_INFO << "NE11";
        const QVariantMap m = entry.toMap();
        const QString id = m.value(QStringLiteral("id")).toString();
        News::Ptr news(new News(id));
        news->setText(m.value(QStringLiteral("title")).toString());
        news->setUrl(m.value(QStringLiteral("url")).toString());
        news->setId(id);
        const QString date = m.value(QStringLiteral("date")).toString();
        const int day = date.section(QLatin1Char('/'), 0, 0).toInt(nullptr, 10);
        const int month = date.section(QLatin1Char('/'), 1, 1).toInt(nullptr, 10);
        const int year = date.section(QLatin1Char('/'), 2, 2).toInt(nullptr, 10);
        news->setDate(QDate(year, month, day).startOfDay());
        list.append(news);
    }
    return list;
}
