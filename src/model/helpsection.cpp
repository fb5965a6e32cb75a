#include "model/helpsection.h"

HelpSection::HelpSection(const QString& name, const QString& comment, QObject* parent)
    : QObject(parent)
    , m_id(name)
    , m_comment(comment)
{
}

void HelpSection::update(const HelpSection& another)
{
    setName(another.name());
    setComment(another.comment());
}

void HelpSection::setId(QString id)
{
    if (m_id == id)
        return;
    m_id = id;
    emit idChanged(m_id);
    emit nameChanged(m_id);
}

void HelpSection::setName(QString name)
{
    setId(name);
}

void HelpSection::setComment(QString comment)
{
    if (m_comment == comment)
        return;
    m_comment = comment;
    emit commentChanged(m_comment);
}

HelpSectionModel::HelpSectionModel(QObject* parent)
    : StandartSimpleModel<HelpSection, HelpSection::Ptr, QString>(parent)
{
}

// Signals and string-based connections name the pointer by its typedef.
[[maybe_unused]] static const int kPtrMetaTypeId = qRegisterMetaType<HelpSection::Ptr>("HelpSection::Ptr");
