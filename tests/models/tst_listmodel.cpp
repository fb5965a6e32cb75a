// The list-model template, exercised through LocationModel (text keys) and
// ProtocolModel (enumeration keys). Qt's model tester stays attached to the
// model for the whole of every test.

#include "model/location.h"
#include "model/locationmodel.h"
#include "model/protocol.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>

namespace {

Location::Ptr makeLocation(const QString& code, const QString& caption = QString())
{
    Location::Ptr location(new Location(QString()));
    location->setCode(code);
    location->setCaption(caption.isEmpty() ? code : caption);
    return location;
}

QList<Location::Ptr> makeLocations(const QStringList& codes)
{
    QList<Location::Ptr> list;
    for (const QString& code : codes)
        list.append(makeLocation(code));
    return list;
}

QStringList codesOf(const LocationModel& model)
{
    QStringList codes;
    for (const Location::Ptr& location : model.list())
        codes.append(location->code());
    return codes;
}

// Records every structural notification and count change, in order.
class Recorder : public QObject
{
public:
    explicit Recorder(LocationModel* model)
    {
        connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
                [this](const QModelIndex&, int first, int last) { add("remove", first, last); });
        connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this,
                [this](const QModelIndex&, int first, int last) { add("insert", first, last); });
        connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { events << "reset"; });
        connect(model, &QAbstractItemModel::dataChanged, this, [this] { events << "dataChanged"; });
        connect(model, &LocationModel::onCountChangedLocal, this,
                [this](int count) { events << QStringLiteral("count %1").arg(count); });
    }
    QStringList events;

private:
    void add(const char* what, int first, int last)
    {
        events << QStringLiteral("%1 %2-%3").arg(QLatin1String(what)).arg(first).arg(last);
    }
};

} // namespace

class TestListModel : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_model.reset(new LocationModel(nullptr));
        m_tester.reset(
            new QAbstractItemModelTester(m_model.data(), QAbstractItemModelTester::FailureReportingMode::QtTest));
        m_recorder.reset(new Recorder(m_model.data()));
    }

    void cleanup()
    {
        m_recorder.reset();
        m_tester.reset();
        m_model.reset();
    }

    void mergeIntoEmptyAppendsInOneInsertion()
    {
        m_model->merge(makeLocations({ "de", "fr", "it" }));
        QCOMPARE(m_recorder->events, QStringList({ "insert 0-2", "count 3" }));
        QCOMPARE(codesOf(*m_model), QStringList({ "de", "fr", "it" }));
    }

    void mergeOfSameKeysUpdatesInPlace()
    {
        const QList<Location::Ptr> original = makeLocations({ "de", "fr", "it" });
        m_model->setList(original);
        m_recorder->events.clear();

        QList<Location::Ptr> fresh = { makeLocation("it", "Italy"), makeLocation("de", "Germany"),
                                       makeLocation("fr", "France") };
        QSignalSpy captionSpy(original.at(1).data(), &Location::captionChanged);
        m_model->merge(fresh);

        QCOMPARE(m_recorder->events, QStringList());
        QCOMPARE(m_model->list(), original);
        QCOMPARE(original.at(1)->caption(), QStringLiteral("France"));
        QCOMPARE(captionSpy.count(), 1);
        QVERIFY(!m_model->list().contains(fresh.at(0)));
    }

    void mergeOfEmptyListRemovesRowByRow()
    {
        m_model->setList(makeLocations({ "de", "fr", "it" }));
        m_recorder->events.clear();
        m_model->merge({});
        QCOMPARE(m_recorder->events, QStringList({ "remove 0-0", "remove 0-0", "remove 0-0", "count 0" }));
        QCOMPARE(m_model->count(), 0);
    }

    void mergeRemovesBeforeAppending()
    {
        const QList<Location::Ptr> original = makeLocations({ "de", "fr", "it", "nl" });
        m_model->setList(original);
        m_recorder->events.clear();

        const QList<Location::Ptr> fresh = makeLocations({ "nl", "se", "de", "it" });
        m_model->merge(fresh);

        QCOMPARE(m_recorder->events, QStringList({ "remove 1-1", "count 3", "insert 3-3", "count 4" }));
        QCOMPARE(codesOf(*m_model), QStringList({ "de", "it", "nl", "se" }));
        QCOMPARE(m_model->elem(0), original.at(0));
        QCOMPARE(m_model->elem(2), original.at(3));
        QCOMPARE(m_model->elem(3), fresh.at(1));
    }

    void mergeWithDuplicateKeys()
    {
        // Two existing rows share a key: only the first takes the fresh values
        // and both stay.
        const QList<Location::Ptr> original = makeLocations({ "de", "fr", "de" });
        m_model->setList(original);
        m_recorder->events.clear();
        m_model->merge({ makeLocation("de", "first"), makeLocation("fr"), makeLocation("de", "second"),
                         makeLocation("pl", "new 1"), makeLocation("pl", "new 2") });

        QCOMPARE(original.at(0)->caption(), QStringLiteral("second"));
        QCOMPARE(original.at(2)->caption(), QStringLiteral("de"));
        QCOMPARE(m_model->find("de"), original.at(0));
        QCOMPARE(m_model->findIndex("de").row(), 0);
        // Keys new to the model are all appended, duplicates included.
        QCOMPARE(codesOf(*m_model), QStringList({ "de", "fr", "de", "pl", "pl" }));
        QCOMPARE(m_recorder->events, QStringList({ "insert 3-4", "count 5" }));
    }

    void mergeMatchesReferenceOnRandomLists()
    {
        QRandomGenerator random(20240611);
        for (int round = 0; round < 200; ++round) {
            QStringList before;
            for (int i = random.bounded(12); i > 0; --i)
                before << QString::number(random.bounded(15));
            QStringList fresh;
            for (int i = random.bounded(12); i > 0; --i)
                fresh << QString::number(random.bounded(15));

            const QList<Location::Ptr> original = makeLocations(before);
            m_model->setList(original);
            m_recorder->events.clear();
            m_model->merge(makeLocations(fresh));

            // Survivors keep their objects and order, new keys follow in fresh
            // order.
            QList<Location::Ptr> expected;
            for (const Location::Ptr& location : original) {
                if (fresh.contains(location->code()))
                    expected << location;
            }
            QStringList expectedCodes;
            for (const Location::Ptr& location : expected)
                expectedCodes << location->code();
            for (const QString& code : fresh) {
                if (!before.contains(code))
                    expectedCodes << code;
            }
            QCOMPARE(m_model->list().mid(0, expected.size()), expected);
            QCOMPARE(codesOf(*m_model), expectedCodes);

            const int removed = original.size() - expected.size();
            QCOMPARE(m_recorder->events.filter("remove").size(), removed);
            QVERIFY(m_recorder->events.filter("insert").size() <= 1);
        }
    }

    void setListAndClearReportCountOnlyWhenChanged()
    {
        m_model->setList(makeLocations({ "de", "fr" }));
        QCOMPARE(m_recorder->events, QStringList({ "reset", "count 2" }));
        m_recorder->events.clear();
        m_model->setList(makeLocations({ "it", "nl" }));
        QCOMPARE(m_recorder->events, QStringList({ "reset" }));
        m_recorder->events.clear();
        m_model->clear();
        QCOMPARE(m_recorder->events, QStringList({ "reset", "count 0" }));
        m_recorder->events.clear();
        m_model->clear();
        QCOMPARE(m_recorder->events, QStringList({ "reset" }));
    }

    void addListAppends()
    {
        m_model->setList(makeLocations({ "de" }));
        m_recorder->events.clear();
        m_model->addList(makeLocations({ "fr", "it" }));
        QCOMPARE(m_recorder->events, QStringList({ "insert 1-2", "count 3" }));
        m_recorder->events.clear();
        m_model->addList({});
        QCOMPARE(m_recorder->events, QStringList());
    }

    void readAccessAtTheEdges()
    {
        QVERIFY(m_model->firstElem().isNull());
        QVERIFY(m_model->randomElem().isNull());
        const QList<Location::Ptr> list = makeLocations({ "de", "fr", "it" });
        m_model->setList(list);
        QVERIFY(m_model->elem(-1).isNull());
        QVERIFY(m_model->elem(3).isNull());
        QCOMPARE(m_model->firstElem(), list.at(0));
        QVERIFY(m_model->find("xx").isNull());
        QVERIFY(!m_model->findIndex("xx").isValid());
        QCOMPARE(m_model->some([](const Location::Ptr& l) { return l->code() > "e"; }), list.at(1));
        QCOMPARE(m_model->someList([](const Location::Ptr& l) { return l->code() > "e"; }), list.mid(1));

        // The draw covers every row and one value past the end (null).
        QSet<Location*> drawn;
        for (int i = 0; i < 400; ++i)
            drawn.insert(m_model->randomElem().data());
        QCOMPARE(drawn, QSet<Location*>({ nullptr, list.at(0).data(), list.at(1).data(), list.at(2).data() }));
    }

    void dataAndRoles()
    {
        const QList<Location::Ptr> list = makeLocations({ "de", "fr" });
        m_model->setList(list);
        const QHash<int, QByteArray> roles = m_model->roleNames();
        QCOMPARE(roles, (QHash<int, QByteArray>({ { 0, "location" }, { 1, "locationRaw" } })));

        const QModelIndex second = m_model->index(1, 0);
        QCOMPARE(m_model->data(second, 0).value<Location::Ptr>(), list.at(1));
        QCOMPARE(m_model->data(second, 1).value<Location*>(), list.at(1).data());
        // Views reading role 0 as display text get the item's id.
        list.at(1)->setId("France - Paris");
        QCOMPARE(m_model->data(second, 0).toString(), QStringLiteral("France - Paris"));
        QVERIFY(!m_model->data(second, 2).isValid());
        QVERIFY(!m_model->data(QModelIndex(), 0).isValid());
        QCOMPARE(m_model->rowCount(second), 0);
        QCOMPARE(m_model->property("count").toInt(), 2);
    }

    void protocolModelKeyedByType()
    {
        ProtocolModel protocols;
        QAbstractItemModelTester tester(&protocols, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const Protocol::Ptr ecc(new Protocol(Constants::ProtocolType_OPENVPN_ECC));
        protocols.setList({ Protocol::Ptr(new Protocol(Constants::ProtocolType_IKEv2)), ecc });
        QCOMPARE(protocols.find(Constants::ProtocolType_OPENVPN_ECC), ecc);
        QVERIFY(protocols.find(Constants::ProtocolType_PPTP).isNull());

        const Protocol::Ptr fresh(new Protocol(Constants::ProtocolType_OPENVPN_ECC));
        fresh->setName("renamed");
        fresh->setLocationType(Constants::LocationType_Ike);
        protocols.merge({ fresh });
        QCOMPARE(protocols.list(), QList<Protocol::Ptr>({ ecc }));
        QCOMPARE(ecc->name(), QStringLiteral("renamed"));
        QCOMPARE(ecc->locationType(), Constants::LocationType_Ike);
        QCOMPARE(protocols.roleNames().value(0), QByteArray("protocol"));
    }

private:
    QScopedPointer<LocationModel> m_model;
    QScopedPointer<QAbstractItemModelTester> m_tester;
    QScopedPointer<Recorder> m_recorder;
};

OSTREL_TEST_MAIN(TestListModel)
#include "tst_listmodel.moc"
