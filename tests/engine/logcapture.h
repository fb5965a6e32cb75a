#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>

// Collects every log message of every thread while alive (and still passes
// them on to the previous handler when OSTREL_TEST_VERBOSE is set).
class LogCapture
{
public:
    LogCapture()
    {
        QMutexLocker lock(&s_mutex);
        s_lines.clear();
        s_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() { qInstallMessageHandler(s_previous); }

    static QStringList lines()
    {
        QMutexLocker lock(&s_mutex);
        return s_lines;
    }
    static bool contains(const QString& text)
    {
        QMutexLocker lock(&s_mutex);
        for (const QString& l : qAsConst(s_lines))
            if (l.contains(text))
                return true;
        return false;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& msg)
    {
        {
            QMutexLocker lock(&s_mutex);
            s_lines << msg;
        }
        if (s_previous && qEnvironmentVariableIsSet("OSTREL_TEST_VERBOSE"))
            s_previous(type, context, msg);
    }
    static inline QMutex s_mutex;
    static inline QStringList s_lines;
    static inline QtMessageHandler s_previous = nullptr;
};
