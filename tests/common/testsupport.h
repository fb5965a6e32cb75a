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

// QTEST_MAIN for this project: a QApplication (offscreen platform in CTest)
// named like the client, so settings and paths resolve as in the client.
#define OSTREL_TEST_MAIN(TestObject)                 \
    int main(int argc, char* argv[])                 \
    {                                                \
        QApplication app(argc, argv);                \
        TestSupport::initApplication();              \
        TestObject tc;                               \
        QTEST_SET_MAIN_SOURCE_PATH                   \
        return QTest::qExec(&tc, argc, argv);        \
    }

// A test object that needs no GUI.
#define OSTREL_TEST_MAIN_CORE(TestObject)            \
    int main(int argc, char* argv[])                 \
    {                                                \
        QCoreApplication app(argc, argv);            \
        TestSupport::initApplication();              \
        TestObject tc;                               \
        QTEST_SET_MAIN_SOURCE_PATH                   \
        return QTest::qExec(&tc, argc, argv);        \
    }
