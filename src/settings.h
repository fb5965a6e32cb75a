#pragma once

#include <QRecursiveMutex>
#include <QSettings>
#include <QSharedPointer>
#include <QStringList>
#include <QVariant>

// The persistent key-value store: an INI file read and written through
// QSettings. Reading a missing key stores the default given for it.
//
// One process-wide instance (settings()) serves the GUI thread, the
// connection worker, the latency threads and the fetch jobs; every operation
// below holds the store's own lock. Use these, not the QSettings base
// functions, on a shared store; group state (beginGroup) is not used.
class Settings : public QSettings
{
    Q_OBJECT
public:
    explicit Settings(const QString& path);
    ~Settings() override;

    QVariant value(const QString& key, const QVariant& defaultValue);
    QVariant valueReadOnly(const QString& key, const QVariant& defaultValue) const;
    bool valueInited(const QString& key) const;
    bool isEmpty() const;
    void setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);
    bool contains(const QString& key) const;
    QStringList allKeys() const;
    // Writes pending changes to the file. A write that fails (a full disk, a
    // read-only file system) leaves the file as it was and the changes
    // pending: the first failure of a run is logged (critical, with the file
    // and the reason) and signalled by writeFailed(); the next write that
    // succeeds ends the run and signals writeRecovered().
    void sync();
    void clear();
    // Whether the last write of this store failed.
    bool writeFailing() const;

    // Copies every key of `source` unchanged (scrambled values stay scrambled).
    void copyValuesFrom(const Settings& source);

    // Scrambled values (user name, password, caches).
    QString simpleCryptedValue(const QString& key);
    void setSimpleCryptedValue(const QString& key, const QString& value);
    static QString encode(const QString& src);
    static QString decode(const QString& src);
    // The unscrambled bytes, for texts whose encoding the caller decides.
    static QByteArray decodeToBytes(const QString& src);

    // Paths.
    static QString fullFileName();
    static QString makeFilePathToConfigLocation(const QString& fileName);
    static QString makeFilePathToBinLocation(const QString& fileName);
    static QString logFullFileName();
    static QString locationsFullFileName();
    static QString proxyLocationsFullFileName();

    // Start-up.
    static void removeLockFile();
    // Reports a missing main file and makes the data directory and every
    // file in it private (files 0600, directories 0700).
    static void init();
    static void logAllValues();
    static QStringList criticalKeys();
    static bool isOpensuse();
    static bool isOpensuseNodeName(const QString& nodeName);

    // Typed accessors of the process-wide store.
    static bool fullLog();
    static bool debugPing();
    static bool useAlternativeAPIServer();
    static QString username();
    static void set_username(const QString& value);
    static QString password();
    static void set_password(const QString& value);
    static void removePassword();
    static QString protocol();
    static void set_protocol(const QString& value);
    static QString skin();
    static void set_skin(const QString& value);
    static QString lastNotifiedNewsId();
    static void set_lastNotifiedNewsId(const QString& value);
    static QString blockIPv6();
    static QString favorite();
    static void set_favorite(const QString& value);
    static QString reconnectOnSleepResumeDelaySec();
    static QString reconnectOnSleepResumeConnectDelaySec();

signals:
    void writeFailed(const QString& fileName, const QString& reason);
    void writeRecovered(const QString& fileName);

protected:
    // QSettings writes pending changes on its own from the event loop.
    bool event(QEvent* e) override;

private:
    enum class WriteOutcome { Unchanged, Failed, Recovered };
    // Runs a write of QSettings and judges it; the lock is held.
    WriteOutcome writeAndJudge();
    void markChanged();
    // Why files cannot be written beside the store, as far as can be told.
    QString writeFailureReason() const;

    mutable QRecursiveMutex m_mutex;
    bool m_changed = false; // changes made since the last good write
    bool m_writeFailing = false; // in a run of failed writes
    QString m_lastReason; // why the run began
};

// The process-wide store on Settings::fullFileName(). The application name
// must be set before the first call.
Settings& settings();

// A new store on any INI file; the caller owns it.
Settings* settingByPath(const QString& iniFile);

// The first "*.conf" file (other than portable.conf) directly in the
// directory of `path`; null when there is none.
QSharedPointer<Settings> findSettingInDir(const QString& path);

// Web-service address lists, tried first to last.
QStringList apiUrlsGet();
QStringList getServersUrls(bool IKEv2);
QStringList getCheckVersionUrls();
QStringList getNewsUrls();
QStringList getV2RayProxyListUrls();
QStringList getV2RayBinaryUrls();
QString updateServiceUrl(bool isPortable);
QString apiGeoUrlGet();
