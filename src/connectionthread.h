#pragma once

#include "model/constants.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

class Connection;
class Model;

// The model's one worker thread. It creates the connection engine inside
// itself, so the engine, its processes and its management socket belong to
// this thread, and serves the requests the GUI thread posts: connect,
// disconnect, attach. There is no queue: one request may be pending, and
// posting it wakes the worker. The object itself belongs to the GUI thread; the
// first reaction to every engine state change (kill switch, DNS, IPv6 block)
// runs there, before the model's own.
class ConnectionThread : public QThread
{
    Q_OBJECT
    Q_PROPERTY(Connection* connection READ connection)

public:
    ConnectionThread(Model* model, QObject* parent);
    ~ConnectionThread() override;

    // The engine, created first thing in run(); null before and after. Safe
    // from any thread.
    Connection* connection() const { return m_connection.load(); }
    // Blocks the calling thread, without processing its events, until the
    // worker has published its engine; false when `maxWaitMs` passed first.
    bool waitForConnection(int maxWaitMs);

    // The worker's start-up checks (resolver script, OpenVPN's version and
    // adapter) start processes. Called before start(), this holds them until
    // releaseInitialization() or for at most `maxHoldMs`; the engine itself
    // is published at once all the same.
    void holdInitialization(int maxHoldMs);
    void releaseInitialization();

    bool connectionInitializeResult() const { return m_connectionInitializeResult.load(); }
    bool connectionTapInstalledResult() const { return m_connectionTapInstalledResult.load(); }
    // Probes the adapter again on the calling thread and keeps the answer.
    bool connectionTapInstalledResultUpdated();

    Constants::RequestedAction askedState() const { return m_askedState.load(); }
    // Posts a request; false when another one is still pending. A disconnect
    // always cuts a connect short, accepted or not: from the moment the
    // connect is asked for until it has reached Connected (after that, the
    // worker disconnects once the connect has returned).
    bool askState(Constants::RequestedAction needState);

    // GUI-thread waits that keep the window's events flowing.
    // True once the worker's start-up handshake is done.
    bool waitInitializeCompleted(int maxWaitSeconds);
    // Until no request is pending and the state reaction has caught up with
    // the engine; true when a request is still pending at the end.
    bool waitWorkCompleted(int maxWaitSeconds);

    // Ends the worker; gives up (with a warning) after two minutes.
    void finalize();

    // A management command for the engine; the worker hands it over on its
    // next pass.
    void writeOpenVpnCommand(const QString& cmd);

    // Longest time finalize() waits for the worker.
    static constexpr int FinalizeLimitSeconds = 120;

public slots:
    // The reaction to each state change of the engine: the system's first
    // (kill switch, resolver, local network), then the model's, in the
    // order of the changes, also when the system's reactions end out of
    // order (a later change reacted to inside an earlier one's waits).
    void onConnectionStateChanged(Constants::ConnectState oldState, Constants::ConnectState newState, bool withError);

private slots:
    // After the worker served a request: a connect that ended without a
    // state change (cancelled before it began) no longer shows as one.
    void onRequestServed();

protected:
    void run() override;

private:
    // Returns once the initialisation is released, its hold has run out or
    // the worker is asked to end.
    void waitForInitializationRelease();
    void doConnect();
    void doDisconnect();
    void writeOpenVpnCommands();
    void serve(Constants::RequestedAction request);
    // finalize(): asks the engine to give up the request being served.
    void cutShortRequestInService();
    // The idle worker sleeps at most `maxMs`, and less once a request, a
    // command or the end is posted.
    void waitForWork(unsigned long maxMs);
    void wakeWorker();
    // The system's reaction to one state change; `reaction` is its number.
    void reactOnSystem(quint64 reaction, Constants::ConnectState oldState, Constants::ConnectState newState);
    // Hands the model every change whose system reaction and all before it
    // have ended, in order; not again while it does.
    void handOnToModel();

    std::atomic<Constants::RequestedAction> m_askedState { Constants::RequestedAction_None };
    QMutex m_workMutex;
    QWaitCondition m_workPosted;
    Model* m_model = nullptr;
    std::atomic<Connection*> m_connection { nullptr };
    // Wakes waitForConnection() as soon as the engine is published, and the
    // held worker once its initialisation is released.
    QMutex m_startUpMutex;
    QWaitCondition m_connectionPublished;
    QWaitCondition m_initializationReleased;
    int m_initializationHoldMs = 0;
    bool m_initializationHeld = false;
    std::atomic<bool> m_connectionInitializeResult { false };
    std::atomic<bool> m_connectionTapInstalledResult { false };
    std::atomic<bool> m_connectionInitializeCompleted { false };
    std::atomic<bool> m_finalize { false };
    // While finalize() touches the engine, the worker does not delete it.
    std::atomic<int> m_guiUsingEngine { 0 };
    // Written by the GUI thread, taken by the worker; the atomic flag tells
    // the worker that a new text is there.
    QString m_writeOpenVpnCommand;
    std::atomic<bool> m_writeOpenVpnCommandPending { false };
    Constants::ConnectState m_onConnectionStateChangedCompletedState = Constants::ConnectState_Disconnected;
    // State reactions begun so far: only the one begun last may complete its
    // state, also when an older one, which it ran inside, ends after it.
    quint64 m_reactionsStarted = 0;
    // Changes not yet handed on to the model, in order.
    struct ModelReaction
    {
        quint64 reaction;
        Constants::ConnectState oldState;
        Constants::ConnectState newState;
        bool withError;
        bool systemDone;
    };
    QList<ModelReaction> m_modelReactions;
    bool m_handingOnToModel = false;
    // The credentials of the pending connect, copied on the GUI thread when
    // it is posted, so the worker never reads the model's own strings while
    // the user may be editing them.
    QString m_connectUsername;
    QString m_connectPassword;
    // A request whose serving threw is tried again this many times.
    int m_failedServings = 0;
    // A disconnect was asked while a connect was pending or being served.
    // Set by the GUI thread, cleared when it posts the next connect and
    // taken by the worker.
    std::atomic<bool> m_cancelConnect { false };
};
