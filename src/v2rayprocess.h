#pragma once

#include <QObject>
#include <QProcess>
#include <QString>

// The V2Ray client that carries OpenVPN's traffic to a proxy location; it
// reads "proxy.json" in the configuration directory.
class V2RayProcess : public QObject
{
    Q_OBJECT
public:
    explicit V2RayProcess(QObject* parent = nullptr);
    ~V2RayProcess() override;

    // True when the client is starting or running.
    bool startV2RayProcess(QString configPath);
    // Close, then terminate, then kill, each given up to 10 s; true when
    // the client no longer runs.
    bool stopV2RayProcess();
    bool isRunning() const { return m_v2RayProcess.state() != QProcess::NotRunning; }

    qint64 pid() const { return m_v2RayProcessPid; }
    QString lastError() const { return m_v2RayProcessError; }

public slots:
    void onV4RayProcessReadyRead();
    void onV4RayProcessFinished();

private:
    bool waitStopped(const char* how);

    QProcess m_v2RayProcess;
    qint64 m_v2RayProcessPid = 0;
    QString m_v2RayProcessError;
};
