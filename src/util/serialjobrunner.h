#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <thread>

// Runs jobs one after another, in the order they were handed in, on a thread
// of its own: the single owner of a resource that must never be changed by
// two callers at once.
//
// A caller waits for its job while its own thread keeps processing events,
// as the waits for external commands do, so the window stays responsive; a
// call made from inside that event processing queues behind the jobs before
// it, and the outer call's result is the one its own job left. A job never
// waits for a later one. A job handed in on the runner's own thread (one
// operation calling another of the same owner) runs at once.
class SerialJobRunner
{
public:
    explicit SerialJobRunner(const QString& name);
    // Lets the queued jobs finish, then joins the thread; gives up waiting
    // after a bounded time, with a warning.
    ~SerialJobRunner();
    SerialJobRunner(const SerialJobRunner&) = delete;
    SerialJobRunner& operator=(const SerialJobRunner&) = delete;

    // Runs `job` after every job handed in before it and returns once it has
    // run. An exception the job throws is thrown here again. The wait has no
    // limit of its own: it lasts as long as the jobs ahead and this one, and
    // every job is a few external commands, each with a time-out. Under
    // EventFreeWaits it processes no events.
    void run(const std::function<void()>& job);

    // The same for a job with a result.
    template <typename Job>
    auto call(Job&& job) -> decltype(job())
    {
        decltype(job()) result {};
        run([&result, &job] { result = job(); });
        return result;
    }

    bool onRunnerThread() const;

private:
    struct Job;
    struct State;
    static void serve(const std::shared_ptr<State>& state);

    const QString m_name;
    // Shared with the thread, so that a thread still busy when the wait for
    // it gives up never touches freed memory.
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};
