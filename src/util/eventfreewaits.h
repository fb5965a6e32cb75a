#pragma once

// While an object of this class lives, the waits of the thread that made it
// process no events: they only wait. For a thread that must not handle
// events any more, such as the one that completes the quit while the
// process ends from inside its event handling (the display went away).
class EventFreeWaits
{
public:
    EventFreeWaits();
    ~EventFreeWaits();
    EventFreeWaits(const EventFreeWaits&) = delete;
    EventFreeWaits& operator=(const EventFreeWaits&) = delete;

    // Whether the calling thread's waits process no events.
    static bool active();

private:
    bool m_wasActive;
};
