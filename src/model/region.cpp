#include "model/region.h"

Region::Region(QString id, QObject* parent)
    : QObject(parent)
    , m_id(id)
    , m_caption(id)
{
}

void Region::setCaption(QString caption)
{
    if (m_caption == caption)
        return;
    m_caption = caption;
    emit captionChanged(m_caption);
}

void Region::update(const Region& region)
{
    setCaption(region.caption());
}

// Signals and string-based connections name the pointer by its typedef.
[[maybe_unused]] static const int kPtrMetaTypeId = qRegisterMetaType<Region::Ptr>("Region::Ptr");
