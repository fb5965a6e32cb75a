#pragma once

// Minimal worker thread so that the model builds and runs; the full worker
// (requests, waits, state reaction) is written separately and replaces it.

#include <QThread>

#include <atomic>

class Connection;
class Model;

class ConnectionThread : public QThread
{
    Q_OBJECT
    Q_PROPERTY(Connection* connection READ connection)

public:
    ConnectionThread(Model* model, QObject* parent);
    ~ConnectionThread() override;

    // The engine, created first thing in run(); null before and after.
    Connection* connection() const { return m_connection.load(); }

    // Ends the worker's loop and waits for the thread (bounded).
    void finalize();

protected:
    void run() override;

private:
    Model* m_model;
    std::atomic<Connection*> m_connection { nullptr };
    std::atomic<bool> m_finalize { false };
};
