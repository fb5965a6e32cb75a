#pragma once

#include <QApplication>
#include <QString>
#include <QtTest>

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

} // namespace TestSupport

// Collects every message raised while alive (and passes none on).
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    QStringList messages() const;
    bool contains(const QString& fragment) const;

private:
    static void handler(QtMsgType, const QMessageLogContext&, const QString& message);
    QtMessageHandler m_previous;
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
