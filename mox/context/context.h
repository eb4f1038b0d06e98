// CMTContext: the state of one unit of work (one session key): its open calls
// and call tree, its thresholds, its passport data and what decides when a
// transaction trace is produced.
//
// A context has no lock: it is used by the host thread of its session key and,
// while nobody uses it, by the scan of the registry. The registry owns it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mox/context/call_record.h"
#include "mox/context/idle_mark.h"
#include "mox/context/owned_passport.h"
#include "mox/context/timing_key.h"
#include "mox/context/trace_mode.h"

// Component name -> instrument level threshold, ordered by UTF-16 code units.
using ComponentLevels = std::map<std::u16string, uint16_t, std::less<>>;

class CMTContextManager;

class CMTContext {
 public:
  enum State : uint16_t { Empty = 0, Active = 1, Finished = 2, Terminated = 3 };

  // A new context with the global thresholds only (created by startTiming).
  explicit CMTContext(const CMTContextManager& manager);
  // A new context opened by initContext with a passport: the passport fields
  // and the component threshold copies are set.
  CMTContext(const CMTContextManager& manager, const std::u16string& passport);
  ~CMTContext();
  CMTContext(const CMTContext&) = delete;
  CMTContext& operator=(const CMTContext&) = delete;

  // initContext on a registered key: back to empty with the new passport.
  void reuse(const std::u16string& passport);
  // A finished context made a new one without passport, as the first
  // constructor would, for manager; its records are kept for reuse. It reads
  // no clock: the caller stamps it (stampCreated) with its first call's tick.
  void renew(const CMTContextManager& manager);
  // Sets createdTick and lastAccessTick.
  void stampCreated(uint32_t tick);

  // ---- timing --------------------------------------------------------------
  // Level threshold of timingKey; mode 1 gives the trace default.
  uint16_t thresholdFor(const TimingKeyView& timingKey, TraceMode mode) const {
    const bool byComponent = traceOn == TraceMode::On ? hasComponentTraceThresholds : hasComponentThresholds;
    if (!byComponent) return mode == TraceMode::On ? traceLevelThreshold : levelThreshold;
    return componentThresholdFor(timingKey, mode);
  }
  // recId of the new call, 0 when level is not timed.
  uint32_t startTiming(const TimingKeyView& timingKey, uint16_t level);
  // True when the call took an end tick, which is then the context's
  // lastAccessTick (as the start tick of a timed call is).
  bool endTiming(uint32_t recId);
  bool terminateTiming(uint32_t recId);
  // Terminates every open call without times; the context refuses timing
  // until it is re-initialised.
  void terminateAll();

  // ---- information (dropped unless its conditions hold) ------------------
  // On the innermost open call, when it is recId and the context is traced:
  // replaces the value of name, or (toList) appends "," and value to it.
  void appendInfo(uint32_t recId, std::u16string_view name, std::u16string_view value, bool toList);
  // On the whole unit of work, traced or not: replaces the value of name.
  void appendContextInfo(std::u16string name, std::u16string value);

  // ---- transaction traces ---------------------------------------------------
  // One line each, ending in a line feed; empty while no call was timed.
  // Names and values are escaped. Running calls show their times so far.
  // The whole tree, then the passport parameter and the context information.
  std::u16string buildTrace() const;
  // The first call alone, marked as an error snapshot.
  std::u16string buildTooLargeSnapshot() const;
  std::u16string buildMaxComponentsSnapshot() const;
  // For the scan, on another thread: the whole tree, or the first call alone
  // when the trace has grown past tracesize_threshold.
  std::u16string buildZombieTrace() const;

  // Trace GUID, generated on first use when the passport did not give one.
  const std::u16string& guid() const;
  // The records still open, innermost last.
  const std::vector<CMTCallRecord*>& openCalls() const { return callStack_; }
  size_t recordCount() const { return recordsInUse_; }
  size_t spareRecordCount() const { return records_.size() - recordsInUse_; }
  // The registry the context belongs to.
  const CMTContextManager& manager() const { return *manager_; }

  // ---- fields (read by the trace builders, set by the passport handling) ---
  State state = Empty;
  TraceMode traceOn = TraceMode::Off;
  uint16_t passportTraceFlag = 0;
  uint16_t passportTraceLevel = 0;
  uint16_t levelThreshold = 0;
  uint16_t traceLevelThreshold = 0;
  uint32_t nextRecId = 1;
  CMTCallRecord* root = nullptr;
  std::u16string passport;
  mutable std::u16string traceGuid;
  OwnedPassport passportHandle;  // the end-to-end passport read or handed on
  std::u16string rootContextId;
  std::u16string connectionId;
  uint32_t connectionCounter = 0;
  std::u16string transactionId;
  std::u16string outConnectionId;
  uint32_t outCounter = 0;
  std::map<std::u16string, std::u16string> contextInfo;
  uint32_t traceSize = 0;
  bool collectTree = true;
  bool hasComponentThresholds = false;
  bool hasComponentTraceThresholds = false;
  bool previewSent = false;
  bool autoTraceSent = false;
  ComponentLevels componentThresholds;
  ComponentLevels componentTraceThresholds;
  uint32_t createdTick = 0;
  // Set by every use (from the tick the call read, or a look-up's own), read by the scan.
  std::atomic<uint32_t> lastAccessTick{0};
  // Set while the context is its thread's own, kept registered between the
  // thread's units of work (idle_mark.h); empty for other contexts.
  std::shared_ptr<IdleMark> idleMark;

 private:
  // Which passport parameter a trace carries: the full trace completes a
  // passport beginning with "*" by the GUID; the max-components snapshot has
  // none without a passport.
  enum class PassportParam { WithGuid, Plain, WhenPresent };
  struct TraceShape {
    bool withChildren;
    std::array<std::u16string_view, 3> errors;  // parameters before the passport's
    PassportParam passport;
  };
  enum class TraceKind { Full, TooLarge, MaxComponents };
  static TraceShape shapeOf(TraceKind kind);
  // Appends the trace record (mox/trace/trace_record.h) of shape to out;
  // nothing while no call was timed or when the call tree has no event
  // element at its root.
  void recordTrace(std::u16string& out, const TraceShape& shape, const TraceMoment& now) const;
  std::u16string buildText(const TraceShape& shape, const TraceMoment& now) const;
  // Builds the trace of kind on this thread and hands it to the trace store.
  void queueTrace(TraceKind kind) const;
  // traceSize grows by amount, stopping at its maximum (on every timed call).
  void growTraceSize(uint64_t amount) {
    const uint64_t grown = static_cast<uint64_t>(traceSize) + amount;
    traceSize = grown > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(grown);
  }

  void setGlobalThresholds();
  // Passport fields and trace switch (context_passport.cpp); atCreation
  // decides the level-2 lines.
  void applyPassport(const std::u16string& newPassport, bool atCreation);
  void copyManagerThresholds();
  // Empties the call tree; the records are kept for the next calls.
  void clearCallTree();
  CMTCallRecord* newRecord(const TimingKeyView& timingKey, CMTCallRecord* parent, bool skipped);
  // newRecord's record when no spare one is left.
  CMTCallRecord* madeRecord(const TimingKeyView& timingKey, CMTCallRecord* parent, bool skipped);
  // thresholdFor with the component maps to search.
  uint16_t componentThresholdFor(const TimingKeyView& timingKey, TraceMode mode) const;
  // Pops and terminates without times every open call with a recId above recId.
  void closeCallsAbove(uint32_t recId);
  // A call that has ended outside the call tree goes back to the spare
  // records: with the tree full, a long unit of work holds only its open calls.
  void releaseIfUnlinked(CMTCallRecord* ended);
  // sinceCreation: ms from creation to the end tick, -1 without one.
  void runTraceChecks(int64_t sinceCreation);
  // Shared by endTiming and terminateTiming.
  bool closeCall(uint32_t recId, bool terminating);

  const CMTContextManager* manager_;
  std::vector<CMTCallRecord*> callStack_;
  // The records of this context: the first recordsInUse_ are in use (the
  // call tree and the open calls, in the order their calls started), the
  // rest are spare, ready for new calls. A unit of work's calls thus get the
  // records of the previous unit's calls in the same order (and, for the
  // same keys, their performance records), without moving them around.
  std::vector<std::unique_ptr<CMTCallRecord>> records_;
  size_t recordsInUse_ = 0;
};
