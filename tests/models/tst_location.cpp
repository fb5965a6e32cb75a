// Locations, regions, their models and the favourites filter.

#include "model/location.h"
#include "model/locationmodel.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

Location::Ptr makeLocation(const QString& code, Region::Ptr region = Region::Ptr(),
                           Constants::LocationType type = Constants::LocationType_Common)
{
    Location::Ptr location(new Location(QString()));
    location->setCode(code);
    location->setCaption(code.toUpper());
    location->setLocationType(type);
    location->setRegion(region);
    location->setId(location->makeId());
    return location;
}

// Exposes the filter so that rows past the source's end can be asked for.
class FavoriteFilter : public LocationFavoriteModel
{
public:
    using LocationFavoriteModel::filterAcceptsRow;
};

} // namespace

class TestLocation : public QObject
{
    Q_OBJECT

private slots:
    void countryCodes_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("letters and digit") << "de1"
                                           << "de"
                                           << "";
        QTest::newRow("four letters") << "deat"
                                      << "de"
                                      << "at";
        QTest::newRow("digit first") << "1de"
                                     << ""
                                     << "";
        QTest::newRow("one character") << "d"
                                       << ""
                                       << "";
        QTest::newRow("digit in fourth place") << "deat2"
                                               << "de"
                                               << "at";
        QTest::newRow("digit in third place") << "de2t"
                                              << "de"
                                              << "";
        QTest::newRow("hyphen counts as letter") << "de-a"
                                                 << "de"
                                                 << "-a";
    }

    void countryCodes()
    {
        QFETCH(QString, code);
        QFETCH(QString, first);
        QFETCH(QString, second);
        Location location("x");
        location.setCode(code);
        QCOMPARE(location.firstCountryCode(), first);
        QCOMPARE(location.secondCountryCode(), second);
    }

    void flagsLoadFromCompiledInImages()
    {
        QCOMPARE(Location::flagResourcePath("de"), QStringLiteral(":/Images/flags/de.png"));

        Location location("x");
        QSignalSpy image1Spy(&location, &Location::image1Changed);
        QSignalSpy icon1Spy(&location, &Location::icon1Changed);
        location.setCode("qxqz");
        location.initImages();
        QCOMPARE(location.image1().size(), QSize(4, 3));
        QCOMPARE(location.image2().size(), QSize(2, 5));
        QCOMPARE(location.icon1().availableSizes().value(0), QSize(4, 3));
        QVERIFY(image1Spy.isEmpty());
        QVERIFY(icon1Spy.isEmpty());

        // A new code loads new flags; a code without a second pair gives none.
        location.setCode("qz1");
        location.initImages();
        QCOMPARE(location.image1().size(), QSize(2, 5));
        QCOMPARE(location.icon1().availableSizes().value(0), QSize(2, 5));
        QVERIFY(location.image2().isNull());
        QVERIFY(location.icon2().isNull());
    }

    void makeId_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("regionCaption");
        QTest::addColumn<QString>("id");
        QTest::newRow("ike") << int(Constants::LocationType_Ike) << "Europe"
                             << "[IKE]Germany - Frankfurt";
        QTest::newRow("with region") << int(Constants::LocationType_Common) << "Europe"
                                     << "Germany - Frankfurt - Europe";
        QTest::newRow("no region") << int(Constants::LocationType_Common) << ""
                                   << "Germany - Frankfurt";
    }

    void makeId()
    {
        QFETCH(int, type);
        QFETCH(QString, regionCaption);
        QFETCH(QString, id);
        Location location("");
        location.setLocationType(Constants::LocationType(type));
        location.setCountry("Germany");
        location.setCity("Frankfurt");
        location.setCaption("Germany - Frankfurt");
        if (!regionCaption.isEmpty())
            location.setRegion(Region::Ptr(new Region(regionCaption)));
        QCOMPARE(location.makeId(), id);
    }

    void favoriteTexts_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("portId");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("saved");
        QTest::newRow("port only") << 0 << "TCP-443"
                                   << "TCP-443"
                                   << "de|UNKNOWN|TCP-443";
        QTest::newRow("protocol only") << 1 << ""
                                       << "OpenVPN ECC"
                                       << "de|OpenVPN ECC|";
        QTest::newRow("both") << 4 << "UDP-1993"
                              << "OpenVPN 256-bit - UDP-1993"
                              << "de|OpenVPN 256-bit|UDP-1993";
        QTest::newRow("neither") << 0 << ""
                                 << ""
                                 << "de";
    }

    void favoriteTexts()
    {
        QFETCH(int, type);
        QFETCH(QString, portId);
        QFETCH(QString, display);
        QFETCH(QString, saved);
        Location location("x");
        location.setCode("de");
        location.setFavoriteProtocolType(Constants::ProtocolType(type));
        location.setFavoritePortId(portId);
        QCOMPARE(location.favoriteProtocolAndPortString(), display);
        QCOMPARE(location.saveToString(), saved);

        QString code = "untouched";
        auto parsedType = Constants::ProtocolType_PPTP;
        QString parsedPort = "untouched";
        QVERIFY(Location::parseFromString(saved, code, parsedType, parsedPort));
        QCOMPARE(code, QStringLiteral("de"));
        if (saved.contains('|')) {
            QCOMPARE(int(parsedType), type);
            QCOMPARE(parsedPort, portId);
        } else {
            QCOMPARE(parsedType, Constants::ProtocolType_PPTP);
            QCOMPARE(parsedPort, QStringLiteral("untouched"));
        }
    }

    void parseRejectsEmptyCode()
    {
        QString code;
        auto type = Constants::ProtocolType_UNKNOWN;
        QString port;
        QVERIFY(!Location::parseFromString("|OpenVPN ECC|UDP-1993", code, type, port));
        QVERIFY(!Location::parseFromString("", code, type, port));
        QVERIFY(Location::parseFromString("  nl  ", code, type, port));
        QCOMPARE(code, QStringLiteral("nl"));
        QVERIFY(Location::parseFromString(" de | openvpn xor | TCP-443 ", code, type, port));
        QCOMPARE(type, Constants::ProtocolType_OPENVPN_XOR);
        QCOMPARE(port, QStringLiteral("TCP-443"));
    }

    void updateKeepsIdLatencyAndFavorite()
    {
        const Region::Ptr region(new Region("Europe"));
        Location::Ptr current = makeLocation("de");
        current->setFavorite(true);
        current->setFavoritePortId("UDP-1993");
        current->setPingMs(42);
        const QString id = current->id();

        Location::Ptr fresh = makeLocation("de", region, Constants::LocationType_Ike);
        fresh->setHost("10.0.0.1");
        fresh->setCity("Berlin");
        fresh->setId("other id");
        QSignalSpy regionSpy(current.data(), &Location::regionChanged);
        QSignalSpy regionRawSpy(current.data(), &Location::regionRawChanged);
        current->update(*fresh);

        QCOMPARE(current->host(), QStringLiteral("10.0.0.1"));
        QCOMPARE(current->connectionHost(), QStringLiteral("10.0.0.1"));
        QCOMPARE(current->city(), QStringLiteral("Berlin"));
        QCOMPARE(current->locationType(), Constants::LocationType_Ike);
        QCOMPARE(current->region(), region);
        QCOMPARE(regionRawSpy.value(0).value(0).value<Region*>(), region.data());
        QCOMPARE(regionSpy.count(), 1);
        QCOMPARE(current->id(), id);
        QCOMPARE(current->pingMs(), 42);
        QVERIFY(current->favorite());
        QCOMPARE(current->favoritePortId(), QStringLiteral("UDP-1993"));

        // The same region again is no change.
        current->setRegion(region);
        QCOMPARE(regionSpy.count(), 1);
        QCOMPARE(regionRawSpy.count(), 1);
    }

    // Latency threads write while the GUI thread reads; the change signal is
    // delivered on the location's own thread and ends with the last value.
    void pingFromMeasuringThreads()
    {
        Location location("x");
        QList<QThread*> emittingThreads;
        QList<int> emitted;
        connect(
            &location, &Location::pingMsChanged, this,
            [&](int ms) {
                emittingThreads << QThread::currentThread();
                emitted << ms;
            },
            Qt::DirectConnection);

        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&location, t] {
                for (int i = 0; i < 2000; ++i)
                    location.setPingMs(t * 10000 + i);
            });
        }
        for (int reads = 0; reads < 1000; ++reads)
            QVERIFY(location.pingMs() >= -1);
        for (std::thread& thread : threads)
            thread.join();
        const int last = location.pingMs();
        QTRY_COMPARE_WITH_TIMEOUT(emitted.value(emitted.size() - 1, -2), last, 5000);
        QVERIFY(last % 10000 == 1999);
        for (QThread* thread : qAsConst(emittingThreads))
            QCOMPARE(thread, QThread::currentThread());

        // A value set on the location's own thread is announced at once.
        emitted.clear();
        location.setPingMs(-1);
        QCOMPARE(emitted, QList<int>({ -1 }));
    }

    void pingSetOnGuiThreadWinsOverPendingNotice()
    {
        Location location("x");
        QSignalSpy spy(&location, &Location::pingMsChanged);
        std::thread worker([&location] { location.setPingMs(70); });
        worker.join();
        location.setPingMs(5);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 5);

        // A location destroyed with a notice pending is simply gone.
        auto* doomed = new Location("y");
        std::thread late([doomed] { doomed->setPingMs(9); });
        late.join();
        delete doomed;
        QCoreApplication::processEvents();
    }

    void findFallsBackOnDisplayId()
    {
        LocationModel model;
        const Location::Ptr de = makeLocation("de");
        const Location::Ptr fr = makeLocation("fr");
        fr->setId("de");
        const Location::Ptr it = makeLocation("it");
        it->setId("DE");
        model.setList({ fr, de, it });
        QCOMPARE(model.find("de"), de); // the code wins over an equal id
        QCOMPARE(model.find("DE"), de); // the first equal id in row order
        QVERIFY(model.find("France").isNull());
        QVERIFY(model.StandartSimpleModel::find("DE").isNull());
    }

    // A refresh of a server list: regions merged first, the fresh locations
    // pointed at the model's regions, then merged. Filtering by region relies
    // on every location holding the model's own Region object.
    void refreshKeepsOneRegionObject()
    {
        RegionModel regions;
        LocationModel locations;
        QAbstractItemModelTester tester(&locations, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const Region::Ptr europe(new Region("Europe"));
        const Region::Ptr asia(new Region("Asia"));
        regions.setList({ asia, europe });
        locations.setList({ makeLocation("de", europe), makeLocation("jp", asia),
                            makeLocation("de", europe, Constants::LocationType_Ike) });

        const Region::Ptr freshEurope(new Region("Europe"));
        freshEurope->setCaption("Europa");
        regions.merge({ Region::Ptr(new Region("Asia")), freshEurope });
        QCOMPARE(regions.list(), QList<Region::Ptr>({ asia, europe }));
        QCOMPARE(europe->caption(), QStringLiteral("Europa"));

        QList<Location::Ptr> fresh = { makeLocation("fr", freshEurope), makeLocation("de", freshEurope),
                                       makeLocation("jp", Region::Ptr(new Region("Asia"))) };
        for (const Location::Ptr& location : fresh)
            location->setRegion(regions.find(location->region()->id()));
        locations.merge(fresh);

        const QList<Location::Ptr> inEurope = locations.getFilteredList(Constants::LocationType_Common, europe);
        QCOMPARE(inEurope.size(), 2);
        QCOMPARE(inEurope.at(0), locations.elem(0));
        QCOMPARE(inEurope.at(1)->code(), QStringLiteral("fr"));
        // Equal ids are not enough: only the very object matches.
        QVERIFY(locations.getFilteredList(Constants::LocationType_Common, freshEurope).isEmpty());
        QCOMPARE(locations.getFilteredList(Constants::LocationType_Common, Region::Ptr()).size(), 3);
        QCOMPARE(locations.getFilteredList(Constants::LocationType_Ike, europe).size(), 1);
    }

    void regionsSortByCaption()
    {
        QList<Region::Ptr> sorted;
        for (const char* name : { "europe", "Asia", "Europe", "America" }) {
            const Region::Ptr region(new Region(name));
            sorted.insert(std::upper_bound(sorted.begin(), sorted.end(), region, RegionPtrLess()), region);
        }
        QStringList captions;
        for (const Region::Ptr& region : qAsConst(sorted))
            captions << region->caption();
        QCOMPARE(captions, QStringList({ "America", "Asia", "Europe", "europe" }));
    }

    void favoritesFilter()
    {
        LocationModel locations;
        FavoriteFilter favorites;
        favorites.setSourceModel(&locations);
        QAbstractItemModelTester tester(&favorites, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const Location::Ptr de = makeLocation("de");
        const Location::Ptr fr = makeLocation("fr");
        fr->setFavorite(true);
        locations.setList({ de, fr });
        QCOMPARE(favorites.rowCount(), 1);
        QCOMPARE(favorites.data(favorites.index(0, 0), 0).value<Location::Ptr>(), fr);

        de->setFavorite(true);
        favorites.invalidate();
        QCOMPARE(favorites.rowCount(), 2);
        QVERIFY(!favorites.filterAcceptsRow(2, QModelIndex()));

        locations.merge({ makeLocation("fr") });
        QCOMPARE(favorites.rowCount(), 1);
    }
};

OSTREL_TEST_MAIN(TestLocation)
#include "tst_location.moc"
