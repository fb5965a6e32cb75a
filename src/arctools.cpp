#include "arctools.h"

#include "checknewversion.h"
#include "log.h"
#include "unix/externaltools.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QThread>

#include <vector>

#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
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

// The status number and text the backup logs when its file cannot be
// opened, after the kind of the failure.
int openFailureStatus(QFileDevice::FileError error)
{
    switch (error) {
    case QFileDevice::WriteError:
        return 1;
    case QFileDevice::OpenError:
        return 2;
    case QFileDevice::PermissionsError:
        return 3;
    default:
        return 4;
    }
}

const char* openFailureText(int status)
{
    switch (status) {
    case 1:
        return "-file write error";
    case 2:
        return "-file open error";
    case 3:
        return "-file permissions error";
    default:
        return "-file error";
    }
}

// A zip archive written through libarchive into a file the caller opened.
// Names are stored as UTF-8 and flagged so. Each entry takes its type, time
// and owner from the file's stat, and of its mode the read, write and
// execute bits of owner, group and others. Files under 64 bytes are stored,
// larger ones deflated. After a failed call the archive is unusable: every
// later call fails too.
class ZipWriting
{
public:
    explicit ZipWriting(int fd)
        : m_archive(archive_write_new())
    {
        // No padding after the end record: a plain zip file.
        m_ok = m_archive && archive_write_set_format_zip(m_archive) == ARCHIVE_OK
            && archive_write_set_options(m_archive, "zip:hdrcharset=UTF-8") == ARCHIVE_OK
            && archive_write_set_bytes_in_last_block(m_archive, 1) == ARCHIVE_OK
            && archive_write_open_fd(m_archive, fd) == ARCHIVE_OK;
    }
    ~ZipWriting()
    {
        if (m_archive)
            archive_write_free(m_archive);
    }
    ZipWriting(const ZipWriting&) = delete;
    ZipWriting& operator=(const ZipWriting&) = delete;

    bool isOk() const { return m_ok; }

    QString errorText() const
    {
        const char* text = m_archive ? archive_error_string(m_archive) : nullptr;
        return text ? QString::fromUtf8(text) : QString();
    }

    void addDirectory(const QString& name, const struct stat& st) { addHeader(name + QLatin1Char('/'), st, QString()); }

    void addLink(const QString& name, const struct stat& st, const QString& target) { addHeader(name, st, target); }

    // Adds a regular file with the data read from `fd` up to its end; the
    // number of bytes read, -1 when reading failed.
    qint64 addFile(const QString& name, const struct stat& st, int fd)
    {
        addHeader(name, st, QString());
        QByteArray chunk(64 * 1024, Qt::Uninitialized);
        qint64 total = 0;
        for (;;) {
            const ssize_t length = ::read(fd, chunk.data(), size_t(chunk.size()));
            if (length < 0 && errno == EINTR)
                continue;
            if (length < 0)
                return -1;
            if (length == 0)
                return total;
            total += length;
            // Bytes past the size in the header are not taken: the file grew.
            if (total > qint64(st.st_size))
                return total;
            m_ok = m_ok && archive_write_data(m_archive, chunk.constData(), size_t(length)) == length;
        }
    }

    bool close()
    {
        m_ok = m_ok && archive_write_close(m_archive) == ARCHIVE_OK;
        return m_ok;
    }

private:
    void addHeader(const QString& name, const struct stat& st, const QString& linkTarget)
    {
        if (!m_ok)
            return;
        archive_entry* entry = archive_entry_new();
        if (!entry) {
            m_ok = false;
            return;
        }
        archive_entry_copy_stat(entry, &st);
        archive_entry_set_perm(entry, st.st_mode & 0777);
        archive_entry_set_pathname_utf8(entry, name.toUtf8().constData());
        if (S_ISLNK(st.st_mode))
            archive_entry_set_symlink_utf8(entry, linkTarget.toUtf8().constData());
        const bool regular = S_ISREG(st.st_mode);
        if (!regular)
            archive_entry_set_size(entry, 0);
        const bool store = !regular || st.st_size < 64;
        m_ok = (store ? archive_write_zip_set_compression_store(m_archive)
                      : archive_write_zip_set_compression_deflate(m_archive))
                == ARCHIVE_OK
            && archive_write_header(m_archive, entry) == ARCHIVE_OK;
        archive_entry_free(entry);
    }

    archive* m_archive;
    bool m_ok = false;
};

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
    qDebug().noquote() << Q_FUNC_INFO << "archive: " << logSafe(zipName);

    QFile zipFile(zipName);
    if (!zipFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        const int status = openFailureStatus(zipFile.error());
        qDebug().noquote() << Q_FUNC_INFO << "zip error: " << status;
        qDebug().noquote() << Q_FUNC_INFO << openFailureText(status);
        return false;
    }

    bool complete = true;
    {
        ZipWriting writer(zipFile.handle());
        if (!canList(root)) {
            qDebug().noquote() << Q_FUNC_INFO << "-directory not listable: " << logSafe(root);
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
            const QByteArray nativePath = QFile::encodeName(path);
            struct stat st = {};
            const bool known = ::lstat(nativePath.constData(), &st) == 0;

            if (known && S_ISLNK(st.st_mode)) {
                // The link itself, never what it points to.
                qDebug().noquote() << Q_FUNC_INFO << "-zip link: " << logSafe(path);
                writer.addLink(name, st, rawLinkTarget(path));
            } else if (known && S_ISDIR(st.st_mode)) {
                // What cannot be listed cannot be kept, and the clearing
                // that follows a backup must not touch it.
                if (!canList(path)) {
                    qDebug().noquote() << Q_FUNC_INFO << "-directory not listable: " << logSafe(path);
                    complete = false;
                    continue;
                }
                writer.addDirectory(name, st);
            } else if (known && S_ISREG(st.st_mode)) {
                // Opened without following a link: what is read is what was
                // listed, and its mode is the one archived.
                const int fd = ::open(nativePath.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
                if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
                    if (fd >= 0)
                        ::close(fd);
                    qDebug().noquote() << Q_FUNC_INFO << "-file not opened: " << logSafe(path);
                    complete = false;
                    continue;
                }
                const qint64 read = writer.addFile(name, st, fd);
                ::close(fd);
                if (read != qint64(st.st_size)) {
                    qDebug().noquote() << Q_FUNC_INFO << "-file not read completely: " << logSafe(path);
                    complete = false;
                    continue;
                }
                qDebug().noquote() << Q_FUNC_INFO << "-zip file: " << logSafe(path);
            } else {
                // Sockets, pipes and devices hold no data to keep.
                qDebug().noquote() << Q_FUNC_INFO << "-skip: " << logSafe(path);
            }
        }
        if (!writer.close()) {
            qDebug().noquote() << Q_FUNC_INFO << "-archive not written: " << logSafe(writer.errorText());
            complete = false;
        }
    }
    zipFile.close();

    if (!complete) {
        // A partial backup must not pass for a whole one.
        QFile::remove(zipName);
        qDebug().noquote() << Q_FUNC_INFO << "-archive incomplete, removed: " << logSafe(zipName);
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
            qDebug().noquote() << Q_FUNC_INFO << "-skip: " << logSafe(path);
            continue;
        }
        // A link is removed as a link; its target is never touched.
        qDebug().noquote() << Q_FUNC_INFO << "-begin remove file: " << logSafe(path);
        if (!QFile::remove(path)) {
            qDebug().noquote() << Q_FUNC_INFO << "-file not removed: " << logSafe(path);
            return false;
        }
    }
    return true;
}

bool ArcTools::copyDirToDestination(QString from, const QString& to, bool strongCopy)
{
    if (!QDir(to).exists()) {
        qDebug().noquote() << Q_FUNC_INFO << "- target not exist: " << logSafe(to);
        return false;
    }
    // Without a source the target would only be emptied.
    if (from.isEmpty() || !QFileInfo(from).isDir()) {
        qDebug().noquote() << Q_FUNC_INFO << "- source not exist: " << logSafe(from);
        return false;
    }
    // Clearing the target would delete a source inside it, and copying a
    // source into a target inside it would never end.
    if (treesOverlap(from, to)) {
        qDebug().noquote() << Q_FUNC_INFO << "- source and target overlap: " << logSafe(from) << logSafe(to);
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
                qDebug().noquote() << Q_FUNC_INFO << "- failed to create directory: " << logSafe(target);
                return false;
            }
            continue;
        }
        if (!info.isSymLink() && !info.isFile()) {
            qDebug().noquote() << Q_FUNC_INFO << "-skip: " << logSafe(path);
            continue;
        }
        // Links of the new installation are recreated as links.
        const bool copied = inside
            && (info.isSymLink() ? makeLink(rawLinkTarget(path), target) : QFile::copy(path, target));
        if (copied) {
            qDebug().noquote() << Q_FUNC_INFO << "- copy file: " << logSafe(path) << " >>> " << logSafe(target);
        } else {
            qDebug().noquote() << Q_FUNC_INFO << "- FAILED to copy file: " << logSafe(path) << " >>> "
                               << logSafe(target);
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
        // The desktop entry the autostart link points to.
        QDir::cleanPath(appDir + QStringLiteral("/ostrel.desktop")),
    };
}

// Each file is unpacked under a temporary name beside its target,
// ".unpack-" and six letters (as QTemporaryFile fills in "XXXXXX"); a file
// it replaces waits under that name and ".old" until the end.
constexpr QLatin1String kUnpackTemplate("/.unpack-XXXXXX");

bool isUnpackTemporaryName(const QString& fileName)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.unpack-[A-Za-z]{6}(\\.old)?$"));
    return pattern.match(fileName).hasMatch();
}

// Removes what an extraction killed midway left below `root`: regular files
// of this user under the temporary names, nothing else. Links are not
// followed.
void removeLeftovers(const QString& root)
{
    QDirIterator it(root, kWalkFilters, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!isUnpackTemporaryName(it.fileName()))
            continue;
        const QByteArray native = QFile::encodeName(path);
        struct stat st = {};
        if (::lstat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        if (::unlink(native.constData()) == 0)
            qDebug().noquote() << Q_FUNC_INFO << "-leftover removed: " << logSafe(path);
    }
}

// Extractions into one directory share a lock on it (on the directory
// itself, so nothing is added to it): each holds it shared while its
// temporary files exist, and leftovers are removed only under the exclusive
// lock, so never those of an extraction still running.
class ExtractionLock
{
public:
    explicit ExtractionLock(const QString& dir)
        : m_fd(::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
    }
    ~ExtractionLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ExtractionLock(const ExtractionLock&) = delete;
    ExtractionLock& operator=(const ExtractionLock&) = delete;

    // True when no other extraction is running here.
    bool tryExclusive() { return m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) == 0; }

    // Takes the shared lock (in place of the exclusive one). Another
    // extraction holds the exclusive lock only while it removes leftovers,
    // so the wait is short; false when it lasts too long. A directory that
    // cannot be opened is not locked: no leftovers are removed from it
    // either.
    bool shared()
    {
        if (m_fd < 0)
            return true;
        const QDeadlineTimer deadline(10000);
        for (;;) {
            if (::flock(m_fd, LOCK_SH | LOCK_NB) == 0)
                return true;
            if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired())
                return false;
            QThread::msleep(20);
        }
    }

private:
    int m_fd;
};

// An unpacked file waiting for its name, and what it replaced.
struct PendingFile
{
    QString temporary;
    QString target;
    mode_t mode = 0644;
    QString aside; // the file that was there before, under another name
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
    struct stat st = {};
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
    // Reasons quote entry names and the reader's words: one escaped line.
    auto fail = [&](const QString& text) {
        const QString line = logSafe(text);
        qDebug().noquote() << Q_FUNC_INFO << line;
        if (errorText)
            *errorText = line;
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
    ExtractionLock lock(root);
    if (lock.tryExclusive())
        removeLeftovers(root);
    if (!lock.shared())
        return rollBack(QStringLiteral("directory busy: ") + root);
    ZipReading reading(zipData);
    if (!reading.isOpen())
        return rollBack(withDetail(QStringLiteral("archive not readable"), reading.errorText()));
    QByteArray chunk(int(kChunk), Qt::Uninitialized);
    quint64 total = 0;
    for (const ArchiveItem& item : qAsConst(items)) {
        archive_entry* entry = reading.next();
        if (!entry || describe(entry).name != item.name)
            return rollBack(
                withDetail(QStringLiteral("archive entry not readable: ") + item.name, reading.errorText()));
        const QString target = joinPath(root, QDir::cleanPath(item.name));
        if (item.kind == ArchiveItem::Directory) {
            if (!makeDirectories(target, createdDirs) || !staysInside(root, target))
                return rollBack(QStringLiteral("cannot create directory: ") + target);
            if (item.mode >= 0)
                directoryModes.append({ target, maskedMode(item.mode, true) });
            continue;
        }
        if (item.kind == ArchiveItem::Link) {
            qDebug().noquote() << Q_FUNC_INFO << "-link entry not created: " << logSafe(item.name);
            continue;
        }
        const QString parent = QFileInfo(target).absolutePath();
        if (!makeDirectories(parent, createdDirs) || !staysInside(root, target))
            return rollBack(QStringLiteral("cannot create directory: ") + parent);

        const qint64 stored = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
        QTemporaryFile file(parent + kUnpackTemplate);
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
    const QFileInfoList hits = dir.entryInfoList({ QStringLiteral("*") + name }, QDir::Files | QDir::Hidden,
                                                 QDir::NoSort);
    if (!hits.isEmpty()) {
        for (const QFileInfo& hit : hits) {
            if (hit.fileName() == name)
                return hit.absoluteFilePath();
        }
        return hits.first().absoluteFilePath();
    }
    const QFileInfoList subdirs = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden,
                                                    QDir::NoSort);
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
