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
    struct State;

public:
    explicit SerialJobRunner(const QString& name);
    // Lets the queued jobs finish, then joins the thread. Past a grace time
    // it ends what the running job waits for (see stopWith()), and every
    // command the jobs start after that at once, so that the jobs return
    // and the thread is joined before anything they use goes.
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

    // Called by a job while it waits for something it started (a command):
    // while the guard lives, `stop` ends that when the runner goes before
    // the job is done, and at once when it is going already. `stop` runs on
    // the thread that destroys the runner, under the runner's lock: plain
    // system calls only. Off a runner's thread the guard does nothing.
    class StopGuard
    {
    public:
        ~StopGuard();
        StopGuard(const StopGuard&) = delete;
        StopGuard& operator=(const StopGuard&) = delete;

    private:
        friend class SerialJobRunner;
        explicit StopGuard(std::function<void()> stop);
        State* m_state = nullptr;
        std::function<void()> m_previous;
    };
    static StopGuard stopWith(std::function<void()> stop);

private:
    struct Job;
    static void serve(const std::shared_ptr<State>& state);
    // The runner whose thread this is.
    static thread_local State* t_runner;

    const QString m_name;
    // Shared with the thread, so that a thread still busy when the wait for
    // it gives up never touches freed memory.
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};
