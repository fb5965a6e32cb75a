#pragma once

#include "model/standartsimplemodel.h"

#include <QObject>
#include <QSharedPointer>
#include <QString>

// One link of a help section; the link text is both its id and its name.
class HelpItem : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString id READ id WRITE setId NOTIFY idChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString url READ url WRITE setUrl NOTIFY urlChanged)
    Q_PROPERTY(QString moreText READ moreText WRITE setMoreText NOTIFY moreTextChanged)

public:
    typedef QSharedPointer<HelpItem> Ptr;

    HelpItem(const QString& id, const QString& url, const QString& moreText, QObject* parent = nullptr);

    QString id() const { return m_id; }
    QString name() const { return m_id; }
    QString url() const { return m_url; }
    QString moreText() const { return m_moreText; }

    // Takes over the name and the link, not the further text.
    void update(const HelpItem& another);

signals:
    void idChanged(QString id);
    void nameChanged(QString name);
    void urlChanged(QString url);
    void moreTextChanged(QString moreText);

public slots:
    void setId(QString id);
    void setName(QString name);
    void setUrl(QString url);
    void setMoreText(QString moreText);

private:
    QString m_id;
    QString m_url;
    QString m_moreText;
};

class HelpItemModel : public StandartSimpleModel<HelpItem, HelpItem::Ptr, QString>
{
    Q_OBJECT
public:
    explicit HelpItemModel(QObject* parent = nullptr);

    QString idFromElem(const HelpItem::Ptr& elem) const override { return elem->id(); }
    QString role1Name() const override { return QStringLiteral("helpItem"); }
    QString role2Name() const override { return QStringLiteral("helpItemRaw"); }
};
