#pragma once

#include "systemhelper.h"
#include "testsupport.h"
#include "unix/connection.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutex>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>
#include <queue>

// A worker thread shaped like the client's connection thread: it creates the
// Connection inside itself, runs no event loop of its own, sleeps until work
// is posted or an event arrives, and otherwise only pumps events while the
// engine waits. Neither side spins while it waits for the other.
class EngineWorker : public QThread
{
public:
    using Task = std::function<void(Connection&)>;

    ~EngineWorker() override { finish(); }

    // Starts the thread and waits (bounded) until its Connection exists.
    bool begin(int timeoutMs = 10000)
    {
        start();
        QDeadlineTimer deadline(timeoutMs);
        while (!m_connection && !deadline.hasExpired())
            QThread::msleep(5);
        return m_connection != nullptr;
    }

    Connection* connection() const { return m_connection; }

    // Queues a task; it runs on the worker thread.
    void post(Task task)
    {
        {
            QMutexLocker lock(&m_mutex);
            m_tasks.push(std::move(task));
            ++m_pending;
        }
        wakeWorker();
    }

    // Waits, pumping the calling thread's events, until every queued task
    // has run. False when the time ran out.
    bool waitIdle(int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        // The worker wakes this thread when a task is done.
        m_waiter = QAbstractEventDispatcher::instance(QThread::currentThread());
        while (m_pending > 0 && !deadline.hasExpired()) {
            QTimer bound;
            bound.setSingleShot(true);
            bound.start(int(qBound<qint64>(1, deadline.remainingTime(), 50)));
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return m_pending == 0;
    }

    // Runs a task and waits for it.
    bool call(Task task, int timeoutMs)
    {
        post(std::move(task));
        return waitIdle(timeoutMs);
    }

    // Ends the thread after the running task (bounded).
    bool finish(int timeoutMs = 60000)
    {
        if (!isRunning())
            return true;
        m_stop = true;
        wakeWorker();
        return wait(QDeadlineTimer(timeoutMs));
    }

protected:
    void run() override
    {
        {
            Connection connection;
            m_connection = &connection;
            while (!m_stop) {
                Task task;
                {
                    QMutexLocker lock(&m_mutex);
                    if (!m_tasks.empty()) {
                        task = std::move(m_tasks.front());
                        m_tasks.pop();
                    }
                }
                if (task) {
                    task(connection);
                    --m_pending;
                    if (QAbstractEventDispatcher* waiter = m_waiter)
                        waiter->wakeUp();
                } else {
                    // Until an event, a posted task or the bound.
                    QTimer bound;
                    bound.setSingleShot(true);
                    bound.start(50);
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
                }
            }
            m_connection = nullptr;
        }
    }

private:
    void wakeWorker()
    {
        if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(this))
            dispatcher->wakeUp();
    }

    std::atomic<Connection*> m_connection { nullptr };
    std::atomic<QAbstractEventDispatcher*> m_waiter { nullptr };
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_pending { 0 };
    QMutex m_mutex;
    std::queue<Task> m_tasks;
};

// The main of another client that a suite runs in a process of its own (a
// helper role): the application as the client makes it and a started engine
// worker, handed to `client`, whose result is the process's exit code.
inline int runClientProcess(int argc, char* argv[], const std::function<int(EngineWorker&)>& client)
{
    QCoreApplication app(argc, argv);
    TestSupport::initApplication();
    SystemHelper::instance();
    EngineWorker worker;
    if (!worker.begin())
        return 1;
    return client(worker);
}

// A connect with the "udp-256" template to the loopback server, with the
// configuration file in the client's data directory.
inline OpenVpnConnectParams loopbackConnectParams(const QString& user, const QString& password)
{
    OpenVpnConnectParams p;
    p.protocol = Constants::ProtocolType_OPENVPN256;
    p.serverIP = "127.0.0.1";
    p.username = user;
    p.password = password;
    p.ovpnFile = Constants::openVpnConfigFileName();
    p.configPath = SystemHelper::instance().configsFilesDirPath();
    return p;
}
