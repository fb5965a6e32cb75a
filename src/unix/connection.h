#pragma once

#include "connect_state_object.h"
#include "unix/qopenvpn2.h"

// The connection the worker thread creates and drives: takes a connect
// request and mirrors the state of the OpenVPN process control it owns.
class Connection : public PlatformConnectionCustom
{
    Q_OBJECT
public:
    explicit Connection(QObject* parent = nullptr);

    bool initialize() { return openManager_.initialize(); }
    bool tapInstalled() { return openManager_.tapInstalled(); }
    bool attachAvailable() const { return openManager_.attachAvailable(); }
    bool attach() { return openManager_.attach(OPENVPN_QATTACH_MAX_WAIT_SECONDS, false, nullptr); }
    // The only call made from another thread.
    void resetCurrentConnecting() { openManager_.resetCurrentConnecting(); }
    void clearResetRequest() { openManager_.clearResetRequest(); }
    void writeOpenVpnCommand(const QString& cmd) { openManager_.writeOpenVpnCommand(cmd); }
    // `bEmitSignal` has no effect.
    void disconnect(bool bEmitSignal = true);

    QOpenVPN2* openManager() { return &openManager_; }

signals:
    void connected();
    void disconnected(bool errorDisconnect);
    void error(QString error);

protected slots:
    void doConnect() override;

private slots:
    void openManagerStateChanged(Constants::ConnectState oldState, Constants::ConnectState newState);
    void doLog(QString msg);

private:
    int timerId_ = 0;
    QOpenVPN2 openManager_;
};
