#include "v2rayprocess.h"

#include "log.h"
#include "model/constants.h"
#include "systemhelper.h"
#include "utils.h"

namespace {
const int kWaitSeconds = 10;
}

V2RayProcess::V2RayProcess(QObject* parent)
    : QObject(parent)
{
    ASSERT_CONNECT(connect(&m_v2RayProcess, &QProcess::readyRead, this, &V2RayProcess::onV4RayProcessReadyRead));
    ASSERT_CONNECT(connect(&m_v2RayProcess, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
                           &V2RayProcess::onV4RayProcessFinished));
}

V2RayProcess::~V2RayProcess()
{
    m_v2RayProcess.disconnect(this);
    if (m_v2RayProcess.state() != QProcess::NotRunning) {
        m_v2RayProcess.kill();
        m_v2RayProcess.waitForFinished(kWaitSeconds * 1000);
    }
}

bool V2RayProcess::startV2RayProcess(QString configPath)
{
    try {
        const QStringList args { QStringLiteral("-c"), Constants::v2RayConfigFileName() };
        const QString program = SystemHelper::instance().v2RayBinaryFullFilePath();
        m_v2RayProcess.setWorkingDirectory(configPath);
        m_v2RayProcess.setProcessChannelMode(QProcess::MergedChannels);
        m_v2RayProcess.setProgram(program);
        m_v2RayProcess.setArguments(args);
        qDebug().noquote() << Q_FUNC_INFO << "start proxy: " << program << args.join(QLatin1Char(' '));
        m_v2RayProcess.start(QIODevice::ReadWrite);
        m_v2RayProcessPid = m_v2RayProcess.processId();
        qDebug().noquote() << Q_FUNC_INFO << "open vpn process pid: " << m_v2RayProcessPid;

        SystemHelper::waitProcessRunning(m_v2RayProcess, program, m_v2RayProcessPid, kWaitSeconds);
        // "Starting" only means the fork happened; a missing or unusable
        // executable shows up a moment later. The exec outcome arrives within
        // milliseconds, so this short blocking wait is bounded as well.
        if (m_v2RayProcess.state() == QProcess::Starting)
            m_v2RayProcess.waitForStarted(kWaitSeconds * 1000);
        if (m_v2RayProcess.state() == QProcess::NotRunning) {
            m_v2RayProcessError = m_v2RayProcess.errorString();
            qCritical().noquote() << Q_FUNC_INFO << "OpenVPN Process Error:" << m_v2RayProcessError;
            return false;
        }
        return true;
    }
    ALOG_CATCHALL("V2RayProcess::startV2RayProcess")
    return false;
}

bool V2RayProcess::waitStopped(const char* how)
{
    const bool stopped = SystemHelper::waitProcessNotRunning(m_v2RayProcess, m_v2RayProcess.program(),
                                                             m_v2RayProcessPid, kWaitSeconds);
    if (stopped) {
        m_v2RayProcessPid = 0;
        qDebug().noquote() << Q_FUNC_INFO << "proxy stopped by" << how;
    }
    return stopped;
}

bool V2RayProcess::stopV2RayProcess()
{
    try {
        qDebug().noquote() << Q_FUNC_INFO;
        if (m_v2RayProcess.state() == QProcess::NotRunning && m_v2RayProcessPid == 0)
            return true;
        // QProcess::close() would end the client and then wait without a
        // limit; the same steps here, every wait bounded.
        m_v2RayProcess.closeWriteChannel();
        m_v2RayProcess.closeReadChannel(QProcess::StandardOutput);
        m_v2RayProcess.closeReadChannel(QProcess::StandardError);
        m_v2RayProcess.kill();
        if (waitStopped("close"))
            return true;
        m_v2RayProcess.terminate();
        if (waitStopped("terminate"))
            return true;
        m_v2RayProcess.kill();
        return waitStopped("kill");
    }
    ALOG_CATCHALL("V2RayProcess::stopV2RayProcess")
    return false;
}

void V2RayProcess::onV4RayProcessReadyRead()
{
    try {
        while (m_v2RayProcess.canReadLine()) {
            const QString line = QString::fromLocal8Bit(m_v2RayProcess.readLine()).trimmed();
            if (!line.isEmpty())
                qDebug().noquote() << "V4RayProcess:" << line;
        }
    }
    ALOG_CATCHALL("V2RayProcess::onV4RayProcessReadyRead")
}

void V2RayProcess::onV4RayProcessFinished()
{
    qDebug().noquote() << Q_FUNC_INFO;
    m_v2RayProcessPid = 0;
}
