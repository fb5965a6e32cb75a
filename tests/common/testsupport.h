#pragma once

#include <QApplication>
#include <QString>
#include <QtTest>

// Whether the peak resident memory of a test process says anything about the
// code under test: AddressSanitizer's shadow memory and its quarantine of
// freed blocks alone hold hundreds of MiB, so peak-memory checks are left out
// of a sanitized build.
#if defined(__SANITIZE_ADDRESS__)
#define OSTREL_PEAK_MEMORY_MEANINGFUL 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OSTREL_PEAK_MEMORY_MEANINGFUL 0
#endif
#endif
#ifndef OSTREL_PEAK_MEMORY_MEANINGFUL
#define OSTREL_PEAK_MEMORY_MEANINGFUL 1
#endif

namespace TestSupport {

// Directory of the fixtures the tests start their real servers from.
QString fixturesDir();

// Prepares the process the way the client does before a test runs:
// application name, a private data directory, an empty settings store.
void initApplication();

// Empties the process-wide settings store.
void resetSettings();

// Whether this process may create namespaces and change firewall rules.
bool isRoot();

// A file's bytes; empty when it cannot be read.
QByteArray readBytes(const QString& path);
// Replaces a file's bytes; false when it cannot be written whole.
bool writeBytes(const QString& path, const QByteArray& data);
// Writes a stand-in program (a script with its "#!" line) only its owner may
// run; false when it cannot be written whole or made executable.
bool writeExecutable(const QString& path, const QByteArray& script);

// Whether a process runs: one that ended but was not collected yet (a
// zombie) does not count.
bool processAlive(qint64 pid);

// What a second start of the client does, from a thread of its own, so that
// an instance server in this thread can answer.
bool activatedFromAnotherThread();

// How a suite's main() sets up the process; see OSTREL_TEST_MAIN.
class TestMain
{
public:
    enum Option {
        Gui = 0,
        Core = 1, // a QCoreApplication instead of a QApplication
        // When root, the suite runs again in network and mount namespaces of
        // its own, with an empty /run (NsTools::reexecInPrivateNamespaces);
        // where they cannot be had it runs as it is and the cases that need
        // them skip.
        PrivateNamespaces = 2,
        LoopbackUp = 4, // ... with the loopback device up
        PrivateResolverFile = 8, // ... and a private copy of /etc/resolv.conf
    };

    explicit TestMain(int options = Gui)
        : m_options(options)
    {
    }

    // Runs first, before any namespace or application exists; it may start
    // the program again under other conditions.
    TestMain& beforeApplication(void (*step)(char* argv[]))
    {
        m_beforeApplication = step;
        return *this;
    }
    // Runs once the application exists, before the settings are set up.
    TestMain& prepare(void (*step)())
    {
        m_prepare = step;
        return *this;
    }
    // Runs after the last test.
    TestMain& finish(void (*step)())
    {
        m_finish = step;
        return *this;
    }
    // A helper process the suite starts from its own executable: when
    // `when()` holds, main() runs `entry` instead of the tests.
    TestMain& helperRole(bool (*when)(), int (*entry)(int argc, char* argv[]))
    {
        m_helperWhen = when;
        m_helperEntry = entry;
        return *this;
    }

    template <class TestObject>
    int run(int argc, char* argv[]) const
    {
        return exec(argc, argv, [](int testArgc, char* testArgv[]) {
            TestObject tc;
            return QTest::qExec(&tc, testArgc, testArgv);
        });
    }

private:
    int exec(int argc, char* argv[], int (*runTests)(int argc, char* argv[])) const;

    int m_options;
    void (*m_beforeApplication)(char* argv[]) = nullptr;
    void (*m_prepare)() = nullptr;
    void (*m_finish)() = nullptr;
    bool (*m_helperWhen)() = nullptr;
    int (*m_helperEntry)(int argc, char* argv[]) = nullptr;
};

} // namespace TestSupport

// Collects every message of every thread while alive. Messages are passed
// on to the previous handler too when OSTREL_TEST_VERBOSE is set.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    static QStringList lines();
    static bool contains(const QString& fragment);
    // Lines matching a regular expression.
    static QStringList matching(const QString& pattern);
    static int count(const QString& pattern);

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);
};

// QTEST_MAIN for this project: the application (offscreen platform in CTest)
// named like the client, so settings and paths resolve as in the client.
// The options, a TestMain or its Option values, say where suites differ:
//   OSTREL_TEST_MAIN(TestItems)
//   OSTREL_TEST_MAIN(TestLog, TestMain::Core)
//   OSTREL_TEST_MAIN(TestTrayIcon, TestMain(TestMain::PrivateNamespaces).finish(releaseSystemHelper))
#define OSTREL_TEST_MAIN(TestObject, ...)                                                                              \
    int main(int argc, char* argv[])                                                                                   \
    {                                                                                                                  \
        using TestSupport::TestMain;                                                                                   \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return TestMain(__VA_ARGS__).run<TestObject>(argc, argv);                                                      \
    }
