#include "model/helpitem.h"

HelpItem::HelpItem(const QString& id, const QString& url, const QString& moreText, QObject* parent)
    : QObject(parent)
    , m_id(id)
    , m_url(url)
    , m_moreText(moreText)
{
}

void HelpItem::update(const HelpItem& another)
{
    setName(another.name());
    setUrl(another.url());
}

void HelpItem::setId(QString id)
{
    if (m_id == id)
        return;
    m_id = id;
    emit idChanged(m_id);
    emit nameChanged(m_id);
}

void HelpItem::setName(QString name)
{
    setId(name);
}

void HelpItem::setUrl(QString url)
{
    if (m_url == url)
        return;
    m_url = url;
    emit urlChanged(m_url);
}

void HelpItem::setMoreText(QString moreText)
{
    if (m_moreText == moreText)
        return;
    m_moreText = moreText;
    emit moreTextChanged(m_moreText);
}

HelpItemModel::HelpItemModel(QObject* parent)
    : StandartSimpleModel<HelpItem, HelpItem::Ptr, QString>(parent)
{
}

// Signals and string-based connections name the pointer by its typedef.
[[maybe_unused]] static const int kPtrMetaTypeId = qRegisterMetaType<HelpItem::Ptr>("HelpItem::Ptr");
