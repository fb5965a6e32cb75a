#pragma once

#include <QDebug>
#include <QFileDevice>
#include <QString>

// Waits `ms` milliseconds while the calling thread keeps processing every
// kind of event (a local event loop ended by a single-shot timer). The thread
// must have an event dispatcher.
void processMessages(int ms);

// A bounded wait in steps: each wait() pumps events for one interval.
struct WaitLoop
{
    int m_totalTime = 0; // ms left
    int m_interval = 0; // ms per step

    // Pumps events for one interval; true while time is left.
    bool wait();
};

// The files the client writes (settings, log and its copies, caches,
// configuration files) hold credentials, the environment and the user's
// choices: they are the user's alone, files 0600 and their directories 0700.
// Modes are set on each file explicitly; the process umask is left alone, as
// the scripts the client starts inherit it.
QFileDevice::Permissions privateFileMode();

// Gives an existing file mode 0600, a directory 0700. A symbolic link is
// left as it is (its target is not the client's to change).
bool makePrivate(const QString& path);

// The same for an open file, before anything is written to it. A QSaveFile
// passes the mode on to the file it commits.
bool makePrivate(QFileDevice& file);

// Creates `dir` when missing and gives it mode 0700.
bool makePrivateDirectory(const QString& dir);

// Makes `dir` and everything below it private; run at start-up over the data
// directory, for files left by earlier versions.
void makeTreePrivate(const QString& dir);

// Every signal connection made in code is checked: a failed connect is logged
// with its statement (and stops a debug build).
#define ASSERT_CONNECT(connectExpression)                                                                              \
    do {                                                                                                               \
        const bool connected_ = static_cast<bool>(connectExpression);                                                  \
        if (!connected_)                                                                                               \
            qCritical().noquote() << Q_FUNC_INFO << "connect failed:" << #connectExpression;                           \
        Q_ASSERT_X(connected_, Q_FUNC_INFO, #connectExpression);                                                       \
    } while (false)
