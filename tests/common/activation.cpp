#include "testsupport.h"

#include "model/windowhelpers.h"

#include <QDeadlineTimer>
#include <QtConcurrent>

// Apart from testsupport.cpp: only the suites that use it link the model.
bool TestSupport::activatedFromAnotherThread()
{
    QFuture<bool> activated = QtConcurrent::run([]() { return activateRunningInstance(5000); });
    QDeadlineTimer deadline(10000);
    while (!activated.isFinished() && !deadline.hasExpired())
        QTest::qWait(10);
    return activated.isFinished() && activated.result();
}
