#pragma once

#include "model/constants.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <atomic>

// The one place where the program touches the operating system beyond Qt:
// running external commands with a time-out, waiting for processes while
// events keep flowing, and the platform operations (kill switch, DNS, routes,
// links, paths, process checks). The instance is the platform's own
// subclass, reached through instance().
class SystemHelper : public QObject
{
    Q_OBJECT
public:
    // Results of executeWithWait() that are not an exit code. Callers treat
    // 0 as success and every other value as failure.
    enum ExecuteResult {
        // The command ran longer than its time-out.
        ExecuteTimedOut = -1,
        // The program could not be started (missing, not executable).
        ExecuteFailedToStart = -2,
        // The program was ended by a signal instead of exiting.
        ExecuteCrashed = -3,
    };

    // The platform object, created on the first call, from whichever thread
    // makes it.
    static SystemHelper& instance();
    // Deletes the platform object; a later instance() creates a new one. No
    // other thread may still use it.
    static void release();

    ~SystemHelper() override;

    // One pass over the system, such as the reaction to a state change or
    // the start of a session, whose steps ask after the kill switch one
    // after another. While one lives, the kill switch's state is read at its
    // first question and then known: meanwhile only the program's own
    // commands change it, and what they change is known. Each pass reads
    // afresh; outside a pass every question reads.
    class KnownStateScope
    {
    public:
        explicit KnownStateScope(SystemHelper& system = instance());
        ~KnownStateScope();
        KnownStateScope(const KnownStateScope&) = delete;
        KnownStateScope& operator=(const KnownStateScope&) = delete;

    private:
        SystemHelper& m_system;
    };

    // A pass that is about to ask after the kill switch: the platform may
    // read it now, beside the steps that come first in the pass, which must
    // not turn it on or off; the pass's first question then waits for that
    // read instead of starting its own. Nothing by default.
    virtual void readKillSwitchAhead();

    virtual void finalize();
    virtual bool quitOnCloseMainWindow();
    virtual bool isElevated();
    virtual bool executeElevated(const QString& app);
    virtual bool executeElevated(const QString& app, const QStringList& args) = 0;
    virtual size_t getNetworkInterfaces(QStringList& interfaces) = 0;
    virtual bool isRouteManagementEnabled() = 0;
    virtual bool defaultRouteSetConnectionServer(const QString& host);
    virtual bool isDefaultRouteRemoved(bool fast) = 0;
    virtual bool isDefaultRouteStored() = 0;
    virtual bool saveDefaultRoute() = 0;
    virtual bool removeDefaultRoute(const QString& connectionHost) = 0;
    // Why the last change of the kill switch (turning it on or off, or
    // pointing it at a server) failed, as a text for the user; empty after
    // one that succeeded (or none yet).
    virtual QString killSwitchFailure() const;
    // Why the last assignDnsToInterfaces() could not set the tunnel's
    // resolver, as a text for the user; empty after one that succeeded.
    virtual QString dnsFailure() const;
    virtual bool restoreDefaultRoute(bool waitWhileRestored) = 0;
    virtual void enableRouteChangeCallback(bool enable) = 0;
    virtual void printRouteTable() = 0;
    virtual QString getDefaultRoute() = 0;
    virtual bool staticRouteAdd(const QString& ip);
    virtual bool staticRouteDelete(const QString& ip);
    virtual bool dnsManagementInit();
    virtual bool assignDnsToInterfaces(bool disableDNSOnPhysicalNIC, const QString& v4, const QString& v6,
                                       Constants::DNSFiltering dnsFiltering) = 0;
    virtual bool restoreDnsRecords() = 0;
    virtual bool IPv6Block();
    virtual bool IPv6Unblock();
    virtual bool restoreDnsNicAvailable();
    virtual bool restoreDnsNic();
    virtual void restoreGwServiceOnStart(bool& restoreGwAvail);
    virtual void restoreGwServiceExec();
    virtual void logInfo();
    virtual bool installed();
    virtual bool localnetworkTrafficDeny();
    virtual bool localnetworkTrafficAllow();
    virtual bool openLink(const QString& urlstr);
    virtual QString v2RayBinaryFileName() = 0;
    virtual QString v2RayBinaryFullFilePath() = 0;
    virtual bool isProcessRunning(QProcess& process, const QString& executeFilePath, qint64 pid) const;
    virtual QString configsFilesDirPath() = 0;

    // Runs `command` without arguments; see the full form.
    static int executeWithWait(const QString& command, QString& result, int timeout);
    // Runs `command` with `params` (no shell involved) and waits for it while
    // the calling thread keeps processing its events (none under
    // EventFreeWaits). Returns the exit code
    // when the process ended within `timeout` milliseconds (0 or less: no
    // limit), otherwise one of ExecuteResult. `result` receives the standard
    // output decoded as UTF-8, also what was written before a time-out.
    // With the setting "FullLog" on and `silent` false the command, its
    // arguments, the exit code and the output are logged, each escaped into
    // its one log line. The command runs as the leader of a process group of
    // its own: past its time-out it is ended together with everything it
    // started (SIGTERM, SIGKILL at once with `killOverdue` or after a grace
    // time), before the call returns.
    static int executeWithWait(const QString& command, const QStringList& params, QString& result, int timeout,
                               bool silent, bool killOverdue);

    // Start a command detached, without waiting.
    static bool execute(const QString& command);
    static bool execute(const QString& command, const QStringList& params);

    // Waits while events other than user input are processed.
    static void sleep(unsigned umilliseconds);

    // The file's contents, trimmed; empty when it cannot be read.
    static QString readAll(const QString& fileName);
    // The file's non-empty lines; empty when it cannot be read.
    static QStringList readAllStrings(const QString& fileName);

    // Poll until the process is no longer running; true when it stopped,
    // false when `timeoutMs` passed (0 or less: no limit).
    static bool waitWithEventProcessing2(const QProcess& process, const QString& maker, int timeoutMs);
    static bool waitWithEventProcessing(const QString& maker, const QProcess& process, int timeout);
    // The same without a limit: only for processes known to end.
    static void waitWithEventProcessing(const QProcess& process);

    // Until isProcessRunning() is true (false) or `sec` seconds passed.
    static bool waitProcessRunning(QProcess& process, const QString& executeFilePath, qint64 pid, int sec);
    static bool waitProcessNotRunning(QProcess& process, const QString& executeFilePath, qint64 pid, int sec);

signals:
    void receiveSleep();
    void receiveWake();

protected:
    explicit SystemHelper(QObject* parent = nullptr);

    // A KnownStateScope begins or ends, on any thread; nothing by default.
    virtual void passBegun();
    virtual void passEnded();

private:
    static std::atomic<SystemHelper*> s_instance;
};

// Sleeps `ms` milliseconds, then processes the calling thread's pending
// events once. `msg` names the waiting place for a reader of the code.
void waitWithProcessEvents(const QString& msg, int ms);

// The path with every slash and backslash removed, trimmed and lower-cased.
QString emasculatedPath(const QString& path);

// A named stopwatch: logs the elapsed time when it goes out of scope.
class Timer
{
public:
    Timer();
    Timer(const QString& name, bool silent = false);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    qint64 ms() const;

private:
    QElapsedTimer m_time;
    QString m_name;
    bool m_silent = true;
};
