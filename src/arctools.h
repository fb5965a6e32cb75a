#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QString>
#include <QStringList>

// File-tree operations of the update step: back up an installation into a zip
// inside it, clear it, copy a new installation over it, find files in it; and
// the safe unpacking of downloaded zip archives.
//
// None of them follows a symbolic link found inside a tree: links are archived
// as links, removed as links, and never written through.
class ArcTools
{
public:
    // Writes "<dir>/backup-<version>-<yyyyMMdd-hhmmss>.zip" holding every
    // directory, file and link below `dir` except "*.zip" files, with their
    // permissions (owner, group and other bits). False, and no archive left
    // behind, when the archive could not be written completely (a file could
    // not be read, a write failed).
    static bool archiveDirectory(const QString& dir);

    // Removes every file and link below `dir` except "*.zip" and "*.conf";
    // directories stay. False at the first file that cannot be removed.
    static bool clearDirectory(const QString& dir);

    // Archives `to`, clears it, then copies the tree `from` into it. Existing
    // files are not overwritten (kept "*.conf" and "*.zip" stay as they were).
    // A failed file copy fails the whole operation only with `strongCopy`.
    // Refuses trees that overlap.
    static bool copyDirToDestination(QString from, const QString& to, bool strongCopy);

    // Appends the full path of every file below `dir` (recursive) named
    // exactly `fileName`, in directory-walk order.
    static void findFile(const QString& dir, const QString& fileName, QStringList& result);

    // The backup archive path for `dir` at local time `time`.
    static QString backupArchiveName(const QString& dir, const QDateTime& time);

    // Unpacks the zip archive held in `zipData` into `targetDir` (created
    // when missing), creating each entry's parent directories. Modes are
    // masked: no group or other write, no set-id bits; execute bits stay.
    // Refused before anything is written: an entry that would land outside
    // `targetDir` (absolute path, "..", a link on the way), one that would
    // replace a file of the program itself (its executable,
    // "openvpn.ostrel", its scripts, its desktop entry), and an archive
    // whose entries claim to unpack to more than kMaxExtractedBytes; the
    // bound is also kept on the bytes actually unpacked. Entries are streamed to temporary files and
    // take their names only when all are complete; a failure leaves the
    // directory as it was (replaced files come back, directories made go).
    // Temporary files an earlier extraction left behind when it was killed
    // are removed first. Link entries are not created. `errorText`, when
    // given, receives the reason of a failure as one escaped log line.
    static bool extractArchive(const QByteArray& zipData, const QString& targetDir, QString* errorText = nullptr);

    // The most bytes an archive may unpack to (well above a V2Ray release).
    static const qint64 kMaxExtractedBytes;

    // Whether an archive entry name is a relative path that stays below the
    // directory it is unpacked into.
    static bool isSafeEntryName(const QString& name);

    // Whether `path` lies below `root` without passing through a symbolic
    // link (`path` itself included when it exists). `root` itself may be one.
    static bool staysInside(const QString& root, const QString& path);
};

// Full path of the first entry of `dir` whose name ends with `name`; else the
// first hit found in its subdirectories (symbolic links are not followed);
// empty when there is none.
QString findFile(const QString& name, const QDir& dir);

// The installation directory of an application directory: a trailing "/data"
// and then a trailing "/Contents/MacOS" are cut off.
QString getBundlePathFromPath(const QString& path);
