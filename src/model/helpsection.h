#pragma once

#include "model/helpitem.h"
#include "model/standartsimplemodel.h"

#include <QObject>
#include <QSharedPointer>
#include <QString>

// One section of the help page with its own list of links; the section's
// name is both its id and its name.
class HelpSection : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString id READ id WRITE setId NOTIFY idChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString comment READ comment WRITE setComment NOTIFY commentChanged)
    Q_PROPERTY(HelpItemModel* items READ items CONSTANT)

public:
    typedef QSharedPointer<HelpSection> Ptr;

    HelpSection(const QString& name, const QString& comment, QObject* parent = nullptr);

    QString id() const { return m_id; }
    QString name() const { return m_id; }
    QString comment() const { return m_comment; }
    HelpItemModel* items() { return &m_items; }

    // Takes over the name and the comment.
    void update(const HelpSection& another);

signals:
    void idChanged(QString id);
    void nameChanged(QString name);
    void commentChanged(QString comment);

public slots:
    void setId(QString id);
    void setName(QString name);
    void setComment(QString comment);

private:
    QString m_id;
    HelpItemModel m_items;
    QString m_comment;
};

class HelpSectionModel : public StandartSimpleModel<HelpSection, HelpSection::Ptr, QString>
{
    Q_OBJECT
public:
    explicit HelpSectionModel(QObject* parent = nullptr);

    QString idFromElem(const HelpSection::Ptr& elem) const override { return elem->id(); }
    QString role1Name() const override { return QStringLiteral("helpSection"); }
    QString role2Name() const override { return QStringLiteral("helpSectionRaw"); }
};
