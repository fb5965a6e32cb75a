#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QString>

// One boolean preference: a value bound to a settings key (or free-standing,
// kept in memory only), with the texts and flags the user interface shows.
// A direct receiver of beforValueChanged can veto a change.
class SettingOption : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool value READ value WRITE setValue NOTIFY valueChanged)
    Q_PROPERTY(bool defaultValue READ defaultValue WRITE setDefaultValue NOTIFY defaultValueChanged)
    Q_PROPERTY(QString key READ key CONSTANT)
    Q_PROPERTY(bool visible READ visible WRITE setVisible NOTIFY visibleChanged)
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY enabledChanged)
    Q_PROPERTY(bool saveAsString READ saveAsString WRITE setSaveAsString NOTIFY saveAsStringChanged)
    Q_PROPERTY(QString caption READ caption WRITE setCaption NOTIFY captionChanged)
    Q_PROPERTY(bool haveStoredValue READ haveStoredValue NOTIFY haveStoredValueChanged)
    Q_PROPERTY(QString description READ description WRITE setDescription NOTIFY descriptionChanged)

public:
    typedef QSharedPointer<SettingOption> Ptr;

    SettingOption(bool defaultValue, QString key, bool saveAsString, bool visible, bool enabled,
                  const QString& caption);
    SettingOption(bool value, bool realOption);

    void readValue();

    bool value() const;
    bool defaultValue() const { return m_defaultValue; }
    QString key() const { return m_key; }
    bool visible() const { return m_visible; }
    bool enabled() const { return m_enabled; }
    bool saveAsString() const { return m_saveAsString; }
    QString caption() const { return m_caption; }
    bool haveStoredValue() const { return m_haveStoredValue; }
    QString description() const { return m_description; }
    bool realOption() const { return m_realOption; }

    void update(const SettingOption& option);

signals:
    void beforValueChanged(bool oldValue, bool newValue, bool& cancel);
    void valueChanged(bool value);
    void visibleChanged(bool visible);
    void enabledChanged(bool enabled);
    void saveAsStringChanged(bool saveAsString);
    void captionChanged(QString value);
    void haveStoredValueChanged(bool haveStoredValue);
    void defaultValueChanged(bool defaultValue);
    void descriptionChanged(QString description);

public slots:
    void setValue(bool newValue);
    void setVisible(bool visible);
    void setEnabled(bool enabled);
    void setSaveAsString(bool saveAsString);
    void setCaption(QString caption);
    void setHaveStoredValue(bool haveStoredValue);
    void setDefaultValue(bool defaultValue);
    void setDescription(QString description);

private:
    // Bound to a settings key; a free-standing option never touches the store.
    bool isBound() const;

    bool m_value;
    bool m_visible;
    bool m_enabled;
    QString m_key;
    bool m_saveAsString;
    bool m_defaultValue;
    QString m_caption;
    bool m_haveStoredValue;
    QString m_description;
    bool m_realOption;
};
