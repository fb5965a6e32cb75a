#pragma once

#include <QString>

class QLocalSocket;

// One running client per user. The instance lock and the single-instance
// socket lie in the user's own data directory, which no other user may
// write: a start takes the lock (flock, atomic) or learns that an instance
// of the same user runs, and an answer on the socket counts only when the
// socket file and the process behind it belong to the same user.
//
// Also the lock file "/var/run/ostrel-run.lock" that the update step waits
// on for the old instance to end.
class SingleStartMan
{
public:
    enum class Claim {
        Claimed, // this process is now the user's instance
        Running, // a living process of the same user holds the instance lock
        Unchecked, // no private directory for the lock: nothing is known
    };

    // The directory of the instance lock and socket: the client's data
    // directory, created when missing. Empty unless it is a directory owned
    // by this user that no one else may write.
    static QString instanceDirectory();
    // The single-instance socket in it, "ostrel.ipcServer".
    static QString ipcServerPath();
    // Checks for a running instance and takes its place in one step. A
    // claimed lock is held until the process ends; processes started later
    // do not inherit it.
    static Claim claimInstance();
    // Whether the peer of a connected socket is a server of this user: the
    // socket file at `path` belongs to this user and so does the process at
    // the other end.
    static bool trustedServer(const QLocalSocket& socket, const QString& path);

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
