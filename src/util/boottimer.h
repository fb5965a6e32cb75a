#pragma once

#include <QtGlobal>

// Counts elapsed time on the boot-time clock (CLOCK_BOOTTIME): like the
// monotonic clock it never jumps with the system clock, and unlike it, it
// goes on while the machine is suspended.
class BootTimer
{
public:
    // The boot-time clock now, in milliseconds.
    static qint64 nowMs();

    void start() { m_startMs = nowMs(); }
    void invalidate() { m_startMs = -1; }
    bool isValid() const { return m_startMs >= 0; }
    // Milliseconds since start(); -1 when not started.
    qint64 elapsed() const { return isValid() ? nowMs() - m_startMs : -1; }

private:
    qint64 m_startMs = -1;
};
