#include "unix/systemhelper_unix.h"

#include "log.h"
#include "settings.h"
#include "unix/externaltools.h"
#include "utils.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>

namespace {

// One word for a shell's -c, whatever it contains.
QString shellQuoted(const QString& word)
{
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

} // namespace

UnixSystemHelper::UnixSystemHelper(QObject* parent)
    : SystemHelper(parent)
{
}

UnixSystemHelper::~UnixSystemHelper()
{
    awaitReadAhead();
}

bool UnixSystemHelper::quitOnCloseMainWindow()
{
    return true;
}

bool UnixSystemHelper::executeElevated(const QString& app, const QStringList& args)
{
    const QString tail = QStringLiteral(" \"%1\" %2").arg(app, args.join(QLatin1Char(' ')));
    qDebug().noquote() << "executeElevated: " << tail;

    // The root-prompt tools take the command as one shell line; every word
    // is quoted so that no argument can change that line.
    QStringList words { shellQuoted(app) };
    for (const QString& arg : args)
        words << shellQuoted(arg);
    const QString shellLine = words.join(QLatin1Char(' '));

    if (Settings::isOpensuse()) {
        if (QProcess::startDetached(QStringLiteral("xdg-su"),
                                    { QStringLiteral("-u"), QStringLiteral("root"), QStringLiteral("-c"), shellLine }))
            return true;
    } else {
        if (QProcess::startDetached(QStringLiteral("gksu"), { shellLine }))
            return true;
        if (QProcess::startDetached(QStringLiteral("beesu"), QStringList { app } + args))
            return true;
    }
    qDebug().noquote() << "executeElevated failed";
    return false;
}

size_t UnixSystemHelper::getNetworkInterfaces(QStringList& interfaces)
{
    interfaces.clear();
    return 0;
}

bool UnixSystemHelper::isRouteManagementEnabled()
{
    return true;
}

int UnixSystemHelper::runFirewall(const QStringList& args, QString& output, int timeout)
{
    return executeWithWait(ExternalTools::FIREWALL(), args, output, timeout, false, false);
}

bool UnixSystemHelper::readFirewallState(int timeout, FirewallState* state)
{
    QString output;
    const int code = runFirewall(ExternalTools::status(), output, timeout);
    // A run that timed out has said nothing yet and reads as off.
    return statusFromAnswer(output, state) && code == 0;
}

bool UnixSystemHelper::statusFromAnswer(const QString& output, FirewallState* state)
{
    if (!output.contains(QLatin1String("ENABLED"), Qt::CaseInsensitive))
        *state = FirewallState::Off;
    else
        *state = output.contains(QLatin1String(" only"), Qt::CaseInsensitive) ? FirewallState::Partly
                                                                              : FirewallState::On;
    return output.contains(QLatin1String("status"), Qt::CaseInsensitive);
}

UnixSystemHelper::FirewallState UnixSystemHelper::firewallState(int timeout)
{
    awaitReadAhead();
    quint64 generation = 0;
    {
        QMutexLocker lock(&m_knownMutex);
        if (m_openPasses > 0 && m_stateKnown) {
            static const char* const texts[] = { "off", "on in one address family only", "on" };
            qDebug().noquote() << "kill switch as read in this pass:" << texts[int(m_knownState)];
            return m_knownState;
        }
        generation = m_knownGeneration;
    }
    FirewallState state = FirewallState::Off;
    readAndKeep(timeout, generation, &state);
    return state;
}

void UnixSystemHelper::readAndKeep(int timeout, quint64 generation, FirewallState* state)
{
    const bool answered = readFirewallState(timeout, state);
    QMutexLocker lock(&m_knownMutex);
    if (answered && m_openPasses > 0 && generation == m_knownGeneration) {
        m_stateKnown = true;
        m_knownState = *state;
    }
}

void UnixSystemHelper::readKillSwitchAhead()
{
    QMutexLocker lock(&m_knownMutex);
    if (m_openPasses == 0 || m_stateKnown || m_readAhead)
        return;
    const quint64 generation = m_knownGeneration;
    m_readAhead.reset(new ConcurrentStep([this, generation] {
        FirewallState state = FirewallState::Off;
        readAndKeep(ExternalTools::SMALL_WAIT_TIME(), generation, &state);
    }));
}

void UnixSystemHelper::awaitReadAhead()
{
    std::unique_ptr<ConcurrentStep> ahead;
    {
        QMutexLocker lock(&m_knownMutex);
        ahead = std::move(m_readAhead);
    }
    // Joined here, outside the lock its read takes at the end.
    ahead.reset();
}

bool UnixSystemHelper::firewallEnabled(int timeout)
{
    return firewallState(timeout) != FirewallState::Off;
}

void UnixSystemHelper::forgetFirewallState()
{
    QMutexLocker lock(&m_knownMutex);
    m_stateKnown = false;
    ++m_knownGeneration;
}

void UnixSystemHelper::knowFirewallState(FirewallState state)
{
    QMutexLocker lock(&m_knownMutex);
    ++m_knownGeneration;
    m_stateKnown = m_openPasses > 0;
    m_knownState = state;
}

void UnixSystemHelper::passBegun()
{
    QMutexLocker lock(&m_knownMutex);
    ++m_openPasses;
    m_stateKnown = false;
    ++m_knownGeneration;
}

void UnixSystemHelper::passEnded()
{
    bool last = false;
    {
        QMutexLocker lock(&m_knownMutex);
        if (m_openPasses > 0)
            --m_openPasses;
        if (m_openPasses == 0) {
            m_stateKnown = false;
            ++m_knownGeneration;
            last = true;
        }
    }
    // A read ahead that no question took up ends with the last pass.
    if (last)
        awaitReadAhead();
}

bool UnixSystemHelper::defaultRouteSetConnectionServer(const QString& host)
{
    return m_firewallJobs.call([this, &host] {
        QString output;
        // The script looks at each family's chain anyway: it also says
        // whether the kill switch is on, which the pass then knows.
        const int code = runFirewall(ExternalTools::replace() << host << QStringLiteral("--with-status"), output,
                                     ExternalTools::SMALL_WAIT_TIME());
        qDebug().noquote() << "Result: " << logSafe(output.trimmed()) << "  retCode:" << code;
        FirewallState state = FirewallState::Off;
        if (code == 0 && statusFromAnswer(output, &state))
            knowFirewallState(state);
        // The script refuses a host name it cannot resolve (the server stays
        // blocked) or a change while another one runs.
        setKillSwitchFailure(code == 0 ? QString() : failureReason(QStringLiteral("kill-switch script"), code, output));
        return code == 0;
    });
}

bool UnixSystemHelper::killSwitchOn(bool fast)
{
    ALogMsgGroup group(QStringLiteral("UnixSystemHelper::isDefaultRouteRemoved"));
    bool enabled = false;
    if (fast) {
        FirewallState state = FirewallState::Off;
        readFirewallState(ExternalTools::FAST_WAIT_TIME(), &state);
        enabled = state != FirewallState::Off;
    } else {
        enabled = firewallEnabled(ExternalTools::SMALL_WAIT_TIME());
    }
    qDebug().noquote() << "result: " << enabled;
    return enabled;
}

bool UnixSystemHelper::isDefaultRouteRemoved(bool fast)
{
    // The quick look (the tray icon's) does not wait its turn: it only reads,
    // so it cannot break an operation, and behind one it would wait seconds
    // instead of its 300 ms. Asked during an operation it may show the state
    // before or after one of its steps; the next look is right again.
    if (fast)
        return killSwitchOn(true);
    return m_firewallJobs.call([this] { return killSwitchOn(false); });
}

bool UnixSystemHelper::isDefaultRouteStored()
{
    return m_isDefaultRouteStored;
}

bool UnixSystemHelper::saveDefaultRoute()
{
    m_isDefaultRouteStored = true;
    return true;
}

bool UnixSystemHelper::removeDefaultRoute(const QString& connectionHost)
{
    return m_firewallJobs.call([this, &connectionHost] { return enableKillSwitch(connectionHost); });
}

bool UnixSystemHelper::enableKillSwitch(const QString& connectionHost)
{
    ALogMsgGroup group(QStringLiteral("UnixSystemHelper::removeDefaultRoute"));
    // Held in one address family only, the other one is open: built anew.
    if (firewallState(ExternalTools::SMALL_WAIT_TIME()) == FirewallState::On) {
        qDebug().noquote() << "firewall already enabled";
        setKillSwitchFailure(QString());
        return true;
    }
    QString output;
    const int code = runFirewall(ExternalTools::enable() << connectionHost, output, ExternalTools::SMALL_WAIT_TIME());
    if (code == 0) {
        // "enable" answers 0 only when it holds every address family this
        // machine has: as good as on for the rest of the pass.
        knowFirewallState(FirewallState::On);
        setKillSwitchFailure(QString());
        return true;
    }
    forgetFirewallState();
    firewallEnabled(ExternalTools::SMALL_WAIT_TIME());
    const QString why = failureReason(QStringLiteral("kill-switch script"), code, output);
    qWarning().noquote() << "Kill switch not enabled:" << why;
    setKillSwitchFailure(why);
    return false;
}

QString UnixSystemHelper::killSwitchFailure() const
{
    QMutexLocker lock(&m_failureMutex);
    return m_killSwitchFailure;
}

QString UnixSystemHelper::failureReason(const QString& script, int code, const QString& output)
{
    // The scripts say why in a line starting "ERROR:": the user's rules
    // cannot be saved safely, another change holds the lock, a family or the
    // server cannot be held, the resolver file cannot be written.
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("ERROR:")))
            return logSafe(line.mid(6).trimmed());
    }
    return code == ExecuteTimedOut ? QStringLiteral("the %1 did not answer in time").arg(script)
                                   : QStringLiteral("the %1 failed (exit code %2)").arg(script).arg(code);
}

void UnixSystemHelper::setKillSwitchFailure(const QString& why)
{
    QMutexLocker lock(&m_failureMutex);
    m_killSwitchFailure = why;
}

bool UnixSystemHelper::restoreDefaultRoute(bool)
{
    return m_firewallJobs.call([this] {
        ALogMsgGroup group(QStringLiteral("UnixSystemHelper::restoreDefaultRoute"));
        if (!killSwitchOn(false)) {
            qWarning().noquote() << "Canceled: !isDefaultRouteRemoved";
            setKillSwitchFailure(QString());
            return false;
        }
        QString output;
        const int code = runFirewall(ExternalTools::disable(), output, ExternalTools::SMALL_WAIT_TIME());
        forgetFirewallState();
        firewallEnabled(ExternalTools::SMALL_WAIT_TIME());
        // Refused (another change holds the firewall lock, /run/ostrel is not
        // safe) or failed: the traffic stays blocked, and the user is told.
        const QString why = code == 0 ? QString() : failureReason(QStringLiteral("kill-switch script"), code, output);
        if (!why.isEmpty())
            qWarning().noquote() << "Kill switch not disabled:" << why;
        setKillSwitchFailure(why);
        return code == 0;
    });
}

void UnixSystemHelper::enableRouteChangeCallback(bool enable)
{
    m_isRouteChangeCallbackEnabled = enable;
}

void UnixSystemHelper::printRouteTable()
{
}

QString UnixSystemHelper::getDefaultRoute()
{
    return QString();
}

QStringList UnixSystemHelper::dnsScriptArguments(Constants::DNSFiltering dnsFiltering)
{
    switch (dnsFiltering) {
    case Constants::DNSFiltering_disabled:
        return ExternalTools::dnsscript_dns_on();
    case Constants::DNSFiltering_secureDNS:
        return ExternalTools::dnsscript_secure_dns_on();
    case Constants::DNSFiltering_secureDNS_localStreaming:
        return ExternalTools::dnsscript_secure_dnsstr_on();
    }
    return QStringList();
}

bool UnixSystemHelper::assignDnsToInterfaces(bool disableDNSOnPhysicalNIC, const QString& v4, const QString& v6,
                                             Constants::DNSFiltering dnsFiltering)
{
    qDebug().noquote() << Q_FUNC_INFO << disableDNSOnPhysicalNIC << v4 << v6 << "(empty function)";
    m_disabledDNSOnPhysicalNIC = disableDNSOnPhysicalNIC;
    QString output;
    const int code = resolverScript(dnsScriptArguments(dnsFiltering), output);
    const QString why = code == 0 ? QString() : failureReason(QStringLiteral("DNS script"), code, output);
    {
        QMutexLocker lock(&m_failureMutex);
        m_dnsFailure = why;
    }
    if (code != 0) {
        qWarning().noquote() << "DNS script failed, exit code" << code << "output:" << logSafe(output.trimmed());
        return false;
    }
    return true;
}

QString UnixSystemHelper::dnsFailure() const
{
    QMutexLocker lock(&m_failureMutex);
    return m_dnsFailure;
}

int UnixSystemHelper::runResolverScript(const QStringList& args, QString& output)
{
    // The platform object is always the Linux one.
    return static_cast<UnixSystemHelper&>(instance()).resolverScript(args, output);
}

int UnixSystemHelper::resolverScript(const QStringList& args, QString& output)
{
    return m_resolverJobs.call([&args, &output] {
        return executeWithWait(ExternalTools::DNSSCRIPT(), args, output, ExternalTools::SMALL_WAIT_TIME(), false,
                               false);
    });
}

bool UnixSystemHelper::restoreDnsRecords()
{
    qDebug().noquote() << Q_FUNC_INFO << "(empty function)";
    m_disabledDNSOnPhysicalNIC = false;
    return true;
}

bool UnixSystemHelper::IPv6Block()
{
    qDebug().noquote() << Q_FUNC_INFO << "(empty function)";
    return true;
}

bool UnixSystemHelper::IPv6Unblock()
{
    qDebug().noquote() << Q_FUNC_INFO << "(empty function)";
    return true;
}

bool UnixSystemHelper::localnetworkTrafficDeny()
{
    return m_firewallJobs.call([] {
        QString output;
        return runFirewall(ExternalTools::localnetwork() << ExternalTools::deny(), output,
                           ExternalTools::SMALL_WAIT_TIME())
            == 0;
    });
}

bool UnixSystemHelper::localnetworkTrafficAllow()
{
    return m_firewallJobs.call([] {
        QString output;
        return runFirewall(ExternalTools::localnetwork() << ExternalTools::allow(), output,
                           ExternalTools::SMALL_WAIT_TIME())
            == 0;
    });
}

bool UnixSystemHelper::openLink(const QString& urlstr)
{
    QString output;
    const int code = executeWithWait(ExternalTools::OPEN_LINK(), { urlstr }, output, ExternalTools::SMALL_WAIT_TIME(),
                                     false, false);
    qDebug().noquote() << "Result: " << output.trimmed() << "  retCode:" << code;
    // A refusal (not a web address, no desktop user to open it as) and an
    // opener that fails at once (no browser to start) are failures.
    return code == 0;
}

QString UnixSystemHelper::v2RayBinaryFileName()
{
    return QStringLiteral("v2ray");
}

QString UnixSystemHelper::v2RayBinaryFullFilePath()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + v2RayBinaryFileName();
}

QString UnixSystemHelper::configsFilesDirPath()
{
    QString path = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (path.isEmpty()) {
        // The usual place of application data, below the home directory.
        path = QDir::homePath() + QStringLiteral("/.local/share/") + QCoreApplication::applicationName();
        qWarning().noquote() << Q_FUNC_INFO << "no writable data directory, using" << path;
    }
    makePrivateDirectory(path);
    return path;
}
