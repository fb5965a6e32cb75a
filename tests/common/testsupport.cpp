#include "testsupport.h"

#include "settings.h"

#include <QDir>
#include <QStandardPaths>

#include <unistd.h>

namespace TestSupport {

QString fixturesDir()
{
    const QString fromEnv = qEnvironmentVariable("OSTREL_TEST_FIXTURES");
    if (!fromEnv.isEmpty())
        return fromEnv;
    return QStringLiteral(OSTREL_TEST_FIXTURES_DIR);
}

void initApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("ostrel"));
    // Outside CTest the data directory still must not be the user's own.
    if (qEnvironmentVariableIsEmpty("XDG_DATA_HOME")) {
        const QString home = QDir::tempPath() + QStringLiteral("/ostrel-test-") + QString::number(getpid());
        qputenv("XDG_DATA_HOME", (home + QStringLiteral("/data")).toLocal8Bit());
    }
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DataLocation));
    resetSettings();
}

void resetSettings()
{
    settings().clear();
    settings().sync();
}

bool isRoot()
{
    return geteuid() == 0;
}

} // namespace TestSupport
