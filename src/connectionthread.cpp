// Minimal worker thread; the full worker is written separately.
#include "connectionthread.h"

#include "unix/connection.h"

#include <QAbstractEventDispatcher>
#include <QDebug>
#include <QDeadlineTimer>

ConnectionThread::ConnectionThread(Model* model, QObject* parent)
    : QThread(parent)
    , m_model(model)
{
}

ConnectionThread::~ConnectionThread()
{
    delete m_connection.exchange(nullptr);
}

void ConnectionThread::run()
{
    m_connection.store(new Connection());
    qInfo().noquote() << "ConnectThread::run";
    while (!m_finalize.load()) {
        if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
            dispatcher->processEvents(QEventLoop::AllEvents);
        QThread::msleep(100);
    }
    qInfo().noquote() << "ConnectThread run function completed";
    delete m_connection.exchange(nullptr);
}

void ConnectionThread::finalize()
{
    if (!isRunning())
        return;
    m_finalize.store(true);
    if (!wait(QDeadlineTimer(120000)))
        qWarning().noquote() << "ERROR: ConnectThread - break finalization!";
}
