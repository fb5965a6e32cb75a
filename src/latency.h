#pragma once

#include <QString>

class GetLocations;

// Latency measurement with the system's ping: a scheduler thread that starts
// batches of five workers while locations wait in the GetLocations queue.

constexpr int kPingWorkersPerBatch = 5;
constexpr int kPingTries = 3;

// The scheduler; returns 0 when the context stops.
int mainPingThreadFunction(GetLocations& context);
// One worker: measures queued locations until the queue is empty or the
// context stops; returns 0.
int pingThreadFunction(GetLocations& context, bool debugPing);

// Time-out of one ping run: 3000, 4000 and 5000 ms for tries 1 to 3.
int pingTimeoutMs(int attempt);

// The whole milliseconds of the average from ping's summary line (the value
// after the first "/" that follows the last "=" of the last non-empty line).
bool parsePingResult(const QString& output, int& ms);
