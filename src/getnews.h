#pragma once

#include "getservers.h"
#include "model/news.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

struct GetNewsResult
{
    QList<News::Ptr> news;
    QStringList errors; // empty on success
};

// The further news address, tried after the mirrors: the service's plain-HTTP
// news API on port 8001 ("/api/news.json"); its host is deployment data.
QString newsExUrl();
#define NEWS_EX_URL newsExUrl()

// The news job (pool thread): up to four passes over the addresses, with a
// pause after a pass without news. A set `stop` gives up the download in
// flight and ends the job ("stopped").
GetNewsResult getNews(const QStringList& urls, FetchStop::Ptr stop = FetchStop::Ptr());
GetNewsResult getNewsPaced(const QStringList& urls, FetchPacing pacing, FetchStop::Ptr stop = FetchStop::Ptr());
QList<News::Ptr> parseNews(const QByteArray& data);
