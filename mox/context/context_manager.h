// CMTContextManager: a library's registry of contexts, one per session key,
// and the cores behind the context and timing exports.
//
// The registry is striped into N buckets (N a power of two, at least 4, from
// the configuration at init()); each bucket is an ordered map with its own
// readers-writer lock. Lookups take the bucket lock shared, insertion, removal
// and the zombie/empty scan take it exclusive. A context itself has no lock:
// it is used by the one host thread of its session key (or, for the Ex keys,
// by one caller at a time) and by the scan.
//
// A core works on a looked-up context while still holding its bucket lock
// shared (ContextRef), so the scan and removals, which need the lock
// exclusively, can never destroy a context under it; a thread's own kept
// context is held by its taken mark instead (idle_mark.h), which its thread
// takes without the lock.
//
// At most max_open_contexts contexts are in memory at once (0: no bound):
// the registered ones, and the one finished context each thread keeps to
// serve its next unit of work, which keeps its place so that a thread's
// units of work one after another count nothing. A unit of work that would
// need one more is refused (its start returns 0, its MOX_initContext does
// nothing) and counted in the built-in resource kRefusedContextCount. Units
// of work already open are not affected.
//
// Lock order: bucket lock, then the store locks (performance and trace data),
// then the trace-log lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/u16_less.h"
#include "mox/config/configuration.h"
#include "mox/config/process_identity.h"
#include "mox/context/context.h"
#include "mox/metrics/perf_data_manager.h"
#include "mox/trace/trace_data_manager.h"
#include "thr/thr.h"

// A looked-up context. The reference keeps its bucket's lock in shared mode
// until it is released, so neither the scan nor a removal (both exclusive)
// can destroy the context while a core works on it; a thread's own context
// (idle_mark.h) is held by its taken mark instead, with or without the lock.
// Release it before taking any bucket lock or context again.
class ContextRef {
 public:
  ContextRef() = default;
  // heldMark: the context's mark, held by this user as hold says (nullptr: no mark).
  ContextRef(CMTContext* context, ThrRwLock* heldLock, IdleMark* heldMark = nullptr, MarkHold hold = MarkHold::None)
      : context_(context), lock_(heldLock), mark_(heldMark), hold_(hold) {}
  ContextRef(ContextRef&& other) noexcept
      : markOnRelease_(other.markOnRelease_),
        context_(other.context_),
        lock_(other.lock_),
        mark_(other.mark_),
        hold_(other.hold_) {
    other.context_ = nullptr;
    other.lock_ = nullptr;
    other.mark_ = nullptr;
  }
  ContextRef& operator=(ContextRef&& other) noexcept;
  ContextRef(const ContextRef&) = delete;
  ContextRef& operator=(const ContextRef&) = delete;
  // Inline for the common case of the timing path: a thread's own context
  // held by its thread, outside any bucket lock.
  ~ContextRef() {
    if (mark_ != nullptr && lock_ == nullptr && hold_ == MarkHold::Owner && markOnRelease_ == IdleMark::InUse) {
      mark_->ownerRelease(IdleMark::InUse);
      return;
    }
    release();
  }

  CMTContext* get() const { return context_; }
  CMTContext* operator->() const { return context_; }
  explicit operator bool() const { return context_ != nullptr; }
  // Whether the context's mark is held by this reference.
  bool holdsMark() const { return mark_ != nullptr; }
  // The state the taken mark is given back in (InUse unless set).
  void releaseMarkAs(IdleMark::State state) { markOnRelease_ = state; }
  // Gives the taken mark back now, in state (the lock stays held).
  void giveMarkNow(IdleMark::State state);
  // Ends the use early (before the context is removed by its own user).
  void release();

 private:
  // Not beside hold_: the two are written one by one, and a check of both
  // read as one word would wait for both writes to reach the cache.
  IdleMark::State markOnRelease_ = IdleMark::InUse;
  CMTContext* context_ = nullptr;
  ThrRwLock* lock_ = nullptr;
  IdleMark* mark_ = nullptr;
  MarkHold hold_ = MarkHold::None;
};

// The count of places taken under the context bound.
struct ContextPlaces;

// Who calls a timing core with the key: a host's session key, or the thread
// whose own key it is (the exports without a session-id function), whose
// context may then stay registered between its units of work (idle_mark.h).
enum class KeyOwner { Host, Thread };

class CMTContextManager {
 public:
  CMTContextManager();
  ~CMTContextManager();  // destroys every context still registered
  CMTContextManager(const CMTContextManager&) = delete;
  CMTContextManager& operator=(const CMTContextManager&) = delete;

  // Reads the configuration once: bucket count, context bound, skip names,
  // the two component threshold maps, the call records' settings; keeps
  // references to the configuration (its contexts read the run-time
  // thresholds), the process identity and the two stores, which must outlive
  // the registry. Until it has run, no context is registered and the timing
  // cores return 0 / do nothing.
  void init(const CConfiguration& cfg, const ProcessIdentity& identity, CPerfDataManager& metrics,
            CMTTraceDataManager& traces);

  // What init was given (only after init).
  const CConfiguration& config() const { return *config_; }
  const ProcessIdentity& identity() const { return *identity_; }
  CPerfDataManager& metrics() const { return *callSettings_.metrics; }
  CMTTraceDataManager& traces() const { return *traces_; }
  const CallSettings& callSettings() const { return callSettings_; }

  // ---- registry ---------------------------------------------------------
  uint16_t bucketCount() const { return static_cast<uint16_t>(buckets_.size()); }
  // Bucket index of a session key (0 before init()).
  size_t bucketOf(std::u16string_view key) const;
  // Looks the key up under the bucket lock (shared), refreshes its
  // lastAccessTick and keeps the lock while the reference lives; empty when
  // not registered (a thread's idle kept context counts as not registered).
  ContextRef findContext(std::u16string_view key) { return lookUp(key, AccessStamp::ByLookUp); }
  // Adds context under key (exclusive). An existing entry stays and the new
  // context is dropped: returns false then (and before init(), and when the
  // context bound refuses it).
  bool insertContext(const std::u16string& key, std::unique_ptr<CMTContext> context);
  // Number of registered contexts, idle kept ones aside (takes every bucket
  // lock shared in turn).
  size_t contextCount() const;

  // ---- configuration derived at init() ----------------------------------
  // True when timingKey begins with one of the skip names followed by "|".
  bool isSkipped(const TimingKeyView& timingKey) const { return !skipNames_.empty() && isSkippedByName(timingKey); }
  // Copy the manager's map into target when it is not empty (shared lock);
  // return whether it was not empty.
  bool copyComponentThresholds(ComponentLevels& target) const;
  bool copyComponentTraceThresholds(ComponentLevels& target) const;
  // Run-time changes (exclusive lock): insert or set. Contexts created or
  // re-initialised afterwards see the new level.
  void setComponentThreshold(const std::u16string& component, uint16_t level);
  void setComponentTraceThreshold(const std::u16string& component, uint16_t level);

  // ---- the zombie and empty scan (data dispatcher thread) ----------------
  // Removes every context not looked up for emptyTimeoutMs (never timed) or
  // zombieTimeoutMs (timed and not finished), and, uncounted, the kept
  // contexts of ended threads. One bucket at a time, exclusive.
  void scanContexts(uint32_t zombieTimeoutMs, uint32_t emptyTimeoutMs);

  // ---- the cores of the exports -----------------------------------------
  void initContext(const std::u16string& key, const std::u16string& passport);
  // recId of the new call, 0 when it is not timed. With KeyOwner::Thread,
  // a finished unit of work leaves its context registered and idle for the
  // thread's next one.
  uint32_t startTiming(const std::u16string& key, std::u16string_view component, std::u16string_view method,
                       uint16_t level, KeyOwner owner = KeyOwner::Host);
  void endTiming(const std::u16string& key, uint32_t recId, KeyOwner owner = KeyOwner::Host);
  void terminateTiming(const std::u16string& key, uint32_t recId, KeyOwner owner = KeyOwner::Host);
  void terminateTimingAll(const std::u16string& key);
  // Information on the key's innermost open call (recId, traced contexts
  // only) or on its whole unit of work; nothing for an unknown key or a
  // terminated context.
  void appendInfo(const std::u16string& key, uint32_t recId, std::u16string_view name, std::u16string_view value,
                  bool toList);
  void appendContextInfo(const std::u16string& key, std::u16string name, std::u16string value);

 private:
  using ContextMap = std::map<std::u16string, std::unique_ptr<CMTContext>, U16Less>;
  // A map entry out of the map: a finished unit of work's node is kept and
  // reinserted for the thread's next one, which then allocates nothing.
  using ContextNode = ContextMap::node_type;
  enum class EndKind { End, Terminate };

  // Who refreshes lastAccessTick: the look-up with a clock read of its own,
  // or the timing cores with the tick their call read anyway.
  enum class AccessStamp { ByLookUp, ByCaller };
  // claimOwnKept: this thread's own idle context is claimed (in use again,
  // still Finished) and returned; any other kept context counts as absent.
  ContextRef lookUp(std::u16string_view key, AccessStamp stamp, bool claimOwnKept = false);

  void endOrTerminate(const std::u16string& key, uint32_t recId, EndKind kind, KeyOwner owner);
  // The first call of a unit of work in a context made fresh (renewed) for it.
  uint32_t startInRenewed(CMTContext& context, const TimingKeyView& timingKey, uint16_t level);
  // A finished context of the thread's own key stays registered, idle (its
  // ContextRef held).
  void keepRegistered(ContextRef& ref, const std::u16string& key);
  // At the bound, this thread's idle kept context leaves the registry and
  // becomes its spare, whose place a new unit of work of any key may take.
  void moveOwnKeptToSpare();
  // Removes the kept contexts of ended threads, giving back their places;
  // false when none was counted.
  bool removeOrphans();
  // Erases a kept context of bucket index and gives its place back (the
  // bucket's lock exclusive); false when its thread took it back meanwhile.
  [[nodiscard]] bool eraseKeptLocked(size_t index, ContextMap::iterator kept);
  // Empty or zombie, as the scan decides; false when the context stays.
  bool scanRemoves(const CMTContext& context, uint32_t ageMs, uint32_t zombieTimeoutMs, uint32_t emptyTimeoutMs) const;
  void destroyAllContexts();
  // A place for one more context under the bound, taken before the context
  // is made (false when refused, which is counted) and given back by the
  // holder's end unless a registered context keeps it.
  class ContextPlace {
   public:
    // heldAlready: the context comes with its place (the thread's spare).
    ContextPlace(CMTContextManager& manager, bool heldAlready)
        : manager_(manager), held_(heldAlready || manager.reserveContext()) {}
    ~ContextPlace() {
      if (held_) manager_.releaseContexts(1);
    }
    ContextPlace(const ContextPlace&) = delete;
    ContextPlace& operator=(const ContextPlace&) = delete;
    explicit operator bool() const { return held_; }
    void keep() { held_ = false; }

   private:
    CMTContextManager& manager_;
    bool held_;
  };
  bool reserveContext();
  void releaseContexts(size_t count);
  // Extracts key's entry (exclusive) and hands its node over with the
  // context and its place, or an empty node. The caller holds no ContextRef
  // to it any more.
  ContextNode removeContext(std::u16string_view key);
  void countRefusedContext();
  // The built-in counter of the contexts that the scan removes or the bound refuses.
  void increaseContextCounter(std::u16string_view resourceName) const;
  // Adds context under key on place, which it keeps when it is registered;
  // an idle kept context registered under key gives way (bucket lock held).
  bool insertOn(ContextPlace& place, const std::u16string& key, std::unique_ptr<CMTContext> context);
  // Removes the kept context registered under key, if any (bucket lock exclusive).
  void removeKeptLocked(size_t index, std::u16string_view key);
  // The same with a ready node (its key set); false drops it.
  bool insertNodeOn(ContextPlace& place, ContextNode node);

  const CConfiguration* config_ = nullptr;
  const ProcessIdentity* identity_ = nullptr;
  CMTTraceDataManager* traces_ = nullptr;
  CallSettings callSettings_;

  std::vector<std::u16string> skipNames_;
  std::vector<ThrRwLock*> bucketLocks_;
  // Own cache line per bucket: threads of different buckets insert and
  // remove at the same time without sharing the map headers' line.
  struct alignas(64) Bucket {
    ContextMap contexts;
    // Counts the removals from this bucket (changed only under its exclusive
    // lock): a context remembered by a thread at generation g is still
    // registered while the generation is still g.
    uint64_t removals = 0;
  };
  // The look-up of key under the held shared lock of bucket index;
  // rememberedKey: key is the one this thread looked up last in this manager.
  CMTContext* lookUpLocked(size_t index, std::u16string_view key, bool rememberedKey);
  // isSkipped's search of the names.
  bool isSkippedByName(const TimingKeyView& timingKey) const;
  std::vector<Bucket> buckets_;

  uint32_t contextBound_ = 0;  // max_open_contexts, set by init()
  // The places taken, under a bound only (else nullptr); shared with the
  // spare contexts, which may outlive the registry.
  std::shared_ptr<ContextPlaces> places_;
  std::atomic<bool> contextBoundTraced_{false};

  ThrRwLock* thresholdLock_ = nullptr;
  ComponentLevels componentThresholds_ GUARDED_BY(thresholdLock_);
  ThrRwLock* traceThresholdLock_ = nullptr;
  ComponentLevels componentTraceThresholds_ GUARDED_BY(traceThresholdLock_);
  // Tells this manager apart from an earlier one at the same address.
  const uint64_t serial_;
};
