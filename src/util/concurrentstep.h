#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

// Runs one step on a thread of its own, beside what its caller does
// meanwhile: for steps on resources with owners of their own, which need not
// wait for each other. wait() returns once the step has run, while the
// caller keeps processing its events as every wait for a command does (none
// under EventFreeWaits); an exception the step threw is thrown there again.
// The thread is joined before the object goes.
class ConcurrentStep
{
public:
    explicit ConcurrentStep(std::function<void()> step);
    // Waits for the step, if wait() was not called; throws nothing.
    ~ConcurrentStep();
    ConcurrentStep(const ConcurrentStep&) = delete;
    ConcurrentStep& operator=(const ConcurrentStep&) = delete;

    void wait();

private:
    void finish();

    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::exception_ptr m_error;
    std::thread m_thread;
};
