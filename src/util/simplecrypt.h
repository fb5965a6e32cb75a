#pragma once

#include <QByteArray>
#include <QFlags>
#include <QString>
#include <QVector>

// Keyed XOR scrambler with a chained feedback byte, optional qCompress and an
// optional CRC-16 or SHA-1 integrity field. It hides stored secrets from a
// casual look; it is not a cipher.
class SimpleCrypt
{
public:
    enum CompressionMode {
        CompressionAuto = 0,
        CompressionAlways = 1,
        CompressionNever = 2,
    };
    enum IntegrityProtectionMode {
        ProtectionNone = 0,
        ProtectionChecksum = 1,
        ProtectionHash = 2,
    };
    enum Error {
        ErrorNoError = 0,
        ErrorNoKeySet = 1,
        ErrorUnknownVersion = 2,
        ErrorIntegrityFailed = 3,
    };
    enum CryptoFlag {
        CryptoFlagNone = 0,
        CryptoFlagCompression = 0x01,
        CryptoFlagChecksum = 0x02,
        CryptoFlagHash = 0x04,
    };
    Q_DECLARE_FLAGS(CryptoFlags, CryptoFlag)

    SimpleCrypt();
    explicit SimpleCrypt(quint64 key);

    void setKey(quint64 key);
    bool hasKey() const { return !m_keyParts.isEmpty(); }

    void setCompressionMode(CompressionMode mode) { m_compressionMode = mode; }
    CompressionMode compressionMode() const { return m_compressionMode; }
    void setIntegrityProtectionMode(IntegrityProtectionMode mode) { m_protectionMode = mode; }
    IntegrityProtectionMode integrityProtectionMode() const { return m_protectionMode; }
    Error lastError() const { return m_lastError; }

    QString encryptToString(const QString& plaintext);
    QString encryptToString(QByteArray plaintext);
    QByteArray encryptToByteArray(const QString& plaintext);
    QByteArray encryptToByteArray(QByteArray plaintext);

    QString decryptToString(const QString& cyphertext);
    QByteArray decryptToByteArray(const QString& cyphertext);
    QString decryptToString(QByteArray cypher);
    QByteArray decryptToByteArray(QByteArray cypher);

private:
    void splitKey();

    quint64 m_key;
    QVector<char> m_keyParts;
    CompressionMode m_compressionMode;
    IntegrityProtectionMode m_protectionMode;
    Error m_lastError;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(SimpleCrypt::CryptoFlags)
