#include "model/dnsfiltering.h"

DNSFiltering::DNSFiltering(QObject* parent)
    : QObject(parent)
{
}

DNSFiltering::DNSFiltering(QString caption, Constants::DNSFiltering dnsFiltering, QObject* parent)
    : QObject(parent)
    , m_id(QString::number(int(dnsFiltering)))
    , m_caption(caption)
    , m_dnsFiltering(dnsFiltering)
{
}

void DNSFiltering::update(const DNSFiltering& another)
{
    setId(another.id());
}

void DNSFiltering::setId(QString id)
{
    if (m_id == id)
        return;
    m_id = id;
    emit idChanged(m_id);
}

void DNSFiltering::setDnsFiltering(Constants::DNSFiltering dnsFiltering)
{
    if (m_dnsFiltering == dnsFiltering)
        return;
    m_dnsFiltering = dnsFiltering;
    emit dnsFilteringChanged(m_dnsFiltering);
}

DNSFilteringModel::DNSFilteringModel(QObject* parent)
    : StandartSimpleModel<DNSFiltering, DNSFiltering::Ptr, QString>(parent)
{
}

// Signals and string-based connections name the pointer by its typedef.
[[maybe_unused]] static const int kPtrMetaTypeId = qRegisterMetaType<DNSFiltering::Ptr>("DNSFiltering::Ptr");
[[maybe_unused]] static const int kDnsFilteringMetaTypeId = qRegisterMetaType<Constants::DNSFiltering>(
    "Constants::DNSFiltering");
