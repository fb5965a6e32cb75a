#include "arctools.h"

#include "checknewversion.h"
#include "unix/externaltools.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QtGui/private/qzipreader_p.h>
#include <QtGui/private/qzipwriter_p.h>

#include <memory>
#include <vector>

#include <dirent.h>
#include <zlib.h>
#include <unistd.h>

namespace {

// Every entry of a tree, hidden ones and dangling links included.
constexpr QDir::Filters kWalkFilters = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;

QString cleanDir(const QString& dir)
{
    return QDir::cleanPath(QFileInfo(QString(dir).replace(QLatin1Char('\\'), QLatin1Char('/'))).absoluteFilePath());
}

QString joinPath(const QString& root, const QString& relative)
{
    return root.endsWith(QLatin1Char('/')) ? root + relative : root + QLatin1Char('/') + relative;
}

// The text stored in a symbolic link, as written (not resolved).
QString rawLinkTarget(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    QByteArray buffer(4096, '\0');
    const ssize_t length = ::readlink(native.constData(), buffer.data(), size_t(buffer.size()));
    if (length < 0)
        return QString();
    buffer.truncate(int(length));
    return QFile::decodeName(buffer);
}

// Whether the directory's entries can be read. A walk passes over a
// directory it cannot open without a word, so this is asked of each one.
bool canList(const QString& path)
{
    DIR* handle = ::opendir(QFile::encodeName(path).constData());
    if (!handle)
        return false;
    ::closedir(handle);
    return true;
}

bool makeLink(const QString& linkText, const QString& linkPath)
{
    return ::symlink(QFile::encodeName(linkText).constData(), QFile::encodeName(linkPath).constData()) == 0;
}

// Whether one of the two existing directories lies inside the other (or both
// are the same directory), after resolving links.
bool treesOverlap(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    const QString cb = QFileInfo(b).canonicalFilePath();
    if (ca.isEmpty() || cb.isEmpty())
        return false;
    auto inside = [](const QString& inner, const QString& outer) {
        return inner == outer || outer == QLatin1String("/") || inner.startsWith(outer + QLatin1Char('/'));
    };
    return inside(ca, cb) || inside(cb, ca);
}

// The rwx bits of a file's owner, group and others as a Unix mode. The
// effective-user flags are left out: they tell what this process may do.
quint32 unixModeBits(QFile::Permissions p)
{
    quint32 mode = 0;
    const QPair<QFile::Permission, quint32> bits[] = {
        { QFile::ReadOwner, 0400 }, { QFile::WriteOwner, 0200 }, { QFile::ExeOwner, 0100 },
        { QFile::ReadGroup, 040 },  { QFile::WriteGroup, 020 },  { QFile::ExeGroup, 010 },
        { QFile::ReadOther, 04 },   { QFile::WriteOther, 02 },   { QFile::ExeOther, 01 },
    };
    for (const auto& bit : bits) {
        if (p & bit.first)
            mode |= bit.second;
    }
    return mode;
}

quint32 readLE(const uchar* p, int bytes)
{
    quint32 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | p[i];
    return value;
}

// Qt's zip writer stores the owner's execute bit as the owner's write bit and
// mixes the effective user's access into the owner's. The archive's central
// directory is rewritten here with the true modes, entry by entry in the
// order they were added (a negative mode leaves an entry as written).
bool rewriteEntryModes(const QString& zipName, const QVector<qint32>& modes)
{
    QFile file(zipName);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const qint64 fileSize = file.size();
    // End-of-central-directory record: 22 bytes plus a comment of up to 64 KiB.
    const qint64 tailSize = qMin<qint64>(fileSize, 22 + 0xFFFF);
    if (tailSize < 22 || !file.seek(fileSize - tailSize))
        return false;
    const QByteArray tail = file.read(tailSize);
    int eocd = -1;
    for (int i = tail.size() - 22; i >= 0; --i) {
        if (readLE(reinterpret_cast<const uchar*>(tail.constData()) + i, 4) == 0x06054b50u) {
            eocd = i;
            break;
        }
    }
    if (eocd < 0)
        return false;
    const uchar* end = reinterpret_cast<const uchar*>(tail.constData()) + eocd;
    const int entries = int(readLE(end + 10, 2));
    const qint64 dirSize = readLE(end + 12, 4);
    const qint64 dirOffset = readLE(end + 16, 4);
    if (entries != modes.size() || dirOffset + dirSize > fileSize || !file.seek(dirOffset))
        return false;
    QByteArray dir = file.read(dirSize);
    if (dir.size() != dirSize)
        return false;

    int pos = 0;
    for (int i = 0; i < entries; ++i) {
        if (pos + 46 > dir.size())
            return false;
        uchar* header = reinterpret_cast<uchar*>(dir.data()) + pos;
        if (readLE(header, 4) != 0x02014b50u)
            return false;
        if (modes.at(i) >= 0) {
            const quint32 attributes = readLE(header + 38, 4);
            const quint32 fixed = (attributes & ~(0777u << 16)) | (quint32(modes.at(i)) << 16);
            for (int b = 0; b < 4; ++b)
                header[38 + b] = uchar(fixed >> (8 * b));
        }
        pos += 46 + int(readLE(header + 28, 2) + readLE(header + 30, 2) + readLE(header + 32, 2));
    }
    return file.seek(dirOffset) && file.write(dir) == dir.size() && file.flush();
}

const char* zipStatusText(int status)
{
    switch (status) {
    case QZipWriter::FileWriteError:
        return "-file write error";
    case QZipWriter::FileOpenError:
        return "-file open error";
    case QZipWriter::FilePermissionsError:
        return "-file permissions error";
    case QZipWriter::FileError:
        return "-file error";
    default:
        return "-unknown error";
    }
}

// Reads the written archive's directory back: every entry must be listed with
// the size that was added, or the archive was cut short.
bool archiveReadsBack(const QString& zipName, int entryCount, qint64 totalFileBytes)
{
    QZipReader reader(zipName);
    if (reader.status() != QZipReader::NoError)
        return false;
    const QVector<QZipReader::FileInfo> entries = reader.fileInfoList();
    if (reader.status() != QZipReader::NoError || entries.size() != entryCount)
        return false;
    qint64 bytes = 0;
    for (const QZipReader::FileInfo& entry : entries) {
        if (entry.isFile)
            bytes += entry.size;
    }
    return bytes == totalFileBytes;
}

} // namespace

QString ArcTools::backupArchiveName(const QString& dir, const QDateTime& time)
{
    QString base = QString(dir).replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return QStringLiteral("%1backup-%2-%3.zip")
        .arg(base, QStringLiteral(OSTREL_VERSION_STR), time.toString(QStringLiteral("yyyyMMdd-hhmmss")));
}

bool ArcTools::archiveDirectory(const QString& dir)
{
    const QString root = cleanDir(dir);
    const QString zipName = backupArchiveName(dir, QDateTime::currentDateTime());
    qDebug().noquote() << Q_FUNC_INFO << "archive: " << zipName;

    bool complete = true;
    QVector<qint32> modes; // one per entry written
    qint64 totalFileBytes = 0;
    {
        QZipWriter writer(zipName, QIODevice::WriteOnly | QIODevice::Truncate);
        if (writer.status() != QZipWriter::NoError) {
            qDebug().noquote() << Q_FUNC_INFO << "zip error: " << int(writer.status());
            qDebug().noquote() << Q_FUNC_INFO << zipStatusText(writer.status());
            return false;
        }
        writer.setCompressionPolicy(QZipWriter::AutoCompress);

        if (!canList(root)) {
            qDebug().noquote() << Q_FUNC_INFO << "-directory not listable: " << root;
            complete = false;
        }
        const QDir rootDir(root);
        QDirIterator it(root, kWalkFilters, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QFileInfo info = it.fileInfo();
            if (info.suffix() == QLatin1String("zip"))
                continue;
            const QString name = rootDir.relativeFilePath(path);
            writer.setCreationPermissions(info.permissions());

            if (info.isSymLink()) {
                // The link itself, never what it points to.
                qDebug().noquote() << Q_FUNC_INFO << "-zip link: " << path;
                writer.addSymLink(name, rawLinkTarget(path));
                modes.append(-1);
            } else if (info.isDir()) {
                // What cannot be listed cannot be kept, and the clearing
                // that follows a backup must not touch it.
                if (!canList(path)) {
                    qDebug().noquote() << Q_FUNC_INFO << "-directory not listable: " << path;
                    complete = false;
                    continue;
                }
                writer.addDirectory(name);
                modes.append(qint32(unixModeBits(info.permissions())));
            } else if (info.isFile()) {
                QFile file(path);
                if (!file.open(QIODevice::ReadOnly)) {
                    qDebug().noquote() << Q_FUNC_INFO << "-file not opened: " << path;
                    complete = false;
                    continue;
                }
                const QByteArray data = file.readAll();
                if (file.error() != QFileDevice::NoError || data.size() != info.size()) {
                    qDebug().noquote() << Q_FUNC_INFO << "-file not read completely: " << path;
                    complete = false;
                    continue;
                }
                qDebug().noquote() << Q_FUNC_INFO << "-zip file: " << path;
                writer.addFile(name, data);
                modes.append(qint32(unixModeBits(info.permissions())));
                totalFileBytes += data.size();
            } else {
                // Sockets, pipes and devices hold no data to keep.
                qDebug().noquote() << Q_FUNC_INFO << "-skip: " << path;
            }
            if (writer.status() != QZipWriter::NoError)
                complete = false;
        }
        writer.close();
    }

    if (complete && !rewriteEntryModes(zipName, modes)) {
        qDebug().noquote() << Q_FUNC_INFO << "-permissions not written: " << zipName;
        complete = false;
    }
    if (complete && !archiveReadsBack(zipName, modes.size(), totalFileBytes)) {
        qDebug().noquote() << Q_FUNC_INFO << "-archive does not read back: " << zipName;
        complete = false;
    }
    if (!complete) {
        // A partial backup must not pass for a whole one.
        QFile::remove(zipName);
        qDebug().noquote() << Q_FUNC_INFO << "-archive incomplete, removed: " << zipName;
        return false;
    }
    return true;
}

bool ArcTools::clearDirectory(const QString& dir)
{
    QDirIterator it(cleanDir(dir), kWalkFilters, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString suffix = info.suffix();
        if (suffix == QLatin1String("zip") || suffix == QLatin1String("conf"))
            continue;
        if (info.isDir() && !info.isSymLink()) {
            qDebug().noquote() << Q_FUNC_INFO << "-skip: " << path;
            continue;
        }
        // A link is removed as a link; its target is never touched.
        qDebug().noquote() << Q_FUNC_INFO << "-begin remove file: " << path;
        if (!QFile::remove(path)) {
            qDebug().noquote() << Q_FUNC_INFO << "-file not removed: " << path;
            return false;
        }
    }
    return true;
}

bool ArcTools::copyDirToDestination(QString from, const QString& to, bool strongCopy)
{
    if (!QDir(to).exists()) {
        qDebug().noquote() << Q_FUNC_INFO << "- target not exist: " << to;
        return false;
    }
    // Without a source the target would only be emptied.
    if (from.isEmpty() || !QFileInfo(from).isDir()) {
        qDebug().noquote() << Q_FUNC_INFO << "- source not exist: " << from;
        return false;
    }
    // Clearing the target would delete a source inside it, and copying a
    // source into a target inside it would never end.
    if (treesOverlap(from, to)) {
        qDebug().noquote() << Q_FUNC_INFO << "- source and target overlap: " << from << to;
        return false;
    }
    if (!archiveDirectory(to)) {
        qDebug().noquote() << Q_FUNC_INFO << "- failed archive directory";
        return false;
    }
    if (!clearDirectory(to)) {
        qDebug().noquote() << Q_FUNC_INFO << "- failed clear directory";
        return false;
    }

    from = cleanDir(from);
    const QString root = cleanDir(to);
    const QDir fromDir(from);
    QDirIterator it(from, kWalkFilters, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString target = joinPath(root, fromDir.relativeFilePath(path));
        const bool inside = staysInside(root, target);

        if (info.isDir() && !info.isSymLink()) {
            if (!inside || !QDir().mkpath(target)) {
                qDebug().noquote() << Q_FUNC_INFO << "- failed to create directory: " << target;
                return false;
            }
            continue;
        }
        if (!info.isSymLink() && !info.isFile()) {
            qDebug().noquote() << Q_FUNC_INFO << "-skip: " << path;
            continue;
        }
        // Links of the new installation are recreated as links.
        const bool copied = inside
            && (info.isSymLink() ? makeLink(rawLinkTarget(path), target) : QFile::copy(path, target));
        if (copied) {
            qDebug().noquote() << Q_FUNC_INFO << "- copy file: " << path << " >>> " << target;
        } else {
            qDebug().noquote() << Q_FUNC_INFO << "- FAILED to copy file: " << path << " >>> " << target;
            if (strongCopy)
                return false;
        }
    }
    return true;
}

void ArcTools::findFile(const QString& dir, const QString& fileName, QStringList& result)
{
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileName() == fileName)
            result.append(path);
    }
}

bool ArcTools::isSafeEntryName(const QString& name)
{
    if (name.isEmpty() || name.contains(QLatin1Char('\\')) || name.contains(QChar(0)))
        return false;
    if (name.startsWith(QLatin1Char('/')) || QDir::isAbsolutePath(name))
        return false;
    const QStringList parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (part == QLatin1String(".."))
            return false;
    }
    return !parts.isEmpty();
}

bool ArcTools::staysInside(const QString& root, const QString& path)
{
    const QString base = QDir::cleanPath(QFileInfo(root).absoluteFilePath());
    const QString full = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (full == base || !(base == QLatin1String("/") || full.startsWith(base + QLatin1Char('/'))))
        return false;
    const QStringList parts = QDir(base).relativeFilePath(full).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current = base;
    for (const QString& part : parts) {
        current = joinPath(current, part);
        if (QFileInfo(current).isSymLink())
            return false;
    }
    return true;
}

namespace {

// One entry of a zip archive's central directory.
struct ZipEntry
{
    QString name;          // as stored, a trailing "/" removed
    quint16 flags = 0;
    quint16 method = 0;
    quint32 crc = 0;
    quint64 packedSize = 0;
    quint64 size = 0;
    quint64 headerOffset = 0; // of the local header
    bool isDir = false;
    bool isLink = false;
    int mode = -1; // the stored Unix permission bits, -1 when none
};

constexpr quint32 kCentralHeaderSignature = 0x02014b50u;
constexpr quint32 kLocalHeaderSignature = 0x04034b50u;
constexpr quint32 kEndOfDirectorySignature = 0x06054b50u;
constexpr qint64 kChunk = 64 * 1024;

// Reads the central directory. False, with `error` set, when the file is no
// zip archive this code can unpack (ZIP64, split archives, a damaged
// directory).
bool readCentralDirectory(QFile& file, QVector<ZipEntry>& entries, QString& error)
{
    const qint64 fileSize = file.size();
    const qint64 tailSize = qMin<qint64>(fileSize, 22 + 0xFFFF);
    if (tailSize < 22 || !file.seek(fileSize - tailSize)) {
        error = QStringLiteral("archive not readable: ");
        return false;
    }
    const QByteArray tail = file.read(tailSize);
    int eocd = -1;
    for (int i = tail.size() - 22; i >= 0; --i) {
        if (readLE(reinterpret_cast<const uchar*>(tail.constData()) + i, 4) == kEndOfDirectorySignature) {
            eocd = i;
            break;
        }
    }
    if (eocd < 0) {
        error = QStringLiteral("archive not readable: ");
        return false;
    }
    const uchar* end = reinterpret_cast<const uchar*>(tail.constData()) + eocd;
    const quint32 count = readLE(end + 10, 2);
    const quint64 dirSize = readLE(end + 12, 4);
    const quint64 dirOffset = readLE(end + 16, 4);
    if (readLE(end + 4, 2) != 0 || readLE(end + 6, 2) != 0 || readLE(end + 8, 2) != count || count == 0xFFFF
        || dirOffset == 0xFFFFFFFFu || dirOffset + dirSize > quint64(fileSize)) {
        error = QStringLiteral("archive format not supported: ");
        return false;
    }
    if (count == 0) {
        error = QStringLiteral("archive holds no entries: ");
        return false;
    }
    if (!file.seek(qint64(dirOffset))) {
        error = QStringLiteral("archive not readable: ");
        return false;
    }
    const QByteArray dir = file.read(qint64(dirSize));
    if (quint64(dir.size()) != dirSize) {
        error = QStringLiteral("archive not readable: ");
        return false;
    }

    int pos = 0;
    for (quint32 i = 0; i < count; ++i) {
        const uchar* h = reinterpret_cast<const uchar*>(dir.constData()) + pos;
        if (pos + 46 > dir.size() || readLE(h, 4) != kCentralHeaderSignature) {
            error = QStringLiteral("archive directory damaged: ");
            return false;
        }
        const int nameLength = int(readLE(h + 28, 2));
        const int recordLength = 46 + nameLength + int(readLE(h + 30, 2)) + int(readLE(h + 32, 2));
        if (pos + recordLength > dir.size()) {
            error = QStringLiteral("archive directory damaged: ");
            return false;
        }
        ZipEntry entry;
        entry.flags = quint16(readLE(h + 8, 2));
        entry.method = quint16(readLE(h + 10, 2));
        entry.crc = readLE(h + 16, 4);
        entry.packedSize = readLE(h + 20, 4);
        entry.size = readLE(h + 24, 4);
        entry.headerOffset = readLE(h + 42, 4);
        if (entry.packedSize == 0xFFFFFFFFu || entry.size == 0xFFFFFFFFu || entry.headerOffset == 0xFFFFFFFFu) {
            error = QStringLiteral("archive format not supported: ");
            return false;
        }
        const QByteArray rawName(dir.constData() + pos + 46, nameLength);
        entry.name = (entry.flags & 0x0800) ? QString::fromUtf8(rawName) : QFile::decodeName(rawName);
        const quint32 attributes = readLE(h + 38, 4);
        if ((readLE(h + 4, 2) >> 8) == 3) { // made on Unix: the mode is in the upper half
            const quint32 mode = attributes >> 16;
            entry.isDir = (mode & 0170000) == 0040000;
            entry.isLink = (mode & 0170000) == 0120000;
            if (mode & 07777)
                entry.mode = int(mode & 07777);
        } else {
            entry.isDir = attributes & 0x10;
        }
        if (entry.name.endsWith(QLatin1Char('/'))) {
            entry.isDir = true;
            while (entry.name.endsWith(QLatin1Char('/')))
                entry.name.chop(1);
        }
        entries.append(entry);
        pos += recordLength;
    }
    return true;
}

// The mode an unpacked entry gets: nobody but the owner may write it and no
// set-id or sticky bit survives; execute bits stay.
QFile::Permissions maskedPermissions(int mode, bool isDir)
{
    const int bits = (mode < 0 ? (isDir ? 0755 : 0644) : mode) & 0755;
    QFile::Permissions p;
    const QPair<int, QFile::Permissions> map[] = {
        { 0400, QFile::ReadOwner | QFile::ReadUser }, { 0200, QFile::WriteOwner | QFile::WriteUser },
        { 0100, QFile::ExeOwner | QFile::ExeUser },   { 040, QFile::ReadGroup },
        { 010, QFile::ExeGroup },                     { 04, QFile::ReadOther },
        { 01, QFile::ExeOther },
    };
    for (const auto& bit : map) {
        if (bits & bit.first)
            p |= bit.second;
    }
    return p;
}

// Streams one file entry's data into `out`, checking the stored size and
// checksum. Never holds more than one chunk of the entry in memory.
bool unpackEntry(QFile& zip, const ZipEntry& entry, QIODevice& out, QString& error)
{
    if (!zip.seek(qint64(entry.headerOffset))) {
        error = QStringLiteral("archive entry not readable: ");
        return false;
    }
    const QByteArray local = zip.read(30);
    const uchar* h = reinterpret_cast<const uchar*>(local.constData());
    if (local.size() != 30 || readLE(h, 4) != kLocalHeaderSignature) {
        error = QStringLiteral("archive entry not readable: ");
        return false;
    }
    const qint64 dataOffset = qint64(entry.headerOffset) + 30 + readLE(h + 26, 2) + readLE(h + 28, 2);
    if (dataOffset + qint64(entry.packedSize) > zip.size() || !zip.seek(dataOffset)) {
        error = QStringLiteral("archive entry not readable: ");
        return false;
    }

    quint64 packedLeft = entry.packedSize;
    quint64 written = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    QByteArray input;
    QByteArray output(int(kChunk), Qt::Uninitialized);
    auto deliver = [&](const char* data, quint64 length) {
        written += length;
        if (written > entry.size) {
            error = QStringLiteral("archive entry larger than stored: ");
            return false;
        }
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data), uInt(length));
        if (out.write(data, qint64(length)) != qint64(length)) {
            error = QStringLiteral("cannot write file: ");
            return false;
        }
        return true;
    };

    if (entry.method == 0) {
        while (packedLeft > 0) {
            input = zip.read(qint64(qMin<quint64>(packedLeft, kChunk)));
            if (input.isEmpty()) {
                error = QStringLiteral("archive entry not readable: ");
                return false;
            }
            packedLeft -= quint64(input.size());
            if (!deliver(input.constData(), quint64(input.size())))
                return false;
        }
    } else if (entry.method == 8) {
        z_stream stream {};
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
            error = QStringLiteral("archive entry not readable: ");
            return false;
        }
        int status = Z_OK;
        while (status != Z_STREAM_END) {
            if (stream.avail_in == 0) {
                if (packedLeft == 0)
                    break;
                input = zip.read(qint64(qMin<quint64>(packedLeft, kChunk)));
                if (input.isEmpty())
                    break;
                packedLeft -= quint64(input.size());
                stream.next_in = reinterpret_cast<Bytef*>(input.data());
                stream.avail_in = uInt(input.size());
            }
            stream.next_out = reinterpret_cast<Bytef*>(output.data());
            stream.avail_out = uInt(output.size());
            status = inflate(&stream, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END)
                break;
            if (!deliver(output.constData(), quint64(output.size()) - stream.avail_out)) {
                inflateEnd(&stream);
                return false;
            }
        }
        inflateEnd(&stream);
        if (status != Z_STREAM_END) {
            error = QStringLiteral("archive entry damaged: ");
            return false;
        }
    } else {
        error = QStringLiteral("compression method not supported: ");
        return false;
    }
    if (written != entry.size || crc != entry.crc) {
        error = QStringLiteral("archive entry damaged: ");
        return false;
    }
    return true;
}

// Creates `path` and its missing parents, noting each directory made so a
// failed extraction can take them away again.
bool makeDirectories(const QString& path, QStringList& created)
{
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current;
    for (const QString& part : parts) {
        current += QLatin1Char('/') + part;
        const QFileInfo info(current);
        if (info.isSymLink() || (info.exists() && !info.isDir()))
            return false;
        if (info.exists())
            continue;
        if (!QDir().mkdir(current))
            return false;
        created.append(current);
    }
    return true;
}

// The files the program itself consists of, beside its executable: no
// download may replace them.
QStringList ownFiles()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    return {
        QDir::cleanPath(QCoreApplication::applicationFilePath()),
        QDir::cleanPath(appDir + QLatin1Char('/') + QLatin1String(LAUNCHER_FILE_NAME)),
        QDir::cleanPath(appDir + QStringLiteral("/openvpn.ostrel")),
        QDir::cleanPath(ExternalTools::FIREWALL()),
        QDir::cleanPath(ExternalTools::DNSSCRIPT()),
        QDir::cleanPath(ExternalTools::OPEN_LINK()),
    };
}

} // namespace

const qint64 ArcTools::kMaxExtractedBytes = 256 * 1024 * 1024;

bool ArcTools::extractArchive(const QString& zipFile, const QString& targetDir, QString* errorText)
{
    auto fail = [&](const QString& text) {
        qDebug().noquote() << Q_FUNC_INFO << text;
        if (errorText)
            *errorText = text;
        return false;
    };

    QFile zip(zipFile);
    if (!zip.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("archive not readable: ") + zipFile);
    QVector<ZipEntry> entries;
    QString reason;
    if (!readCentralDirectory(zip, entries, reason))
        return fail(reason + zipFile);

    // Every entry is checked before the first byte is written.
    const QString root = QDir::cleanPath(QFileInfo(targetDir).absoluteFilePath());
    const QStringList reserved = ownFiles();
    quint64 total = 0;
    for (const ZipEntry& entry : qAsConst(entries)) {
        if (!isSafeEntryName(entry.name))
            return fail(QStringLiteral("unsafe archive entry: ") + entry.name);
        const QString target = joinPath(root, QDir::cleanPath(entry.name));
        if (!staysInside(root, target))
            return fail(QStringLiteral("archive entry leaves the directory: ") + entry.name);
        for (const QString& own : reserved) {
            if (target == own || target.startsWith(own + QLatin1Char('/')))
                return fail(QStringLiteral("archive entry would replace a file of the program: ") + entry.name);
        }
        if (entry.isLink || entry.isDir)
            continue;
        if (entry.flags & 0x0001)
            return fail(QStringLiteral("encrypted archive entry: ") + entry.name);
        if (QFileInfo(target).isDir())
            return fail(QStringLiteral("archive entry would replace a directory: ") + entry.name);
        total += entry.size;
        if (total > quint64(kMaxExtractedBytes))
            return fail(QStringLiteral("archive too large when unpacked: ") + zipFile);
    }

    // Each file is unpacked into a private temporary file beside its target;
    // only when all are complete do they take their names. On any failure the
    // temporary files and the directories made go again.
    QStringList createdDirs;
    std::vector<std::unique_ptr<QTemporaryFile>> unpacked;
    QStringList targets;
    QVector<QFile::Permissions> fileModes;
    QVector<QPair<QString, QFile::Permissions>> directoryModes;
    auto rollBack = [&](const QString& text) {
        unpacked.clear(); // removes the temporary files
        for (int i = createdDirs.size() - 1; i >= 0; --i)
            QDir().rmdir(createdDirs.at(i));
        return fail(text);
    };

    if (!makeDirectories(root, createdDirs))
        return rollBack(QStringLiteral("cannot create directory: ") + root);
    for (const ZipEntry& entry : qAsConst(entries)) {
        const QString target = joinPath(root, QDir::cleanPath(entry.name));
        if (entry.isDir) {
            if (!makeDirectories(target, createdDirs) || !staysInside(root, target))
                return rollBack(QStringLiteral("cannot create directory: ") + target);
            if (entry.mode >= 0)
                directoryModes.prepend({ target, maskedPermissions(entry.mode, true) });
            continue;
        }
        if (entry.isLink) {
            qDebug().noquote() << Q_FUNC_INFO << "-link entry not created: " << entry.name;
            continue;
        }
        const QString parent = QFileInfo(target).absolutePath();
        if (!makeDirectories(parent, createdDirs) || !staysInside(root, target))
            return rollBack(QStringLiteral("cannot create directory: ") + parent);
        std::unique_ptr<QTemporaryFile> file(new QTemporaryFile(parent + QStringLiteral("/.unpack-XXXXXX")));
        if (!file->open())
            return rollBack(QStringLiteral("cannot write file: ") + target);
        if (!unpackEntry(zip, entry, *file, reason) || !file->flush())
            return rollBack((reason.isEmpty() ? QStringLiteral("cannot write file: ") : reason) + entry.name);
        file->close();
        unpacked.push_back(std::move(file));
        targets.append(target);
        fileModes.append(maskedPermissions(entry.mode, false));
    }

    for (size_t i = 0; i < unpacked.size(); ++i) {
        QTemporaryFile& file = *unpacked[i];
        const QString target = targets.at(int(i));
        if (!file.setPermissions(fileModes.at(int(i)))
            || ::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(target).constData()) != 0)
            return fail(QStringLiteral("cannot write file: ") + target);
        file.setAutoRemove(false);
    }
    // Directory modes are applied last, deepest first: a read-only directory
    // must still take its files.
    for (const auto& directory : qAsConst(directoryModes))
        QFile::setPermissions(directory.first, directory.second);
    return true;
}

QString findFile(const QString& name, const QDir& dir)
{
    const QFileInfoList hits = dir.entryInfoList({ QStringLiteral("*") + name }, QDir::Files | QDir::Hidden, QDir::NoSort);
    if (!hits.isEmpty()) {
        for (const QFileInfo& hit : hits) {
            if (hit.fileName() == name)
                return hit.absoluteFilePath();
        }
        return hits.first().absoluteFilePath();
    }
    const QFileInfoList subdirs = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden, QDir::NoSort);
    for (const QFileInfo& subdir : subdirs) {
        const QString found = findFile(name, QDir(subdir.absoluteFilePath()));
        if (!found.isEmpty())
            return found;
    }
    return QString();
}

QString getBundlePathFromPath(const QString& path)
{
    QString result = path;
    // Only a whole last component counts: ".../appdata" is not ".../data".
    if (result.endsWith(QLatin1String("/data"))) {
        qInfo().noquote() << "Up99";
        result = result.left(result.lastIndexOf(QLatin1String("/data")));
    }
    if (result.endsWith(QLatin1String("/Contents/MacOS"))) {
        qInfo().noquote() << "Up100";
        result = result.left(result.lastIndexOf(QLatin1String("/Contents/MacOS")));
    }
    return result;
}
