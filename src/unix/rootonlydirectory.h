#pragma once

#include <QString>

// The directory of the engine's root-only files (the session lock, the pid
// record, the management socket and its password): /run/ostrel, owned by
// root, mode 0700. Checked without following links; created when missing,
// never repaired or removed: a directory that is anything else is refused.
class RootOnlyDirectory
{
public:
    static QString path();
    // A file of the directory.
    static QString filePath(const QString& name);
    // Makes sure the directory exists and is as it must be. False with the
    // reason in `why` (a sentence for the user) when it is not.
    static bool ensure(QString* why = nullptr);
    // Whether it exists and is as it must be; creates nothing.
    static bool isTrusted(QString* why = nullptr);
};
