#include "testsupport.h"

#include "util/simplecrypt.h"

#include <QCryptographicHash>

namespace {

// Key 0x1122334455667788 splits into these parts, least significant first.
constexpr quint64 kKey = Q_UINT64_C(0x1122334455667788);
const QByteArray kKeyParts = QByteArray::fromHex("8877665544332211");

// An independent writer of the stored format, used to build texts as
// another implementation would.
QByteArray chain(const QByteArray& plainBody)
{
    QByteArray out = plainBody;
    char feedback = 0;
    for (int p = 0; p < out.size(); ++p) {
        out[p] = char(out.at(p) ^ kKeyParts.at(p % 8) ^ feedback);
        feedback = out.at(p);
    }
    return out;
}

} // namespace

class TestSimpleCrypt : public QObject
{
    Q_OBJECT

private slots:
    void handComputedVectorDecrypts()
    {
        // Body 00 'A' 'B', no flags:
        //   00 ^ 88 ^ 00 = 88;  41 ^ 77 ^ 88 = BE;  42 ^ 66 ^ BE = 9A
        const QByteArray cypher = QByteArray::fromHex("0300"
                                                      "88BE9A");
        SimpleCrypt crypt(kKey);
        QCOMPARE(crypt.decryptToByteArray(cypher), QByteArray("AB"));
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorNoError);
    }

    void encryptionMatchesTheFormatByteForByte()
    {
        SimpleCrypt crypt(kKey);
        crypt.setCompressionMode(SimpleCrypt::CompressionNever);
        crypt.setIntegrityProtectionMode(SimpleCrypt::ProtectionNone);
        const QByteArray out = crypt.encryptToByteArray(QByteArray("AB"));
        QCOMPARE(out.size(), 5);
        QCOMPARE(quint8(out.at(0)), quint8(3));
        QCOMPARE(quint8(out.at(1)), quint8(0));
        const char random = char(out.at(2) ^ kKeyParts.at(0));
        QCOMPARE(out.mid(2), chain(QByteArray(1, random) + "AB"));
    }

    void checksumIsIso3309Crc16BigEndian()
    {
        // The CRC-16 of "123456789" in this variant is 0x906E.
        const QByteArray payload("123456789");
        const QByteArray cypher = QByteArray::fromHex("0302") + chain(QByteArray::fromHex("5A906E") + payload);
        SimpleCrypt crypt(kKey);
        QCOMPARE(crypt.decryptToByteArray(cypher), payload);
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorNoError);

        const QByteArray wrongCrc = QByteArray::fromHex("0302") + chain(QByteArray::fromHex("5A6E90") + payload);
        QVERIFY(crypt.decryptToByteArray(wrongCrc).isEmpty());
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorIntegrityFailed);
    }

    void storedSettingsFormat()
    {
        // As the settings store writes secrets: compression always, SHA-1.
        SimpleCrypt crypt(7342);
        crypt.setCompressionMode(SimpleCrypt::CompressionAlways);
        crypt.setIntegrityProtectionMode(SimpleCrypt::ProtectionHash);
        const QByteArray empty = crypt.encryptToByteArray(QByteArray());
        QCOMPARE(quint8(empty.at(0)), quint8(3));
        QCOMPARE(quint8(empty.at(1)), quint8(5));
        QCOMPARE(empty.size(), 2 + 1 + 20 + 4);
        QCOMPARE(crypt.decryptToString(empty), QString());
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorNoError);

        // A reader built from the format alone recovers the payload.
        const QByteArray text = "user name ✓ with some repeated text text text";
        const QByteArray cypher = crypt.encryptToByteArray(text);
        QByteArray body = cypher.mid(2);
        char feedback = 0;
        for (int p = 0; p < body.size(); ++p) {
            const char s = body.at(p);
            body[p] = char(s ^ feedback ^ char((Q_UINT64_C(7342) >> (8 * (p % 8))) & 0xff));
            feedback = s;
        }
        const QByteArray digest = body.mid(1, 20);
        const QByteArray payload = body.mid(21);
        QCOMPARE(digest, QCryptographicHash::hash(payload, QCryptographicHash::Sha1));
        QCOMPARE(qUncompress(payload), text);
    }

    void roundTripsInEveryMode_data()
    {
        QTest::addColumn<int>("compression");
        QTest::addColumn<int>("protection");
        for (int c = 0; c <= 2; ++c)
            for (int p = 0; p <= 2; ++p)
                QTest::addRow("compression %d protection %d", c, p) << c << p;
    }

    void roundTripsInEveryMode()
    {
        QFETCH(int, compression);
        QFETCH(int, protection);
        SimpleCrypt crypt(kKey);
        crypt.setCompressionMode(SimpleCrypt::CompressionMode(compression));
        crypt.setIntegrityProtectionMode(SimpleCrypt::IntegrityProtectionMode(protection));
        for (const QString& text :
             { QString(), QStringLiteral("x"), QStringLiteral("pässwörd \"'\\ \n"), QString(2000, QLatin1Char('z')) }) {
            const QString cypher = crypt.encryptToString(text);
            QCOMPARE(crypt.decryptToString(cypher), text);
            QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorNoError);
        }
    }

    void sameTextScramblesDifferently()
    {
        SimpleCrypt crypt(kKey);
        QSet<QString> seen;
        for (int i = 0; i < 40; ++i)
            seen.insert(crypt.encryptToString(QStringLiteral("same")));
        QVERIFY(seen.size() > 1);
        for (const QString& s : qAsConst(seen))
            QCOMPARE(crypt.decryptToString(s), QStringLiteral("same"));
    }

    void everyTamperedByteIsDetected()
    {
        SimpleCrypt crypt(kKey);
        crypt.setIntegrityProtectionMode(SimpleCrypt::ProtectionHash);
        const QByteArray cypher = crypt.encryptToByteArray(QByteArray("secret payload"));
        for (int i = 2; i < cypher.size(); ++i) {
            QByteArray damaged = cypher;
            damaged[i] = char(damaged.at(i) ^ 0x01);
            QVERIFY2(crypt.decryptToByteArray(damaged).isEmpty(), qPrintable(QString::number(i)));
            QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorIntegrityFailed);
        }
    }

    void shortAndForeignInput()
    {
        SimpleCrypt crypt(kKey);
        crypt.decryptToByteArray(QByteArray::fromHex("0300"
                                                     "88BE9A"));
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorNoError);

        // Two bytes: empty, last error untouched.
        crypt.setIntegrityProtectionMode(SimpleCrypt::ProtectionHash);
        QTest::ignoreMessage(QtWarningMsg, "Invalid version or not a cyphertext.");
        crypt.decryptToByteArray(QByteArray::fromHex("02000000"));
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorUnknownVersion);
        QVERIFY(crypt.decryptToString(QString::fromLatin1(QByteArray("ab").toBase64())).isEmpty());
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorUnknownVersion);

        // Hash flag with too short a body.
        QVERIFY(crypt.decryptToByteArray(QByteArray::fromHex("0304") + chain(QByteArray(5, 'a'))).isEmpty());
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorIntegrityFailed);

        // Not Base64 at all.
        QVERIFY(crypt.decryptToString(QStringLiteral("*** not base64 ***")).isEmpty());
    }

    void autoCompressionOnlyWhenShorter()
    {
        SimpleCrypt crypt(kKey);
        const QByteArray one = crypt.encryptToByteArray(QByteArray("a"));
        QCOMPARE(quint8(one.at(1)) & SimpleCrypt::CryptoFlagCompression, 0);
        const QByteArray many = crypt.encryptToByteArray(QByteArray(500, 'a'));
        QCOMPARE(quint8(many.at(1)) & SimpleCrypt::CryptoFlagCompression, int(SimpleCrypt::CryptoFlagCompression));
        QVERIFY(many.size() < 100);
    }

    void hugeDeclaredSizeIsRefused()
    {
        // A compressed payload claiming 1 GiB: refused without allocating it.
        const QByteArray payload = QByteArray::fromHex("40000000") + QByteArray(8, 'x');
        const QByteArray cypher = QByteArray::fromHex("0301") + chain(QByteArray(1, 'r') + payload);
        SimpleCrypt crypt(kKey);
        QVERIFY(crypt.decryptToByteArray(cypher).isEmpty());
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorNoError);
    }

    void withoutKeyEverythingFails()
    {
        SimpleCrypt crypt;
        QVERIFY(!crypt.hasKey());
        QTest::ignoreMessage(QtWarningMsg, "No key set.");
        QVERIFY(crypt.encryptToByteArray(QByteArray("x")).isEmpty());
        QCOMPARE(crypt.lastError(), SimpleCrypt::ErrorNoKeySet);
        QTest::ignoreMessage(QtWarningMsg, "No key set.");
        QVERIFY(crypt
                    .decryptToByteArray(QByteArray::fromHex("0300"
                                                            "88BE9A"))
                    .isEmpty());

        crypt.setKey(kKey);
        QCOMPARE(crypt.decryptToByteArray(QByteArray::fromHex("0300"
                                                              "88BE9A")),
                 QByteArray("AB"));

        SimpleCrypt zero(0);
        QVERIFY(zero.hasKey());
        QCOMPARE(zero.decryptToString(zero.encryptToString(QStringLiteral("z"))), QStringLiteral("z"));
    }
};

OSTREL_TEST_MAIN(TestSimpleCrypt, TestMain::Core)
#include "tst_simplecrypt.moc"
