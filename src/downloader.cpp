#include "downloader.h"

#include "log.h"
#include "utils.h"

#include <QDeadlineTimer>
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

// How often a running download looks at its stop request.
constexpr int kStopPollMs = 20;

// A GET that asks for the body as it is: the network layer would otherwise
// ask for gzip and inflate the whole answer before the size caps see a byte.
QNetworkRequest identityRequest(const QUrl& url)
{
    QNetworkRequest request(url);
    request.setRawHeader("Accept-Encoding", "identity");
    return request;
}

// The coding of an answer that came compressed although the request asked
// for none; empty for a plain answer.
QByteArray unaskedContentEncoding(const QNetworkReply& reply)
{
    const QByteArray coding = reply.rawHeader("Content-Encoding").trimmed();
    if (coding.isEmpty() || coding.toLower() == "identity")
        return QByteArray();
    return coding;
}

QString compressedText(const QByteArray& coding)
{
    return QStringLiteral("compressed answer refused (Content-Encoding: %1)")
        .arg(logSafe(QString::fromLatin1(coding.left(64))));
}

} // namespace

const QString kDownloadStoppedText = QStringLiteral("stopped");

StopCheck stopCheck(const FetchStop::Ptr& stop)
{
    if (!stop)
        return StopCheck();
    return [stop]() { return stop->isStopped(); };
}

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

DownloadResult downloadByUrl(const QUrl& url, int timeout, const StopCheck& stopped)
{
    DownloadResult result;
    result.networkError = QNetworkReply::NoError;
    if (stopped && stopped()) {
        result.networkError = QNetworkReply::OperationCanceledError;
        result.appendError(kDownloadStoppedText);
        return result;
    }

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

    std::unique_ptr<QNetworkReply> reply(manager.get(identityRequest(url)));
    bool tooLarge = false;
    QByteArray compressed;
    bool stopRequested = false;
    ASSERT_CONNECT(QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [&reply, &compressed]() {
        if (!compressed.isEmpty())
            return;
        compressed = unaskedContentEncoding(*reply);
        if (!compressed.isEmpty())
            reply->abort(); // ends with OperationCanceledError
    }));
    ASSERT_CONNECT(QObject::connect(reply.get(), &QNetworkReply::downloadProgress, &loop,
                                    [&reply, &tooLarge](qint64 received, qint64) {
                                        if (received > kDownloadByUrlMaxBytes && !tooLarge) {
                                            tooLarge = true;
                                            reply->abort(); // ends with OperationCanceledError
                                        }
                                    }));
    QTimer stopPoll;
    if (stopped) {
        ASSERT_CONNECT(QObject::connect(&stopPoll, &QTimer::timeout, &loop, [&]() {
            if (stopped()) {
                stopRequested = true;
                loop.quit();
            }
        }));
        stopPoll.start(kStopPollMs);
    }
    timer.start(timeout);
    if (!reply->isFinished())
        loop.exec();
    stopPoll.stop();

    result.networkError = reply->error();
    if (stopRequested) {
        result.networkError = QNetworkReply::OperationCanceledError;
        result.appendError(kDownloadStoppedText);
    } else if (!timer.isActive()) {
        result.appendError(QStringLiteral("timeout error"));
    } else if (tooLarge) {
        result.appendError(tooLargeText(kDownloadByUrlMaxBytes));
    } else if (!compressed.isEmpty()) {
        result.appendError(compressedText(compressed));
    } else if (reply->error() != QNetworkReply::NoError) {
        result.appendError(reply->errorString());
    } else {
        result.data = reply->readAll();
    }
    return result;
}

DownloadResult downloadByUrlInPool(const QUrl& url, int timeout, const StopCheck& stopped)
{
    QFuture<DownloadResult> future = QtConcurrent::run(downloadByUrl, url, timeout, stopped);
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

    QNetworkReply* reply = manager->get(identityRequest(url));
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
        // A download given up (too large, compressed) is never a success,
        // whatever order the reply reports its end in.
        if (reply->error() != QNetworkReply::NoError || !m_result.errorStr.isEmpty()) {
            if (reply->error() != QNetworkReply::NoError && m_result.networkError == QNetworkReply::NoError)
                m_result.networkError = reply->error();
            if (m_result.errorStr.isEmpty())
                errAppend(reply->errorString());
            finishWithError(m_result.errorStr.section(QLatin1Char('\n'), -1));
            return;
        }
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
        qDebug().noquote() << Q_FUNC_INFO << "QNetworkReply::redirected" << logSafe(to.toString());
    }));
    ASSERT_CONNECT(connect(reply, &QNetworkReply::preSharedKeyAuthenticationRequired, this, []() {
        qDebug().noquote() << Q_FUNC_INFO << "QNetworkReply::preSharedKeyAuthenticationRequired";
    }));
    ASSERT_CONNECT(connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply]() {
        qDebug().noquote() << Q_FUNC_INFO << "QNetworkReply::metaDataChanged";
        if (!isCurrent(reply))
            return;
        const QByteArray coding = unaskedContentEncoding(*reply);
        if (coding.isEmpty())
            return;
        qWarning().noquote() << Q_FUNC_INFO << compressedText(coding);
        errAppend(compressedText(coding));
        reply->abort(); // arrives as an error
    }));
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
    qDebug().noquote() << Q_FUNC_INFO << logSafe(text) << int(error);
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
                      const std::function<bool(const QByteArray&)>& usable, const StopCheck& stopped)
{
    const auto stopRequested = [&stopped]() { return stopped && stopped(); };
    for (int pass = 1; pass <= kFetchPasses; ++pass) {
        const int timeout = pacing.timeoutStepMs * pass;
        for (const QString& url : urls) {
            if (stopRequested()) {
                errors.append(kDownloadStoppedText);
                return false;
            }
            const DownloadResult download = downloadByUrlInPool(QUrl(url), timeout, stopped);
            if (!download.isSuccess()) {
                if (stopRequested()) {
                    errors.append(kDownloadStoppedText);
                    return false;
                }
                errors.append(download.failureText());
                continue;
            }
            if (usable(download.data)) {
                errors.clear();
                return true;
            }
        }
        // The pause between passes, in slices so a stop need not wait for it.
        QDeadlineTimer pause(qMax(0, pacing.passPauseMs));
        while (!pause.hasExpired() && !stopRequested())
            QThread::msleep(static_cast<unsigned long>(qBound<qint64>(1, pause.remainingTime(), kStopPollMs)));
    }
    if (stopRequested())
        errors.append(kDownloadStoppedText);
    return false;
}
