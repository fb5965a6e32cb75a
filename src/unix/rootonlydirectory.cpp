#include "unix/rootonlydirectory.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString refused(const QString& reason)
{
    return QStringLiteral(
               "OpenVPN cannot be started safely: %1 must be a directory owned by root with mode 0700, but %2.")
        .arg(RootOnlyDirectory::path(), reason);
}
} // namespace

QString RootOnlyDirectory::path()
{
    return QStringLiteral("/run/ostrel");
}

QString RootOnlyDirectory::filePath(const QString& name)
{
    return path() + QLatin1Char('/') + name;
}

bool RootOnlyDirectory::isTrusted(QString* why)
{
    const QByteArray name = QFile::encodeName(path());
    struct stat info = {};
    QString reason;
    if (::lstat(name.constData(), &info) != 0)
        reason = QStringLiteral("it cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    else if (S_ISLNK(info.st_mode))
        reason = QStringLiteral("it is a symbolic link");
    else if (!S_ISDIR(info.st_mode))
        reason = QStringLiteral("it is not a directory");
    else if (info.st_uid != 0)
        reason = QStringLiteral("it belongs to user id %1").arg(info.st_uid);
    else if ((info.st_mode & 07777) != 0700)
        reason = QStringLiteral("its mode is %1").arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
    if (reason.isEmpty())
        return true;
    if (why)
        *why = refused(reason);
    return false;
}

bool RootOnlyDirectory::ensure(QString* why)
{
    const QByteArray name = QFile::encodeName(path());
    struct stat info = {};
    if (::lstat(name.constData(), &info) != 0 && errno == ENOENT) {
        if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) {
            if (why)
                *why = refused(
                    QStringLiteral("it cannot be created (%1)").arg(QString::fromLocal8Bit(std::strerror(errno))));
            return false;
        }
    }
    return isTrusted(why);
}
