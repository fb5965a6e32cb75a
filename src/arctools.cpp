#include "arctools.h"

#include <QDebug>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QtGui/private/qzipreader_p.h>
#include <QtGui/private/qzipwriter_p.h>

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

bool ArcTools::extractArchive(const QString& zipFile, const QString& targetDir, QString* errorText)
{
    auto fail = [&](const QString& text) {
        qDebug().noquote() << Q_FUNC_INFO << text;
        if (errorText)
            *errorText = text;
        return false;
    };

    QZipReader reader(zipFile);
    if (reader.status() != QZipReader::NoError)
        return fail(QStringLiteral("archive not readable: ") + zipFile);
    const QVector<QZipReader::FileInfo> entries = reader.fileInfoList();
    if (reader.status() != QZipReader::NoError)
        return fail(QStringLiteral("archive not readable: ") + zipFile);
    // Qt's reader takes any file without a zip directory for an empty archive.
    if (entries.isEmpty())
        return fail(QStringLiteral("archive holds no entries: ") + zipFile);

    // Every entry is checked, and read, before the first byte is written.
    const QString root = QDir::cleanPath(QFileInfo(targetDir).absoluteFilePath());
    QVector<QByteArray> contents(entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        const QZipReader::FileInfo& entry = entries.at(i);
        if (!isSafeEntryName(entry.filePath))
            return fail(QStringLiteral("unsafe archive entry: ") + entry.filePath);
        if (!staysInside(root, joinPath(root, QDir::cleanPath(entry.filePath))))
            return fail(QStringLiteral("archive entry leaves the directory: ") + entry.filePath);
        if (entry.isFile) {
            contents[i] = reader.fileData(entry.filePath);
            // The reader repairs names such as "../x" or "/x" in its listing
            // but finds their data only under the stored name.
            if (contents.at(i).size() != entry.size)
                return fail(QStringLiteral("archive entry not readable: ") + entry.filePath);
        }
    }

    if (!QDir().mkpath(root))
        return fail(QStringLiteral("cannot create directory: ") + root);

    // Directory modes are applied last, deepest first: a read-only directory
    // must still take its files.
    QVector<QPair<QString, QFile::Permissions>> directoryModes;

    for (int i = 0; i < entries.size(); ++i) {
        const QZipReader::FileInfo& entry = entries.at(i);
        const QString target = joinPath(root, QDir::cleanPath(entry.filePath));
        if (!staysInside(root, target))
            return fail(QStringLiteral("archive entry leaves the directory: ") + entry.filePath);
        if (entry.isDir) {
            if (!QDir().mkpath(target))
                return fail(QStringLiteral("cannot create directory: ") + target);
            if (entry.permissions != QFile::Permissions())
                directoryModes.prepend({ target, entry.permissions });
            continue;
        }
        if (!entry.isFile) {
            qDebug().noquote() << Q_FUNC_INFO << "-link entry not created: " << entry.filePath;
            continue;
        }
        const QString parent = QFileInfo(target).absolutePath();
        if (!QDir().mkpath(parent) || !staysInside(root, target))
            return fail(QStringLiteral("cannot create directory: ") + parent);
        QFile file(target);
        const QByteArray& data = contents.at(i);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
            return fail(QStringLiteral("cannot write file: ") + target);
        file.close();
        if (entry.permissions != QFile::Permissions())
            file.setPermissions(entry.permissions);
    }
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
