#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QRandomGenerator>
#include <QSet>
#include <QString>
#include <QVariant>

// The first element of `list` (in list order) for which `p` holds, or a null
// pointer.
template <typename ElemType, typename UnaryPredicate>
ElemType some(const QList<ElemType>& list, UnaryPredicate p)
{
    for (const ElemType& elem : list) {
        if (p(elem))
            return elem;
    }
    return ElemType();
}

// Every element of `list` for which `p` holds, in list order.
template <typename ElemType, typename UnaryPredicate>
QList<ElemType> someList(const QList<ElemType>& list, UnaryPredicate p)
{
    QList<ElemType> result;
    for (const ElemType& elem : list) {
        if (p(elem))
            result.append(elem);
    }
    return result;
}

// A flat list model of shared items for QML. Each row has two roles: 0 the
// shared pointer, 1 the plain pointer; subclasses name them. A refresh by
// merge() keeps the existing item objects of surviving keys, so bindings and
// selections held elsewhere stay valid.
//
// ItemType must offer update(const ItemType&), which takes over the fresher
// field values of an item with the same key.
template <class ItemType, class ItemTypePtr, class IdType>
class StandartSimpleModel : public QAbstractListModel
{
public:
    explicit StandartSimpleModel(QObject* parent = nullptr)
        : QAbstractListModel(parent)
    {
        registerTextConversion();
    }

    // Replaces all rows (model reset).
    virtual void setList(const QList<ItemTypePtr>& data)
    {
        const int before = count();
        beginResetModel();
        m_list.clear();
        m_list.append(data);
        endResetModel();
        if (count() != before)
            onCountChanged(count());
    }

    // Appends rows in one insertion; an empty list announces nothing.
    virtual void addList(const QList<ItemTypePtr>& data)
    {
        if (data.isEmpty())
            return;
        const int before = count();
        beginInsertRows(QModelIndex(), before, before + data.size() - 1);
        for (const ItemTypePtr& elem : data)
            m_list.append(elem);
        endInsertRows();
        if (count() != before)
            onCountChanged(count());
    }

    virtual QString role1Name() const { return QStringLiteral("itemPtr"); }
    virtual QString role2Name() const { return QStringLiteral("item"); }

    virtual IdType idFromElem(const ItemTypePtr& elem) const = 0;

    virtual void clear()
    {
        const int before = count();
        beginResetModel();
        m_list.clear();
        endResetModel();
        if (before != 0)
            onCountChanged(0);
    }

    // Refresh on the key: rows whose key is in `data` stay (same objects, same
    // relative order) and take the fresh values through update(); rows whose
    // key is gone are removed one notification per row; elements with new
    // keys are appended in one insertion, in the order of `data`. When several
    // rows share a key, the first in row order is the one updated.
    //
    // Both lookups go through hashes built once per merge, so a refresh of n
    // rows with m fresh elements costs O(n + m), not O(n * m).
    virtual void merge(const QList<ItemTypePtr>& data)
    {
        QHash<IdType, int> firstRowOfKey;
        firstRowOfKey.reserve(m_list.size());
        for (int row = 0; row < m_list.size(); ++row) {
            const IdType key = idFromElem(m_list.at(row));
            if (!firstRowOfKey.contains(key))
                firstRowOfKey.insert(key, row);
        }

        // Taken before any update(): the keys present before the merge.
        const QList<ItemTypePtr> rowsBefore = m_list;

        QSet<IdType> freshKeys;
        freshKeys.reserve(data.size());
        QList<ItemTypePtr> toAppend;
        for (const ItemTypePtr& fresh : data) {
            if (!fresh)
                continue;
            const IdType key = idFromElem(fresh);
            freshKeys.insert(key);
            const auto found = firstRowOfKey.constFind(key);
            if (found == firstRowOfKey.constEnd()) {
                toAppend.append(fresh);
                continue;
            }
            const ItemTypePtr existing = rowsBefore.at(found.value());
            if (existing != fresh)
                existing->update(*fresh);
        }

        QList<int> rowsToRemove;
        for (int row = 0; row < rowsBefore.size(); ++row) {
            if (!freshKeys.contains(idFromElem(rowsBefore.at(row))))
                rowsToRemove.append(row);
        }

        if (!rowsToRemove.isEmpty()) {
            const int before = count();
            for (int removed = 0; removed < rowsToRemove.size(); ++removed) {
                const ItemTypePtr elem = rowsBefore.at(rowsToRemove.at(removed));
                // Removals go in row order, so each earlier removal moved this
                // row up by one; the search is only needed when an update()
                // receiver changed the list meanwhile.
                int row = rowsToRemove.at(removed) - removed;
                if (row >= m_list.size() || m_list.at(row) != elem)
                    row = m_list.indexOf(elem);
                if (row < 0)
                    continue;
                beginRemoveRows(QModelIndex(), row, row);
                m_list.removeAt(row);
                endRemoveRows();
            }
            if (count() != before)
                onCountChanged(count());
        }

        if (!toAppend.isEmpty()) {
            const int before = count();
            beginInsertRows(QModelIndex(), before, before + toAppend.size() - 1);
            m_list.append(toAppend);
            endInsertRows();
            if (count() != before)
                onCountChanged(count());
        }
    }

    // Called after an operation changed the number of rows.
    virtual void onCountChanged(int count) { Q_UNUSED(count) }

    const QList<ItemTypePtr>& list() const { return m_list; }
    int count() const { return m_list.size(); }

    ItemTypePtr elem(int row) const
    {
        if (row < 0 || row >= m_list.size())
            return ItemTypePtr();
        return m_list.at(row);
    }

    ItemTypePtr firstElem() const { return elem(0); }

    // A random row, or null; the draw includes one value past the last row,
    // which gives null too.
    ItemTypePtr randomElem() const
    {
        if (m_list.isEmpty())
            return ItemTypePtr();
        const int r = int(QRandomGenerator::global()->bounded(quint32(m_list.size() + 1)));
        return elem(r);
    }

    // The first row in row order whose key equals `id`.
    QModelIndex findIndex(const IdType& id) const
    {
        for (int row = 0; row < m_list.size(); ++row) {
            if (idFromElem(m_list.at(row)) == id)
                return index(row, 0);
        }
        return QModelIndex();
    }

    ItemTypePtr find(const IdType& id) const
    {
        const QModelIndex found = findIndex(id);
        return found.isValid() ? elem(found.row()) : ItemTypePtr();
    }

    template <typename UnaryPredicate>
    ItemTypePtr some(UnaryPredicate p) const
    {
        return ::some(m_list, p);
    }

    template <typename UnaryPredicate>
    QList<ItemTypePtr> someList(UnaryPredicate p) const
    {
        return ::someList(m_list, p);
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        if (parent.isValid())
            return 0;
        return count();
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() < 0 || index.row() >= m_list.size())
            return QVariant();
        const ItemTypePtr& item = m_list.at(index.row());
        switch (role) {
        case 0:
            return QVariant::fromValue(item);
        case 1:
            return QVariant::fromValue(item.data());
        default:
            return QVariant();
        }
    }

    QHash<int, QByteArray> roleNames() const override
    {
        return { { 0, role1Name().toLatin1() }, { 1, role2Name().toLatin1() } };
    }

protected:
    QList<ItemTypePtr> m_list;

private:
    // Role 0 is Qt's display role, which views expect to read as text: the
    // shared pointer converts to the item's id (its class name when it has
    // no id property).
    static void registerTextConversion()
    {
        static const bool registered = QMetaType::registerConverter<ItemTypePtr, QString>([](const ItemTypePtr& item) {
            if (!item)
                return QString();
            const QVariant id = item->property("id");
            return id.isValid() ? id.toString() : QString::fromLatin1(item->metaObject()->className());
        });
        Q_UNUSED(registered)
    }
};
