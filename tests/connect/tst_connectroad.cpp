// The connect road end to end: a real Model with its worker, the OpenVPN
// beside the executable and the loopback demo server. As root the test runs
// in network and mount namespaces of its own, with a private layer over
// /etc, so the kill switch and the resolver script act on the test's copies
// only; otherwise it skips.
#include "testsupport.h"

#include "deployment.h"
#include "getservers.h"
#include "httpfixture.h"
#include "log.h"
#include "nstools.h"
#include "resources.h"
#include "roadrig.h"
#include "settings.h"
#include "systemhelper.h"
#include "tray_icon.h"

#include <QAbstractButton>
#include <QAction>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextDocument>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

const quint16 kPort = 11961;
// The server's own management interface.
const quint16 kServerManagementPort = 11963;
// Nobody answers there: a connect to it stays in Connecting.
const quint16 kSilentPort = 11962;
const QString kUser = QStringLiteral("road-user");
const QString kPassword = QStringLiteral("r0ad \"pass\" \\word");
const QByteArray kUsersResolver = "nameserver 192.0.2.53\n";
// OpenVPN's state line while it waits for the server's answer.
const QString kWaiting = QStringLiteral("^openvpn process \\d+ : >STATE:\\d+,WAIT,");

using NsTools::chainRules;
using TestSupport::readBytes;
using TestSupport::writeBytes;

// Answers the model's modal boxes with the given button and keeps their texts.
// With `ready`, a box is answered once that holds (or after 10 s), and
// whether it held is kept.
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(QMessageBox::StandardButton answer, std::function<bool()> ready = {})
        : m_answer(answer)
    {
        connect(&m_timer, &QTimer::timeout, this, [this, ready] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                m_shown.invalidate();
                return;
            }
            if (!m_shown.isValid())
                m_shown.start();
            const bool held = !ready || ready();
            if (!held && m_shown.elapsed() < 10000)
                return;
            m_shown.invalidate();
            texts << box->text();
            richText << (box->textFormat() == Qt::RichText);
            linksClickable << box->textInteractionFlags().testFlag(Qt::LinksAccessibleByMouse);
            readyWhenAnswered << held;
            if (QAbstractButton* button = box->button(m_answer))
                button->click();
            else
                box->close();
        });
        m_timer.start(50);
    }
    QStringList texts;
    QList<bool> richText;
    QList<bool> linksClickable;
    QList<bool> readyWhenAnswered;

private:
    QMessageBox::StandardButton m_answer;
    QTimer m_timer;
    QElapsedTimer m_shown;
};

// The server list of the tray's road: two locations of the loopback server
// in one region, a third elsewhere whose city differs from one refresh to
// the next, so that every merge updates an item.
QByteArray roadServerList(int refresh)
{
    return QStringLiteral(R"([{"l": "One", "h": "127.0.0.1", "c": "Road", "n": "rd1", "z": "Road"},
        {"l": "Two", "h": "127.0.0.1", "c": "Road", "n": "rd2", "z": "Road"},
        {"l": "Town %1", "h": "127.0.0.1", "c": "Far", "n": "far", "z": "Elsewhere"}])")
        .arg(refresh)
        .toUtf8();
}

// The tray's menu opened down to one region's submenu, as the keyboard
// opens it; null when it did not open.
QMenu* openTrayRegion(MTrayIcon* tray, const QString& caption)
{
    QMenu* menu = tray->menu();
    menu->popup(QPoint(0, 0));
    menu->setActiveAction(menu->actions().first());
    QTest::keyClick(menu, Qt::Key_Right);
    QMenu* connections = menu->actions().first()->menu();
    if (!QTest::qWaitFor([connections] { return connections->isVisible(); }))
        return nullptr;
    for (QAction* entry : connections->actions()) {
        if (entry->text() != "region: " + caption)
            continue;
        connections->setActiveAction(entry);
        QTest::keyClick(connections, Qt::Key_Right);
        QMenu* region = entry->menu();
        return QTest::qWaitFor([region] { return region->isVisible(); }) ? region : nullptr;
    }
    return nullptr;
}

// What a rich text reads as on the screen.
QString rendered(const QString& richText)
{
    QTextDocument document;
    document.setHtml(richText);
    return document.toPlainText();
}

// One command to the server's management interface; its answer up to the
// line that ends it ("END", or a line beginning "SUCCESS:" or "ERROR:").
QString serverCommand(const QByteArray& command)
{
    QTcpSocket socket;
    socket.connectToHost("127.0.0.1", kServerManagementPort);
    if (!socket.waitForConnected(5000))
        return QString();
    socket.write(command + "\n");
    QString answer;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 10000 && socket.waitForReadyRead(1000)) {
        answer += QString::fromLatin1(socket.readAll());
        const QStringList lines = answer.split("\r\n", Qt::SkipEmptyParts);
        for (const QString& line : lines) {
            if (line == "END" || line.startsWith("SUCCESS:") || line.startsWith("ERROR:"))
                return answer;
        }
    }
    return answer;
}

} // namespace

class TestConnectRoad : public QObject
{
    Q_OBJECT
    RoadRig m_rig;
    Model* m_model = nullptr;
    Location::Ptr m_here = RoadRig::loopbackLocation("road1");
    Location::Ptr m_there = RoadRig::loopbackLocation("road2");

    ConnectionThread* worker() { return m_rig.worker(); }
    qint64 clientPid() { return m_rig.clientPid(); }

    void disconnect() { m_rig.disconnectAndWait(); }

private slots:
    void initTestCase()
    {
        initResources();
        if (!NsTools::inPrivateNamespaces())
            QSKIP("needs root: the tunnel, the kill switch and the resolver file live in namespaces of the test's own");
        OSTREL_RIG_STEP(m_rig.enterPrivateEtc());
        OSTREL_RIG_STEP(m_rig.setUsersResolver(kUsersResolver));

        // The server side of the "udp-256" template.
        OSTREL_RIG_STEP(m_rig.startServer("udp", kPort, kUser, kPassword,
                                          { QString("management 127.0.0.1 %1").arg(kServerManagementPort) }));

        OSTREL_RIG_STEP(m_rig.startModel());
        m_model = m_rig.model();
        m_rig.logOn(kUser, kPassword, "UDP-" + QString::number(kPort),
                    DNSFiltering::Ptr(new DNSFiltering("s", Constants::DNSFiltering_secureDNS)));
        m_model->optionGatewayRemoval()->setValue(true);
    }

    void cleanupTestCase()
    {
        m_rig.tearDown();
        m_model = nullptr;
    }

    void connectAndDisconnect()
    {
        LogCapture log;
        m_model->setSelectedLocation(m_here);
        m_model->vpnConnectDisconnect();
        // One request at a time: a second waits for the first to be served.
        QVERIFY(!worker()->askState(Constants::RequestedAction_Connect));
        QTRY_COMPARE_WITH_TIMEOUT(m_model->connectionState(), Constants::ConnectState_Connected, 60000);
        QVERIFY(!worker()->waitWorkCompleted(60));
        QCOMPARE(m_model->visualConnectionState(), Constants::ConnectState_Connected);
        QCOMPARE(m_model->connectLocation(), m_here);

        // The system's reaction: kill switch for the server only, the local
        // network allowed, the service's resolver in the resolver file.
        QVERIFY(chainRules("ostrelallowedip").contains("-A ostrelallowedip -d 127.0.0.1/32 -j ACCEPT"));
        QVERIFY(!chainRules("lan").isEmpty());
        QVERIFY(
            readBytes("/etc/resolv.conf").contains("nameserver " + Deployment::value("dns/secureResolver").toLatin1()));
        QVERIFY(!m_model->isRestoreGwAvailable());

        // The password went over the management interface only.
        const qint64 pid = clientPid();
        QVERIFY(TestSupport::processAlive(pid));
        QVERIFY(!readBytes(QString("/proc/%1/cmdline").arg(pid)).contains(kPassword.toUtf8()));
        QVERIFY(
            !readBytes(SystemHelper::instance().configsFilesDirPath() + "/config.ovpn").contains(kPassword.toUtf8()));

        // Served and cleared without a second connect; a management command
        // typed on the debug page reaches OpenVPN.
        const int connects = log.count("^connect\\.\\.\\.$");
        QVERIFY(worker()->askState(Constants::RequestedAction_Connect));
        QTRY_COMPARE_WITH_TIMEOUT(worker()->askedState(), Constants::RequestedAction_None, 10000);
        QCOMPARE(log.count("^connect\\.\\.\\.$"), connects);
        m_model->writeOpenVpnCommand("verb");
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(">>>>>>> verb"), 10000);
        QCOMPARE(m_model->connectionState(), Constants::ConnectState_Connected);

        disconnect();
        QCOMPARE(m_model->visualConnectionState(), Constants::ConnectState_Disconnected);
        QVERIFY(!m_model->connectLocation());
        QCOMPARE(readBytes("/etc/resolv.conf"), kUsersResolver);
        QVERIFY(!TestSupport::processAlive(pid));
        // The kill switch outlives the tunnel until the user lifts it.
        QVERIFY(!chainRules("ostrelallowedip").isEmpty());
        QVERIFY(m_model->isRestoreGwAvailable());
        m_model->restoreGw();
        QVERIFY(chainRules("ostrelallowedip").isEmpty());
        QVERIFY(!m_model->isRestoreGwAvailable());

        for (const QString& line : LogCapture::lines())
            QVERIFY2(!line.contains(kPassword), qPrintable(line));
    }

    void changeLocationWhileConnected()
    {
        m_model->setSelectedLocation(m_here);
        m_model->vpnConnectDisconnect();
        QTRY_COMPARE_WITH_TIMEOUT(m_model->connectionState(), Constants::ConnectState_Connected, 60000);
        QSignalSpy changing(m_model, &Model::changingLocationFlagChanged);
        m_model->selectLocationWithConnect(m_there);
        QCOMPARE(m_model->selectedLocation(), m_there);
        QTRY_COMPARE_WITH_TIMEOUT(m_model->connectLocation(), m_there, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(m_model->connectionState(), Constants::ConnectState_Connected, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_model->changingLocationFlag(), 10000);
        QVERIFY(changing.count() >= 2 && changing.first().first().toBool());
        disconnect();
        m_model->restoreGw();
    }

    void theKillSwitchOptionActsOnTheRunningConnection()
    {
        m_model->optionGatewayRemoval()->setValue(false);
        m_model->optionDisableLANTraffic()->setValue(false);
        m_model->setSelectedLocation(m_here);
        m_model->vpnConnectDisconnect();
        QTRY_COMPARE_WITH_TIMEOUT(m_model->connectionState(), Constants::ConnectState_Connected, 60000);
        QVERIFY(!worker()->waitWorkCompleted(60));
        QVERIFY(chainRules("ostrelallowedip").isEmpty());

        // On while connected: in force at once, with the local network the
        // "Disable LAN Traffic" option allows; off: lifted at once.
        const QString server = "-A ostrelallowedip -d 127.0.0.1/32 -j ACCEPT";
        m_model->optionGatewayRemoval()->setValue(true);
        QVERIFY(chainRules("ostrelallowedip").contains(server));
        QVERIFY(!chainRules("lan").isEmpty());
        m_model->optionGatewayRemoval()->setValue(false);
        QVERIFY(chainRules("ostrelallowedip").isEmpty());
        // Off and on again keeps the local-network rule.
        m_model->optionGatewayRemoval()->setValue(true);
        m_model->optionGatewayRemoval()->setValue(false);
        m_model->optionGatewayRemoval()->setValue(true);
        QVERIFY(chainRules("ostrelallowedip").contains(server));
        QVERIFY(!chainRules("lan").isEmpty());

        // The tray's entry: with the kill switch in force it lifts it; without
        // it, it turns the option on, which puts it in force.
        m_model->sysIconDemands_onKillSwitchMenu();
        QVERIFY(chainRules("ostrelallowedip").isEmpty());
        m_model->optionGatewayRemoval()->setValue(false);
        m_model->sysIconDemands_onKillSwitchMenu();
        QVERIFY(m_model->optionGatewayRemoval()->value());
        QVERIFY(chainRules("ostrelallowedip").contains(server));
        QVERIFY(!chainRules("lan").isEmpty());
        QCOMPARE(m_model->connectionState(), Constants::ConnectState_Connected);

        disconnect();
        m_model->restoreGw();
        QVERIFY(chainRules("ostrelallowedip").isEmpty());
    }

    // A tunnel resolver the DNS script cannot write is told with its reason
    // instead of leaving the network's resolver in use unsaid.
    void aResolverThatCannotBeSetIsTold()
    {
        const QString script = QCoreApplication::applicationDirPath() + "/ostrel-dns";
        QTemporaryDir dir;
        // OpenVPN's up and down calls and "init" still reach the real script.
        QVERIFY(QFile::copy(script, dir.filePath("real")));
        QVERIFY(TestSupport::writeExecutable(dir.filePath("failing"),
                                             "#!/bin/bash\n"
                                             "case \"$1\" in dns_*)\n"
                                             "    echo \"ERROR: stand-in refuses $1\"\n"
                                             "    exit 1 ;;\n"
                                             "esac\n"
                                             "exec \""
                                                 + dir.filePath("real").toUtf8() + "\" \"$@\"\n"));
        QCOMPARE(NsTools::run("mount", { "--bind", dir.filePath("failing"), script }).code, 0);
        const auto unmount = qScopeGuard([&script] { NsTools::run("umount", { script }); });

        QSignalSpy toasts(m_model, &Model::qmlShowToast);
        m_model->setSelectedLocation(m_here);
        m_model->vpnConnectDisconnect();
        QTRY_COMPARE_WITH_TIMEOUT(m_model->connectionState(), Constants::ConnectState_Connected, 60000);
        QVERIFY(!worker()->waitWorkCompleted(60));
        disconnect();
        const QList<QVariant> told { QStringLiteral("The DNS servers of the VPN could not be set"),
                                     QStringLiteral("stand-in refuses dns_securedns_on") };
        QVERIFY2(toasts.contains(told), qPrintable(QString::number(toasts.size())));
        QCOMPARE(readBytes("/etc/resolv.conf"), kUsersResolver);
    }

    void aConnectionDroppedByTheServerIsToldAndAUsersDisconnectIsNot()
    {
        QSignalSpy toasts(m_model, &Model::qmlShowToast);
        auto disconnectedToasts = [&toasts] {
            int n = 0;
            for (const QList<QVariant>& toast : toasts)
                n += toast.first().toString() == QLatin1String("VPN disconnected") ? 1 : 0;
            return n;
        };
        m_model->setSelectedLocation(m_here);
        m_model->vpnConnectDisconnect();
        QTRY_COMPARE_WITH_TIMEOUT(m_model->connectionState(), Constants::ConnectState_Connected, 60000);
        QVERIFY(!worker()->waitWorkCompleted(60));
        disconnect();
        QCOMPARE(disconnectedToasts(), 0);

        // The server ends the session and tells the client to stop.
        m_model->vpnConnectDisconnect();
        QTRY_COMPARE_WITH_TIMEOUT(m_model->connectionState(), Constants::ConnectState_Connected, 60000);
        QVERIFY(!worker()->waitWorkCompleted(60));
        const QStringList status = serverCommand("status 2").split("\r\n");
        QStringList header, client;
        for (const QString& line : status) {
            if (line.startsWith("HEADER,CLIENT_LIST,"))
                header = line.split(',').mid(1);
            else if (line.startsWith("CLIENT_LIST,"))
                client = line.split(',');
        }
        const int cid = header.indexOf("Client ID");
        QVERIFY2(cid > 0 && client.size() > cid, qPrintable(status.join('\n')));
        QVERIFY(serverCommand("client-kill " + client.at(cid).toLatin1() + " HALT").contains("SUCCESS:"));
        QTRY_COMPARE_WITH_TIMEOUT(m_model->connectionState(), Constants::ConnectState_Disconnected, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(disconnectedToasts(), 1, 10000);
        QVERIFY(!worker()->waitWorkCompleted(60));
        m_model->restoreGw();
    }

    void quitWhileConnected()
    {
        m_model->optionMinimizeOnClose()->setValue(false);
        m_model->optionGatewayRemoval()->setValue(true);
        const QString logPath = m_rig.workPath("quit.log");
        const QString previousLog = ALog::filePath();
        ALog::init(logPath);
        const auto restoreLog = qScopeGuard([&] { ALog::init(previousLog); });
        m_model->trayIcon()->show();

        // From the window, then from the tray; the first quit empties the
        // log, the second ("FullLog") keeps it.
        for (const bool fromTray : { false, true }) {
            settings().setValue("FullLog", fromTray);
            m_model->setSelectedLocation(m_here);
            m_model->vpnConnectDisconnect();
            QTRY_COMPARE_WITH_TIMEOUT(m_model->connectionState(), Constants::ConnectState_Connected, 60000);
            QVERIFY(!worker()->waitWorkCompleted(60));
            QVERIFY(!chainRules("ostrelallowedip").isEmpty());
            QVERIFY(writeBytes(logPath, "lines of this session\n"));
            auto close = [&] {
                if (!fromTray)
                    return m_model->onMainWindowClosing();
                m_model->sysIconDemands_onClose();
                return m_model->connectionState() != Constants::ConnectState_Connected;
            };

            {
                BoxAnswerer cancel(QMessageBox::Cancel);
                QVERIFY(!close());
                QCOMPARE(cancel.texts, QStringList({ "Closing will disconnect your VPN" }));
            }
            QCOMPARE(m_model->connectionState(), Constants::ConnectState_Connected);
            QVERIFY(TestSupport::processAlive(clientPid()));
            QVERIFY(m_model->trayIcon()->isVisible());

            const qint64 pid = clientPid();
            {
                BoxAnswerer ok(QMessageBox::Ok);
                QVERIFY(close());
                QCOMPARE(ok.texts, QStringList({ "Closing will disconnect your VPN" }));
            }
            QCOMPARE(m_model->connectionState(), Constants::ConnectState_Disconnected);
            QTRY_VERIFY_WITH_TIMEOUT(!TestSupport::processAlive(pid), 10000);
            QVERIFY(!worker()->waitWorkCompleted(60));
            // The quit asked for ends the event loop, which then emits
            // aboutToQuit, connected as the model's start() connects it.
            const QMetaObject::Connection atEnd = connect(qApp, SIGNAL(aboutToQuit()), m_model, SLOT(aboutToQuit()));
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            QCoreApplication::exec();
            QObject::disconnect(atEnd);
            QVERIFY(chainRules("ostrelallowedip").isEmpty());
            QCOMPARE(readBytes("/etc/resolv.conf"), kUsersResolver);
            QCOMPARE(readBytes(logPath), fromTray ? QByteArray("lines of this session\n") : QByteArray());
            m_model->trayIcon()->show();
        }
        settings().setValue("FullLog", true);
    }

    // The engine's messages are rich text: a wrong password's help link can
    // be clicked, and the window shows the engine's state behind the box.
    void anErrorBoxShowsItsLinkAndTheStateBehindIt()
    {
        m_model->setSelectedLocation(m_here);
        const auto restore = qScopeGuard([this] {
            m_model->setUserpassword(kPassword);
            m_model->setSelectedProtocol(Protocol::Ptr(new Protocol(Constants::ProtocolType_OPENVPN256)));
        });
        // A wrong password; the XOR template, which this OpenVPN refuses.
        const QList<QPair<QString, Constants::ProtocolType>> cases = {
            { "wrong", Constants::ProtocolType_OPENVPN256 }, { kPassword, Constants::ProtocolType_OPENVPN_XOR }
        };
        BoxAnswerer ok(QMessageBox::Ok,
                       [this] { return m_model->visualConnectionState() == m_model->connectionState(); });
        for (const auto& c : cases) {
            m_model->setUserpassword(c.first);
            m_model->setSelectedProtocol(Protocol::Ptr(new Protocol(c.second)));
            const int boxes = ok.texts.size();
            m_model->vpnConnectDisconnect();
            QTRY_COMPARE_WITH_TIMEOUT(ok.texts.size(), boxes + 1, 60000);
            QTRY_COMPARE_WITH_TIMEOUT(m_model->connectionState(), Constants::ConnectState_Disconnected, 60000);
            QVERIFY(!worker()->waitWorkCompleted(60));
            QCOMPARE(m_model->visualConnectionState(), Constants::ConnectState_Disconnected);
        }
        QCOMPARE(ok.texts.size(), 2);
        QCOMPARE(ok.readyWhenAnswered, QList<bool>({ true, true }));
        QCOMPARE(ok.richText, QList<bool>({ true, true }));
        QCOMPARE(ok.linksClickable, QList<bool>({ true, true }));
        const QString help = Deployment::value("web/site") + "/help/auth-failed";
        QCOMPARE(rendered(ok.texts.first()), "Wrong VPN credentials. Error 'AUTH_FAILED'.\nSolution at " + help);
        QVERIFY(ok.texts.first().contains("<a href='" + help + "'>"));
        QCOMPARE(rendered(ok.texts.last()),
                 QStringLiteral("This OpenVPN does not support the scramble option that the XOR protocol needs."));
    }

    // With the kill switch on, a server it cannot let through (a host name
    // that does not resolve) is told at once instead of a connect that runs
    // into its time-out.
    void aServerTheKillSwitchCannotLetThroughIsTold()
    {
        SystemHelper& system = SystemHelper::instance();
        QVERIFY(system.removeDefaultRoute(QStringLiteral("127.0.0.1")));
        Location::Ptr nowhere = RoadRig::loopbackLocation("nowhere");
        nowhere->setHost(QStringLiteral("no-such-server.invalid"));
        const auto restore = qScopeGuard([this, &system] {
            m_model->setSelectedLocation(m_here);
            system.restoreDefaultRoute(false);
        });
        m_model->setSelectedLocation(nowhere);
        BoxAnswerer ok(QMessageBox::Ok);
        m_model->vpnConnectDisconnect();
        QTRY_COMPARE_WITH_TIMEOUT(ok.texts.size(), 1, 30000);
        QVERIFY(!worker()->waitWorkCompleted(30));
        QCOMPARE(rendered(ok.texts.first()),
                 QStringLiteral("The kill switch could not let the server through: the server's host name could not "
                                "be resolved, so the server is blocked too"));
        QCOMPARE(m_model->connectionState(), Constants::ConnectState_Disconnected);
        QCOMPARE(m_model->visualConnectionState(), Constants::ConnectState_Disconnected);
        QVERIFY(system.isDefaultRouteRemoved(false));
    }

    // The tray's road as a user takes it, connected: the menu open down to a
    // region, the server list's refresh arriving meanwhile (the menu's
    // rebuild waits for it to close, the pings start), a location chosen
    // there with the mouse. The model's reconnect waits seconds with events
    // flowing; it must not run under the menu's code, and the menu the click
    // came through must outlive its handling of the click.
    void aLocationChosenInTheTrayWhileTheListRefreshes()
    {
        const int rounds = 4;
        HttpFixture::Server lists;
        QVERIFY(lists.start());
        int refreshes = 0;
        const auto serveNextList = [&] {
            lists.setRoute("/api/locations.json", HttpFixture::Route::ok(roadServerList(refreshes++)));
        };
        serveNextList();
        lists.setRoute("/api/ike.json", HttpFixture::Route::ok(R"({"VPNs": []})"));
        // The road's protocol offers the server's port: the reconciliation
        // after each list keeps it.
        const Port::Ptr port = m_model->selectedPort();
        QVERIFY(port && port->id() == "UDP-" + QString::number(kPort));
        m_model->selectedProtocol()->ports()->setList({ port });
        QVERIFY(QMetaObject::invokeMethod(m_model, "setupGetLocationsHandlers"));
        getLocations().restart({ lists.url("/api/locations.json") }, { lists.url("/api/ike.json") });
        QTRY_VERIFY_WITH_TIMEOUT(m_model->locationsReceived(), 20000);
        QCOMPARE(m_model->selectedPort(), port);
        m_model->setSelectedLocation(m_model->locations()->find("rd1"));
        OSTREL_RIG_STEP(m_rig.connectAndWait());

        LogCapture log;
        const QString waiting = QStringLiteral("locations menu open: rebuilt once it closes");
        const QString choiceTaken = QStringLiteral("selectLocationWithConnect.* P1 ");
        for (int round = 0; round < rounds; ++round) {
            const Location::Ptr target = m_model->locations()->find(round % 2 ? "rd1" : "rd2");
            QVERIFY(target);
            const QPointer<QMenu> region = openTrayRegion(m_model->trayIcon(), QStringLiteral("Road"));
            QVERIFY(region);

            const int waited = log.count(waiting);
            serveNextList();
            getLocations().updateLocations();
            QTRY_COMPARE_WITH_TIMEOUT(log.count(waiting), waited + 1, 20000);
            QVERIFY(region->isVisible());

            QAction* entry = nullptr;
            for (QAction* action : region->actions()) {
                if (action->data().value<Location::Ptr>() == target)
                    entry = action;
            }
            QVERIFY(entry);
            const int choices = log.count(choiceTaken);
            QTest::mouseClick(region, Qt::LeftButton, Qt::NoModifier, region->actionGeometry(entry).center());
            QCOMPARE(log.count(choiceTaken), choices);
            QVERIFY(region);

            QTRY_COMPARE_WITH_TIMEOUT(m_model->connectLocation(), target, 60000);
            QTRY_COMPARE_WITH_TIMEOUT(m_model->connectionState(), Constants::ConnectState_Connected, 60000);
            QTRY_VERIFY_WITH_TIMEOUT(!m_model->changingLocationFlag(), 10000);
            QVERIFY(!worker()->waitWorkCompleted(60));
            // Rebuilt from the refreshed list; the old region menu is gone.
            QTRY_VERIFY(!region);
        }
        QCOMPARE(log.count(choiceTaken), rounds);

        // A second choice while the first one's reconnect waits runs inside
        // that wait: the later choice is the one that holds.
        const Location::Ptr first = m_model->locations()->find("far");
        const Location::Ptr second = m_model->locations()->find(m_model->connectLocation()->code() == "rd1" ? "rd2"
                                                                                                            : "rd1");
        QVERIFY(first && second);
        for (const Location::Ptr& choice : { first, second })
            QMetaObject::invokeMethod(
                m_model, [this, choice] { m_model->sysIconDemands_onLocationSelected(choice); }, Qt::QueuedConnection);
        QTRY_COMPARE_WITH_TIMEOUT(log.count(choiceTaken), rounds + 2, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(m_model->connectLocation() == second
                                     && m_model->connectionState() == Constants::ConnectState_Connected,
                                 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_model->changingLocationFlag(), 10000);
        QVERIFY(!worker()->waitWorkCompleted(60));
        QCOMPARE(m_model->connectionState(), Constants::ConnectState_Connected);
        QCOMPARE(m_model->selectedLocation(), second);
        // The refreshes' latency measurements ran beside the choices.
        const QList<Location::Ptr> measured = m_model->locations()->list();
        QVERIFY(std::any_of(measured.begin(), measured.end(),
                            [](const Location::Ptr& location) { return location->pingMs() >= 0; }));
        disconnect();
        m_model->restoreGw();
    }

    void disconnectCutsAConnectShortAndStopEndsTheWorker()
    {
        m_model->setSelectedPort(Port::Ptr(new Port("UDP-" + QString::number(kSilentPort))));
        QSignalSpy states(m_model, &Model::connectionStateChanged);
        LogCapture log;
        m_model->setSelectedLocation(m_here);
        m_model->vpnConnectDisconnect();
        // OpenVPN waits for the server that never answers.
        QTRY_COMPARE_WITH_TIMEOUT(log.count(kWaiting), 1, 30000);
        QCOMPARE(m_model->connectionState(), Constants::ConnectState_Connecting);

        // Pressed again while connecting: the disconnect is refused, the
        // connect still being served, but it cuts that connect short.
        m_model->vpnConnectDisconnect();
        QCOMPARE(log.count("^askedState Connect needState Disconnect$"), 1);
        QTRY_COMPARE_WITH_TIMEOUT(m_model->connectionState(), Constants::ConnectState_Disconnected, 60000);
        QVERIFY(!worker()->waitWorkCompleted(60));
        for (const QList<QVariant>& change : states)
            QVERIFY(change.first().value<Constants::ConnectState>() != Constants::ConnectState_Connected);
        QVERIFY(!TestSupport::processAlive(clientPid()));

        // Stopping the model in the middle of a connect ends the worker and
        // leaves no OpenVPN behind.
        m_model->vpnConnectDisconnect();
        QTRY_VERIFY_WITH_TIMEOUT(log.count(kWaiting) > 1, 30000);
        const qint64 pid = clientPid();
        QVERIFY(TestSupport::processAlive(pid));
        m_model->stop();
        QVERIFY(worker()->isFinished());
        QVERIFY(!TestSupport::processAlive(pid));
    }
};

OSTREL_TEST_MAIN(TestConnectRoad, TestMain::PrivateNamespaces)

#include "tst_connectroad.moc"
