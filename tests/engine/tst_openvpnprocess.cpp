// OpenVPN process control without a server: finding and checking the
// executable, the adapter query, a management socket nobody answers on, and
// credentials that must not be sent. Fake executables are small scripts.
#include "engineworker.h"
#include "nstools.h"
#include "testsupport.h"

#include "systemhelper.h"
#include "unix/qopenvpn2.h"

#include <QTemporaryDir>

namespace {
// A stand-in OpenVPN that answers "--version" with `versionLine` and
// otherwise does `otherwise`.
QString fakeOpenVpn(const QString& dir, const QByteArray& versionLine, const QByteArray& otherwise)
{
    const QString path = dir + "/openvpn.ostrel";
    const QByteArray script = "#!/bin/sh\nif [ \"$1\" = --version ]; then printf '%s\\n' '" + versionLine
        + "'; exit 1; fi\n" + otherwise;
    return TestSupport::writeExecutable(path, script) ? path : QString();
}
} // namespace

class TestOpenVpnProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { SystemHelper::instance(); }

    void versionLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("2.6") << "OpenVPN 2.6.14 x86_64-pc-linux-gnu [SSL (OpenSSL)]" << true;
        QTest::newRow("2.4") << "OpenVPN 2.4.12 x86_64" << true;
        QTest::newRow("2.5") << "OpenVPN 2.5.0 x86_64" << true;
        QTest::newRow("3.x") << "OpenVPN 3.0 core" << true;
        QTest::newRow("2.0 rejected") << "OpenVPN 2.0.9 i686" << false;
        QTest::newRow("1.x rejected") << "OpenVPN 1.6.0 i686" << false;
        QTest::newRow("other program") << "WireGuard 1.0" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("only the name") << "OpenVPN" << true;
        QTest::newRow("lower case name") << "openvpn 2.0.1" << false;
    }
    void versionLines()
    {
        QFETCH(QString, line);
        QFETCH(bool, accepted);
        QCOMPARE(QOpenVPN2::versionLineAccepted(line), accepted);
    }

    void adapterOutputs_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("adapter listed") << "Available TAP-WIN32 adapters [name, GUID]:\r\n'tap0' {x}\r\n" << true;
        QTest::newRow("heading only") << "Available TAP-WIN32 adapters [name, GUID]:\r\n" << false;
        QTest::newRow("too short") << "ab\n" << false;
        QTest::newRow("empty") << "" << false;
    }
    void adapterOutputs()
    {
        QFETCH(QString, output);
        QFETCH(bool, accepted);
        QCOMPARE(QOpenVPN2::adaptersOutputAccepted(output), accepted);
    }

    void initializeRefusesMissingOrOldExecutables_data()
    {
        QTest::addColumn<QByteArray>("versionLine");
        QTest::addColumn<bool>("createFile");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("missing") << QByteArray() << false << "file not exist";
        QTest::newRow("2.0") << QByteArray("OpenVPN 2.0.9 i686-pc-linux-gnu") << true << "openvpn checkVersion failed!";
        QTest::newRow("not OpenVPN") << QByteArray("something else 9.9") << true << "openvpn checkVersion failed!";
    }
    void initializeRefusesMissingOrOldExecutables()
    {
        QFETCH(QByteArray, versionLine);
        QFETCH(bool, createFile);
        QFETCH(QString, logLine);
        QTemporaryDir dir;
        const QString path = createFile ? fakeOpenVpn(dir.path(), versionLine, "exit 0\n")
                                        : dir.path() + "/openvpn.ostrel";
        LogCapture log;
        QOpenVPN2 engine;
        QVERIFY(!engine.initializeWith(path));
        QVERIFY(LogCapture::contains(logLine));
    }

    void initializeFindsTheExecutableBesideTheProgram()
    {
        const QString beside = QCoreApplication::applicationDirPath() + "/openvpn.ostrel";
        QVERIFY2(QFile::exists(beside), "the build places openvpn.ostrel beside the executables");
        const bool dnsScript = QFile::exists(QCoreApplication::applicationDirPath() + "/ostrel-dns");
        if (dnsScript && !NsTools::inPrivateNamespaces())
            QSKIP("the resolver script may run only inside the test's own mount namespace (root)");
        QOpenVPN2 engine;
        LogCapture log;
        const bool ok = engine.initialize();
        QCOMPARE(engine.openVPNExePath(), beside);
        QVERIFY(LogCapture::contains("openvpn checkVersion Ok"));
        // The last step runs the resolver script beside the program ("init"
        // on this namespace's private resolver file).
        if (dnsScript) {
            QVERIFY(ok);
        } else {
            QVERIFY(!ok);
            QVERIFY(LogCapture::contains("dnsscript_init failed"));
        }
    }

    void tapQueryIsBoundedAndJudgesTheOutput_data()
    {
        QTest::addColumn<QByteArray>("behaviour");
        QTest::addColumn<bool>("expected");
        QTest::newRow("lists an adapter") << QByteArray("printf 'Available adapters:\\ntun0\\n'\n") << true;
        QTest::newRow("lists none") << QByteArray("printf 'Available adapters:\\r\\n'\n") << false;
        QTest::newRow("never ends") << QByteArray("exec sleep 600\n") << false;
    }
    void tapQueryIsBoundedAndJudgesTheOutput()
    {
        QFETCH(QByteArray, behaviour);
        QFETCH(bool, expected);
        QTemporaryDir dir;
        QOpenVPN2 engine;
        // A refused version still sets the path, and keeps initialize()
        // from running the resolver script here.
        QVERIFY(!engine.initializeWith(fakeOpenVpn(dir.path(), "OpenVPN 1.9", behaviour)));
        QCOMPARE(engine.tapInstalled(), expected);
    }

    void silentManagementPortGivesCantConnectAndLeavesNothingRunning()
    {
        if (!NsTools::inPrivateNamespaces())
            QSKIP("needs root: /run/ostrel must be private to this test (mount namespace)");
        QTemporaryDir dir;
        // Starts fine but never opens a management socket.
        const QString fake = fakeOpenVpn(dir.path(), "OpenVPN 2.6.0", "exec sleep 300\n");
        Constants::ConnectState finalState = Constants::ConnectState_NoValue;
        OpenVpnManagerState managerState = stopped_none;
        bool result = true;
        bool runningAfter = true;
        EngineWorker worker;
        QVERIFY(worker.begin());
        OpenVpnConnectParams p;
        p.protocol = Constants::ProtocolType_OPENVPN128;
        p.username = "alice";
        p.password = "secret";
        p.ovpnFile = "config.ovpn";
        p.configPath = dir.path();
        QVERIFY(worker.call(
            [&](Connection& c) {
                c.openManager()->initializeWith(fake);
                result = c.openManager()->connect(p);
                finalState = c.connectState();
                managerState = c.openManager()->openVpnManager()->state();
                runningAfter = c.openManager()->isOpenVpnProcessRunning();
            },
            120000));
        QVERIFY(!result);
        QCOMPARE(managerState, stopped_cant_connect);
        QCOMPARE(finalState, Constants::ConnectState_Disconnected);
        // A connect that gave up leaves no OpenVPN behind.
        QVERIFY(!runningAfter);
    }

    void credentialsWithLineBreaksAreRefusedBeforeAnythingStarts_data()
    {
        QTest::addColumn<QString>("username");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");
        QTest::newRow("LF in password") << "alice"
                                        << "pw\nsignal SIGTERM" << QString(USER_ERROR_MESSAGE_BAD_CREDENTIAL);
        QTest::newRow("CR in user name") << "alice\r"
                                         << "pw" << QString(USER_ERROR_MESSAGE_BAD_CREDENTIAL);
        QTest::newRow("NUL in password") << "alice" << QString("pw") + QChar(0)
                                         << QString(USER_ERROR_MESSAGE_BAD_CREDENTIAL);
        // OpenVPN takes 256 bytes and echoes the rest into its answer.
        QTest::newRow("1000 characters") << QString(1000, 'u') << "secret-" + QString(993, 'p')
                                         << QString(USER_ERROR_MESSAGE_CREDENTIAL_TOO_LONG);
        QTest::newRow("257 bytes of UTF-8")
            << "alice" << QString("p") + QString(128, QChar(0x00e4)) << QString(USER_ERROR_MESSAGE_CREDENTIAL_TOO_LONG);
    }
    void credentialsWithLineBreaksAreRefusedBeforeAnythingStarts()
    {
        QFETCH(QString, username);
        QFETCH(QString, password);
        QFETCH(QString, message);
        LogCapture log;
        QTemporaryDir dir;
        const QString marker = dir.path() + "/started";
        const QString fake = fakeOpenVpn(dir.path(), "OpenVPN 1.9", "touch '" + marker.toLocal8Bit() + "'\n");
        QOpenVPN2 engine;
        QVERIFY(!engine.initializeWith(fake)); // path set, resolver script not run
        QSignalSpy errors(&engine, &ConnectStateObject::error);
        OpenVpnConnectParams p;
        p.protocol = Constants::ProtocolType_OPENVPN128;
        p.username = username;
        p.password = password;
        p.ovpnFile = "config.ovpn";
        p.configPath = dir.path();
        QVERIFY(!engine.connect(p));
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.first().first().toString(), message);
        QCOMPARE(engine.connectState(), Constants::ConnectState_Disconnected);
        QVERIFY(!engine.isOpenVpnProcessRunning());
        QVERIFY(!QFile::exists(marker));
        for (const QString& line : LogCapture::lines())
            QVERIFY2(!line.contains(password.left(16)), qPrintable(line));
    }

    void userErrorTexts()
    {
        QVERIFY(QString(USER_ERROR_MESSAGE_ALL_AUTH_FILED)
                    .startsWith("Wrong VPN credentials. Error 'AUTH_FAILED'.<br />Solution at <a href='"));
        QVERIFY(QString(USER_ERROR_MESSAGE_ALL_AUTH_FILED).contains("/auth-failed'>"));
        QVERIFY(QString(USER_ERROR_MESSAGE_ALL_ADAPTERS_IN_USE)
                    .startsWith("Error: all adapters in use.<br />Solution at <a href='"));
        QVERIFY(QString(USER_ERROR_MESSAGE_ALL_ADAPTERS_IN_USE).contains("/all-adapters-in-use'>"));
    }
};

OSTREL_TEST_MAIN(TestOpenVpnProcess,
                 TestMain::Core | TestMain::PrivateNamespaces | TestMain::LoopbackUp | TestMain::PrivateResolverFile)
#include "tst_openvpnprocess.moc"
