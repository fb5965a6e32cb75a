#pragma once

#include "log.h"
#include "utils.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QTimer>

#include <functional>

// The background fetch of one feed (news, external address, proxy list): a
// pool job watched on the GUI thread. At most one job runs at a time; a
// request while it runs is remembered once and made again, posted to the
// event loop, after that job's result was handled, also when the handler
// threw.
template <typename Result>
class FeedFetch
{
public:
    using Job = std::function<QFuture<Result>()>;
    using Handler = std::function<void(const Result&)>;
    using Request = std::function<void()>;

    FeedFetch() = default;
    FeedFetch(const FeedFetch&) = delete;
    FeedFetch& operator=(const FeedFetch&) = delete;

    // A watcher whose job still runs is left alone, as Model::stop() does.
    ~FeedFetch()
    {
        if (m_watcher && m_watcher->future().isFinished())
            delete m_watcher;
    }

    // Starts `job` when none runs and returns true. Otherwise remembers that
    // one more is wanted and returns false: `again` (the feed's request) is
    // then posted once the running job's result was handled. The first
    // request makes the watcher: `handler` takes every result on `context`'s
    // thread; `handlerName` names it in the log when it throws.
    bool request(QObject* context, const Job& job, const Handler& handler, const Request& again,
                 const char* handlerName)
    {
        if (!m_watcher) {
            auto* watcher = new QFutureWatcher<Result>();
            m_watcher = watcher;
            // A watcher that Model::stop() left behind may still finish:
            // its result is no longer wanted.
            ASSERT_CONNECT(QObject::connect(watcher, &QFutureWatcherBase::finished, context,
                                            [this, watcher, context, handler, again, handlerName]() {
                                                if (watcher == m_watcher)
                                                    finished(context, handler, again, handlerName);
                                            }));
        }
        if (!m_watcher->isFinished()) {
            m_requestedWhileRunning = true;
            return false;
        }
        m_requestedWhileRunning = false;
        m_watcher->setFuture(job());
        return true;
    }

    // Blocks until a running job has ended; starts nothing.
    void waitForFinished()
    {
        if (m_watcher)
            m_watcher->waitForFinished();
    }

    // Null before the first request. Model::stop() waits for its job and
    // deletes it, or leaves it behind, and sets it to null.
    QFutureWatcher<Result>*& watcher() { return m_watcher; }

private:
    void finished(QObject* context, const Handler& handler, const Request& again, const char* handlerName)
    {
        try {
            handler(m_watcher->result());
        }
        ALOG_CATCHALL(handlerName)
        if (m_requestedWhileRunning) {
            m_requestedWhileRunning = false;
            QTimer::singleShot(0, context, again);
        }
    }

    QFutureWatcher<Result>* m_watcher = nullptr;
    bool m_requestedWhileRunning = false;
};
