#include "latency.h"

#include "getservers.h"
#include "log.h"
#include "settings.h"
#include "systemhelper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QThread>

#include <chrono>
#include <thread>
#include <vector>

namespace {

const int kStopPollMs = 50;

QString threadText()
{
    return QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()), 16);
}

// Sleeps `ms`, but returns early once the context stops, so stop() does not
// wait for a whole pause.
void sleepUnlessStopped(const GetLocations& context, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!context.stopped() && timer.elapsed() < ms) {
        const qint64 left = ms - timer.elapsed();
        std::this_thread::sleep_for(std::chrono::milliseconds(qBound<qint64>(1, left, kStopPollMs)));
    }
}

void lowerPriority()
{
    if (QThread* thread = QThread::currentThread())
        thread->setPriority(QThread::LowPriority);
}

bool hasNonEmptyLine(const QString& output)
{
    return !output.split(QLatin1Char('\n'), Qt::SkipEmptyParts).isEmpty();
}

} // namespace

int pingTimeoutMs(int attempt)
{
    return 1000 * attempt + 2000;
}

bool parsePingResult(const QString& output, int& ms)
{
    const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty())
        return false;
    const QString& last = lines.last();
    const int equals = last.lastIndexOf(QLatin1Char('='));
    if (equals < 0)
        return false;
    int pos = last.indexOf(QLatin1Char('/'), equals);
    if (pos < 0)
        pos = last.size();
    int end = pos + 1;
    while (end < last.size() && last.at(end) >= QLatin1Char('0') && last.at(end) <= QLatin1Char('9'))
        ++end;
    const QString digits = last.mid(pos + 1, end - pos - 1);
    if (digits.isEmpty())
        return false;
    bool ok = false;
    const int value = digits.toInt(&ok, 10);
    if (!ok)
        return false;
    ms = value;
    return true;
}

int mainPingThreadFunction(GetLocations& context)
{
    qInfo().noquote() << Q_FUNC_INFO << "ping all locations... thread" << threadText();
    lowerPriority();
    sleepUnlessStopped(context, 1000);
    const bool debugPing = Settings::debugPing();

    while (!context.stopped()) {
        if (context.latencyTestDisabled()) {
            sleepUnlessStopped(context, 1000);
            continue;
        }
        if (context.havePingTask()) {
            std::vector<std::thread> workers;
            workers.reserve(kPingWorkersPerBatch);
            for (int i = 0; i < kPingWorkersPerBatch; ++i)
                workers.emplace_back(pingThreadFunction, std::ref(context), debugPing);
            for (std::thread& worker : workers)
                worker.join();
            continue;
        }
        sleepUnlessStopped(context, 300);
    }

    qDebug().noquote() << Q_FUNC_INFO << "stop main ping thread " << threadText();
    qInfo().noquote() << Q_FUNC_INFO << "main ping thread completed" << threadText();
    return 0;
}

namespace {

// Carries a reference to a location to the location's own thread; the
// reference goes when that thread has handled and deleted the event.
class ReleaseEvent : public QEvent
{
public:
    explicit ReleaseEvent(Location::Ptr&& location)
        : QEvent(type())
        , m_location(std::move(location))
    {
    }
    static QEvent::Type type()
    {
        static const QEvent::Type registered = QEvent::Type(QEvent::registerEventType());
        return registered;
    }

private:
    Location::Ptr m_location;
};

// The worker usually holds the last reference to a location it took from the
// queue, while setPingMs has queued the location's pingMsChanged on the
// location's own (GUI) thread. Destroying the location here could free it
// while that thread delivers the queued call, so the reference goes back to
// that thread and is dropped there, after the calls queued before. No copy of
// the reference may stay behind on this thread: a copy could become the last.
void releaseOnOwnThread(Location::Ptr& location)
{
    if (!location)
        return;
    Location* const target = location.data();
    if (target->thread() == QThread::currentThread()) {
        location.reset();
        return;
    }
    QCoreApplication::postEvent(target, new ReleaseEvent(std::move(location)));
}

// Up to three tries on one location; false when the context stopped first.
bool measureLocation(GetLocations& context, const Location::Ptr& location, bool debugPing)
{
    for (int attempt = 1; attempt <= kPingTries; ++attempt) {
        if (attempt > 1 && debugPing)
            qDebug().noquote() << Q_FUNC_INFO << "ping additional attempt" << attempt;
        if (context.stopped())
            return false;
        QString output;
        const int code = SystemHelper::executeWithWait(QStringLiteral("ping"),
                                                       { location->host(), QStringLiteral("-c"), QStringLiteral("1") },
                                                       output, pingTimeoutMs(attempt), !debugPing, true);
        if (code != 0) {
            location->setPingMs(-1);
            context.onPingMeasured(location, -1);
            qInfo().noquote() << Q_FUNC_INFO << "can't ping location:" << logSafe(location->id()) << "/"
                              << logSafe(location->host()) << "/" << logSafe(location->remoteIdentifier());
            qInfo().noquote() << Q_FUNC_INFO << "pingResult:" << logSafe(output);
        }
        int ms = -1;
        if (parsePingResult(output, ms)) {
            context.onPingMeasured(location, ms);
            qInfo().noquote() << Q_FUNC_INFO << logSafe(location->caption()) << location->pingMs() << " Ms";
            return true;
        }
        if (hasNonEmptyLine(output)) {
            qInfo().noquote() << Q_FUNC_INFO << "can't parse ping result:" << logSafe(location->id());
            context.onPingMeasured(location, -1);
        }
    }
    return true;
}

} // namespace

int pingThreadFunction(GetLocations& context, bool debugPing)
{
    qInfo().noquote() << Q_FUNC_INFO << "pingThreadFunctiond" << threadText();
    lowerPriority();
    QElapsedTimer started;
    started.start();

    while (!context.stopped()) {
        Location::Ptr location = context.extractPingTask();
        if (!location) {
            qInfo().noquote() << Q_FUNC_INFO << "stop ping thread (work completed)" << threadText() << started.elapsed()
                              << "ms";
            return 0;
        }
        const bool finished = measureLocation(context, location, debugPing);
        releaseOnOwnThread(location);
        if (!finished)
            break;
    }
    qInfo().noquote() << Q_FUNC_INFO << "stop ping thread (context stopped)" << threadText();
    return 0;
}
