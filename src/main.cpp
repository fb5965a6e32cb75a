// The process entry: detaches from the terminal, reads the switches, starts
// logging, imports older settings, runs the update step, then creates the
// model and the QML engine, runs the event loop and shuts everything down.

#include "checknewversion.h"
#include "log.h"
#include "model/model.h"
#include "model/windowhelpers.h"
#include "processentry.h"
#include "qml/qmlregistration/componentcachemanager.h"
#include "resources.h"
#include "settings.h"
#include "singlestartman.h"
#include "systemhelper.h"
#include "utils.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QIcon>
#include <QMessageBox>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlDebuggingEnabler>
#include <QSocketNotifier>
#include <QSslSocket>
#include <QSysInfo>
#include <QThread>
#include <QThreadPool>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>

#include <csignal>
#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

static QQmlDebuggingEnabler s_qmlDebuggingEnabler;

namespace {

// Below this run time an exception is reported, but only with software
// OpenGL, where a broken graphics stack shows up soon after start.
constexpr qint64 kExceptionReportMaxSeconds = 119;
// How long a second start waits for the running instance to answer.
constexpr int kRunningInstanceWaitMs = 2000;

// Before logging starts, the start-up lines go straight to standard output;
// flushed at once, so a fork never duplicates them.
void say(const QString& line, bool newLine = true)
{
    const QByteArray text = line.toLocal8Bit();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    if (newLine)
        std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString sidAndPid()
{
    return QString::number(getsid(0)) + QStringLiteral("/") + QString::number(getpid());
}

// SIGTERM and SIGINT end the event loop, so that the ordinary shut-down runs.
int g_signalPipe[2] = { -1, -1 };
volatile std::sig_atomic_t g_quitRequested = 0;

void onQuitSignal(int)
{
    g_quitRequested = 1;
    const char c = 1;
    const ssize_t ignored = ::write(g_signalPipe[0], &c, 1);
    (void)ignored;
}

void installQuitSignals(QApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) {
        qWarning().noquote() << "no quit on signals: socketpair failed";
        return;
    }
    auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, &app);
    ASSERT_CONNECT(QObject::connect(notifier, &QSocketNotifier::activated, &app, []() {
        char c;
        const ssize_t ignored = ::read(g_signalPipe[1], &c, 1);
        (void)ignored;
        qDebug().noquote() << "quit requested by a signal";
        QCoreApplication::quit();
    }));
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

// Qt ends the process with exit() from inside its event handling when the
// connection to the display breaks, as at a logout, maybe in the middle of
// the quit. exit() destroys the exiting thread's thread-local objects before
// any static object and before calling any other exit handler: this one,
// armed on the GUI thread while the model runs, completes the quit there,
// then ends the process at once, without destroying the static objects that
// threads still running (Qt's own among them) may use.
class QuitOnExit
{
public:
    // The calling thread's object, made on the first call.
    static QuitOnExit& ofThisThread()
    {
        static thread_local QuitOnExit hook;
        return hook;
    }

    void arm(Model* model) { m_model = model; }
    void disarm() { m_model = nullptr; }

    ~QuitOnExit()
    {
        if (!m_model)
            return;
        try {
            const bool threadsEnded = m_model->completeQuitWhileEnding();
            // Joins the firewall's and the resolver's threads; nothing that
            // still runs may find it gone.
            if (threadsEnded)
                SystemHelper::release();
            else
                qCritical().noquote() << Q_FUNC_INFO << "a thread is still running: the platform layer stays";
            // The static objects write nothing back any more.
            settings().sync();
            qDebug().noquote() << Q_FUNC_INFO << "app finished while ending";
            ALog::stopLogging();
        } catch (...) {
            qCritical().noquote() << Q_FUNC_INFO << "exception";
        }
        std::fflush(nullptr);
        ::_exit(1);
    }

private:
    QuitOnExit() = default;

    Model* m_model = nullptr;
};

void reportException(const std::exception_ptr& stored)
{
    try {
        std::rethrow_exception(stored);
    } catch (const std::runtime_error& error) {
        qWarning().noquote() << "Runtime error: " << error.what();
    } catch (const std::exception& error) {
        qWarning().noquote() << "Error occurred: " << error.what();
    } catch (...) {
        qWarning().noquote() << "Unknown failure occurred. Possible memory corruption";
    }
}

} // namespace

int main(int argc, char* argv[])
{
    // The helper threads (fetches, pings, script runs) are short-lived and
    // many; an allocation arena of their own each would keep what they
    // freed resident for the rest of the run.
    mallopt(M_ARENA_MAX, 2);
    initResources();

    // 1. Banner.
    say(QStringLiteral("ostrel started ..."));
    say(QStringLiteral("getpid: ") + QString::number(getpid()));
    say(QStringLiteral("getsid: ") + QString::number(getsid(0)));
    say(QStringLiteral("productType: ") + QSysInfo::productType());

    // 2. Started from a terminal: the shell gets its prompt back and the
    // client goes on in a session of its own.
    QString forkInfo;
    if (isatty(STDIN_FILENO) && !Settings::isOpensuse()) {
        say(QStringLiteral("FORK..."));
        forkInfo = QStringLiteral("FORK:") + QString::number(getpid());
        const pid_t pid = fork();
        if (pid > 0) {
            say(QStringLiteral("FORK success! ") + sidAndPid());
            say(QStringLiteral("parent process COMPLITED after fork!"));
            return 0;
        }
        if (pid == 0) {
            say(QStringLiteral("child process... "), false);
            forkInfo += QStringLiteral("is child process:") + QString::number(getpid());
            say(QStringLiteral("befor setsid ") + sidAndPid());
            forkInfo += QStringLiteral("befor setsid:") + QString::number(getsid(0));
            setsid();
            say(QStringLiteral("after setsid ") + sidAndPid());
            forkInfo += QStringLiteral("after setsid:") + QString::number(getsid(0));
        } else {
            // No child: this process carries on attached to the terminal.
            say(QStringLiteral("FORK failed: ") + QString::fromLocal8Bit(std::strerror(errno)));
            forkInfo += QStringLiteral("fork failed");
        }
    } else {
        forkInfo = QStringLiteral("no isatty(...)");
    }

    // 3. Switches.
    const bool haveX = haveXArg(argc, argv, 'X');
    const bool haveD = haveXArg(argc, argv, 'D');

    // 4. The side file beside the program path as given. It lives until
    // after the application object.
    const QSharedPointer<Settings> sideSettings = findSettingInDir(QString::fromLocal8Bit(argv[0]));

    // The application name fixes the settings file; whether that file held
    // anything before this start decides the import of older settings.
    QCoreApplication::setApplicationName(QStringLiteral("ostrel"));
    const bool firstStart = settings().isEmpty();

    // 5. OpenGL back end, chosen before the application object exists.
    const bool useSoftwareOpenGL = chooseSoftwareOpenGL(
        haveX, sideSettings.data(),
        settings().valueReadOnly(QString::fromLatin1(kUseSoftwareOpenGLKey), false).toBool());
    if (useSoftwareOpenGL)
        QCoreApplication::setAttribute(Qt::AA_UseSoftwareOpenGL);

    // 6. Application object.
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ostrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(OSTREL_VERSION_STR));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/MainWindow/Images/ostrel.ico")));
    QThreadPool::globalInstance()->setMaxThreadCount(16);
    installQuitSignals(app);

    // One client per user: the check and the claim are one step, so of two
    // starts at once exactly one goes on. A running instance brings its
    // window up and this start ends, before it could empty that instance's
    // log. A start that finishes an update waits for the old instance
    // instead.
    const bool finishesUpdate = std::any_of(
        argv + 1, argv + argc, [](const char* argument) { return std::strncmp(argument, "--update=", 9) == 0; });
    if (!finishesUpdate) {
        const SingleStartMan::Claim claim = SingleStartMan::claimInstance();
        if (claim == SingleStartMan::Claim::Unchecked)
            say(QStringLiteral("single-instance check not possible: no private data directory"));
        if (claim == SingleStartMan::Claim::Running) {
            // An instance that has only just started listens a little later.
            QElapsedTimer waited;
            waited.start();
            bool answered = false;
            while (!answered && !g_quitRequested) {
                answered = activateRunningInstance(int(std::max<qint64>(1, kRunningInstanceWaitMs - waited.elapsed())));
                if (answered || waited.elapsed() >= kRunningInstanceWaitMs)
                    break;
                QThread::msleep(100);
            }
            if (answered) {
                say(QStringLiteral("another instance is running: its window was brought to the front"));
                return 0;
            }
            // Alive, since it holds the lock, but silent (still starting,
            // or hanging): the user is told, and no second client starts.
            const QString text = QStringLiteral("another instance is running but does not answer");
            say(text);
            QMessageBox box(QMessageBox::Information, QStringLiteral("OSTREL Client Software"), text, QMessageBox::Ok);
            if (!g_quitRequested)
                box.exec();
            return 0;
        }
    }

    // 7. Logging.
    ALog::init(Settings::logFullFileName());
    if (Settings::fullLog())
        ALog::installMessageHandler();
    ALog::Clear();
    ALog::startLogging();

    // 8. Diagnostic block.
    qDebug().noquote() << QDateTime::currentDateTime().toString(QStringLiteral("yyyy.MM.dd hh:mm:ss"));
    qDebug().noquote() << "systemEnvironment: " << QProcess::systemEnvironment();
    Settings::logAllValues();
    qDebug().noquote() << "getpid: " << getpid();
    qDebug().noquote() << "getsid: " << getsid(0);
    qDebug().noquote() << "forkInfo: " << forkInfo;
    qDebug().noquote() << "productType: " << QSysInfo::productType();

    // 9. Settings clean-up.
    Settings::removeLockFile();
    Settings::init();

    // 10. Settings of an older installation, on a first start only.
    if (firstStart)
        importOlderSettings(QCoreApplication::applicationDirPath());

    // 11. The rest of the diagnostic block.
    qDebug().noquote() << "qVersion: " << qVersion();
    qDebug().noquote() << "ostrel version: " << OSTREL_VERSION_STR;
    qDebug().noquote() << "app start from: " << QCoreApplication::applicationFilePath();
    qDebug().noquote() << "app params: " << QCoreApplication::arguments();
    qDebug().noquote() << "config file path: " << Settings::fullFileName();
    qDebug().noquote() << "log file path: " << ALog::filePath();
    qDebug().noquote() << "ssl library build version: " << QSslSocket::sslLibraryBuildVersionString();
    qDebug().noquote() << "ssl library run-time version: " << QSslSocket::sslLibraryVersionString();
    qDebug().noquote() << "useSoftwareOpenGL: " << useSoftwareOpenGL;
    qDebug().noquote() << "haveDArg: " << haveD;

    // 12.
    qWarning().noquote() << "Warning: LOCK_ELEVATING ON";
    qWarning().noquote() << "Warning: LOCK_APP_UNIQUE_CONTROL ON";
    qWarning().noquote() << "Warning: NOT_CLOSE_APP_AT_INITIALIZE ON";

    // 13, 14. Platform layer, then the update step.
    SystemHelper::instance();
    if (UpdateManager::executeOnStart(app) == UpdateManager::erClose) {
        qWarning().noquote() << "UpdateManager::erClose";
        SystemHelper::release();
        return 0;
    }

    // 15.
    SystemHelper::instance().printRouteTable();
    QApplication::setQuitOnLastWindowClosed(false);

    // 16 - 19. Model and engine; whatever escapes them is reported at the
    // end, and the shut-down still runs.
    QElapsedTimer runTime;
    runTime.start();
    int result = 0;
    std::exception_ptr stored;
    Model* model = nullptr;
    QQmlApplicationEngine* engine = nullptr;
    try {
        model = new Model(nullptr);
        bool stopped = false;
        try {
            engine = new QQmlApplicationEngine();
            model->setQmlApplicationEngine(engine);
            model->setIsDebugLoadTest(haveD);

            if (!model->start()) {
                qWarning().noquote() << "Model not started.";
                model->stop();
                delete engine;
                delete model;
                SystemHelper::release();
                return 0;
            }

            // Made this late, it goes before every thread-local object of
            // this thread that logging and Qt made earlier.
            QuitOnExit::ofThisThread().arm(model);

            QQmlEngine::setObjectOwnership(model, QQmlEngine::CppOwnership);
            engine->rootContext()->setContextProperty(QStringLiteral("viewmodel"), model);
            // The program's QML types were registered when the application
            // object was created.
            auto* componentCache = new ComponentCacheManager(engine);
            componentCache->setParent(engine);
            engine->rootContext()->setContextProperty(QStringLiteral("componentCache"), componentCache);
            const QUrl mainQml(QStringLiteral("qrc:/qml/main.qml"));
            engine->load(mainQml);
            if (engine->rootObjects().isEmpty())
                qCritical().noquote() << Q_FUNC_INFO << "window not loaded: " << mainQml.toString();
            model->installEventsFilters();

            // A signal that came while starting up is not lost.
            if (!g_quitRequested)
                result = app.exec();

            model->removeEventsFilters();
            stopped = true;
            model->stop();
        } catch (...) {
            qDebug().noquote() << Q_FUNC_INFO << "exception";
            stored = std::current_exception();
            if (!stopped) {
                try {
                    model->removeEventsFilters();
                    model->stop();
                } catch (...) {
                }
            }
        }
        // The quit has run, or failed with what is reported below.
        QuitOnExit::ofThisThread().disarm();
        delete engine;
        engine = nullptr;
        delete model;
        model = nullptr;
    } catch (...) {
        qDebug().noquote() << Q_FUNC_INFO << "exception 2";
        stored = std::current_exception();
        delete engine;
        engine = nullptr;
    }

    const qint64 seconds = runTime.elapsed() / 1000;
    qInfo().noquote() << "seconds: " << seconds;
    if (stored && useSoftwareOpenGL && seconds <= kExceptionReportMaxSeconds)
        reportException(stored);
    SystemHelper::release();
    qDebug().noquote() << Q_FUNC_INFO << "app finished";
    qDebug().noquote() << Q_FUNC_INFO << "app.exec result: " << result;
    ALog::stopLogging();
    return result;
}
