// Ports, protocols, protocol setting groups and the migration of older
// settings keys. The settings store is a real INI file in a temporary
// directory, read back independently after each change.

#include "model/port.h"
#include "model/protocol.h"
#include "model/protocolsettinggroup.h"
#include "settings.h"
#include "testsupport.h"

#include <QTemporaryDir>

namespace {

// The settings file lives in a temporary directory of this run.
QTemporaryDir& dataHome()
{
    static QTemporaryDir dir;
    return dir;
}

void dataHomeOfThisRun()
{
    qputenv("XDG_DATA_HOME", dataHome().path().toLocal8Bit());
}

// The stored file as another reader sees it.
QMap<QString, QString> storedValues()
{
    settings().sync();
    QSettings file(Settings::fullFileName(), QSettings::IniFormat);
    QMap<QString, QString> values;
    const QStringList keys = file.allKeys();
    for (const QString& key : keys)
        values.insert(key, file.value(key).toString());
    return values;
}

QList<Protocol::Ptr> catalogue(const ProtocolSettingGroup::Ptr& openvpn, const ProtocolSettingGroup::Ptr& other)
{
    QList<Protocol::Ptr> protocols;
    for (auto type :
         { Constants::ProtocolType_IKEv2, Constants::ProtocolType_OPENVPN_ECC, Constants::ProtocolType_OPENVPN256 }) {
        Protocol::Ptr protocol(new Protocol(type));
        protocol->setProtocolSettingGroup(protocol->isOpenVpn() ? openvpn : other);
        protocols << protocol;
    }
    return protocols;
}

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(dataHome().isValid());
        QVERIFY(Settings::fullFileName().startsWith(dataHome().path()));
    }
    void init() { TestSupport::resetSettings(); }

    void portText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("transport");
        QTest::addColumn<int>("protocol");
        QTest::addColumn<QString>("number");
        QTest::newRow("udp") << "UDP-1993"
                             << "UDP" << int(Constants::Protocol_UDP) << "1993";
        QTest::newRow("lower-case tcp") << "tcp-443"
                                        << "tcp" << int(Constants::Protocol_TCP) << "443";
        QTest::newRow("auto") << "Auto"
                              << "Auto" << int(Constants::Protocol_AUTO) << "";
        QTest::newRow("three parts") << "UDP-1-2"
                                     << "" << int(Constants::Protocol_UNKNOWN) << "";
        QTest::newRow("unknown transport") << "SCTP-80"
                                           << "SCTP" << int(Constants::Protocol_UNKNOWN) << "80";
        QTest::newRow("empty") << ""
                               << "" << int(Constants::Protocol_UNKNOWN) << "";
    }

    void portText()
    {
        QFETCH(QString, text);
        QFETCH(QString, transport);
        QFETCH(int, protocol);
        QFETCH(QString, number);
        Port port(text);
        QCOMPARE(port.getProtocolStr(), transport);
        QCOMPARE(int(port.protocol()), protocol);
        QCOMPARE(port.getPortNum(), number);
        QCOMPARE(port.name(), text);
    }

    void portRenameUpdatesTransport()
    {
        Port port("UDP-1993");
        QSignalSpy idSpy(&port, &Port::idChanged);
        QSignalSpy nameSpy(&port, &Port::nameChanged);
        QSignalSpy protocolSpy(&port, &Port::protocolChanged);
        port.update(Port("TCP-443"));
        QCOMPARE(port.protocol(), Constants::Protocol_TCP);
        QCOMPARE(idSpy.count(), 1);
        QCOMPARE(nameSpy.value(0).value(0).toString(), QStringLiteral("TCP-443"));
        QCOMPARE(protocolSpy.count(), 1);
        port.setName("TCP-80");
        QCOMPARE(port.id(), QStringLiteral("TCP-80"));
        QCOMPARE(protocolSpy.count(), 1);
    }

    void portAvailability_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("udp");
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<bool>("usable");
        QTest::newRow("auto, nothing allowed") << "Auto" << false << false << true;
        QTest::newRow("tcp, only udp") << "TCP-443" << true << false << false;
        QTest::newRow("tcp, tcp") << "TCP-443" << false << true << true;
        QTest::newRow("udp, udp") << "UDP-1993" << true << false << true;
        QTest::newRow("udp, only tcp") << "UDP-1993" << false << true << false;
        QTest::newRow("unknown") << "X-1" << true << true << false;
        QTest::newRow("null port") << "" << true << true << false;
    }

    void portAvailability()
    {
        QFETCH(QString, port);
        QFETCH(bool, udp);
        QFETCH(bool, tcp);
        QFETCH(bool, usable);
        const Port::Ptr ptr = port.isEmpty() ? Port::Ptr() : Port::Ptr(new Port(port));
        QCOMPARE(checkPortProtocolAvalable(ptr, udp, tcp), usable);
    }

    void protocolNameAndKind()
    {
        for (int type = 0; type <= int(Constants::ProtocolType_CISCOIPSEC); ++type) {
            Protocol protocol(static_cast<Constants::ProtocolType>(type));
            QCOMPARE(protocol.name(), Constants::protocolTypeToStr(Constants::ProtocolType(type)));
            const bool openVpn = type == 1 || type == 4 || type == 5 || type == 6;
            QCOMPARE(protocol.isOpenVpn(), openVpn);
        }
        Protocol protocol(Constants::ProtocolType_OPENVPN_ECC);
        protocol.ports()->setList({ Port::Ptr(new Port("UDP-1993")), Port::Ptr(new Port("TCP-443")) });
        QCOMPARE(protocol.ports()->find("TCP-443")->protocol(), Constants::Protocol_TCP);
        QCOMPARE(protocol.ports()->roleNames().value(1), QByteArray("portRaw"));
    }

    void groupStoresOnlyWhatDiffersFromDefaults()
    {
        ProtocolSettingGroup group("openvpn", "us", true, "0", "");
        QVERIFY(storedValues().isEmpty()); // loading writes nothing
        QCOMPARE(group.defaultLocation(), QStringLiteral("us"));
        QVERIFY(group.killSwitchOptionValue());

        group.setNewValues("de", false, "1", "", "UDP-1993");
        QCOMPARE(storedValues(),
                 (QMap<QString, QString>({ { "group_settings_openvpn/location", "de" },
                                           { "group_settings_openvpn/killswitch", "false" },
                                           { "group_settings_openvpn/dnsFiltering", "1" },
                                           { "group_settings_openvpn/port", "UDP-1993" } })));

        group.setNewValues("us", true, "0", "", "");
        QVERIFY(storedValues().isEmpty());
    }

    void portIsRememberedPerProxyUse()
    {
        ProtocolSettingGroup group("not_openvpn", "", false, "", "");
        group.setNewValues("de", false, "", "", "UDP-1993");
        QCOMPARE(group.pathToProp(SETTING_PORT_FIELD, true), QStringLiteral("group_settings_not_openvpn/port"));

        group.setNewValues("de", false, "", "nl1", "TCP-443");
        QCOMPARE(group.pathToProp(SETTING_PORT_FIELD, true),
                 QStringLiteral("group_settings_not_openvpn/portwithProxy"));
        QCOMPARE(group.pathToProp(SETTING_PROXYLOCATION_FIELD, false),
                 QStringLiteral("group_settings_not_openvpn/proxyLocation"));
        const QMap<QString, QString> stored = storedValues();
        QCOMPARE(stored.value("group_settings_not_openvpn/port"), QStringLiteral("UDP-1993"));
        QCOMPARE(stored.value("group_settings_not_openvpn/portwithProxy"), QStringLiteral("TCP-443"));

        ProtocolSettingGroup reloaded("not_openvpn", "", false, "", "");
        QCOMPARE(reloaded.proxyLocation(), QStringLiteral("nl1"));
        QCOMPARE(reloaded.port(), QStringLiteral("TCP-443"));

        // Saving without a proxy touches only the port of that state.
        reloaded.setNewValues("de", false, "", "", "UDP-22");
        QCOMPARE(storedValues().value("group_settings_not_openvpn/portwithProxy"), QStringLiteral("TCP-443"));
        QCOMPARE(ProtocolSettingGroup("not_openvpn", "", false, "", "").port(), QStringLiteral("UDP-22"));
    }

    void renamedGroupReadsItsOwnSection()
    {
        ProtocolSettingGroup("openvpn", "", false, "", "").setNewValues("fr", true, "2", "", "");
        ProtocolSettingGroup group("not_openvpn", "", false, "", "");
        QSignalSpy locationSpy(&group, &ProtocolSettingGroup::defaultLocationChanged);
        QCOMPARE(group.defaultLocation(), QString());
        group.setName("openvpn");
        QCOMPARE(group.defaultLocation(), QStringLiteral("fr"));
        QVERIFY(group.killSwitchOptionValue());
        QCOMPARE(group.dnsFiltering(), QStringLiteral("2"));
        QCOMPARE(locationSpy.count(), 1);
    }

    void migrationWithoutProtocolDropsOldKeys()
    {
        settings().setValue("Location", "de");
        settings().setValue("VpnDropProtection", true);
        settings().setValue("dnsFiltering", "1");
        settings().setValue("v2RayProxy", "nl1");
        settings().setValue("unrelated", "kept");
        QList<Protocol::Ptr> protocols = catalogue(
            ProtocolSettingGroup::Ptr(new ProtocolSettingGroup("openvpn", "", false, "", "")),
            ProtocolSettingGroup::Ptr(new ProtocolSettingGroup("not_openvpn", "", false, "", "")));
        protocolSettingGroupsConfigSettingsMigration(protocols);
        QCOMPARE(storedValues(), (QMap<QString, QString>({ { "unrelated", "kept" } })));
    }

    void migrationMovesOldKeysIntoGroup()
    {
        settings().setValue("Location", "de");
        settings().setValue("VpnDropProtection", "true");
        settings().setValue("dnsFiltering", "2");
        settings().setValue("v2RayProxy", "nl1");
        settings().setValue("Protocol", "  openvpn ECC ");
        const ProtocolSettingGroup::Ptr openvpn(new ProtocolSettingGroup("openvpn", "", false, "", ""));
        QList<Protocol::Ptr> protocols = catalogue(
            openvpn, ProtocolSettingGroup::Ptr(new ProtocolSettingGroup("not_openvpn", "", false, "", "")));
        protocolSettingGroupsConfigSettingsMigration(protocols);

        QCOMPARE(openvpn->defaultLocation(), QStringLiteral("de"));
        QVERIFY(openvpn->killSwitchOptionValue());
        QCOMPARE(openvpn->proxyLocation(), QStringLiteral("nl1"));
        QCOMPARE(storedValues(),
                 (QMap<QString, QString>({ { "Protocol", "  openvpn ECC " },
                                           { "group_settings_openvpn/location", "de" },
                                           { "group_settings_openvpn/killswitch", "true" },
                                           { "group_settings_openvpn/dnsFiltering", "2" },
                                           { "group_settings_openvpn/proxyLocation", "nl1" } })));
    }

    void migrationKeepsOldKeysWhenItCannotPlaceThem()
    {
        settings().setValue("Location", "de");
        settings().setValue("Protocol", "PPTP (insecure)");
        QList<Protocol::Ptr> protocols = catalogue(ProtocolSettingGroup::Ptr(), ProtocolSettingGroup::Ptr());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Can't find protocol PPTP \\(insecure\\)$"));
        protocolSettingGroupsConfigSettingsMigration(protocols);
        QCOMPARE(storedValues().value("Location"), QStringLiteral("de"));

        settings().setValue("Protocol", "IKEv2/IPsec");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Can't get settings group IKEv2/IPsec$"));
        protocolSettingGroupsConfigSettingsMigration(protocols);
        QCOMPARE(storedValues().value("Location"), QStringLiteral("de"));

        settings().setValue("Protocol", "");
        protocolSettingGroupsConfigSettingsMigration(protocols);
        QCOMPARE(storedValues().keys(), QStringList({ "Location", "Protocol" }));
    }
};

OSTREL_TEST_MAIN(TestProtocol, TestMain().prepare(dataHomeOfThisRun))

#include "tst_protocol.moc"
