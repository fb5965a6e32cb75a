#include "log.h"
#include "resources.h"
#include "settings.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    initResources();
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ostrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(OSTREL_VERSION_STR));

    ALog::init(Settings::logFullFileName());
    if (Settings::fullLog())
        ALog::installMessageHandler();
    ALog::startLogging();
    Settings::removeLockFile();
    Settings::init();
    qDebug().noquote() << "ostrel" << OSTREL_VERSION_STR << "started";
    Settings::logAllValues();

    settings().sync();
    ALog::stopLogging();
    return 0;
}
