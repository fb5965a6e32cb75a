#pragma once

#include "qopenvpn2custom.h"
#include "unix/sessionlock.h"
#include "unix/sessionrecord.h"
#include "v2rayprocess.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QTimer>

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
// changes nothing of that session (files, resolver, kill switch). The
// session lock makes the look at the record, the start and the record one
// step for all clients. Whenever a session of this object ends, a resolver
// file still marked as the client's own is put back through the DNS script.
// From its initialisation on (or its first connect, when the root-only
// directory did not exist yet), the engine counts its process as a running
// client (ClientPresence).
class QOpenVPN2 : public QOpenVPN2Custom
{
    Q_OBJECT
public:
    explicit QOpenVPN2(QObject* parent = nullptr);
    ~QOpenVPN2() override;

    // Finds "openvpn.ostrel" beside the program, checks its version, stops
    // an OpenVPN an ended client left and resets the resolver through the DNS
    // script; while another running client has its session open, nothing of
    // that is reset. While another client holds the session lock, the look
    // and the reset wait for it in the background (this thread's events)
    // instead of holding up the start. A reset the DNS script refuses (its
    // lock busy, or /run/ostrel unsafe) is logged and leaves the resolver
    // file as it is.
    bool initialize();
    // The same with the executable at `exePath`.
    bool initializeWith(const QString& exePath);
    bool checkVersion();
    // Whether OpenVPN lists a usable adapter (bounded wait).
    bool tapInstalled();
    // True when an attach succeeded.
    bool connect(const OpenVpnConnectParams& params);
    // Run by the next connect once it holds the session lock and has found
    // no other client's session, before anything of its own starts: what
    // only the client that owns the session may do (the kill switch's
    // server exception). A text it returns refuses the connect with it.
    void setSessionStartStep(std::function<QString()> step) { m_sessionStartStep = std::move(step); }
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
    // Whether a client other than this process runs, with or without its
    // OpenVPN, or an OpenVPN another running client started does: the kill
    // switch is then not this client's alone to lift.
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
    // The resolver script's exit code for a run it refused, changing nothing.
    static constexpr int ResolverScriptRefused = 2;

protected:
    void managementLinkEnded() override;
    bool disconnectAsked() const override;

private slots:
    void onVpnProcessReadyRead();
    void onVpnProcessFinished();
    bool doAttach(int maxSeconds, bool authAvailable, QString* message = nullptr);
    void dumpState();
    // The start-up look, when another client held the session lock.
    void startUpCheckInBackground();

private:
    void announcePresence();
    // Under the session lock (or without a root-only directory): stops a
    // left-over OpenVPN and resets the resolver unless another running
    // client's session is open. False when the reset failed.
    bool checkLeftOverSession();
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
    bool m_announced = false;
    std::function<QString()> m_sessionStartStep;
    // The start-up look waiting for the session lock, until a connect takes
    // over.
    bool m_startUpCheckPending = false;
    QTimer m_startUpCheck;
    QElapsedTimer m_startUpCheckWaited;
    // OpenVPN's last output lines (redacted), for the cause of its end.
    QStringList m_outputTail;
};
