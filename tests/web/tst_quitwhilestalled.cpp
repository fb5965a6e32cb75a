// The real client quits promptly on SIGTERM while every mirror of the
// deployment accepts requests and never answers: the server lists, news,
// external address, proxy list and version check are all in flight then.

#include "deployment.h"
#include "httpfixture.h"
#include "settings.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QUrl>

#include <csignal>
#include <memory>

using HttpFixture::Route;
using HttpFixture::Server;

namespace {

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

} // namespace

class TestQuitWhileStalled : public QObject
{
    Q_OBJECT

private slots:
    void sigtermEndsTheClientWhileMirrorsStall()
    {
        // Every address the demo deployment fetches from, on its own port.
        QList<quint16> ports;
        for (const char* key : { "api/primary", "api/bucket", "web/geo", "servers/primary" }) {
            const QUrl url(Deployment::value(QLatin1String(key)));
            QCOMPARE(url.host(), QStringLiteral("127.0.0.1"));
            if (!ports.contains(quint16(url.port())))
                ports << quint16(url.port());
        }
        ports << 8001; // the further news address
        // The first request of each address fails at once; every later one
        // is accepted and never answered. The fetches that try again then
        // wait on a longer time-out than the first one.
        QMutex mutex;
        QHash<QByteArray, int> asked;
        std::vector<std::unique_ptr<Server>> servers;
        for (quint16 port : ports) {
            servers.emplace_back(new Server);
            QVERIFY2(servers.back()->start(Server::Http, port), qPrintable(QString::number(port)));
            servers.back()->setHandler([&mutex, &asked, port](const HttpFixture::Request& request) {
                QMutexLocker lock(&mutex);
                const QByteArray key = QByteArray::number(port) + request.path;
                return ++asked[key] == 1 ? Route::withStatus(404) : Route::hangForever();
            });
        }
        const QUrl primary(Deployment::value("api/primary"));
        const auto timesAsked = [&mutex, &asked, primary](const char* file) {
            QMutexLocker lock(&mutex);
            return asked.value(QByteArray::number(primary.port()) + primary.path().toLatin1() + file);
        };

        QTemporaryDir home;
        QVERIFY(home.isValid());
        for (const char* sub : { "data/ostrel", "tmp" })
            QVERIFY(QDir().mkpath(home.filePath(sub)));
        {
            Settings store(home.filePath("data/ostrel/ostrel.conf"));
            store.setValue("detailedDebug", "true");
            store.setValue("disableLatencyTest", true);
            store.sync();
        }
        QProcess client;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_DATA_HOME", home.filePath("data"));
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("TMPDIR", home.filePath("tmp"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QT_QUICK_BACKEND", "software");
        client.setProcessEnvironment(env);
        client.setProcessChannelMode(QProcess::MergedChannels);
        const QString out = home.filePath("out.txt");
        client.setStandardOutputFile(out);
        client.start(QCoreApplication::applicationDirPath() + QStringLiteral("/ostrel"), QStringList());
        QVERIFY(client.waitForStarted());
        const auto killClient = qScopeGuard([&client]() {
            if (client.state() != QProcess::NotRunning) {
                client.kill();
                client.waitForFinished(10000);
            }
        });

        // Started; the server list (second pass: 10 s time-out) and the news
        // (second pass, after the pause) wait on mirrors that never answer.
        QVERIFY2(QTest::qWaitFor([&out]() { return readText(out).contains("S20"); }, 60000), qPrintable(readText(out)));
        QVERIFY(QTest::qWaitFor(
            [&]() { return timesAsked("/locations-desktop.json") >= 2 && timesAsked("/latest-news.json") >= 2; },
            30000));

        QElapsedTimer elapsed;
        elapsed.start();
        ::kill(pid_t(client.processId()), SIGTERM);
        const bool ended = client.waitForFinished(30000);
        const qint64 ms = elapsed.elapsed();
        QVERIFY2(ended, qPrintable(readText(out).right(3000)));
        QVERIFY2(ms < 5000, qPrintable(QStringLiteral("%1 ms\n").arg(ms) + readText(out).right(3000)));
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(client.exitCode(), 0);
        const QString text = readText(out);
        QVERIFY(text.contains("app finished"));
        QVERIFY2(!text.contains("left behind"), qPrintable(text.right(3000)));
    }
};

OSTREL_TEST_MAIN(TestQuitWhileStalled, TestMain::Core)
#include "tst_quitwhilestalled.moc"
