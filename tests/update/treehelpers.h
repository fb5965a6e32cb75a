#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStringList>

// Small file trees for the update tests. A key ending in "/" is a directory,
// a value starting with "->" makes a symbolic link to the rest of it.
namespace TreeHelpers {

inline bool writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

inline bool makeTree(const QString& root, const QMap<QString, QByteArray>& entries)
{
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        const QString path = root + QLatin1Char('/') + it.key();
        bool ok;
        if (it.key().endsWith(QLatin1Char('/'))) {
            ok = QDir().mkpath(path);
        } else if (it.value().startsWith("->")) {
            QDir().mkpath(QFileInfo(path).absolutePath());
            ok = QFile::link(QString::fromUtf8(it.value().mid(2)), path);
        } else {
            ok = writeFile(path, it.value());
        }
        if (!ok)
            return false;
    }
    return true;
}

// Every entry below `root` (links not followed): directories as "<dir>",
// links as "->" and their target, files as their contents.
inline QMap<QString, QByteArray> snapshot(const QString& root)
{
    QMap<QString, QByteArray> result;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    const QDir base(root);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString name = base.relativeFilePath(path);
        if (info.isSymLink())
            result.insert(name, "->" + QFile::encodeName(info.symLinkTarget()));
        else if (info.isDir())
            result.insert(name, "<dir>");
        else
            result.insert(name, readFile(path));
    }
    return result;
}

inline QStringList backups(const QString& dir)
{
    return QDir(dir).entryList({ QStringLiteral("backup-*.zip") }, QDir::Files);
}

// Owner, group and other bits only: the "user" flags tell what this process
// may do, not what the file allows.
inline QFile::Permissions modeBits(QFile::Permissions p)
{
    return p & QFile::Permissions(0x7077);
}

} // namespace TreeHelpers
