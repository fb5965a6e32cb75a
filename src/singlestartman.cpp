#include "singlestartman.h"

#include "updatenotice.h"

#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

#include <memory>

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString& lockDirectoryOverride()
{
    static QString dir;
    return dir;
}

// One lock object per process, created on first use (again when tests move
// the lock elsewhere).
QLockFile& lockFile()
{
    static std::unique_ptr<QLockFile> lock;
    static QString lockPath;
    const QString path = SingleStartMan::lockFileFullPathAndName();
    if (!lock || (lockPath != path && !lock->isLocked())) {
        lock.reset(new QLockFile(path));
        lockPath = path;
    }
    return *lock;
}

bool processAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// A directory of this user that nobody else may write into.
bool privateDirectory(const QString& path)
{
    struct stat info = {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The claimed instance lock, open for the life of the process.
int g_instanceLock = -1;

} // namespace

QString SingleStartMan::instanceDirectory()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (dir.isEmpty())
        return QString();
    if (!QFileInfo::exists(dir)) {
        QDir().mkpath(QFileInfo(dir).absolutePath());
        ::mkdir(QFile::encodeName(dir).constData(), 0700);
    }
    if (!privateDirectory(dir)) {
        qWarning().noquote() << Q_FUNC_INFO << "not a private directory of this user: " << dir;
        return QString();
    }
    return dir;
}

QString SingleStartMan::ipcServerPath()
{
    const QString dir = instanceDirectory();
    return dir.isEmpty() ? QString() : dir + QStringLiteral("/ostrel.ipcServer");
}

SingleStartMan::Claim SingleStartMan::claimInstance()
{
    if (g_instanceLock >= 0)
        return Claim::Claimed;
    const QString dir = instanceDirectory();
    if (dir.isEmpty())
        return Claim::Unchecked;
    const QByteArray path = QFile::encodeName(dir + QStringLiteral("/ostrel.instance.lock"));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct stat info = {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        qWarning().noquote() << Q_FUNC_INFO << "instance lock not usable: " << QFile::decodeName(path);
        if (fd >= 0)
            ::close(fd);
        return Claim::Unchecked;
    }
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return held ? Claim::Running : Claim::Unchecked;
    }
    // The holder's process id, for people who look.
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(fd, 0) == 0) {
        const ssize_t ignored = ::pwrite(fd, pid.constData(), size_t(pid.size()), 0);
        (void)ignored;
    }
    g_instanceLock = fd;
    return Claim::Claimed;
}

bool SingleStartMan::trustedServer(const QLocalSocket& socket, const QString& path)
{
    struct stat info = {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISSOCK(info.st_mode)
        || info.st_uid != ::geteuid())
        return false;
    const qintptr fd = socket.socketDescriptor();
    if (fd < 0)
        return false;
    struct ucred peer = {};
    socklen_t length = sizeof(peer);
    if (::getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof(peer))
        return false;
    return peer.uid == ::geteuid();
}

QString SingleStartMan::lockFileFullPath()
{
    const QString& dir = lockDirectoryOverride();
    return dir.isEmpty() ? QStringLiteral("/var/run") : dir;
}

QString SingleStartMan::lockFileFullPathAndName()
{
    return lockFileFullPath() + QStringLiteral("/ostrel-run.lock");
}

void SingleStartMan::setLockDirectoryForTests(const QString& dir)
{
    lockDirectoryOverride() = dir;
}

bool SingleStartMan::isLockedByOther()
{
    QLockFile& lock = lockFile();
    if (lock.isLocked())
        return false;
    if (lock.tryLock(0)) {
        lock.unlock();
        return false;
    }
    if (lock.error() == QLockFile::LockFailedError)
        return true;
    // The lock file cannot be created here (no permission): judge by the
    // process that wrote it.
    qint64 pid = 0;
    QString hostName;
    QString appName;
    return lock.getLockInfo(&pid, &hostName, &appName) && processAlive(pid);
}

bool SingleStartMan::waitForClose(const QString& failMsg, int attempts, int intervalMs)
{
    qInfo().noquote() << "Up91";
    if (!QDir(lockFileFullPath()).exists()) {
        qInfo().noquote() << "Up92";
        return true;
    }
    qDebug().noquote() << Q_FUNC_INFO << "lock file: " << lockFileFullPathAndName();
    for (int round = 0; round < attempts && isLockedByOther(); ++round) {
        qInfo().noquote() << "Up93";
        qDebug().noquote() << Q_FUNC_INFO << "wait for close: " << round + 1;
        QEventLoop loop;
        QTimer::singleShot(intervalMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (isLockedByOther()) {
        qInfo().noquote() << "Up94";
        qDebug().noquote() << Q_FUNC_INFO << "still locked: " << lockFileFullPathAndName();
        UpdateNotice::show(failMsg);
        return false;
    }
    qInfo().noquote() << "Up95";
    return true;
}
