#pragma once

#include <QString>

#include <functional>

// The one lock every client takes to look at the session record and act on
// it: the check for a left-over or running session, the start of OpenVPN up
// to its record being written, and the removal of a session's files. A write
// lock (fcntl) on "session.lock" in the root-only directory. Such a lock
// belongs to the process: the kernel frees it when the process ends, and a
// child it forks (OpenVPN, a script, between its fork and its exec or stuck
// there) never holds it. Taken again through the same object it only counts;
// the last release frees it. Two objects of one process exclude each other
// as two processes do. One object per engine, used on one thread.
class SessionLock
{
public:
    SessionLock() = default;
    ~SessionLock();
    SessionLock(const SessionLock&) = delete;
    SessionLock& operator=(const SessionLock&) = delete;

    static QString path();

    // Waits at most `timeoutMs`, or until `giveUp` says so; the thread's
    // events are processed meanwhile. False with a log line when the
    // directory is not root-only, the file is not usable or the lock stays
    // taken.
    bool acquire(int timeoutMs, const std::function<bool()>& giveUp = {});
    void release();
    bool isHeld() const { return m_depth > 0; }

    // The process that holds the lock now (this one when another object of
    // it does); 0 when none does or it cannot be told.
    static qint64 holder();

    // Holds the lock, when taken, until the end of a scope.
    class Hold
    {
    public:
        explicit Hold(SessionLock& lock)
            : m_lock(lock)
        {
        }
        Hold(SessionLock& lock, int timeoutMs, const std::function<bool()>& giveUp = {})
            : m_lock(lock)
        {
            take(timeoutMs, giveUp);
        }
        ~Hold() { release(); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        bool take(int timeoutMs, const std::function<bool()>& giveUp = {})
        {
            if (!m_held)
                m_held = m_lock.acquire(timeoutMs, giveUp);
            return m_held;
        }
        bool held() const { return m_held; }
        void release()
        {
            if (m_held)
                m_lock.release();
            m_held = false;
        }

    private:
        SessionLock& m_lock;
        bool m_held = false;
    };

private:
    enum class Attempt { Taken, Busy, Failed };
    Attempt tryTake();

    int m_depth = 0;
};
