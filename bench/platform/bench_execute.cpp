// Cost of running a short command through SystemHelper::executeWithWait
// (1 ms polling while events are processed) against a plain blocking
// QProcess, on one thread and on several threads at once.

#include "systemhelper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

const QString kProgram = QStringLiteral("/bin/true");

double perCommandMs(int runs, const std::function<void()>& once)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < runs; ++i)
        once();
    return double(timer.nsecsElapsed()) / 1e6 / runs;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = 200;

    const double plain = perCommandMs(runs, [] {
        QProcess process;
        process.start(kProgram, QStringList());
        process.waitForFinished(5000);
    });
    const double polled = perCommandMs(runs, [] {
        QString out;
        SystemHelper::executeWithWait(kProgram, QStringList(), out, 5000, true, false);
    });
    std::printf("one thread, %d runs of %s\n", runs, qPrintable(kProgram));
    std::printf("  QProcess::waitForFinished   %8.3f ms per command\n", plain);
    std::printf("  executeWithWait (silent)    %8.3f ms per command\n", polled);

    for (const int threads : { 5, 10 }) {
        QElapsedTimer timer;
        timer.start();
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([runs] {
                for (int i = 0; i < runs / 4; ++i) {
                    QString out;
                    SystemHelper::executeWithWait(kProgram, QStringList(), out, 5000, true, false);
                }
            });
        }
        for (auto& worker : workers)
            worker.join();
        const double total = double(timer.nsecsElapsed()) / 1e6;
        std::printf("%2d threads x %d commands: %8.1f ms in all, %6.3f ms per command\n", threads, runs / 4, total,
                    total / (threads * (runs / 4)));
    }
    return 0;
}
