#include "testsupport.h"

#include "serverlists.h"
#include "settings.h"

#include <QFile>

using namespace ServerLists;

namespace {

QString stored(const QString& key)
{
    return settings().valueReadOnly(key, QStringLiteral("<absent>")).toString();
}

} // namespace

// Favourite locations, the choices remembered after a connection, and the
// credentials, as the settings file keeps them.
class TestModelFavorites : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        TestSupport::resetSettings();
        settings().setValue("ConnectWhenChoosingNewLocation", false);
    }

    void togglingWritesTheStoredRecords()
    {
        ModelHolder model = makeModel();
        apply(*model);
        model->userSelectProtocolById(Constants::ProtocolType_OPENVPN128);
        model->selectPortById("UDP-53");

        model->invertLocationFavorite("nl3");
        QCOMPARE(Settings::favorite(), QStringLiteral("nl3|OpenVPN 128-bit|UDP-53"));
        QCOMPARE(model->favoriteModel()->rowCount(), 1);

        model->setSelectedProtocol(Protocol::Ptr());
        model->setSelectedPort(Port::Ptr());
        model->invertLocationFavorite("de");
        QCOMPARE(Settings::favorite(), QStringLiteral("de/nl3|OpenVPN 128-bit|UDP-53"));
        QCOMPARE(model->favoriteModel()->rowCount(), 2);

        model->invertLocationFavorite("nl3");
        const Location::Ptr nl3 = model->locations()->find("nl3");
        QVERIFY(!nl3->favorite());
        QCOMPARE(nl3->favoriteProtocolType(), Constants::ProtocolType_UNKNOWN);
        QVERIFY(nl3->favoritePortId().isEmpty());
        QCOMPARE(Settings::favorite(), QStringLiteral("de"));
        QCOMPARE(model->favoriteModel()->rowCount(), 1);

        LogCapture log;
        model->invertLocationFavorite("nowhere");
        QVERIFY(log.contains("location not founded"));
        QCOMPARE(Settings::favorite(), QStringLiteral("de"));
    }

    void storedRecordsAreReadAfterEveryList()
    {
        // Another version wrote this; empty parts and broken records occur.
        settings().setValue(
            "favorite", "gb|OpenVPN ECC|UDP-1993/jp//de|bogus|x/|OpenVPN XOR|TCP-443/zz/us|IKEv2/IPsec|UDP-500/|||/ ");
        LogCapture log;
        ModelHolder model = makeModel();
        apply(*model);

        const Location::Ptr gb = model->locations()->find("gb");
        QVERIFY(gb->favorite());
        QCOMPARE(gb->favoriteProtocolType(), Constants::ProtocolType_OPENVPN_ECC);
        QCOMPARE(gb->favoritePortId(), QStringLiteral("UDP-1993"));
        // A bare code takes nothing over from the record before it.
        const Location::Ptr jp = model->locations()->find("jp");
        QVERIFY(jp->favorite());
        QCOMPARE(jp->favoriteProtocolType(), Constants::ProtocolType_UNKNOWN);
        QVERIFY(jp->favoritePortId().isEmpty());
        const Location::Ptr de = model->locations()->find("de");
        QVERIFY(de->favorite());
        QCOMPARE(de->favoriteProtocolType(), Constants::ProtocolType_UNKNOWN);
        QCOMPARE(de->favoritePortId(), QStringLiteral("x"));
        // A protocol text holding the separator is cut there.
        const Location::Ptr us = model->locations()->find("us");
        QVERIFY(us->favorite());
        QCOMPARE(us->favoriteProtocolType(), Constants::ProtocolType_UNKNOWN);
        QCOMPARE(model->favoriteModel()->rowCount(), 4);
        QCOMPARE(log.count("Can't parce string"), 3);
        QCOMPARE(log.count("Location not founded zz$"), 1);

        // A favourite without a protocol leaves the protocol alone.
        model->userSelectProtocolById(Constants::ProtocolType_OPENVPN256);
        model->userSelectLocationById("de");
        QCOMPARE(model->selectedProtocol()->id(), Constants::ProtocolType_OPENVPN256);

        // A later list brings fresh objects; the flags are applied to them.
        apply(*model, regular({ "gb" }));
        apply(*model);
        QVERIFY(model->locations()->find("gb")->favorite());
        QCOMPARE(model->favoriteModel()->rowCount(), 4);
    }

    void connectionChoicesAreStoredPerGroup()
    {
        ModelHolder model = makeModel();
        apply(*model);
        Connection* connection = model->connection();
        connection->setProtocol(model->protocols()->find(Constants::ProtocolType_OPENVPN_XOR));
        connection->setLocation(model->locations()->find("jp"));
        connection->setPort(model->protocols()->find(Constants::ProtocolType_OPENVPN_XOR)->ports()->find("TCP-443"));
        connection->setProxyLocation(model->proxyLocations()->find("2"));
        connection->setDnsFiltering(model->dnsFilterings()->find("1"));
        connection->setOptionGatewayRemoval(true);
        model->saveConnectionParams();

        QCOMPARE(stored("Protocol"), QStringLiteral("OpenVPN XOR"));
        QCOMPARE(stored("group_settings_openvpn/location"), QStringLiteral("jp"));
        QCOMPARE(stored("group_settings_openvpn/killswitch"), QStringLiteral("true"));
        QCOMPARE(stored("group_settings_openvpn/dnsFiltering"), QStringLiteral("1"));
        QCOMPARE(stored("group_settings_openvpn/proxyLocation"), QStringLiteral("2"));
        QCOMPARE(stored("group_settings_openvpn/portwithProxy"), QStringLiteral("TCP-443"));
        QCOMPARE(stored("group_settings_openvpn/port"), QStringLiteral("<absent>"));

        // The "None" entry is stored as no proxy; the direct port has its key.
        connection->setProxyLocation(model->proxyLocations()->find("1"));
        connection->setPort(model->protocols()->find(Constants::ProtocolType_OPENVPN_XOR)->ports()->find("UDP-6113"));
        model->saveConnectionParams();
        QCOMPARE(stored("group_settings_openvpn/proxyLocation"), QStringLiteral("<absent>"));
        QCOMPARE(stored("group_settings_openvpn/port"), QStringLiteral("UDP-6113"));
        QCOMPARE(stored("group_settings_openvpn/portwithProxy"), QStringLiteral("TCP-443"));

        // Without a protocol nothing is stored.
        connection->setProtocol(Protocol::Ptr());
        connection->setLocation(model->locations()->find("us"));
        model->saveConnectionParams();
        QCOMPARE(stored("group_settings_openvpn/location"), QStringLiteral("jp"));
    }

    void credentialsAreTrimmedAndStoredScrambled()
    {
        ModelHolder model = makeModel();
        QSignalSpy names(model.get(), &Model::usernameChanged);
        model->setUsername("  alice ");
        model->setUsername("alice");
        QCOMPARE(names.count(), 1);

        const QString password = QStringLiteral("pw-Secret-7781");
        model->setUserpassword(password + "\t");
        model->saveCredentials();
        settings().sync();
        QCOMPARE(Settings::username(), QStringLiteral("alice"));
        QCOMPARE(Settings::password(), password);
        QFile file(Settings::fullFileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(!text.contains(password.toUtf8()));
        QVERIFY(!text.contains("alice"));
    }

    void thePasswordIsKeptOnlyWhileTheUserWantsIt()
    {
        ModelHolder model = makeModel();
        model->setUsername("alice");
        model->setUserpassword("pw-Kept-1");
        model->saveCredentials();
        QCOMPARE(Settings::password(), QStringLiteral("pw-Kept-1"));

        // Turned off: the stored password goes at once, the name stays.
        model->optionSavePassword()->setValue(false);
        settings().sync();
        QCOMPARE(stored("password"), QStringLiteral("<absent>"));
        QCOMPARE(Settings::username(), QStringLiteral("alice"));

        // Quitting stores the name as typed, never the password.
        model->setUsername("bob");
        model->setUserpassword("pw-Typed-2");
        QVERIFY(QMetaObject::invokeMethod(model.get(), "aboutToQuit"));
        settings().sync();
        QCOMPARE(Settings::username(), QStringLiteral("bob"));
        QCOMPARE(stored("password"), QStringLiteral("<absent>"));
        QFile file(Settings::fullFileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains("password"));

        // Turned on again: the next quit keeps it.
        model->optionSavePassword()->setValue(true);
        QVERIFY(QMetaObject::invokeMethod(model.get(), "aboutToQuit"));
        QCOMPARE(Settings::password(), QStringLiteral("pw-Typed-2"));
    }
};

OSTREL_TEST_MAIN(TestModelFavorites)
#include "tst_modelfavorites.moc"
