// The kill-switch script, run for real inside network namespaces made by
// each test: rule listings after each command and packets that really pass
// or are dropped, for IPv4 and IPv6.

#include "testsupport.h"

#include "nstools.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>

#include <memory>

using NsTools::Namespace;
using NsTools::RunResult;

namespace {

const QString kUsage = QStringLiteral(
    "Usage: ostrel-killswitch.sh {enable|restore|disable|replace [ server IP]|localnetwork allow|localnetwork deny}\n");
// The last rule of OUTPUT while the kill switch is on.
const QString kDrop = QStringLiteral("-A OUTPUT -m comment --comment ostrel-killswitch -j DROP");

// Rule lines of `iptables -S`, without the policies.
QStringList ruleLines(const QString& listing)
{
    QStringList lines;
    const QStringList all = listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : all) {
        if (!line.startsWith(QLatin1String("-P ")))
            lines << line;
    }
    return lines;
}

} // namespace

class TestKillSwitchScript : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void answersAndExitCodes_data();
    void answersAndExitCodes();
    void enableBuildsRulesForBothFamilies();
    void enableTwiceKeepsSavedRules();
    void replaceServer();
    void localNetworkRules();
    void disableRestoresUsersRules();
    void disableWhileOffLeavesSavedRulesAlone();
    void disableIgnoresFileNotWrittenByEnable();
    void outsideFlushOfOneFamily_data();
    void outsideFlushOfOneFamily();
    void restoreCommand();
    void packetsDroppedAndPassed();
    void policiesOfBuiltInChainsKept();
    void savedRulesKeptUntilPutBack();
    void writersAtOnceNeverOpen_data();
    void writersAtOnceNeverOpen();
    void serverTextsResolvedOrBlocked();
    void disableCutShortLosesNothing();
    void familyThatCannotBeHeldFailsEnable();
    void ownRulesKnownByTheirMark();
    void disableThatCannotPutBackFails();
    void enableByCommandsStoppedAnywhere();
    void manyAddressesOfBothFamilies();
    void lockFileNotARegularFile();
    void changesInForceAnswerWithoutTheLock();

private:
    RunResult script(const QStringList& args) const;
    QStringList rules(bool v6, const QString& table = QStringLiteral("filter"), const QString& chain = QString()) const;
    bool reachable(const QString& address) const;
    QByteArray savedRules(bool v6) const;
    QStringList rulesInForce(bool v6) const;
    QStringList saveListing(bool v6) const;
    QStringList policies(bool v6) const;
    void addUsersRules() const;
    void addHostNames() const;
    int standIns(const QStringList& tools, const QStringList& bodies) const;

    QString m_script;
    std::unique_ptr<Namespace> m_ns;
    std::unique_ptr<QTemporaryDir> m_home;
    QProcessEnvironment m_env;
};

void TestKillSwitchScript::initTestCase()
{
    m_script = QCoreApplication::applicationDirPath() + QStringLiteral("/ostrel-killswitch.sh");
    QVERIFY2(QFileInfo(m_script).isExecutable(), qPrintable(m_script + QStringLiteral(" missing beside the test")));
    const QString why = NsTools::whyNoNamespaces();
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
}

void TestKillSwitchScript::init()
{
    // The saved rules live in /run/ostrel: a /run of the namespace's own.
    m_ns.reset(new Namespace(Namespace::NetAndMount));
    QVERIFY(m_ns->isValid());
    QVERIFY(m_ns->privateRun());
    m_home.reset(new QTemporaryDir);
    QVERIFY(m_home->isValid());
    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert(QStringLiteral("HOME"), m_home->path());
}

void TestKillSwitchScript::cleanup()
{
    m_ns.reset();
    m_home.reset();
}

RunResult TestKillSwitchScript::script(const QStringList& args) const
{
    return m_ns->exec(QStringList { m_script } + args, 15000, m_env);
}

QStringList TestKillSwitchScript::rules(bool v6, const QString& table, const QString& chain) const
{
    QStringList command { v6 ? QStringLiteral("ip6tables") : QStringLiteral("iptables"), QStringLiteral("-t"), table,
                          QStringLiteral("-S") };
    if (!chain.isEmpty())
        command << chain;
    const RunResult listing = m_ns->exec(command);
    if (listing.code != 0)
        return { QStringLiteral("<listing failed: %1>").arg(listing.err.trimmed()) };
    return ruleLines(listing.out);
}

bool TestKillSwitchScript::reachable(const QString& address) const
{
    const bool v6 = address.contains(QLatin1Char(':'));
    // A dropped request never gets an answer; one that passes is answered
    // at once, so the short wait only bounds the dropped case.
    const RunResult ping = m_ns->exec({ QStringLiteral("ping"), v6 ? QStringLiteral("-6") : QStringLiteral("-4"),
                                        QStringLiteral("-c1"), QStringLiteral("-W1"), address });
    return ping.code == 0;
}

QByteArray TestKillSwitchScript::savedRules(bool v6) const
{
    const RunResult read = m_ns->exec(
        { QStringLiteral("cat"),
          v6 ? QStringLiteral("/run/ostrel/ip6tables.original") : QStringLiteral("/run/ostrel/iptables.original") });
    return read.code == 0 ? read.out.toUtf8() : QByteArray();
}

void TestKillSwitchScript::addUsersRules() const
{
    const RunResult added = m_ns->bash(QStringLiteral("set -e\n"
                                                      "iptables -N userchain\n"
                                                      "iptables -A userchain -s 203.0.113.0/24 -j DROP\n"
                                                      "iptables -A INPUT -j userchain\n"
                                                      "iptables -P FORWARD DROP\n"
                                                      "iptables -t nat -A POSTROUTING -s 10.9.0.0/16 -j MASQUERADE\n"
                                                      "ip6tables -A INPUT -s 2001:db8:bad::/48 -j DROP\n"));
    QVERIFY2(added.code == 0, qPrintable(added.err));
}

void TestKillSwitchScript::answersAndExitCodes_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("onAfterwards");

    QTest::newRow("status") << QStringList { "status" } << "DISABLED status\n" << 0 << false;
    QTest::newRow("test") << QStringList { "test" } << "TEST COMMAND EXECUTED\n" << 0 << false;
    QTest::newRow("no command") << QStringList {} << kUsage << 1 << false;
    QTest::newRow("unknown command") << QStringList { "start", "1.2.3.4" } << kUsage << 1 << false;
    QTest::newRow("upper case") << QStringList { "ENABLE", "1.2.3.4" } << kUsage << 1 << false;
    QTest::newRow("localnetwork other") << QStringList { "localnetwork", "maybe" } << "" << 0 << false;
    QTest::newRow("allow while off") << QStringList { "localnetwork", "allow" } << "OK (LAN allowed)\n" << 0 << false;
    QTest::newRow("deny while off") << QStringList { "localnetwork", "deny" } << "OK (LAN blocked)\n" << 0 << false;
    QTest::newRow("replace while off") << QStringList { "replace", "192.0.2.1" } << "OK\n" << 0 << false;
    QTest::newRow("replace with status while off")
        << QStringList { "replace", "192.0.2.1", "--with-status" } << "OK\nDISABLED status\n"
        << 0 << false;
    QTest::newRow("disable while off") << QStringList { "disable" } << "DISABLED\n" << 0 << false;
    QTest::newRow("restore, nothing saved") << QStringList { "restore" } << "RESTORED\n" << 0 << false;
    QTest::newRow("enable") << QStringList { "enable", "192.0.2.1" } << "ENABLED\n" << 0 << true;
    QTest::newRow("enable without address") << QStringList { "enable" } << "ENABLED\n" << 0 << true;
}

void TestKillSwitchScript::answersAndExitCodes()
{
    QFETCH(QStringList, args);
    QFETCH(QString, answer);
    QFETCH(int, code);
    QFETCH(bool, onAfterwards);

    const RunResult run = script(args);
    QCOMPARE(run.out, answer);
    QCOMPARE(run.code, code);
    QCOMPARE(script({ QStringLiteral("status") }).out,
             onAfterwards ? QStringLiteral("ENABLED status\n") : QStringLiteral("DISABLED status\n"));
}

void TestKillSwitchScript::enableBuildsRulesForBothFamilies()
{
    addUsersRules();
    const RunResult enabled = script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") });
    QCOMPARE(enabled.out, QStringLiteral("ENABLED\n"));
    QCOMPARE(enabled.code, 0);
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("ENABLED status\n"));

    // Every rule in a built-in chain carries the kill switch's own mark.
    const QStringList common {
        "-N lan",
        "-N ostrelallowedip",
        "-A INPUT -m state --state RELATED,ESTABLISHED -m comment --comment ostrel-killswitch -j ACCEPT",
        "-A INPUT -i tun+ -m comment --comment ostrel-killswitch -j ACCEPT",
        "-A OUTPUT -o tun+ -m comment --comment ostrel-killswitch -j ACCEPT",
        "-A OUTPUT -o lo -m comment --comment ostrel-killswitch -j ACCEPT",
    };
    const QStringList tail {
        "-A OUTPUT -m state --state RELATED,ESTABLISHED -m comment --comment ostrel-killswitch -j ACCEPT",
        "-A OUTPUT -m comment --comment ostrel-killswitch -j ostrelallowedip",
        "-A OUTPUT -m comment --comment ostrel-killswitch -j lan",
        kDrop,
    };
    QCOMPARE(rules(false), common + tail + QStringList { "-A ostrelallowedip -d 198.51.100.7/32 -j ACCEPT" });
    const QStringList neighbourDiscovery {
        "-A OUTPUT -p ipv6-icmp -m icmp6 --icmpv6-type 133 -m comment --comment ostrel-killswitch -j ACCEPT",
        "-A OUTPUT -p ipv6-icmp -m icmp6 --icmpv6-type 135 -m comment --comment ostrel-killswitch -j ACCEPT",
        "-A OUTPUT -p ipv6-icmp -m icmp6 --icmpv6-type 136 -m comment --comment ostrel-killswitch -j ACCEPT",
    };
    QCOMPARE(rules(true), common + neighbourDiscovery + tail);
    // The user's address translation is gone while the kill switch is on.
    QCOMPARE(rules(false, QStringLiteral("nat")), QStringList());

    // The user's rules were saved first, marked as saved by "enable".
    const QByteArray saved = savedRules(false);
    QVERIFY(saved.startsWith("# ostrel-killswitch.sh enable"));
    QVERIFY(saved.contains("-A userchain -s 203.0.113.0/24 -j DROP"));
    QVERIFY(saved.contains("-A POSTROUTING -s 10.9.0.0/16 -j MASQUERADE"));
    QVERIFY(!saved.contains("ostrelallowedip"));
    QVERIFY(savedRules(true).contains("-A INPUT -s 2001:db8:bad::/48 -j DROP"));
}

void TestKillSwitchScript::enableTwiceKeepsSavedRules()
{
    addUsersRules();
    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).out, QStringLiteral("ENABLED\n"));
    const QByteArray saved4 = savedRules(false);
    const QByteArray saved6 = savedRules(true);
    const QStringList firstRules = rules(false);
    QVERIFY(!saved4.isEmpty());
    QVERIFY(!saved6.isEmpty());

    // A LAN exception given before is gone after the second "enable".
    QCOMPARE(script({ QStringLiteral("localnetwork"), QStringLiteral("allow") }).code, 0);
    QVERIFY(!rules(false, QStringLiteral("filter"), QStringLiteral("lan")).filter(QStringLiteral("-A lan")).isEmpty());

    const RunResult second = script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") });
    QCOMPARE(second.out, QStringLiteral("iptables rules overwritten\nENABLED\n"));
    QCOMPARE(second.code, 0);
    QCOMPARE(savedRules(false), saved4);
    QCOMPARE(savedRules(true), saved6);
    QCOMPARE(rules(false), firstRules);
    QCOMPARE(rules(false, QStringLiteral("filter"), QStringLiteral("lan")), QStringList { "-N lan" });
}

void TestKillSwitchScript::replaceServer()
{
    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).code, 0);

    QCOMPARE(script({ QStringLiteral("replace"), QStringLiteral("198.51.100.9") }).out, QStringLiteral("OK\n"));
    QCOMPARE(rules(false, QStringLiteral("filter"), QStringLiteral("ostrelallowedip")),
             QStringList({ "-N ostrelallowedip", "-A ostrelallowedip -d 198.51.100.9/32 -j ACCEPT",
                           "-A ostrelallowedip -s 198.51.100.9/32 -j ACCEPT" }));
    QCOMPARE(rules(true, QStringLiteral("filter"), QStringLiteral("ostrelallowedip")),
             QStringList({ "-N ostrelallowedip" }));

    // An IPv6 server moves the exception to the IPv6 rules.
    QCOMPARE(script({ QStringLiteral("replace"), QStringLiteral("2001:db8::9") }).out, QStringLiteral("OK\n"));
    QCOMPARE(rules(false, QStringLiteral("filter"), QStringLiteral("ostrelallowedip")),
             QStringList({ "-N ostrelallowedip" }));
    QCOMPARE(rules(true, QStringLiteral("filter"), QStringLiteral("ostrelallowedip")),
             QStringList({ "-N ostrelallowedip", "-A ostrelallowedip -d 2001:db8::9/128 -j ACCEPT",
                           "-A ostrelallowedip -s 2001:db8::9/128 -j ACCEPT" }));
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("ENABLED status\n"));
}

void TestKillSwitchScript::localNetworkRules()
{
    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).code, 0);

    QCOMPARE(script({ QStringLiteral("localnetwork"), QStringLiteral("allow") }).out,
             QStringLiteral("OK (LAN allowed)\n"));
    const QStringList once4 = rules(false, QStringLiteral("filter"), QStringLiteral("lan")).mid(1);
    const QStringList once6 = rules(true, QStringLiteral("filter"), QStringLiteral("lan")).mid(1);
    // Every pair of private ranges, only outside the tunnel.
    QCOMPARE(once4.size(), 9);
    QCOMPARE(once6.size(), 4);
    QVERIFY(once4.contains("-A lan -s 192.168.0.0/16 -d 10.0.0.0/8 ! -o tun+ -j ACCEPT"));
    QVERIFY(once4.contains("-A lan -s 172.16.0.0/12 -d 172.16.0.0/12 ! -o tun+ -j ACCEPT"));
    QVERIFY(once6.contains("-A lan -s fc00::/7 -d fe80::/10 ! -o tun+ -j ACCEPT"));

    // Allowed at every connect: the chain still holds the rules of one.
    for (int connect = 0; connect < 4; ++connect)
        QCOMPARE(script({ QStringLiteral("localnetwork"), QStringLiteral("allow") }).out,
                 QStringLiteral("OK (LAN allowed)\n"));
    QCOMPARE(rules(false, QStringLiteral("filter"), QStringLiteral("lan")).mid(1), once4);
    QCOMPARE(rules(true, QStringLiteral("filter"), QStringLiteral("lan")).mid(1), once6);

    QCOMPARE(script({ QStringLiteral("localnetwork"), QStringLiteral("deny") }).out,
             QStringLiteral("OK (LAN blocked)\n"));
    QCOMPARE(rules(false, QStringLiteral("filter"), QStringLiteral("lan")), QStringList { "-N lan" });
    QCOMPARE(rules(true, QStringLiteral("filter"), QStringLiteral("lan")), QStringList { "-N lan" });
    // The rest of the kill switch stays.
    QCOMPARE(rules(false).last(), QStringLiteral("-A ostrelallowedip -d 198.51.100.7/32 -j ACCEPT"));
}

void TestKillSwitchScript::disableRestoresUsersRules()
{
    addUsersRules();
    const QStringList before4 = rules(false);
    const QStringList beforeNat = rules(false, QStringLiteral("nat"));
    const QStringList before6 = rules(true);
    const QString policies = m_ns->exec({ QStringLiteral("iptables"), QStringLiteral("-S") }).out;

    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).code, 0);
    QCOMPARE(script({ QStringLiteral("localnetwork"), QStringLiteral("allow") }).code, 0);
    const RunResult disabled = script({ QStringLiteral("disable") });
    QCOMPARE(disabled.out, QStringLiteral("DISABLED\n"));
    QCOMPARE(disabled.code, 0);

    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("DISABLED status\n"));
    QCOMPARE(rules(false), before4);
    QCOMPARE(rules(false, QStringLiteral("nat")), beforeNat);
    QCOMPARE(rules(true), before6);
    QCOMPARE(m_ns->exec({ QStringLiteral("iptables"), QStringLiteral("-S") }).out, policies);
}

void TestKillSwitchScript::disableWhileOffLeavesSavedRulesAlone()
{
    addUsersRules();
    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).code, 0);
    QCOMPARE(script({ QStringLiteral("disable") }).code, 0);
    QVERIFY(rules(false).contains(QStringLiteral("-A userchain -s 203.0.113.0/24 -j DROP")));

    // The user changes the rules; a later "disable" while the kill switch is
    // off must not bring back what was saved before.
    QCOMPARE(m_ns->bash(QStringLiteral("iptables -F userchain && iptables -A userchain -s 192.0.2.9/32 -j DROP")).code,
             0);
    QCOMPARE(script({ QStringLiteral("disable") }).out, QStringLiteral("DISABLED\n"));
    QVERIFY(!rules(false).contains(QStringLiteral("-A userchain -s 203.0.113.0/24 -j DROP")));
    // IPv6 rules are not the kill switch's while it is off: they stay.
    QVERIFY(rules(true).contains(QStringLiteral("-A INPUT -s 2001:db8:bad::/48 -j DROP")));
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("DISABLED status\n"));
}

void TestKillSwitchScript::disableIgnoresFileNotWrittenByEnable()
{
    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).code, 0);
    // A rules file from elsewhere, without the mark of "enable".
    QCOMPARE(m_ns->bash(QStringLiteral("printf '%s' \"$1\" > /run/ostrel/iptables.original"),
                        { QStringLiteral("*filter\n:INPUT ACCEPT [0:0]\n:FORWARD ACCEPT [0:0]\n:OUTPUT ACCEPT [0:0]\n"
                                         "-A INPUT -s 203.0.113.5/32 -j DROP\nCOMMIT\n") })
                 .code,
             0);

    QCOMPARE(script({ QStringLiteral("disable") }).out, QStringLiteral("DISABLED\n"));
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("DISABLED status\n"));
    QCOMPARE(rules(false), QStringList());
    QCOMPARE(rules(true), QStringList());
}

// What a family's tables do, from its save listing: comments and counters
// left out, and a table that holds nothing but empty built-in chains that
// accept everything counts as absent, as it does for the packets.
QStringList TestKillSwitchScript::rulesInForce(bool v6) const
{
    const RunResult listing = m_ns->exec({ v6 ? QStringLiteral("ip6tables-save") : QStringLiteral("iptables-save") });
    if (listing.code != 0)
        return { QStringLiteral("<listing failed: %1>").arg(listing.err.trimmed()) };
    QStringList result;
    QStringList table;
    bool tableMatters = false;
    const QRegularExpression counters(QStringLiteral(" \\[\\d+:\\d+\\]$"));
    for (QString line : listing.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1Char('#')))
            continue;
        line.remove(counters);
        if (line.startsWith(QLatin1Char('*'))) {
            table = QStringList { line };
            tableMatters = false;
        } else if (line == QLatin1String("COMMIT")) {
            if (tableMatters)
                result << table;
        } else {
            table << line;
            if (!(line.startsWith(QLatin1Char(':')) && line.endsWith(QLatin1String(" ACCEPT"))))
                tableMatters = true;
        }
    }
    return result;
}

// An outside flush of one family while the kill switch is on: the other
// family still holds it, "enable" builds it again without taking its own
// rules for the user's, and "disable" brings both families back to the
// rules in force before the first "enable".
void TestKillSwitchScript::outsideFlushOfOneFamily_data()
{
    QTest::addColumn<bool>("flushV6");
    QTest::newRow("IPv4 flushed") << false;
    QTest::newRow("IPv6 flushed") << true;
}

void TestKillSwitchScript::outsideFlushOfOneFamily()
{
    QFETCH(bool, flushV6);
    // The user's rules live in the family that is not flushed.
    const RunResult added = m_ns->bash(
        flushV6 ? QStringLiteral("set -e\n"
                                 "iptables -N userchain\n"
                                 "iptables -A userchain -s 203.0.113.0/24 -j DROP\n"
                                 "iptables -A INPUT -j userchain\n"
                                 "iptables -t nat -A POSTROUTING -s 10.9.0.0/16 -j MASQUERADE\n")
                : QStringLiteral("set -e\n"
                                 "ip6tables -A INPUT -s 2001:db8:bad::/48 -j DROP\n"
                                 "ip6tables -P FORWARD DROP\n"
                                 "ip6tables -t mangle -A OUTPUT -d 2001:db8:1::/48 -j MARK --set-mark 7\n"));
    QVERIFY2(added.code == 0, qPrintable(added.err));
    const QStringList before4 = rulesInForce(false);
    const QStringList before6 = rulesInForce(true);
    QVERIFY(!(flushV6 ? before4 : before6).isEmpty());

    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).out, QStringLiteral("ENABLED\n"));
    const RunResult flushed = m_ns->bash(
        QStringLiteral("for t in filter nat mangle; do $1 -t $t -F && $1 -t $t -X || exit 1; done"),
        { flushV6 ? QStringLiteral("ip6tables") : QStringLiteral("iptables") });
    QVERIFY2(flushed.code == 0, qPrintable(flushed.err));
    QCOMPARE(script({ QStringLiteral("status") }).out,
             flushV6 ? QStringLiteral("ENABLED status (IPv4 only)\n") : QStringLiteral("ENABLED status (IPv6 only)\n"));
    // A replace asked for the status says what "status" says, whether it
    // changes the chain (the first) or finds it in force (the second).
    for (int run = 0; run < 2; ++run)
        QCOMPARE(
            script({ QStringLiteral("replace"), QStringLiteral("198.51.100.7"), QStringLiteral("--with-status") }).out,
            QStringLiteral("OK\n") + script({ QStringLiteral("status") }).out);

    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).out,
             QStringLiteral("iptables rules overwritten\nENABLED\n"));
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("ENABLED status\n"));
    QVERIFY(!savedRules(false).contains("ostrelallowedip"));
    QVERIFY(!savedRules(true).contains("ostrelallowedip"));

    QCOMPARE(script({ QStringLiteral("disable") }).out, QStringLiteral("DISABLED\n"));
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("DISABLED status\n"));
    QCOMPARE(rulesInForce(false), before4);
    QCOMPARE(rulesInForce(true), before6);
}

void TestKillSwitchScript::restoreCommand()
{
    addUsersRules();
    const QStringList before4 = rules(false);
    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).code, 0);
    const RunResult restored = script({ QStringLiteral("restore") });
    QCOMPARE(restored.out, QStringLiteral("RESTORED\n"));
    QCOMPARE(restored.code, 0);
    QCOMPARE(rules(false), before4);
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("DISABLED status\n"));
}

void TestKillSwitchScript::packetsDroppedAndPassed()
{
    // A second namespace stands for the world outside: one link into a
    // private (local) network, one towards the internet where the server
    // is, and one named like a tunnel device.
    Namespace peer(Namespace::Net);
    QVERIFY(peer.isValid());
    const QString peerPid = QString::number(peer.pid());
    const RunResult wired = m_ns->bash(
        QStringLiteral("set -e\n"
                       "link() { # name peer-name v4 v6\n"
                       "  ip link add \"$1\" type veth peer name \"$2\" netns \"$PEER\"\n"
                       "  ip link set \"$1\" up\n"
                       "  ip addr add \"$3.1/24\" dev \"$1\"\n"
                       "  ip addr add \"$4::1/64\" dev \"$1\" nodad\n"
                       "  nsenter --target \"$PEER\" --net sh -c "
                       "\"ip link set $2 up && ip addr add $3.2/24 dev $2 && ip addr add $4::2/64 dev $2 nodad\"\n"
                       "}\n"
                       "link lan0 peerlan 10.200.1 fd00:200\n"
                       "link wan0 peerwan 198.51.100 2001:db8:200\n"
                       "link tun0 peertun 198.18.0 2001:db8:300\n"),
        {}, 15000, [&] {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("PEER"), peerPid);
            return env;
        }());
    QVERIFY2(wired.code == 0, qPrintable(wired.err));

    const QStringList lan { "10.200.1.2", "fd00:200::2" };
    const QString server4 = QStringLiteral("198.51.100.2");
    const QString server6 = QStringLiteral("2001:db8:200::2");
    const QStringList tunnel { "198.18.0.2", "2001:db8:300::2", "127.0.0.1", "::1" };
    const auto forgetNeighbours = [this] {
        m_ns->exec({ QStringLiteral("ip"), QStringLiteral("neigh"), QStringLiteral("flush"), QStringLiteral("all") });
    };

    for (const QString& address : lan + tunnel + QStringList { server4, server6 })
        QVERIFY2(reachable(address), qPrintable(address + QStringLiteral(" unreachable before the kill switch")));

    QCOMPARE(script({ QStringLiteral("enable"), server4 }).out, QStringLiteral("ENABLED\n"));
    forgetNeighbours();
    QVERIFY(reachable(server4));
    for (const QString& address : tunnel)
        QVERIFY2(reachable(address), qPrintable(address + QStringLiteral(" blocked although allowed")));
    for (const QString& address : lan + QStringList { server6 })
        QVERIFY2(!reachable(address), qPrintable(address + QStringLiteral(" leaks past the kill switch")));

    QCOMPARE(script({ QStringLiteral("localnetwork"), QStringLiteral("allow") }).code, 0);
    for (const QString& address : lan)
        QVERIFY2(reachable(address), qPrintable(address + QStringLiteral(" blocked although the LAN is allowed")));
    QVERIFY(!reachable(server6));

    QCOMPARE(script({ QStringLiteral("localnetwork"), QStringLiteral("deny") }).code, 0);
    for (const QString& address : lan)
        QVERIFY2(!reachable(address), qPrintable(address + QStringLiteral(" leaks after the LAN was blocked")));

    // Moving to an IPv6 server: reached even with its neighbour entry
    // forgotten, while the old IPv4 server is now blocked.
    QCOMPARE(script({ QStringLiteral("replace"), server6 }).out, QStringLiteral("OK\n"));
    forgetNeighbours();
    QVERIFY(reachable(server6));
    QVERIFY(!reachable(server4));

    QCOMPARE(script({ QStringLiteral("disable") }).out, QStringLiteral("DISABLED\n"));
    for (const QString& address : lan + tunnel + QStringList { server4, server6 })
        QVERIFY2(reachable(address), qPrintable(address + QStringLiteral(" unreachable after the kill switch")));
}

// A family's save listing without comments and counters.
QStringList TestKillSwitchScript::saveListing(bool v6) const
{
    const RunResult listing = m_ns->exec({ v6 ? QStringLiteral("ip6tables-save") : QStringLiteral("iptables-save") });
    if (listing.code != 0)
        return { QStringLiteral("<listing failed: %1>").arg(listing.err.trimmed()) };
    QStringList lines;
    const QRegularExpression counters(QStringLiteral(" \\[\\d+:\\d+\\]$"));
    for (QString line : listing.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1Char('#')))
            continue;
        lines << line.remove(counters);
    }
    return lines;
}

// The tables of a family's save listing with the policies of their built-in
// chains ("*filter", ":INPUT DROP", ...).
QStringList TestKillSwitchScript::policies(bool v6) const
{
    QStringList result;
    for (const QString& line : saveListing(v6)) {
        if (line.startsWith(QLatin1Char('*')) || line.startsWith(QLatin1String("<listing"))
            || (line.startsWith(QLatin1Char(':')) && !line.endsWith(QLatin1String(" -"))))
            result << line;
    }
    return result;
}

// A user whose firewall drops what it does not accept: the kill switch
// keeps every built-in chain's policy, in both families and every table it
// touches, and a local service the user has not opened stays unreachable
// from the network before, during and after it.
void TestKillSwitchScript::policiesOfBuiltInChainsKept()
{
    Namespace peer(Namespace::Net);
    QVERIFY(peer.isValid());
    QProcessEnvironment peerEnv = QProcessEnvironment::systemEnvironment();
    peerEnv.insert(QStringLiteral("PEER"), QString::number(peer.pid()));
    const RunResult wired = m_ns->bash(
        QStringLiteral(
            "set -e\n"
            "ip link add veth0 type veth peer name veth1 netns \"$PEER\"\n"
            "ip link set veth0 up\n"
            "ip addr add 10.77.0.1/24 dev veth0\n"
            "ip addr add fd00:77::1/64 dev veth0 nodad\n"
            "nsenter --target \"$PEER\" --net sh -c "
            "'ip link set veth1 up && ip addr add 10.77.0.2/24 dev veth1 && ip addr add fd00:77::2/64 dev veth1 nodad'\n"),
        {}, 15000, peerEnv);
    QVERIFY2(wired.code == 0, qPrintable(wired.err));

    // Policies DROP, one service (port 8022) opened by the user's own rules
    // (and neighbour discovery for IPv6), a table of address translation and
    // one of marks with their own policies.
    const RunResult closed = m_ns->bash(
        QStringLiteral("set -e\n"
                       "for ipt in iptables ip6tables; do\n"
                       "  $ipt -P INPUT DROP\n"
                       "  $ipt -P OUTPUT DROP\n"
                       "  $ipt -P FORWARD DROP\n"
                       "  $ipt -A INPUT -p tcp --dport 8022 -j ACCEPT\n"
                       "  $ipt -A OUTPUT -p tcp --sport 8022 -j ACCEPT\n"
                       "  $ipt -A INPUT -i lo -j ACCEPT\n"
                       "  $ipt -A OUTPUT -o lo -j ACCEPT\n"
                       "  if [ $ipt = ip6tables ]; then\n"
                       "    $ipt -A INPUT -p ipv6-icmp -j ACCEPT\n"
                       "    $ipt -A OUTPUT -p ipv6-icmp -j ACCEPT\n"
                       "  fi\n"
                       "  $ipt -t mangle -P FORWARD DROP\n"
                       "  $ipt -t mangle -A OUTPUT -d 192.0.2.0/24 -j MARK --set-mark 7 2>/dev/null "
                       "|| $ipt -t mangle -A OUTPUT -j MARK --set-mark 7\n"
                       "  $ipt -t nat -A POSTROUTING -o veth0 -j RETURN\n"
                       "done\n"));
    QVERIFY2(closed.code == 0, qPrintable(closed.err));

    // Listeners on both families: 8080 not opened by the user, 8022 opened.
    QProcess listener;
    listener.start(
        QStringLiteral("nsenter"),
        { QStringLiteral("--target"), QString::number(m_ns->pid()), QStringLiteral("--net"), QStringLiteral("--"),
          QStringLiteral("perl"), QStringLiteral("-e"),
          QStringLiteral("use Socket qw(:all);\n"
                         "my @s;\n"
                         "for my $port (@ARGV) {\n"
                         "  socket(my $fh, AF_INET6, SOCK_STREAM, 0) or die \"socket: $!\";\n"
                         "  setsockopt($fh, SOL_SOCKET, SO_REUSEADDR, 1);\n"
                         "  setsockopt($fh, IPPROTO_IPV6, IPV6_V6ONLY, 0) or die \"v6only: $!\";\n"
                         "  bind($fh, pack_sockaddr_in6($port, IN6ADDR_ANY)) or die \"bind: $!\";\n"
                         "  listen($fh, 64) or die \"listen: $!\";\n"
                         "  push @s, $fh;\n"
                         "}\n"
                         "$| = 1; print \"ready\\n\";\n"
                         "my $rin = ''; vec($rin, fileno($_), 1) = 1 for @s;\n"
                         "while (1) {\n"
                         "  select(my $rout = $rin, undef, undef, undef);\n"
                         "  for my $fh (@s) { if (vec($rout, fileno($fh), 1)) { accept(my $c, $fh); close $c; } }\n"
                         "}\n"),
          QStringLiteral("8080"), QStringLiteral("8022") });
    QVERIFY(listener.waitForStarted(10000));
    const auto stopListener = qScopeGuard([&] {
        listener.kill();
        listener.waitForFinished(10000);
    });
    QVERIFY2(listener.waitForReadyRead(10000), listener.readAllStandardError().constData());
    QCOMPARE(listener.readLine(), QByteArray("ready\n"));

    // A connection from the peer that is not answered within two seconds
    // counts as blocked.
    const auto connects = [&peer](const QString& address, const QString& port) {
        return peer.bash(QStringLiteral("timeout 2 bash -c 'exec 3<>\"/dev/tcp/$0/$1\"' \"$1\" \"$2\""),
                         { address, port })
                   .code
            == 0;
    };
    const QStringList addresses { QStringLiteral("10.77.0.1"), QStringLiteral("fd00:77::1") };
    const auto checkReach = [&](const char* when, bool openedReachable) {
        for (const QString& address : addresses) {
            if (connects(address, QStringLiteral("8080")))
                return QStringLiteral("%1 port 8080 reachable from the network %2").arg(address, QLatin1String(when));
            if (connects(address, QStringLiteral("8022")) != openedReachable)
                return QStringLiteral("%1 port 8022 %2 %3")
                    .arg(address, openedReachable ? QLatin1String("unreachable") : QLatin1String("reachable"),
                         QLatin1String(when));
        }
        return QString();
    };

    const QStringList before4 = policies(false);
    const QStringList before6 = policies(true);
    QVERIFY2(before4.contains(QStringLiteral(":INPUT DROP")), qPrintable(before4.join(QLatin1Char('\n'))));
    QVERIFY2(before6.contains(QStringLiteral(":OUTPUT DROP")), qPrintable(before6.join(QLatin1Char('\n'))));
    QVERIFY(before4.contains(QStringLiteral("*nat")));
    QVERIFY(before4.contains(QStringLiteral("*mangle")));
    const QStringList rulesBefore4 = saveListing(false);
    const QStringList rulesBefore6 = saveListing(true);
    QString why = checkReach("before the kill switch", true);
    QVERIFY2(why.isEmpty(), qPrintable(why));

    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).out, QStringLiteral("ENABLED\n"));
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("ENABLED status\n"));
    QCOMPARE(policies(false), before4);
    QCOMPARE(policies(true), before6);
    // The user's own opening is gone with the user's rules while it is on.
    why = checkReach("with the kill switch on", false);
    QVERIFY2(why.isEmpty(), qPrintable(why));

    // Built again while on (a reconnect), and with the LAN exception.
    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).out,
             QStringLiteral("iptables rules overwritten\nENABLED\n"));
    QCOMPARE(script({ QStringLiteral("localnetwork"), QStringLiteral("allow") }).code, 0);
    QCOMPARE(policies(false), before4);
    QCOMPARE(policies(true), before6);
    why = checkReach("with the kill switch built again", false);
    QVERIFY2(why.isEmpty(), qPrintable(why));

    QCOMPARE(script({ QStringLiteral("disable") }).out, QStringLiteral("DISABLED\n"));
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("DISABLED status\n"));
    QCOMPARE(policies(false), before4);
    QCOMPARE(policies(true), before6);
    QCOMPARE(saveListing(false), rulesBefore4);
    QCOMPARE(saveListing(true), rulesBefore6);
    why = checkReach("after the kill switch", true);
    QVERIFY2(why.isEmpty(), qPrintable(why));

    // Taken down without its saved rules: the policies stay all the same.
    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).code, 0);
    QCOMPARE(m_ns->bash(QStringLiteral("rm -f /run/ostrel/iptables.original /run/ostrel/ip6tables.original")).code, 0);
    QCOMPARE(script({ QStringLiteral("disable") }).out, QStringLiteral("DISABLED\n"));
    QCOMPARE(policies(false), before4);
    QCOMPARE(policies(true), before6);
    why = checkReach("after the kill switch without saved rules", false);
    QVERIFY2(why.isEmpty(), qPrintable(why));
}

// Rules saved by "enable" stay until "disable" puts them back: an outside
// flush followed by another "enable" never replaces them. Without saved
// rules of its own, "disable" takes away only the kill switch's rules. And
// without a safe root-only directory "enable" changes nothing.
void TestKillSwitchScript::savedRulesKeptUntilPutBack()
{
    // The sequence of the report: the user's chain, enable, an outside
    // flush of IPv4, enable again (a reconnect), disable.
    QCOMPARE(m_ns->bash(QStringLiteral("set -e\n"
                                       "iptables -N userchain\n"
                                       "iptables -A OUTPUT -d 192.0.2.1 -j userchain\n"
                                       "ip6tables -A INPUT -s 2001:db8:bad::/48 -j DROP\n"))
                 .code,
             0);
    const QStringList before4 = saveListing(false);
    const QStringList before6 = saveListing(true);
    QVERIFY(before4.contains(QStringLiteral("-A OUTPUT -d 192.0.2.1/32 -j userchain")));

    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).out, QStringLiteral("ENABLED\n"));
    const QByteArray saved4 = savedRules(false);
    QVERIFY(saved4.contains("-A OUTPUT -d 192.0.2.1/32 -j userchain"));
    QCOMPARE(m_ns->bash(QStringLiteral("iptables -F && iptables -X")).code, 0);
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("ENABLED status (IPv6 only)\n"));
    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).out,
             QStringLiteral("iptables rules overwritten\nENABLED\n"));
    QCOMPARE(savedRules(false), saved4);
    // Even a fully flushed firewall (the kill switch off in both families)
    // does not make a later "enable" replace what waits to be put back.
    QCOMPARE(m_ns->bash(QStringLiteral("iptables -F && iptables -X && ip6tables -F && ip6tables -X")).code, 0);
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("DISABLED status\n"));
    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).out, QStringLiteral("ENABLED\n"));
    QCOMPARE(savedRules(false), saved4);
    QCOMPARE(script({ QStringLiteral("disable") }).out, QStringLiteral("DISABLED\n"));
    QCOMPARE(saveListing(false), before4);
    QCOMPARE(saveListing(true), before6);
    // Put back, the saved rules are used up: the next "enable" saves anew.
    QCOMPARE(savedRules(false), QByteArray());
    QCOMPARE(savedRules(true), QByteArray());

    // Disable with the saved file missing: rules the user has at that time
    // (here added while the kill switch is on) stay, only the kill switch's
    // own chains and rules go.
    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).out, QStringLiteral("ENABLED\n"));
    QCOMPARE(m_ns->bash(QStringLiteral("set -e\n"
                                       "rm /run/ostrel/iptables.original /run/ostrel/ip6tables.original\n"
                                       "iptables -N userchain\n"
                                       "iptables -A userchain -d 192.0.2.9 -j DROP\n"
                                       "iptables -I OUTPUT 1 -d 192.0.2.1 -j userchain\n"
                                       "iptables -A INPUT -s 203.0.113.9 -j DROP\n"
                                       "ip6tables -A INPUT -s 2001:db8:bad::/48 -j DROP\n"))
                 .code,
             0);
    QCOMPARE(script({ QStringLiteral("disable") }).out, QStringLiteral("DISABLED\n"));
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("DISABLED status\n"));
    QCOMPARE(rules(false),
             QStringList({ "-N userchain", "-A INPUT -s 203.0.113.9/32 -j DROP",
                           "-A OUTPUT -d 192.0.2.1/32 -j userchain", "-A userchain -d 192.0.2.9/32 -j DROP" }));
    QCOMPARE(rules(true), QStringList({ "-A INPUT -s 2001:db8:bad::/48 -j DROP" }));

    // A saved file not written by the script (no mark): the same.
    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).out, QStringLiteral("ENABLED\n"));
    QCOMPARE(
        m_ns->bash(QStringLiteral("set -e\n"
                                  "printf '*filter\\n:INPUT ACCEPT [0:0]\\nCOMMIT\\n' > /run/ostrel/iptables.original\n"
                                  "iptables -A INPUT -s 203.0.113.10 -j DROP\n"))
            .code,
        0);
    QCOMPARE(script({ QStringLiteral("disable") }).out, QStringLiteral("DISABLED\n"));
    QCOMPARE(rules(false), QStringList({ "-A INPUT -s 203.0.113.10/32 -j DROP" }));

    // No safe place for the saved rules: "enable" says why, exits with 2 and
    // changes nothing; the directory is never changed or removed.
    const QStringList unsafe {
        QStringLiteral("chmod 0755 /run/ostrel"),
        QStringLiteral("chown nobody /run/ostrel"),
        QStringLiteral("rmdir /run/ostrel && mkdir -m 0700 /run/elsewhere && ln -s elsewhere /run/ostrel"),
        QStringLiteral("rmdir /run/ostrel && touch /run/ostrel && chmod 0700 /run/ostrel"),
        QStringLiteral("rmdir /run/ostrel && mount -o remount,ro /run"),
    };
    for (const QString& setUp : unsafe) {
        Namespace ns(Namespace::NetAndMount);
        QVERIFY(ns.isValid());
        QVERIFY(ns.privateRun());
        QCOMPARE(ns.bash(QStringLiteral("set -e; rm -rf /run/ostrel /run/elsewhere; mkdir -m 0700 /run/ostrel; ")
                         + setUp + QStringLiteral("; iptables -A INPUT -s 203.0.113.11 -j DROP"))
                     .code,
                 0);
        const auto state = [&ns] {
            return ns
                .bash(QStringLiteral("iptables-save | grep -v '^#'; ip6tables-save | grep -v '^#'; "
                                     "stat -c '%F %u %a' /run/ostrel /run/ostrel/* 2>&1; ls -la /run"))
                .out;
        };
        const QString before = state();
        const RunResult refused = ns.exec({ m_script, QStringLiteral("enable"), QStringLiteral("198.51.100.7") }, 15000,
                                          m_env);
        QVERIFY2(refused.out.startsWith(QLatin1String("ERROR:")),
                 qPrintable(setUp + QStringLiteral(": ") + refused.out));
        QCOMPARE(refused.out.count(QLatin1Char('\n')), 1);
        QCOMPARE(refused.code, 2);
        QCOMPARE(state(), before);
        QCOMPARE(ns.exec({ m_script, QStringLiteral("status") }).out, QStringLiteral("DISABLED status\n"));
    }
}

// Host names of the test's own, in the namespace's private /etc/hosts.
void TestKillSwitchScript::addHostNames() const
{
    QVERIFY(m_ns->privateEtc());
    QCOMPARE(m_ns->bash(QStringLiteral("printf '%s\n' '198.51.100.7 v2-proxy.example' '2001:db8::7 v2-proxy.example' "
                                       "'198.51.100.9 other-proxy.example' >> /etc/hosts"))
                 .code,
             0);
}

// Writers started at the same moment, round after round, while a sampler
// lists OUTPUT of both families: it holds the final drop at every sample,
// and after each round exactly one server's addresses are allowed. Then a
// writer that finds the lock held past its wait refuses and changes nothing.
void TestKillSwitchScript::writersAtOnceNeverOpen_data()
{
    QTest::addColumn<QStringList>("servers");
    QTest::addColumn<QStringList>("allowed");
    QTest::newRow("addresses") << QStringList { "198.51.100.7", "2001:db8::7", "198.51.100.9" }
                               << QStringList { "198.51.100.7/32", "2001:db8::7/128", "198.51.100.9/32" };
    QTest::newRow("host names") << QStringList { "v2-proxy.example", "other-proxy.example", "198.51.100.9" }
                                << QStringList { "198.51.100.7/32 2001:db8::7/128", "198.51.100.9/32",
                                                 "198.51.100.9/32" };
}

void TestKillSwitchScript::writersAtOnceNeverOpen()
{
    QFETCH(QStringList, servers);
    QFETCH(QStringList, allowed);
    addHostNames();
    QCOMPARE(script({ QStringLiteral("enable"), servers.at(0) }).out, QStringLiteral("ENABLED\n"));

    const RunResult rounds = m_ns->bash(
        QStringLiteral(
            "S=$1 A=$2 B=$3 C=$4; shift 4\n"
            "sample() { # until /run/stop: samples, and those without a final drop\n"
            "  local n=0 open=0 ipt rules\n"
            "  while [ ! -e /run/stop ] && [ $n -lt 100000 ]; do\n"
            "    for ipt in iptables ip6tables; do\n"
            "      n=$((n + 1)); rules=$($ipt -S OUTPUT)\n"
            "      [[ \"${rules##*$'\\n'}\" == *' -j DROP' ]] || open=$((open + 1))\n"
            "    done\n"
            "  done\n"
            "  echo \"$n $open\" > /run/samples\n"
            "}\n"
            "rm -f /run/stop; sample & sampler=$!\n"
            "for round in 1 2 3 4 5 6 7 8; do\n"
            "  writers=()\n"
            "  for args in \"enable $A\" \"replace $B\" \"enable $C\" \"replace $A\" 'localnetwork allow' 'localnetwork deny'; do\n"
            "    \"$S\" $args >/dev/null & writers+=($!)\n"
            "  done\n"
            "  wait \"${writers[@]}\"\n"
            "  now=$( { iptables -S ostrelallowedip; ip6tables -S ostrelallowedip; } | awk '$3 == \"-d\" { printf \"%s%s\", s, $4; s = \" \" }')\n"
            "  match=no; for one in \"$@\"; do [ \"$now\" = \"$one\" ] && match=yes; done\n"
            "  [ $match = yes ] || echo \"round $round: allowed: $now\"\n"
            "done\n"
            "touch /run/stop; wait $sampler; cat /run/samples\n"),
        QStringList { m_script } + servers + allowed, 120000, m_env);
    QCOMPARE(rounds.code, 0);
    const QStringList lines = rounds.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(lines.size() == 1, qPrintable(rounds.out));
    const QStringList counts = lines.first().split(QLatin1Char(' '));
    QCOMPARE(counts.size(), 2);
    QVERIFY2(counts.at(0).toInt() >= 20, qPrintable(rounds.out));
    QVERIFY2(counts.at(1) == QLatin1String("0"),
             qPrintable(QStringLiteral("OUTPUT open in %1 of %2 samples").arg(counts.at(1), counts.at(0))));
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("ENABLED status\n"));

    // The lock held elsewhere past the wait: refused, nothing changed.
    const RunResult busy = m_ns->bash(
        QStringLiteral(
            "set -m; flock /run/ostrel/firewall.lock sh -c 'touch /run/held; exec sleep 30' >/dev/null & holder=$!\n"
            "for i in $(seq 100); do [ -e /run/held ] && break; sleep 0.1; done\n"
            "listing() { iptables-save; ip6tables-save; } 2>&1 | grep -v '^#'\n"
            "before=$(listing)\n"
            "\"$1\" enable 198.51.100.1; echo \"exit $?\"\n"
            "[ \"$before\" = \"$(listing)\" ] && echo unchanged\n"
            "kill -- -$holder\n"),
        { m_script }, 60000, m_env);
    QVERIFY2(busy.out.startsWith(QLatin1String("ERROR: ")) && busy.out.endsWith(QLatin1String("\nexit 2\nunchanged\n")),
             qPrintable(busy.out));
}

// A server text that is no plain address is resolved first and its
// addresses take the same one-step road; a text that stands for no address
// leaves the server blocked too and is reported.
void TestKillSwitchScript::serverTextsResolvedOrBlocked()
{
    addHostNames();
    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("v2-proxy.example") }).out, QStringLiteral("ENABLED\n"));
    QCOMPARE(rules(false, QStringLiteral("filter"), QStringLiteral("ostrelallowedip")).mid(1),
             QStringList { "-A ostrelallowedip -d 198.51.100.7/32 -j ACCEPT" });
    QCOMPARE(rules(true, QStringLiteral("filter"), QStringLiteral("ostrelallowedip")).mid(1),
             QStringList { "-A ostrelallowedip -d 2001:db8::7/128 -j ACCEPT" });
    QCOMPARE(script({ QStringLiteral("replace"), QStringLiteral("other-proxy.example") }).out, QStringLiteral("OK\n"));
    QCOMPARE(rules(false, QStringLiteral("filter"), QStringLiteral("ostrelallowedip")).mid(1),
             QStringList({ "-A ostrelallowedip -d 198.51.100.9/32 -j ACCEPT",
                           "-A ostrelallowedip -s 198.51.100.9/32 -j ACCEPT" }));
    QCOMPARE(rules(true, QStringLiteral("filter"), QStringLiteral("ostrelallowedip")).mid(1), QStringList());

    for (const QString& text :
         { QStringLiteral("no-such-host.invalid"), QStringLiteral("bad_name"), QStringLiteral("198.51.100.0/24"),
           QStringLiteral("-j ACCEPT"), QStringLiteral("198.51.100.256"), QStringLiteral("2001:db8::7::1") }) {
        for (const QString& command : { QStringLiteral("enable"), QStringLiteral("replace") }) {
            const RunResult run = script({ command, text });
            QVERIFY2(run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).last().startsWith(QLatin1String("ERROR: ")),
                     qPrintable(command + QLatin1Char(' ') + text + QStringLiteral(": ") + run.out));
            QCOMPARE(run.code, 3);
            QCOMPARE(rules(false).filter(QStringLiteral("-A OUTPUT")).last(), kDrop);
            QCOMPARE(rules(false, QStringLiteral("filter"), QStringLiteral("ostrelallowedip")).mid(1), QStringList());
            QCOMPARE(rules(true, QStringLiteral("filter"), QStringLiteral("ostrelallowedip")).mid(1), QStringList());
        }
    }
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("ENABLED status\n"));
}

// "disable" killed with its process group at several moments and run
// again: both families hold exactly the user's rules, and no saved file is
// left waiting.
void TestKillSwitchScript::disableCutShortLosesNothing()
{
    addUsersRules();
    QCOMPARE(
        m_ns->bash(QStringLiteral(
                       "ip6tables -P FORWARD DROP && ip6tables -t nat -A POSTROUTING -s fd00:9::/64 -j MASQUERADE"))
            .code,
        0);
    const QStringList before4 = saveListing(false);
    const QStringList before6 = saveListing(true);
    for (int delayMs = 0; delayMs <= 150; delayMs += 10) {
        QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).out, QStringLiteral("ENABLED\n"));
        QCOMPARE(
            m_ns->bash(
                    QStringLiteral(
                        "set -m; \"$1\" disable >/dev/null & sleep \"$2\"; kill -KILL -- -$! 2>/dev/null; wait; true"),
                    { m_script, QString::number(delayMs / 1000.0, 'f', 3) }, 15000, m_env)
                .code,
            0);
        QCOMPARE(script({ QStringLiteral("disable") }).out, QStringLiteral("DISABLED\n"));
        QVERIFY2(saveListing(false) == before4, qPrintable(QStringLiteral("IPv4 after a stop at %1 ms").arg(delayMs)));
        QVERIFY2(saveListing(true) == before6, qPrintable(QStringLiteral("IPv6 after a stop at %1 ms").arg(delayMs)));
        QCOMPARE(m_ns->exec({ QStringLiteral("ls"), QStringLiteral("/run/ostrel") }).out,
                 QStringLiteral("firewall.lock\n"));
    }
}

// An IPv6 stack that ip6tables cannot hold (the Debian alternatives of the
// private /etc pointed at a stand-in that fails): "enable" says so and
// fails, IPv4 is closed all the same. Without IPv6 there is nothing to hold.
void TestKillSwitchScript::familyThatCannotBeHeldFailsEnable()
{
    QVERIFY(m_ns->privateEtc());
    const RunResult broken = m_ns->bash(QStringLiteral(
        "set -e\n"
        "printf '#!/bin/sh\\necho \"stand-in that does not work\" >&2\\nexit 1\\n' > /run/broken; chmod +x /run/broken\n"
        "for tool in ip6tables ip6tables-restore ip6tables-save; do\n"
        "  [ \"$(readlink /usr/sbin/$tool)\" = /etc/alternatives/$tool ] || { echo \"no alternative for $tool\"; exit 3; }\n"
        "  ln -sfn /run/broken /etc/alternatives/$tool\n"
        "done\n"
        "! ip6tables -S\n"));
    if (broken.code == 3)
        QSKIP(qPrintable(broken.out));
    QVERIFY2(broken.code == 0, qPrintable(broken.err));

    const RunResult enabled = script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") });
    QVERIFY2(enabled.out.startsWith(QLatin1String("ERROR: IPv6 ")) && enabled.out.count(QLatin1Char('\n')) == 1,
             qPrintable(enabled.out));
    QVERIFY(enabled.out.contains(QLatin1String("stand-in that does not work")));
    QCOMPARE(enabled.code, 3);
    QCOMPARE(rules(false).last(), QStringLiteral("-A ostrelallowedip -d 198.51.100.7/32 -j ACCEPT"));
    QVERIFY(rules(false).contains(kDrop));
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("ENABLED status (IPv4 only)\n"));

    QCOMPARE(
        m_ns->bash(QStringLiteral("sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1"
                                  " && [ ! -s /proc/net/if_inet6 ]"))
            .code,
        0);
    const RunResult withoutIpv6 = script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") });
    QCOMPARE(withoutIpv6.out, QStringLiteral("iptables rules overwritten\nENABLED\n"));
    QCOMPARE(withoutIpv6.code, 0);
}

// Without its saved rules "disable" takes away only rules with the kill
// switch's mark: a user's rule that looks like one of them stays. A kill
// switch of an older version, without marks, loses one copy of each of its
// rules: the user's copy stays.
void TestKillSwitchScript::ownRulesKnownByTheirMark()
{
    const QString usersRule = QStringLiteral("-A INPUT -m state --state RELATED,ESTABLISHED -j ACCEPT");
    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).out, QStringLiteral("ENABLED\n"));
    QCOMPARE(
        m_ns->bash(QStringLiteral("set -e; rm /run/ostrel/*.original; iptables -P INPUT DROP; iptables ") + usersRule)
            .code,
        0);
    QCOMPARE(script({ QStringLiteral("disable") }).out, QStringLiteral("DISABLED\n"));
    QCOMPARE(rules(false), QStringList { usersRule });
    QVERIFY(policies(false).contains(QStringLiteral(":INPUT DROP")));

    QCOMPARE(m_ns->bash(QStringLiteral("set -e\n"
                                       "iptables -N ostrelallowedip; iptables -N lan\n"
                                       "iptables -I INPUT 1 -m state --state RELATED,ESTABLISHED -j ACCEPT\n"
                                       "iptables -A INPUT -i tun+ -j ACCEPT\n"
                                       "iptables -A OUTPUT -o tun+ -j ACCEPT\n"
                                       "iptables -A OUTPUT -o lo -j ACCEPT\n"
                                       "iptables -A OUTPUT -m state --state ESTABLISHED,RELATED -j ACCEPT\n"
                                       "iptables -A OUTPUT -j ostrelallowedip\n"
                                       "iptables -A OUTPUT -j lan\n"
                                       "iptables -A OUTPUT -j DROP\n"
                                       "iptables -A ostrelallowedip -d 198.51.100.7 -j ACCEPT\n"))
                 .code,
             0);
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("ENABLED status (IPv4 only)\n"));
    QCOMPARE(script({ QStringLiteral("disable") }).out, QStringLiteral("DISABLED\n"));
    QCOMPARE(rules(false), QStringList { usersRule });
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("DISABLED status\n"));
}

// Points the Debian alternatives of the private /etc for the given tools at
// stand-ins: bash scripts with the given bodies, where $REAL names the real
// tool. An empty body points the tool back at the real one. Exit code of
// the set-up: 3 when the tools are not reached through the alternatives.
int TestKillSwitchScript::standIns(const QStringList& tools, const QStringList& bodies) const
{
    const RunResult put = m_ns->bash(
        QStringLiteral("set -e\n"
                       "[ -e /run/stand-ins ] || mkdir /run/stand-ins\n"
                       "while [ $# -gt 0 ]; do\n"
                       "  tool=$1 body=$2; shift 2\n"
                       "  if [ ! -e /run/stand-ins/$tool.real ]; then\n"
                       "    [ \"$(readlink /usr/sbin/$tool)\" = /etc/alternatives/$tool ] || exit 3\n"
                       "    readlink /etc/alternatives/$tool > /run/stand-ins/$tool.real\n"
                       "  fi\n"
                       "  real=$(cat /run/stand-ins/$tool.real)\n"
                       "  if [ -z \"$body\" ]; then ln -sfn \"$real\" /etc/alternatives/$tool; continue; fi\n"
                       "  printf '#!/bin/bash\\nREAL=%s\\n%s\\n' \"$real\" \"$body\" > /run/stand-ins/$tool\n"
                       "  chmod +x /run/stand-ins/$tool\n"
                       "  ln -sfn /run/stand-ins/$tool /etc/alternatives/$tool\n"
                       "done\n"),
        [&] {
            QStringList args;
            for (int i = 0; i < tools.size(); ++i)
                args << tools.at(i) << bodies.value(i);
            return args;
        }());
    return put.code;
}

// iptables-restore failing while "disable" puts the saved rules back
// (stand-ins): for IPv4 at once, for IPv6 after its first table; then
// answering success without doing anything. Each time "disable" says why
// and fails, the kill switch stays on and the saved rules wait; once the
// tool works again, "disable" puts them back exactly.
void TestKillSwitchScript::disableThatCannotPutBackFails()
{
    addUsersRules();
    QCOMPARE(m_ns->bash(QStringLiteral("ip6tables -t nat -A POSTROUTING -s fd00:9::/64 -j MASQUERADE")).code, 0);
    const QStringList before4 = saveListing(false);
    const QStringList before6 = saveListing(true);
    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).out, QStringLiteral("ENABLED\n"));
    QVERIFY(m_ns->privateEtc());

    const QStringList restorers { QStringLiteral("iptables-restore"), QStringLiteral("ip6tables-restore") };
    const QString halfWay = QStringLiteral("awk '{ print } $0 == \"COMMIT\" { exit }' | \"$REAL\" \"$@\"; exit 1");
    const QString idle = QStringLiteral("cat > /dev/null");
    for (const QStringList& bodies :
         { QStringList { QStringLiteral("exit 1"), halfWay }, QStringList { idle, idle } }) {
        const int put = standIns(restorers, bodies);
        if (put == 3)
            QSKIP("iptables-restore is not reached through the Debian alternatives");
        QCOMPARE(put, 0);
        const RunResult failed = script({ QStringLiteral("disable") });
        QVERIFY2(failed.out.startsWith(QLatin1String("ERROR: the IPv4 and IPv6 rules saved"))
                     && failed.out.count(QLatin1Char('\n')) == 1,
                 qPrintable(bodies.join(QStringLiteral(" / ")) + QStringLiteral(": ") + failed.out));
        QCOMPARE(failed.code, 3);
        QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("ENABLED status\n"));
        QVERIFY(rules(false).contains(kDrop));
        QVERIFY(rules(true).contains(kDrop));
        QCOMPARE(m_ns->exec({ QStringLiteral("ls"), QStringLiteral("/run/ostrel") }).out,
                 QStringLiteral("firewall.lock\nip6tables.original\niptables.original\n"));
    }

    QCOMPARE(standIns(restorers, {}), 0);
    QCOMPARE(script({ QStringLiteral("disable") }).out, QStringLiteral("DISABLED\n"));
    QCOMPARE(saveListing(false), before4);
    QCOMPARE(saveListing(true), before6);
    QCOMPARE(m_ns->exec({ QStringLiteral("ls"), QStringLiteral("/run/ostrel") }).out,
             QStringLiteral("firewall.lock\n"));
}

// "enable" one command at a time (iptables-restore refused by a stand-in),
// killed with its process group right after one change or another (a
// stand-in for iptables counts them): "status" names every family whose
// rules are no longer exactly the user's, its outgoing traffic is dropped
// unless its OUTPUT chain is still the user's, and "disable" gives back the
// user's rules and policies exactly.
void TestKillSwitchScript::enableByCommandsStoppedAnywhere()
{
    addUsersRules();
    QCOMPARE(m_ns->bash(QStringLiteral("set -e\n"
                                       "iptables -A OUTPUT -d 192.0.2.77 -j ACCEPT\n"
                                       "ip6tables -A OUTPUT -d 2001:db8:77::1 -j ACCEPT\n"
                                       "ip6tables -P FORWARD DROP\n"
                                       "ip6tables -t nat -A POSTROUTING -s fd00:9::/64 -j MASQUERADE\n"))
                 .code,
             0);
    const QStringList before4 = saveListing(false);
    const QStringList before6 = saveListing(true);
    const QStringList output4 = rules(false, QStringLiteral("filter"), QStringLiteral("OUTPUT"));
    const QStringList output6 = rules(true, QStringLiteral("filter"), QStringLiteral("OUTPUT"));
    QVERIFY(m_ns->privateEtc());
    // While /run/stop-at holds a number, iptables-restore is refused and
    // every change is logged; the change of that number is the last.
    const QString counter = QStringLiteral(
        "\"$REAL\" \"$@\"; code=$?\n"
        "if [ -e /run/stop-at ]; then\n"
        "  for word in \"$@\"; do\n"
        "    case $word in -N | -I | -A | -D | -F | -X | -P | -E | -Z | -R)\n"
        "      echo \"${0##*/} $*\" >> /run/changes\n"
        "      if [ \"$(wc -l < /run/changes)\" = \"$(cat /run/stop-at)\" ]; then rm -f /run/stop-at; kill -KILL 0; fi\n"
        "      break ;;\n"
        "    esac\n"
        "  done\n"
        "fi\n"
        "exit $code");
    const QString refuser = QStringLiteral("[ -e /run/stop-at ] && exit 1; exec \"$REAL\" \"$@\"");
    const int put = standIns({ QStringLiteral("iptables"), QStringLiteral("ip6tables"),
                               QStringLiteral("iptables-restore"), QStringLiteral("ip6tables-restore") },
                             { counter, counter, refuser, refuser });
    if (put == 3)
        QSKIP("the iptables tools are not reached through the Debian alternatives");
    QCOMPARE(put, 0);
    const auto enableStoppedAt = [this](int change) {
        return m_ns
            ->bash(QStringLiteral("rm -f /run/changes; echo \"$2\" > /run/stop-at\n"
                                  "set -m; \"$1\" enable 198.51.100.7 >/dev/null & wait $!\n"
                                  "rm -f /run/stop-at; cat /run/changes"),
                   { m_script, QString::number(change) }, 30000, m_env)
            .out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    };

    // A whole run first, for the number of changes in each family.
    const QStringList changes = enableStoppedAt(1000000);
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("ENABLED status\n"));
    QVERIFY(rules(false).contains(QStringLiteral("-A ostrelallowedip -d 198.51.100.7/32 -j ACCEPT")));
    QCOMPARE(script({ QStringLiteral("disable") }).out, QStringLiteral("DISABLED\n"));
    QCOMPARE(saveListing(false), before4);
    QCOMPARE(saveListing(true), before6);
    const int all = changes.size();
    const int v4 = changes.filter(QRegularExpression(QStringLiteral("^iptables "))).size();
    QVERIFY2(v4 > 4 && all - v4 > 4, qPrintable(changes.join(QLatin1Char('\n'))));

    // Stopped after the IPv4 chain alone, half-way through IPv4, after the
    // IPv6 chain, half-way through IPv6.
    for (const int stop : { 1, v4 / 2, v4 + 1, (v4 + all) / 2 }) {
        const QString at = QStringLiteral("stopped after change %1 of %2: ").arg(stop).arg(all);
        QCOMPARE(enableStoppedAt(stop).size(), stop);
        const QString status = script({ QStringLiteral("status") }).out;
        for (const bool v6 : { false, true }) {
            if (saveListing(v6) == (v6 ? before6 : before4))
                continue;
            const QStringList held { QStringLiteral("ENABLED status\n"),
                                     v6 ? QStringLiteral("ENABLED status (IPv6 only)\n")
                                        : QStringLiteral("ENABLED status (IPv4 only)\n") };
            QVERIFY2(held.contains(status), qPrintable(at + status));
            const QStringList output = rules(v6, QStringLiteral("filter"), QStringLiteral("OUTPUT"));
            QVERIFY2(output == (v6 ? output6 : output4) || output.contains(kDrop),
                     qPrintable(at + output.join(QLatin1Char('\n'))));
        }
        const RunResult disabled = script({ QStringLiteral("disable") });
        QVERIFY2(disabled.out == QLatin1String("DISABLED\n") && disabled.code == 0, qPrintable(at + disabled.out));
        const QStringList after4 = saveListing(false);
        const QStringList after6 = saveListing(true);
        QVERIFY2(after4 == before4, qPrintable(at + after4.join(QLatin1Char('\n'))));
        QVERIFY2(after6 == before6, qPrintable(at + after6.join(QLatin1Char('\n'))));
    }
}

// A host name with 40 addresses of each family (IPv6 listed first): each
// address is allowed once, at most 16 of each family, and neither family
// pushes out the other.
void TestKillSwitchScript::manyAddressesOfBothFamilies()
{
    QVERIFY(m_ns->privateEtc());
    QCOMPARE(m_ns->bash(QStringLiteral("for i in $(seq 40); do\n"
                                       "  echo \"2001:db8::$i many.example\"; echo \"198.51.100.$i many.example\"\n"
                                       "done >> /etc/hosts"))
                 .code,
             0);
    const auto allowed = [this](bool v6, const QString& direction) {
        QStringList addresses;
        const QRegularExpression rule(
            QStringLiteral("^-A ostrelallowedip %1 (%2)/%3 -j ACCEPT$")
                .arg(direction, v6 ? QStringLiteral("2001:db8::[0-9]+") : QStringLiteral("198\\.51\\.100\\.[0-9]+"),
                     v6 ? QStringLiteral("128") : QStringLiteral("32")));
        for (const QString& line : rules(v6, QStringLiteral("filter"), QStringLiteral("ostrelallowedip")).mid(1)) {
            const QRegularExpressionMatch match = rule.match(line);
            if (match.hasMatch())
                addresses << match.captured(1);
        }
        addresses.removeDuplicates();
        return addresses.size();
    };

    const RunResult enabled = script({ QStringLiteral("enable"), QStringLiteral("many.example") });
    QCOMPARE(enabled.out, QStringLiteral("ENABLED\n"));
    QCOMPARE(enabled.code, 0);
    QCOMPARE(rules(false, QStringLiteral("filter"), QStringLiteral("ostrelallowedip")).size(), 17);
    QCOMPARE(allowed(false, QStringLiteral("-d")), 16);
    QCOMPARE(rules(true, QStringLiteral("filter"), QStringLiteral("ostrelallowedip")).size(), 17);
    QCOMPARE(allowed(true, QStringLiteral("-d")), 16);

    QCOMPARE(script({ QStringLiteral("replace"), QStringLiteral("many.example") }).out, QStringLiteral("OK\n"));
    for (const bool v6 : { false, true }) {
        QCOMPARE(rules(v6, QStringLiteral("filter"), QStringLiteral("ostrelallowedip")).size(), 33);
        QCOMPARE(allowed(v6, QStringLiteral("-d")), 16);
        QCOMPARE(allowed(v6, QStringLiteral("-s")), 16);
    }
}

// A lock path that is no regular file (a FIFO, a link to a file): a command
// that changes the firewall refuses at once and changes nothing.
void TestKillSwitchScript::lockFileNotARegularFile()
{
    for (const QString& setUp :
         { QStringLiteral("mkfifo /run/ostrel/firewall.lock"),
           QStringLiteral("touch /run/elsewhere && ln -s /run/elsewhere /run/ostrel/firewall.lock") }) {
        QCOMPARE(m_ns->bash(QStringLiteral("set -e; rm -rf /run/ostrel; mkdir -m 0700 /run/ostrel; ") + setUp).code, 0);
        const auto listing = [this] {
            return m_ns->bash(QStringLiteral("{ iptables-save; ip6tables-save; } | grep -v '^#'")).out;
        };
        const QString before = listing();
        for (const QString& command : { QStringLiteral("enable"), QStringLiteral("disable") }) {
            const RunResult refused = m_ns->exec({ m_script, command, QStringLiteral("198.51.100.7") }, 10000, m_env);
            QVERIFY2(
                refused.out
                    == QLatin1String(
                        "ERROR: the lock file /run/ostrel/firewall.lock is not a regular file; nothing was changed\n"),
                qPrintable(setUp + QStringLiteral(": ") + refused.out));
            QCOMPARE(refused.code, 2);
        }
        QCOMPARE(listing(), before);
    }
}

// A "replace" or "localnetwork allow" whose outcome is in force already
// answers at once, also while another change holds the lock; one that
// differs in any rule still changes the chain, under the lock.
void TestKillSwitchScript::changesInForceAnswerWithoutTheLock()
{
    QCOMPARE(script({ QStringLiteral("enable"), QStringLiteral("198.51.100.7") }).code, 0);
    QCOMPARE(script({ QStringLiteral("replace"), QStringLiteral("2001:db8::7") }).code, 0);
    QCOMPARE(script({ QStringLiteral("localnetwork"), QStringLiteral("allow") }).code, 0);
    const QStringList lan4 = rules(false, QStringLiteral("filter"), QStringLiteral("lan"));
    const QStringList lan6 = rules(true, QStringLiteral("filter"), QStringLiteral("lan"));

    const RunResult held = m_ns->bash(
        QStringLiteral(
            "set -m; flock /run/ostrel/firewall.lock sh -c 'touch /run/held; exec sleep 30' >/dev/null & holder=$!\n"
            "for i in $(seq 100); do [ -e /run/held ] && break; sleep 0.1; done\n"
            "\"$1\" replace 2001:db8::7; echo \"exit $?\"\n"
            "\"$1\" localnetwork allow; echo \"exit $?\"\n"
            "\"$1\" replace 198.51.100.9 | cut -c1-6; echo \"exit ${PIPESTATUS[0]}\"\n"
            "kill -- -$holder\n"),
        { m_script }, 60000, m_env);
    QCOMPARE(held.out, QStringLiteral("OK\nexit 0\nOK (LAN allowed)\nexit 0\nERROR:\nexit 2\n"));

    // A rule added from outside, or one taken away, is not in force.
    const QString server6 = QStringLiteral("-A ostrelallowedip -d 2001:db8::7/128 -j ACCEPT");
    QCOMPARE(m_ns->exec({ QStringLiteral("ip6tables"), QStringLiteral("-A"), QStringLiteral("ostrelallowedip"),
                          QStringLiteral("-d"), QStringLiteral("2001:db8::66"), QStringLiteral("-j"),
                          QStringLiteral("ACCEPT") })
                 .code,
             0);
    QCOMPARE(
        m_ns->exec({ QStringLiteral("iptables"), QStringLiteral("-D"), QStringLiteral("lan"), QStringLiteral("1") })
            .code,
        0);
    QCOMPARE(script({ QStringLiteral("replace"), QStringLiteral("2001:db8::7") }).out, QStringLiteral("OK\n"));
    QCOMPARE(rules(true, QStringLiteral("filter"), QStringLiteral("ostrelallowedip")),
             QStringList({ "-N ostrelallowedip", server6, "-A ostrelallowedip -s 2001:db8::7/128 -j ACCEPT" }));
    QCOMPARE(script({ QStringLiteral("localnetwork"), QStringLiteral("allow") }).out,
             QStringLiteral("OK (LAN allowed)\n"));
    QCOMPARE(rules(false, QStringLiteral("filter"), QStringLiteral("lan")), lan4);
    QCOMPARE(rules(true, QStringLiteral("filter"), QStringLiteral("lan")), lan6);
    QCOMPARE(script({ QStringLiteral("status") }).out, QStringLiteral("ENABLED status\n"));
}

OSTREL_TEST_MAIN(TestKillSwitchScript, TestMain::Core)

#include "tst_killswitch.moc"
