#pragma once

#include <QString>

// The lock file that marks a running instance, "/var/run/ostrel-run.lock".
// The update step waits on it for the old instance to end.
class SingleStartMan
{
public:
    static QString lockFileFullPath();
    static QString lockFileFullPathAndName();

    // Waits while another process holds the lock: up to `attempts` rounds of
    // `intervalMs` in a local event loop. When it is still held after that,
    // shows `failMsg` and returns false. True at once when the lock directory
    // does not exist.
    static bool waitForClose(const QString& failMsg, int attempts = 10, int intervalMs = 1000);

    // Whether a living process other than this lock object's owner holds the
    // lock. A lock left by a process that has ended does not count.
    static bool isLockedByOther();

    // Tests point the lock at a directory of their own; an empty text
    // restores "/var/run".
    static void setLockDirectoryForTests(const QString& dir);
};
