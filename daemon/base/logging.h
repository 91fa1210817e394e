// Every status and error message of the daemon: to standard output in full,
// and to the event log under the source "Quellix" as an information event.
#pragma once

#include <atomic>
#include <cstdint>

namespace qx {

// The verbosity LogMessage is gated by. The program's settings own it (its
// -v option) and hand it over where they are defined, before main runs;
// without them it reads as 0.
void GateLogOn(const std::atomic<int32_t>* verbosity);

// Opens the event source; 0 on success, -1 when no handle was returned.
int RegisterEventLogSource();
// Closes the event source; later messages reach standard output only.
void DeregisterEventLogSource();

// Writes the message when the verbosity is above threshold.
void LogMessage(int32_t threshold, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Writes the message whatever the verbosity.
void LogAlways(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reports the text, cut at 255 bytes, when an event source is open.
void ReportToEventLog(const char* text);

}  // namespace qx
