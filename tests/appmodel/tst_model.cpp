#include "testsupport.h"

#include "deployment.h"
#include "log.h"
#include "model/model.h"
#include "resources.h"
#include "settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <memory>

namespace {

struct ModelDeleter
{
    void operator()(Model* model) const
    {
        model->stop();
        delete model;
    }
};
using ModelHolder = std::unique_ptr<Model, ModelDeleter>;

ModelHolder makeModel()
{
    return ModelHolder(new Model(nullptr));
}

struct OptionRow
{
    const char* property;
    const char* key;
    bool defaultValue;
    bool storedAsText;
};

// Every stored option: what the settings file of earlier versions holds.
const QList<OptionRow> kStoredOptions = {
    { "optionSavePassword", "savePass", true, true },
    { "optionMinimizeOnClose", "minimizeOnClose2", true, true },
    { "optionStartMinimized", "startMinimized", false, false },
    { "optionAutoConnectOnLaunch", "AutoConnect", false, true },
    { "optionLaunchOnSystemStart", "LaunchAtStartup", false, true },
    { "optionGatewayRemoval", "VpnDropProtection", false, true },
    { "optionCensoredCountry", "useAlternativeAPIServer", false, false },
    { "optionBlockIPV6", "blockIPv6", true, true },
    { "optionDisableDNS", "disableDNSOnPhysicalNIC", false, true },
    { "optionDoNotChangeDNS", "dontDNS", false, false },
    { "optionLowerMTU", "lowerMTU", false, true },
    { "optionLibreSSL", "useOpenVPNInsteadOpenSSL", false, false },
    { "optionDisableLANTraffic", "disableLANTraffic", false, false },
    { "optionProtocolPortOnConnectPage", "ProtocolPortOnConnectPage", false, false },
    { "optionConnectWhenChoosingNewLocation", "ConnectWhenChoosingNewLocation", true, false },
    { "optionMacUseColorIcons", "useColorIcons", false, false },
    { "optionDetailedDebug", "detailedDebug", false, true },
    { "optionUseSoftwareOpenGL", "useSoftwareOpenGL", false, false },
    { "optionDisableLatencyTest", "disableLatencyTest", false, false },
    { "optionWintun", "wintun", false, false },
    { "optionForceReconnectOnSleepResume", "forceReconnectOnSleepResume", false, false },
};

SettingOption* optionOf(Model& model, const char* property)
{
    return model.property(property).value<SettingOption*>();
}

QStringList captionsOf(SettingOptionModel* list)
{
    QStringList captions;
    for (const SettingOption::Ptr& option : list->list())
        captions << option->caption();
    return captions;
}

} // namespace

class TestModel : public QObject
{
    Q_OBJECT

private slots:
    void init() { TestSupport::resetSettings(); }

    void optionsReadTheirKeysWithTheirDefaults()
    {
        {
            ModelHolder model = makeModel();
            for (const OptionRow& row : kStoredOptions) {
                SettingOption* option = optionOf(*model, row.property);
                QVERIFY2(option, row.property);
                QCOMPARE(option->key(), QString::fromLatin1(row.key));
                QVERIFY2(option->value() == row.defaultValue, row.key);
            }
            QVERIFY(optionOf(*model, "optionLightSkin")->key().isEmpty());
        }

        // Every key is honoured when an earlier run stored the other value.
        TestSupport::resetSettings();
        for (const OptionRow& row : kStoredOptions)
            settings().setValue(QString::fromLatin1(row.key), row.defaultValue ? "false" : "true");
        ModelHolder model = makeModel();
        for (const OptionRow& row : kStoredOptions) {
            // Start-minimized is forced off on this platform.
            const bool expected = QByteArray(row.key) == "startMinimized" ? false : !row.defaultValue;
            QVERIFY2(optionOf(*model, row.property)->value() == expected, row.key);
        }
        QCOMPARE(settings().valueReadOnly("startMinimized", QVariant()).toBool(), false);
    }

    void changedOptionsKeepTheirStoredForm()
    {
        ModelHolder model = makeModel();
        for (const OptionRow& row : kStoredOptions) {
            if (QByteArray(row.key) == "LaunchAtStartup")
                continue; // goes through the autostart veto, tested below
            SettingOption* option = optionOf(*model, row.property);
            option->setValue(!option->value());
            const QVariant stored = settings().valueReadOnly(QString::fromLatin1(row.key), QVariant());
            if (row.storedAsText)
                QVERIFY2(stored.type() == QVariant::String && stored.toString() == (option->value() ? "true" : "false"),
                         row.key);
            else
                QVERIFY2(stored.type() == QVariant::Bool && stored.toBool() == option->value(), row.key);
        }
    }

    void pageListsAndPlatformVisibility()
    {
        ModelHolder model = makeModel();
        const QStringList preferences = captionsOf(model->optionModelPreferences());
        QCOMPARE(preferences,
                 QStringList({ "Minimize on close", "Start minimized", "Light Theme", "Auto-connect on Software launch",
                               "Launch on system start", "Auto-connect when choosing new location",
                               "Use blue/red icons in status menu bar" }));
        const QStringList advanced = captionsOf(model->optionModelAdvanced());
        QCOMPARE(advanced.size(), 14);
        // The platform step runs after the texts were filled: the user sees its caption.
        QCOMPARE(advanced.first(), QStringLiteral("Firewall blocker (kill switch)"));
        QVERIFY(model->optionGatewayRemoval()->description().startsWith("Block all non-VPN traffic"));
        QCOMPARE(advanced.last(), QStringLiteral("Disable latency test"));
        QVERIFY(model->optionWintun()->description().contains(
            "href=\"" + Deployment::value("web/redirect") + "?to=" + Deployment::value("web/site") + "/vpn-wintun\""));

        QStringList hidden;
        for (SettingOptionModel* list : { model->optionModelPreferences(), model->optionModelAdvanced() }) {
            for (const SettingOption::Ptr& option : list->list()) {
                if (!option->visible())
                    hidden << option->key();
            }
        }
        hidden.sort();
        QCOMPARE(hidden,
                 QStringList({ "LaunchAtStartup", "blockIPv6", "disableDNSOnPhysicalNIC", "forceReconnectOnSleepResume",
                               "startMinimized", "useOpenVPNInsteadOpenSSL", "wintun" }));
        QVERIFY(model->optionSavePassword()->visible());
        QVERIFY(model->optionModelPreferences()->findIndex("savePass") == QModelIndex());
    }

    void skinFollowsTheStoredSettingAndTheThemeOption()
    {
        settings().setValue("skin", "3");
        ModelHolder model = makeModel();
        QCOMPARE(model->skinType(), Constants::SkinType_standart_light);
        QVERIFY(model->optionLightSkin()->value());
        QCOMPARE(settings().valueReadOnly("skin", QVariant()).toString(), QStringLiteral("2"));

        QSignalSpy skins(model.get(), &Model::skinTypeChanged);
        model->optionLightSkin()->setValue(false);
        QCOMPARE(skins.count(), 1);
        QCOMPARE(model->skinType(), Constants::SkinType_standart);
        QCOMPARE(settings().valueReadOnly("skin", QVariant()).toString(), QStringLiteral("1"));

        // Already consistent: nothing stored, nothing emitted.
        settings().setValue("skin", "marker");
        model->setSkinType(Constants::SkinType_standart);
        QCOMPARE(skins.count(), 1);
        QCOMPARE(settings().valueReadOnly("skin", QVariant()).toString(), QStringLiteral("marker"));

        model->setSkinType(Constants::SkinType_standart_light);
        QCOMPARE(skins.count(), 2);
        QVERIFY(model->optionLightSkin()->value());
        QCOMPARE(settings().valueReadOnly("skin", QVariant()).toString(), QStringLiteral("2"));
    }

    void credentialsAtConstruction_data()
    {
        QTest::addColumn<QString>("savePass");
        QTest::addColumn<QString>("expectedUser");
        QTest::addColumn<QString>("expectedPassword");
        QTest::newRow("saved") << "true"
                               << "someone"
                               << "pa ss";
        QTest::newRow("not saved") << "false"
                                   << ""
                                   << "";
    }

    void credentialsAtConstruction()
    {
        QFETCH(QString, savePass);
        QFETCH(QString, expectedUser);
        QFETCH(QString, expectedPassword);
        settings().setValue("savePass", savePass);
        Settings::set_username("  someone \t");
        Settings::set_password(" pa ss ");
        ModelHolder model = makeModel();
        QCOMPARE(model->username(), expectedUser);
        QCOMPARE(model->userpassword(), expectedPassword);
        QCOMPARE(model->property("userpassword").toString(), expectedPassword);
    }

    void dnsAndLanInterlocks()
    {
        settings().setValue("disableDNSOnPhysicalNIC", "true");
        settings().setValue("dontDNS", true);
        ModelHolder model = makeModel();
        QVERIFY(QMetaObject::invokeMethod(model.get(), "updateDependedOptions"));
        QVERIFY(model->optionDisableDNS()->value());
        QVERIFY(!model->optionDoNotChangeDNS()->value());
        QCOMPARE(settings().valueReadOnly("dontDNS", QVariant()), QVariant(false));
        QVERIFY(model->optionDisableDNS()->enabled());
        QVERIFY(!model->optionDoNotChangeDNS()->enabled());

        // Turning DisableDNS off frees the other one again, through the option's own reaction.
        model->optionDisableDNS()->setValue(false);
        QVERIFY(model->optionDoNotChangeDNS()->enabled());
        model->optionDoNotChangeDNS()->setValue(true);
        QVERIFY(!model->optionDisableDNS()->enabled());

        // The LAN option keeps its value but can only be changed with the kill switch on.
        model->optionDisableLANTraffic()->setValue(true);
        QVERIFY(QMetaObject::invokeMethod(model.get(), "updateDependedOptions"));
        QVERIFY(!model->optionDisableLANTraffic()->enabled());
        QVERIFY(model->optionDisableLANTraffic()->value());
        model->optionGatewayRemoval()->setValue(true);
        QVERIFY(model->optionDisableLANTraffic()->enabled());
        model->optionGatewayRemoval()->setValue(false);
        QVERIFY(!model->optionDisableLANTraffic()->enabled());
    }

    void optionReactions()
    {
        settings().setValue("useOpenVPNInsteadOpenSSL", true);
        ModelHolder model = makeModel();
        QVERIFY(!model->optionWintun()->enabled());
        model->optionLibreSSL()->setValue(false);
        QVERIFY(model->optionWintun()->enabled());

        const bool detailedBefore = ALog::detailedDebug();
        model->optionDetailedDebug()->setValue(!model->optionDetailedDebug()->value());
        QCOMPARE(ALog::detailedDebug(), model->optionDetailedDebug()->value());
        QVERIFY(ALog::detailedDebug() != detailedBefore);
        ALog::setDetailedDebug(detailedBefore);

        QSignalSpy toasts(model.get(), &Model::qmlShowToast);
        model->optionUseSoftwareOpenGL()->setValue(true);
        QCOMPARE(toasts.count(), 1);
        QCOMPARE(toasts.first().at(0).toString(),
                 QStringLiteral("The change will take effect after you restart the program."));
        QVERIFY(toasts.first().at(1).toString().isEmpty());
    }

    void dnsFilteringChoices()
    {
        ModelHolder model = makeModel();
        QVERIFY(!model->selectedDNSFiltering());
        model->dnsFilteringUpdate();
        QCOMPARE(model->dnsFilterings()->count(), 3);
        QCOMPARE(model->selectedDNSFiltering(), model->dnsFilterings()->elem(0));
        QCOMPARE(model->selectedDNSFiltering()->id(), QStringLiteral("0"));
        QCOMPARE(model->dnsFilterings()->elem(2)->dnsFiltering(), Constants::DNSFiltering_secureDNS_localStreaming);
        QCOMPARE(model->dnsFilterings()->elem(2)->caption(), QStringLiteral("SecureDNS + local streaming"));

        // A second build keeps the chosen object.
        const DNSFiltering::Ptr chosen = model->dnsFilterings()->elem(1);
        model->setSelectedDNSFiltering(chosen);
        model->dnsFilteringUpdate();
        QCOMPARE(model->selectedDNSFiltering(), chosen);
        QVERIFY(model->dnsFilterings()->elem(1) != chosen);
    }

    void listPropertiesAreTheModelsOwnObjects()
    {
        ModelHolder model = makeModel();
        const char* names[] = {
            "locations",          "protocols",      "news",          "helpSections",  "regions",
            "validLocations",     "proxyLocations", "dnsFilterings", "favoriteModel", "optionModelPreferences",
            "optionModelAdvanced"
        };
        QHash<QByteArray, QObject*> first;
        for (const char* name : names) {
            QObject* object = model->property(name).value<QObject*>();
            QVERIFY2(object, name);
            first.insert(name, object);
        }
        QCOMPARE(first.value("locations"), static_cast<QObject*>(model->locations()));
        QVERIFY(first.value("locations") != first.value("validLocations"));
        QCOMPARE(static_cast<QSortFilterProxyModel*>(model->favoriteModel())->sourceModel(), model->locations());

        model->dnsFilteringUpdate();
        for (const char* name : names)
            QVERIFY2(model->property(name).value<QObject*>() == first.value(name), name);
        QCOMPARE(model->property("connection").value<QObject*>(), static_cast<QObject*>(model->connection()));
        QCOMPARE(model->property("hideV2Ray").toBool(), false);
        QCOMPARE(model->appVersion(), QStringLiteral(OSTREL_VERSION_STR));
    }

    void protocolCatalogue()
    {
        // Choices an older version kept at the top level move into the group.
        settings().setValue("Protocol", Protocol::nameById(Constants::ProtocolType_OPENVPN256));
        settings().setValue("Location", "de");
        ModelHolder model = makeModel();

        QList<Constants::ProtocolType> types;
        QList<int> portCounts;
        for (const Protocol::Ptr& protocol : model->protocols()->list()) {
            types << protocol->id();
            portCounts << protocol->ports()->count();
            QCOMPARE(protocol->protocolSettingGroup(), model->protocolSettingGroups().first());
            // UDP ports come first.
            bool seenTcp = false;
            for (const Port::Ptr& port : protocol->ports()->list()) {
                seenTcp = seenTcp || port->protocol() == Constants::Protocol_TCP;
                QVERIFY2(!(seenTcp && port->protocol() == Constants::Protocol_UDP), qPrintable(port->id()));
            }
        }
        QCOMPARE(types,
                 QList<Constants::ProtocolType>(
                     { Constants::ProtocolType_OPENVPN_ECC, Constants::ProtocolType_OPENVPN256,
                       Constants::ProtocolType_OPENVPN128, Constants::ProtocolType_OPENVPN_XOR }));
        QCOMPARE(portCounts, QList<int>({ 8, 7, 8, 9 }));

        const Protocol::Ptr p128 = model->protocols()->find(Constants::ProtocolType_OPENVPN128);
        const Port::Ptr udp88 = p128->ports()->find("UDP-88");
        const Port::Ptr tcp88 = p128->ports()->find("TCP-88");
        QVERIFY(udp88 && tcp88 && udp88 != tcp88);
        QCOMPARE(udp88->getPortNum(), tcp88->getPortNum());

        QCOMPARE(model->protocolSettingGroups().size(), 2);
        QCOMPARE(model->protocolSettingGroups().at(0)->name(), QStringLiteral("openvpn"));
        QCOMPARE(model->protocolSettingGroups().at(1)->name(), QStringLiteral("not_openvpn"));
        QCOMPARE(model->protocolSettingGroups().at(0)->defaultLocation(), QStringLiteral("de"));
        QVERIFY(!settings().valueInited("Location"));
    }

    void placeholderNewsAndHelp()
    {
        ModelHolder model = makeModel();
        QStringList ids;
        for (const News::Ptr& news : model->news()->list())
            ids << news->id();
        QCOMPARE(ids, QStringList({ "1", "2", "3", "4", "5", "6" }));
        QCOMPARE(model->news()->find("4")->text(), QStringLiteral("Text 4 ").repeated(11));
        QCOMPARE(model->news()->find("6")->date().date(), QDate(2016, 10, 10));
        QCOMPARE(model->news()->find("1")->url(), Deployment::value("web/site") + "/features");

        QStringList sections;
        QList<int> itemCounts;
        for (const HelpSection::Ptr& section : model->helpSections()->list()) {
            sections << section->name();
            itemCounts << section->items()->count();
            for (const HelpItem::Ptr& item : section->items()->list())
                QCOMPARE(item->moreText(), QStringLiteral("More >>"));
        }
        QCOMPARE(sections,
                 QStringList({ "Essential", "Tutorials, Troubleshooting", "Stay up to date", "Get in touch" }));
        QCOMPARE(itemCounts, QList<int>({ 6, 3, 2, 2 }));
        QVERIFY(model->helpSections()->find("Get in touch")->comment().startsWith("Important: "));
        const HelpItem::Ptr ticketing = model->helpSections()->find("Get in touch")->items()->find("Ticketing");
        // The target travels whole in "to": its own "&deptid=1" is no
        // parameter of the redirect service.
        const QUrl ticketingUrl(ticketing->url());
        QCOMPARE(ticketingUrl.adjusted(QUrl::RemoveQuery).toString(), Deployment::value("web/redirect"));
        const QUrlQuery query(ticketingUrl);
        QCOMPARE(query.queryItems(QUrl::FullyDecoded),
                 (QList<QPair<QString, QString>> {
                     { "to", Deployment::value("web/site") + "/submitticket.php?step=2&deptid=1" } }));
    }

    void autostartLink()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", home.path().toLocal8Bit());
        auto restoreHome = qScopeGuard([&] { qputenv("HOME", savedHome); });

        ModelHolder model = makeModel();
        SettingOption* launch = model->optionLaunchOnSystemStart();
        const QString link = home.path() + "/.config/autostart/ostrel.desktop";
        QCOMPARE(Model::autostartLinkPath(), link);

        launch->setValue(true);
        QVERIFY(launch->value());
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QFileInfo(link).symLinkTarget(), Model::autostartLinkTarget());

        // The target does not exist beside a test binary: the dangling link is still removed.
        launch->setValue(false);
        QVERIFY(!QFileInfo(link).isSymLink());
        QCOMPARE(settings().valueReadOnly("LaunchAtStartup", QVariant()).toString(), QStringLiteral("false"));

        // A directory that cannot be made does not refuse the choice.
        QDir(home.path()).removeRecursively();
        QVERIFY(QDir().mkpath(home.path()));
        QFile blocker(home.path() + "/.config");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        launch->setValue(true);
        QVERIFY(launch->value());
        QVERIFY(!QFileInfo::exists(home.path() + "/.config/autostart"));
    }

    // A link that cannot be removed vetoes turning the option off. Root may
    // remove any link, so as root the case runs again as an unprivileged user.
    void autostartVetoKeepsTheOptionOn()
    {
        if (TestSupport::isRoot()) {
            QTemporaryDir dir;
            QVERIFY(dir.isValid());
            QVERIFY(QFile::setPermissions(dir.path(), QFile::Permissions(0x7777)));
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("HOME", dir.path());
            env.insert("XDG_DATA_HOME", dir.path() + "/data");
            env.insert("XDG_CONFIG_HOME", dir.path() + "/config");
            env.insert("XDG_RUNTIME_DIR", dir.path() + "/run");
            QProcess child;
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.setWorkingDirectory(dir.path());
            child.start("setpriv",
                        { "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                          QCoreApplication::applicationFilePath(), "autostartVetoKeepsTheOptionOn" });
            QVERIFY2(child.waitForFinished(60000), "the unprivileged run did not end");
            const QString output = QString::fromLocal8Bit(child.readAll());
            QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(output));
            QVERIFY2(output.contains("PASS   : TestModel::autostartVetoKeepsTheOptionOn()"), qPrintable(output));
            QVERIFY2(!output.contains("SKIP"), qPrintable(output));
            return;
        }
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", home.path().toLocal8Bit());
        auto restoreHome = qScopeGuard([&] { qputenv("HOME", savedHome); });

        ModelHolder model = makeModel();
        SettingOption* launch = model->optionLaunchOnSystemStart();
        const QString link = Model::autostartLinkPath();
        launch->setValue(true);
        QVERIFY(QFileInfo(link).isSymLink());
        const QString dir = QFileInfo(link).absolutePath();
        QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner));
        launch->setValue(false); // vetoed: the link cannot be removed
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY(launch->value());
        QCOMPARE(settings().valueReadOnly("LaunchAtStartup", QVariant()).toString(), QStringLiteral("true"));
        launch->setValue(false);
        QVERIFY(!launch->value());
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void updateNoticeLinksTheChangelog()
    {
        ModelHolder model = makeModel();
        QString title;
        QString text;
        QTimer closer;
        // Closes the notice as soon as it is up; the notice's own loop keeps this timer running.
        connect(&closer, &QTimer::timeout, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                title = box->windowTitle();
                text = box->text();
                box->done(QMessageBox::Close);
            }
        });
        closer.start(10);
        model->updateAvailableClicked();
        QCOMPARE(title, QStringLiteral("VPN app update"));
        QCOMPARE(text,
                 "A new version is available. <a href=\"" + Deployment::value("web/redirect")
                     + "?to=" + Deployment::value("web/site")
                     + "/software-changelog\">See changelog</a><br> Download and install it from our website.");

        QSignalSpy versions(model.get(), &Model::appNewVersionChanged);
        model->setAppNewVersion("2.2.0");
        model->setAppNewVersion("2.2.0");
        QCOMPARE(versions.count(), 1);
        QCOMPARE(model->property("appNewVersion").toString(), QStringLiteral("2.2.0"));
    }

    void workerThreadLifetime()
    {
        ModelHolder model = makeModel();
        ConnectionThread* worker = model->connectionThread();
        QVERIFY(worker && worker->isRunning());
        QVERIFY(model->connection());
        QCOMPARE(model->connectionState(), Constants::ConnectState_Disconnected);
        model->stop();
        QVERIFY(worker->isFinished());
        QVERIFY(!model->connection());
        model->stop(); // a second stop finds nothing to do

        // Destroyed without stop(): the destructor ends the worker itself.
        Model* unstopped = new Model(nullptr);
        QVERIFY(unstopped->connectionThread()->isRunning());
        delete unstopped;
    }

    void aConnectPressedWhileTheWorkerStartsShowsConnectingAndASecondPressCancelsIt()
    {
        initResources();
        LogCapture log;
        // Not started: the worker is still held in its start-up.
        ModelHolder model = makeModel();
        model->setUsername("user");
        model->setUserpassword("password");
        Location::Ptr here(new Location("here"));
        here->setCode("here");
        here->setHost("127.0.0.1");
        model->setSelectedLocation(here);
        model->setSelectedProtocol(Protocol::Ptr(new Protocol(Constants::ProtocolType_OPENVPN256)));
        model->setSelectedPort(Port::Ptr(new Port("UDP-1194")));
        QSignalSpy engineStates(model.get(), &Model::connectionStateChanged);

        model->vpnConnectDisconnect();
        QCOMPARE(model->connectionThread()->askedState(), Constants::RequestedAction_Connect);
        QCOMPARE(model->connection()->connectState(), Constants::ConnectState_Disconnected);
        QCOMPARE(model->visualConnectionState(), Constants::ConnectState_Connecting);

        // What the window shows is a connect: the second press cancels it,
        // and the window goes back once the worker has dropped it.
        model->vpnConnectDisconnect();
        QTRY_COMPARE_WITH_TIMEOUT(model->visualConnectionState(), Constants::ConnectState_Disconnected, 10000);
        QVERIFY(log.contains("connect cancelled before it began"));
        QCOMPARE(model->connectionThread()->askedState(), Constants::RequestedAction_None);
        QCOMPARE(engineStates.count(), 0);
    }
};

OSTREL_TEST_MAIN(TestModel)
#include "tst_model.moc"
