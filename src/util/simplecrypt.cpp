#include "util/simplecrypt.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QDebug>
#include <QtGlobal>

namespace {
constexpr char kVersion = char(3);

// Larger declared sizes are treated as a payload that does not decompress:
// nothing this program stores comes near it, and a damaged file must not make
// the reader allocate gigabytes.
constexpr quint32 kMaxUncompressedSize = 64u * 1024u * 1024u;

// The random byte comes from the thread's qrand() generator, seeded with the
// time in whole seconds, as the stored format has always been written.
QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
void seedThreadRandom()
{
    qsrand(uint(QDateTime::currentMSecsSinceEpoch() / 1000));
}

char randomByte()
{
    return char(qrand() & 0xff);
}
QT_WARNING_POP

quint32 declaredUncompressedSize(const QByteArray& compressed)
{
    if (compressed.size() < 4)
        return 0;
    return (quint32(quint8(compressed.at(0))) << 24) | (quint32(quint8(compressed.at(1))) << 16)
        | (quint32(quint8(compressed.at(2))) << 8) | quint32(quint8(compressed.at(3)));
}
} // namespace

SimpleCrypt::SimpleCrypt()
    : m_key(0)
    , m_compressionMode(CompressionAuto)
    , m_protectionMode(ProtectionChecksum)
    , m_lastError(ErrorNoError)
{
    seedThreadRandom();
}

SimpleCrypt::SimpleCrypt(quint64 key)
    : m_key(key)
    , m_compressionMode(CompressionAuto)
    , m_protectionMode(ProtectionChecksum)
    , m_lastError(ErrorNoError)
{
    seedThreadRandom();
    splitKey();
}

void SimpleCrypt::setKey(quint64 key)
{
    m_key = key;
    splitKey();
}

void SimpleCrypt::splitKey()
{
    m_keyParts.clear();
    m_keyParts.resize(8);
    for (int i = 0; i < 8; ++i)
        m_keyParts[i] = char((m_key >> (8 * i)) & 0xff);
}

QByteArray SimpleCrypt::encryptToByteArray(const QString& plaintext)
{
    return encryptToByteArray(plaintext.toUtf8());
}

QByteArray SimpleCrypt::encryptToByteArray(QByteArray plaintext)
{
    if (m_keyParts.isEmpty()) {
        qWarning() << "No key set.";
        m_lastError = ErrorNoKeySet;
        return QByteArray();
    }

    QByteArray payload = plaintext;
    CryptoFlags flags = CryptoFlagNone;
    if (m_compressionMode == CompressionAlways) {
        payload = qCompress(payload, 9);
        flags |= CryptoFlagCompression;
    } else if (m_compressionMode == CompressionAuto) {
        const QByteArray compressed = qCompress(payload, 9);
        if (compressed.size() < payload.size()) {
            payload = compressed;
            flags |= CryptoFlagCompression;
        }
    }

    QByteArray integrity;
    if (m_protectionMode == ProtectionChecksum) {
        flags |= CryptoFlagChecksum;
        QDataStream s(&integrity, QIODevice::WriteOnly);
        s << qChecksum(payload.constData(), uint(payload.size()));
    } else if (m_protectionMode == ProtectionHash) {
        flags |= CryptoFlagHash;
        integrity = QCryptographicHash::hash(payload, QCryptographicHash::Sha1);
    }

    QByteArray body;
    body.reserve(1 + integrity.size() + payload.size());
    body.append(randomByte());
    body.append(integrity);
    body.append(payload);

    char feedback = 0;
    for (int p = 0; p < body.size(); ++p) {
        body[p] = char(body.at(p) ^ m_keyParts.at(p % 8) ^ feedback);
        feedback = body.at(p);
    }

    QByteArray result;
    result.reserve(2 + body.size());
    result.append(kVersion);
    result.append(char(int(flags)));
    result.append(body);
    m_lastError = ErrorNoError;
    return result;
}

QString SimpleCrypt::encryptToString(const QString& plaintext)
{
    return encryptToString(plaintext.toUtf8());
}

QString SimpleCrypt::encryptToString(QByteArray plaintext)
{
    return QString::fromLatin1(encryptToByteArray(plaintext).toBase64());
}

QString SimpleCrypt::decryptToString(const QString& cyphertext)
{
    return QString::fromUtf8(decryptToByteArray(QByteArray::fromBase64(cyphertext.toLatin1())));
}

QByteArray SimpleCrypt::decryptToByteArray(const QString& cyphertext)
{
    return decryptToByteArray(QByteArray::fromBase64(cyphertext.toLatin1()));
}

QString SimpleCrypt::decryptToString(QByteArray cypher)
{
    return QString::fromUtf8(decryptToByteArray(cypher));
}

QByteArray SimpleCrypt::decryptToByteArray(QByteArray cypher)
{
    if (m_keyParts.isEmpty()) {
        qWarning() << "No key set.";
        m_lastError = ErrorNoKeySet;
        return QByteArray();
    }
    if (cypher.size() < 3)
        return QByteArray();
    if (cypher.at(0) != kVersion) {
        m_lastError = ErrorUnknownVersion;
        qWarning() << "Invalid version or not a cyphertext.";
        return QByteArray();
    }

    const CryptoFlags flags = CryptoFlags(int(quint8(cypher.at(1))));
    QByteArray body = cypher.mid(2);
    char feedback = 0;
    for (int p = 0; p < body.size(); ++p) {
        const char scrambled = body.at(p);
        body[p] = char(scrambled ^ feedback ^ m_keyParts.at(p % 8));
        feedback = scrambled;
    }
    body.remove(0, 1); // the random byte

    bool intact = true;
    if (flags.testFlag(CryptoFlagChecksum)) {
        if (body.size() < 2) {
            m_lastError = ErrorIntegrityFailed;
            return QByteArray();
        }
        quint16 stored = 0;
        {
            QDataStream s(body.left(2));
            s >> stored;
        }
        body.remove(0, 2);
        intact = stored == qChecksum(body.constData(), uint(body.size()));
    } else if (flags.testFlag(CryptoFlagHash)) {
        if (body.size() < 20) {
            m_lastError = ErrorIntegrityFailed;
            return QByteArray();
        }
        const QByteArray stored = body.left(20);
        body.remove(0, 20);
        intact = stored == QCryptographicHash::hash(body, QCryptographicHash::Sha1);
    }
    if (!intact) {
        m_lastError = ErrorIntegrityFailed;
        return QByteArray();
    }

    if (flags.testFlag(CryptoFlagCompression)) {
        body = declaredUncompressedSize(body) > kMaxUncompressedSize ? QByteArray() : qUncompress(body);
    }
    m_lastError = ErrorNoError;
    return body;
}
