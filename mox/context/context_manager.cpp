#include "mox/context/context_manager.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <utility>

#include "common/clock.h"
#include "common/u16_equal.h"
#include "common/utf.h"
#include "dptrc/dptrc.h"
#include "mox/config/component_lists.h"
#include "mox/config/configuration.h"
#include "mox/context/context_hash.h"
#include "mox/metrics/perf_data_manager.h"
#include "mox/trace/trace_data_manager.h"
#include "port/fork.h"
#include "port/spin_wait.h"
#include "port/thread_exit.h"
#include "port/thread_local.h"
#include "thr/thr_guards.h"

struct ContextPlaces {
  std::atomic<size_t> taken{0};
  // Of the places taken, those held by kept contexts of ended threads
  // (idle_mark.h): a refused place looks for these only when there are any.
  std::atomic<size_t> orphaned{0};
};

namespace {

struct SpareContext;
struct OwnKeptContext;
struct LookUpMemo;
// This thread's own state of the registry (ThreadState below).
SpareContext& threadSpare();
OwnKeptContext& threadOwnKept();
LookUpMemo& threadLookUpMemo();

// The map node of this thread's last finished unit of work, with its context
// and records, kept to serve the thread's next one: a unit of work then
// allocates neither its map entry (the key's memory included) nor its
// context and calls. Renewed for whichever manager uses it. It keeps its
// place under the bound of the registry that counted it, given back when the
// thread ends (the count outlives the registry).
using ContextNode = std::map<std::u16string, std::unique_ptr<CMTContext>, U16Less>::node_type;
struct SpareContext {
  SpareContext() = default;
  SpareContext(const SpareContext&) = delete;
  SpareContext& operator=(const SpareContext&) = delete;
  ~SpareContext() {
    if (node && countedIn) countedIn->taken.fetch_sub(1, std::memory_order_relaxed);
  }
  ContextNode node;  // empty, or a node whose context is set
  // The places the node's context counts in (nullptr: none). Kept while the
  // context is out serving a unit of work, so that keeping it again copies nothing.
  std::shared_ptr<ContextPlaces> countedIn;
};
bool spareHoldsPlaceIn(const std::shared_ptr<ContextPlaces>& places) {
  const SpareContext& spare = threadSpare();
  return !spare.node.empty() && spare.countedIn == places;
}

// A node of a new context under key: the first unit of work of a thread pays
// for its node once; later ones reuse it as the spare.
ContextNode newContextNode(const CMTContextManager& manager, const std::u16string& key) {
  std::map<std::u16string, std::unique_ptr<CMTContext>, U16Less> maker;
  maker.emplace(key, std::make_unique<CMTContext>(manager));
  return maker.extract(maker.begin());
}

// The spare or a new node under key, for manager; a spare counted under
// another registry's places gives its place there back (the caller took one
// here).
ContextNode spareOrNewNode(const CMTContextManager& manager, const std::shared_ptr<ContextPlaces>& places,
                           const std::u16string& key) {
  SpareContext& spare = threadSpare();
  if (spare.node.empty()) return newContextNode(manager, key);
  if (spare.countedIn != places && spare.countedIn) spare.countedIn->taken.fetch_sub(1, std::memory_order_relaxed);
  ContextNode node = std::move(spare.node);
  node.key().assign(key);  // keeps the key's memory when it fits
  node.mapped()->renew(manager);
  node.mapped()->idleMark.reset();
  return node;
}

// A finished context's node, with its place under places, becomes the
// spare; when a spare is kept already, it is dropped and its place given back.
void keepAsSpare(ContextNode finished, const std::shared_ptr<ContextPlaces>& places) {
  if (finished.empty()) return;
  SpareContext& spare = threadSpare();
  if (!spare.node.empty()) {
    if (places) places->taken.fetch_sub(1, std::memory_order_relaxed);
    return;
  }
  spare.node = std::move(finished);
  if (spare.countedIn != places) spare.countedIn = places;
}

// This thread's own context kept registered between its units of work
// (idle_mark.h): its mark, and the registry and key it is registered under.
// When the thread ends, the context is left to the registry as orphaned.
struct OwnKeptContext {
  OwnKeptContext() = default;
  OwnKeptContext(const OwnKeptContext&) = delete;
  OwnKeptContext& operator=(const OwnKeptContext&) = delete;
  ~OwnKeptContext() { orphan(); }
  // The context no longer serves this thread: the registry may remove it.
  // Unless the registry has dropped it already (each decides while it holds
  // the mark).
  void orphan() {
    if (!mark) return;
    // A claimer holds it for one step under its bucket lock.
    while (!mark->ownerTryHold()) portYieldThread();
    const bool idle = mark->state() == IdleMark::Idle;
    if (!idle) {
      mark->ownerRelease();
      return;
    }
    mark->ownerRelease(IdleMark::Orphaned);
    if (places) places->orphaned.fetch_add(1, std::memory_order_relaxed);
  }
  bool owns(const CMTContext& candidate) const { return mark != nullptr && candidate.idleMark == mark; }
  void forget() {
    mark.reset();
    context = nullptr;
  }

  std::shared_ptr<IdleMark> mark;
  // The context the mark is on: dereferenced only while the mark is taken
  // by this thread, which the registry never frees.
  CMTContext* context = nullptr;
  uint64_t managerSerial = 0;
  std::u16string key;
  std::shared_ptr<ContextPlaces> places;  // of the registry, when it has a bound
};

// The take of a context by the scan or a removal (its bucket lock
// exclusive): a thread's own context only when open and outside a call, in
// one step; then its mark is held until the taker releases it.
bool takeOutsideCall(CMTContext& context) {
  if (!context.idleMark) return true;
  IdleMark& mark = *context.idleMark;
  if (!mark.claimUnlessOwnerHolds()) return false;
  if (mark.state() == IdleMark::InUse) return true;
  mark.claimRelease();
  return false;
}

// Whether the owning thread, holding its mark, may use its context: open,
// or idle when it starts a unit of work (claimOwnKept).
bool ownerMayUse(IdleMark::State now, bool claimOwnKept) {
  return now == IdleMark::InUse || (now == IdleMark::Idle && claimOwnKept);
}

// Kept registered by some thread and not in use now.
bool isKept(const CMTContext& context) { return context.idleMark != nullptr && context.idleMark->kept(); }

bool isOrphaned(const CMTContext& context) {
  return context.idleMark != nullptr && context.idleMark->state() == IdleMark::Orphaned;
}

// This thread's own context under key in the registry of serial, taken
// without the bucket lock; empty when it is not there to take (then the
// locked look-up decides). claimOwnKept: an idle one is taken too.
ContextRef takeOwnContext(uint64_t serial, std::u16string_view key, bool claimOwnKept) {
  OwnKeptContext& own = threadOwnKept();
  if (own.context == nullptr || own.managerSerial != serial || !u16Equal(own.key, key)) return ContextRef();
  IdleMark& mark = *own.mark;
  // Held already (a second reference), or claimed by another user: the
  // locked look-up decides.
  if (mark.heldByOwner() || !mark.ownerTryHold()) return ContextRef();
  if (!ownerMayUse(mark.state(), claimOwnKept)) {
    mark.ownerRelease();
    return ContextRef();
  }
  return ContextRef(own.context, nullptr, &mark, MarkHold::Owner);
}

// Holds context's mark for a user holding its bucket's lock shared; None
// when the context counts as not registered for this user. A mark held by
// another user is waited for: it is held for one call, which waits for no
// bucket lock, and the scan and removals, which hold a bucket lock exclusive,
// cannot run beside this shared hold.
MarkHold takeUnderSharedLock(CMTContext& context, bool claimOwnKept) {
  IdleMark& mark = *context.idleMark;
  if (!threadOwnKept().owns(context)) {
    mark.claimWaiting();
    if (mark.state() == IdleMark::InUse) return MarkHold::Claimer;
    mark.claimRelease();
    return MarkHold::None;
  }
  // Its own thread would wait for itself: a second reference while one is held.
  if (mark.heldByOwner()) return MarkHold::None;
  while (!mark.ownerTryHold()) portYieldThread();
  if (ownerMayUse(mark.state(), claimOwnKept)) return MarkHold::Owner;
  mark.ownerRelease();
  return MarkHold::None;
}

std::atomic<uint64_t> managerSerials{0};

// The context this thread found last: a unit of work looks its context up on
// every call, and the memo spares the hash and the map search when the key is
// the same and nothing was removed from the bucket since.
struct LookUpMemo {
  uint64_t managerSerial = 0;  // 0: empty
  std::u16string key;
  size_t bucket = 0;
  uint64_t removals = 0;
  CMTContext* context = nullptr;
};

// Everything the registry keeps per thread, made on the thread's first use
// and destroyed by the thread's exit work rather than by C++ thread-local
// destructors: with emulated thread-locals (mingw) those may run on storage
// already freed, and the spare's and kept context's hand-back would then
// free and mark through stale pointers. Reached through a trivially
// destructible pointer, which needs no destructor of its own.
struct ThreadState {
  SpareContext spare;
  OwnKeptContext ownKept;
  LookUpMemo lastLookUp;
};
PORT_THREAD_LOCAL ThreadState* threadState = nullptr;

void endThreadState(void* state) {
  threadState = nullptr;
  delete static_cast<ThreadState*>(state);
}

// Out of line: the timing path inlines thisThread's test alone.
__attribute__((noinline)) ThreadState& makeThreadState() {
  auto state = std::make_unique<ThreadState>();
  // Refused: the state stays for the process, which costs only its memory
  // and, with a bound, the kept context's place.
  static_cast<void>(portAtThreadExit(endThreadState, state.get()));
  threadState = state.release();
  return *threadState;
}

inline ThreadState& thisThread() {
  ThreadState* state = threadState;
  return state != nullptr ? *state : makeThreadState();
}

SpareContext& threadSpare() { return thisThread().spare; }
OwnKeptContext& threadOwnKept() { return thisThread().ownKept; }
LookUpMemo& threadLookUpMemo() { return thisThread().lastLookUp; }

// In a forked child the forking thread's kept context belongs to a registry
// the child has forgotten, and its mark may stay claimed by a thread that did
// not follow: orphaning it would wait for ever. It is forgotten instead.
void forgetOwnKeptInChild() {
  if (threadState != nullptr) threadState->ownKept.forget();
}

void registerForkHandler() {
  static const bool registered = portOnForkChild(forgetOwnKeptInChild);
  static_cast<void>(registered);
}

ComponentLevels toComponentLevels(const std::map<std::u16string, uint16_t>& parsed) {
  return ComponentLevels(parsed.begin(), parsed.end());
}

bool copyLevels(const ComponentLevels& levels, ComponentLevels& target) {
  if (levels.empty()) return false;
  target = levels;
  return true;
}

}  // namespace

// ---- ContextRef -------------------------------------------------------------

ContextRef& ContextRef::operator=(ContextRef&& other) noexcept {
  if (this != &other) {
    release();
    context_ = other.context_;
    lock_ = other.lock_;
    mark_ = other.mark_;
    hold_ = other.hold_;
    markOnRelease_ = other.markOnRelease_;
    other.context_ = nullptr;
    other.lock_ = nullptr;
    other.mark_ = nullptr;
  }
  return *this;
}

void ContextRef::giveMarkNow(IdleMark::State state) {
  if (mark_ != nullptr && hold_ == MarkHold::Owner) mark_->ownerRelease(state);
  if (mark_ != nullptr && hold_ == MarkHold::Claimer) mark_->claimRelease(state);
  mark_ = nullptr;
  hold_ = MarkHold::None;
}

// The reference holds its bucket's lock from the look-up to here, across
// functions and objects, which the lock analysis cannot follow. The mark is
// given back first: under the lock, nobody but its thread can take it then.
void ContextRef::release() NO_THREAD_SAFETY_ANALYSIS {
  giveMarkNow(markOnRelease_);
  markOnRelease_ = IdleMark::InUse;
  if (lock_ != nullptr) ThrRwLockRelease(lock_);
  context_ = nullptr;
  lock_ = nullptr;
}

// ---- lifetime -----------------------------------------------------------------

CMTContextManager::CMTContextManager() : serial_(managerSerials.fetch_add(1, std::memory_order_relaxed) + 1) {
  registerForkHandler();
  ThrRwLockInit(&thresholdLock_);
  ThrRwLockInit(&traceThresholdLock_);
}

CMTContextManager::~CMTContextManager() {
  destroyAllContexts();
  for (ThrRwLock* lock : bucketLocks_) ThrRwLockDelete(lock);
  ThrRwLockDelete(thresholdLock_);
  ThrRwLockDelete(traceThresholdLock_);
}

void CMTContextManager::destroyAllContexts() {
  for (size_t i = 0; i < buckets_.size(); ++i) {
    ThrExclusiveGuard guard(bucketLocks_[i]);
    releaseContexts(buckets_[i].contexts.size());
    buckets_[i].contexts.clear();
    ++buckets_[i].removals;
  }
}

void CMTContextManager::init(const CConfiguration& cfg, const ProcessIdentity& identity, CPerfDataManager& metrics,
                             CMTTraceDataManager& traces) {
  if (!buckets_.empty()) return;
  config_ = &cfg;
  identity_ = &identity;
  traces_ = &traces;
  callSettings_.metrics = &metrics;
  callSettings_.scope = cfg.getPerfMetricScope();
  callSettings_.skipTimesBelowThreshold = cfg.getSkipTimesBelowThreshold();
  callSettings_.startTimeWithMillis = cfg.getAgentType() != 0;
  const CConfiguration* config = &cfg;
  uint16_t count = config->getContextMapBucketCount();
  if (count < 4) count = 4;
  bucketLocks_.reserve(count);
  for (uint16_t i = 0; i < count; ++i) {
    ThrRwLock* lock = nullptr;
    ThrRwLockInit(&lock);
    bucketLocks_.push_back(lock);
  }
  buckets_.resize(count);
  contextBound_ = config->getMaxOpenContexts();
  if (contextBound_ != 0) places_ = std::make_shared<ContextPlaces>();

  skipNames_.reserve(5);
  for (std::u16string& name : parseSkipNames(config->getSkipTimesInNames())) skipNames_.push_back(std::move(name));
  std::u16string names = config->getSpecificComponentNames();
  ComponentLevels levels =
      toComponentLevels(parseComponentLevels(names, config->getSpecificComponentLevelThresholds()));
  ComponentLevels traceLevels =
      toComponentLevels(parseComponentLevels(names, config->getSpecificComponentLevelThresholdsTrace()));
  {
    ThrExclusiveGuard guard(thresholdLock_);
    componentThresholds_ = std::move(levels);
  }
  ThrExclusiveGuard guard(traceThresholdLock_);
  componentTraceThresholds_ = std::move(traceLevels);
}

// ---- registry -------------------------------------------------------------------

size_t CMTContextManager::bucketOf(std::u16string_view key) const {
  const size_t count = buckets_.size();
  if (count == 0) return 0;
  const uint32_t hash = contextKeyHash(key);
  // The count is a power of two: a mask spares the division on every look-up.
  return (count & (count - 1)) == 0 ? (hash & (count - 1)) : hash % count;
}

CMTContext* CMTContextManager::lookUpLocked(size_t index, std::u16string_view key, bool rememberedKey) {
  LookUpMemo& memo = threadLookUpMemo();
  const Bucket& bucket = buckets_[index];
  if (rememberedKey && memo.removals == bucket.removals) return memo.context;
  auto found = bucket.contexts.find(key);
  if (found == bucket.contexts.end()) return nullptr;
  memo.managerSerial = serial_;
  memo.key.assign(key);
  memo.bucket = index;
  memo.removals = bucket.removals;
  memo.context = found->second.get();
  return memo.context;
}

// Hands the bucket's lock on to the reference when the wait succeeded, which
// the lock analysis cannot follow.
ContextRef CMTContextManager::lookUp(std::u16string_view key, AccessStamp stamp,
                                     bool claimOwnKept) NO_THREAD_SAFETY_ANALYSIS {
  if (buckets_.empty()) return ContextRef();
  if (ContextRef own = takeOwnContext(serial_, key, claimOwnKept)) {
    if (stamp == AccessStamp::ByLookUp) own->lastAccessTick.store(msTickCoarse(), std::memory_order_relaxed);
    return own;
  }
  const LookUpMemo& memo = threadLookUpMemo();
  const bool sameKey = memo.managerSerial == serial_ && u16Equal(memo.key, key);
  size_t index = sameKey ? memo.bucket : bucketOf(key);
  ThrRwLock* lock = bucketLocks_[index];
  // A failed wait leaves the bucket unguarded; going on is what every lock
  // user does, but such a reference then holds nothing to release.
  const bool held = ThrRwLockShared(lock, THR_LOCK_WAIT_MS) == THR_OK;
  CMTContext* context = lookUpLocked(index, key, sameKey);
  MarkHold hold = MarkHold::None;
  if (context != nullptr && context->idleMark != nullptr) {
    hold = takeUnderSharedLock(*context, claimOwnKept);
    if (hold == MarkHold::None) context = nullptr;
  }
  if (context == nullptr) {
    if (held) ThrRwLockRelease(lock);
    return ContextRef();
  }
  if (stamp == AccessStamp::ByLookUp) context->lastAccessTick.store(msTickCoarse(), std::memory_order_relaxed);
  return ContextRef(context, held ? lock : nullptr, hold != MarkHold::None ? context->idleMark.get() : nullptr, hold);
}

bool CMTContextManager::reserveContext() {
  if (!places_) return true;
  // Counted first, so that threads racing for the last places never pass the bound together.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (places_->taken.fetch_add(1, std::memory_order_relaxed) < contextBound_) return true;
    places_->taken.fetch_sub(1, std::memory_order_relaxed);
    // Ended threads' kept contexts still hold places: theirs are free for the taking.
    if (attempt == 0 && !removeOrphans()) break;
  }
  countRefusedContext();
  return false;
}

bool CMTContextManager::eraseKeptLocked(size_t index, ContextMap::iterator kept) {
  // Dropped while idle, the context is no orphan when its thread ends; its
  // thread may have taken it back meanwhile, without this lock.
  IdleMark& mark = *kept->second->idleMark;
  if (!mark.claimUnlessOwnerHolds()) return false;
  const IdleMark::State now = mark.state();
  const bool orphan = now == IdleMark::Orphaned;
  if (now != IdleMark::Idle && !orphan) {
    mark.claimRelease();
    return false;
  }
  mark.claimRelease(IdleMark::Dropped);
  buckets_[index].contexts.erase(kept);
  ++buckets_[index].removals;
  releaseContexts(1);
  // An orphan leaves the count only once its place is free (for a moment
  // below 0 when it is erased before its thread counted it, which costs one
  // needless search).
  if (orphan && places_) places_->orphaned.fetch_sub(1, std::memory_order_relaxed);
  return true;
}

// Every bucket in turn, exclusive: whatever orphan was counted when it began
// has had its place given back by its end, here or by a concurrent scan.
bool CMTContextManager::removeOrphans() {
  if (!places_ || places_->orphaned.load(std::memory_order_relaxed) == 0) return false;
  for (size_t i = 0; i < buckets_.size(); ++i) {
    ThrExclusiveGuard guard(bucketLocks_[i]);
    ContextMap& bucket = buckets_[i].contexts;
    for (auto entry = bucket.begin(); entry != bucket.end();) {
      auto next = std::next(entry);
      if (isOrphaned(*entry->second)) static_cast<void>(eraseKeptLocked(i, entry));
      entry = next;
    }
  }
  return true;
}

void CMTContextManager::moveOwnKeptToSpare() {
  OwnKeptContext& ownKept = threadOwnKept();
  if (!ownKept.mark || ownKept.managerSerial != serial_ || ownKept.mark->state() != IdleMark::Idle) {
    return;
  }
  ContextNode node;
  {
    const size_t index = bucketOf(ownKept.key);
    ThrExclusiveGuard guard(bucketLocks_[index]);
    ContextMap& bucket = buckets_[index].contexts;
    auto found = bucket.find(ownKept.key);
    if (found == bucket.end() || !ownKept.owns(*found->second)) return;
    ++buckets_[index].removals;
    node = bucket.extract(found);
  }
  // Out of the bucket, nobody else reaches the mark again.
  ownKept.forget();
  node.mapped()->idleMark.reset();
  keepAsSpare(std::move(node), places_);
}

void CMTContextManager::keepRegistered(ContextRef& ref, const std::u16string& key) {
  CMTContext& context = *ref.get();
  OwnKeptContext& ownKept = threadOwnKept();
  if (ownKept.owns(context) && ownKept.managerSerial == serial_ && ref.holdsMark()) {
    ref.releaseMarkAs(IdleMark::Idle);
    return;
  }
  // A context new to this role: the one kept before, wherever it is, is the
  // registry's to remove; another thread's mark on this one is given up for
  // good. Under the bucket lock (a marked context is taken only through the
  // locked look-up by a thread that does not own it).
  ref.giveMarkNow(IdleMark::Dropped);
  ownKept.orphan();
  ownKept.mark = std::make_shared<IdleMark>(IdleMark::Idle);
  ownKept.managerSerial = serial_;
  ownKept.key = key;
  ownKept.places = places_;
  ownKept.context = &context;
  context.idleMark = ownKept.mark;
}

void CMTContextManager::releaseContexts(size_t count) {
  if (places_ && count != 0) places_->taken.fetch_sub(count, std::memory_order_relaxed);
}

void CMTContextManager::increaseContextCounter(std::u16string_view resourceName) const {
  metrics().withResourceRecord(resourceName, [](CResourceRecord& record) { record.increase(1); });
}

void CMTContextManager::countRefusedContext() {
  increaseContextCounter(kRefusedContextCount);
  if (contextBoundTraced_.exchange(true, std::memory_order_relaxed)) return;
  MOX_TRC_ERROR(
      "max_open_contexts reached (%u contexts): new contexts are refused and counted in \"Refused Context Count\" "
      "(written once)\n",
      contextBound_);
}

void CMTContextManager::removeKeptLocked(size_t index, std::u16string_view key) {
  ContextMap& bucket = buckets_[index].contexts;
  auto found = bucket.find(key);
  if (found != bucket.end() && isKept(*found->second)) static_cast<void>(eraseKeptLocked(index, found));
}

bool CMTContextManager::insertOn(ContextPlace& place, const std::u16string& key, std::unique_ptr<CMTContext> context) {
  size_t index = bucketOf(key);
  ThrExclusiveGuard guard(bucketLocks_[index]);
  removeKeptLocked(index, key);
  if (!buckets_[index].contexts.emplace(key, std::move(context)).second) return false;
  place.keep();
  return true;
}

bool CMTContextManager::insertNodeOn(ContextPlace& place, ContextNode node) {
  size_t index = bucketOf(node.key());
  ThrExclusiveGuard guard(bucketLocks_[index]);
  removeKeptLocked(index, node.key());
  if (!buckets_[index].contexts.insert(std::move(node)).inserted) return false;
  place.keep();
  return true;
}

bool CMTContextManager::insertContext(const std::u16string& key, std::unique_ptr<CMTContext> context) {
  if (buckets_.empty()) return false;
  ContextPlace place(*this, false);
  return place && insertOn(place, key, std::move(context));
}

CMTContextManager::ContextNode CMTContextManager::removeContext(std::u16string_view key) {
  if (buckets_.empty()) return {};
  size_t index = bucketOf(key);
  ThrExclusiveGuard guard(bucketLocks_[index]);
  ContextMap& bucket = buckets_[index].contexts;
  auto found = bucket.find(key);
  if (found == bucket.end()) return {};
  // A thread's own context goes only while it is open and nobody uses it;
  // its thread will not touch it again.
  if (!takeOutsideCall(*found->second)) return {};
  if (found->second->idleMark) found->second->idleMark->claimRelease(IdleMark::Dropped);
  ++buckets_[index].removals;
  return bucket.extract(found);
}

size_t CMTContextManager::contextCount() const {
  size_t count = 0;
  for (size_t i = 0; i < buckets_.size(); ++i) {
    ThrSharedGuard guard(bucketLocks_[i]);
    for (const auto& entry : buckets_[i].contexts) count += isKept(*entry.second) ? 0 : 1;
  }
  return count;
}

// ---- configuration derived at init ---------------------------------------------

bool CMTContextManager::isSkippedByName(const TimingKeyView& timingKey) const {
  for (const std::u16string& name : skipNames_) {
    if (timingKey.ofComponent(name)) return true;
  }
  return false;
}

bool CMTContextManager::copyComponentThresholds(ComponentLevels& target) const {
  ThrSharedGuard guard(thresholdLock_);
  return copyLevels(componentThresholds_, target);
}

bool CMTContextManager::copyComponentTraceThresholds(ComponentLevels& target) const {
  ThrSharedGuard guard(traceThresholdLock_);
  return copyLevels(componentTraceThresholds_, target);
}

void CMTContextManager::setComponentThreshold(const std::u16string& component, uint16_t level) {
  ThrExclusiveGuard guard(thresholdLock_);
  componentThresholds_[component] = level;
}

void CMTContextManager::setComponentTraceThreshold(const std::u16string& component, uint16_t level) {
  ThrExclusiveGuard guard(traceThresholdLock_);
  componentTraceThresholds_[component] = level;
}

// ---- the scan ---------------------------------------------------------------------

bool CMTContextManager::scanRemoves(const CMTContext& context, uint32_t ageMs, uint32_t zombieTimeoutMs,
                                    uint32_t emptyTimeoutMs) const {
  if (context.state == CMTContext::Empty) {
    if (ageMs < emptyTimeoutMs) return false;
    MOX_TRC(1, "Empty context detected\n");
    increaseContextCounter(kEmptyContextCount);
    return true;
  }
  if (ageMs < zombieTimeoutMs) return false;
  MOX_TRC(1, "Zombie context detected\n");
  traces_->addTrace(context.buildZombieTrace());
  increaseContextCounter(kZombieContextCount);
  return true;
}

void CMTContextManager::scanContexts(uint32_t zombieTimeoutMs, uint32_t emptyTimeoutMs) {
  for (size_t i = 0; i < buckets_.size(); ++i) {
    ThrExclusiveGuard guard(bucketLocks_[i]);
    uint32_t now = msTick();
    ContextMap& bucket = buckets_[i].contexts;
    for (auto entry = bucket.begin(); entry != bucket.end();) {
      CMTContext& context = *entry->second;
      uint32_t age = tickDiff(now, context.lastAccessTick.load(std::memory_order_relaxed));
      if (isKept(context)) {
        // A thread's idle context stays as long as its thread; an orphaned one goes uncounted.
        auto next = std::next(entry);
        if (isOrphaned(context)) static_cast<void>(eraseKeptLocked(i, entry));
        entry = next;
      } else if (age < std::min(zombieTimeoutMs, emptyTimeoutMs) || !takeOutsideCall(context)) {
        // Too young to go (left untaken: a take may cost a process-wide
        // barrier), or its thread is inside a call: in use, no zombie.
        ++entry;
      } else if (scanRemoves(context, age, zombieTimeoutMs, emptyTimeoutMs)) {
        if (context.idleMark) context.idleMark->claimRelease(IdleMark::Dropped);
        entry = bucket.erase(entry);
        ++buckets_[i].removals;
        releaseContexts(1);
      } else {
        if (context.idleMark) context.idleMark->claimRelease();
        ++entry;
      }
    }
  }
}

// ---- the cores ----------------------------------------------------------------------

void CMTContextManager::initContext(const std::u16string& key, const std::u16string& passport) {
  if (ContextRef context = findContext(key)) {
    if (context->state == CMTContext::Active) context->terminateAll();
    context->reuse(passport);
    return;
  }
  if (buckets_.empty()) return;
  ContextPlace place(*this, false);
  if (place) insertOn(place, key, std::make_unique<CMTContext>(*this, passport));
}

uint32_t CMTContextManager::startInRenewed(CMTContext& context, const TimingKeyView& timingKey, uint16_t level) {
  const uint32_t recId = context.startTiming(timingKey, level);
  // Created when its first call started: that call's tick spares a clock read.
  context.stampCreated(recId != 0 ? context.root->startTick : msTickCoarse());
  return recId;
}

uint32_t CMTContextManager::startTiming(const std::u16string& key, std::u16string_view component,
                                        std::u16string_view method, uint16_t level, KeyOwner owner) {
  if (buckets_.empty()) return 0;
  const TimingKeyView timingKey(component, method);
  if (ContextRef context = lookUp(key, AccessStamp::ByCaller, owner == KeyOwner::Thread)) {
    if (owner == KeyOwner::Thread && context->state == CMTContext::Finished) {  // its own kept context, claimed
      context->renew(*this);
      return startInRenewed(*context.get(), timingKey, level);
    }
    if (context->state != CMTContext::Terminated) {
      const uint32_t recId = context->startTiming(timingKey, level);
      // A timed call stamped the context with its start tick.
      if (recId == 0) context->lastAccessTick.store(msTickCoarse(), std::memory_order_relaxed);
      return recId;
    }
    context->lastAccessTick.store(msTickCoarse(), std::memory_order_relaxed);
    MOX_TRC_HOST_ERROR(
        "Previous context object is in the terminate status and was not cleaned up by MOX_initContext API\n");
    return 0;
  }
  // The places of the spare and of the thread's kept context are one: at the
  // bound, the kept one serves this unit of work as the spare would have.
  if (places_ && !spareHoldsPlaceIn(places_) && places_->taken.load(std::memory_order_relaxed) >= contextBound_) {
    moveOwnKeptToSpare();
  }
  // Refused before the call is counted anywhere.
  ContextPlace place(*this, spareHoldsPlaceIn(places_));
  if (!place) return 0;
  ContextNode created = spareOrNewNode(*this, places_, key);
  const uint32_t recId = startInRenewed(*created.mapped(), timingKey, level);
  insertNodeOn(place, std::move(created));
  return recId;
}

void CMTContextManager::endOrTerminate(const std::u16string& key, uint32_t recId, EndKind kind, KeyOwner owner) {
  ContextRef context = lookUp(key, AccessStamp::ByCaller);
  if (!context) return;
  // A call that took an end tick stamped the context with it.
  const bool stamped = context->state != CMTContext::Terminated &&
                       (kind == EndKind::End ? context->endTiming(recId) : context->terminateTiming(recId));
  if (!stamped) context->lastAccessTick.store(msTickCoarse(), std::memory_order_relaxed);
  if (context->state != CMTContext::Finished) return;
  if (owner == KeyOwner::Thread) {
    keepRegistered(context, key);
    return;
  }
  context.release();
  keepAsSpare(removeContext(key), places_);
}

void CMTContextManager::endTiming(const std::u16string& key, uint32_t recId, KeyOwner owner) {
  endOrTerminate(key, recId, EndKind::End, owner);
}

void CMTContextManager::terminateTiming(const std::u16string& key, uint32_t recId, KeyOwner owner) {
  endOrTerminate(key, recId, EndKind::Terminate, owner);
}

void CMTContextManager::terminateTimingAll(const std::u16string& key) {
  ContextRef context = findContext(key);
  if (context && context->state != CMTContext::Terminated) context->terminateAll();
}

void CMTContextManager::appendInfo(const std::u16string& key, uint32_t recId, std::u16string_view name,
                                   std::u16string_view value, bool toList) {
  ContextRef context = findContext(key);
  if (context && context->state != CMTContext::Terminated) {
    context->appendInfo(recId, name, value, toList);
  }
}

void CMTContextManager::appendContextInfo(const std::u16string& key, std::u16string name, std::u16string value) {
  ContextRef context = findContext(key);
  if (context && context->state != CMTContext::Terminated) {
    context->appendContextInfo(std::move(name), std::move(value));
  }
}
