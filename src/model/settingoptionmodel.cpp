#include "model/settingoptionmodel.h"

SettingOptionModel::SettingOptionModel(QObject* parent)
    : StandartSimpleModel<SettingOption, SettingOption::Ptr, QString>(parent)
{
}

void SettingOptionModel::onCountChanged(int count)
{
    emit onCountChangedLocal(count);
}
