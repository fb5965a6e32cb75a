#include "util/concurrentstep.h"

#include "util/eventfreewaits.h"

#include <QEventLoop>

#include <chrono>

namespace {
// How often a waiting caller processes its events, as the waits for
// commands do.
constexpr std::chrono::milliseconds kCallerPollStep { 1 };
} // namespace

ConcurrentStep::ConcurrentStep(std::function<void()> step)
{
    m_thread = std::thread([this, step = std::move(step)] {
        std::exception_ptr error;
        try {
            step();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_error = error;
        m_finished = true;
        m_done.notify_all();
    });
}

ConcurrentStep::~ConcurrentStep()
{
    finish();
}

void ConcurrentStep::wait()
{
    finish();
    std::exception_ptr error;
    std::swap(error, m_error);
    if (error)
        std::rethrow_exception(error);
}

void ConcurrentStep::finish()
{
    if (!m_thread.joinable())
        return;
    // Also gives a thread without an event loop of its own its event
    // dispatcher.
    QEventLoop events;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_finished) {
        lock.unlock();
        if (!EventFreeWaits::active())
            events.processEvents(QEventLoop::AllEvents);
        lock.lock();
        if (!m_finished)
            m_done.wait_for(lock, kCallerPollStep);
    }
    lock.unlock();
    m_thread.join();
}
