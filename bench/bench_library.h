// The library under measurement, in one of two set-ups: plain timing, or
// every unit of work traced (trace_enabled_via_em, the trace job run only by
// drainTraces). Switching set-up ends and re-initialises the library; call
// useLibrary from a benchmark's first thread before its loop (the loop's start
// holds the other threads back).
#pragma once

enum class LibraryMode { Plain, Traced };

void useLibrary(LibraryMode mode);
// Sends the queued traces and metrics and empties the metric data file, so a
// long traced run keeps neither memory nor disk.
void drainTraces();
void endLibrary();
