// Merges a fresh server list into a filled LocationModel and prints the
// times: the model's own merge (hashed keys) beside a merge that looks every
// key up by scanning the rows, with the same notifications and results.

#include "model/location.h"
#include "model/locationmodel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTextStream>

#include <algorithm>

namespace {

// The merge with plain row scans: each fresh element searched among the
// rows, each row searched among the fresh elements.
class ScanningLocationModel : public LocationModel
{
public:
    void merge(const QList<Location::Ptr>& data) override
    {
        QList<Location::Ptr> toAppend;
        for (const Location::Ptr& fresh : data) {
            const Location::Ptr existing = StandartSimpleModel::find(idFromElem(fresh));
            if (existing)
                existing->update(*fresh);
            else
                toAppend << fresh;
        }
        QList<Location::Ptr> toRemove;
        for (const Location::Ptr& row : qAsConst(m_list)) {
            const QString key = idFromElem(row);
            if (!::some(data, [this, &key](const Location::Ptr& fresh) { return idFromElem(fresh) == key; }))
                toRemove << row;
        }
        const int before = count();
        for (const Location::Ptr& row : qAsConst(toRemove)) {
            const int index = m_list.indexOf(row);
            beginRemoveRows(QModelIndex(), index, index);
            m_list.removeAt(index);
            endRemoveRows();
        }
        if (count() != before)
            onCountChanged(count());
        if (!toAppend.isEmpty()) {
            const int c = count();
            beginInsertRows(QModelIndex(), c, c + toAppend.size() - 1);
            m_list.append(toAppend);
            endInsertRows();
            onCountChanged(count());
        }
    }
};

Location::Ptr makeLocation(const QString& code, const QString& caption)
{
    Location::Ptr location(new Location(QString()));
    location->setCode(code);
    location->setCountry(QStringLiteral("Country"));
    location->setCity(caption);
    location->setCaption(QStringLiteral("Country - ") + caption);
    location->setHost(QStringLiteral("10.0.0.1"));
    location->initImages();
    location->setId(location->makeId());
    return location;
}

QString codeOf(int i)
{
    return QStringLiteral("xx%1").arg(i, 6, 10, QLatin1Char('0'));
}

QList<Location::Ptr> initialList(int n)
{
    QList<Location::Ptr> list;
    for (int i = 0; i < n; ++i)
        list << makeLocation(codeOf(i), QStringLiteral("City %1").arg(i));
    return list;
}

// Same keys in another order, 1% with a new caption, 1% gone, 1% new.
QList<Location::Ptr> freshList(int n, QRandomGenerator& random)
{
    const int few = std::max(1, n / 100);
    QList<Location::Ptr> list;
    for (int i = few; i < n; ++i)
        list << makeLocation(codeOf(i), QStringLiteral("City %1%2").arg(i).arg(i < 2 * few ? "'" : ""));
    for (int i = n; i < n + few; ++i)
        list << makeLocation(codeOf(i), QStringLiteral("City %1").arg(i));
    std::shuffle(list.begin(), list.end(), random);
    return list;
}

QStringList codes(const LocationModel& model)
{
    QStringList result;
    for (const Location::Ptr& location : model.list())
        result << location->code();
    return result;
}

// Best of `rounds` merges into a freshly filled model, in milliseconds.
double timeMerge(LocationModel& model, int n, int rounds, QStringList& resultCodes)
{
    double best = -1;
    for (int round = 0; round < rounds; ++round) {
        QRandomGenerator random(quint32(n + round));
        model.setList(initialList(n));
        const QList<Location::Ptr> fresh = freshList(n, random);
        QElapsedTimer timer;
        timer.start();
        model.merge(fresh);
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        if (best < 0 || ms < best)
            best = ms;
        if (round == 0)
            resultCodes = codes(model);
    }
    return best;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    out << "LocationModel::merge of a reordered list (1% changed, 1% gone, 1% new), best of 3\n";
    out << qSetFieldWidth(8) << "rows" << qSetFieldWidth(16) << "hashed ms"
        << "row-scan ms" << qSetFieldWidth(0) << "  same result\n";
    for (const int n : { 1000, 5000, 20000 }) {
        LocationModel hashed;
        ScanningLocationModel scanning;
        QStringList hashedCodes;
        QStringList scanningCodes;
        const double hashedMs = timeMerge(hashed, n, 3, hashedCodes);
        const double scanningMs = timeMerge(scanning, n, n > 5000 ? 1 : 3, scanningCodes);
        out << qSetFieldWidth(8) << n << qSetFieldWidth(16) << QString::number(hashedMs, 'f', 2)
            << QString::number(scanningMs, 'f', 2) << qSetFieldWidth(0) << "  "
            << (hashedCodes == scanningCodes ? "yes" : "NO") << "\n";
        out.flush();
    }
    return 0;
}
