#include "singlestartman.h"

#include "updatenotice.h"

#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QLockFile>
#include <QTimer>

#include <memory>

#include <errno.h>
#include <signal.h>

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

} // namespace

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
