#pragma once

#include "model/constants.h"
#include "model/standartsimplemodel.h"

#include <QObject>
#include <QSharedPointer>
#include <QString>

// One DNS-filtering choice; its id is the decimal text of its value.
class DNSFiltering : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString id READ id WRITE setId NOTIFY idChanged)
    Q_PROPERTY(QString caption READ caption NOTIFY captionChanged)
    Q_PROPERTY(Constants::DNSFiltering dnsFiltering READ dnsFiltering NOTIFY dnsFilteringChanged)

public:
    typedef QSharedPointer<DNSFiltering> Ptr;

    // Empty id and caption, filtering disabled.
    explicit DNSFiltering(QObject* parent = nullptr);
    DNSFiltering(QString caption, Constants::DNSFiltering dnsFiltering, QObject* parent = nullptr);

    QString id() const { return m_id; }
    QString caption() const { return m_caption; }
    Constants::DNSFiltering dnsFiltering() const { return m_dnsFiltering; }

    // Takes over the id.
    void update(const DNSFiltering& another);

signals:
    void idChanged(QString id);
    void captionChanged(QString caption);
    void dnsFilteringChanged(Constants::DNSFiltering dnsFiltering);

public slots:
    void setId(QString id);
    void setDnsFiltering(Constants::DNSFiltering dnsFiltering);

private:
    QString m_id;
    QString m_caption;
    Constants::DNSFiltering m_dnsFiltering = Constants::DNSFiltering_disabled;
};

class DNSFilteringModel : public StandartSimpleModel<DNSFiltering, DNSFiltering::Ptr, QString>
{
    Q_OBJECT
public:
    explicit DNSFilteringModel(QObject* parent = nullptr);

    QString idFromElem(const DNSFiltering::Ptr& elem) const override { return elem->id(); }
};
