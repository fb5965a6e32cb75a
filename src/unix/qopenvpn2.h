#pragma once

#include "qopenvpn2custom.h"
#include "unix/sessionlock.h"
#include "unix/sessionrecord.h"
#include "v2rayprocess.h"

#include <QProcess>
#include <QStringList>

#include <atomic>
#include <functional>

// Opens and closes the tunnel: starts the OpenVPN executable beside the
// program with a management interface on a Unix socket in the root-only
// directory (guarded by a fresh password per start), attaches the management
// client to exactly that process, hands it the credentials and waits for
// OpenVPN to report that it is connected. Lives in the connection worker
// thread, which has no event loop of its own: every wait here runs that
// thread's events until what it waits for has happened.
//
// The OpenVPN it starts is recorded, with the client that started it, in a
// pid record in the root-only directory; one whose client has ended is
// stopped at start-up and before each connect, one whose client still runs
// never: while another client's session runs, this one starts none and
// changes nothing of that session (files, resolver). The session lock makes
// the look at the record, the start and the record one step for all
// clients. Whenever a session of this object ends, a resolver file still
// marked as the client's own is put back through the DNS script.
class QOpenVPN2 : public QOpenVPN2Custom
{
    Q_OBJECT
public:
    explicit QOpenVPN2(QObject* parent = nullptr);
    ~QOpenVPN2() override;

    // Finds "openvpn.ostrel" beside the program, checks its version, stops
    // an OpenVPN an ended client left and resets the resolver through the DNS
    // script; while another running client has its session open, nothing of
    // that is reset.
    bool initialize();
    // The same with the executable at `exePath`.
    bool initializeWith(const QString& exePath);
    bool checkVersion();
    // Whether OpenVPN lists a usable adapter (bounded wait).
    bool tapInstalled();
    // True when an attach succeeded.
    bool connect(const OpenVpnConnectParams& params);
    void disconnect();
    bool attachAvailable() const { return false; }
    bool attach(int maxSeconds, bool authAvailable, QString* message);
    // Asks the connect in progress, or the next one when none has begun
    // yet, to give up; the only call from another thread. The connect that
    // sees it consumes it.
    void resetCurrentConnecting();
    // Forgets a reset asked for no connect in particular; called by the
    // worker when it takes a new connect request.
    void clearResetRequest() { m_resetCurrentConnecting = false; }
    bool resetRequested() const { return m_resetCurrentConnecting; }
    QString openVPNExePath() const { return openVPNExePath_; }
    bool startOpenVpnProcess();

    // Inspection for callers and tests.
    QStringList commandParams() const { return m_commandParams; }
    QString disconnectReason() const { return m_disconnectReason; }
    qint64 openVpnProcessPid() const { return m_openVpnProcessPid; }
    bool isOpenVpnProcessRunning() const { return m_openVpnProcess.state() != QProcess::NotRunning; }

    // Files in the root-only directory, readable by their owner only: the
    // pids and start times of the running OpenVPN and of the client that
    // started it, and the password of its management interface.
    static QString pidFilePath();
    static QString managementPasswordFilePath();
    // Stops an OpenVPN that a client which has ended started and left
    // running (terminate, then kill, bounded) and puts back what its session
    // changed. An OpenVPN the pid record does not name, or whose client
    // still runs, is never touched; nor is anything when the directory or
    // the record is not root's own. True when one was stopped; `busy` gets
    // a sentence for the user when a running client's OpenVPN is recorded.
    // Under the session lock.
    bool stopOrphanedOpenVpn(QString* busy = nullptr);
    // Whether a client other than this process has its OpenVPN running.
    static bool anotherClientsSession();
    // The cause of OpenVPN's end in plain words, from its last output lines,
    // as rich text (OpenVPN's own words escaped).
    QString exitCause() const;
    // Version test on the first line of "--version".
    static bool versionLineAccepted(const QString& firstLine);
    // Test on the output of "--show-adapters".
    static bool adaptersOutputAccepted(const QString& output);
    // Whether the resolver script's "init" succeeded, from its exit code and
    // output: a failure is a line that begins with "error". The script's own
    // path, echoed in its output, may hold that word anywhere.
    static bool dnsInitSucceeded(int exitCode, const QString& output);

protected:
    void managementLinkEnded() override;
    bool disconnectAsked() const override;

private slots:
    void onVpnProcessReadyRead();
    void onVpnProcessFinished();
    bool doAttach(int maxSeconds, bool authAvailable, QString* message = nullptr);
    void dumpState();

private:
    void terminateProcessAndWait();
    void waitForManagementPort();
    // Runs this thread's events until `done` holds (true), `limitMs` pass or,
    // with `stopOnReset`, a reset is asked for (false).
    bool waitFor(const std::function<bool()>& done, qint64 limitMs, bool stopOnReset);
    bool waitForV2RaySocksPort();
    // Ends a connect that did not reach Connected: everything stopped, the
    // state Disconnected, and `cause` (rich text, or what OpenVPN said)
    // shown unless the user cancelled or was told already. Returns false.
    bool failConnect(const QString& cause);
    // OpenVPN has ended or is stopped: files removed, link closed, proxy
    // stopped, resolver put back. Once per started process.
    void endSession();
    static void restoreResolver();
    bool writeManagementPasswordFile();
    // Whether the record names the OpenVPN just started (its child wrote it).
    bool pidRecordWritten();
    // The pid record, management socket and password, when the directory
    // is still root's own and the record names `owner`'s OpenVPN. True when
    // they were that session's (and are gone).
    bool removeSessionFiles(const SessionRecord& owner);
    QString redacted(const QString& line) const;

    OpenVpnConnectParams m_connectParams;
    QStringList m_commandParams;
    QString m_disconnectReason;
    RecordedProcess m_openVpnProcess;
    qint64 m_openVpnProcessPid = 0;
    // Start time of that process, as its record holds it.
    QByteArray m_openVpnStarted;
    std::atomic<bool> m_resetCurrentConnecting { false };
    QString openVPNExePath_;
    V2RayProcess m_v2Ray;
    bool m_managementListening = false;
    // A started OpenVPN whose end has not been handled yet.
    bool m_sessionActive = false;
    bool m_sessionDnsScripts = false;
    // The session reached Connected.
    bool m_sessionConnected = false;
    QString m_managementPassword;
    SessionLock m_sessionLock;
    // OpenVPN's last output lines (redacted), for the cause of its end.
    QStringList m_outputTail;
};
