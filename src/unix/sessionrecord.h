#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

// The pid record of the session in the root-only directory: the OpenVPN
// started and the client that started it, each as pid and start time (field
// 22 of /proc/<pid>/stat), on one line. Only the client holding the session
// lock writes or removes it.
struct SessionRecord
{
    qint64 openVpnPid = 0;
    QByteArray openVpnStarted;
    qint64 clientPid = 0;
    QByteArray clientStarted;

    enum class Read { Absent, Unusable, Usable };

    static QString path();
    // Unusable: not a regular file of this user that nobody else may write,
    // or malformed.
    static Read read(SessionRecord* record);

    bool openVpnRuns() const;
    bool clientRuns() const;
    bool names(qint64 pid, const QByteArray& started) const
    {
        return pid > 0 && openVpnPid == pid && openVpnStarted == started;
    }
    // Written for this process, whatever OpenVPN it names.
    bool isOwnClients() const;

    // Start time of a process; empty when it does not exist or has ended.
    static QByteArray processStartTime(qint64 pid);
    // This process as the record's client part: " <pid> <start time>\n".
    static QByteArray clientPart();
};

// The OpenVPN process: its record is written by the child itself after the
// fork and before the exec (its pid and start time stay the same across the
// exec), so that no moment exists in which OpenVPN runs unrecorded, even when
// the client is killed during the start. A child that cannot write it ends
// before OpenVPN runs.
class RecordedProcess : public QProcess
{
    Q_OBJECT
public:
    explicit RecordedProcess(QObject* parent = nullptr)
        : QProcess(parent)
    {
    }
    // The next start writes the record, with this client's identity.
    void recordNextStart();

protected:
    void setupChildProcess() override;

private:
    QByteArray m_path;
    QByteArray m_tempPath;
    QByteArray m_clientPart;
};
