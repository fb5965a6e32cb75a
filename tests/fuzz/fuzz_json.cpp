#include "qt-json/json.h"

#include <cstddef>
#include <cstdint>

// Parses arbitrary text; whatever parses must serialise and parse again.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    bool ok = false;
    const QVariant value = QtJson::parse(text, ok);
    if (ok) {
        bool written = false;
        const QString again = QtJson::serializeStr(value, written);
        if (written) {
            bool reparsed = false;
            QtJson::parse(again, reparsed);
            if (!reparsed)
                __builtin_trap();
        }
    }
    return 0;
}
