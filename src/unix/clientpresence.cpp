#include "unix/clientpresence.h"

#include "unix/rootonlydirectory.h"

#include <QDebug>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A process's fcntl locks on a file go with the first close of any
// descriptor of that file it has open: while this process is announced the
// file stays open, and no other descriptor of it is ever opened.
struct Presence
{
    std::mutex mutex;
    int announced = 0;
    int fd = -1;
};

Presence& presence()
{
    static Presence p;
    return p;
}

struct flock ownByte(short type)
{
    struct flock range = {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = ::getpid();
    range.l_len = 1;
    return range;
}

bool usableFile(int fd)
{
    struct stat info = {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid()
        && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

QString ClientPresence::path()
{
    return RootOnlyDirectory::filePath(QStringLiteral("clients.lock"));
}

bool ClientPresence::announce()
{
    Presence& p = presence();
    std::lock_guard<std::mutex> guard(p.mutex);
    if (p.announced > 0) {
        ++p.announced;
        return true;
    }
    if (!RootOnlyDirectory::isTrusted())
        return false;
    const QByteArray name = QFile::encodeName(path());
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    struct flock range = ownByte(F_WRLCK);
    if (fd < 0 || !usableFile(fd) || ::fcntl(fd, F_SETLK, &range) != 0) {
        qCritical().noquote() << Q_FUNC_INFO << path()
                              << "is not usable:" << QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    p.fd = fd;
    p.announced = 1;
    return true;
}

void ClientPresence::withdraw()
{
    Presence& p = presence();
    std::lock_guard<std::mutex> guard(p.mutex);
    if (p.announced == 0 || --p.announced > 0)
        return;
    ::close(p.fd); // the lock goes with it
    p.fd = -1;
}

bool ClientPresence::anotherClientRuns(qint64* pid)
{
    Presence& p = presence();
    std::lock_guard<std::mutex> guard(p.mutex);
    if (!RootOnlyDirectory::isTrusted())
        return false;
    int fd = p.fd;
    if (fd < 0) {
        // Not announced: this process holds nothing the close could drop.
        const QByteArray name = QFile::encodeName(path());
        fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return false;
        if (!usableFile(fd)) {
            ::close(fd);
            return false;
        }
    }
    // Any lock on any byte but this process's own.
    struct flock range = {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 0;
    const bool asked = ::fcntl(fd, F_GETLK, &range) == 0;
    if (fd != p.fd)
        ::close(fd);
    if (!asked || range.l_type == F_UNLCK)
        return false;
    if (pid)
        *pid = range.l_pid;
    return true;
}
