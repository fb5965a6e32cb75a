// The model's window, display and single-instance code, its helpers for the
// QML pages, its web links and its answers to the real tray icon. The
// kill-switch cases run only as root, inside namespaces the test starts in.

#include "testsupport.h"

#include "deployment.h"
#include "log.h"
#include "model/model.h"
#include "model/windowhelpers.h"
#include "nstools.h"
#include "qopenvpn2custom.h"
#include "settings.h"
#include "singlestartman.h"
#include "systemhelper.h"

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QWindow>

#include <cmath>
#include <functional>
#include <pwd.h>

namespace {

// Answers the next modal dialog with `answer` and keeps its text.
class ModalAnswerer : public QObject
{
public:
    explicit ModalAnswerer(std::function<void(QWidget*)> answer)
        : m_answer(std::move(answer))
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this]() {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                if (auto* box = qobject_cast<QMessageBox*>(modal))
                    text = box->text();
                m_timer.stop();
                m_answer(modal);
            }
        });
        m_timer.start();
    }
    QString text;

private:
    std::function<void(QWidget*)> m_answer;
    QTimer m_timer;
};

void clickBox(QWidget* modal, QMessageBox::StandardButton button)
{
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        box->button(button)->click();
}

// Runs `action` inside the application's event loop; true when it asked the
// application to quit. The loop's end also clears the quit request.
bool quitRequestedBy(const std::function<void()>& action)
{
    // Gone with this function, so no later event loop meets it.
    QTimer notQuit;
    notQuit.setSingleShot(true);
    QObject::connect(&notQuit, &QTimer::timeout, []() { QCoreApplication::exit(1); });
    QTimer::singleShot(0, qApp, [&]() {
        action();
        notQuit.start(0);
    });
    return QCoreApplication::exec() == 0;
}

QString killSwitchScript()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/ostrel-killswitch.sh");
}

} // namespace

class TestModelWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    Model* m_model = nullptr;
    QWindow* m_window = nullptr;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // The single-instance socket lives in the temporary directory: a
        // private one, apart from a client that may run on this desktop.
        qputenv("TMPDIR", m_dir.path().toLocal8Bit());
        settings().setValue("disableLatencyTest", true);
        m_model = new Model(nullptr);
        m_window = new QWindow();
        m_window->setObjectName(QStringLiteral("mainWindow"));
    }

    void cleanupTestCase()
    {
        delete m_window;
        m_model->stop();
        delete m_model;
        SystemHelper::release();
    }

    void textHelpers()
    {
        QCOMPARE(elapsedTimeText(59), QStringLiteral("59s"));
        QCOMPARE(elapsedTimeText(60), QStringLiteral("1m:0s"));
        QCOMPARE(elapsedTimeText(3599), QStringLiteral("59m:59s"));
        QCOMPARE(elapsedTimeText(3600), QStringLiteral("1h:0m"));
        QCOMPARE(elapsedTimeText(86399), QStringLiteral("23h:59m"));
        QCOMPARE(elapsedTimeText(25 * 3600), QStringLiteral("1d:1h"));
        QCOMPARE(elapsedTimeText(-5), QStringLiteral("-5s"));
        // Counted from the given moment to now.
        QCOMPARE(m_model->getElapsedTimeString(QDateTime::currentDateTime().addSecs(-(2 * 3600 + 3 * 60 + 30))),
                 QStringLiteral("2h:3m"));

        QCOMPARE(displayScaleFactor(0, 200), 200.0 / 96);
        QCOMPARE(displayScaleFactor(std::nan(""), std::nan("")), 1.0);
        QCOMPARE(displayScaleFactor(120, 20000), 1.0);
        QCOMPARE(displayScaleFactor(120, 240), 2.0);

        QCOMPARE(m_model->newsDateString(QDate(2016, 10, 5)), QStringLiteral("05 October 2016"));
        QCOMPARE(m_model->makeTextLink("u", "News"), QStringLiteral("<font color=\"#269DE2\">News</font>"));
        QVERIFY(!m_model->checkUserName("alice ").isEmpty());
        QVERIFY(m_model->checkUserName("").isEmpty());
        QVERIFY(!m_model->checkUserPassword(" pw").isEmpty());
        QVERIFY(m_model->checkUserPassword("p w").isEmpty());
    }

    void logWindowTextAndCopies()
    {
        const QString logPath = m_dir.filePath("log/ostrel.log");
        const QString previous = ALog::filePath();
        ALog::init(logPath);
        const auto restore = qScopeGuard([&]() { ALog::init(previous); });
        const auto writeLog = [&](const QByteArray& content) {
            QFile file(logPath);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(content);
        };

        QFile::remove(logPath);
        QCOMPARE(m_model->getLogText(), QString());
        const QByteArray tail = QByteArray(204800 - 4, 'b') + "END\n";
        writeLog(tail);
        QCOMPARE(m_model->getLogText(), QString::fromLatin1(tail));
        writeLog(QByteArray(102400, 'a') + tail);
        QCOMPARE(m_model->getLogText(), "Skip 100  Kb\n\n" + QString::fromLatin1(tail));

        // Saving asks for a target; one that exists was confirmed in the
        // dialog and is replaced.
        const QString target = m_dir.filePath("saved.txt");
        writeLog("log line\n");
        {
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("older save");
        }
        ModalAnswerer chooser([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            dialog->setOption(QFileDialog::DontConfirmOverwrite);
            dialog->selectFile(target);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        // A log left readable by everyone still gives a private copy.
        QVERIFY(QFile::setPermissions(logPath, QFile::Permissions(0x6644)));
        m_model->saveLog();
        QFile saved(target);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QByteArray("log line\n"));
        QCOMPARE(saved.permissions() & QFile::Permissions(0x7077), QFile::Permissions(0x6000));

        // The dialog opens in the home directory, wherever the program was
        // started from.
        const QString startDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        const auto backToStartDir = qScopeGuard([&]() { QDir::setCurrent(startDir); });
        LogCapture log;
        QString proposedDir;
        ModalAnswerer canceller([&](QWidget* modal) {
            proposedDir = qobject_cast<QFileDialog*>(modal)->directory().absolutePath();
            qobject_cast<QDialog*>(modal)->reject();
        });
        m_model->saveLog();
        QVERIFY(log.contains("log file not saved"));
        QCOMPARE(proposedDir, QDir(QDir::homePath()).absolutePath());

        // The debug page's exception is caught, logged and leaves a copy of
        // the log beside it.
        m_model->exception();
        QVERIFY(!LogCapture::matching("EXCEPTION in CATCHALL block.*Model::exception").isEmpty());
        const QStringList copies = QDir(m_dir.filePath("log")).entryList({ "ostrel.log2*.txt" }, QDir::Files);
        QCOMPARE(copies.size(), 1);
    }

    void showLogNamesLengthsOnly()
    {
        Settings::set_username("alice");
        Settings::set_password("s3cr3t-pw");
        m_model->setUsername("bob");
        m_model->setUserpassword("other-pw");
        LogCapture log;
        QSignalSpy shown(m_model, &Model::qmlShowLog);
        m_model->showLog();
        QCOMPARE(shown.count(), 1);
        QVERIFY(log.contains("config u/p length:  5 / 9"));
        QVERIFY(log.contains("current u/p length:  3 / 8"));
        for (const QString& line : LogCapture::lines()) {
            QVERIFY2(!line.contains("s3cr3t") && !line.contains("other-pw") && !line.contains("alice"),
                     qPrintable(line));
        }
        TestSupport::resetSettings();
        settings().setValue("disableLatencyTest", true);
    }

    // Every web address leaves through the link script, which opens it as
    // the desktop user (nobody here, as under pkexec), never as root: the
    // web-link slots, the QML pages' links and the links Qt opens itself in
    // the engine's error box. An opener that fails, or a refused address, is
    // told in a toast.
    void webLinks()
    {
        if (!TestSupport::isRoot())
            QSKIP("the link script opens as the desktop user only when running as root");
        const passwd* nobody = getpwnam("nobody");
        QVERIFY(nobody);
        // A stand-in opener nobody can run, writing down who it ran as.
        QTemporaryDir shared(QDir::rootPath() + "tmp/ostrel-links-XXXXXX");
        const QString bin = shared.filePath("bin");
        const QString out = shared.filePath("out");
        QVERIFY(QDir().mkdir(bin) && QDir().mkdir(out));
        QVERIFY(QFile::setPermissions(shared.path(), QFile::Permissions(0x7755)));
        QVERIFY(QFile::setPermissions(bin, QFile::Permissions(0x7755)));
        QVERIFY(QFile::setPermissions(out, QFile::Permissions(0x7777)));
        QVERIFY(TestSupport::writeExecutable(bin + "/xdg-open",
                                             "#!/bin/sh\n"
                                             "[ \"$OSTREL_TEST_OPENER\" = fail ] && exit 3\n"
                                             "echo \"$(id -u) $1\" >> \"$OSTREL_TEST_OUT/opened\"\n"));
        QVERIFY(QFile::setPermissions(bin + "/xdg-open", QFile::Permissions(0x7755)));
        const QByteArray path = qgetenv("PATH");
        const QByteArray sudoUser = qgetenv("SUDO_USER");
        qputenv("PATH", bin.toLocal8Bit() + ":" + path);
        qputenv("OSTREL_TEST_OUT", out.toLocal8Bit());
        qputenv("PKEXEC_UID", QByteArray::number(nobody->pw_uid));
        qunsetenv("SUDO_USER");
        const auto restore = qScopeGuard([&]() {
            qputenv("PATH", path);
            qunsetenv("PKEXEC_UID");
            qunsetenv("OSTREL_TEST_OPENER");
            if (!sudoUser.isEmpty())
                qputenv("SUDO_USER", sudoUser);
        });
        const auto opened = [&]() {
            QStringList lines = SystemHelper::readAllStrings(out + "/opened");
            lines.sort();
            return lines;
        };

        const QString redirect = Deployment::value("web/redirect") + "?to=" + Deployment::value("web/site");
        const QString help = Deployment::value("web/site") + "/help/auth-failed";
        m_model->onWhatProtocolToUse(QString());
        m_model->resetPassword();
        // The error box's help link, chosen with the keyboard.
        QVERIFY(QMetaObject::invokeMethod(m_model, "onConnectionError", Q_ARG(QString, userErrorMessageAuthFailed())));
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        auto* label = box->findChild<QLabel*>("qt_msgbox_label");
        QVERIFY(label && label->text().contains(help));
        QTest::keyClick(label, Qt::Key_Tab);
        QTest::keyClick(label, Qt::Key_Return);
        box->close();
        const QString uid = QString::number(nobody->pw_uid) + ' ';
        QTRY_COMPARE_WITH_TIMEOUT(opened().size(), 3, 10000);
        QStringList expected { uid + help, uid + redirect + "/clientarea.php?action=products",
                               uid + redirect + "/knowledgebase/36/PPTP-vs-L2TP-vs-OpenVPN-which-one-to-use.html" };
        expected.sort();
        QCOMPARE(opened(), expected);

        // No browser can be started, or the address is refused: the user is
        // told which address could not be opened.
        qputenv("OSTREL_TEST_OPENER", "fail");
        QSignalSpy toasts(m_model, &Model::qmlShowToast);
        m_model->onSupport(QString());
        m_model->iPLeakCheck();
        m_model->linkAktivated("file:///etc/shadow");
        QTRY_COMPARE_WITH_TIMEOUT(toasts.count(), 3, 10000);
        QStringList told;
        for (const QList<QVariant>& toast : toasts) {
            QCOMPARE(toast.at(0).toString(), QStringLiteral("The link could not be opened"));
            told << toast.at(1).toString();
        }
        QCOMPARE(told,
                 QStringList({ redirect + "/support", Deployment::value("web/geo") + "/", "file:///etc/shadow" }));
        QCOMPARE(opened().size(), 3);
    }

    void closingAndMinimising()
    {
        QVERIFY(!m_window->isVisible());
        m_model->sysIconDemands_onOpen();
        QVERIFY(m_window->isVisible());
        QCOMPARE(m_model->sysIconDemands_window(), m_window);

        // Minimise-on-close is on by default: closing a shown window only
        // minimises it, without a question.
        QVERIFY(m_model->optionMinimizeOnClose()->value());
        QSignalSpy closing(m_model, &Model::beforeAppClose);
        QVERIFY(!m_model->onMainWindowClosing());
        QTRY_COMPARE(m_window->visibility(), QWindow::Minimized);
        QCOMPARE(closing.count(), 0);

        // A minimised window closes for real; disconnected and without the
        // kill switch nothing is asked.
        bool accepted = false;
        QVERIFY(quitRequestedBy([&]() { accepted = m_model->onMainWindowClosing(); }));
        QVERIFY(accepted);
        QCOMPARE(closing.count(), 1);
        QApplication::setQuitOnLastWindowClosed(false);
    }

    void trayDemands()
    {
        MTrayIcon* tray = m_model->trayIcon();
        QVERIFY(tray);
        const auto iconIs = [tray](const char* path) {
            return tray->icon().pixmap(16).toImage() == QIcon(path).pixmap(16).toImage();
        };
        // Plain icons by default; the colour preference applies at once; a
        // hidden preference means colour.
        QVERIFY(iconIs(":/MainWindow/Images/vpn-grey.png"));
        m_model->optionMacUseColorIcons()->setValue(true);
        QVERIFY(iconIs(":/MainWindow/Images/ostrel-red.png"));
        m_model->optionMacUseColorIcons()->setValue(false);
        m_model->optionMacUseColorIcons()->setVisible(false);
        QVERIFY(m_model->sysIconDemands_useColoredIcon());
        m_model->optionMacUseColorIcons()->setVisible(true);

        // The menu offers a region's locations of the selected protocol's kind.
        Region::Ptr europe(new Region("eu"));
        europe->setCaption("Europe");
        const auto location = [&](const char* code, Constants::LocationType type) {
            Location::Ptr l(new Location(code));
            l->setCode(code);
            l->setCaption(QString(code).toUpper());
            l->setRegion(europe);
            l->setLocationType(type);
            return l;
        };
        m_model->locations()->setList({ location("nl", Constants::LocationType_Common),
                                        location("de-ike", Constants::LocationType_Ike),
                                        location("fr", Constants::LocationType_Common) });
        m_model->regions()->setList({ europe });
        QVERIFY(m_model->sysIconDemands_locationsForRegion(europe).isEmpty());
        Protocol::Ptr ike(new Protocol(Constants::ProtocolType_IKEv2));
        ike->setLocationType(Constants::LocationType_Ike);
        m_model->setSelectedProtocol(ike);
        tray->initConnectionsMenu();
        QMenu* connections = tray->menu()->actions().first()->menu();
        QCOMPARE(connections->actions().size(), 1);
        QStringList offered;
        for (QAction* action : connections->actions().first()->menu()->actions())
            offered << action->text();
        QCOMPARE(offered, QStringList { "DE-IKE" });

        // "Exit" hides the icon and, disconnected, quits without a question.
        QAction* exitAction = nullptr;
        for (QAction* action : tray->menu()->actions()) {
            if (action->text() == QLatin1String("&Exit"))
                exitAction = action;
        }
        QVERIFY(exitAction);
        tray->show();
        QVERIFY(quitRequestedBy([&]() { exitAction->trigger(); }));
        QVERIFY(!tray->isVisible());
        QApplication::setQuitOnLastWindowClosed(false);
    }

    void singleInstanceServer()
    {
        m_window->hide();
        QVERIFY(!activateRunningInstance(500));
        QVERIFY(m_model->startIpcServer());

        QLocalSocket client;
        client.connectToServer(SingleStartMan::ipcServerPath());
        QVERIFY(client.waitForConnected(5000));
        // The server answers on this thread: no blocking waits here.
        QByteArray frame;
        QTRY_VERIFY_WITH_TIMEOUT((frame += client.readAll()).size() >= 22, 5000);
        QCOMPARE(frame.size(), 22);
        QCOMPARE(frame.left(6),
                 QByteArray::fromHex("00140000"
                                     "0010"));
        QCOMPARE(frame.mid(6), QByteArray("\0I\0'\0m\0 \0h\0e\0a\0r", 16));
        QTRY_VERIFY(m_window->isVisible());

        // Another start's check, and the debug page's test, get the answer.
        m_window->hide();
        QVERIFY(TestSupport::activatedFromAnotherThread());
        QTRY_VERIFY(m_window->isVisible());
        LogCapture log;
        QMetaObject::invokeMethod(m_model, "ipcConnectionTest");
        QTRY_VERIFY(!LogCapture::matching("ipcClientRead.*I'm hear").isEmpty());
    }

    void singleInstanceNameTaken()
    {
        // A model that ends takes its socket away.
        const QString socketPath = SingleStartMan::ipcServerPath();
        QVERIFY(QFile::exists(socketPath));
        m_model->stop();
        delete m_model;
        m_model = nullptr;
        QVERIFY(!QFile::exists(socketPath));

        // A live server that is not ours keeps its name.
        m_model = new Model(nullptr);
        QLocalServer foreign;
        QVERIFY(foreign.listen(socketPath));
        LogCapture log;
        QVERIFY(!m_model->startIpcServer());
        QVERIFY(log.contains("ostrel.ipcServer not started"));
        QVERIFY(foreign.isListening() && QFile::exists(socketPath));
        QVERIFY(!activateRunningInstance(500));
    }

    void killSwitchOnClosingAndFromTheTray()
    {
        if (!NsTools::inPrivateNamespaces())
            QSKIP("needs root and a private network namespace: the kill-switch state is the system's");
        QCOMPARE(NsTools::run(killSwitchScript(), { "enable", "198.51.100.7" }).code, 0);
        const auto disable = qScopeGuard([]() { NsTools::run(killSwitchScript(), { "disable" }); });

        // Found in force at start: offered for lifting once the status,
        // asked in the background, is in.
        {
            Model started(nullptr);
            QVERIFY(started.start());
            QTRY_VERIFY_WITH_TIMEOUT(started.isRestoreGwAvailable(), 15000);
            started.stop();
        }

        // Closing while the kill switch holds the traffic asks first.
        {
            QApplication::setQuitOnLastWindowClosed(false);
            ModalAnswerer cancel([](QWidget* modal) { clickBox(modal, QMessageBox::Cancel); });
            QVERIFY(!m_model->beforClosing());
            QCOMPARE(cancel.text, QStringLiteral("Kill switch will be disabled on exit"));
            // Cancelled: closing the window later still only hides it.
            QVERIFY(!QApplication::quitOnLastWindowClosed());
        }
        {
            ModalAnswerer ok([](QWidget* modal) { clickBox(modal, QMessageBox::Ok); });
            QVERIFY(m_model->beforClosing());
        }
        QApplication::setQuitOnLastWindowClosed(false);

        // Disconnected, the tray's kill-switch entry lifts it.
        m_model->sysIconDemands_onKillSwitchMenu();
        QVERIFY(!SystemHelper::instance().isDefaultRouteRemoved(false));
        QVERIFY(!m_model->optionGatewayRemoval()->value());
    }

    void aKillSwitchStatusStillRunningAtQuitEndsBeforeTheModelIsGone()
    {
        if (!NsTools::inPrivateNamespaces())
            QSKIP("needs root and a private mount namespace: the slow script is bound over the real one");
        // A status run slower than the other jobs' wait at stop (a busy
        // machine, a stalled iptables lock).
        const QString slow = m_dir.filePath("slow-killswitch.sh");
        QVERIFY(TestSupport::writeExecutable(slow, "#!/bin/sh\n[ \"$1\" = status ] && sleep 8\nexit 0\n"));
        QCOMPARE(NsTools::run("mount", { "--bind", slow, killSwitchScript() }).code, 0);
        const auto unbind = qScopeGuard([]() { NsTools::run("umount", { killSwitchScript() }); });

        LogCapture log;
        {
            Model model(nullptr);
            QVERIFY(model.start());
            QTRY_VERIFY_WITH_TIMEOUT(log.contains("command: .../ostrel-killswitch.sh status"), 10000);
            model.stop();
            QVERIFY(!log.contains("left behind"));
        }
        // The query has ended with the model: nothing of it runs on into
        // the platform object released at quit.
        SystemHelper::release();
        QVERIFY(QThreadPool::globalInstance()->waitForDone(0));
        QVERIFY(log.contains("ostrel-killswitch.sh timeout expired"));
    }
};

OSTREL_TEST_MAIN(TestModelWindow, TestMain::PrivateNamespaces)

#include "tst_modelwindow.moc"
