#include "log.h"

#include "utils.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QTextStream>

#include <cstdio>

std::atomic<bool> ALog::m_logging { false };
std::atomic<int> ALog::m_logLocked { 0 };
QMutex ALog::mutex_;
std::atomic<bool> ALog::m_detailedDebug { false };

namespace {
QString g_logFilePath;

// Indentation is kept per thread, so groups opened concurrently on the GUI
// thread, the connection worker and the pool threads never mix.
thread_local QString t_indentation;

// Set while the handler runs on this thread: a message raised from inside the
// handler (a warning of the file layer, say) is dropped instead of recursing.
thread_local bool t_inHandler = false;

// Serialises the terminal output so lines of several threads do not interleave.
QMutex g_stdoutMutex;

const QString kIndentStep = QStringLiteral(".   ");

QString tagFor(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("[D]");
    case QtWarningMsg:
        return QStringLiteral("[W]");
    case QtCriticalMsg:
        return QStringLiteral("[C]");
    case QtFatalMsg:
        return QStringLiteral("[F]");
    case QtInfoMsg:
        return QStringLiteral("[I]");
    }
    return QStringLiteral("[D]");
}

// Opens the log; a file it creates is the user's alone.
bool openPrivately(QFile& file, QIODevice::OpenMode mode)
{
    const bool existed = file.exists();
    if (!file.open(mode))
        return false;
    if (!existed)
        makePrivate(file);
    return true;
}

QString timeStamp()
{
    return QTime::currentTime().toString(QStringLiteral("[hh:mm:ss] "));
}
} // namespace

void ALog::init(const QString& fileFullPath)
{
    // The data directory may not exist yet on a first run.
    makePrivateDirectory(QFileInfo(fileFullPath).absolutePath());
    QMutexLocker lock(&mutex_);
    g_logFilePath = fileFullPath;
}

QString ALog::filePath()
{
    QMutexLocker lock(&mutex_);
    return g_logFilePath;
}

void ALog::installMessageHandler()
{
    qInstallMessageHandler(&ALog::logOutput);
}

void ALog::startLogging()
{
    m_logLocked = 0;
    m_logging = true;
}

void ALog::stopLogging()
{
    qDebug().noquote() << Q_FUNC_INFO;
    m_logging = false;
}

bool ALog::logging()
{
    return m_logging;
}

bool ALog::logLocked()
{
    return m_logLocked != 0;
}

bool ALog::detailedDebug()
{
    return m_detailedDebug;
}

void ALog::setDetailedDebug(bool detailedDebug)
{
    m_detailedDebug = detailedDebug;
}

void ALog::Clear()
{
    qDebug().noquote() << Q_FUNC_INFO;
    QMutexLocker lock(&mutex_);
    if (g_logFilePath.isEmpty())
        return;
    QFile file(g_logFilePath);
    if (openPrivately(file, QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.resize(0);
        file.close();
    }
}

QString ALog::savedCopyFileName(const QDateTime& time)
{
    return filePath() + time.toString(QStringLiteral("yyyyMMdd-hhmms")) + QStringLiteral(".txt");
}

void ALog::saveCurrentLogFile()
{
    const QString copyName = savedCopyFileName(QDateTime::currentDateTime());
    bool failed = false;
    {
        QMutexLocker lock(&mutex_);
        if (g_logFilePath.isEmpty() || !QFile::exists(g_logFilePath))
            return;
        failed = !QFile::copy(g_logFilePath, copyName);
        if (!failed)
            makePrivate(copyName);
    }
    if (failed)
        qWarning().noquote() << "Can't copy logFile";
}

void ALog::out(const QString& str)
{
    if (!m_logging || m_logLocked != 0)
        return;
    QMutexLocker lock(&mutex_);
    if (g_logFilePath.isEmpty())
        return;
    QFile file(g_logFilePath);
    if (!openPrivately(file, QIODevice::Append | QIODevice::Text))
        return;
    QTextStream stream(&file);
    stream.seek(file.size());
    stream << timeStamp() << str << "\n";
    stream.flush();
    file.close();
}

void ALog::logOutput(QtMsgType type, const QMessageLogContext&, const QString& mes)
{
    if (!m_logging || m_logLocked != 0 || t_inHandler)
        return;
    t_inHandler = true;
    if (type == QtInfoMsg && !detailedDebug()) {
        t_inHandler = false;
        return;
    }
    const QString tag = tagFor(type);
    out(QStringLiteral("%1 %2").arg(tag + t_indentation, mes));

    const QByteArray line = QStringLiteral("%1 %2 %3 %4\n").arg(timeStamp(), tag, t_indentation, mes).toLatin1();
    {
        QMutexLocker lock(&g_stdoutMutex);
        fwrite(line.constData(), 1, size_t(line.size()), stdout);
        fflush(stdout);
    }
    t_inHandler = false;
}

QString logSafe(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (c == QLatin1Char('\\')) {
            out += QLatin1String("\\\\");
        } else if (c == QLatin1Char('\n')) {
            out += QLatin1String("\\n");
        } else if (c == QLatin1Char('\r')) {
            out += QLatin1String("\\r");
        } else if (c == QLatin1Char('\t')) {
            out += QLatin1String("\\t");
        } else if (u < 0x20 || (u >= 0x7f && u <= 0x9f)) {
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        } else if (c.category() == QChar::Other_Format || c == QChar::LineSeparator || c == QChar::ParagraphSeparator) {
            out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

QStringList logSafe(const QStringList& texts)
{
    QStringList out;
    out.reserve(texts.size());
    for (const QString& text : texts)
        out.append(logSafe(text));
    return out;
}

ALogMsgGroup::ALogMsgGroup(const QString& name, bool writeGroupHeader, bool silent)
    : m_name(name)
    , m_writeGroupHeader(writeGroupHeader)
    , m_silent(silent)
{
    t_indentation += kIndentStep;
    if (m_writeGroupHeader && !m_silent)
        qDebug().noquote() << "================== " << m_name;
}

ALogMsgGroup::~ALogMsgGroup()
{
    if (t_indentation.size() >= kIndentStep.size())
        t_indentation.chop(kIndentStep.size());
}

QString ALogMsgGroup::indentation()
{
    return t_indentation;
}
