#include "unix/sessionrecord.h"

#include "unix/rootonlydirectory.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Field 22 (start time) of a /proc/<pid>/stat text; its position in `stat`
// and its length, or a length of 0. Fields 3 on follow the last ')'.
void startTimeField(const char* stat, size_t size, size_t* at, size_t* length)
{
    *length = 0;
    size_t close = size;
    for (size_t i = 0; i < size; ++i) {
        if (stat[i] == ')')
            close = i;
    }
    if (close + 2 >= size)
        return;
    // fields[0] is field 3 (state): a zombie or a dead process has ended.
    if (stat[close + 2] == 'Z' || stat[close + 2] == 'X')
        return;
    size_t i = close + 2;
    for (int field = 3; field < 22 && i < size; ++i) {
        if (stat[i] == ' ')
            ++field;
    }
    size_t end = i;
    while (end < size && stat[end] >= '0' && stat[end] <= '9')
        ++end;
    *at = i;
    *length = end - i;
}

// What follows is also run in the child between fork and exec: only
// async-signal-safe calls.
bool appendAll(char* buffer, size_t capacity, size_t* used, const char* text, size_t length)
{
    if (*used + length > capacity)
        return false;
    for (size_t i = 0; i < length; ++i)
        buffer[(*used)++] = text[i];
    return true;
}

bool appendNumber(char* buffer, size_t capacity, size_t* used, long value)
{
    char digits[24];
    size_t n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value > 0 && n < sizeof(digits));
    char reversed[24];
    for (size_t i = 0; i < n; ++i)
        reversed[i] = digits[n - 1 - i];
    return appendAll(buffer, capacity, used, reversed, n);
}

size_t readSelfStat(char* buffer, size_t capacity)
{
    const int fd = ::open("/proc/self/stat", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    size_t used = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer + used, capacity - used);
        if (n > 0 && used + size_t(n) < capacity) {
            used += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n != 0)
            used = 0; // an error, or more than fits
        break;
    }
    ::close(fd);
    return used;
}

// Writes `line` to `tempPath` (new, owner-only) and renames it to `path`, so
// that a reader sees the old record or the whole new one.
bool replaceFile(const char* path, const char* tempPath, const char* line, size_t length)
{
    ::unlink(tempPath);
    const int fd = ::open(tempPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, 0600) == 0;
    size_t written = 0;
    while (ok && written < length) {
        const ssize_t n = ::write(fd, line + written, length - written);
        if (n > 0)
            written += size_t(n);
        else if (n < 0 && errno != EINTR)
            ok = false;
    }
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(tempPath, path) == 0;
    if (!ok)
        ::unlink(tempPath);
    return ok;
}

} // namespace

QString SessionRecord::path()
{
    return RootOnlyDirectory::filePath(QStringLiteral("openvpn.pid"));
}

SessionRecord::Read SessionRecord::read(SessionRecord* record)
{
    const QByteArray name = QFile::encodeName(path());
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? Read::Absent : Read::Unusable;
    struct stat info = {};
    QByteArray content;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid()
        && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0) {
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n > 0)
            content = QByteArray(buffer, int(n)).trimmed();
    } else {
        qCritical().noquote() << "pid record" << path() << "is not this user's own file; ignored";
    }
    ::close(fd);
    const QList<QByteArray> fields = content.split(' ');
    if (fields.size() != 4)
        return Read::Unusable;
    record->openVpnPid = fields.at(0).toLongLong();
    record->openVpnStarted = fields.at(1);
    record->clientPid = fields.at(2).toLongLong();
    record->clientStarted = fields.at(3);
    const bool usable = record->openVpnPid > 0 && record->clientPid > 0 && !record->openVpnStarted.isEmpty()
        && !record->clientStarted.isEmpty();
    return usable ? Read::Usable : Read::Unusable;
}

QByteArray SessionRecord::processStartTime(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray stat = f.readAll();
    size_t at = 0;
    size_t length = 0;
    startTimeField(stat.constData(), size_t(stat.size()), &at, &length);
    return length > 0 ? stat.mid(int(at), int(length)) : QByteArray();
}

bool SessionRecord::openVpnRuns() const
{
    if (processStartTime(openVpnPid) != openVpnStarted)
        return false;
    const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(openVpnPid));
    return QFileInfo(exe).fileName().contains(QLatin1String("openvpn"), Qt::CaseInsensitive);
}

bool SessionRecord::clientRuns() const
{
    return processStartTime(clientPid) == clientStarted;
}

bool SessionRecord::isOwnClients() const
{
    const qint64 self = QCoreApplication::applicationPid();
    return clientPid == self && clientStarted == processStartTime(self);
}

QByteArray SessionRecord::clientPart()
{
    const qint64 self = QCoreApplication::applicationPid();
    return ' ' + QByteArray::number(self) + ' ' + processStartTime(self) + '\n';
}

void RecordedProcess::recordNextStart()
{
    m_path = QFile::encodeName(SessionRecord::path());
    m_tempPath = m_path + ".new";
    m_clientPart = SessionRecord::clientPart();
}

void RecordedProcess::setupChildProcess()
{
    if (m_path.isEmpty())
        return;
    char stat[1024];
    const size_t statSize = readSelfStat(stat, sizeof(stat));
    size_t at = 0;
    size_t length = 0;
    startTimeField(stat, statSize, &at, &length);
    char line[256];
    size_t used = 0;
    const bool ok = length > 0 && appendNumber(line, sizeof(line), &used, long(::getpid()))
        && appendAll(line, sizeof(line), &used, " ", 1) && appendAll(line, sizeof(line), &used, stat + at, length)
        && appendAll(line, sizeof(line), &used, m_clientPart.constData(), size_t(m_clientPart.size()))
        && replaceFile(m_path.constData(), m_tempPath.constData(), line, used);
    if (!ok)
        ::_exit(127);
}
