#include "testsupport.h"

#include "log.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <unistd.h>

namespace {

// Redirects the process's standard output into a file while alive.
class StdoutCapture
{
public:
    explicit StdoutCapture(const QString& path)
        : m_path(path)
    {
        fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        FILE* f = fopen(QFile::encodeName(path).constData(), "w");
        dup2(fileno(f), STDOUT_FILENO);
        fclose(f);
    }
    QString finish()
    {
        fflush(stdout);
        dup2(m_saved, STDOUT_FILENO);
        close(m_saved);
        QFile f(m_path);
        f.open(QIODevice::ReadOnly);
        return QString::fromLatin1(f.readAll());
    }

private:
    QString m_path;
    int m_saved = -1;
};

QStringList fileLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromLocal8Bit(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

const QString kTime = QStringLiteral("\\[\\d\\d:\\d\\d:\\d\\d\\]");

} // namespace

class TestLog : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_logFile;
    QtMessageHandler m_testHandler = nullptr;

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QDir(m_dir.filePath(QStringLiteral("sub"))).removeRecursively();
        m_logFile = m_dir.filePath(QStringLiteral("sub/ostrel.log"));
        ALog::init(m_logFile);
        ALog::setDetailedDebug(false);
        m_testHandler = qInstallMessageHandler(nullptr);
        ALog::installMessageHandler();
    }

    void cleanup()
    {
        ALog::stopLogging();
        qInstallMessageHandler(m_testHandler);
    }

    void fileAndTerminalLineFormats()
    {
        ALog::startLogging();
        StdoutCapture capture(m_dir.filePath(QStringLiteral("stdout.txt")));
        qDebug().noquote() << "hello"
                           << "world";
        qWarning().noquote() << "careful";
        qCritical().noquote() << "broken";
        const QString terminal = capture.finish();

        const QStringList lines = fileLines(m_logFile);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(QRegularExpression("^" + kTime + " \\[D\\] hello world$").match(lines[0]).hasMatch(),
                 qPrintable(lines[0]));
        QVERIFY2(QRegularExpression("^" + kTime + " \\[W\\] careful$").match(lines[1]).hasMatch(),
                 qPrintable(lines[1]));
        QVERIFY2(QRegularExpression("^" + kTime + " \\[C\\] broken$").match(lines[2]).hasMatch(), qPrintable(lines[2]));

        // On the terminal the parts are joined by blanks: two after the time,
        // two between tag and message when there is no indentation.
        const QStringList out = terminal.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(out.size(), 3);
        QVERIFY2(QRegularExpression("^" + kTime + "  \\[D\\]  hello world$").match(out[0]).hasMatch(),
                 qPrintable(out[0]));
    }

    void percentSignsArePrintedLiterally()
    {
        ALog::startLogging();
        StdoutCapture capture(m_dir.filePath(QStringLiteral("stdout.txt")));
        qDebug().noquote() << "100%s done %n %1";
        const QString terminal = capture.finish();
        QVERIFY2(terminal.contains(QStringLiteral("100%s done %n %1\n")), qPrintable(terminal));
        QVERIFY(fileLines(m_logFile).value(0).endsWith(QStringLiteral("100%s done %n %1")));
    }

    void nothingBeforeStartOrAfterStop()
    {
        StdoutCapture capture(m_dir.filePath(QStringLiteral("stdout.txt")));
        qDebug() << "before start";
        ALog::startLogging();
        qDebug() << "while on";
        ALog::stopLogging();
        qDebug() << "after stop";
        const QString terminal = capture.finish();

        const QStringList lines = fileLines(m_logFile);
        QCOMPARE(lines.size(), 2); // "while on" and stopLogging's own line
        QVERIFY(lines[0].endsWith(QStringLiteral("while on")));
        QVERIFY(lines[1].contains(QStringLiteral("ALog::stopLogging")));
        QVERIFY(!terminal.contains(QStringLiteral("before start")));
        QVERIFY(!terminal.contains(QStringLiteral("after stop")));
    }

    void informationalLinesNeedDetailedDebug()
    {
        ALog::startLogging();
        qInfo() << "hidden";
        ALog::setDetailedDebug(true);
        qInfo().noquote() << "shown";
        const QStringList lines = fileLines(m_logFile);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(QRegularExpression("^" + kTime + " \\[I\\] shown$").match(lines[0]).hasMatch(), qPrintable(lines[0]));
    }

    void nestedGroupsIndent()
    {
        ALog::startLogging();
        {
            ALogMsgGroup outer(QStringLiteral("outer"));
            {
                ALogMsgGroup inner(QStringLiteral("inner"), true, true); // silent: no header
                qDebug().noquote() << "deep";
                QCOMPARE(ALogMsgGroup::indentation(), QStringLiteral(".   .   "));
            }
            qDebug().noquote() << "shallow";
            ALogMsgGroup quiet(QStringLiteral("quiet"), false, false);
        }
        qDebug().noquote() << "flat";
        QVERIFY(ALogMsgGroup::indentation().isEmpty());

        const QStringList lines = fileLines(m_logFile);
        QCOMPARE(lines.size(), 4);
        QVERIFY2(lines[0].endsWith(QStringLiteral("[D].    ==================  outer")), qPrintable(lines[0]));
        QVERIFY2(lines[1].endsWith(QStringLiteral("[D].   .    deep")), qPrintable(lines[1]));
        QVERIFY2(lines[2].endsWith(QStringLiteral("[D].    shallow")), qPrintable(lines[2]));
        QVERIFY2(lines[3].endsWith(QStringLiteral("[D] flat")), qPrintable(lines[3]));
    }

    void groupsOfOtherThreadsDoNotIndent()
    {
        ALog::startLogging();
        ALogMsgGroup group(QStringLiteral("gui"), false);
        QThread* worker = QThread::create([] { qDebug().noquote() << "from worker"; });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        const QStringList lines = fileLines(m_logFile);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].endsWith(QStringLiteral("[D] from worker")), qPrintable(lines[0]));
    }

    void concurrentThreadsLoseNoLines()
    {
        ALog::startLogging();
        constexpr int threads = 4;
        constexpr int perThread = 200;
        QList<QThread*> workers;
        for (int t = 0; t < threads; ++t) {
            workers << QThread::create([t] {
                for (int i = 0; i < perThread; ++i)
                    qDebug().noquote() << "thread" << t << "line" << i;
            });
        }
        StdoutCapture capture(m_dir.filePath(QStringLiteral("stdout.txt")));
        for (QThread* w : workers)
            w->start();
        for (QThread* w : workers) {
            QVERIFY(w->wait(30000));
            delete w;
        }
        capture.finish();
        const QStringList lines = fileLines(m_logFile);
        QCOMPARE(lines.size(), threads * perThread);
        for (int t = 0; t < threads; ++t) {
            const QString last = QStringLiteral("thread %1 line %2").arg(t).arg(perThread - 1);
            QVERIFY(std::any_of(lines.begin(), lines.end(), [&](const QString& l) { return l.endsWith(last); }));
        }
    }

    void clearEmptiesTheFile()
    {
        ALog::startLogging();
        qDebug() << "one";
        ALog::stopLogging();
        ALog::Clear();
        QCOMPARE(QFileInfo(m_logFile).size(), qint64(0));
        QVERIFY(QFile::exists(m_logFile));
    }

    void savedCopies()
    {
        // No log file yet: nothing to copy, nothing logged.
        ALog::saveCurrentLogFile();
        QCOMPARE(QDir(QFileInfo(m_logFile).absolutePath()).entryList(QDir::Files).size(), 0);

        ALog::startLogging();
        qDebug() << "content";
        const QDateTime now = QDateTime::currentDateTime();
        // The stamp has seconds without a leading zero.
        QCOMPARE(ALog::savedCopyFileName(QDateTime(QDate(2026, 1, 2), QTime(7, 31, 5))),
                 m_logFile + QStringLiteral("20260102-07315.txt"));

        // Both names this call can pick already exist: the copy fails and says so.
        for (const QDateTime& t : { now, now.addSecs(1) })
            QVERIFY(QFile(ALog::savedCopyFileName(t)).open(QIODevice::WriteOnly));
        ALog::saveCurrentLogFile();
        QVERIFY(fileLines(m_logFile).last().endsWith(QStringLiteral("[W] Can't copy logFile")));

        for (const QDateTime& t : { now, now.addSecs(1) })
            QFile::remove(ALog::savedCopyFileName(t));
        ALog::saveCurrentLogFile();
        const QStringList copies =
            QDir(QFileInfo(m_logFile).absolutePath()).entryList({ QStringLiteral("ostrel.log*.txt") }, QDir::Files);
        QCOMPARE(copies.size(), 1);
        QFile copy(QFileInfo(m_logFile).absolutePath() + QLatin1Char('/') + copies.first());
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QVERIFY(copy.readAll().contains("content"));
    }

    void catchAllLogsAndSavesACopy()
    {
        ALog::startLogging();
        try {
            throw std::runtime_error("boom");
        }
        ALOG_CATCHALL("TestLog::catchAllLogsAndSavesACopy")
        const QStringList lines = fileLines(m_logFile);
        QVERIFY(!lines.isEmpty());
        QVERIFY2(
            lines.last().contains(QStringLiteral(" EXCEPTION in CATCHALL block TestLog::catchAllLogsAndSavesACopy")),
            qPrintable(lines.last()));
        QCOMPARE(QDir(QFileInfo(m_logFile).absolutePath()).entryList({ QStringLiteral("*.txt") }, QDir::Files).size(),
                 1);
    }
};

OSTREL_TEST_MAIN(TestLog, TestMain::Core)
#include "tst_log.moc"
