// A bare Qt Quick window for bench_startup: loads bare_window.qml and
// reports its first frame the way the client does with
// OSTREL_REPORT_FIRST_FRAME.

#include <QAtomicInt>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>

#include <cstdio>
#include <ctime>

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    QQmlApplicationEngine engine;
    engine.load(QUrl(QStringLiteral("qrc:/bench/bare_window.qml")));
    if (engine.rootObjects().isEmpty())
        return 1;
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().first());
    if (!window)
        return 1;
    QAtomicInt reported(0);
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [&reported]() {
            if (!reported.testAndSetOrdered(0, 1))
                return;
            timespec now {};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::fprintf(stderr, "ostrel: first frame %lld\n",
                         static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
            std::fflush(stderr);
        },
        Qt::DirectConnection);
    window->show();
    return app.exec();
}
