// CMTCallRecord: one timed call of a context, from its start to its end or
// termination, and its place in the call tree.
//
// Units: ticks and elapsed times in milliseconds (the millisecond tick of
// common/clock.h), CPU times in microseconds, -1 for a time not measured.
// Each begin and each end/terminate passes exactly one update to the
// performance record of the timing key.
//
// A record belongs to its context (which owns every record it created, linked
// into the tree or not) and is used only by that context's thread, so it has
// no lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mox/config/perf_metric_scope.h"
#include "mox/context/call_params.h"
#include "mox/context/timing_key.h"
#include "mox/metrics/perf_update.h"

class CPerfDataManager;
class TraceRecordWriter;

// What a call record reads at its begin and end, fixed for a library's life;
// the registry owns it and hands it down.
struct CallSettings {
  CPerfDataManager* metrics = nullptr;  // where the calls' performance records are
  PerfMetricScope scope = PerfMetricScope::kElapsed;
  uint32_t skipTimesBelowThreshold = 0;
  bool startTimeWithMillis = false;  // agent_type is not 0
};

// The moment a trace is built: a call still running shows its times up to it.
// Both clocks are read on first need only, since a finished unit of work has
// no running call.
class TraceMoment {
 public:
  // On the calls' own thread: their running CPU times can be read.
  static TraceMoment ofThisThread() { return TraceMoment(true); }
  // On another thread (the scan): running CPU times are not measured (-1).
  static TraceMoment ofOtherThread() { return TraceMoment(false); }
  uint32_t tick() const;
  // CPU microseconds of the calls' thread now; -1 when not readable here.
  int64_t threadCpuUs() const;

 private:
  explicit TraceMoment(bool ownThread) : ownThread_(ownThread) {}
  bool ownThread_;
  mutable bool tickRead_ = false;
  mutable bool cpuRead_ = false;
  mutable uint32_t tick_ = 0;
  mutable int64_t cpuUs_ = -1;
};

class CMTCallRecord {
 public:
  enum Status : uint16_t { Running = 0, Ended = 1, TerminatedWithTimes = 2, TerminatedWithoutTimes = 3 };

  // skipped: the key's component is listed in skip_times_in_names. settings
  // must outlive the record.
  CMTCallRecord(const CallSettings& settings, std::u16string timingKey, uint32_t recId, CMTCallRecord* parent,
                bool traceOn, bool skipped);
  CMTCallRecord(const CMTCallRecord&) = delete;
  CMTCallRecord& operator=(const CMTCallRecord&) = delete;
  // Makes a finished record a new one, as the constructor would, keeping the
  // memory of its key, children and parameters for reuse, and, for the same
  // key, the performance record its updates went to (used only while its
  // section is current; section serials are unique in the process, so a
  // record reused with another registry's store never takes it).
  void restart(const CallSettings& settings, const TimingKeyView& timingKey, uint32_t recId, CMTCallRecord* parent,
               bool traceOn, bool skipped);

  // Takes the start tick (and the CPU time when it is needed) and counts the
  // call as active where its key is counted.
  void begin();
  // Ends the call normally; returns the end tick. atTop: the call was the
  // innermost open one when the host named it.
  uint32_t end(bool atTop);
  // Ends the call as aborted; returns the end tick, or -1 without times.
  int64_t terminate(bool atTop, bool withTimes);

  // Text of the start time of a call without parent ("" for the others),
  // with milliseconds when agent_type is not 0. Formatted on demand so that
  // starting a call formats no text.
  std::u16string startTime() const;

  // The trace record (mox/trace/trace_record.h) of this call's XML element:
  // "event" for the first call of its context, "calledComponent" for the
  // others, with the children's elements (when withChildren), the "CPU Time
  // (us)" parameter and the parameters in code unit order, closing tag
  // included. A running call shows its duration and CPU time up to now.
  void appendTraceRecord(TraceRecordWriter& out, bool withChildren, const TraceMoment& now) const;
  // That element's text; names and values are escaped.
  std::u16string buildEventXml(bool withChildren) const;

  std::u16string timingKey;
  uint32_t recId;
  uint16_t status = Running;
  bool traceOn;
  bool traceOnly = false;
  uint32_t startTick = 0;
  int64_t cpuStart = -1;  // -1: not taken, or could not be read
  int32_t elapsedMs = 0;
  int64_t cpuUs = 0;
  int32_t netElapsedMs = 0;
  int64_t netCpuUs = 0;
  CMTCallRecord* parent;
  uint32_t offsetMs = 0;
  // In the call tree (the first call, or a child of its parent): kept until
  // the context is done. A call outside the tree is released when it ends.
  bool linked = false;
  std::vector<CMTCallRecord*> children;  // linked in start order; owned by the context
  CallParams params;

 private:
  // The opening tag, and the closing part after the children.
  void recordOpening(TraceRecordWriter& out, const TraceMoment& now) const;
  void recordClosing(TraceRecordWriter& out, const TraceMoment& now) const;
  // Takes elapsed and CPU times and derives the net times (own and parent's).
  // Inline into end and terminate, the timing path's end.
  __attribute__((always_inline)) inline void takeTimes(uint32_t now);
  bool timesWanted() const;
  // An update that carries the call's skipped mark to its record.
  PerfUpdate newUpdate() const;
  __attribute__((always_inline)) inline void sendToPerfRecord(bool addTimes, bool terminated);
  const CallSettings* settings_;
  bool skipped_;
  // The record the call's updates go to: Undecided until the first one has
  // gone to a record, which the later ones follow.
  PerfTarget perfTarget_ = PerfTarget::Undecided;
  // Spares the end the look-up of the record its begin found.
  PerfRecordMemo perfMemo_;
  // Wall-clock start in milliseconds since 1970, kept for the first call of a
  // context only; -1 otherwise.
  int64_t startWallMs_ = -1;
};
