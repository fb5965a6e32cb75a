#include "util/serialjobrunner.h"

#include "util/eventfreewaits.h"

#include <QDebug>
#include <QEventLoop>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include <pthread.h>

namespace {

// How long the destructor lets the jobs run before it ends their commands:
// a job is a few commands, each ended at its own time-out.
constexpr std::chrono::seconds kStopGrace { 10 };

// How often a waiting caller processes its events, as the waits for
// commands do.
constexpr std::chrono::milliseconds kCallerPollStep { 1 };

} // namespace

struct SerialJobRunner::Job
{
    explicit Job(const std::function<void()>& job)
        : work(job)
    {
    }

    const std::function<void()>& work;
    bool done = false;
    std::exception_ptr error;
};

struct SerialJobRunner::State
{
    std::mutex mutex;
    // A job was handed in, or the runner is to stop.
    std::condition_variable wake;
    // A job has run, or the thread has ended.
    std::condition_variable changed;
    // Jobs of callers that wait for them; they live on the callers' stacks.
    std::deque<Job*> queue;
    bool stopping = false;
    bool finished = false;
    // The owner is going and waited long enough: what a job waits for is
    // ended, at once.
    bool ending = false;
    // Ends what the running job waits for; empty when it waits for nothing.
    std::function<void()> stopRunning;
};

thread_local SerialJobRunner::State* SerialJobRunner::t_runner = nullptr;

SerialJobRunner::SerialJobRunner(const QString& name)
    : m_name(name)
    , m_state(std::make_shared<State>())
{
    m_thread = std::thread(&SerialJobRunner::serve, m_state);
    // Shown by ps and debuggers; the kernel keeps 15 characters.
    pthread_setname_np(m_thread.native_handle(), name.left(15).toLocal8Bit().constData());
}

SerialJobRunner::~SerialJobRunner()
{
    std::unique_lock<std::mutex> lock(m_state->mutex);
    m_state->stopping = true;
    m_state->wake.notify_all();
    const auto finished = [this] { return m_state->finished; };
    if (!m_state->changed.wait_for(lock, kStopGrace, finished)) {
        // The jobs use their owner, which goes next: they must have returned
        // by then, so what keeps them is ended.
        qWarning().noquote() << "SerialJobRunner" << m_name << "still busy; ending its command";
        m_state->ending = true;
        if (m_state->stopRunning)
            m_state->stopRunning();
        while (!m_state->changed.wait_for(lock, kStopGrace, finished))
            qWarning().noquote() << "SerialJobRunner" << m_name << "still busy; waiting for its job to return";
    }
    lock.unlock();
    m_thread.join();
}

SerialJobRunner::StopGuard::StopGuard(std::function<void()> stop)
    : m_state(t_runner)
{
    if (!m_state)
        return;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (m_state->ending)
        stop();
    m_previous = std::move(m_state->stopRunning);
    m_state->stopRunning = std::move(stop);
}

SerialJobRunner::StopGuard::~StopGuard()
{
    if (!m_state)
        return;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->stopRunning = std::move(m_previous);
}

SerialJobRunner::StopGuard SerialJobRunner::stopWith(std::function<void()> stop)
{
    return StopGuard(std::move(stop));
}

bool SerialJobRunner::onRunnerThread() const
{
    return std::this_thread::get_id() == m_thread.get_id();
}

void SerialJobRunner::run(const std::function<void()>& work)
{
    if (onRunnerThread()) {
        work();
        return;
    }

    // Also gives a thread without an event loop of its own its event
    // dispatcher, as the waits for commands do.
    QEventLoop events;
    Job job(work);
    // Held here too: the runner's destructor runs the queued jobs before it
    // ends, and this wait may see its job done after the runner has gone.
    const std::shared_ptr<State> state = m_state;
    std::unique_lock<std::mutex> lock(state->mutex);
    if (state->finished) {
        // Only while the runner goes: nobody is left to run it.
        lock.unlock();
        work();
        return;
    }
    state->queue.push_back(&job);
    state->wake.notify_one();
    while (!job.done) {
        lock.unlock();
        // A call made in here queues behind this job and returns only after
        // its own job has run, so this job is done by then.
        if (!EventFreeWaits::active())
            events.processEvents(QEventLoop::AllEvents);
        lock.lock();
        if (!job.done)
            state->changed.wait_for(lock, kCallerPollStep);
    }
    lock.unlock();
    if (job.error)
        std::rethrow_exception(job.error);
}

void SerialJobRunner::serve(const std::shared_ptr<State>& state)
{
    t_runner = state.get();
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
        state->wake.wait(lock, [&state] { return !state->queue.empty() || state->stopping; });
        if (state->queue.empty())
            break;
        Job* job = state->queue.front();
        state->queue.pop_front();
        lock.unlock();
        try {
            job->work();
        } catch (...) {
            job->error = std::current_exception();
        }
        lock.lock();
        // The caller may return (and free the job) as soon as this is seen.
        job->done = true;
        state->changed.notify_all();
    }
    state->finished = true;
    state->changed.notify_all();
}
