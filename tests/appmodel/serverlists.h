#pragma once

// Server lists for the model tests, in the service's formats, and how the
// model receives them.

#include "getservers.h"
#include "model/model.h"

#include <QMap>
#include <QStringList>
#include <QtTest>

#include <memory>

namespace ServerLists {

// A model that is stopped before it goes.
struct ModelDeleter
{
    void operator()(Model* model) const
    {
        model->stop();
        delete model;
    }
};
using ModelHolder = std::unique_ptr<Model, ModelDeleter>;

// Regions: Europe (de, gb, nl3), America (us), Asia (jp, jpx).
inline QByteArray regular(const QStringList& without = {}, const QByteArray& extra = {})
{
    const QList<QPair<QString, QByteArray>> rows = {
        { "de", R"j({"l": "Frankfurt", "h": "127.0.0.1", "c": "Germany", "n": "de", "z": "Europe"})j" },
        { "gb", R"j({"l": "London", "h": "127.0.0.1", "c": "United Kingdom", "n": "gb", "z": "Europe"})j" },
        { "nl3", R"j({"l": "Amsterdam", "h": "127.0.0.1", "c": "Netherlands", "n": "nl3", "z": "Europe"})j" },
        { "us", R"j({"l": "New York", "h": "127.0.0.1", "c": "USA", "n": "us", "z": "America"})j" },
        { "jp", R"j({"l": "Tokyo", "h": "127.0.0.1", "c": "Japan", "n": "jp", "z": "Asia"})j" },
        { "jpx", R"j({"l": "Osaka (openvpn xor only)", "h": "127.0.0.1", "c": "Japan", "n": "jpx", "z": "Asia"})j" },
    };
    QByteArrayList entries;
    for (const auto& row : rows) {
        if (!without.contains(row.first))
            entries << row.second;
    }
    if (!extra.isEmpty())
        entries << extra;
    return "[" + entries.join(",\n") + "]";
}

// IKE locations: ike-de (Europe), ike-us (America).
inline QByteArray ike()
{
    return R"j({"VPNs": [
        {"l": "Frankfurt", "c": "Germany", "r": "de.ike", "n": "ike-de", "h": "127.0.0.1", "z": "Europe"},
        {"l": "New York", "c": "USA", "r": "us.ike", "n": "ike-us", "h": "127.0.0.1", "z": "America"}]})j";
}

// Parses both lists into fresh objects, as a fetch does, and hands them to
// the model the way the list service's success handler does.
inline void apply(Model& model, const QByteArray& regularText = regular(), const QByteArray& ikeText = ike())
{
    QMap<QString, Location::Ptr> map;
    QList<Region::Ptr> regions;
    locationStrToList(QString::fromUtf8(regularText), map, regions);
    ikeLocationStrToList(QString::fromUtf8(ikeText), map, regions);
    const QList<Location::Ptr> locations = map.values();
    QVERIFY(QMetaObject::invokeMethod(&model, "onLocationsReceivedApply", Qt::DirectConnection,
                                      Q_ARG(QList<Location::Ptr>, locations), Q_ARG(QList<Region::Ptr>, regions)));
}

inline QStringList codes(const LocationModel* list)
{
    QStringList result;
    for (const Location::Ptr& location : list->list())
        result << location->code();
    return result;
}

inline ProxyLocation::Ptr proxy(const QString& id, const QString& caption)
{
    return ProxyLocation::Ptr(new ProxyLocation(id, caption, QString(), QString(), QString(), QString(), QString()));
}

// A model with its DNS-filtering choices and the two fixed proxy entries.
inline ModelHolder makeModel()
{
    ModelHolder model(new Model(nullptr));
    model->dnsFilteringUpdate();
    model->proxyLocations()->setList({ proxy("1", "None (disabled)"), proxy("2", "Your own local SOCKS5 proxy") });
    return model;
}

} // namespace ServerLists
