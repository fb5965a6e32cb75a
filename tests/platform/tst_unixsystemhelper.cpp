// UnixSystemHelper against the real scripts beside the test executable. As
// root the whole test runs in its own network and mount namespaces (it
// starts itself again under unshare), with a private writable layer over
// /etc; the host's firewall and resolver file are never touched.

#include "deployment.h"
#include "testsupport.h"

#include "nstools.h"
#include "settings.h"
#include "unix/externaltools.h"
#include "unix/systemhelper_unix.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

#include <functional>

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>

namespace {

const QString kUsersResolver = QStringLiteral("nameserver 192.0.2.53\n");

QStringList chainRules(const QString& program, const QString& chain)
{
    const NsTools::RunResult listing = NsTools::run(program, { QStringLiteral("-S"), chain });
    QStringList rules = listing.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    rules.removeAll(QStringLiteral("-N ") + chain);
    return rules;
}

// Both families' rules as iptables-save writes them, without its comments.
QString firewallRules()
{
    const QRegularExpression comments(QStringLiteral("(?m)^#.*\n"));
    return NsTools::run(QStringLiteral("iptables-save"), {}).out.remove(comments)
        + NsTools::run(QStringLiteral("ip6tables-save"), {}).out.remove(comments);
}

const QString kKillSwitchStart = QStringLiteral("^======== (\\d+)\\) command: \\S*ostrel-killswitch\\.sh ");

// Whether each kill-switch run that changes the firewall in the captured
// log ended before the next one started (the result line carries the run's
// number). A "status" only reads: it may run beside a change.
bool killSwitchRunsInTurn(QString& why)
{
    const QRegularExpression start(kKillSwitchStart + QStringLiteral("(?!status )"));
    const QRegularExpression result(QStringLiteral("^  (\\d+)\\) \\[\\d+ ms\\] command result "));
    QString running;
    for (const QString& line : LogCapture::lines()) {
        const QRegularExpressionMatch started = start.match(line);
        if (started.hasMatch()) {
            if (!running.isEmpty()) {
                why = QStringLiteral("run %1 started while run %2 was going on").arg(started.captured(1), running);
                return false;
            }
            running = started.captured(1);
        } else if (result.match(line).captured(1) == running) {
            running.clear();
        }
    }
    why = running.isEmpty() ? QString() : QStringLiteral("run %1 did not end").arg(running);
    return running.isEmpty();
}

// Runs `first`; once `runsBefore` kill-switch runs have started, a timer
// makes `second` inside the event processing of the wait going on then, as a
// click or a state change would. False when `second` did not come inside
// `first` or did not return.
bool nestInside(int runsBefore, const std::function<void()>& first, const std::function<void()>& second)
{
    QTimer poll;
    poll.setInterval(0);
    bool secondReturned = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (LogCapture::count(kKillSwitchStart) < runsBefore)
            return;
        poll.stop();
        second();
        secondReturned = true;
    });
    poll.start();
    first();
    return secondReturned;
}

} // namespace

// Stops the test function unless this process runs in its own namespaces:
// outside them the scripts would change the host's firewall and resolver.
#define REQUIRE_PRIVATE_NAMESPACES()                                                                                   \
    do {                                                                                                               \
        if (!m_whyNoNamespaces.isEmpty())                                                                              \
            QSKIP(qPrintable(m_whyNoNamespaces));                                                                      \
        QVERIFY(NsTools::inPrivateNamespaces());                                                                       \
    } while (false)

class TestUnixSystemHelper : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void killSwitchOnAndOff();
    void killSwitchHeldInOneFamily();
    void killSwitchRefusalIsAFailure();
    void killSwitchCallsWaitTheirTurn();
    void killSwitchReadOncePerPass();
    void dnsByFilteringMode_data();
    void dnsByFilteringMode();
    void dnsScriptFailureIsReported();
    void openLinkHandsOverAddressUnchanged_data();
    void openLinkHandsOverAddressUnchanged();
    void openLinkRefusesOtherThanWebAddresses_data();
    void openLinkRefusesOtherThanWebAddresses();
    void openLinkUnderPkexecRunsAsTheUser();
    void openLinkWaitsForTheOpener();
    void defaultRouteStoredFlag();
    void configurationDirectoryExists();

private:
    QString m_whyNoNamespaces;
    QTemporaryDir m_scratch;
    QTemporaryDir m_stubs;
    QTemporaryDir m_home;
    QByteArray m_savedPath;
};

void TestUnixSystemHelper::initTestCase()
{
    for (const char* name : { "ostrel-killswitch.sh", "ostrel-dns", "open_link.sh" }) {
        const QString path = QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
        QVERIFY2(QFileInfo(path).isExecutable(), qPrintable(path + QStringLiteral(" missing beside the test")));
    }
    QVERIFY(m_scratch.isValid());
    QVERIFY(m_stubs.isValid());
    QVERIFY(m_home.isValid());
    // The kill-switch script keeps the user's saved rules in /run/ostrel, on
    // the private /run of the namespaces; the home directory plays no part.
    qputenv("HOME", m_home.path().toLocal8Bit());

    if (!NsTools::inPrivateNamespaces()) {
        m_whyNoNamespaces = NsTools::whyNoNamespaces();
        if (m_whyNoNamespaces.isEmpty())
            m_whyNoNamespaces = QStringLiteral("could not start the test inside private namespaces");
    } else if (!NsTools::privateEtcForThisProcess(m_scratch.path())) {
        m_whyNoNamespaces = QStringLiteral("no private layer over /etc");
    } else {
        QCOMPARE(NsTools::run(QStringLiteral("ip"), { "link", "set", "lo", "up" }).code, 0);
    }

    // Stand-ins for the desktop's link opener and for sudo: they write
    // their arguments, one a line, to the file named by OSTREL_TEST_LINK_LOG.
    const QByteArray recorder = "#!/bin/sh\n"
                                "{ echo \"$(basename \"$0\")\"; for a in \"$@\"; do echo \"$a\"; done; } "
                                "> \"$OSTREL_TEST_LINK_LOG.tmp\"\n"
                                "mv \"$OSTREL_TEST_LINK_LOG.tmp\" \"$OSTREL_TEST_LINK_LOG\"\n";
    QVERIFY(TestSupport::writeExecutable(m_stubs.filePath(QStringLiteral("xdg-open")), recorder));
    QVERIFY(TestSupport::writeExecutable(m_stubs.filePath(QStringLiteral("sudo")), recorder));
    m_savedPath = qgetenv("PATH");
    qputenv("PATH", m_stubs.path().toLocal8Bit() + ':' + m_savedPath);
}

void TestUnixSystemHelper::cleanupTestCase()
{
    qputenv("PATH", m_savedPath);
    if (NsTools::inPrivateNamespaces())
        NsTools::releasePrivateEtcForThisProcess(m_scratch.path());
}

void TestUnixSystemHelper::init()
{
    settings().setValue(QStringLiteral("FullLog"), true);
}

void TestUnixSystemHelper::killSwitchOnAndOff()
{
    REQUIRE_PRIVATE_NAMESPACES();
    UnixSystemHelper helper;
    QVERIFY(!helper.isDefaultRouteRemoved(false));
    QVERIFY(!helper.isDefaultRouteRemoved(true));

    {
        LogCapture capture;
        QVERIFY(!helper.restoreDefaultRoute(true));
        QCOMPARE(LogCapture::count(QStringLiteral("^Canceled: !isDefaultRouteRemoved$")), 1);
        QCOMPARE(LogCapture::count(QStringLiteral("command: .*ostrel-killswitch.sh disable")), 0);
    }

    QVERIFY(helper.removeDefaultRoute(QStringLiteral("198.51.100.7")));
    QCOMPARE(chainRules(QStringLiteral("iptables"), QStringLiteral("ostrelallowedip")),
             QStringList { "-A ostrelallowedip -d 198.51.100.7/32 -j ACCEPT" });
    QVERIFY(!chainRules(QStringLiteral("ip6tables"), QStringLiteral("OUTPUT")).isEmpty());
    QVERIFY(helper.isDefaultRouteRemoved(false));
    QVERIFY(helper.isDefaultRouteRemoved(true));

    {
        // Already on: only the status is asked, the allowed server stays.
        LogCapture capture;
        QVERIFY(helper.removeDefaultRoute(QStringLiteral("198.51.100.8")));
        QCOMPARE(LogCapture::count(QStringLiteral("^firewall already enabled$")), 1);
        QCOMPARE(LogCapture::count(QStringLiteral("command: .*ostrel-killswitch.sh enable")), 0);
        QCOMPARE(chainRules(QStringLiteral("iptables"), QStringLiteral("ostrelallowedip")),
                 QStringList { "-A ostrelallowedip -d 198.51.100.7/32 -j ACCEPT" });
    }

    QVERIFY(helper.defaultRouteSetConnectionServer(QStringLiteral("198.51.100.9")));
    QCOMPARE(chainRules(QStringLiteral("iptables"), QStringLiteral("ostrelallowedip")),
             QStringList({ "-A ostrelallowedip -d 198.51.100.9/32 -j ACCEPT",
                           "-A ostrelallowedip -s 198.51.100.9/32 -j ACCEPT" }));

    QVERIFY(helper.localnetworkTrafficAllow());
    QCOMPARE(chainRules(QStringLiteral("iptables"), QStringLiteral("lan")).size(), 9);
    QVERIFY(helper.localnetworkTrafficDeny());
    QCOMPARE(chainRules(QStringLiteral("iptables"), QStringLiteral("lan")), QStringList());

    QVERIFY(helper.restoreDefaultRoute(false));
    QVERIFY(!helper.isDefaultRouteRemoved(false));
    QCOMPARE(chainRules(QStringLiteral("iptables"), QStringLiteral("OUTPUT")), QStringList { "-P OUTPUT ACCEPT" });
    QCOMPARE(chainRules(QStringLiteral("ip6tables"), QStringLiteral("OUTPUT")), QStringList { "-P OUTPUT ACCEPT" });
}

// After an outside flush of one address family the kill switch still holds
// the other: it counts as on, is built whole again when asked for, and is
// taken down when asked for.
void TestUnixSystemHelper::killSwitchHeldInOneFamily()
{
    REQUIRE_PRIVATE_NAMESPACES();
    UnixSystemHelper helper;
    const QString flush = QStringLiteral("for t in filter nat mangle; do $0 -t $t -F && $0 -t $t -X || exit 1; done");
    QVERIFY(helper.removeDefaultRoute(QStringLiteral("198.51.100.7")));
    QCOMPARE(NsTools::run(QStringLiteral("bash"), { QStringLiteral("-c"), flush, QStringLiteral("iptables") }).code, 0);
    QVERIFY(helper.isDefaultRouteRemoved(false));

    {
        LogCapture capture;
        QVERIFY(helper.removeDefaultRoute(QStringLiteral("198.51.100.7")));
        QCOMPARE(LogCapture::count(QStringLiteral("^firewall already enabled$")), 0);
        QCOMPARE(chainRules(QStringLiteral("iptables"), QStringLiteral("ostrelallowedip")),
                 QStringList { "-A ostrelallowedip -d 198.51.100.7/32 -j ACCEPT" });
    }

    QCOMPARE(NsTools::run(QStringLiteral("bash"), { QStringLiteral("-c"), flush, QStringLiteral("ip6tables") }).code,
             0);
    QVERIFY(helper.isDefaultRouteRemoved(false));
    QVERIFY(helper.restoreDefaultRoute(false));
    QVERIFY(!helper.isDefaultRouteRemoved(false));
    QCOMPARE(chainRules(QStringLiteral("iptables"), QStringLiteral("OUTPUT")), QStringList { "-P OUTPUT ACCEPT" });
    QCOMPARE(chainRules(QStringLiteral("ip6tables"), QStringLiteral("OUTPUT")), QStringList { "-P OUTPUT ACCEPT" });
}

// Where the user's rules cannot be saved safely the script refuses to turn
// the kill switch on: the caller reports that as a failure, with the
// script's reason for the user, and nothing has changed.
void TestUnixSystemHelper::killSwitchRefusalIsAFailure()
{
    REQUIRE_PRIVATE_NAMESPACES();
    // The private /run of this process, never the host's.
    QVERIFY(NsTools::inPrivateNamespaces());
    QCOMPARE(NsTools::run(QStringLiteral("bash"),
                          { QStringLiteral("-c"), QStringLiteral("rm -rf /run/ostrel && mkdir -m 0755 /run/ostrel") })
                 .code,
             0);
    const auto tidy = qScopeGuard([] {
        NsTools::run(QStringLiteral("bash"), { QStringLiteral("-c"), QStringLiteral("rmdir /run/ostrel") });
    });
    QCOMPARE(NsTools::run(QStringLiteral("iptables"), { "-A", "INPUT", "-s", "203.0.113.12", "-j", "DROP" }).code, 0);
    const QString before =
        NsTools::run(QStringLiteral("iptables-save"), {}).out.remove(QRegularExpression(QStringLiteral("(?m)^#.*\n")));

    UnixSystemHelper helper;
    QCOMPARE(helper.killSwitchFailure(), QString());
    {
        LogCapture capture;
        QVERIFY(!helper.removeDefaultRoute(QStringLiteral("198.51.100.7")));
        QVERIFY2(helper.killSwitchFailure().startsWith(
                     QLatin1String("/run/ostrel cannot hold the saved firewall rules safely")),
                 qPrintable(helper.killSwitchFailure()));
        QCOMPARE(LogCapture::count(QStringLiteral("^Kill switch not enabled: /run/ostrel cannot hold")), 1);
    }
    QVERIFY(!helper.isDefaultRouteRemoved(false));
    QCOMPARE(
        NsTools::run(QStringLiteral("iptables-save"), {}).out.remove(QRegularExpression(QStringLiteral("(?m)^#.*\n"))),
        before);
    QCOMPARE(NsTools::run(QStringLiteral("stat"), { "-c", "%a", "/run/ostrel" }).out, QStringLiteral("755\n"));

    // With a safe directory the same call succeeds and the failure is gone.
    QCOMPARE(NsTools::run(QStringLiteral("rmdir"), { QStringLiteral("/run/ostrel") }).code, 0);
    QVERIFY(helper.removeDefaultRoute(QStringLiteral("198.51.100.7")));
    QCOMPARE(helper.killSwitchFailure(), QString());
    QVERIFY(helper.restoreDefaultRoute(false));
    QCOMPARE(
        NsTools::run(QStringLiteral("iptables-save"), {}).out.remove(QRegularExpression(QStringLiteral("(?m)^#.*\n"))),
        before);
    QCOMPARE(NsTools::run(QStringLiteral("iptables"), { "-D", "INPUT", "-s", "203.0.113.12", "-j", "DROP" }).code, 0);
}

// A kill-switch call made while another one runs waits for it: none is
// dropped, the one asked last decides, each reports what it left, and the
// script's changes never overlap. The second call comes at several moments:
// before the first run, during it (the status) and during the change.
void TestUnixSystemHelper::killSwitchCallsWaitTheirTurn()
{
    REQUIRE_PRIVATE_NAMESPACES();
    // A rule of the user's in each family, to come back after each round.
    const QStringList usersRule { "INPUT", "-s", "203.0.113.12", "-j", "DROP" };
    const QStringList usersRule6 { "INPUT", "-s", "2001:db8::12", "-j", "DROP" };
    QCOMPARE(NsTools::run(QStringLiteral("iptables"), QStringList { "-A" } + usersRule).code, 0);
    QCOMPARE(NsTools::run(QStringLiteral("ip6tables"), QStringList { "-A" } + usersRule6).code, 0);
    const auto tidy = qScopeGuard([&] {
        NsTools::run(QStringLiteral("iptables"), QStringList { "-D" } + usersRule);
        NsTools::run(QStringLiteral("ip6tables"), QStringList { "-D" } + usersRule6);
    });
    UnixSystemHelper helper;
    const QString before = firewallRules();
    const QString server = QStringLiteral("198.51.100.7");
    const QString other = QStringLiteral("198.51.100.8");

    for (int runsBefore = 0; runsBefore <= 2; ++runsBefore) {
        const QString moment = QStringLiteral("second call after %1 runs").arg(runsBefore);
        LogCapture capture;
        QString why;

        // Off during on.
        bool removed = false;
        bool restored = false;
        QVERIFY2(nestInside(
                     runsBefore, [&] { removed = helper.removeDefaultRoute(server); },
                     [&] { restored = helper.restoreDefaultRoute(false); }),
                 qPrintable(moment));
        QVERIFY2(removed, qPrintable(moment));
        QVERIFY2(restored, qPrintable(moment));
        QVERIFY2(!helper.isDefaultRouteRemoved(false), qPrintable(moment));
        QCOMPARE(firewallRules(), before);
        QVERIFY2(killSwitchRunsInTurn(why), qPrintable(moment + QStringLiteral(": ") + why));

        // A server change during another one: the later server stays. A
        // change of the server is one "replace".
        QVERIFY(helper.removeDefaultRoute(server));
        bool firstSet = false;
        bool secondSet = false;
        QVERIFY2(nestInside(
                     LogCapture::count(kKillSwitchStart) + qMin(runsBefore, 1),
                     [&] { firstSet = helper.defaultRouteSetConnectionServer(server); },
                     [&] { secondSet = helper.defaultRouteSetConnectionServer(other); }),
                 qPrintable(moment));
        QVERIFY2(firstSet && secondSet, qPrintable(moment));
        const QString allowed = chainRules(QStringLiteral("iptables"), QStringLiteral("ostrelallowedip")).join('\n');
        QVERIFY2(allowed.contains(QLatin1String("-d 198.51.100.8/32"))
                     && !allowed.contains(QLatin1String("198.51.100.7")),
                 qPrintable(moment + QStringLiteral(": ") + allowed));
        QVERIFY2(killSwitchRunsInTurn(why), qPrintable(moment + QStringLiteral(": ") + why));
        QVERIFY(helper.restoreDefaultRoute(false));
        QCOMPARE(firewallRules(), before);
    }
}

// Within a pass the kill switch is read once and then known, with what the
// program's own changes do to it; the next pass, and a question outside any
// pass, read again and see a change made outside the program.
void TestUnixSystemHelper::killSwitchReadOncePerPass()
{
    REQUIRE_PRIVATE_NAMESPACES();
    UnixSystemHelper helper;
    const QString script = QCoreApplication::applicationDirPath() + QStringLiteral("/ostrel-killswitch.sh");
    const QString statusRun = kKillSwitchStart + QStringLiteral("status ");
    LogCapture capture;
    {
        const SystemHelper::KnownStateScope pass(helper);
        QVERIFY(!helper.isDefaultRouteRemoved(false));
        QVERIFY(helper.removeDefaultRoute(QStringLiteral("198.51.100.7")));
        QVERIFY(helper.isDefaultRouteRemoved(false));
        const int reads = LogCapture::count(statusRun);
        QVERIFY(helper.defaultRouteSetConnectionServer(QStringLiteral("198.51.100.8")));
        QVERIFY(helper.isDefaultRouteRemoved(false));
        QCOMPARE(LogCapture::count(statusRun), reads);
    }
    QCOMPARE(NsTools::run(script, { QStringLiteral("disable") }).code, 0);
    QVERIFY(!helper.isDefaultRouteRemoved(false));
    QCOMPARE(NsTools::run(script, { QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).code, 0);
    {
        const SystemHelper::KnownStateScope pass(helper);
        QVERIFY(helper.isDefaultRouteRemoved(false));
        QVERIFY(helper.restoreDefaultRoute(false));
        QVERIFY(!helper.isDefaultRouteRemoved(false));
    }
    QVERIFY(!helper.isDefaultRouteRemoved(false));

    // Read ahead, beside the server's exception: still the pass's one read,
    // taken up by its first question, and it sees an outside change made
    // before the pass. One that no question takes up ends with the pass.
    QCOMPARE(NsTools::run(script, { QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).code, 0);
    int reads = LogCapture::count(statusRun);
    {
        const SystemHelper::KnownStateScope pass(helper);
        helper.readKillSwitchAhead();
        QVERIFY(helper.defaultRouteSetConnectionServer(QStringLiteral("198.51.100.8")));
        QVERIFY(helper.isDefaultRouteRemoved(false));
        QVERIFY(helper.removeDefaultRoute(QStringLiteral("198.51.100.8")));
        QCOMPARE(LogCapture::count(statusRun), reads + 1);
        QVERIFY(helper.restoreDefaultRoute(false));
        QVERIFY(!helper.isDefaultRouteRemoved(false));
    }
    reads = LogCapture::count(statusRun);
    {
        const SystemHelper::KnownStateScope pass(helper);
        helper.readKillSwitchAhead();
    }
    QCOMPARE(LogCapture::count(statusRun), reads + 1);

    // The server's exception, set first in a pass, says what it found: no
    // status run follows, off as on.
    for (const bool on : { false, true }) {
        if (on)
            QCOMPARE(NsTools::run(script, { QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).code, 0);
        reads = LogCapture::count(statusRun);
        const SystemHelper::KnownStateScope pass(helper);
        QVERIFY(helper.defaultRouteSetConnectionServer(QStringLiteral("198.51.100.8")));
        QCOMPARE(helper.isDefaultRouteRemoved(false), on);
        QCOMPARE(LogCapture::count(statusRun), reads);
    }
    QCOMPARE(NsTools::run(script, { QStringLiteral("disable") }).code, 0);
}

void TestUnixSystemHelper::dnsByFilteringMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("nameserver");
    QTest::newRow("disabled") << int(Constants::DNSFiltering_disabled) << "1.1.1.1";
    QTest::newRow("secure DNS") << int(Constants::DNSFiltering_secureDNS)
                                << Deployment::value(QStringLiteral("dns/secureResolver"));
    QTest::newRow("secure DNS, local streaming") << int(Constants::DNSFiltering_secureDNS_localStreaming)
                                                 << Deployment::value(QStringLiteral("dns/secureStreamingResolver"));
    QTest::newRow("unknown mode") << 7 << "";
}

void TestUnixSystemHelper::dnsByFilteringMode()
{
    REQUIRE_PRIVATE_NAMESPACES();
    QFETCH(int, mode);
    QFETCH(QString, nameserver);

    QFile::remove(QStringLiteral("/etc/resolv.conf.orig"));
    QFile::remove(QStringLiteral("/etc/resolv.conf"));
    QVERIFY(TestSupport::writeBytes(QStringLiteral("/etc/resolv.conf"), kUsersResolver.toUtf8()));

    UnixSystemHelper helper;
    LogCapture capture;
    QVERIFY(helper.assignDnsToInterfaces(false, QStringLiteral("1.1.1.1"), QStringLiteral("2001:4860:4860::8888"),
                                         Constants::DNSFiltering(mode)));
    const QString resolver = SystemHelper::readAll(QStringLiteral("/etc/resolv.conf"));
    if (nameserver.isEmpty()) {
        QCOMPARE(resolver + QLatin1Char('\n'), kUsersResolver);
        QVERIFY2(LogCapture::count(QStringLiteral("Unknown DNS type: ")) == 1,
                 qPrintable(LogCapture::lines().join(QLatin1Char(10))));
    } else {
        QVERIFY2(resolver.endsWith(QStringLiteral("\nnameserver ") + nameserver), qPrintable(resolver));
        QVERIFY(resolver.contains(QLatin1String("ostrel")));
    }
    // The addresses are only logged, never handed to the script.
    QCOMPARE(LogCapture::count(QStringLiteral("command: .*ostrel-dns.*1\\.1\\.1\\.1")), 0);
}

// A DNS script that fails (a stand-in mounted over it, in this test's own
// mount namespace) is reported: false, and a warning with its exit code and
// output. The resolver entry point hands back both.
void TestUnixSystemHelper::dnsScriptFailureIsReported()
{
    REQUIRE_PRIVATE_NAMESPACES();
    const QString script = QCoreApplication::applicationDirPath() + QStringLiteral("/ostrel-dns");
    const QString standIn = m_stubs.filePath(QStringLiteral("failing-dns"));
    QVERIFY(TestSupport::writeExecutable(standIn,
                                         "#!/bin/sh\necho \"ERROR: cannot write /etc/resolv.conf ($1)\"\nexit 3\n"));
    QCOMPARE(NsTools::run(QStringLiteral("mount"), { QStringLiteral("--bind"), standIn, script }).code, 0);
    const auto unmount = qScopeGuard([&script] { NsTools::run(QStringLiteral("umount"), { script }); });

    UnixSystemHelper helper;
    LogCapture capture;
    QVERIFY(!helper.assignDnsToInterfaces(false, QStringLiteral("1.1.1.1"), QStringLiteral("2001:4860:4860::8888"),
                                          Constants::DNSFiltering_disabled));
    QCOMPARE(LogCapture::count(QStringLiteral(
                 "^DNS script failed, exit code 3 output: ERROR: cannot write /etc/resolv.conf \\(dns_on\\)$")),
             1);

    QString output;
    QCOMPARE(UnixSystemHelper::runResolverScript(ExternalTools::dnsscript_init(), output), 3);
    QCOMPARE(output, QStringLiteral("ERROR: cannot write /etc/resolv.conf (init)\n"));
    SystemHelper::release();
}

void TestUnixSystemHelper::openLinkHandsOverAddressUnchanged_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("sudoUser");
    QTest::addColumn<QStringList>("expected");

    const QString url = QStringLiteral("https://127.0.0.1:18080/redirect?to=https://127.0.0.1/a&b=$(id);c|d");
    QTest::newRow("plain") << url << QString() << QStringList { "xdg-open", url };
    QTest::newRow("started through sudo")
        << url << QStringLiteral("nobody") << QStringList { "sudo", "-H", "-E", "-u", "nobody", "--", "xdg-open", url };
}

void TestUnixSystemHelper::openLinkHandsOverAddressUnchanged()
{
    QFETCH(QString, url);
    QFETCH(QString, sudoUser);
    QFETCH(QStringList, expected);
    if (!sudoUser.isEmpty() && !TestSupport::isRoot())
        QSKIP("the browser is handed to the sudo user only when running as root");

    const QString record = m_stubs.filePath(QStringLiteral("opened"));
    QFile::remove(record);
    qputenv("OSTREL_TEST_LINK_LOG", record.toLocal8Bit());
    if (sudoUser.isEmpty())
        qunsetenv("SUDO_USER");
    else
        qputenv("SUDO_USER", sudoUser.toLocal8Bit());
    const auto restore = qScopeGuard([] { qunsetenv("SUDO_USER"); });

    UnixSystemHelper helper;
    LogCapture capture;
    QVERIFY(helper.openLink(url));
    QCOMPARE(LogCapture::count(QStringLiteral("^Result:  opening .*  retCode: 0$")), 1);
    // The opener runs detached; it writes its record when it has run.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(record), 10000);
    QCOMPARE(SystemHelper::readAllStrings(record), expected);
}

void TestUnixSystemHelper::openLinkRefusesOtherThanWebAddresses_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("local file") << "file:///etc/shadow";
    QTest::newRow("option") << "--help";
    QTest::newRow("script") << "javascript:alert(1)";
    QTest::newRow("quote") << "https://127.0.0.1/'$(id)'";
    QTest::newRow("line feed") << "https://127.0.0.1/\nfile:///etc/shadow";
    QTest::newRow("empty") << "";
}

void TestUnixSystemHelper::openLinkRefusesOtherThanWebAddresses()
{
    QFETCH(QString, url);
    const QString record = m_stubs.filePath(QStringLiteral("opened"));
    QFile::remove(record);
    qputenv("OSTREL_TEST_LINK_LOG", record.toLocal8Bit());

    UnixSystemHelper helper;
    LogCapture capture;
    // The caller is told, and the log shows why.
    QVERIFY(!helper.openLink(url));
    QVERIFY2(LogCapture::count(QStringLiteral("(?s)not a web address.*retCode: 2$")) == 1,
             qPrintable(LogCapture::lines().join(QLatin1Char(10))));
    // The refusal comes before anything is started.
    QVERIFY(!QFileInfo::exists(record));
}

// Started through pkexec (PKEXEC_UID, no SUDO_USER), the client's links
// open as the user who started it: a stand-in opener records the ids and
// home it runs with. A uid that names no user opens nothing, and says so.
void TestUnixSystemHelper::openLinkUnderPkexecRunsAsTheUser()
{
    if (!TestSupport::isRoot())
        QSKIP("the browser is handed to the pkexec user only when running as root");
    const passwd* nobody = getpwnam("nobody");
    QVERIFY(nobody);
    const QString nobodyUid = QString::number(nobody->pw_uid);
    const QString nobodyHome = QString::fromLocal8Bit(nobody->pw_dir);

    // A place the stand-in can be run from, and write to, as nobody.
    QTemporaryDir shared;
    QVERIFY(shared.isValid());
    QVERIFY(::chmod(QFile::encodeName(shared.path()).constData(), 0755) == 0);
    const QString bin = shared.filePath(QStringLiteral("bin"));
    const QString out = shared.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkdir(bin) && QDir().mkdir(out));
    QVERIFY(::chmod(QFile::encodeName(bin).constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(out).constData(), 0777) == 0);
    QVERIFY(TestSupport::writeExecutable(
        QDir(bin).filePath(QStringLiteral("xdg-open")),
        "#!/bin/sh\n"
        "{ id -u; id -g; echo \"$HOME\"; echo \"$USER\"; echo \"$1\"; } > \"$OSTREL_TEST_OUT/opened.tmp\"\n"
        "mv \"$OSTREL_TEST_OUT/opened.tmp\" \"$OSTREL_TEST_OUT/opened\"\n"));
    QVERIFY(::chmod(QFile::encodeName(QDir(bin).filePath(QStringLiteral("xdg-open"))).constData(), 0755) == 0);
    const QString record = QDir(out).filePath(QStringLiteral("opened"));
    const QString script = QCoreApplication::applicationDirPath() + QStringLiteral("/open_link.sh");
    const QString url = QStringLiteral("https://127.0.0.1:18080/help?a=1&b=$(id)");

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("SUDO_USER"));
    env.insert(QStringLiteral("PATH"), bin + QLatin1Char(':') + QString::fromLocal8Bit(m_savedPath));
    env.insert(QStringLiteral("OSTREL_TEST_OUT"), out);
    env.insert(QStringLiteral("PKEXEC_UID"), nobodyUid);
    const NsTools::RunResult opened = NsTools::run(script, { url }, 15000, env);
    QCOMPARE(opened.out, QStringLiteral("opening '%1'\n").arg(url));
    QCOMPARE(opened.code, 0);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(record), 10000);
    QCOMPARE(SystemHelper::readAllStrings(record),
             QStringList({ nobodyUid, QString::number(nobody->pw_gid), nobodyHome, QStringLiteral("nobody"), url }));

    // A uid without a user: nothing is opened, as root or otherwise.
    QVERIFY(QFile::remove(record));
    for (const QString& unknown : { QStringLiteral("3999999999"), QStringLiteral("nobody"), QString() }) {
        env.insert(QStringLiteral("PKEXEC_UID"), unknown);
        const NsTools::RunResult refused = NsTools::run(script, { url }, 15000, env);
        QVERIFY2(refused.code != 0, qPrintable(unknown));
        QVERIFY2(refused.err.contains(QLatin1String("not opening")), qPrintable(refused.err));
        QVERIFY(!refused.out.contains(QLatin1String("opening")));
    }
    QTest::qWait(300);
    QVERIFY(!QFileInfo::exists(record));
}

// The script waits a moment for the opener: one that fails at once (no
// browser can be started: xdg-open exits 3) is a failure the caller hears
// of; one that succeeds, or still runs (a browser that stays open), is
// success, told within the wait and without the caller's output held open.
void TestUnixSystemHelper::openLinkWaitsForTheOpener()
{
    QTemporaryDir bin;
    QVERIFY(bin.isValid());
    const QString pids = bin.filePath(QStringLiteral("pids"));
    QVERIFY(TestSupport::writeExecutable(bin.filePath(QStringLiteral("xdg-open")),
                                         "#!/bin/sh\n"
                                         "echo $$ >> \"$OSTREL_TEST_OPENER_PIDS\"\n"
                                         "case \"$OSTREL_TEST_OPENER\" in\n"
                                         "fail) echo 'xdg-open: no method available for opening' >&2; exit 3 ;;\n"
                                         "stay) exec sleep 60 ;;\n"
                                         "esac\n"));
    qputenv("PATH", bin.path().toLocal8Bit() + ':' + m_savedPath);
    qputenv("OSTREL_TEST_OPENER_PIDS", pids.toLocal8Bit());
    qunsetenv("SUDO_USER");
    const auto restore = qScopeGuard([&] {
        qputenv("PATH", m_stubs.path().toLocal8Bit() + ':' + m_savedPath);
        for (const QString& pid : SystemHelper::readAllStrings(pids))
            ::kill(pid_t(pid.toInt()), SIGKILL);
    });
    const QString url = QStringLiteral("https://127.0.0.1:18080/help?a=1&b=$(id)");
    const QString script = QCoreApplication::applicationDirPath() + QStringLiteral("/open_link.sh");

    UnixSystemHelper helper;
    for (const char* opener : { "fail", "succeed", "stay" }) {
        qputenv("OSTREL_TEST_OPENER", opener);
        LogCapture capture;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(helper.openLink(url), qstrcmp(opener, "fail") != 0);
        QVERIFY2(clock.elapsed() < 5000, opener);
        if (qstrcmp(opener, "fail") == 0)
            QVERIFY2(LogCapture::count(QStringLiteral("exited with 3.*retCode: 5$")) == 1,
                     qPrintable(LogCapture::lines().join(QLatin1Char(10))));
    }
    QCOMPARE(SystemHelper::readAllStrings(pids).size(), 3);
    // The browser outlives the script, whose output ends with the script.
    const QString browser = SystemHelper::readAllStrings(pids).last();
    QVERIFY(::kill(pid_t(browser.toInt()), 0) == 0);
    QElapsedTimer clock;
    clock.start();
    const NsTools::RunResult piped = NsTools::run(QStringLiteral("bash"),
                                                  { "-c", "\"$0\" \"$1\" 2>&1 | cat", script, url });
    QCOMPARE(piped.code, 0);
    QCOMPARE(piped.out, QStringLiteral("opening '%1'\n").arg(url));
    QVERIFY(clock.elapsed() < 5000);
}

void TestUnixSystemHelper::defaultRouteStoredFlag()
{
    UnixSystemHelper helper;
    QVERIFY(!helper.isDefaultRouteStored());
    QVERIFY(helper.saveDefaultRoute());
    QVERIFY(helper.isDefaultRouteStored());
    QVERIFY(helper.saveDefaultRoute());
    QVERIFY(helper.isDefaultRouteStored());
}

void TestUnixSystemHelper::configurationDirectoryExists()
{
    UnixSystemHelper helper;
    const QString dir = helper.configsFilesDirPath();
    QVERIFY(!dir.isEmpty());
    QVERIFY(QFileInfo(dir).isDir());
    QCOMPARE(dir, QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));
}

// Returns to the plain process when the namespaces cannot be had; the tests
// that need them then skip.
OSTREL_TEST_MAIN(TestUnixSystemHelper, TestMain::Core | TestMain::PrivateNamespaces)

#include "tst_unixsystemhelper.moc"
