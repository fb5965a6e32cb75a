#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// A process whose program leads a process group of its own, so that the
// program and everything it started can be ended together: a script ended
// at its time-out must not leave its children (an iptables run) working
// beside the next command.
class GroupLeaderProcess : public QProcess
{
public:
    explicit GroupLeaderProcess(QObject* parent = nullptr);

    // QProcess::start(), the program becoming the leader of a new group.
    void startInOwnGroup(const QString& program, const QStringList& arguments, OpenMode mode = ReadWrite);

    // Ends every process of the group, the program included when it still
    // runs: SIGTERM, SIGKILL to those left after `graceMs`, then a bounded
    // wait until none is left. True when none is left.
    bool endGroup(int graceMs);

protected:
    void setupChildProcess() override;

private:
    void signalGroup(int signal);
    bool waitUntilGroupGone(int timeoutMs);
    // Whether a process of the group still lives; a finished one that its
    // parent has not collected yet no longer counts.
    bool groupHasLivingMember() const;

    pid_t m_group = 0;
};
