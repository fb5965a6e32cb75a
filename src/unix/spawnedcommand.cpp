#include "unix/spawnedcommand.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// How long the processes have to go after SIGKILL.
constexpr int kWaitAfterKillMs = 2000;
constexpr int kPollStepMs = 5;
// The longest the calling thread's events wait while a command runs.
constexpr int kEventStepMs = 1;

// Programs that SIGKILL did not end in time; later commands collect them.
// Never destroyed: a thread may still run a command while the process ends.
std::mutex& leftOverMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::vector<pid_t>& leftOvers()
{
    static auto* pids = new std::vector<pid_t>;
    return *pids;
}

void collectLeftOvers()
{
    std::lock_guard<std::mutex> lock(leftOverMutex());
    std::vector<pid_t>& pids = leftOvers();
    pids.erase(std::remove_if(pids.begin(), pids.end(),
                              [](pid_t pid) {
                                  const pid_t result = ::waitpid(pid, nullptr, WNOHANG);
                                  return result == pid || (result < 0 && errno == ECHILD);
                              }),
               pids.end());
}

void closeDescriptor(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Moves a descriptor above the standard ones, which the program's own take
// in the child: 0 to 2 are free here only when this process was started
// without them.
int aboveStandard(int fd)
{
    if (fd < 0 || fd > STDERR_FILENO)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

// A pipe for one output of the program: the read end ours and non-blocking,
// the write end for the program. 0 or the error number.
int makePipe(int& readEnd, int& writeEnd)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return errno;
    readEnd = aboveStandard(ends[0]);
    writeEnd = aboveStandard(ends[1]);
    if (readEnd < 0 || writeEnd < 0 || ::fcntl(readEnd, F_SETFL, O_NONBLOCK) != 0) {
        const int error = errno;
        closeDescriptor(readEnd);
        closeDescriptor(writeEnd);
        return error;
    }
    return 0;
}

// Appends what `fd` holds now; closes it at its end.
void readAvailable(int& fd, QByteArray& into)
{
    while (fd >= 0) {
        char chunk[16384];
        const ssize_t size = ::read(fd, chunk, sizeof chunk);
        if (size > 0) {
            into.append(chunk, int(size));
        } else if (size < 0 && errno == EINTR) {
            continue;
        } else if (size < 0 && errno == EAGAIN) {
            return;
        } else {
            closeDescriptor(fd);
        }
    }
}

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

SpawnedCommand::~SpawnedCommand()
{
    if (m_pid > 0 && !collect()) {
        // Only when the caller neither waited for the end nor ended the
        // group: the program goes at once.
        signalGroup(SIGKILL);
        const QDeadlineTimer deadline(m_gaveUp ? 0 : kWaitAfterKillMs);
        while (!collect() && !deadline.hasExpired())
            pause(int(qBound<qint64>(1, deadline.remainingTime(), kPollStepMs)));
        if (!collect()) {
            std::lock_guard<std::mutex> lock(leftOverMutex());
            leftOvers().push_back(m_pid);
        }
    }
    closeDescriptor(m_pidFd);
    closeDescriptor(m_outputFd);
    closeDescriptor(m_errorsFd);
}

bool SpawnedCommand::start(const QString& program, const QStringList& arguments)
{
    collectLeftOvers();
    if (program.isEmpty()) {
        m_error = QStringLiteral("No program defined");
        return false;
    }

    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> encoded;
    encoded.reserve(size_t(arguments.size()));
    for (const QString& argument : arguments)
        encoded.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.constData()));
    for (const QByteArray& argument : encoded)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);

    int outputWrite = -1;
    int errorsWrite = -1;
    int error = makePipe(m_outputFd, outputWrite);
    if (error == 0)
        error = makePipe(m_errorsFd, errorsWrite);
    if (error != 0) {
        closeDescriptor(m_outputFd);
        closeDescriptor(outputWrite);
        m_error = QStringLiteral("pipe: ") + qt_error_string(error);
        return false;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outputWrite, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errorsWrite, STDERR_FILENO);
    // Also what another part of this process opened without O_CLOEXEC.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    // Every signal, SIGPIPE (ignored here) among them; also the two the C
    // library keeps for itself, which sigfillset() leaves out and the spawn
    // would leave ignored.
    sigset_t all;
    std::memset(&all, 0xff, sizeof all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    error = ::posix_spawnp(&pid, path.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    closeDescriptor(outputWrite);
    closeDescriptor(errorsWrite);
    if (error != 0) {
        closeDescriptor(m_outputFd);
        closeDescriptor(m_errorsFd);
        m_error = QStringLiteral("execvp: ") + qt_error_string(error);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pid = pid;
    }
    // Without one (an older kernel) the waits look in steps.
    m_pidFd = int(::syscall(SYS_pidfd_open, pid, 0));
    return true;
}

bool SpawnedCommand::waitForEnd(int timeoutMs, Events events)
{
    if (m_pid <= 0)
        return true;
    QElapsedTimer elapsed;
    elapsed.start();
    // Gives a thread without an event loop of its own its event dispatcher.
    std::optional<QEventLoop> loop;
    if (events == Events::Process)
        loop.emplace();
    for (;;) {
        if (loop)
            loop->processEvents(QEventLoop::AllEvents);
        if (collect()) {
            readPipes();
            return true;
        }
        int stepMs = loop || m_pidFd < 0 ? kEventStepMs : -1;
        if (timeoutMs >= 1) {
            const qint64 leftMs = timeoutMs - elapsed.elapsed();
            if (leftMs < 0) {
                readPipes();
                return false;
            }
            if (stepMs < 0 || leftMs < stepMs)
                stepMs = int(leftMs) + 1;
        }
        pollfd fds[] = { { m_pidFd, POLLIN, 0 }, { m_outputFd, POLLIN, 0 }, { m_errorsFd, POLLIN, 0 } };
        if (::poll(fds, 3, stepMs) > 0)
            readPipes();
    }
}

void SpawnedCommand::signalGroup(int signal)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pid <= 0)
        return;
    ::kill(-m_pid, signal);
    // The program also when it has left the group; until it is collected
    // its id cannot name another process.
    if (!m_collected)
        ::kill(m_pid, signal);
}

bool SpawnedCommand::endGroup(int graceMs)
{
    if (m_pid <= 0)
        return true;
    signalGroup(SIGTERM);
    if (waitUntilGroupGone(graceMs))
        return true;
    signalGroup(SIGKILL);
    if (waitUntilGroupGone(kWaitAfterKillMs))
        return true;
    m_gaveUp = true;
    return false;
}

bool SpawnedCommand::collect()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_collected || m_pid <= 0)
        return true;
    int status = 0;
    pid_t result = 0;
    do {
        result = ::waitpid(m_pid, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == 0)
        return false;
    m_collected = true;
    // Collected elsewhere (ECHILD) it counts as ended by a signal.
    if (result == m_pid && WIFEXITED(status))
        m_exitCode = WEXITSTATUS(status);
    else
        m_crashed = true;
    closeDescriptor(m_pidFd);
    return true;
}

void SpawnedCommand::pause(int ms)
{
    if (m_pidFd >= 0) {
        pollfd fd { m_pidFd, POLLIN, 0 };
        ::poll(&fd, 1, ms);
    } else {
        QThread::msleep(static_cast<unsigned long>(ms));
    }
}

bool SpawnedCommand::waitUntilGroupGone(int timeoutMs)
{
    const QDeadlineTimer deadline(qMax(timeoutMs, 0));
    for (;;) {
        if (collect() && !groupHasLivingMember())
            return true;
        if (deadline.hasExpired())
            return false;
        pause(int(qBound<qint64>(1, deadline.remainingTime(), kPollStepMs)));
    }
}

bool SpawnedCommand::groupHasLivingMember() const
{
    if (::kill(-m_pid, 0) != 0 && errno == ESRCH)
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
        if (readStateAndGroup(entry->d_name, letter, group) && group == m_pid && letter != 'Z' && letter != 'X') {
            living = true;
            break;
        }
    }
    ::closedir(proc);
    return living;
}

void SpawnedCommand::readPipes()
{
    readAvailable(m_outputFd, m_output);
    readAvailable(m_errorsFd, m_errors);
}
