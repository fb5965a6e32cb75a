#include "model/locationmodel.h"

LocationModel::LocationModel(QObject* parent)
    : StandartSimpleModel<Location, Location::Ptr, QString>(parent)
{
}

void LocationModel::onCountChanged(int count)
{
    emit onCountChangedLocal(count);
}

Location::Ptr LocationModel::find(const QString& id) const
{
    const Location::Ptr byCode = StandartSimpleModel::find(id);
    if (byCode)
        return byCode;
    return some([&id](const Location::Ptr& location) { return location->id() == id; });
}

QList<Location::Ptr> LocationModel::getFilteredList(Constants::LocationType locationType, Region::Ptr region) const
{
    return someList([locationType, &region](const Location::Ptr& location) {
        return location->locationType() == locationType && (!region || location->region() == region);
    });
}

RegionModel::RegionModel(QObject* parent)
    : StandartSimpleModel<Region, Region::Ptr, QString>(parent)
{
}

LocationFavoriteModel::LocationFavoriteModel(QObject* parent)
    : QSortFilterProxyModel(parent)
{
}

bool LocationFavoriteModel::filterAcceptsRow(int source_row, const QModelIndex& source_parent) const
{
    Q_UNUSED(source_parent)
    const auto* locations = qobject_cast<const LocationModel*>(sourceModel());
    Q_ASSERT_X(locations, Q_FUNC_INFO, "the source model must be a LocationModel");
    if (!locations)
        return false;
    const Location::Ptr location = locations->elem(source_row);
    return location && location->favorite();
}
