#pragma once

#include <QDebug>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <atomic>

// The process-wide log: a Qt message handler writing one timestamped, tagged
// and indented line per message to the log file and to standard output.
class ALog
{
public:
    static void init(const QString& fileFullPath);
    static QString filePath();

    static void installMessageHandler();

    static void startLogging();
    static void stopLogging();

    static bool logging();
    static bool logLocked();
    static bool detailedDebug();
    static void setDetailedDebug(bool detailedDebug);

    // Empties the log file.
    static void Clear();
    // Copies the log file to "<log path>yyyyMMdd-hhmms.txt".
    static void saveCurrentLogFile();
    // The copy name saveCurrentLogFile() uses at `time`.
    static QString savedCopyFileName(const QDateTime& time);

    static void out(const QString& str);
    static void logOutput(QtMsgType type, const QMessageLogContext& context, const QString& mes);

private:
    static std::atomic<bool> m_logging;
    static std::atomic<int> m_logLocked;
    static QMutex mutex_;
    static std::atomic<bool> m_detailedDebug;
};

// Text from outside (a server's list, news, answers, error texts that quote
// them) made safe for one log line: line breaks, other control characters
// and the Unicode line and paragraph separators and direction overrides are
// written as escapes ("\n", "\r", "\t", "\x1b", "\u2028"), a backslash as
// "\\". Everything else is kept.
QString logSafe(const QString& text);
QStringList logSafe(const QStringList& texts);

// Scoped indentation of the log lines written by the current thread.
class ALogMsgGroup
{
public:
    explicit ALogMsgGroup(const QString& name, bool writeGroupHeader = true, bool silent = false);
    ~ALogMsgGroup();
    ALogMsgGroup(const ALogMsgGroup&) = delete;
    ALogMsgGroup& operator=(const ALogMsgGroup&) = delete;

    // The current thread's indentation text (".   " per open group).
    static QString indentation();

private:
    QString m_name;
    bool m_writeGroupHeader;
    bool m_silent;
};

// The closing handler of every catch-all block: logs where it happened,
// saves a copy of the log and lets the caller abandon the operation.
#define ALOG_CATCHALL(handlerName)                                                                                     \
    catch (...)                                                                                                        \
    {                                                                                                                  \
        qDebug().noquote() << Q_FUNC_INFO << " EXCEPTION in CATCHALL block" << handlerName;                            \
        ALog::saveCurrentLogFile();                                                                                    \
    }
