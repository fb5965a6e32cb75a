#include "downloader.h"

#include "log.h"
#include "utils.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QSslError>
#include <QThread>
#include <QTimer>
#include <QtConcurrent>

#include <cmath>
#include <memory>

namespace {

// Every download goes direct, whatever the system proxy says.
void setNoProxy(QNetworkAccessManager& manager)
{
    qInfo().noquote() << Q_FUNC_INFO << "GetNews proxy: " << manager.proxy();
    if (manager.proxy().type() != QNetworkProxy::NoProxy) {
        manager.setProxy(QNetworkProxy(QNetworkProxy::NoProxy, QString(), 0, QString(), QString()));
        qInfo().noquote() << Q_FUNC_INFO << "GetNews set no proxy: " << manager.proxy();
    }
}

QString tooLargeText(qint64 limit)
{
    return QStringLiteral("download larger than %1 bytes").arg(limit);
}

} // namespace

// ---------------------------------------------------------------- DownloadResult

bool DownloadResult::isSuccess() const
{
    return errorStr.isEmpty() && networkError == QNetworkReply::NoError && !data.isEmpty();
}

QString DownloadResult::failureText() const
{
    if (errorStr.isEmpty() && networkError == QNetworkReply::NoError && data.isEmpty())
        return QStringLiteral("empty answer");
    return errorStr;
}

void DownloadResult::appendError(const QString& err)
{
    if (!errorStr.isEmpty())
        errorStr += QLatin1Char('\n');
    errorStr += err;
}

// ---------------------------------------------------------------- downloadByUrl

DownloadResult downloadByUrl(const QUrl& url, int timeout)
{
    DownloadResult result;
    result.networkError = QNetworkReply::NoError;

    QTimer timer;
    timer.setSingleShot(true);
    QNetworkAccessManager manager;
    setNoProxy(manager);

    ASSERT_CONNECT(QObject::connect(&manager, &QNetworkAccessManager::sslErrors, &manager,
                                    [&result](QNetworkReply*, const QList<QSslError>& errors) {
                                        for (const QSslError& e : errors)
                                            result.appendError(e.errorString());
                                    }));

    QEventLoop loop;
    ASSERT_CONNECT(QObject::connect(&manager, &QNetworkAccessManager::finished, &loop, &QEventLoop::quit));
    ASSERT_CONNECT(QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit));

    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(url)));
    bool tooLarge = false;
    ASSERT_CONNECT(QObject::connect(reply.get(), &QNetworkReply::downloadProgress, &loop,
                                    [&reply, &tooLarge](qint64 received, qint64) {
                                        if (received > kDownloadByUrlMaxBytes && !tooLarge) {
                                            tooLarge = true;
                                            reply->abort(); // ends with OperationCanceledError
                                        }
                                    }));
    timer.start(timeout);
    if (!reply->isFinished())
        loop.exec();

    result.networkError = reply->error();
    if (!timer.isActive()) {
        result.appendError(QStringLiteral("timeout error"));
    } else if (tooLarge) {
        result.appendError(tooLargeText(kDownloadByUrlMaxBytes));
    } else if (reply->error() != QNetworkReply::NoError) {
        result.appendError(reply->errorString());
    } else {
        result.data = reply->readAll();
    }
    return result;
}

DownloadResult downloadByUrlInPool(const QUrl& url, int timeout)
{
    QFuture<DownloadResult> future = QtConcurrent::run(downloadByUrl, url, timeout);
    return future.result();
}

// ---------------------------------------------------------------- Downloader

Downloader::Downloader(QObject* parent)
    : QObject(parent)
{
}

Downloader::~Downloader()
{
    // The reply (and its manager) are children and go with this object.
    if (m_reply)
        m_reply->disconnect(this);
}

Downloader* downloadWithController(const QUrl& url)
{
    auto* downloader = new Downloader(nullptr);
    downloader->get(url);
    return downloader;
}

void Downloader::get(const QUrl& url)
{
    m_result.networkError = QNetworkReply::NoError;
    auto* manager = new QNetworkAccessManager();
    setNoProxy(*manager);
    ASSERT_CONNECT(connect(manager, &QNetworkAccessManager::sslErrors, this,
                           [this](QNetworkReply* reply, const QList<QSslError>& errors) {
                               if (!isCurrent(reply))
                                   return;
                               for (const QSslError& e : errors)
                                   errAppend(e.errorString());
                           }));

    QNetworkReply* reply = manager->get(QNetworkRequest(url));
    if (!reply) {
        qCritical().noquote() << Q_FUNC_INFO << "reply = null";
        manager->deleteLater();
        return;
    }
    m_reply = QSharedPointer<QNetworkReply>(reply, &QObject::deleteLater);
    reply->setParent(this);
    manager->setParent(reply);

    ASSERT_CONNECT(connect(reply, &QNetworkReply::finished, this, [this, reply]() {
        if (!isCurrent(reply))
            return;
        qDebug().noquote() << Q_FUNC_INFO << "QNetworkReply::finished";
        m_result.data = reply->readAll();
        qDebug().noquote() << Q_FUNC_INFO << "downloaded" << m_result.data.size() << "byte";
        setState(StateCompleted);
        releaseReply();
        emit finished(QString());
    }));
    ASSERT_CONNECT(connect(reply, &QNetworkReply::errorOccurred, this, &Downloader::onDownloadError));
    ASSERT_CONNECT(connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64 total) {
        if (!isCurrent(reply))
            return;
        setTotal(total);
        setBytesReceived(received);
        setReceivedPercentage(getReceivedPercentage());
        emit downloadProgress(received, total);
        if (received > kDownloaderMaxBytes) {
            qWarning().noquote() << Q_FUNC_INFO << tooLargeText(kDownloaderMaxBytes);
            errAppend(tooLargeText(kDownloaderMaxBytes));
            reply->abort(); // arrives as an error
        }
    }));
    ASSERT_CONNECT(connect(reply, &QNetworkReply::sslErrors, this, [this, reply](const QList<QSslError>& errors) {
        if (!isCurrent(reply))
            return;
        qDebug().noquote() << Q_FUNC_INFO << "QNetworkReply::sslErrors" << errors;
        // The reply has not failed yet at this point, so its own text would
        // only say "Unknown error"; name what is about to happen instead.
        const QString text = reply->error() != QNetworkReply::NoError ? reply->errorString()
                                                                      : QStringLiteral("SSL handshake failed");
        errAppend(text);
        finishWithError(text);
    }));
    ASSERT_CONNECT(connect(reply, &QNetworkReply::redirected, this, [](const QUrl& to) {
        qDebug().noquote() << Q_FUNC_INFO << "QNetworkReply::redirected" << to.toString();
    }));
    ASSERT_CONNECT(connect(reply, &QNetworkReply::preSharedKeyAuthenticationRequired, this, []() {
        qDebug().noquote() << Q_FUNC_INFO << "QNetworkReply::preSharedKeyAuthenticationRequired";
    }));
    ASSERT_CONNECT(connect(reply, &QNetworkReply::metaDataChanged, this,
                           []() { qDebug().noquote() << Q_FUNC_INFO << "QNetworkReply::metaDataChanged"; }));
}

DownloadResult Downloader::result() const
{
    return m_result;
}

double Downloader::getReceivedPercentage() const
{
    if (m_bytesTotal <= 0)
        return 0;
    return std::trunc(double(m_bytesReceived) / double(m_bytesTotal) * 10000.0) / 100.0;
}

void Downloader::setBytesReceived(qint64 bytesReceived)
{
    if (m_bytesReceived == bytesReceived)
        return;
    m_bytesReceived = bytesReceived;
    emit bytesReceivedChanged(m_bytesReceived);
}

void Downloader::setTotal(qint64 bytesTotal)
{
    if (m_bytesTotal == bytesTotal)
        return;
    m_bytesTotal = bytesTotal;
    emit bytesTotalChanged(m_bytesTotal);
}

void Downloader::setReceivedPercentage(double receivedPercentage)
{
    if (qFuzzyCompare(m_receivedPercentage, receivedPercentage))
        return;
    m_receivedPercentage = receivedPercentage;
    emit receivedPercentageChanged(m_receivedPercentage);
}

void Downloader::cancelDownload()
{
    try {
        qDebug().noquote() << Q_FUNC_INFO << "reply:" << m_reply.data();
        if (m_reply)
            m_reply->abort();
    }
    ALOG_CATCHALL("Downloader::cancelDownload")
}

void Downloader::errAppend(QString err)
{
    m_result.appendError(err);
}

void Downloader::onDownloadError(QNetworkReply::NetworkError error)
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply || !isCurrent(reply))
        return;
    const QString text = reply->errorString();
    qDebug().noquote() << Q_FUNC_INFO << text << int(error);
    m_result.networkError = error;
    errAppend(text);
    finishWithError(text);
}

void Downloader::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(m_state);
}

bool Downloader::isCurrent(QObject* reply) const
{
    return m_state == StateNone && m_reply && m_reply.data() == reply;
}

void Downloader::finishWithError(const QString& error)
{
    setState(StateCompletedWithError);
    releaseReply();
    emit finished(error);
}

void Downloader::releaseReply()
{
    if (!m_reply)
        return;
    // Later signals of this reply must not reach us (a finished after an error).
    m_reply->disconnect(this);
    m_reply.reset(); // deleteLater, never inside its own signal
}

bool fetchFirstUsable(const QStringList& urls, FetchPacing pacing, QStringList& errors,
                      const std::function<bool(const QByteArray&)>& usable)
{
    for (int pass = 1; pass <= kFetchPasses; ++pass) {
        const int timeout = pacing.timeoutStepMs * pass;
        for (const QString& url : urls) {
            const DownloadResult download = downloadByUrlInPool(QUrl(url), timeout);
            if (!download.isSuccess()) {
                errors.append(download.failureText());
                continue;
            }
            if (usable(download.data)) {
                errors.clear();
                return true;
            }
        }
        QThread::msleep(static_cast<unsigned long>(qMax(0, pacing.passPauseMs)));
    }
    return false;
}
