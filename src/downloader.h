#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>

class QNetworkAccessManager;

// Outcome of one download.
struct DownloadResult
{
    QByteArray data;
    QString errorStr; // every error met, one per line
    QNetworkReply::NetworkError networkError = QNetworkReply::NoError;

    // No error text, no network error and a body that is not empty.
    bool isSuccess() const;
    // The error text of a failed download; "empty answer" for an empty body
    // that came without any error.
    QString failureText() const;
    void appendError(const QString& err);
};

// A request to give up, shared between whoever starts fetches and the
// fetches themselves. Safe to use from any thread.
class FetchStop
{
public:
    using Ptr = QSharedPointer<FetchStop>;

    void stop() { m_stopped = true; }
    bool isStopped() const { return m_stopped.load(); }

private:
    std::atomic<bool> m_stopped { false };
};

// Asked by a running download, from the download's own thread, whether to
// give up. An empty function never stops.
using StopCheck = std::function<bool()>;
// The check of `stop`; empty for a null pointer.
StopCheck stopCheck(const FetchStop::Ptr& stop);

// Error text of a download given up on request.
extern const QString kDownloadStoppedText;

// Largest body a download keeps. A mirror sending more (by mistake or on
// purpose) ends the download with an error instead of filling the memory.
constexpr qint64 kDownloadByUrlMaxBytes = 32 * 1024 * 1024;
constexpr qint64 kDownloaderMaxBytes = 512 * 1024 * 1024;

// Every request asks for the body as it is (no compression), so the size
// caps count the bytes that are kept. An answer that comes compressed anyway
// fails.
//
// Blocking GET with a time-out in milliseconds, for pool threads: runs a
// local event loop of its own until the reply finishes, the time-out
// expires ("timeout error") or `stopped` says so ("stopped", looked at every
// few tens of milliseconds). No proxy, no redirect following, SSL errors
// always fail the download.
DownloadResult downloadByUrl(const QUrl& url, int timeout, const StopCheck& stopped = StopCheck());

// downloadByUrl run as a job of its own on the global pool; the caller
// blocks until it ends (bounded by `timeout`, or sooner by `stopped`).
DownloadResult downloadByUrlInPool(const QUrl& url, int timeout, const StopCheck& stopped = StopCheck());

// Fetches over a list of mirror addresses make up to four passes; pass i
// waits i times the time-out step for each download, and the proxy-list and
// news fetches pause after a pass that gave nothing usable.
constexpr int kFetchPasses = 4;

struct FetchPacing
{
    int timeoutStepMs = 5000;
    int passPauseMs = 3000;
};

// Tries the addresses first to last, pass after pass, until `usable` accepts
// a downloaded body. The failure text of every failed download is appended
// to `errors`; they are cleared when a body is accepted. Returns whether one
// was. When `stopped` says so, the download in flight is given up, "stopped"
// appended and false returned. For pool threads (it blocks).
bool fetchFirstUsable(const QStringList& urls, FetchPacing pacing, QStringList& errors,
                      const std::function<bool(const QByteArray&)>& usable, const StopCheck& stopped = StopCheck());

// Asynchronous, observable GET for long downloads on the GUI thread.
// A Downloader serves one download and finishes it exactly once.
class Downloader : public QObject
{
    Q_OBJECT
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(qint64 bytesReceived READ bytesReceived WRITE setBytesReceived NOTIFY bytesReceivedChanged)
    Q_PROPERTY(qint64 bytesTotal READ bytesTotal WRITE setTotal NOTIFY bytesTotalChanged)
    Q_PROPERTY(
        double receivedPercentage READ receivedPercentage WRITE setReceivedPercentage NOTIFY receivedPercentageChanged)

public:
    enum State { StateNone = 0, StateProcess = 1, StateCompletedWithError = 2, StateCompleted = 3 };

    explicit Downloader(QObject* parent = nullptr);
    ~Downloader() override;

    void get(const QUrl& url);
    DownloadResult result() const;

    State state() const { return m_state; }
    qint64 bytesReceived() const { return m_bytesReceived; }
    qint64 bytesTotal() const { return m_bytesTotal; }
    double receivedPercentage() const { return m_receivedPercentage; }

    // trunc(received / total * 10000) / 100; 0 while the total is unknown.
    double getReceivedPercentage() const;

    void setBytesReceived(qint64 bytesReceived);
    void setTotal(qint64 bytesTotal);

signals:
    void finished(QString error = QString());
    void stateChanged(State state);
    void bytesReceivedChanged(qint64 bytesReceived);
    void bytesTotalChanged(qint64 bytesTotal);
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void receivedPercentageChanged(double receivedPercentage);

public slots:
    void cancelDownload();
    void setReceivedPercentage(double receivedPercentage);

private slots:
    void errAppend(QString err);
    void onDownloadError(QNetworkReply::NetworkError error);

private:
    void setState(State state);
    bool isCurrent(QObject* reply) const;
    void finishWithError(const QString& error);
    void releaseReply();

    State m_state = StateNone;
    DownloadResult m_result;
    QSharedPointer<QNetworkReply> m_reply;
    qint64 m_bytesReceived = 0;
    qint64 m_bytesTotal = 0;
    double m_receivedPercentage = 0;
};

// Creates a Downloader without parent and starts it; the caller owns it.
Downloader* downloadWithController(const QUrl& url);
