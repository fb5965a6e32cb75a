#pragma once

#include <QByteArray>
#include <QFile>
#include <QMap>
#include <QString>
#include <QVector>

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

// Zip archives for the tests, written and read through libarchive as the
// program does, with full control over what an archive claims: Unix modes
// with set-id bits, links, entries of any size made of zeros (streamed, never
// held in memory), sizes in the headers that disagree with the data.
namespace ZipHelpers {

struct Entry
{
    QString name;
    quint32 mode = 0; // st_mode with its type bits; 0: a file without mode bits
    QByteArray data; // the entry's data (a link's target), or
    quint64 zeros = 0; // this many zero bytes when data is empty
    bool deflate = true;
    qint64 claimedSize = -1; // the size written in the headers; -1: the true one
};

inline quint64 getLE(const QByteArray& in, qint64 at, int bytes)
{
    quint64 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | quint8(in.at(int(at) + i));
    return value;
}

inline void setLE(QByteArray& out, qint64 at, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[int(at) + i] = char((value >> (8 * i)) & 0xFF);
}

// Writes `size` as the uncompressed size of the entry `name` wherever the
// archive `zip` records it: central directory, local header and data
// descriptor. False when the entry is not found (or uses Zip64 fields).
inline bool claimSize(QByteArray& zip, const QByteArray& name, quint64 size)
{
    const qint64 end = zip.size() - 22; // no archive comment
    if (end < 0 || getLE(zip, end, 4) != 0x06054b50u)
        return false;
    const int count = int(getLE(zip, end + 10, 2));
    qint64 at = qint64(getLE(zip, end + 16, 4));
    for (int i = 0; i < count; ++i) {
        if (at + 46 > zip.size() || getLE(zip, at, 4) != 0x02014b50u)
            return false;
        const qint64 nameLength = qint64(getLE(zip, at + 28, 2));
        const qint64 next = at + 46 + nameLength + qint64(getLE(zip, at + 30, 2)) + qint64(getLE(zip, at + 32, 2));
        if (zip.mid(int(at + 46), int(nameLength)) != name) {
            at = next;
            continue;
        }
        const quint64 packed = getLE(zip, at + 20, 4);
        const qint64 local = qint64(getLE(zip, at + 42, 4));
        if (packed == 0xFFFFFFFFu || getLE(zip, at + 24, 4) == 0xFFFFFFFFu || local == 0xFFFFFFFF)
            return false;
        setLE(zip, at + 24, size, 4);
        if (getLE(zip, local, 4) != 0x04034b50u)
            return false;
        if (getLE(zip, local + 22, 4) != 0)
            setLE(zip, local + 22, size, 4);
        if (getLE(zip, local + 6, 2) & 0x8) {
            qint64 descriptor = local + 30 + qint64(getLE(zip, local + 26, 2)) + qint64(getLE(zip, local + 28, 2))
                + qint64(packed);
            if (getLE(zip, descriptor, 4) == 0x08074b50u)
                descriptor += 4;
            setLE(zip, descriptor + 8, size, 4);
        }
        return true;
    }
    return false;
}

// The archive of `entries` in that order; empty when it cannot be written.
inline QByteArray zipBytes(const QVector<Entry>& entries)
{
    QByteArray zip;
    archive* out = archive_write_new();
    auto append = [](archive*, void* target, const void* data, size_t length) -> la_ssize_t {
        static_cast<QByteArray*>(target)->append(static_cast<const char*>(data), int(length));
        return la_ssize_t(length);
    };
    bool ok = out && archive_write_set_format_zip(out) == ARCHIVE_OK
        && archive_write_set_options(out, "zip:hdrcharset=UTF-8") == ARCHIVE_OK
        && archive_write_set_bytes_in_last_block(out, 1) == ARCHIVE_OK
        && archive_write_open2(out, &zip, nullptr, append, nullptr, nullptr) == ARCHIVE_OK;
    const QByteArray zeroChunk(1 << 20, '\0');
    for (const Entry& e : entries) {
        if (!ok)
            break;
        quint32 mode = e.mode;
        if (!(mode & S_IFMT))
            mode |= e.name.endsWith(QLatin1Char('/')) ? S_IFDIR : S_IFREG;
        const quint64 size = S_ISREG(mode) ? (e.data.isEmpty() ? e.zeros : quint64(e.data.size())) : 0;
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname_utf8(entry, e.name.toUtf8().constData());
        archive_entry_set_mode(entry, mode_t(mode));
        archive_entry_set_size(entry, la_int64_t(size));
        if (S_ISLNK(mode))
            archive_entry_set_symlink_utf8(entry, e.data.constData());
        ok = (e.deflate ? archive_write_zip_set_compression_deflate(out) : archive_write_zip_set_compression_store(out))
                == ARCHIVE_OK
            && archive_write_header(out, entry) == ARCHIVE_OK;
        archive_entry_free(entry);
        for (quint64 done = 0; ok && done < size;) {
            const QByteArray chunk = e.data.isEmpty()
                ? zeroChunk.left(int(qMin<quint64>(size - done, zeroChunk.size())))
                : e.data;
            ok = archive_write_data(out, chunk.constData(), size_t(chunk.size())) == chunk.size();
            done += quint64(chunk.size());
        }
    }
    ok = out && archive_write_close(out) == ARCHIVE_OK && ok;
    if (out)
        archive_write_free(out);
    for (const Entry& e : entries) {
        if (ok && e.claimedSize >= 0)
            ok = claimSize(zip, e.name.toUtf8(), quint64(e.claimedSize));
    }
    return ok ? zip : QByteArray();
}

inline bool writeZip(const QString& path, const QVector<Entry>& entries)
{
    const QByteArray zip = zipBytes(entries);
    QFile file(path);
    return !zip.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(zip) == zip.size();
}

// One entry as read back.
struct Item
{
    bool isDir = false;
    bool isLink = false;
    int perm = 0; // the stored permission bits
    QByteArray data; // a file's data, a link's target
};

// Every entry of the zip file `path` by name (directories without their
// trailing "/"); false when it is no zip archive that reads to its end.
inline bool readZip(const QString& path, QMap<QString, Item>& items)
{
    archive* in = archive_read_new();
    const QByteArray native = QFile::encodeName(path);
    bool ok = in && archive_read_support_format_zip_seekable(in) == ARCHIVE_OK
        && archive_read_open_filename(in, native.constData(), 64 * 1024) == ARCHIVE_OK;
    archive_entry* entry = nullptr;
    int status = ARCHIVE_FATAL;
    while (ok && (status = archive_read_next_header(in, &entry)) == ARCHIVE_OK) {
        QString name = QString::fromUtf8(archive_entry_pathname_utf8(entry));
        while (name.endsWith(QLatin1Char('/')))
            name.chop(1);
        Item item;
        item.isDir = archive_entry_filetype(entry) == AE_IFDIR;
        item.isLink = archive_entry_filetype(entry) == AE_IFLNK;
        item.perm = int(archive_entry_perm(entry) & 07777);
        if (item.isLink) {
            item.data = archive_entry_symlink_utf8(entry);
        } else {
            char chunk[64 * 1024];
            la_ssize_t length;
            while ((length = archive_read_data(in, chunk, sizeof chunk)) > 0)
                item.data.append(chunk, int(length));
            ok = length == 0;
        }
        items.insert(name, item);
    }
    ok = ok && status == ARCHIVE_EOF;
    if (in)
        archive_read_free(in);
    return ok;
}

} // namespace ZipHelpers
