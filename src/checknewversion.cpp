#include "checknewversion.h"

#include "arctools.h"
#include "downloader.h"
#include "log.h"
#include "qt-json/json.h"
#include "settings.h"
#include "singlestartman.h"
#include "systemhelper.h"
#include "updatenotice.h"
#include "utils.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QScopedPointer>
#include <QTimer>

namespace {

const QString kUpdateArgument = QStringLiteral("--update=");

} // namespace

UpdateManager::Version::Version(int major, int minor, int third)
    : m_major(major)
    , m_minor(minor)
    , m_third(third)
{
}

bool UpdateManager::Version::operator<(const Version& other) const
{
    if (m_major != other.m_major)
        return m_major < other.m_major;
    if (m_minor != other.m_minor)
        return m_minor < other.m_minor;
    return m_third < other.m_third;
}

bool UpdateManager::Version::operator==(const Version& other) const
{
    return m_major == other.m_major && m_minor == other.m_minor && m_third == other.m_third;
}

QString UpdateManager::Version::toStr() const
{
    return QStringLiteral("%1.%2.%3").arg(m_major).arg(m_minor).arg(m_third);
}

UpdateManager::UpdateManager(QObject* parent, const QStringList& checkUrls, const QString& updateUrl)
    : QThread(parent)
    , m_checkUrls(checkUrls)
    , m_updateUrl(updateUrl)
{
    const bool parsed = detectVersion(QStringLiteral(OSTREL_VERSION_STR), m_curVer);
    Q_ASSERT_X(parsed, Q_FUNC_INFO, "the program's own version must parse");
    Q_UNUSED(parsed)
    m_newVer = m_curVer;
}

UpdateManager::~UpdateManager()
{
    qDebug().noquote() << Q_FUNC_INFO;
}

QString UpdateManager::newVersion() const
{
    return m_newVer.toStr();
}

QString UpdateManager::currentVersion() const
{
    return m_curVer.toStr();
}

QString UpdateManager::newVersionUrl() const
{
    return m_url;
}

QString UpdateManager::updateUrl() const
{
    return m_updateUrl;
}

void UpdateManager::setTimeouts(int requestTimeoutMs, int failurePauseMs)
{
    m_requestTimeoutMs = requestTimeoutMs;
    m_failurePauseMs = failurePauseMs;
}

void UpdateManager::run()
{
    try {
        qInfo().noquote() << "Up77";
        for (const QString& address : qAsConst(m_checkUrls)) {
            if (isInterruptionRequested())
                break;
            qInfo().noquote() << "Up78";
            const QNetworkRequest request { QUrl(address) };
            if (checkVersion(request, m_url, m_newVer)) {
                qDebug().noquote() << Q_FUNC_INFO << "version found: " << m_newVer.toStr() << logSafe(m_url);
                if (m_curVer < m_newVer) {
                    qInfo().noquote() << "Up78-1";
                    emit newVersionAvailable();
                }
                break;
            }
            // Pause after a failure, in slices so that a shut-down need not
            // wait for the whole pause.
            QDeadlineTimer pause(m_failurePauseMs);
            while (!pause.hasExpired() && !isInterruptionRequested())
                QThread::msleep(quint32(qBound<qint64>(1, pause.remainingTime(), 50)));
        }
        qInfo().noquote() << "Up79";
    }
    ALOG_CATCHALL("UpdateManager::run")
}

bool UpdateManager::checkVersion(const QNetworkRequest& request, QString& url, Version& ver)
{
    qInfo().noquote() << "Up80";
    qDebug().noquote() << Q_FUNC_INFO << "checkVersion begin..." << request.url().toString();

    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    // The list as it is: an answer the network layer inflated could be any
    // size before the cap below saw it.
    QNetworkRequest plainRequest(request);
    plainRequest.setRawHeader("Accept-Encoding", "identity");
    QScopedPointer<QNetworkReply> reply(manager.get(plainRequest));
    bool refused = false;
    ASSERT_CONNECT(QObject::connect(reply.data(), &QNetworkReply::metaDataChanged, reply.data(), [&reply, &refused]() {
        const QByteArray coding = reply->rawHeader("Content-Encoding").trimmed().toLower();
        if (!refused && !coding.isEmpty() && coding != "identity") {
            refused = true;
            reply->abort();
        }
    }));
    ASSERT_CONNECT(QObject::connect(reply.data(), &QNetworkReply::downloadProgress, reply.data(),
                                    [&reply, &refused](qint64 received, qint64) {
                                        if (!refused && received > kDownloadByUrlMaxBytes) {
                                            refused = true;
                                            reply->abort();
                                        }
                                    }));

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    ASSERT_CONNECT(QObject::connect(reply.data(), &QNetworkReply::finished, &loop, &QEventLoop::quit));
    ASSERT_CONNECT(QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit));
    // Inside the update thread, a shut-down request ends the wait early.
    QTimer interruption;
    const bool inOwnThread = QThread::currentThread() == this;
    if (inOwnThread) {
        ASSERT_CONNECT(QObject::connect(&interruption, &QTimer::timeout, &loop, [this, &loop]() {
            if (isInterruptionRequested())
                loop.quit();
        }));
        interruption.start(50);
    }
    qInfo().noquote() << "Up81";
    timer.start(m_requestTimeoutMs);
    if (!reply->isFinished())
        loop.exec();
    interruption.stop();

    if (!timer.isActive() || !reply->isFinished()) {
        qInfo().noquote() << "Up82";
        qDebug().noquote() << Q_FUNC_INFO << "checkVersion timeout: " << request.url().toString();
        reply->abort();
        return false;
    }
    timer.stop();
    qInfo().noquote() << "Up83";

    if (refused) {
        qInfo().noquote() << "Up84";
        qDebug().noquote() << Q_FUNC_INFO << "checkVersion refused: compressed or larger than" << kDownloadByUrlMaxBytes
                           << "bytes";
        return false;
    }
    if (reply->error() != QNetworkReply::NoError) {
        qInfo().noquote() << "Up84";
        qDebug().noquote() << Q_FUNC_INFO << "checkVersion error: " << int(reply->error());
        return false;
    }

    const QString text = QString::fromUtf8(reply->readAll());
    qInfo().noquote() << "Up85";
    const QVariantList entries = QtJson::parse(text).toList();
    for (const QVariant& item : entries) {
        const QVariantMap entry = item.toMap();
        qInfo().noquote() << "Up86";
        if (detectVersion(entry.value(QStringLiteral("version")).toString(), ver)) {
            url = entry.value(QStringLiteral("url")).toString();
            qInfo().noquote() << "Up87";
            return true;
        }
    }
    qInfo().noquote() << "Up88";
    return false;
}

bool UpdateManager::detectVersion(const QString& text, Version& ver)
{
    qInfo().noquote() << "Up89";
    const QStringList parts = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    int numbers[3] = { 0, 0, 0 };
    bool lastConverted = false;
    for (int i = 0; i < 3 && i < parts.size(); ++i) {
        bool converted = false;
        const int value = parts.at(i).toInt(&converted, 10);
        numbers[i] = converted ? value : 0;
        lastConverted = converted;
    }
    if (lastConverted) {
        qInfo().noquote() << "Up90";
        ver = Version(numbers[0], numbers[1], numbers[2]);
    }
    return lastConverted;
}

bool UpdateManager::isInstallationDirectory(const QString& dir)
{
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        return false;
    const QDir root(dir);
    for (const QString& candidate :
         { QString::fromLatin1(LAUNCHER_FILE_NAME), QStringLiteral("data/") + QLatin1String(LAUNCHER_FILE_NAME) }) {
        const QFileInfo launcher(root.filePath(candidate));
        if (launcher.isFile() && !launcher.isSymLink())
            return true;
    }
    return false;
}

bool UpdateManager::beginUpdateFromFile(const QString& fileName)
{
    qDebug().noquote() << Q_FUNC_INFO << "package installation is not supported here: " << fileName;
    return false;
}

UpdateManager::ExecuteResult UpdateManager::executeOnStart(QApplication& app)
{
    return executeOnStart(app.arguments(), app.applicationDirPath());
}

UpdateManager::ExecuteResult UpdateManager::executeOnStart(const QStringList& arguments, const QString& applicationDir)
{
    try {
        qInfo().noquote() << "Up11";
        QString updateArgument;
        for (const QString& argument : arguments) {
            if (argument.startsWith(kUpdateArgument)) {
                updateArgument = argument;
                break;
            }
        }
        if (updateArgument.isEmpty())
            return erContinue;

        qInfo().noquote() << "Up12";
        if (!SingleStartMan::waitForClose(tr("Update failed. Application not finished."))) {
            qInfo().noquote() << "Up13";
            return erClose;
        }
        qInfo().noquote() << "Up14";
        SystemHelper::instance();

        const QString source = getBundlePathFromPath(applicationDir);
        const QString givenTarget = updateArgument.mid(kUpdateArgument.size());
        const QString target = givenTarget.isEmpty() ? QString()
                                                     : QDir::cleanPath(QFileInfo(givenTarget).absoluteFilePath());
        qDebug().noquote() << Q_FUNC_INFO << "Begin update at start: " << source << " >>>> " << target;

        // Everything below the target but "*.conf" and "*.zip" is deleted:
        // only an installation of this program may be replaced.
        if (!isInstallationDirectory(target)) {
            qInfo().noquote() << "Up15";
            qDebug().noquote() << Q_FUNC_INFO << "- not an installation of this program: " << givenTarget;
            UpdateNotice::show(tr("Update failed."));
            return erClose;
        }

        qInfo().noquote() << "Up16";
        QStringList configs;
        for (const QString& name :
             { QStringLiteral("ostrel.exe.conf"), QStringLiteral("Ostrel.conf"), QStringLiteral("ostrel.conf") })
            ArcTools::findFile(target, name, configs);
        if (configs.isEmpty()) {
            qInfo().noquote() << "Up17";
            qDebug().noquote() << Q_FUNC_INFO << "old config file not found";
        } else {
            qInfo().noquote() << "Up18";
            qDebug().noquote() << Q_FUNC_INFO << "old config files: " << configs.join(QStringLiteral(", "));
            qDebug().noquote() << Q_FUNC_INFO << "will be used: " << configs.last();
            QScopedPointer<Settings> old(settingByPath(configs.last()));
            settings().copyValuesFrom(*old);
        }

        qInfo().noquote() << "Up19";
        if (!ArcTools::copyDirToDestination(source, target, false)) {
            qInfo().noquote() << "Up20";
            UpdateNotice::show(tr("Update failed."));
            return erClose;
        }

        qInfo().noquote() << "Up21";
        UpdateNotice::show(
            tr("Update successful. Older version archived (you can remove the backup archive manually)."));
        const QString exeName = findFile(QString::fromLatin1(LAUNCHER_FILE_NAME), QDir(target));
        qDebug().noquote() << Q_FUNC_INFO << "exeName: " << exeName;
        if (!exeName.isEmpty() && QFileInfo(exeName).isFile()) {
            qInfo().noquote() << "Up22";
            qDebug().noquote() << Q_FUNC_INFO << "START PROCESS from updated path: " << exeName;
            if (!QProcess::startDetached(exeName, QStringList())) {
                qInfo().noquote() << "Up23";
                qDebug().noquote() << Q_FUNC_INFO << "-process not started: " << exeName;
            }
        } else {
            qInfo().noquote() << "Up24";
            qDebug().noquote() << Q_FUNC_INFO << "-executable not founded: " << LAUNCHER_FILE_NAME;
        }
        qInfo().noquote() << "Up25";
    }
    ALOG_CATCHALL("UpdateManager::executeOnStart")
    return erClose;
}
