#include "settings.h"

#include "deployment.h"
#include "util/simplecrypt.h"
#include "utils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QSysInfo>

#include <QEvent>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {
constexpr quint64 kScrambleKey = 7342;

const QString kFullLog = QStringLiteral("FullLog");
const QString kDebugPing = QStringLiteral("debugping");
const QString kUseAlternativeAPIServer = QStringLiteral("useAlternativeAPIServer");
const QString kUsername = QStringLiteral("username");
const QString kPassword = QStringLiteral("password");
const QString kProtocol = QStringLiteral("Protocol");
const QString kSkin = QStringLiteral("skin");
const QString kLastNotifiedNewsId = QStringLiteral("lastNotifiedNewsId");
const QString kBlockIPv6 = QStringLiteral("blockIPv6");
const QString kFavorite = QStringLiteral("favorite");
const QString kReconnectDelay = QStringLiteral("ReconnectOnSleepResumeDelaySec");
const QString kReconnectConnectDelay = QStringLiteral("ReconnectOnSleepResumeConnectDelaySec");

SimpleCrypt makeCrypt()
{
    SimpleCrypt crypt(kScrambleKey);
    crypt.setCompressionMode(SimpleCrypt::CompressionAlways);
    crypt.setIntegrityProtectionMode(SimpleCrypt::ProtectionHash);
    return crypt;
}

// What tells one version of a file from the next: a write of QSettings
// replaces the file (a new inode) or at least changes its time.
struct FileStamp
{
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    qint64 mtimeNs = 0;
    qint64 size = 0;

    static FileStamp of(const QString& path)
    {
        FileStamp stamp;
        struct stat st = {};
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            return stamp;
        stamp.exists = true;
        stamp.device = st.st_dev;
        stamp.inode = st.st_ino;
        stamp.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        stamp.size = qint64(st.st_size);
        return stamp;
    }

    bool operator==(const FileStamp& o) const
    {
        return exists == o.exists && device == o.device && inode == o.inode && mtimeNs == o.mtimeNs && size == o.size;
    }
};

QStringList withFileName(const QStringList& bases, const QString& fileName)
{
    QStringList urls;
    for (const QString& base : bases)
        urls.append(base + QLatin1Char('/') + fileName);
    return urls;
}
} // namespace

Settings::Settings(const QString& path)
    : QSettings(path, QSettings::IniFormat)
{
}

Settings::~Settings()
{
    // The last write happens here rather than in QSettings' destructor, so
    // that its failure is reported too.
    sync();
}

bool Settings::event(QEvent* e)
{
    // The write QSettings posts to itself after a change.
    if (e->type() == QEvent::UpdateRequest) {
        sync();
        return true;
    }
    return QSettings::event(e);
}

void Settings::markChanged()
{
    m_changed = true;
}

bool Settings::writeFailing() const
{
    QMutexLocker lock(&m_mutex);
    return m_writeFailing;
}

QString Settings::writeFailureReason() const
{
    // QSettings keeps no reason: try to write as much as the store holds
    // beside it and take the system's answer.
    const QString dir = QFileInfo(fileName()).absolutePath();
    if (!QFileInfo(dir).isDir())
        return QStringLiteral("the directory %1 does not exist").arg(dir);
    QTemporaryFile probe(dir + QStringLiteral("/.write-probe-XXXXXX"));
    if (!probe.open())
        return probe.errorString();
    const QByteArray block(int(qMax<qint64>(QFileInfo(fileName()).size(), 0)) + 4096, ' ');
    if (probe.write(block) != block.size() || !probe.flush() || ::fsync(probe.handle()) != 0)
        return probe.errorString().isEmpty() ? QString::fromLocal8Bit(strerror(errno)) : probe.errorString();
    return QString();
}

Settings::WriteOutcome Settings::writeAndJudge()
{
    const bool expectWrite = m_changed || m_writeFailing;
    const bool statusWasGood = status() == QSettings::NoError;
    const FileStamp before = FileStamp::of(fileName());
    QSettings::sync();
    if (!expectWrite)
        return WriteOutcome::Unchanged;
    const FileStamp after = FileStamp::of(fileName());
    if (!after.exists || after == before) {
        // Nothing written: a failure, or nothing was left to write (QSettings
        // keeps the reason to itself and its status, once in error, stays so).
        const QString reason = writeFailureReason();
        const bool statusTurnedBad = statusWasGood && status() != QSettings::NoError;
        if (reason.isEmpty() && !statusTurnedBad) {
            m_changed = false;
            return WriteOutcome::Unchanged;
        }
        if (m_writeFailing)
            return WriteOutcome::Unchanged;
        m_writeFailing = true;
        const QString shown = reason.isEmpty() ? QStringLiteral("write failed") : reason;
        qCritical().noquote() << "Settings not saved:" << fileName() << "-" << shown;
        m_lastReason = shown;
        return WriteOutcome::Failed;
    }
    m_changed = false;
    // A file QSettings creates gets the process's default mode.
    makePrivate(fileName());
    if (!m_writeFailing)
        return WriteOutcome::Unchanged;
    m_writeFailing = false;
    qDebug().noquote() << "Settings saved again:" << fileName();
    return WriteOutcome::Recovered;
}

QVariant Settings::value(const QString& key, const QVariant& defaultValue)
{
    QMutexLocker lock(&m_mutex);
    if (QSettings::contains(key))
        return QSettings::value(key);
    if (defaultValue.isValid()) {
        QSettings::setValue(key, defaultValue);
        markChanged();
    }
    return defaultValue;
}

QVariant Settings::valueReadOnly(const QString& key, const QVariant& defaultValue) const
{
    QMutexLocker lock(&m_mutex);
    return QSettings::value(key, defaultValue);
}

bool Settings::valueInited(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    return QSettings::contains(key);
}

bool Settings::isEmpty() const
{
    QMutexLocker lock(&m_mutex);
    return QSettings::allKeys().isEmpty();
}

void Settings::setValue(const QString& key, const QVariant& value)
{
    QMutexLocker lock(&m_mutex);
    QSettings::setValue(key, value);
    markChanged();
}

void Settings::remove(const QString& key)
{
    QMutexLocker lock(&m_mutex);
    QSettings::remove(key);
    markChanged();
}

bool Settings::contains(const QString& key) const
{
    return valueInited(key);
}

QStringList Settings::allKeys() const
{
    QMutexLocker lock(&m_mutex);
    return QSettings::allKeys();
}

void Settings::sync()
{
    WriteOutcome outcome;
    QString reason;
    {
        QMutexLocker lock(&m_mutex);
        outcome = writeAndJudge();
        reason = m_lastReason;
    }
    // Signalled without the lock: a receiver may use the store.
    if (outcome == WriteOutcome::Failed)
        emit writeFailed(fileName(), reason);
    else if (outcome == WriteOutcome::Recovered)
        emit writeRecovered(fileName());
}

void Settings::clear()
{
    QMutexLocker lock(&m_mutex);
    QSettings::clear();
    markChanged();
}

void Settings::copyValuesFrom(const Settings& source)
{
    qDebug().noquote() << Q_FUNC_INFO << fileName() << " << " << source.fileName();
    const QStringList critical = criticalKeys();
    const QStringList keys = source.allKeys();
    for (const QString& key : keys) {
        const QVariant v = source.valueReadOnly(key, QVariant());
        // Credentials are copied but never shown, not even scrambled.
        qDebug().noquote() << key << "/" << (critical.contains(key) ? QStringLiteral("***") : v.toString());
        setValue(key, v);
    }
    sync();
}

QString Settings::simpleCryptedValue(const QString& key)
{
    const QVariant stored = valueReadOnly(key, QVariant());
    if (!stored.isValid())
        return QString();
    return decode(stored.toString());
}

void Settings::setSimpleCryptedValue(const QString& key, const QString& value)
{
    QMutexLocker lock(&m_mutex);
    // Each scrambling gives a different text: an unchanged value is not rewritten.
    if (simpleCryptedValue(key) == value)
        return;
    setValue(key, encode(value));
}

QString Settings::encode(const QString& src)
{
    SimpleCrypt crypt = makeCrypt();
    return crypt.encryptToString(src);
}

QString Settings::decode(const QString& src)
{
    SimpleCrypt crypt = makeCrypt();
    return crypt.decryptToString(src);
}

QByteArray Settings::decodeToBytes(const QString& src)
{
    SimpleCrypt crypt = makeCrypt();
    return crypt.decryptToByteArray(src);
}

QString Settings::fullFileName()
{
    return makeFilePathToConfigLocation(QCoreApplication::applicationName() + QStringLiteral(".conf"));
}

QString Settings::makeFilePathToConfigLocation(const QString& fileName)
{
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation) + QLatin1Char('/') + fileName;
}

QString Settings::makeFilePathToBinLocation(const QString& fileName)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + fileName;
}

QString Settings::logFullFileName()
{
    return makeFilePathToConfigLocation(QStringLiteral("ostrel.log"));
}

QString Settings::locationsFullFileName()
{
    return makeFilePathToConfigLocation(QStringLiteral("locations.old"));
}

QString Settings::proxyLocationsFullFileName()
{
    return makeFilePathToConfigLocation(QStringLiteral("proxys.old"));
}

void Settings::removeLockFile()
{
    const QString lockFile = fullFileName() + QStringLiteral(".lock");
    if (QFile::exists(lockFile) && !QFile::remove(lockFile))
        qWarning().noquote() << Q_FUNC_INFO << "lock file not deleted";
}

void Settings::init()
{
    if (!QFile::exists(fullFileName()))
        qDebug().noquote() << "- conf file not exist: " << fullFileName();
    // Files earlier versions left readable by everyone become private.
    QStringList dirs = { QStandardPaths::writableLocation(QStandardPaths::DataLocation),
                         QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) };
    dirs.removeDuplicates();
    for (const QString& dir : qAsConst(dirs)) {
        if (!dir.isEmpty())
            makeTreePrivate(dir);
    }
}

void Settings::logAllValues()
{
    qDebug().noquote() << "=============== config ==================";
    const QStringList critical = criticalKeys();
    Settings& store = settings();
    const QStringList keys = store.allKeys();
    for (const QString& key : keys) {
        if (critical.contains(key))
            continue;
        qDebug().noquote() << key + QLatin1Char(':') << store.valueReadOnly(key, QVariant()).toString();
    }
    qDebug().noquote() << "=================================";
}

QStringList Settings::criticalKeys()
{
    return { kUsername, kPassword };
}

bool Settings::isOpensuseNodeName(const QString& nodeName)
{
    return nodeName.indexOf(QLatin1String(".suse"), 5) >= 0;
}

bool Settings::isOpensuse()
{
    utsname names {};
    if (uname(&names) == 0 && isOpensuseNodeName(QString::fromLocal8Bit(names.nodename)))
        return true;
    // The node name is only a host name; the distribution's own id is the
    // dependable sign.
    return QSysInfo::productType().contains(QLatin1String("opensuse"), Qt::CaseInsensitive);
}

bool Settings::fullLog()
{
    return settings().value(kFullLog, true).toBool();
}

bool Settings::debugPing()
{
    return settings().value(kDebugPing, false).toBool();
}

bool Settings::useAlternativeAPIServer()
{
    return settings().value(kUseAlternativeAPIServer, false).toBool();
}

QString Settings::username()
{
    return settings().simpleCryptedValue(kUsername);
}

void Settings::set_username(const QString& value)
{
    settings().setSimpleCryptedValue(kUsername, value);
}

QString Settings::password()
{
    return settings().simpleCryptedValue(kPassword);
}

void Settings::set_password(const QString& value)
{
    settings().setSimpleCryptedValue(kPassword, value);
}

void Settings::removePassword()
{
    settings().remove(kPassword);
}

QString Settings::protocol()
{
    return settings().value(kProtocol, QString(QLatin1String(""))).toString();
}

void Settings::set_protocol(const QString& value)
{
    settings().setValue(kProtocol, value);
}

QString Settings::skin()
{
    return settings().value(kSkin, QStringLiteral("1")).toString();
}

void Settings::set_skin(const QString& value)
{
    settings().setValue(kSkin, value);
}

QString Settings::lastNotifiedNewsId()
{
    return settings().value(kLastNotifiedNewsId, QStringLiteral("0")).toString();
}

void Settings::set_lastNotifiedNewsId(const QString& value)
{
    settings().setValue(kLastNotifiedNewsId, value);
}

QString Settings::blockIPv6()
{
    return settings().value(kBlockIPv6, QStringLiteral("false")).toString();
}

QString Settings::favorite()
{
    return settings().value(kFavorite, QString(QLatin1String(""))).toString();
}

void Settings::set_favorite(const QString& value)
{
    settings().setValue(kFavorite, value);
}

QString Settings::reconnectOnSleepResumeDelaySec()
{
    return settings().value(kReconnectDelay, QStringLiteral("5")).toString();
}

QString Settings::reconnectOnSleepResumeConnectDelaySec()
{
    return settings().value(kReconnectConnectDelay, QStringLiteral("5")).toString();
}

Settings& settings()
{
    static Settings instance([] {
        makePrivateDirectory(QFileInfo(Settings::fullFileName()).absolutePath());
        return Settings::fullFileName();
    }());
    return instance;
}

Settings* settingByPath(const QString& iniFile)
{
    return new Settings(iniFile);
}

QSharedPointer<Settings> findSettingInDir(const QString& path)
{
    const QDir dir = QFileInfo(path).absoluteDir();
    qDebug().noquote() << "find config: " << dir.absolutePath();
    const QStringList matches = dir.entryList({ QStringLiteral("*.conf") }, QDir::Files, QDir::NoSort);
    for (const QString& name : matches) {
        if (name.toLower() == QLatin1String("portable.conf"))
            continue;
        return QSharedPointer<Settings>(new Settings(dir.absoluteFilePath(name)));
    }
    return QSharedPointer<Settings>();
}

QStringList apiUrlsGet()
{
    if (Settings::useAlternativeAPIServer()) {
        return { Deployment::value(QStringLiteral("api/alternative")),
                 Deployment::value(QStringLiteral("api/alternativeBucket")),
                 Deployment::value(QStringLiteral("api/bucketChina")) };
    }
    return { Deployment::value(QStringLiteral("api/primary")), Deployment::value(QStringLiteral("api/bucket")) };
}

QStringList getServersUrls(bool IKEv2)
{
    return withFileName(apiUrlsGet(),
                        IKEv2 ? QStringLiteral("ike-winmac.json") : QStringLiteral("locations-desktop.json"));
}

QStringList getCheckVersionUrls()
{
    return withFileName(apiUrlsGet(), QStringLiteral("versionmac.json"));
}

QStringList getNewsUrls()
{
    return withFileName(apiUrlsGet(), QStringLiteral("latest-news.json"));
}

QStringList getV2RayProxyListUrls()
{
    return withFileName(apiUrlsGet(), QStringLiteral("v2rayconf.json"));
}

QStringList getV2RayBinaryUrls()
{
    return { Deployment::value(QStringLiteral("servers/primary"))
             + QStringLiteral("/mirror/v2ray-%1.zip").arg(QStringLiteral("linux")) };
}

QString updateServiceUrl(bool isPortable)
{
    Q_UNUSED(isPortable)
    const QString server = Settings::useAlternativeAPIServer()
        ? Deployment::value(QStringLiteral("servers/alternative"))
        : Deployment::value(QStringLiteral("servers/primary"));
    return server + QStringLiteral("/mirror/") + QStringLiteral("mac-update.pkg");
}

QString apiGeoUrlGet()
{
    return Deployment::value(QStringLiteral("web/geo")) + QStringLiteral("/geo/");
}
