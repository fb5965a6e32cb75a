#pragma once

#include "qopenvpn2custom.h"
#include "v2rayprocess.h"

#include <QProcess>
#include <QStringList>

#include <atomic>

// Opens and closes the tunnel: starts the OpenVPN executable beside the
// program with a management interface on 127.0.0.1:7506, attaches the
// management client, hands it the credentials and waits for OpenVPN to
// report that it is connected. Lives in the connection worker thread, which
// has no event loop of its own: every wait here pumps that thread's events.
class QOpenVPN2 : public QOpenVPN2Custom
{
    Q_OBJECT
public:
    explicit QOpenVPN2(QObject* parent = nullptr);
    ~QOpenVPN2() override;

    // Finds "openvpn.ostrel" beside the program, checks its version and
    // resets the resolver through the DNS script.
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
    // Asks a running connect to give up; the only call from another thread.
    void resetCurrentConnecting() { m_resetCurrentConnecting = true; }
    QString openVPNExePath() const { return openVPNExePath_; }
    bool startOpenVpnProcess();

    // Inspection for callers and tests.
    QStringList commandParams() const { return m_commandParams; }
    QString disconnectReason() const { return m_disconnectReason; }
    qint64 openVpnProcessPid() const { return m_openVpnProcessPid; }
    bool isOpenVpnProcessRunning() const { return m_openVpnProcess.state() != QProcess::NotRunning; }

    // Version test on the first line of "--version".
    static bool versionLineAccepted(const QString& firstLine);
    // Test on the output of "--show-adapters".
    static bool adaptersOutputAccepted(const QString& output);
    // Whether the resolver script's "init" succeeded, from its exit code and
    // output: a failure is a line that begins with "error". The script's own
    // path, echoed in its output, may hold that word anywhere.
    static bool dnsInitSucceeded(int exitCode, const QString& output);

private slots:
    void onVpnProcessReadyRead();
    void onVpnProcessFinished();
    bool doAttach(int maxSeconds, bool authAvailable, QString* message = nullptr);
    void dumpState();

private:
    void terminateProcessAndWait();
    void waitForManagementPort();

    OpenVpnConnectParams m_connectParams;
    QStringList m_commandParams;
    QString m_disconnectReason;
    QProcess m_openVpnProcess;
    qint64 m_openVpnProcessPid = 0;
    std::atomic<bool> m_resetCurrentConnecting{false};
    QString openVPNExePath_;
    V2RayProcess m_v2Ray;
    bool m_managementListening = false;
};
