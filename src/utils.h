#pragma once

#include <QDebug>
#include <QString>

// Waits `ms` milliseconds while the calling thread keeps processing every
// kind of event (a local event loop ended by a single-shot timer). The thread
// must have an event dispatcher.
void processMessages(int ms);

// A bounded wait in steps: each wait() pumps events for one interval.
struct WaitLoop
{
    int m_totalTime = 0; // ms left
    int m_interval = 0;  // ms per step

    // Pumps events for one interval; true while time is left.
    bool wait();
};

// Every signal connection made in code is checked: a failed connect is logged
// with its statement (and stops a debug build).
#define ASSERT_CONNECT(connectExpression)                                                   \
    do {                                                                                    \
        const bool connected_ = static_cast<bool>(connectExpression);                       \
        if (!connected_)                                                                    \
            qCritical().noquote() << Q_FUNC_INFO << "connect failed:" << #connectExpression; \
        Q_ASSERT_X(connected_, Q_FUNC_INFO, #connectExpression);                            \
    } while (false)
