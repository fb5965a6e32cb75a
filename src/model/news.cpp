#include "model/news.h"

News::News(const QString& id, QObject* parent)
    : QObject(parent)
    , m_id(id)
{
}

News::News(const QString& id, const QDate& date, const QString& text, const QString& url, QObject* parent)
    : QObject(parent)
    , m_id(id)
    , m_date(date.startOfDay(Qt::LocalTime))
    , m_text(text)
    , m_url(url)
{
}

void News::update(const News& another)
{
    setDate(another.date());
    setText(another.text());
    setUrl(another.url());
}

void News::setId(QString id)
{
    if (m_id == id)
        return;
    m_id = id;
    emit idChanged(m_id);
}

void News::setDate(QDateTime date)
{
    if (m_date == date)
        return;
    m_date = date;
    emit dateChanged(m_date);
}

void News::setText(QString text)
{
    if (m_text == text)
        return;
    m_text = text;
    emit textChanged(m_text);
}

void News::setUrl(QString url)
{
    if (m_url == url)
        return;
    m_url = url;
    emit urlChanged(m_url);
}

NewsModel::NewsModel(QObject* parent)
    : StandartSimpleModel<News, News::Ptr, QString>(parent)
{
}

int NewsModel::getMaxId() const
{
    int maxId = 0;
    for (const News::Ptr& news : m_list) {
        bool ok = false;
        const int id = news->id().toInt(&ok, 10);
        if (ok && id > maxId)
            maxId = id;
    }
    return maxId;
}

// Signals and string-based connections name the pointer by its typedef.
[[maybe_unused]] static const int kPtrMetaTypeId = qRegisterMetaType<News::Ptr>("News::Ptr");
