#include "arctools.h"

#include "checknewversion.h"
#include "unix/externaltools.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QtGui/private/qzipwriter_p.h>

#include <vector>

#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
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

// Qt's zip writer stores the owner's execute bit as the owner's write bit and
// mixes the effective user's access into the owner's. The written archive is
// copied, entry by entry in the order they were added, into one with the true
// modes (a negative mode leaves an entry's as written) that then takes its
// name. Each entry keeps the writer's choice of compressing or storing. The
// copy reads every entry and every byte back: an archive cut short, or one
// that does not list what was added, fails it.
bool rewriteWithModes(const QString& zipName, const QVector<qint32>& modes, qint64 totalFileBytes)
{
    const QString copyName = zipName + QStringLiteral(".part");
    const QByteArray source = QFile::encodeName(zipName);
    const QByteArray copy = QFile::encodeName(copyName);
    archive* in = archive_read_new();
    archive* out = archive_write_new();
    // No padding after the end record: the copy is a plain zip file.
    bool ok = in && out && archive_read_support_format_zip_seekable(in) == ARCHIVE_OK
        && archive_read_open_filename(in, source.constData(), 64 * 1024) == ARCHIVE_OK
        && archive_write_set_format_zip(out) == ARCHIVE_OK && archive_write_set_bytes_in_last_block(out, 1) == ARCHIVE_OK
        && archive_write_open_filename(out, copy.constData()) == ARCHIVE_OK;

    int index = 0;
    qint64 bytes = 0;
    QByteArray chunk(64 * 1024, Qt::Uninitialized);
    while (ok) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(in, &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK || index >= modes.size()) {
            ok = false;
            break;
        }
        if (modes.at(index) >= 0)
            archive_entry_set_perm(entry, mode_t(modes.at(index)));
        ++index;
        const char* format = archive_format_name(in);
        const bool stored = format && std::strstr(format, "uncompressed");
        ok = (stored ? archive_write_zip_set_compression_store(out) : archive_write_zip_set_compression_deflate(out)) == ARCHIVE_OK
            && archive_write_header(out, entry) == ARCHIVE_OK;
        if (!ok || archive_entry_filetype(entry) != AE_IFREG)
            continue;
        for (;;) {
            const la_ssize_t length = archive_read_data(in, chunk.data(), size_t(chunk.size()));
            if (length == 0)
                break;
            if (length < 0 || archive_write_data(out, chunk.constData(), size_t(length)) != length) {
                ok = false;
                break;
            }
            bytes += length;
        }
    }
    ok = ok && index == modes.size() && bytes == totalFileBytes;
    if (in)
        archive_read_free(in);
    if (out) {
        if (archive_write_close(out) != ARCHIVE_OK)
            ok = false;
        archive_write_free(out);
    }
    ok = ok && ::rename(copy.constData(), source.constData()) == 0;
    if (!ok)
        QFile::remove(copyName);
    return ok;
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

    if (complete && !rewriteWithModes(zipName, modes, totalFileBytes)) {
        qDebug().noquote() << Q_FUNC_INFO << "-permissions not written or archive does not read back: " << zipName;
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

// One entry of an archive as the listing found it.
struct ArchiveItem
{
    enum Kind { File, Directory, Link };
    QString name; // relative, without a trailing "/"
    Kind kind = File;
    int mode = -1; // the stored permission bits, -1 when none
};

// A zip archive held in memory, read through libarchive. The zip reader that
// works from the central directory is used, as other zip tools do: what an
// archive lists there is what it holds.
class ZipReading
{
public:
    explicit ZipReading(const QByteArray& data)
        : m_archive(archive_read_new())
    {
        if (m_archive && archive_read_support_format_zip_seekable(m_archive) == ARCHIVE_OK)
            m_open = archive_read_open_memory(m_archive, data.constData(), size_t(data.size())) == ARCHIVE_OK;
    }
    ~ZipReading()
    {
        if (m_archive)
            archive_read_free(m_archive);
    }
    ZipReading(const ZipReading&) = delete;
    ZipReading& operator=(const ZipReading&) = delete;

    bool isOpen() const { return m_open; }
    archive* handle() const { return m_archive; }

    // The next entry; null at the end or on an error (see atEnd()). A warning
    // (a name that cannot be converted, a size that does not match) counts
    // as an error: such an archive is not unpacked.
    archive_entry* next()
    {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(m_archive, &entry);
        m_atEnd = status == ARCHIVE_EOF;
        return status == ARCHIVE_OK ? entry : nullptr;
    }
    bool atEnd() const { return m_atEnd; }

    QString errorText() const
    {
        const char* text = m_archive ? archive_error_string(m_archive) : nullptr;
        return text ? QString::fromUtf8(text) : QString();
    }

private:
    archive* m_archive;
    bool m_open = false;
    bool m_atEnd = false;
};

ArchiveItem describe(archive_entry* entry)
{
    ArchiveItem item;
    const char* utf8 = archive_entry_pathname_utf8(entry);
    const char* raw = utf8 ? nullptr : archive_entry_pathname(entry);
    item.name = utf8 ? QString::fromUtf8(utf8) : (raw ? QFile::decodeName(raw) : QString());
    const mode_t type = archive_entry_filetype(entry);
    if (type == AE_IFDIR || item.name.endsWith(QLatin1Char('/')))
        item.kind = ArchiveItem::Directory;
    else if (type == AE_IFLNK || archive_entry_symlink(entry) || archive_entry_hardlink(entry))
        item.kind = ArchiveItem::Link;
    while (item.name.endsWith(QLatin1Char('/')))
        item.name.chop(1);
    const int perm = int(archive_entry_perm(entry) & 07777);
    if (perm)
        item.mode = perm;
    return item;
}

// The mode an unpacked entry gets: nobody but the owner may write it and no
// set-id or sticky bit survives; execute bits stay.
mode_t maskedMode(int mode, bool isDir)
{
    return mode_t((mode < 0 ? (isDir ? 0755 : 0644) : mode) & 0755);
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

// An unpacked file waiting for its name, and what it replaced.
struct PendingFile
{
    QString temporary;
    QString target;
    mode_t mode = 0644;
    QString aside;        // the file that was there before, under another name
    bool placed = false;
};

// Puts `file` in place. A file already there is kept under a second name
// (a hard link where the file system allows it, so the target never goes
// missing) until the whole extraction has succeeded.
bool placeFile(PendingFile& file)
{
    const QByteArray temporary = QFile::encodeName(file.temporary);
    const QByteArray target = QFile::encodeName(file.target);
    if (::chmod(temporary.constData(), file.mode) != 0)
        return false;
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return false;
        file.aside = file.temporary + QStringLiteral(".old");
        const QByteArray aside = QFile::encodeName(file.aside);
        if (::link(target.constData(), aside.constData()) != 0
            && ::rename(target.constData(), aside.constData()) != 0) {
            file.aside.clear();
            return false;
        }
    } else if (errno != ENOENT) {
        return false;
    }
    file.placed = ::rename(temporary.constData(), target.constData()) == 0;
    return file.placed;
}

// Takes a placed (or half-placed) file back out: what was there returns.
void unplaceFile(const PendingFile& file)
{
    const QByteArray target = QFile::encodeName(file.target);
    if (!file.aside.isEmpty()) {
        const QByteArray aside = QFile::encodeName(file.aside);
        // A hard link of the original: renaming it onto the original does
        // nothing, so it is removed afterwards.
        ::rename(aside.constData(), target.constData());
        ::unlink(aside.constData());
    } else if (file.placed) {
        ::unlink(target.constData());
    }
    if (!file.placed)
        ::unlink(QFile::encodeName(file.temporary).constData());
}

constexpr size_t kChunk = 64 * 1024;

} // namespace

const qint64 ArcTools::kMaxExtractedBytes = 256 * 1024 * 1024;

bool ArcTools::extractArchive(const QByteArray& zipData, const QString& targetDir, QString* errorText)
{
    auto fail = [&](const QString& text) {
        qDebug().noquote() << Q_FUNC_INFO << text;
        if (errorText)
            *errorText = text;
        return false;
    };
    auto withDetail = [](const QString& text, const QString& detail) {
        return detail.isEmpty() ? text : text + QStringLiteral(" (") + detail + QLatin1Char(')');
    };

    // The listing: every entry is checked before the first byte is written.
    QVector<ArchiveItem> items;
    quint64 declared = 0;
    const QString root = QDir::cleanPath(QFileInfo(targetDir).absoluteFilePath());
    {
        ZipReading listing(zipData);
        bool readable = listing.isOpen();
        QString problem;
        if (!readable) {
            problem = withDetail(QStringLiteral("archive not readable"), listing.errorText());
        } else {
            while (archive_entry* entry = listing.next()) {
                items.append(describe(entry));
                if (items.last().kind == ArchiveItem::File) {
                    if (archive_entry_is_encrypted(entry) && problem.isEmpty())
                        problem = QStringLiteral("encrypted archive entry: ") + items.last().name;
                    if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0)
                        declared += quint64(archive_entry_size(entry));
                }
            }
            if (!listing.atEnd()) {
                readable = false;
                problem = withDetail(QStringLiteral("archive not readable"), listing.errorText());
            }
        }
        qDebug().noquote() << Q_FUNC_INFO << "isReadable:" << readable << "count:" << items.size();
        if (!problem.isEmpty())
            return fail(problem);
    }
    if (items.isEmpty())
        return fail(QStringLiteral("archive holds no entries"));
    if (declared > quint64(kMaxExtractedBytes))
        return fail(QStringLiteral("archive too large when unpacked"));

    const QStringList reserved = ownFiles();
    for (const ArchiveItem& item : qAsConst(items)) {
        if (!isSafeEntryName(item.name))
            return fail(QStringLiteral("unsafe archive entry: ") + item.name);
        const QString target = joinPath(root, QDir::cleanPath(item.name));
        if (!staysInside(root, target))
            return fail(QStringLiteral("archive entry leaves the directory: ") + item.name);
        for (const QString& own : reserved) {
            if (target == own || target.startsWith(own + QLatin1Char('/')))
                return fail(QStringLiteral("archive entry would replace a file of the program: ") + item.name);
        }
        if (item.kind == ArchiveItem::File && QFileInfo(target).isDir())
            return fail(QStringLiteral("archive entry would replace a directory: ") + item.name);
    }

    // Each file is unpacked into a private temporary file beside its target
    // and closed again; only when all are complete do they take their names.
    // On any failure the files that were there come back, and the temporary
    // files and the directories made go again.
    QStringList createdDirs;
    std::vector<PendingFile> pending;
    pending.reserve(size_t(items.size()));
    QVector<QPair<QString, mode_t>> directoryModes;
    auto rollBack = [&](const QString& text) {
        for (auto it = pending.rbegin(); it != pending.rend(); ++it)
            unplaceFile(*it);
        for (int i = createdDirs.size() - 1; i >= 0; --i)
            QDir().rmdir(createdDirs.at(i));
        return fail(text);
    };

    if (!makeDirectories(root, createdDirs))
        return rollBack(QStringLiteral("cannot create directory: ") + root);
    ZipReading reading(zipData);
    if (!reading.isOpen())
        return rollBack(withDetail(QStringLiteral("archive not readable"), reading.errorText()));
    QByteArray chunk(int(kChunk), Qt::Uninitialized);
    quint64 total = 0;
    for (const ArchiveItem& item : qAsConst(items)) {
        archive_entry* entry = reading.next();
        if (!entry || describe(entry).name != item.name)
            return rollBack(withDetail(QStringLiteral("archive entry not readable: ") + item.name, reading.errorText()));
        const QString target = joinPath(root, QDir::cleanPath(item.name));
        if (item.kind == ArchiveItem::Directory) {
            if (!makeDirectories(target, createdDirs) || !staysInside(root, target))
                return rollBack(QStringLiteral("cannot create directory: ") + target);
            if (item.mode >= 0)
                directoryModes.append({ target, maskedMode(item.mode, true) });
            continue;
        }
        if (item.kind == ArchiveItem::Link) {
            qDebug().noquote() << Q_FUNC_INFO << "-link entry not created: " << item.name;
            continue;
        }
        const QString parent = QFileInfo(target).absolutePath();
        if (!makeDirectories(parent, createdDirs) || !staysInside(root, target))
            return rollBack(QStringLiteral("cannot create directory: ") + parent);

        const qint64 stored = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
        QTemporaryFile file(parent + QStringLiteral("/.unpack-XXXXXX"));
        if (!file.open())
            return rollBack(QStringLiteral("cannot write file: ") + target);
        qint64 written = 0;
        for (;;) {
            const la_ssize_t length = archive_read_data(reading.handle(), chunk.data(), kChunk);
            if (length == 0)
                break;
            if (length < 0)
                return rollBack(withDetail(QStringLiteral("archive entry damaged: ") + item.name, reading.errorText()));
            written += length;
            total += quint64(length);
            if (stored >= 0 && written > stored)
                return rollBack(QStringLiteral("archive entry larger than stored: ") + item.name);
            if (total > quint64(kMaxExtractedBytes))
                return rollBack(QStringLiteral("archive too large when unpacked"));
            if (file.write(chunk.constData(), length) != length)
                return rollBack(QStringLiteral("cannot write file: ") + target);
        }
        if (!file.flush())
            return rollBack(QStringLiteral("cannot write file: ") + target);
        file.close();
        file.setAutoRemove(false);
        PendingFile unpacked;
        unpacked.temporary = file.fileName();
        unpacked.target = target;
        unpacked.mode = maskedMode(item.mode, false);
        pending.push_back(unpacked);
    }

    for (PendingFile& file : pending) {
        if (!placeFile(file))
            return rollBack(QStringLiteral("cannot write file: ") + file.target);
    }
    for (const PendingFile& file : pending) {
        if (!file.aside.isEmpty())
            ::unlink(QFile::encodeName(file.aside).constData());
    }
    // Directory modes are applied last, in the reverse of the archive's
    // order (deepest first as archives list them): a read-only directory
    // must still take its files.
    for (auto it = directoryModes.crbegin(); it != directoryModes.crend(); ++it)
        ::chmod(QFile::encodeName(it->first).constData(), it->second);
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
