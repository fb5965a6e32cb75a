// The server-list parsers, the address check and the cache "locations.old".

#include "getservers.h"
#include "settings.h"
#include "testsupport.h"

#include <QFile>
#include <QRegularExpression>

namespace {

using LocationMap = QMap<QString, Location::Ptr>;

struct Parsed
{
    LocationMap map;
    QList<Region::Ptr> regions;
};

Parsed parseBoth(const QString& regular, const QString& ike)
{
    Parsed p;
    locationStrToList(regular, p.map, p.regions);
    ikeLocationStrToList(ike, p.map, p.regions);
    return p;
}

QStringList captions(const QList<Region::Ptr>& regions)
{
    QStringList out;
    for (const auto& r : regions)
        out << r->caption();
    return out;
}

void writeCacheWord(const QByteArray& content)
{
    QFile f(Settings::locationsFullFileName());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

const char* kRegular = R"([
  {"l": "Frankfurt", "h": "10.0.0.1", "c": "Germany", "n": "de", "z": "Europe"},
  {"l": "Zurich", "h": " 10.0.0.2 ", "c": "Switzerland", "n": "ch", "z": "Europe"},
  {"l": "New York", "h": "2001:db8::5", "c": "USA", "n": "us", "z": "America"},
  {"l": "Tokyo", "h": "10.0.0.4", "c": "Japan", "n": "jp", "z": "Asia"}
])";

const char* kIke = R"({"VPNs": [
  {"l": "Paris", "c": "France", "r": "fr.ike", "n": "fr-ike", "h": "10.1.0.1", "z": "Europe"},
  {"l": "", "name": "Oslo", "country": "Norway", "remoteIdentifier": "no.ike", "address": "10.1.0.2", "z": "Europe"},
  {"name": "Lima", "c": "Peru", "n": "pe-ike", "address": "10.1.0.3"}
]})";

} // namespace

class TestLocationList : public QObject
{
    Q_OBJECT

private slots:
    void init() { QFile::remove(Settings::locationsFullFileName()); }

    // ------------------------------------------------------------ regular list

    void regularList_fields()
    {
        const Parsed p = parseBoth(kRegular, QString());
        QCOMPARE(p.map.size(), 4);
        const Location::Ptr de = p.map.value("de");
        QVERIFY(de);
        QCOMPARE(de->city(), QStringLiteral("Frankfurt"));
        QCOMPARE(de->country(), QStringLiteral("Germany"));
        QCOMPARE(de->caption(), QStringLiteral("Germany - Frankfurt"));
        QCOMPARE(de->host(), QStringLiteral("10.0.0.1"));
        QCOMPARE(de->locationType(), Constants::LocationType_Common);
        QCOMPARE(de->region()->caption(), QStringLiteral("Europe"));
        QCOMPARE(de->id(), QStringLiteral("Germany - Frankfurt - Europe"));
        QCOMPARE(de->pingMs(), -1);
        QCOMPARE(p.map.value("ch")->host(), QStringLiteral("10.0.0.2")); // trimmed
        QCOMPARE(p.map.value("us")->host(), QStringLiteral("2001:db8::5"));
        // mapToList: ascending by code.
        QStringList codes;
        for (const auto& l : mapToList(p.map))
            codes << l->code();
        QCOMPARE(codes, (QStringList { "ch", "de", "jp", "us" }));
    }

    void regions_sharedAndSorted()
    {
        const Parsed p = parseBoth(kRegular, kIke);
        QCOMPARE(captions(p.regions), (QStringList { "", "America", "Asia", "Europe" }));
        // One object per name, used by every location of that region, whichever list it came from.
        const Region::Ptr europe = p.map.value("de")->region();
        QVERIFY(europe == p.map.value("ch")->region());
        QVERIFY(europe == p.map.value("fr-ike")->region());
        QVERIFY(europe == p.regions.last());
        QVERIFY(p.map.value("us")->region() != europe);
    }

    void regularList_duplicateCodes()
    {
        LogCapture log;
        const Parsed p = parseBoth(R"([
            {"l": "A", "c": "X", "n": "dup", "h": "10.0.0.1"},
            {"l": "B", "c": "X", "n": "dup", "h": "10.0.0.2"},
            {"l": "C", "c": "Y", "h": "10.0.0.3"},
            {"l": "D", "c": "Y", "h": "10.0.0.4"}
        ])",
                                   QString());
        QCOMPARE(p.map.size(), 2);
        QCOMPARE(p.map.value("dup")->city(), QStringLiteral("A"));
        // Entries without a code share the empty one: the first stays.
        QCOMPARE(p.map.value("")->city(), QStringLiteral("C"));
        QVERIFY(log.contains("NOT UNUQUE LOCATION ID: dup"));
        QVERIFY(log.contains("  first: X - B - "));
        QVERIFY(log.contains("  second: X - A - "));
        QVERIFY(log.contains("  Location will not be added to the list of available locations: X - B - "));
    }

    // ------------------------------------------------------------ IKE list

    void ikeList_shortAndLongKeys()
    {
        const Parsed p = parseBoth(QString(), kIke);
        QCOMPARE(p.map.size(), 3);

        const Location::Ptr fr = p.map.value("fr-ike");
        QVERIFY(fr);
        QCOMPARE(fr->locationType(), Constants::LocationType_Ike);
        QCOMPARE(fr->remoteIdentifier(), QStringLiteral("fr.ike"));
        QCOMPARE(fr->host(), QStringLiteral("10.1.0.1"));
        QCOMPARE(fr->id(), QStringLiteral("[IKE]France - Paris"));

        // "l" empty: the city comes from "name"; no "n": the country is the code.
        const Location::Ptr no = p.map.value("Norway");
        QVERIFY(no);
        QCOMPARE(no->city(), QStringLiteral("Oslo"));
        QCOMPARE(no->remoteIdentifier(), QStringLiteral("no.ike"));
        QCOMPARE(no->host(), QStringLiteral("10.1.0.2"));
        QCOMPARE(no->caption(), QStringLiteral("Norway - Oslo"));

        const Location::Ptr pe = p.map.value("pe-ike");
        QVERIFY(pe);
        QCOMPARE(pe->city(), QStringLiteral("Lima"));
        QCOMPARE(pe->country(), QStringLiteral("Peru"));
        QCOMPARE(pe->host(), QStringLiteral("10.1.0.3"));
    }

    void ikeList_regularWinsSameCode()
    {
        LogCapture log;
        const Parsed p = parseBoth(R"([{"l":"Berlin","c":"Germany","n":"de","h":"10.0.0.1"}])",
                                   R"({"VPNs":[{"l":"Munich","c":"Germany","n":"de","h":"10.0.0.9"}]})");
        QCOMPARE(p.map.size(), 1);
        QCOMPARE(p.map.value("de")->city(), QStringLiteral("Berlin"));
        QCOMPARE(p.map.value("de")->locationType(), Constants::LocationType_Common);
        const QStringList critical = LogCapture::lines().filter(
            QRegularExpression("NOT UNUQUE|  first: |  second: |will not be added"));
        QCOMPARE(critical.size(), 4);
    }

    // ------------------------------------------------------------ addresses

    void validateIpAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("logged");
        QTest::newRow("ipv4") << "192.0.2.1"
                              << "192.0.2.1" << false;
        QTest::newRow("blanks around") << "  192.0.2.1\t\n"
                                       << "192.0.2.1" << false;
        QTest::newRow("ipv6") << "2001:db8::1"
                              << "2001:db8::1" << false;
        QTest::newRow("ipv6 loopback") << "::1"
                                       << "::1" << false;
        QTest::newRow("empty, no log") << ""
                                       << "" << false;
        QTest::newRow("blank, no log") << "   "
                                       << "" << false;
        QTest::newRow("host name") << "vpn.example.com"
                                   << "" << true;
        QTest::newRow("out of range") << "256.1.1.1"
                                      << "" << true;
        QTest::newRow("short form") << "127.1"
                                    << "" << true;
        QTest::newRow("hex form") << "0x7f.0.0.1"
                                  << "" << true;
        QTest::newRow("octal-looking form") << "010.0.0.1"
                                            << "" << true;
        QTest::newRow("one number") << "2130706433"
                                    << "" << true;
        QTest::newRow("scoped ipv6") << "fe80::1%eth0"
                                     << "" << true;
        QTest::newRow("with a prefix") << "10.0.0.0/8"
                                       << "" << true;
        QTest::newRow("bracketed ipv6") << "[::1]"
                                        << "" << true;
        QTest::newRow("option") << "-c"
                                << "" << true;
        QTest::newRow("second line") << "10.0.0.1\nremote 203.0.113.9"
                                     << "" << true;
        QTest::newRow("quote") << "10.0.0.1\" x"
                               << "" << true;
        QTest::newRow("command") << "10.0.0.1; reboot"
                                 << "" << true;
    }

    void validateIpAddress()
    {
        QFETCH(QString, address);
        QFETCH(QString, expected);
        QFETCH(bool, logged);
        LogCapture log;
        QCOMPARE(::validateIpAddress(address, "Marker - Caption"), expected);
        QCOMPARE(log.contains("Unknown or invalid address:"), logged);
        if (logged) {
            QVERIFY(log.contains("Marker - Caption"));
            // The log line stays one line whatever the address holds.
            for (const QString& m : LogCapture::lines())
                QVERIFY2(!m.contains('\n'), qPrintable(m));
        }
    }

    // ------------------------------------------------------------ bad input

    void badInput_data()
    {
        QTest::addColumn<QString>("regular");
        QTest::addColumn<QString>("ike");
        QTest::addColumn<int>("count");
        QTest::newRow("nothing") << ""
                                 << "" << 0;
        QTest::newRow("garbage") << "\x01\x7f<html><body>moved</body></html>"
                                 << "%%%" << 0;
        QTest::newRow("empty array") << "[]"
                                     << "{\"VPNs\": []}" << 0;
        QTest::newRow("object instead of array") << "{\"n\":\"de\"}"
                                                 << "[{\"n\":\"fr\"}]" << 0;
        QTest::newRow("truncated") << "[{\"l\":\"Frankfurt\",\"h\":\"10.0.0.1\",\"c\":\"Ger"
                                   << "{\"VPNs\":[{\"n\":" << 0;
        QTest::newRow("deeply nested") << QString(5000, '[') << QString(5000, '{') << 0;
        // Not objects: each gives a location with empty fields (one empty code).
        QTest::newRow("numbers") << "[1, 2, 3]"
                                 << "{\"VPNs\": 5}" << 1;
        QTest::newRow("fields of other types") << "[{\"n\": 7, \"l\": [1], \"h\": {\"a\": 1}, \"c\": true}]"
                                               << "" << 1;
    }

    void badInput()
    {
        QFETCH(QString, regular);
        QFETCH(QString, ike);
        QFETCH(int, count);
        const Parsed p = parseBoth(regular, ike);
        QCOMPARE(p.map.size(), count);
        for (const auto& l : p.map)
            QVERIFY(l->host().isEmpty());
    }

    // Newlines and quotes stay text where they are text; the host is an address or nothing.
    void badInput_fieldsWithNewlinesAndQuotes()
    {
        const Parsed p = parseBoth(
            "[{\"l\": \"Ci\\\"ty\\nsecond\", \"c\": \"Coun'try\", \"n\": \"x\\\"y\", \"h\": \"10.0.0.1\\nroute 0.0.0.0\", \"z\": \"Re\\ngion\"}]",
            QString());
        QCOMPARE(p.map.size(), 1);
        const Location::Ptr l = p.map.first();
        QCOMPARE(l->city(), QStringLiteral("Ci\"ty\nsecond"));
        QCOMPARE(l->code(), QStringLiteral("x\"y"));
        QCOMPARE(l->host(), QString());
        QCOMPARE(l->region()->caption(), QStringLiteral("Re\ngion"));
    }

    void manyLocations()
    {
        QString json = "[";
        for (int i = 0; i < 3000; ++i) {
            json += QStringLiteral("{\"l\":\"City%1\",\"c\":\"C\",\"n\":\"c%2\",\"h\":\"10.%3.%4.1\",\"z\":\"R%5\"},")
                        .arg(i)
                        .arg(i, 5, 10, QLatin1Char('0'))
                        .arg(i / 256)
                        .arg(i % 256)
                        .arg(i % 7);
        }
        json += "]";
        const Parsed p = parseBoth(json, QString());
        QCOMPARE(p.map.size(), 3000);
        QCOMPARE(p.regions.size(), 7);
        QCOMPARE(p.map.value("c02999")->host(), QStringLiteral("10.11.183.1"));
    }

    // ------------------------------------------------------------ cache

    void cache_roundTrip()
    {
        QVERIFY(saveLocations(kRegular, kIke));
        GetLocations gl(nullptr, {}, {});
        QList<Location::Ptr> locations { Location::Ptr(new Location("stale")) };
        QList<Region::Ptr> regions { Region::Ptr(new Region("stale")) };
        QVERIFY(gl.getStoredLocations(locations, regions));
        QCOMPARE(locations.size(), 7);
        QCOMPARE(captions(regions), (QStringList { "", "America", "Asia", "Europe" }));
        QCOMPARE(locations.first()->code(), QStringLiteral("Norway"));
        gl.stop();
    }

    void cache_format()
    {
        QVERIFY(saveLocations("[1]", QString()));
        QFile f(Settings::locationsFullFileName());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray stored = f.readAll();
        // One scrambled word, no white space, no line end.
        QVERIFY(!stored.isEmpty());
        QVERIFY(!stored.contains(' ') && !stored.contains('\n'));
        QCOMPARE(Settings::decode(QString::fromLatin1(stored)), QStringLiteral("[1]<<>>"));
    }

    // A separator inside a list text must not break the cache apart.
    void cache_separatorInsideText()
    {
        const QString regular = R"([{"l":"A<<>>B","c":"C","n":"de","h":"10.0.0.1"}])";
        const QString ike = R"({"VPNs":[{"l":"<<>><<>>","c":"D","n":"ik","h":"10.0.0.2"}]})";
        QVERIFY(saveLocations(regular, ike));
        GetLocations gl(nullptr, {}, {});
        QList<Location::Ptr> locations;
        QList<Region::Ptr> regions;
        QVERIFY(gl.getStoredLocations(locations, regions));
        QCOMPARE(locations.size(), 2);
        QCOMPARE(locations[0]->city(), QStringLiteral("A<<>>B"));
        QCOMPARE(locations[1]->city(), QStringLiteral("<<>><<>>"));
        gl.stop();
    }

    void cache_unusable_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file at all
        QTest::addColumn<QString>("logged");
        QTest::newRow("missing") << QByteArray() << "Can't open Locations file";
        QTest::newRow("empty file") << QByteArray("") << "";
        QTest::newRow("not scrambled") << QByteArray("hello-world") << "";
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe garbage", 12) << "";
        QTest::newRow("no separator") << Settings::encode("[]").toLatin1() << "invalid locations file format";
        QTest::newRow("two separators") << Settings::encode("[]<<>>{}<<>>{}").toLatin1()
                                        << "invalid locations file format";
    }

    void cache_unusable()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, logged);
        if (!content.isNull())
            writeCacheWord(content);
        GetLocations gl(nullptr, {}, {});
        QList<Location::Ptr> locations { Location::Ptr(new Location("stale")) };
        QList<Region::Ptr> regions { Region::Ptr(new Region("stale")) };
        LogCapture log;
        QVERIFY(!gl.getStoredLocations(locations, regions));
        QVERIFY(locations.isEmpty());
        QVERIFY(regions.isEmpty());
        if (!logged.isEmpty())
            QVERIFY(log.contains(logged));
        gl.stop();
    }

    // A cache whose lists are garbage still reads (as an empty directory).
    void cache_garbageLists()
    {
        writeCacheWord(Settings::encode("garbage<<>>more garbage").toLatin1());
        GetLocations gl(nullptr, {}, {});
        QList<Location::Ptr> locations;
        QList<Region::Ptr> regions;
        QVERIFY(gl.getStoredLocations(locations, regions));
        QVERIFY(locations.isEmpty());
        gl.stop();
    }

    void cache_unwritable()
    {
        const QString path = Settings::locationsFullFileName();
        QFile::remove(path);
        QVERIFY(QDir().mkpath(path)); // a directory where the file should be
        LogCapture log;
        QVERIFY(!saveLocations("[]", "{}"));
        QVERIFY(log.contains("Can't open Locations file"));
        QVERIFY(QDir().rmdir(path));
    }
};

OSTREL_TEST_MAIN(TestLocationList)
#include "tst_locationlist.moc"
