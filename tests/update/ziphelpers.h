#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>

#include <zlib.h>

// Writes zip archives with full control over what the archive claims: Unix
// modes with set-id bits, entries of any size made of zeros (streamed, never
// held in memory), sizes that disagree with the data.
namespace ZipHelpers {

struct Entry
{
    QString name;
    quint32 mode = 0;        // st_mode with its type bits; 0 writes none
    QByteArray data;         // the entry's data, or
    quint64 zeros = 0;       // this many zero bytes when data is empty
    bool deflate = true;
    qint64 claimedSize = -1; // the size written in the headers; -1: the true one
};

// `bytes` little-endian bytes of `value`; past its eight bytes, zeros.
inline void putLE(QByteArray& out, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(i < 8 ? char((value >> (8 * i)) & 0xFF) : '\0');
}

inline bool writeZip(const QString& path, const QVector<Entry>& entries)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray central;
    for (const Entry& entry : entries) {
        const QByteArray name = entry.name.toUtf8();
        const qint64 headerOffset = file.pos();
        QByteArray local;
        putLE(local, 0x04034b50u, 4);
        putLE(local, 20, 2);
        putLE(local, 0x0800, 2);
        putLE(local, entry.deflate ? 8 : 0, 2);
        putLE(local, 0, 4);             // time and date
        putLE(local, 0, 12);            // crc and sizes, patched below
        putLE(local, quint64(name.size()), 2);
        putLE(local, 0, 2);
        local.append(name);
        if (file.write(local) != local.size())
            return false;

        // The data, in chunks: given bytes or zeros.
        const quint64 size = entry.data.isEmpty() ? entry.zeros : quint64(entry.data.size());
        const QByteArray zeroChunk(1 << 20, '\0');
        uLong crc = crc32(0L, Z_NULL, 0);
        z_stream stream {};
        if (entry.deflate && deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            return false;
        QByteArray packed(1 << 20, '\0');
        quint64 done = 0;
        const qint64 dataStart = file.pos();
        do {
            const QByteArray chunk = entry.data.isEmpty() ? zeroChunk.left(int(qMin<quint64>(size - done, zeroChunk.size())))
                                                          : entry.data;
            done += quint64(chunk.size());
            crc = crc32(crc, reinterpret_cast<const Bytef*>(chunk.constData()), uInt(chunk.size()));
            if (!entry.deflate) {
                if (file.write(chunk) != chunk.size())
                    return false;
                continue;
            }
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.constData()));
            stream.avail_in = uInt(chunk.size());
            const int flush = done >= size ? Z_FINISH : Z_NO_FLUSH;
            int status;
            do {
                stream.next_out = reinterpret_cast<Bytef*>(packed.data());
                stream.avail_out = uInt(packed.size());
                status = deflate(&stream, flush);
                const qint64 have = packed.size() - qint64(stream.avail_out);
                if (file.write(packed.constData(), have) != have)
                    return false;
            } while (stream.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
        } while (done < size);
        if (entry.deflate)
            deflateEnd(&stream);
        const quint64 packedSize = quint64(file.pos() - dataStart);
        const quint64 claimed = entry.claimedSize >= 0 ? quint64(entry.claimedSize) : size;

        QByteArray sizes;
        putLE(sizes, crc, 4);
        putLE(sizes, packedSize, 4);
        putLE(sizes, claimed, 4);
        const qint64 end = file.pos();
        if (!file.seek(headerOffset + 14) || file.write(sizes) != sizes.size() || !file.seek(end))
            return false;

        putLE(central, 0x02014b50u, 4);
        putLE(central, 0x031E, 2);      // made on Unix
        putLE(central, 20, 2);
        putLE(central, 0x0800, 2);
        putLE(central, entry.deflate ? 8 : 0, 2);
        putLE(central, 0, 4);
        central.append(sizes);
        putLE(central, quint64(name.size()), 2);
        putLE(central, 0, 6);           // extra, comment, disk
        putLE(central, 0, 2);           // internal attributes
        putLE(central, quint64(entry.mode) << 16, 4);
        putLE(central, quint64(headerOffset), 4);
        central.append(name);
    }
    const qint64 centralOffset = file.pos();
    QByteArray tail;
    putLE(tail, 0x06054b50u, 4);
    putLE(tail, 0, 4);
    putLE(tail, quint64(entries.size()), 2);
    putLE(tail, quint64(entries.size()), 2);
    putLE(tail, quint64(central.size()), 4);
    putLE(tail, quint64(centralOffset), 4);
    putLE(tail, 0, 2);
    return file.write(central) == central.size() && file.write(tail) == tail.size();
}

} // namespace ZipHelpers
