#include "unix/sessionlock.h"

#include "unix/rootonlydirectory.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const int kPollMs = 10;
}

SessionLock::~SessionLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QString SessionLock::path()
{
    return RootOnlyDirectory::filePath(QStringLiteral("session.lock"));
}

bool SessionLock::open()
{
    QString why;
    if (!RootOnlyDirectory::isTrusted(&why)) {
        qWarning().noquote() << Q_FUNC_INFO << why;
        return false;
    }
    const QByteArray name = QFile::encodeName(path());
    m_fd = ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    struct stat info = {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()
        || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        qCritical().noquote() << Q_FUNC_INFO << path() << "is not usable as the session lock"
                              << (m_fd < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QString());
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return false;
    }
    return true;
}

bool SessionLock::acquire(int timeoutMs, const std::function<bool()>& giveUp)
{
    if (m_depth > 0) {
        ++m_depth;
        return true;
    }
    if (!open())
        return false;
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
            m_depth = 1;
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            qCritical().noquote() << Q_FUNC_INFO << "flock:" << QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
        if (giveUp && giveUp())
            break;
        if (elapsed.elapsed() >= timeoutMs) {
            qCritical().noquote() << Q_FUNC_INFO << "another client has held" << path() << "for" << elapsed.elapsed()
                                  << "ms; given up";
            break;
        }
        QThread::msleep(kPollMs);
    }
    ::close(m_fd);
    m_fd = -1;
    return false;
}

void SessionLock::release()
{
    if (m_depth == 0 || --m_depth > 0)
        return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}
