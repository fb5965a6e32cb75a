#pragma once

#include "model/standartsimplemodel.h"

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QSharedPointer>
#include <QString>

// One news entry of the service; the id is a decimal number as text.
class News : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString id READ id WRITE setId NOTIFY idChanged)
    Q_PROPERTY(QDateTime date READ date WRITE setDate NOTIFY dateChanged)
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
    Q_PROPERTY(QString url READ url WRITE setUrl NOTIFY urlChanged)

public:
    typedef QSharedPointer<News> Ptr;

    explicit News(const QString& id, QObject* parent = nullptr);
    // The date becomes the start of that day in local time.
    News(const QString& id, const QDate& date, const QString& text, const QString& url, QObject* parent = nullptr);

    QString id() const { return m_id; }
    QDateTime date() const { return m_date; }
    QString text() const { return m_text; }
    QString url() const { return m_url; }

    // Takes over date, text and link.
    void update(const News& another);

signals:
    void idChanged(QString id);
    void dateChanged(QDateTime date);
    void textChanged(QString text);
    void urlChanged(QString url);

public slots:
    void setId(QString id);
    void setDate(QDateTime date);
    void setText(QString text);
    void setUrl(QString url);

private:
    QString m_id;
    QDateTime m_date;
    QString m_text;
    QString m_url;
};

class NewsModel : public StandartSimpleModel<News, News::Ptr, QString>
{
    Q_OBJECT
public:
    explicit NewsModel(QObject* parent = nullptr);

    QString idFromElem(const News::Ptr& elem) const override { return elem->id(); }
    QString role1Name() const override { return QStringLiteral("news"); }
    QString role2Name() const override { return QStringLiteral("newsRaw"); }

    // The largest id that reads as a decimal number; 0 when there is none
    // or all are negative.
    int getMaxId() const;
};
