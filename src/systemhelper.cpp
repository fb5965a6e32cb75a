#include "systemhelper.h"

#include "log.h"
#include "settings.h"
#include "unix/spawnedcommand.h"
#include "unix/systemhelper_unix.h"
#include "util/eventfreewaits.h"
#include "util/serialjobrunner.h"
#include "utils.h"
#include "weblinkhandler.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <csignal>
#include <mutex>

std::atomic<SystemHelper*> SystemHelper::s_instance { nullptr };

namespace {

// How long a command past its time-out, and what it started, have to end
// after SIGTERM before they are killed.
constexpr int kOverdueTermGraceMs = 1000;

// Numbers the commands in the log, so a command's result line can be matched
// with its start line when several threads run commands at once.
std::atomic<int> s_commandCounter { 0 };

// A program's own scripts and tools are shown as ".../name" in the log.
QString shownCommand(const QString& command)
{
    const QString appDir = QCoreApplication::applicationDirPath();
    if (!appDir.isEmpty() && command.startsWith(appDir))
        return QStringLiteral("...") + command.mid(appDir.size());
    return command;
}

QString nonBlankLines(const QString& text)
{
    QStringList lines;
    const QStringList all = text.split(QLatin1Char('\n'));
    for (const QString& line : all) {
        if (!line.trimmed().isEmpty())
            lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

// Waits for the process in 1 ms steps while the calling thread's events are
// processed; false when `timeoutMs` (1 or more) passed first.
bool pollUntilNotRunning(const QProcess& process, int timeoutMs, QEventLoop::ProcessEventsFlags flags)
{
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    while (process.state() != QProcess::NotRunning) {
        loop.processEvents(flags);
        if (process.state() == QProcess::NotRunning)
            break;
        QThread::msleep(1);
        if (timeoutMs >= 1 && elapsed.elapsed() > timeoutMs)
            return false;
    }
    return true;
}

} // namespace

SystemHelper::SystemHelper(QObject* parent)
    : QObject(parent)
{
}

SystemHelper::~SystemHelper()
{
    qDebug().noquote() << Q_FUNC_INFO;
}

namespace {
// Creation and release of the platform object, never both at once.
std::mutex& instanceMutex()
{
    static std::mutex mutex;
    return mutex;
}
} // namespace

SystemHelper& SystemHelper::instance()
{
    if (SystemHelper* existing = s_instance.load(std::memory_order_acquire))
        return *existing;
    std::lock_guard<std::mutex> lock(instanceMutex());
    SystemHelper* helper = s_instance.load(std::memory_order_relaxed);
    if (!helper) {
        helper = new UnixSystemHelper();
        s_instance.store(helper, std::memory_order_release);
    }
    return *helper;
}

void SystemHelper::release()
{
    std::lock_guard<std::mutex> lock(instanceMutex());
    SystemHelper* helper = s_instance.exchange(nullptr);
    qDebug().noquote() << Q_FUNC_INFO << static_cast<void*>(helper);
    delete helper;
}

SystemHelper::KnownStateScope::KnownStateScope(SystemHelper& system)
    : m_system(system)
{
    m_system.passBegun();
}

SystemHelper::KnownStateScope::~KnownStateScope()
{
    m_system.passEnded();
}

void SystemHelper::passBegun()
{
}

void SystemHelper::passEnded()
{
}

void SystemHelper::readKillSwitchAhead()
{
}

void SystemHelper::finalize()
{
}

bool SystemHelper::quitOnCloseMainWindow()
{
    return false;
}

bool SystemHelper::isElevated()
{
    return QCoreApplication::arguments().contains(QStringLiteral("--elevated"));
}

bool SystemHelper::executeElevated(const QString& app)
{
    return executeElevated(app, QStringList());
}

bool SystemHelper::defaultRouteSetConnectionServer(const QString&)
{
    return false;
}

bool SystemHelper::staticRouteAdd(const QString&)
{
    return false;
}

bool SystemHelper::staticRouteDelete(const QString&)
{
    return false;
}

bool SystemHelper::dnsManagementInit()
{
    return true;
}

bool SystemHelper::IPv6Block()
{
    return false;
}

bool SystemHelper::IPv6Unblock()
{
    return false;
}

bool SystemHelper::restoreDnsNicAvailable()
{
    return false;
}

bool SystemHelper::restoreDnsNic()
{
    return false;
}

void SystemHelper::restoreGwServiceOnStart(bool& restoreGwAvail)
{
    restoreGwAvail = false;
}

void SystemHelper::restoreGwServiceExec()
{
}

void SystemHelper::logInfo()
{
}

bool SystemHelper::installed()
{
    return false;
}

QString SystemHelper::killSwitchFailure() const
{
    return QString();
}

QString SystemHelper::dnsFailure() const
{
    return QString();
}

bool SystemHelper::localnetworkTrafficDeny()
{
    return false;
}

bool SystemHelper::localnetworkTrafficAllow()
{
    return false;
}

bool SystemHelper::openLink(const QString& urlstr)
{
    // The desktop services need the GUI application object.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return false;
    const QUrl url(urlstr);
    // The desktop services would hand a web address straight back to the
    // handler that called this: this platform has no opener of its own.
    const QString scheme = url.scheme().toLower();
    if (WebLinkHandler::installed() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))) {
        qWarning().noquote() << Q_FUNC_INFO << "no opener for web addresses:" << logSafe(urlstr);
        return false;
    }
    return QDesktopServices::openUrl(url);
}

bool SystemHelper::isProcessRunning(QProcess& process, const QString&, qint64) const
{
    return process.state() == QProcess::Running || process.state() == QProcess::Starting;
}

int SystemHelper::executeWithWait(const QString& command, QString& result, int timeout)
{
    return executeWithWait(command, QStringList(), result, timeout, false, false);
}

int SystemHelper::executeWithWait(const QString& command, const QStringList& params, QString& result, int timeout,
                                  bool silent, bool killOverdue)
{
    Timer timer;
    const int number = ++s_commandCounter;
    const bool logging = !silent && Settings::fullLog();

    // Arguments and output may carry a server's text: each is made safe for
    // one log line.
    if (logging) {
        qDebug().noquote() << QStringLiteral("======== %1) command: %2 %3 | timeout %4 ms")
                                  .arg(number)
                                  .arg(logSafe(shownCommand(command)), logSafe(params).join(QLatin1Char(' ')))
                                  .arg(timeout);
    }

    SpawnedCommand process;
    const bool started = process.start(command, params);
    bool ended = false;
    if (started) {
        // On a job of a runner that is going, the command ends with it.
        const SerialJobRunner::StopGuard stop = SerialJobRunner::stopWith([&process] { process.signalGroup(SIGKILL); });
        // A thread that must not process events only waits.
        ended = process.waitForEnd(
            timeout, EventFreeWaits::active() ? SpawnedCommand::Events::Skip : SpawnedCommand::Events::Process);
    }

    int code = ExecuteTimedOut;
    if (!started) {
        code = ExecuteFailedToStart;
        if (logging)
            qDebug().noquote() << QStringLiteral("  %1)").arg(number) << logSafe(shownCommand(command))
                               << "failed to start:" << logSafe(process.errorString());
    } else if (ended) {
        code = process.crashed() ? ExecuteCrashed : process.exitCode();
    } else if (logging) {
        qDebug().noquote() << QStringLiteral("  %1)").arg(number) << logSafe(shownCommand(command))
                           << "timeout expired";
    }

    result = QString::fromUtf8(process.standardOutput());

    if (logging) {
        const QString lines = nonBlankLines(result);
        const QString errors = QString::fromLatin1(process.standardError());
        if (!errors.isEmpty()) {
            qDebug().noquote() << QStringLiteral("  %1) [%2 ms] command result <%3> | errors: <%4> | <%5> ")
                                      .arg(number)
                                      .arg(timer.ms())
                                      .arg(code)
                                      .arg(logSafe(errors), logSafe(lines));
        } else {
            qDebug().noquote() << QStringLiteral("  %1) [%2 ms] command result <%3> | <%4>")
                                      .arg(number)
                                      .arg(timer.ms())
                                      .arg(code)
                                      .arg(logSafe(lines));
        }
    }

    // A command past its time-out ends with this call, whether asked to or
    // not, together with everything it started, so that none of it works
    // beside the next command; asked to, it is killed at once.
    if (code == ExecuteTimedOut && !process.endGroup(killOverdue ? 1 : kOverdueTermGraceMs) && logging)
        qDebug().noquote() << QStringLiteral("  %1)").arg(number) << logSafe(shownCommand(command))
                           << "still running after SIGKILL";
    return code;
}

bool SystemHelper::execute(const QString& command)
{
    qDebug().noquote() << "exec " << command;
    return QProcess::startDetached(command, QStringList());
}

bool SystemHelper::execute(const QString& command, const QStringList& params)
{
    qDebug().noquote() << "exec " << command << params.join(QLatin1Char(' '));
    return QProcess::startDetached(command, params);
}

void SystemHelper::sleep(unsigned umilliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(qMin<unsigned>(umilliseconds, INT_MAX)), &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

QString SystemHelper::readAll(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll()).trimmed();
}

QStringList SystemHelper::readAllStrings(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool SystemHelper::waitWithEventProcessing2(const QProcess& process, const QString&, int timeoutMs)
{
    return pollUntilNotRunning(process, timeoutMs, QEventLoop::AllEvents);
}

bool SystemHelper::waitWithEventProcessing(const QString&, const QProcess& process, int timeout)
{
    return pollUntilNotRunning(process, timeout, QEventLoop::AllEvents);
}

void SystemHelper::waitWithEventProcessing(const QProcess& process)
{
    pollUntilNotRunning(process, 0, QEventLoop::ExcludeUserInputEvents);
}

bool SystemHelper::waitProcessRunning(QProcess& process, const QString& executeFilePath, qint64 pid, int sec)
{
    QElapsedTimer elapsed;
    elapsed.start();
    const qint64 limitMs = qint64(sec) * 1000;
    while (!instance().isProcessRunning(process, executeFilePath, pid)) {
        if (elapsed.elapsed() >= limitMs)
            return false;
        waitWithProcessEvents(QStringLiteral("waitProcessRunning"), 1);
    }
    return true;
}

bool SystemHelper::waitProcessNotRunning(QProcess& process, const QString& executeFilePath, qint64 pid, int sec)
{
    QElapsedTimer elapsed;
    elapsed.start();
    const qint64 limitMs = qint64(sec) * 1000;
    while (instance().isProcessRunning(process, executeFilePath, pid)) {
        if (elapsed.elapsed() >= limitMs)
            return false;
        waitWithProcessEvents(QStringLiteral("waitProcessNotRunning"), 1);
    }
    return true;
}

void waitWithProcessEvents(const QString&, int ms)
{
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

QString emasculatedPath(const QString& path)
{
    QString result = path;
    result.remove(QLatin1Char('/'));
    result.remove(QLatin1Char('\\'));
    return result.trimmed().toLower();
}

Timer::Timer()
{
    m_time.start();
}

Timer::Timer(const QString& name, bool silent)
    : m_name(name)
    , m_silent(silent)
{
    m_time.start();
}

Timer::~Timer()
{
    if (!m_silent)
        qInfo().noquote() << "TIMER " << m_name << ms() << "ms";
}

qint64 Timer::ms() const
{
    return m_time.elapsed();
}
