#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QString>

// A group of server locations under one caption.
class Region : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString id READ id CONSTANT)
    Q_PROPERTY(QString caption READ caption WRITE setCaption NOTIFY captionChanged)

public:
    typedef QSharedPointer<Region> Ptr;

    explicit Region(QString id, QObject* parent = nullptr);

    QString id() const { return m_id; }
    QString caption() const { return m_caption; }

    void update(const Region& region);

signals:
    void captionChanged(QString caption);

public slots:
    void setCaption(QString caption);

private:
    QString m_id;
    QString m_caption;
};

// Orders regions by caption (plain QString comparison: case-sensitive, no
// locale).
struct RegionPtrLess
{
    bool operator()(const Region::Ptr& a, const Region::Ptr& b) const { return a->caption() < b->caption(); }
};
