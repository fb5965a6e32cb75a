#include "util/eventfreewaits.h"

namespace {
// Trivially destructible: still readable while the process ends.
thread_local bool t_active = false;
} // namespace

EventFreeWaits::EventFreeWaits()
    : m_wasActive(t_active)
{
    t_active = true;
}

EventFreeWaits::~EventFreeWaits()
{
    t_active = m_wasActive;
}

bool EventFreeWaits::active()
{
    return t_active;
}
