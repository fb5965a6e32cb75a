#include "unix/sessionlock.h"

#include "unix/rootonlydirectory.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const int kPollMs = 10;

// The lock of this process. A process's fcntl locks on a file go with the
// first close of any descriptor of that file it has open: the file is only
// ever opened and closed under the mutex, and stays open while it is held.
struct ProcessLock
{
    std::mutex mutex;
    const SessionLock* owner = nullptr;
    int fd = -1;
};

ProcessLock& processLock()
{
    static ProcessLock lock;
    return lock;
}

// The lock file, opened (created when missing) and checked; -1 with a log
// line when it is not usable.
int openLockFile()
{
    QString why;
    if (!RootOnlyDirectory::isTrusted(&why)) {
        qWarning().noquote() << Q_FUNC_INFO << why;
        return -1;
    }
    const QByteArray name = QFile::encodeName(SessionLock::path());
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    struct stat info = {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()
        || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        qCritical().noquote() << Q_FUNC_INFO << SessionLock::path() << "is not usable as the session lock"
                              << (fd < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QString());
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

struct flock wholeFile(short type)
{
    struct flock range = {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 0;
    return range;
}

// The process holding a conflicting lock through `fd`, or 0.
qint64 holderThrough(int fd)
{
    struct flock range = wholeFile(F_WRLCK);
    if (::fcntl(fd, F_GETLK, &range) != 0 || range.l_type == F_UNLCK)
        return 0;
    return range.l_pid;
}

// Handles this thread's events for at most `ms`.
void processEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

SessionLock::~SessionLock()
{
    if (m_depth > 0) {
        m_depth = 1;
        release();
    }
}

QString SessionLock::path()
{
    return RootOnlyDirectory::filePath(QStringLiteral("session.lock"));
}

SessionLock::Attempt SessionLock::tryTake()
{
    ProcessLock& process = processLock();
    std::lock_guard<std::mutex> guard(process.mutex);
    if (process.owner)
        return Attempt::Busy;
    const int fd = openLockFile();
    if (fd < 0)
        return Attempt::Failed;
    struct flock range = wholeFile(F_WRLCK);
    if (::fcntl(fd, F_SETLK, &range) == 0) {
        process.owner = this;
        process.fd = fd;
        return Attempt::Taken;
    }
    const int error = errno;
    // This process holds no lock on the file: closing it gives up nothing.
    ::close(fd);
    if (error == EACCES || error == EAGAIN || error == EINTR)
        return Attempt::Busy;
    qCritical().noquote() << Q_FUNC_INFO << "fcntl:" << QString::fromLocal8Bit(std::strerror(error));
    return Attempt::Failed;
}

bool SessionLock::acquire(int timeoutMs, const std::function<bool()>& giveUp)
{
    if (m_depth > 0) {
        ++m_depth;
        return true;
    }
    QElapsedTimer elapsed;
    elapsed.start();
    bool told = false;
    for (;;) {
        // A handler run during the wait may have taken it through this object.
        if (m_depth > 0) {
            ++m_depth;
            return true;
        }
        const Attempt attempt = tryTake();
        if (attempt == Attempt::Taken) {
            m_depth = 1;
            return true;
        }
        if (attempt == Attempt::Failed || (giveUp && giveUp()))
            return false;
        if (elapsed.elapsed() >= timeoutMs) {
            // A mere try says nothing: its caller tells what it makes of it.
            if (timeoutMs > 0)
                qCritical().noquote() << Q_FUNC_INFO << "process" << holder() << "has held" << path() << "for"
                                      << elapsed.elapsed() << "ms; given up";
            return false;
        }
        if (!told) {
            qInfo().noquote() << Q_FUNC_INFO << path() << "is held by process" << holder() << "; waiting up to"
                              << timeoutMs << "ms";
            told = true;
        }
        processEventsFor(kPollMs);
    }
}

void SessionLock::release()
{
    if (m_depth == 0 || --m_depth > 0)
        return;
    ProcessLock& process = processLock();
    std::lock_guard<std::mutex> guard(process.mutex);
    if (process.owner != this)
        return;
    struct flock range = wholeFile(F_UNLCK);
    ::fcntl(process.fd, F_SETLK, &range);
    ::close(process.fd);
    process.fd = -1;
    process.owner = nullptr;
}

qint64 SessionLock::holder()
{
    ProcessLock& process = processLock();
    std::lock_guard<std::mutex> guard(process.mutex);
    if (process.owner)
        return ::getpid(); // another object of this process
    if (!RootOnlyDirectory::isTrusted())
        return 0;
    const QByteArray name = QFile::encodeName(path());
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return 0;
    const qint64 pid = holderThrough(fd);
    ::close(fd);
    return pid;
}
