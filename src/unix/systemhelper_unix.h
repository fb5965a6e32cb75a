#pragma once

#include "systemhelper.h"
#include "util/concurrentstep.h"
#include "util/serialjobrunner.h"

#include <QMutex>

#include <atomic>
#include <memory>

// The Linux platform layer: the kill switch, the local-network exception and
// the resolver changes are done by scripts beside the executable (see
// ExternalTools), links are opened by a third script. The scripts change the
// system only when the program runs with administrator rights.
//
// The firewall and the resolver file each have one owner: every operation on
// them runs whole, in the order asked, on that owner's thread, while the
// caller keeps processing its events; a call made meanwhile (by another
// thread, or by an event handled during the wait) waits its turn. The
// threads end with the object.
class UnixSystemHelper : public SystemHelper
{
    Q_OBJECT
public:
    explicit UnixSystemHelper(QObject* parent = nullptr);
    ~UnixSystemHelper() override;

    bool quitOnCloseMainWindow() override;
    using SystemHelper::executeElevated;
    bool executeElevated(const QString& app, const QStringList& args) override;
    size_t getNetworkInterfaces(QStringList& interfaces) override;
    bool isRouteManagementEnabled() override;
    // Points the kill switch's allowed address at `host`.
    bool defaultRouteSetConnectionServer(const QString& host) override;
    // Whether the kill switch is on; `fast` asks with the short time-out.
    bool isDefaultRouteRemoved(bool fast) override;
    bool isDefaultRouteStored() override;
    bool saveDefaultRoute() override;
    // Kill switch on, allowing only `connectionHost` outside the tunnel.
    bool removeDefaultRoute(const QString& connectionHost) override;
    // The script's reason ("ERROR: ..." line, escaped) or a general one when
    // the last "enable", "replace" or "disable" failed; empty otherwise.
    QString killSwitchFailure() const override;
    // The DNS script's reason ("ERROR: ..." line, escaped) or a general one
    // when the last resolver change failed; empty otherwise.
    QString dnsFailure() const override;
    // Kill switch off.
    bool restoreDefaultRoute(bool waitWhileRestored) override;
    void enableRouteChangeCallback(bool enable) override;
    void printRouteTable() override;
    QString getDefaultRoute() override;
    // The resolver is chosen by the filtering mode; `v4` and `v6` are only
    // logged.
    bool assignDnsToInterfaces(bool disableDNSOnPhysicalNIC, const QString& v4, const QString& v6,
                               Constants::DNSFiltering dnsFiltering) override;
    bool restoreDnsRecords() override;
    bool IPv6Block() override;
    bool IPv6Unblock() override;
    bool localnetworkTrafficDeny() override;
    bool localnetworkTrafficAllow() override;
    bool openLink(const QString& urlstr) override;
    QString v2RayBinaryFileName() override;
    QString v2RayBinaryFullFilePath() override;
    QString configsFilesDirPath() override;

    // The DNS script's argument for a filtering mode; empty for an unknown one.
    static QStringList dnsScriptArguments(Constants::DNSFiltering dnsFiltering);

    // Runs the DNS script with `args` on the platform object, in turn with
    // its other resolver changes; the exit code as executeWithWait gives it.
    static int runResolverScript(const QStringList& args, QString& output);

    // Starts the pass's read of "status" beside its first steps.
    void readKillSwitchAhead() override;

protected:
    void passBegun() override;
    void passEnded() override;

private:
    // Runs the DNS script in turn with the other resolver changes.
    int resolverScript(const QStringList& args, QString& output);
    // Runs "status" (with the short time-out when `fast`; else as known in
    // the open passes) and logs the answer in its own group.
    bool killSwitchOn(bool fast);
    // The body of removeDefaultRoute(), on the firewall's thread.
    bool enableKillSwitch(const QString& connectionHost);
    // Runs the kill-switch script; the exit code as executeWithWait gives it.
    static int runFirewall(const QStringList& args, QString& output, int timeout);
    enum class FirewallState { Off, Partly, On };
    // Runs "status" into `state`; false when the script gave no answer (a
    // run that timed out), which reads as off. After an outside change the
    // kill switch may hold only one address family ("ENABLED status (IPv6
    // only)"): that counts as on, but not as whole.
    static bool readFirewallState(int timeout, FirewallState* state);
    // The state in a status line of the script's output; false without one.
    static bool statusFromAnswer(const QString& output, FirewallState* state);
    // The state as read in the passes open now (see KnownStateScope), else
    // read by "status" (and known from then on while a pass is open).
    FirewallState firewallState(int timeout);
    // firewallState() is on, whole or in part.
    bool firewallEnabled(int timeout);
    // A command that may have turned the kill switch on or off ran: the
    // next question reads.
    void forgetFirewallState();
    // The program's own command has just brought the kill switch into
    // `state`: known from now on while a pass is open.
    void knowFirewallState(FirewallState state);
    // Reads "status" and keeps the answer for the open passes, unless a
    // pass began or ended or the state was forgotten since `generation`.
    void readAndKeep(int timeout, quint64 generation, FirewallState* state);
    // Waits for a read started by readKillSwitchAhead(), if one is running.
    void awaitReadAhead();

    void setKillSwitchFailure(const QString& why);
    // Why a script run failed: its "ERROR:" line, escaped, or a general
    // reason after its exit code. `script` names the script in the latter.
    static QString failureReason(const QString& script, int code, const QString& output);

    bool m_isDefaultRouteStored = false;
    // Guards both failure texts: they are read on the GUI thread and written
    // on the firewall's and the resolver's.
    mutable QMutex m_failureMutex;
    QString m_killSwitchFailure;
    QString m_dnsFailure;
    // The kill switch's state as read in the passes open now: `m_stateKnown`
    // only while one is open and nothing that may have changed it ran since.
    // A read stores its answer only when no pass began or ended and nothing
    // was forgotten since it began (`m_knownGeneration`).
    mutable QMutex m_knownMutex;
    int m_openPasses = 0;
    quint64 m_knownGeneration = 0;
    bool m_stateKnown = false;
    FirewallState m_knownState = FirewallState::Off;
    // The read started ahead for the open passes (under m_knownMutex); it
    // goes before the members it uses.
    std::unique_ptr<ConcurrentStep> m_readAhead;
    bool m_isRouteChangeCallbackEnabled = false;
    // Written by the resolver change, which may run beside the reaction that
    // asked for it.
    std::atomic<bool> m_disabledDNSOnPhysicalNIC { false };
    // Last members: their threads end before anything a job uses goes.
    SerialJobRunner m_firewallJobs { QStringLiteral("firewall") };
    SerialJobRunner m_resolverJobs { QStringLiteral("resolver") };
};
