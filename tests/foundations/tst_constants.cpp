#include "testsupport.h"

#include "model/constants.h"
#include "util/filehelpers.h"
#include "utils.h"

#include <QMetaEnum>
#include <QTemporaryDir>
#include <QThread>

class TestConstants : public QObject
{
    Q_OBJECT

signals:
    void ping();

private slots:
    void qmlVisibleEnumerationsInOrder()
    {
        const QMetaObject& mo = Constants::staticMetaObject;
        QStringList names;
        for (int i = mo.enumeratorOffset(); i < mo.enumeratorCount(); ++i)
            names << QString::fromLatin1(mo.enumerator(i).name());
        QCOMPARE(
            names,
            QStringList({ "SkinType", "DNSFiltering", "Protocol", "ProtocolType", "LocationType", "ConnectState" }));
        const QMetaEnum state = QMetaEnum::fromType<Constants::ConnectState>();
        QCOMPARE(state.keyToValue("ConnectState_Disconnecting"), 4);
        const QMetaEnum type = QMetaEnum::fromType<Constants::ProtocolType>();
        QCOMPARE(type.keyToValue("ProtocolType_CISCOIPSEC"), 8);
    }

    void protocolTypeFromStr_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("upper case") << "OPENVPN XOR" << int(Constants::ProtocolType_OPENVPN_XOR);
        QTest::newRow("mixed case") << "OpenVPN 128-Bit" << int(Constants::ProtocolType_OPENVPN128);
        QTest::newRow("leading blank") << " OpenVPN XOR" << int(Constants::ProtocolType_UNKNOWN);
        QTest::newRow("trailing blank") << "IKEv2/IPsec " << int(Constants::ProtocolType_UNKNOWN);
        QTest::newRow("pptp") << "pptp (INSECURE)" << int(Constants::ProtocolType_PPTP);
        QTest::newRow("empty") << "" << int(Constants::ProtocolType_UNKNOWN);
        QTest::newRow("lower unknown") << "unknown" << int(Constants::ProtocolType_UNKNOWN);
    }

    void protocolTypeFromStr()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(int(Constants::protocolTypeFromStr(text)), expected);
    }

    void protocolTypeTextsRoundTrip()
    {
        for (int i = 0; i <= 7; ++i) {
            const auto type = Constants::ProtocolType(i);
            QCOMPARE(Constants::protocolTypeFromStr(Constants::protocolTypeToStr(type)), type);
        }
        QCOMPARE(Constants::protocolTypeToStr(Constants::ProtocolType_CISCOIPSEC), QStringLiteral("unknown"));
        QCOMPARE(Constants::protocolTypeFromStr(Constants::protocolTypeToStr(Constants::ProtocolType_CISCOIPSEC)),
                 Constants::ProtocolType_UNKNOWN);
        QCOMPARE(Constants::protocolTypeToStr(Constants::ProtocolType_L2TP), QStringLiteral("L2TP/IPSec"));
        QCOMPARE(Constants::protocolTypeToStr(Constants::ProtocolType(42)), QStringLiteral("unknown"));
    }

    void stateAndActionTexts()
    {
        QCOMPARE(Constants::stateToStr(Constants::ConnectState_NoValue), QStringLiteral("Unknown ConnectState"));
        QCOMPARE(Constants::stateToStr(Constants::ConnectState_Connecting), QStringLiteral("Connecting"));
        QCOMPARE(Constants::stateToStr(Constants::ConnectState(9)), QStringLiteral("Unknown ConnectState"));
        QCOMPARE(Constants::requestedActionToStr(Constants::RequestedAction_Attach), QStringLiteral("Attach"));
        QCOMPARE(Constants::requestedActionToStr(Constants::RequestedAction(7)),
                 QStringLiteral("Unknown RequestedAction"));
        QCOMPARE(sskName(sskDHCPWithManualIP), QStringLiteral("DHCPWithManualIP"));
        QCOMPARE(sskName(SERVICE_SETUP_KIND(9)), QStringLiteral("???"));
    }

    void openVpnProtocols()
    {
        QList<int> openVpn;
        for (int i = 0; i <= 8; ++i) {
            if (Constants::isOpenVpnProtocol(Constants::ProtocolType(i)))
                openVpn << i;
        }
        QCOMPARE(openVpn, QList<int>({ 1, 4, 5, 6 }));
    }

    void processMessagesDeliversQueuedSignals()
    {
        int received = 0;
        connect(
            this, &TestConstants::ping, this, [&] { ++received; }, Qt::QueuedConnection);
        emit ping();
        QCOMPARE(received, 0);
        processMessages(0);
        QCOMPARE(received, 1);

        // A signal queued from another thread arrives during a longer wait.
        QThread* sender = QThread::create([this] { emit ping(); });
        sender->start();
        QVERIFY(sender->wait(5000));
        delete sender;
        processMessages(20);
        QCOMPARE(received, 2);
    }

    void waitLoopCountsDown()
    {
        WaitLoop loop { 25, 10 };
        int rounds = 0;
        while (loop.wait())
            ++rounds;
        QCOMPARE(rounds, 2); // 15 and 5 ms left after the first two rounds, -5 after the third
        QCOMPARE(loop.m_totalTime, -5);
    }

    void fileHelpers()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString nested = dir.filePath(QStringLiteral("a/b/c/file.bin"));
        qbytearray_to_file(nested, QByteArray("\x00\x01payload", 9));
        QCOMPARE(qbytearray_from_file(nested, true), QByteArray("\x00\x01payload", 9));

        // Empty data leaves an existing file empty.
        qbytearray_to_file(nested, QByteArray());
        QCOMPARE(QFileInfo(nested).size(), qint64(0));

        const QString text = QStringLiteral("Grüße – ✓");
        qstring_to_file(dir.filePath(QStringLiteral("t.txt")), text);
        QCOMPARE(qstring_from_file(dir.filePath(QStringLiteral("t.txt")), true), text);

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(" !f.open$"));
        QVERIFY(qbytearray_from_file(dir.filePath(QStringLiteral("missing")), true).isEmpty());
        QVERIFY(qstring_from_file(dir.filePath(QStringLiteral("missing")), false).isEmpty());

        // A directory that cannot be created: nothing written, a warning.
        const QString blocker = dir.filePath(QStringLiteral("plain"));
        qbytearray_to_file(blocker, "x");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(" !d.mkpath$"));
        qbytearray_to_file(blocker + QStringLiteral("/sub/file"), "y");
        QCOMPARE(qbytearray_from_file(blocker, true), QByteArray("x"));
    }
};

OSTREL_TEST_MAIN(TestConstants, TestMain::Core)
#include "tst_constants.moc"
