#include "testsupport.h"

#include "settings.h"

#include <QDir>
#include <QMutex>
#include <QMutexLocker>
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

namespace {
QMutex g_captureMutex;
QStringList g_captured;
}

MessageCapture::MessageCapture()
{
    QMutexLocker lock(&g_captureMutex);
    g_captured.clear();
    m_previous = qInstallMessageHandler(&MessageCapture::handler);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(m_previous);
}

void MessageCapture::handler(QtMsgType, const QMessageLogContext&, const QString& message)
{
    QMutexLocker lock(&g_captureMutex);
    g_captured.append(message);
}

QStringList MessageCapture::messages() const
{
    QMutexLocker lock(&g_captureMutex);
    return g_captured;
}

bool MessageCapture::contains(const QString& fragment) const
{
    const QStringList all = messages();
    return std::any_of(all.begin(), all.end(), [&](const QString& m) { return m.contains(fragment); });
}
