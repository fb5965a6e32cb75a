// ostrel-screenshot: the client's window, set up as the program entry sets
// it up, logged in with the demo account and connected through the demo's
// servers, saved as PNG files in both palettes of the standard skin. Run by
// tools/screenshots.sh inside the demo, in the client's place.
//
//   ostrel-screenshot OUTPUT_DIR
#include "connectionthread.h"
#include "log.h"
#include "model/model.h"
#include "qml/qmlregistration/componentcachemanager.h"
#include "resources.h"
#include "systemhelper.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QTextStream>
#include <QThread>

#include <functional>

namespace {

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
    return true;
}

void settle(int ms)
{
    waitFor([] { return false; }, ms);
}

} // namespace

int main(int argc, char* argv[])
{
    initResources();
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ostrel"));
    QTextStream err(stderr);
    if (argc < 2) {
        err << "usage: ostrel-screenshot OUTPUT_DIR\n";
        return 2;
    }
    const QString outDir = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    QDir().mkpath(outDir);
    QApplication::setQuitOnLastWindowClosed(false);
    SystemHelper::instance();

    int status = 1;
    {
        Model model(nullptr);
        QQmlApplicationEngine engine;
        model.setQmlApplicationEngine(&engine);
        if (!model.start()) {
            err << "ostrel-screenshot: the model did not start\n";
            return 1;
        }
        QQmlEngine::setObjectOwnership(&model, QQmlEngine::CppOwnership);
        engine.rootContext()->setContextProperty(QStringLiteral("viewmodel"), &model);
        auto* componentCache = new ComponentCacheManager(&engine);
        componentCache->setParent(&engine);
        engine.rootContext()->setContextProperty(QStringLiteral("componentCache"), componentCache);
        engine.load(QUrl(QStringLiteral("qrc:/qml/main.qml")));
        QQuickWindow* window = engine.rootObjects().isEmpty()
            ? nullptr
            : qobject_cast<QQuickWindow*>(engine.rootObjects().first());
        model.installEventsFilters();

        const QString ready = qEnvironmentVariable("OSTREL_DEMO_READY");
        const bool connected = window
            && waitFor([&] { return model.locationsReceived() && model.validLocations()->count() > 0; }, 120000)
            && waitFor([&] { return ready.isEmpty() || QFileInfo::exists(ready); }, 300000) && [&] {
                   model.setUsername(QStringLiteral("demo"));
                   model.setUserpassword(QStringLiteral("demo"));
                   // With "Auto-connect when choosing new location" on (the
                   // default) choosing the location already asks for a
                   // connect, a moment later; a press of our own would then
                   // cancel it.
                   const auto connectStarted = [&] {
                       return model.connectionThread()->askedState() == Constants::RequestedAction_Connect
                           || model.connectionState() != Constants::ConnectState_Disconnected;
                   };
                   model.userSelectLocationById(QStringLiteral("de"));
                   if (!waitFor(connectStarted, 3000))
                       model.vpnConnectDisconnect();
                   return waitFor([&] { return model.connectionState() == Constants::ConnectState_Connected; }, 120000);
               }();
        if (!connected) {
            err << "ostrel-screenshot: no window or no connection\n";
        } else {
            status = 0;
            window->show();
            window->raise();
            const QList<QPair<Constants::SkinType, QString>> skins = {
                { Constants::SkinType_standart, QStringLiteral("connected-dark.png") },
                { Constants::SkinType_standart_light, QStringLiteral("connected-light.png") },
            };
            for (const auto& skin : skins) {
                model.setSkinType(skin.first);
                // The pages are rebuilt for the palette and the elapsed time ticks.
                settle(4000);
                const QImage image = window->grabWindow();
                const QString path = outDir + QLatin1Char('/') + skin.second;
                if (image.isNull() || !image.save(path)) {
                    err << "ostrel-screenshot: could not save " << path << "\n";
                    status = 1;
                } else {
                    err << "ostrel-screenshot: " << path << "\n";
                }
            }
            model.setSkinType(Constants::SkinType_standart);
            model.vpnConnectDisconnect();
            waitFor([&] { return model.connectionState() == Constants::ConnectState_Disconnected; }, 60000);
        }
        model.removeEventsFilters();
        model.stop();
    }
    SystemHelper::release();
    return status;
}
