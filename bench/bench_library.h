// The library under measurement, in one of a few set-ups: plain timing or
// every unit of work traced (trace_enabled_via_em, the trace job run only by
// drainTraces), writing to the metric data file or to a socket agent, with
// extra settings on top. Switching set-up ends and re-initialises the
// library; call useLibrary from a benchmark's first thread before its loop
// (the loop's start holds the other threads back).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

enum class LibraryMode { Plain, Traced };

// Extra (key, value) settings, applied after the set-up's own.
using LibrarySettings = std::vector<std::pair<std::u16string, std::u16string>>;

// True when it (re)started the library for this set-up.
bool useLibrary(LibraryMode mode, const LibrarySettings& extra = {});
// The settings that point the metric and trace senders at 127.0.0.1:port.
LibrarySettings socketAgentSettings(unsigned port);
// Sends the queued traces and metrics and empties the metric data file, so a
// long traced run keeps neither memory nor disk.
void drainTraces();
// The size of the metric data file in bytes.
uint64_t metricFileBytes();
// Empties the metric data file (after an interval written on purpose).
void emptyMetricFile();
void endLibrary();
