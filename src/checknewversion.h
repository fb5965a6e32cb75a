#pragma once

#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QThread>

class QApplication;
class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QProgressDialog;

// Name of the program's executable, the mark of an installation.
constexpr char LAUNCHER_FILE_NAME[] = "ostrel";

// The version check (one pass over the version-list mirrors in its own
// thread) and the start-up step that finishes an update ("--update=<dir>").
//
// The version list is a JSON array of objects with the text members
// "version" (major.minor.third) and "url"; the first entry whose version
// parses is taken.
class UpdateManager : public QThread
{
    Q_OBJECT
public:
    struct Version
    {
        Version() = default;
        Version(int major, int minor, int third);

        bool operator<(const Version& other) const;
        bool operator==(const Version& other) const;
        QString toStr() const;

        int m_major = 0;
        int m_minor = 0;
        int m_third = 0;
    };

    enum ExecuteResult {
        erClose = 0,
        erContinue = 1,
    };

    static constexpr int RequestTimeoutMs = 30000;
    static constexpr int FailurePauseMs = 3000;

    UpdateManager(QObject* parent, const QStringList& checkUrls, const QString& updateUrl);
    ~UpdateManager() override;

    // The newest version found; the running one until a check succeeds.
    QString newVersion() const;
    // The running version.
    QString currentVersion() const;
    // "url" of the accepted version-list entry; empty until a check succeeds.
    QString newVersionUrl() const;
    QString updateUrl() const;

    // Shorter waits than the 30000 ms per request and 3000 ms after a failure.
    void setTimeouts(int requestTimeoutMs, int failurePauseMs);

    // One request for the version list. True when an entry's version parsed:
    // `ver` and `url` then hold it.
    bool checkVersion(const QNetworkRequest& request, QString& url, Version& ver);

    // Parses "major.minor.third": a missing or non-numeric part counts as 0,
    // parts after the third are ignored, and the result is whether the last
    // part looked at converted. Only on success is `ver` overwritten.
    static bool detectVersion(const QString& text, Version& ver);

    // The start-up step: without an argument "--update=<dir>" returns
    // erContinue; with one, finishes the update of the installation in <dir>
    // from the application's own directory and returns erClose.
    static ExecuteResult executeOnStart(QApplication& app);
    static ExecuteResult executeOnStart(const QStringList& arguments, const QString& applicationDir);

    // Whether `dir` holds an installation of this program: its launcher as a
    // plain file, directly or in "data/".
    static bool isInstallationDirectory(const QString& dir);

    // Installing a downloaded package is not done on this platform (no package
    // is ever downloaded); logs and returns false.
    static bool beginUpdateFromFile(const QString& fileName);

signals:
    void newVersionAvailable();
    void newVersionDownloaded(QString fileName);
    void downloadError(QString errorString);

protected:
    // One pass over the version-list addresses. Ends early, between or
    // during requests, after requestInterruption().
    void run() override;

private:
    QString m_url;
    QStringList m_checkUrls;
    QString m_updateUrl;
    Version m_curVer;
    Version m_newVer;
    QProgressDialog* m_downloadProgressDialog = nullptr;
    QNetworkReply* m_downloadReply = nullptr;
    QSharedPointer<QNetworkAccessManager> m_downloadNetworkAccessManager;
    int m_requestTimeoutMs = RequestTimeoutMs;
    int m_failurePauseMs = FailurePauseMs;
};
