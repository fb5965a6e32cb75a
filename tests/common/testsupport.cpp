#include "testsupport.h"

#include "nstools.h"
#include "settings.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QStandardPaths>

#include <memory>

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

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

bool writeExecutable(const QString& path, const QByteArray& script)
{
    return writeBytes(path, script)
        && QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

bool processAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
    // The state follows the name, which may itself hold ") ".
    const QByteArray stat = readBytes(QStringLiteral("/proc/%1/stat").arg(pid));
    const int nameEnd = stat.lastIndexOf(')');
    if (nameEnd < 0 || stat.size() < nameEnd + 3)
        return false;
    const char state = stat.at(nameEnd + 2);
    return state != 'Z' && state != 'X';
}

int TestMain::exec(int argc, char* argv[], int (*runTests)(int argc, char* argv[])) const
{
    if (m_helperWhen && m_helperWhen())
        return m_helperEntry(argc, argv);
    if (m_beforeApplication)
        m_beforeApplication(argv);
    if (m_options & PrivateNamespaces) {
        int extras = NsTools::NoExtras;
        if (m_options & LoopbackUp)
            extras |= NsTools::LoopbackUp;
        if (m_options & PrivateResolverFile)
            extras |= NsTools::PrivateResolverFile;
        NsTools::reexecInPrivateNamespaces(argc, argv, extras);
        // Judged now, while the network holds nothing the tests made.
        NsTools::inPrivateNamespaces();
    }
    std::unique_ptr<QCoreApplication> app(m_options & Core ? new QCoreApplication(argc, argv)
                                                           : new QApplication(argc, argv));
    if (m_prepare)
        m_prepare();
    initApplication();
    const int result = runTests(argc, argv);
    if (m_finish)
        m_finish();
    return result;
}

} // namespace TestSupport

namespace {
QMutex g_captureMutex;
QStringList g_captured;
QtMessageHandler g_previousHandler = nullptr;
} // namespace

LogCapture::LogCapture()
{
    QMutexLocker lock(&g_captureMutex);
    g_captured.clear();
    g_previousHandler = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(g_previousHandler);
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    {
        QMutexLocker lock(&g_captureMutex);
        g_captured.append(message);
    }
    if (g_previousHandler && qEnvironmentVariableIsSet("OSTREL_TEST_VERBOSE"))
        g_previousHandler(type, context, message);
}

QStringList LogCapture::lines()
{
    QMutexLocker lock(&g_captureMutex);
    return g_captured;
}

bool LogCapture::contains(const QString& fragment)
{
    const QStringList all = lines();
    return std::any_of(all.begin(), all.end(), [&](const QString& m) { return m.contains(fragment); });
}

QStringList LogCapture::matching(const QString& pattern)
{
    const QRegularExpression re(pattern);
    QStringList found;
    const QStringList all = lines();
    for (const QString& line : all) {
        if (re.match(line).hasMatch())
            found << line;
    }
    return found;
}

int LogCapture::count(const QString& pattern)
{
    return matching(pattern).size();
}
