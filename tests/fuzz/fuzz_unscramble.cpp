#include "util/simplecrypt.h"

#include <QtGlobal>

#include <cstddef>
#include <cstdint>

static void silence(QtMsgType, const QMessageLogContext&, const QString&)
{
}

// Unscrambles arbitrary bytes and Base64 text with the settings store's key.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool installed = (qInstallMessageHandler(silence), true);
    Q_UNUSED(installed)
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    SimpleCrypt crypt(7342);
    crypt.setCompressionMode(SimpleCrypt::CompressionAlways);
    crypt.setIntegrityProtectionMode(SimpleCrypt::ProtectionHash);
    crypt.decryptToByteArray(bytes);
    crypt.decryptToString(QString::fromLatin1(bytes));

    // Whatever is scrambled must come back unchanged.
    const QByteArray cypher = crypt.encryptToByteArray(bytes);
    if (crypt.decryptToByteArray(cypher) != bytes)
        __builtin_trap();
    return 0;
}
