#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Small pieces of the model's window, display and single-instance code that
// do not need the model itself.

// The display scale factor: physical over logical dots per inch. A logical
// value that is not a number or lies outside [5, 10000] counts as 96; such a
// physical value counts as the logical one.
double displayScaleFactor(qreal logicalDpi, qreal physicalDpi);

// How long ago, for the connection timer: "59s", "5m:7s", "1h:0m", "1d:1h".
QString elapsedTimeText(qint64 seconds);

// What the single-instance server writes to every client: a 16-bit length of
// the rest, then the text "I'm hear" as a QDataStream (Qt 4.0 format) string.
QByteArray ipcAnswerFrame();

// Connects to a running instance's single-instance server, which brings that
// instance's window up, and waits at most `timeoutMs` for its answer. True
// when a running instance answered.
bool activateRunningInstance(int timeoutMs);
