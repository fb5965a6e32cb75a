#include "utils.h"

#include <QEventLoop>
#include <QTimer>

void processMessages(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(qMax(0, ms), &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::AllEvents);
}

bool WaitLoop::wait()
{
    processMessages(m_interval);
    m_totalTime -= m_interval;
    return m_totalTime > 0;
}
