#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class QProcess;

// Helpers for tests that change firewall rules or system files: everything
// happens inside namespaces the test creates, never on the host.
namespace NsTools {

struct RunResult
{
    int code = -100; // exit code; -1 time-out, -2 not started
    QString out; // standard output
    QString err; // standard error
};

// Runs a program directly (no shell) with a bounded wait.
RunResult run(const QString& program, const QStringList& args, int timeoutMs = 15000,
              const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());

// The rules of an iptables chain (iptables -S), without its own "-N" line.
QStringList chainRules(const QString& chain);

// Why namespaces cannot be used here, or an empty text when they can.
QString whyNoNamespaces();

// A private network and/or mount namespace held open by a sleeping process;
// commands are run inside it through nsenter. Ends with the object.
class Namespace
{
public:
    enum Kind { Net = 1, Mount = 2, NetAndMount = 3 };

    explicit Namespace(Kind kind);
    ~Namespace();
    Namespace(const Namespace&) = delete;
    Namespace& operator=(const Namespace&) = delete;

    bool isValid() const;
    qint64 pid() const;

    RunResult exec(const QStringList& command, int timeoutMs = 15000,
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) const;
    // Runs a bash snippet inside; the arguments become $1, $2, ...
    RunResult bash(const QString& script, const QStringList& args = {}, int timeoutMs = 15000,
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) const;

    // Mount namespaces: lays a writable layer over /etc, so that files there
    // can change inside without the host's files ever changing.
    bool privateEtc();
    // Mount namespaces: an empty tmpfs over /run.
    bool privateRun();

private:
    // exec() without the check that the namespaces are the holder's own.
    RunResult enter(const QStringList& command, int timeoutMs = 15000,
                    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) const;

    Kind m_kind;
    bool m_valid = false;
    std::unique_ptr<QProcess> m_holder;
    QTemporaryDir m_scratch;
};

// What the namespaces of reexecInPrivateNamespaces() hold besides a fresh
// network and an empty /run.
enum Extra {
    NoExtras = 0,
    LoopbackUp = 1, // the loopback device up
    PrivateResolverFile = 2, // a copy of /etc/resolv.conf bound over it
};

// Makes the calling process enter fresh network and mount namespaces by
// running itself again under unshare, when it is root and not inside them
// yet; /run is an empty tmpfs there. `extras` is a combination of Extra.
// Returns only when that is not possible or already done.
void reexecInPrivateNamespaces(int argc, char* argv[], int extras = NoExtras);
// True in the process started by reexecInPrivateNamespaces().
bool inPrivateNamespaces();

// Inside private mount namespaces: the writable layer over /etc.
bool privateEtcForThisProcess(const QString& scratchDir);
// Takes the layer away again, so that the scratch directory can be removed.
void releasePrivateEtcForThisProcess(const QString& scratchDir);

} // namespace NsTools
