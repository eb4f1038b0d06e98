// Initialisation and exit of the library, with their nesting.
//
// Initialisation and exit run one at a time (the lifecycle lock). The other
// exports pass the entry gate, which initialisation opens when everything is
// built and exit shuts, waiting for the calls inside, before it tears down.
// A forked child forgets the library it inherited (its threads did not
// follow) and may initialise a new one.
#include <stdlib.h>

#include <memory>
#include <string>

#include "common/number_text.h"
#include "common/utf.h"
#include "dptrc/dptrc.h"
#include "mox/api/api_frame.h"
#include "mox/api/untimed_level.h"
#include "mox/config/config_sources.h"
#include "mox_version.h"
#include "passport/epp.h"
#include "passport/epp_library_trace.h"
#include "port/fork.h"
#include "port/process_id.h"
#include "thr/thr_static_mutex.h"

namespace {

using moxapi::initCount;

ThrStaticMutex lifecycleLock;

// The library object, from an initialisation to its exit.
std::unique_ptr<MoxLibrary> owned;

// The passport library's environment: this library is component 8 and
// writes passports of version 3.
constexpr uint16_t kPassportComponent = 8;
constexpr uint8_t kPassportVersion = 3;

class SCOPED_CAPABILITY LifecycleHold {
 public:
  LifecycleHold() ACQUIRE(lifecycleLock) { lifecycleLock.lock(); }
  ~LifecycleHold() RELEASE() { lifecycleLock.unlock(); }
  LifecycleHold(const LifecycleHold&) = delete;
  LifecycleHold& operator=(const LifecycleHold&) = delete;
};

// Initialisation and exit from a host callback that the library runs (a
// session-id function, a resource callback) would wait for the very call
// that runs it.
bool calledFromInsideTheLibrary(const char* exportName) {
  if (ThrGateDepth() == 0 && !CDispatcherManager::onLibraryThread()) return false;
  MOX_TRC_HOST_ERROR("%s called from a callback inside the library: ignored\n", exportName);
  return true;
}

// In a forked child only the forking thread lives on: the inherited objects
// (whose locks other threads may have held) are left untouched and
// forgotten, so that exit returns at once and initialisation starts afresh.
void forgetLibraryInChild() {
  lifecycleLock.renew();
  initCount.store(0);
  moxapi::currentLibrary.store(nullptr);
  moxapi::forgetUntimedLevelInChild();
  (void)owned.release();
}

void registerForkHandler() {
  static const bool registered = portOnForkChild(forgetLibraryInChild);
  (void)registered;
}

enum class InitSource { DefaultFile, ProfileDir, Pairs };

struct InitRequest {
  InitSource source;
  std::u16string name;
  int16_t instance;
  std::u16string profileDir;
  uint32_t pairCount = 0;
  const mox_char* const* pairs = nullptr;
};

const char* invokedBeforeText(InitSource source) {
  return source == InitSource::DefaultFile ? "MOX_ProcInit API has been invoked before\n"
                                           : "MOX_ProcInitWithParam API has been invoked before\n";
}

const char* invokedText(InitSource source) {
  return source == InitSource::Pairs ? "MOX_ProcInitWithParam API invoked\n" : "MOX_ProcInit API invoked\n";
}

void readConfiguration(CConfiguration& cfg, const InitRequest& request) {
  switch (request.source) {
    case InitSource::DefaultFile: configureFromDefaultLocation(cfg); break;
    case InitSource::ProfileDir: configureFromProfileDir(cfg, request.profileDir); break;
    case InitSource::Pairs: configureFromPairs(cfg, request.pairCount, request.pairs); break;
  }
}

// -1: the process id; 0 or more: the number; other negatives: none.
std::u16string instanceText(int16_t instance) {
  if (instance == -1) return decimalText(portProcessId());
  return instance >= 0 ? decimalText(instance) : std::u16string();
}

// The built-in context counters start (again) at 0, as the host's
// MOX_initializeResource(name, 0, 0) would start them.
void resetContextCounters(CPerfDataManager& metrics) {
  for (std::u16string_view name : {kZombieContextCount, kEmptyContextCount}) {
    metrics.withResourceRecord(name, [](CResourceRecord& record) { record.initialize(0, 0); });
  }
}

void initialise(const InitRequest& request, const char* exportName) {
  if (calledFromInsideTheLibrary(exportName)) return;
  LifecycleHold hold;
  if (initCount.load() != 0) {
    initCount.fetch_add(1);
    MOX_TRC_HOST(1, "%s", invokedBeforeText(request.source));
    return;
  }
  registerForkHandler();
  initCount.store(1);
  // Published at once, so that an exit finds whatever was built; no other
  // call reads it before the gate opens.
  owned = std::make_unique<MoxLibrary>(request.name, instanceText(request.instance));
  moxapi::currentLibrary.store(owned.get(), std::memory_order_release);
  CConfiguration& cfg = owned->config();
  readConfiguration(cfg, request);
  trcOpenLibraryFile(request.name, cfg.getLogdir(), cfg.getLibTraceLevel());
  owned->build();
  eppSetEnvironment(kPassportComponent, kPassportVersion, &malloc, &free, &eppTraceToLibraryLog,
                    cfg.getLibTraceLevel());
  owned->dispatcher().start();
  resetContextCounters(owned->metrics());
  moxapi::refreshUntimedLevel(owned.get());
  ThrGateOpen();
  MOX_TRC(1, "MOX library version " MOX_VERSION " (unicode) loaded\n");
  MOX_TRC(1, "%s", invokedText(request.source));
}

// Caller holds the lifecycle lock.
void exitLibrary() {
  if (initCount.load() <= 0) return;
  MOX_TRC(1, "MOX_ProcExit API started\n");
  ThrGateCloseAndDrain();
  // After the drain: no threshold change can refresh the word any more.
  moxapi::refreshUntimedLevel(nullptr);
  if (owned && owned->isBuilt()) {
    CDispatcherManager& dispatcher = owned->dispatcher();
    dispatcher.stopTimers();
    dispatcher.stopDispatchers();
    if (moxapi::isActive() && owned->config().getDatasendingInterval() != 0) dispatcher.runTraceAndDataJobs();
  }
  // Nothing can reach the library any more; destroyed, it cannot come back.
  moxapi::currentLibrary.store(nullptr, std::memory_order_release);
  owned.reset();
  MOX_TRC(1, "MOX_ProcExit API invoked\n");
  trcCloseLibraryFile();
  initCount.store(0);
}

}  // namespace

extern "C" {

void MOX_ProcInit(const mox_char* name, int16_t instance) {
  moxapi::ungated(0, [&] {
    initialise({InitSource::DefaultFile, utf16Copy(name), instance, {}, 0, nullptr}, "MOX_ProcInit");
    return 0;
  });
}

void MOX_ProcInitWithParam(const mox_char* name, int16_t instance, uint32_t count, const mox_char* const* pairs) {
  moxapi::ungated(0, [&] {
    initialise({InitSource::Pairs, utf16Copy(name), instance, {}, count, pairs}, "MOX_ProcInitWithParam");
    return 0;
  });
}

void MOX_ProcInitWithProfilePath(const mox_char* name, int16_t instance, const mox_char* dir) {
  moxapi::ungated(0, [&] {
    initialise({InitSource::ProfileDir, utf16Copy(name), instance, utf16Copy(dir), 0, nullptr},
               "MOX_ProcInitWithProfilePath");
    return 0;
  });
}

void MOX_ProcExit(void) {
  moxapi::ungated(0, [] {
    if (calledFromInsideTheLibrary("MOX_ProcExit")) return 0;
    LifecycleHold hold;
    exitLibrary();
    return 0;
  });
}

uint16_t MOX_ProcExitNestable(void) {
  return moxapi::ungated<uint16_t>(0, [] {
    if (calledFromInsideTheLibrary("MOX_ProcExitNestable")) return static_cast<uint16_t>(0);
    LifecycleHold hold;
    const int16_t count = initCount.load();
    if (count == 1) {
      exitLibrary();
      return static_cast<uint16_t>(0);
    }
    if (count > 1) return static_cast<uint16_t>(initCount.fetch_sub(1) - 1);
    return static_cast<uint16_t>(0);
  });
}

void MOX_setInstancePrefix(const mox_char* prefix) {
  moxapi::guardedVoid([&] {
    if (!moxapi::isActive()) return;
    MoxLibrary& library = moxapi::library();
    library.identity().setInstancePrefix(utf16Copy(prefix));
    resetContextCounters(library.metrics());
  });
}

}  // extern "C"

// Held only when the try succeeded, across the object's life: more than the
// lock analysis can follow.
moxapi::LifecycleTryHold::LifecycleTryHold() NO_THREAD_SAFETY_ANALYSIS : held_(lifecycleLock.tryLock()) {}

moxapi::LifecycleTryHold::~LifecycleTryHold() NO_THREAD_SAFETY_ANALYSIS {
  if (held_) lifecycleLock.unlock();
}
