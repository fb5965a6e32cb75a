#include "testsupport.h"

#include "httpfixture.h"
#include "serverlists.h"
#include "settings.h"

using namespace ServerLists;

// Choosing protocol, port, location, region, proxy and DNS filtering, and how
// every list change and choice is reconciled with the others.
class TestModelSelection : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        TestSupport::resetSettings();
        settings().setValue("ConnectWhenChoosingNewLocation", false);
        settings().setValue("disableLatencyTest", true);
    }

    void firstListThroughTheListServiceFillsEveryChoice()
    {
        // What an earlier connection over OpenVPN 128-bit left behind.
        settings().setValue("Protocol", "OpenVPN 128-bit");
        settings().setValue("group_settings_openvpn/location", "gb");
        settings().setValue("group_settings_openvpn/port", "TCP-80");
        settings().setValue("group_settings_openvpn/dnsFiltering", "2");

        HttpFixture::Server server;
        QVERIFY(server.start());
        server.setRoute("/api/locations-desktop.json", HttpFixture::Route::ok(regular()));
        server.setRoute("/api/ike-winmac.json", HttpFixture::Route::ok(ike()));

        ModelHolder model = makeModel();
        QSignalSpy rawLocation(model.get(), &Model::selectedLocationRawChanged);
        QVERIFY(QMetaObject::invokeMethod(model.get(), "setupGetLocationsHandlers"));
        getLocations().restart({ server.url("/api/locations-desktop.json") }, { server.url("/api/ike-winmac.json") });
        QTRY_VERIFY_WITH_TIMEOUT(model->locationsReceived(), 20000);

        QCOMPARE(model->locations()->count(), 8);
        QCOMPARE(model->selectedProtocol()->name(), QStringLiteral("OpenVPN 128-bit"));
        QCOMPARE(model->selectedLocation()->code(), QStringLiteral("gb"));
        QCOMPARE(rawLocation.count(), 1);
        QCOMPARE(model->selectedPort()->id(), QStringLiteral("TCP-80"));
        QCOMPARE(model->selectedDNSFiltering()->id(), QStringLiteral("2"));
        QCOMPARE(model->selectedProxyLocation()->id(), QStringLiteral("1"));
        // The region follows the location; the selector shows that region's
        // locations of the protocol's type, never the IKE ones.
        QCOMPARE(model->selectedRegion()->id(), QStringLiteral("Europe"));
        QCOMPARE(model->getSelectedRegionIndex(), model->regions()->list().indexOf(model->selectedRegion()));
        QCOMPARE(codes(model->validLocations()), QStringList({ "de", "gb", "nl3" }));
        for (const Protocol::Ptr& protocol : model->protocols()->list())
            QVERIFY(protocol->haveLocations());
    }

    void laterListsKeepValidChoicesAndFollowReplacedObjects()
    {
        ModelHolder model = makeModel();
        apply(*model);
        QCOMPARE(model->selectedProtocol()->id(), Constants::ProtocolType_OPENVPN_ECC);
        QCOMPARE(model->selectedLocation()->code(), QStringLiteral("nl3"));
        model->userSelectDNSFilteringById("1");
        model->userSelectLocationById("jp");
        QCOMPARE(model->selectedRegion()->id(), QStringLiteral("Asia"));

        // Same group: location and DNS filtering stay, the port is re-checked
        // against the new protocol's own ports.
        model->userSelectProtocolById(Constants::ProtocolType_OPENVPN256);
        QCOMPARE(model->selectedLocation()->code(), QStringLiteral("jp"));
        QCOMPARE(model->selectedDNSFiltering()->id(), QStringLiteral("1"));
        QVERIFY(model->selectedProtocol()->ports()->list().contains(model->selectedPort()));

        // A fresh list without "jp" and with a new Asian location.
        LogCapture log;
        apply(*model, regular({ "jp" }, R"({"l": "Seoul", "h": "127.0.0.1", "c": "Korea", "n": "kr", "z": "Asia"})"));
        QVERIFY(log.contains("location lost"));
        QCOMPARE(model->selectedLocation()->code(), QStringLiteral("nl3"));
        QVERIFY(model->locations()->list().contains(model->selectedLocation()));
        QVERIFY(model->regions()->list().contains(model->selectedRegion()));

        // The new location belongs to the model's own region object.
        model->selectRegionById("Asia");
        QCOMPARE(codes(model->validLocations()), QStringList({ "jpx", "kr" }));
    }

    void protocolGroupsAndLocationTypes()
    {
        settings().setValue("group_settings_not_openvpn/location", "ike-us");
        settings().setValue("group_settings_not_openvpn/killswitch", true);
        ModelHolder model = makeModel();
        Protocol::Ptr ikev2(new Protocol(Constants::ProtocolType_IKEv2));
        ikev2->setLocationType(Constants::LocationType_Ike);
        ikev2->setProtocolSettingGroup(model->protocolSettingGroups().at(1));
        ikev2->ports()->setList({ Port::Ptr(new Port("UDP-4500")) });
        model->protocols()->addList({ ikev2 });
        apply(*model);
        QVERIFY(!model->optionGatewayRemoval()->value());

        // An IKE location does not serve an OpenVPN protocol.
        model->userSelectLocationById("ike-de");
        QCOMPARE(model->selectedLocation()->code(), QStringLiteral("nl3"));

        // Another group brings its own location and kill-switch value.
        model->userSelectProtocolById(Constants::ProtocolType_IKEv2);
        QCOMPARE(model->selectedLocation()->code(), QStringLiteral("ike-us"));
        QVERIFY(model->optionGatewayRemoval()->value());
        QCOMPARE(codes(model->validLocations()), QStringList({ "ike-us" }));
        QCOMPARE(model->selectedPort()->id(), QStringLiteral("UDP-4500"));

        model->userSelectProtocolById(Constants::ProtocolType_OPENVPN_ECC);
        QCOMPARE(model->selectedLocation()->code(), QStringLiteral("nl3"));
        QVERIFY(!model->optionGatewayRemoval()->value());
        QCOMPARE(model->selectedLocation()->locationType(), Constants::LocationType_Common);
    }

    void choicesSurviveARoundTripThroughOtherProtocols()
    {
        // An earlier connect left the group's values behind: no filtering,
        // no kill switch, no proxy, another location and port.
        settings().setValue("group_settings_openvpn/location", "de");
        settings().setValue("group_settings_openvpn/dnsFiltering", "0");
        settings().setValue("group_settings_openvpn/port", "UDP-18000");
        ModelHolder model = makeModel();
        Protocol::Ptr ikev2(new Protocol(Constants::ProtocolType_IKEv2));
        ikev2->setLocationType(Constants::LocationType_Ike);
        ikev2->setProtocolSettingGroup(model->protocolSettingGroups().at(1));
        ikev2->ports()->setList({ Port::Ptr(new Port("UDP-4500")) });
        model->protocols()->addList({ ikev2 });
        model->proxyLocations()->addList(
            { ProxyLocation::Ptr(new ProxyLocation("nlproxy", "NL", "v2.example.net", "443", "u", "0", "/p")) });
        apply(*model);
        model->userSelectProtocolById(Constants::ProtocolType_OPENVPN256);

        // The user's choices, made without connecting.
        model->userSelectLocationById("jp");
        model->userSelectDNSFilteringById("1");
        model->optionGatewayRemoval()->setValue(true);
        model->userSelectProxyLocationById("nlproxy");
        model->selectPortById("TCP-18333");
        auto choices = [&model] {
            return QStringList { model->selectedProtocol()->name(),
                                 model->selectedLocation()->code(),
                                 model->selectedDNSFiltering()->id(),
                                 model->selectedProxyLocation()->id(),
                                 model->selectedPort()->id(),
                                 model->optionGatewayRemoval()->value() ? "kill switch" : "no kill switch" };
        };
        const QStringList chosen = choices();
        QCOMPARE(chosen, QStringList({ "OpenVPN 256-bit", "jp", "1", "nlproxy", "TCP-18333", "kill switch" }));

        // Within the group (XOR) and through the other group (IKEv2) and back.
        for (const Constants::ProtocolType other :
             { Constants::ProtocolType_OPENVPN_XOR, Constants::ProtocolType_IKEv2 }) {
            model->userSelectProtocolById(other);
            QCOMPARE(model->selectedProtocol()->id(), other);
            model->userSelectProtocolById(Constants::ProtocolType_OPENVPN256);
            QCOMPARE(choices(), chosen);
        }
    }

    void favouriteAndXorOnlyLocationsChooseTheirProtocol()
    {
        settings().setValue("group_settings_openvpn/port", "TCP-1995");
        ModelHolder model = makeModel();
        apply(*model);
        QCOMPARE(model->selectedProtocol()->id(), Constants::ProtocolType_OPENVPN_ECC);

        const Location::Ptr us = model->locations()->find("us");
        us->setFavorite(true);
        us->setFavoriteProtocolType(Constants::ProtocolType_OPENVPN128);
        us->setFavoritePortId("UDP-53");
        model->userSelectLocationById("us");
        QCOMPARE(model->selectedProtocol()->id(), Constants::ProtocolType_OPENVPN128);
        QCOMPARE(model->selectedPort()->id(), QStringLiteral("UDP-53"));

        // A port the protocol lacks: the group's port instead.
        const Location::Ptr gb = model->locations()->find("gb");
        gb->setFavorite(true);
        gb->setFavoriteProtocolType(Constants::ProtocolType_OPENVPN_ECC);
        gb->setFavoritePortId("UDP-53");
        model->userSelectLocationById("gb");
        QCOMPARE(model->selectedProtocol()->id(), Constants::ProtocolType_OPENVPN_ECC);
        QCOMPARE(model->selectedPort()->id(), QStringLiteral("TCP-1995"));

        model->userSelectProtocolById(Constants::ProtocolType_OPENVPN256);
        model->userSelectLocationById("jpx");
        QCOMPARE(model->selectedProtocol()->id(), Constants::ProtocolType_OPENVPN_XOR);
        QCOMPARE(model->selectedLocation()->code(), QStringLiteral("jpx"));
    }

    void aProxyLeavesOnlyTcpPorts()
    {
        settings().setValue("group_settings_openvpn/port", "TCP-1995");
        ModelHolder model = makeModel();
        apply(*model);
        model->selectPortById("UDP-1993");
        QCOMPARE(model->selectedPort()->id(), QStringLiteral("UDP-1993"));
        model->selectPortById("TCP-80");
        QCOMPARE(model->selectedPort()->id(), QStringLiteral("UDP-1993"));

        model->userSelectProxyLocationById("nowhere");
        QCOMPARE(model->selectedProxyLocation()->id(), QStringLiteral("1"));
        QCOMPARE(model->selectedPort()->id(), QStringLiteral("UDP-1993"));

        model->userSelectProxyLocationById("2");
        QCOMPARE(model->selectedProxyLocation()->id(), QStringLiteral("2"));
        QVERIFY(model->v2RayProxyEnabled());
        QCOMPARE(model->selectedPort()->id(), QStringLiteral("TCP-1995"));
    }

    void deferredSelectionAndRegionFilter()
    {
        settings().setValue("ConnectWhenChoosingNewLocation", true);
        ModelHolder model = makeModel();
        apply(*model);
        QSignalSpy goConnect(model.get(), &Model::goConnectPage);

        model->userSelectLocationById("us", true);
        model->userSelectDNSFilteringById("2", true);
        QCOMPARE(model->selectedLocation()->code(), QStringLiteral("nl3"));
        QCOMPARE(model->selectedDNSFiltering()->id(), QStringLiteral("0"));
        QTRY_COMPARE(model->selectedLocation()->code(), QStringLiteral("us"));
        QTRY_COMPARE(model->selectedDNSFiltering()->id(), QStringLiteral("2"));
        QCOMPARE(goConnect.count(), 1);
        model->userSelectLocationById("us");
        QCOMPARE(goConnect.count(), 1);

        // An unknown region shows every location of the protocol's type.
        model->selectRegionById("nowhere");
        QVERIFY(!model->selectedRegion());
        QCOMPARE(model->getSelectedRegionIndex(), -1);
        QCOMPARE(codes(model->validLocations()), QStringList({ "de", "gb", "jp", "jpx", "nl3", "us" }));
        model->selectRegionById("Asia");
        QCOMPARE(codes(model->validLocations()), QStringList({ "jp", "jpx" }));
    }

    void emptyListsAndEmptyCatalogueLeaveChoicesEmpty()
    {
        LogCapture log;
        ModelHolder model = makeModel();
        apply(*model, "[]", "{}");
        QVERIFY(model->selectedProtocol());
        QVERIFY(!model->selectedLocation());
        QVERIFY(!model->selectedRegion());
        QVERIFY(log.contains("can't select region"));
        for (const Protocol::Ptr& protocol : model->protocols()->list())
            QVERIFY(!protocol->haveLocations());

        model->setSelectedProtocol(Protocol::Ptr());
        model->protocols()->setList({});
        model->configureConnectionSettings(connectionsListUpdated);
        QVERIFY(!model->selectedProtocol());
        QVERIFY(log.contains("can't select protocol"));
        QVERIFY(!log.contains("EXCEPTION in CATCHALL"));
    }
};

OSTREL_TEST_MAIN(TestModelSelection)
#include "tst_modelselection.moc"
