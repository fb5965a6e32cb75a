#include "unix/connection.h"

#include "log.h"
#include "utils.h"

Connection::Connection(QObject* parent)
    : PlatformConnectionCustom(parent)
    , openManager_(this)
{
    ASSERT_CONNECT(
        QObject::connect(&openManager_, &QOpenVPN2::stateChanged, this, &Connection::openManagerStateChanged));
    ASSERT_CONNECT(QObject::connect(&openManager_, &QOpenVPN2::error, this, &Connection::error));
    ASSERT_CONNECT(QObject::connect(&openManager_, &QOpenVPN2::log, this, &Connection::doLog));
}

void Connection::doConnect()
{
    try {
        qDebug().noquote() << Q_FUNC_INFO;
        if (!Constants::isOpenVpnProtocol(m_conectionParams.protocol)) {
            qCritical().noquote() << Q_FUNC_INFO << "not an OpenVPN protocol:"
                                  << Constants::protocolTypeToStr(m_conectionParams.protocol);
            return;
        }
        qDebug().noquote() << Q_FUNC_INFO << "Do connect to OpenVPN";
        if (!openManager_.attach(OPENVPN_ATTACH_MAX_WAIT_SECONDS, false, nullptr))
            openManager_.connect(m_conectionParams);
    }
    ALOG_CATCHALL("Connection::doConnect")
}

void Connection::disconnect(bool bEmitSignal)
{
    Q_UNUSED(bEmitSignal)
    try {
        if (!isDisconnectedState() && !isDisconnectingState()) {
            setState(Constants::ConnectState_Disconnecting);
            openManager_.disconnect();
        }
    }
    ALOG_CATCHALL("Connection::disconnect")
}

void Connection::openManagerStateChanged(Constants::ConnectState oldState, Constants::ConnectState newState)
{
    Q_UNUSED(oldState)
    // Carries whether the end came unasked (server gone, OpenVPN died).
    setState(newState, openManager_.withError());
}

void Connection::doLog(QString msg)
{
    qDebug().noquote() << msg;
}
