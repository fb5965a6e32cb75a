#include "utils.h"

#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <sys/stat.h>

void processMessages(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(qMax(0, ms), &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::AllEvents);
}

bool WaitLoop::wait()
{
    processMessages(m_interval);
    m_totalTime -= m_interval;
    return m_totalTime > 0;
}

namespace {
constexpr QFileDevice::Permissions kPrivateDirectoryMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner
    | QFileDevice::ExeOwner;
}

QFileDevice::Permissions privateFileMode()
{
    return QFileDevice::ReadOwner | QFileDevice::WriteOwner;
}

bool makePrivate(const QString& path)
{
    struct stat st = {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || S_ISLNK(st.st_mode))
        return false;
    const mode_t wanted = S_ISDIR(st.st_mode) ? 0700 : 0600;
    if ((st.st_mode & 07777) == wanted)
        return true;
    return QFile::setPermissions(path, S_ISDIR(st.st_mode) ? kPrivateDirectoryMode : privateFileMode());
}

bool makePrivate(QFileDevice& file)
{
    return file.setPermissions(privateFileMode());
}

bool makePrivateDirectory(const QString& dir)
{
    if (!QDir().mkpath(dir))
        return false;
    return makePrivate(dir);
}

void makeTreePrivate(const QString& dir)
{
    if (!makePrivate(dir))
        return;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!makePrivate(path) && !it.fileInfo().isSymLink())
            qWarning().noquote() << Q_FUNC_INFO << "mode not changed:" << path;
    }
}
