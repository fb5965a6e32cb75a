#include "unix/groupleaderprocess.h"

#include <QDeadlineTimer>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// How long the processes have to go after SIGKILL.
constexpr int kWaitAfterKillMs = 2000;
constexpr int kPollStepMs = 5;

// The state letter and the process group of /proc/<pid>/stat; false when the
// process is gone or the file cannot be read.
bool readStateAndGroup(const char* pid, char& letter, long& group)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%s/stat", pid);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char text[512];
    const ssize_t size = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (size <= 0)
        return false;
    text[size] = '\0';
    // "pid (name) state ppid pgrp ...": the name may hold anything, the
    // fields follow its last parenthesis.
    const char* nameEnd = std::strrchr(text, ')');
    long parent = 0;
    return nameEnd && std::sscanf(nameEnd + 1, " %c %ld %ld", &letter, &parent, &group) == 3;
}

} // namespace

GroupLeaderProcess::GroupLeaderProcess(QObject* parent)
    : QProcess(parent)
{
}

void GroupLeaderProcess::startInOwnGroup(const QString& program, const QStringList& arguments, OpenMode mode)
{
    start(program, arguments, mode);
    // The group is named after its leader; the id is known from the fork on.
    m_group = pid_t(processId());
}

void GroupLeaderProcess::setupChildProcess()
{
    // In the child, between fork and exec.
    ::setpgid(0, 0);
}

bool GroupLeaderProcess::endGroup(int graceMs)
{
    if (m_group <= 0)
        return true;
    signalGroup(SIGTERM);
    if (waitUntilGroupGone(graceMs))
        return true;
    signalGroup(SIGKILL);
    return waitUntilGroupGone(kWaitAfterKillMs);
}

void GroupLeaderProcess::signalGroup(int signal)
{
    ::kill(-m_group, signal);
    // The program itself also in the moment before it has made its group;
    // until it is collected its id cannot name another process.
    if (state() != NotRunning)
        ::kill(m_group, signal);
}

bool GroupLeaderProcess::waitUntilGroupGone(int timeoutMs)
{
    const QDeadlineTimer deadline(qMax(timeoutMs, 0));
    for (;;) {
        // Collects the program once it has ended.
        if (state() != NotRunning)
            waitForFinished(kPollStepMs);
        if (state() == NotRunning && !groupHasLivingMember())
            return true;
        if (deadline.hasExpired())
            return false;
        if (state() == NotRunning)
            QThread::msleep(kPollStepMs);
    }
}

bool GroupLeaderProcess::groupHasLivingMember() const
{
    if (::kill(-m_group, 0) != 0 && errno == ESRCH)
        return false;
    // Members that have ended but are not collected yet still take signals.
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return true;
    bool living = false;
    while (const dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        char letter = 0;
        long group = 0;
        if (readStateAndGroup(entry->d_name, letter, group) && group == m_group && letter != 'Z' && letter != 'X') {
            living = true;
            break;
        }
    }
    ::closedir(proc);
    return living;
}
