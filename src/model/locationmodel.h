#pragma once

#include "model/constants.h"
#include "model/location.h"
#include "model/region.h"
#include "model/standartsimplemodel.h"

#include <QSortFilterProxyModel>

// All server locations (or a filtered selection of them), keyed by code.
class LocationModel : public StandartSimpleModel<Location, Location::Ptr, QString>
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY onCountChangedLocal)

public:
    explicit LocationModel(QObject* parent = nullptr);

    QString idFromElem(const Location::Ptr& elem) const override { return elem->code(); }
    QString role1Name() const override { return QStringLiteral("location"); }
    QString role2Name() const override { return QStringLiteral("locationRaw"); }
    void onCountChanged(int count) override;

    // The location with this code; failing that, the first one (in row
    // order) whose display id is `id`; else null. merge() keeps matching by
    // code alone.
    Location::Ptr find(const QString& id) const;

    // In row order, the locations of `locationType`; with a region, only
    // those that hold that very Region object.
    QList<Location::Ptr> getFilteredList(Constants::LocationType locationType, Region::Ptr region) const;

signals:
    void onCountChangedLocal(int count);
};

class RegionModel : public StandartSimpleModel<Region, Region::Ptr, QString>
{
    Q_OBJECT
public:
    explicit RegionModel(QObject* parent = nullptr);

    QString idFromElem(const Region::Ptr& elem) const override { return elem->id(); }
    QString role1Name() const override { return QStringLiteral("region"); }
    QString role2Name() const override { return QStringLiteral("regionRaw"); }

public slots:
    int getCount() const { return count(); }
};

// The favourite locations of a LocationModel. It does not watch the
// favourite flags: whoever changes them calls invalidate().
class LocationFavoriteModel : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    explicit LocationFavoriteModel(QObject* parent = nullptr);

protected:
    bool filterAcceptsRow(int source_row, const QModelIndex& source_parent) const override;
};
