#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <mutex>

#include <sys/types.h>

// An external program started with posix_spawn, which does not copy the
// memory maps of this process as a fork does, as the leader of a process
// group of its own, so that the program and everything it started can be
// ended together: a script ended at its time-out must not leave its
// children (an iptables run) working beside the next command.
//
// The program reads end of file on its standard input; its output and its
// errors are collected here. It starts with default signal dispositions, no
// blocked signal and no descriptor but 0, 1 and 2. It is collected
// (waitpid) before the object goes: a program that even SIGKILL does not
// end in time is collected by a later command.
class SpawnedCommand
{
public:
    enum class Events {
        // The calling thread's events are processed at least every
        // millisecond of the wait.
        Process,
        // None are.
        Skip,
    };

    SpawnedCommand() = default;
    ~SpawnedCommand();
    SpawnedCommand(const SpawnedCommand&) = delete;
    SpawnedCommand& operator=(const SpawnedCommand&) = delete;

    // Starts `program`, looked up in PATH when it holds no slash. False when
    // it cannot be started; errorString() then tells why. Once only.
    bool start(const QString& program, const QStringList& arguments);
    QString errorString() const { return m_error; }

    // Waits until the program has ended, at most `timeoutMs` when that is 1
    // or more, and collects it; its output is read meanwhile, so that it
    // never waits for room in a pipe. False when the time ran out first.
    bool waitForEnd(int timeoutMs, Events events);

    // Once it has ended: whether a signal ended it, else its exit code.
    bool crashed() const { return m_crashed; }
    int exitCode() const { return m_exitCode; }

    // What the program wrote until the end of the wait.
    const QByteArray& standardOutput() const { return m_output; }
    const QByteArray& standardError() const { return m_errors; }

    // Sends `signal` to the group, and to the program until it is
    // collected. From any thread.
    void signalGroup(int signal);

    // Ends every process of the group, the program included when it still
    // runs: SIGTERM, SIGKILL to those left after `graceMs`, then a bounded
    // wait until none is left. True when none is left.
    bool endGroup(int graceMs);

private:
    // Collects the program once it has ended; true when it is collected.
    bool collect();
    // Waits up to `ms`, less once the program has ended.
    void pause(int ms);
    bool waitUntilGroupGone(int timeoutMs);
    // Whether a process of the group still lives; a finished one that its
    // parent has not collected yet no longer counts.
    bool groupHasLivingMember() const;
    // Reads what the pipes hold now; closes a pipe at its end.
    void readPipes();

    QString m_error;
    // The program, which is the group's leader; the group bears its id.
    pid_t m_pid = 0;
    // Readable once the program has ended; -1 where the kernel has none.
    int m_pidFd = -1;
    int m_outputFd = -1;
    int m_errorsFd = -1;
    QByteArray m_output;
    QByteArray m_errors;
    bool m_crashed = false;
    int m_exitCode = 0;
    bool m_gaveUp = false;
    // Collecting and signalling the program happen one at a time: once it is
    // collected its id may name another process.
    std::mutex m_mutex;
    bool m_collected = false;
};
