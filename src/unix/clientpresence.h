#pragma once

#include <QString>

// Which clients run on this machine: each running client holds a write lock
// (fcntl) on the byte at its process id in "clients.lock" in the root-only
// directory. The kernel drops the lock when the process ends, however it
// ends, and no child the client forks ever holds it; nothing is left to go
// stale, and nothing needs tidying.
class ClientPresence
{
public:
    static QString path();

    // This process counts as a running client from now on (counted: the
    // last withdraw() ends it). False when the root-only directory does not
    // exist (it is not made here) or the file cannot be had.
    static bool announce();
    static void withdraw();
    // Whether a process other than this one counts as a running client now
    // (never while the directory is not root-only); `pid` gets one of them.
    static bool anotherClientRuns(qint64* pid = nullptr);
};
