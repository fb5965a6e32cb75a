#include "settingsoption.h"

#include "settings.h"

SettingOption::SettingOption(bool defaultValue, QString key, bool saveAsString, bool visible, bool enabled,
                             const QString& caption)
    : m_value(false)
    , m_visible(visible)
    , m_enabled(enabled)
    , m_key(std::move(key))
    , m_saveAsString(saveAsString)
    , m_defaultValue(defaultValue)
    , m_caption(caption)
    , m_haveStoredValue(false)
    , m_realOption(true)
{
    m_haveStoredValue = settings().valueInited(m_key);
    readValue();
}

SettingOption::SettingOption(bool value, bool realOption)
    : m_value(value)
    , m_visible(true)
    , m_enabled(true)
    , m_saveAsString(false)
    , m_defaultValue(false)
    , m_haveStoredValue(false)
    , m_realOption(realOption)
{
}

bool SettingOption::isBound() const
{
    return m_realOption && !m_key.isEmpty();
}

void SettingOption::readValue()
{
    if (!isBound())
        return;
    const QVariant stored = settings().value(m_key, m_defaultValue);
    m_value = m_saveAsString ? stored.toString() == QLatin1String("true") : stored.toBool();
}

bool SettingOption::value() const
{
    if (!isBound() || m_haveStoredValue)
        return m_value;
    return m_defaultValue;
}

void SettingOption::setValue(bool newValue)
{
    if (newValue == m_value)
        return;
    bool cancel = false;
    emit beforValueChanged(m_value, newValue, cancel);
    if (cancel)
        return;
    if (isBound()) {
        if (m_saveAsString)
            settings().setValue(m_key, newValue ? QStringLiteral("true") : QStringLiteral("false"));
        else
            settings().setValue(m_key, newValue);
    }
    m_value = newValue;
    // Receivers of valueChanged read value(): it must already give the new
    // value, also for an option that followed its default until now.
    const bool becameStored = isBound() && !m_haveStoredValue;
    if (becameStored)
        m_haveStoredValue = true;
    emit valueChanged(newValue);
    if (becameStored)
        emit haveStoredValueChanged(true);
}

void SettingOption::setDefaultValue(bool defaultValue)
{
    if (m_defaultValue == defaultValue)
        return;
    const bool before = value();
    m_defaultValue = defaultValue;
    emit defaultValueChanged(defaultValue);
    if (value() != before)
        emit valueChanged(value());
}

void SettingOption::setVisible(bool visible)
{
    if (m_visible == visible)
        return;
    m_visible = visible;
    emit visibleChanged(visible);
}

void SettingOption::setEnabled(bool enabled)
{
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    emit enabledChanged(enabled);
}

void SettingOption::setSaveAsString(bool saveAsString)
{
    if (m_saveAsString == saveAsString)
        return;
    m_saveAsString = saveAsString;
    emit saveAsStringChanged(saveAsString);
}

void SettingOption::setCaption(QString caption)
{
    if (m_caption == caption)
        return;
    m_caption = caption;
    emit captionChanged(m_caption);
}

void SettingOption::setHaveStoredValue(bool haveStoredValue)
{
    if (m_haveStoredValue == haveStoredValue)
        return;
    m_haveStoredValue = haveStoredValue;
    emit haveStoredValueChanged(haveStoredValue);
}

void SettingOption::setDescription(QString description)
{
    if (m_description == description)
        return;
    m_description = description;
    emit descriptionChanged(m_description);
}

void SettingOption::update(const SettingOption& option)
{
    setValue(option.value());
    setVisible(option.visible());
    setEnabled(option.enabled());
    setSaveAsString(option.saveAsString());
    setCaption(option.caption());
    setHaveStoredValue(option.haveStoredValue());
    setDefaultValue(option.defaultValue());
    setDescription(option.description());
}
