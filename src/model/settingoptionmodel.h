#pragma once

#include "model/standartsimplemodel.h"
#include "settingsoption.h"

// A list of boolean preference options, keyed by their settings keys.
class SettingOptionModel : public StandartSimpleModel<SettingOption, SettingOption::Ptr, QString>
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY onCountChangedLocal)

public:
    explicit SettingOptionModel(QObject* parent = nullptr);

    QString idFromElem(const SettingOption::Ptr& elem) const override { return elem->key(); }
    void onCountChanged(int count) override;

signals:
    void onCountChangedLocal(int count);
};
