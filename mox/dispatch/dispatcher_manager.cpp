#include "mox/dispatch/dispatcher_manager.h"

#include <chrono>
#include <cstdint>
#include <limits>
#include <thread>
#include <utility>

#include "common/clock.h"
#include "dptrc/dptrc.h"
#include "mox/config/configuration.h"
#include "mox/context/context_manager.h"
#include "mox/dispatch/metric_format_source.h"
#include "mox/dispatch/timer_step.h"
#include "mox/metrics/perf_data_manager.h"
#include "mox/trace/trace_data_manager.h"

namespace {

constexpr int32_t kTickMs = 1000;
constexpr auto kPollStep = std::chrono::milliseconds(100);
// Exit waits for threads that were just woken and end within microseconds:
// a fine poll keeps the host's exit short.
constexpr auto kStopPollStep = std::chrono::milliseconds(5);
constexpr auto kPairPause = std::chrono::milliseconds(200);

void sleepFor(std::chrono::milliseconds span) { std::this_thread::sleep_for(span); }

// Configured seconds as milliseconds; a value too large for 32 bits saturates
// rather than wrapping into a short time-out that would destroy live contexts.
uint32_t secondsToMs(uint32_t seconds) {
  const uint64_t ms = static_cast<uint64_t>(seconds) * 1000u;
  return ms > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max() : static_cast<uint32_t>(ms);
}

bool createFailed(int status, ThrId id) { return status != THR_OK || id == THR_INVALID_ID; }

thread_local bool libraryThread = false;

}  // namespace

CDispatcherManager::~CDispatcherManager() {
  // The events must outlive every thread that waits on them.
  stopThreads();
  running_.store(false, std::memory_order_release);
  deleteEvents();
  ThrShutdown();
}

bool CDispatcherManager::onLibraryThread() { return libraryThread; }

void CDispatcherManager::enterLibraryThread() { libraryThread = true; }

void CDispatcherManager::init(const CConfiguration& cfg, const ProcessIdentity& identity, CMTContextManager& registry,
                              CMTTraceDataManager& traces, CPerfDataManager& metrics) {
  config_ = &cfg;
  identity_ = &identity;
  registry_ = &registry;
  traces_ = &traces;
  metrics_ = &metrics;
  const CConfiguration* config = &cfg;
  traceInterval_.store(config->getTracecheckInterval(), std::memory_order_relaxed);
  dataInterval_.store(config->getDatasendingInterval(), std::memory_order_relaxed);
  if (!ThrIsInitialised()) {
    ThrSetNoAutoShutdown();
    ThrInit();
  }
  // Events that exist already stay: a thread may be waiting on them.
  for (ThrEvt** event : {&traceEvent_, &dataEvent_, &traceTimerWake_, &dataTimerWake_}) {
    if (*event == nullptr) ThrEvtCreate(event);
  }
  traceTimerThread_.store(0);
  dataTimerThread_.store(0);
  traceDispatcherThread_.store(0);
  dataDispatcherThread_.store(0);
  zombieElapsed_.store(0, std::memory_order_relaxed);
}

void CDispatcherManager::setAgents(std::unique_ptr<CMTDataSendingAgent> traceAgent,
                                   std::unique_ptr<CMTDataSendingAgent> dataAgent) {
  traceJob_ = std::make_unique<CTraceJob>(std::move(traceAgent));
  dataJob_ = std::make_unique<CDataJob>(std::move(dataAgent));
}

void CDispatcherManager::deleteEvents() {
  for (ThrEvt** event : {&traceEvent_, &dataEvent_, &traceTimerWake_, &dataTimerWake_}) {
    if (*event != nullptr) ThrEvtDelete(*event);
    *event = nullptr;
  }
}

bool CDispatcherManager::anyThreadAlive() const {
  return traceTimerAlive_.load(std::memory_order_acquire) || dataTimerAlive_.load(std::memory_order_acquire) ||
         traceDispatcherAlive_.load(std::memory_order_acquire) || dataDispatcherAlive_.load(std::memory_order_acquire);
}

// ---- start --------------------------------------------------------------

void CDispatcherManager::start() {
  running_.store(true, std::memory_order_release);
  startTracePair();
  // Staggers the two pairs; without a trace pair there is nothing to stagger.
  if (traceInterval_.load(std::memory_order_relaxed) != 0) sleepFor(kPairPause);
  startDataPair();
}

void CDispatcherManager::startTracePair() {
  if (traceInterval_.load(std::memory_order_relaxed) == 0) {
    MOX_TRC(1, "MOX trace timer is disabled since the interval is set to 0\n");
    return;
  }
  createThread(&traceTimerMain, traceTimerThread_, traceTimerAlive_,
               "MOX library failed to spawn the trace timer thread\n",
               "MOX trace timer thread is successfully triggered\n");
  createThread(&traceDispatcherMain, traceDispatcherThread_, traceDispatcherAlive_,
               "MOX library failed to spawn the trace dispatcher thread\n",
               "Trace dispatcher thread is successfully triggered\n");
}

void CDispatcherManager::startDataPair() {
  ThrPlainMutexHold once(dataPairStart_);
  if (dataTimerAlive_.load(std::memory_order_acquire) || dataDispatcherAlive_.load(std::memory_order_acquire)) return;
  if (dataInterval_.load(std::memory_order_relaxed) == 0) {
    MOX_TRC(1, "MOX data timer is disabled since the interval is set to 0\n");
    return;
  }
  createThread(&dataTimerMain, dataTimerThread_, dataTimerAlive_, "MOX library failed to spawn the data timer thread\n",
               "MOX data timer thread is successfully triggered\n");
  createThread(&dataDispatcherMain, dataDispatcherThread_, dataDispatcherAlive_,
               "MOX library failed to spawn the data dispatcher thread\n",
               "Data dispatcher thread is successfully triggered\n");
}

void CDispatcherManager::createThread(ThrStartFn body, std::atomic<ThrId>& id, std::atomic<bool>& alive,
                                      const char* failure, const char* success) {
  ThrAttr attr;
  ThrId created = THR_INVALID_ID;
  alive.store(true, std::memory_order_release);
  const int status = ThrCreate(&attr, body, this, &created);
  id.store(created);
  if (createFailed(status, created)) {
    // A thread that started despite a failure code would still clear the
    // flag itself; one that never started must not be waited for.
    if (status != THR_OK) alive.store(false, std::memory_order_release);
    MOX_TRC_ERROR("%s", failure);
    return;
  }
  MOX_TRC(1, "%s", success);
}

// ---- timers -------------------------------------------------------------

bool CDispatcherManager::timerTick(ThrEvt* wake) {
  if (!running_.load(std::memory_order_acquire)) return false;
  const int status = ThrEvtWaitReset(wake, kTickMs);
  // A broken wait must not turn the timer into a busy loop.
  if (status != THR_OK && status != THR_TIMEOUT) sleepFor(std::chrono::milliseconds(kTickMs));
  return running_.load(std::memory_order_acquire);
}

void* CDispatcherManager::traceTimerMain(void* self) {
  enterLibraryThread();
  auto* manager = static_cast<CDispatcherManager*>(self);
  uint32_t counter = 0;
  while (manager->timerTick(manager->traceTimerWake_)) {
    const TimerStep step = traceTimerStep(counter, manager->traceInterval_.load(std::memory_order_relaxed));
    counter = step.counter;
    if (step.fire) ThrEvtSet(manager->traceEvent_);
  }
  manager->traceTimerAlive_.store(false, std::memory_order_release);
  ThrExit(0);
}

void* CDispatcherManager::dataTimerMain(void* self) {
  enterLibraryThread();
  auto* manager = static_cast<CDispatcherManager*>(self);
  uint32_t counter = 0;
  while (manager->timerTick(manager->dataTimerWake_)) {
    const TimerStep step = dataTimerStep(counter, manager->dataInterval_.load(std::memory_order_relaxed));
    counter = step.counter;
    if (step.fire) ThrEvtSet(manager->dataEvent_);
  }
  manager->dataTimerAlive_.store(false, std::memory_order_release);
  ThrExit(0);
}

// ---- dispatchers --------------------------------------------------------

bool CDispatcherManager::waitAgainAfterFailure() const {
  // A broken event must neither keep a stopping library waiting nor turn
  // the dispatcher into a busy loop.
  if (!running_.load(std::memory_order_acquire)) return false;
  sleepFor(kPollStep);
  return true;
}

void* CDispatcherManager::traceDispatcherMain(void* self) {
  enterLibraryThread();
  auto* manager = static_cast<CDispatcherManager*>(self);
  for (;;) {
    if (ThrEvtWaitReset(manager->traceEvent_, THR_WAIT_FOREVER) != THR_OK) {
      MOX_TRC_ERROR("ThrEvtWaitReset failed in trace dispatcher thread\n");
      if (manager->waitAgainAfterFailure()) continue;
    }
    if (!manager->running_.load(std::memory_order_acquire)) break;
    manager->traceBusy_.store(true, std::memory_order_release);
    manager->traceJob_->run(*manager->traces_, versionPrefix(*manager->config_, *manager->identity_));
    manager->traceBusy_.store(false, std::memory_order_release);
  }
  manager->traceDispatcherAlive_.store(false, std::memory_order_release);
  ThrExit(0);
}

void* CDispatcherManager::dataDispatcherMain(void* self) {
  enterLibraryThread();
  auto* manager = static_cast<CDispatcherManager*>(self);
  for (;;) {
    if (ThrEvtWaitReset(manager->dataEvent_, THR_WAIT_FOREVER) != THR_OK) {
      MOX_TRC_ERROR("ThrEvtWaitReset failed in data dispatcher thread\n");
      if (manager->waitAgainAfterFailure()) continue;
    }
    if (!manager->running_.load(std::memory_order_acquire)) break;
    manager->dataBusy_.store(true, std::memory_order_release);
    manager->runDataDispatch();
    manager->dataBusy_.store(false, std::memory_order_release);
  }
  manager->dataDispatcherAlive_.store(false, std::memory_order_release);
  ThrExit(0);
}

void CDispatcherManager::runDataDispatch() {
  CPerfDataManager* store = metrics_;
  store->runDueCallbacks(wallSeconds());
  dataJob_->run(*store, metricFormat(*config_, *identity_));
  accumulateZombieTime();
}

void CDispatcherManager::accumulateZombieTime() {
  const CConfiguration* config = config_;
  const uint32_t checkInterval = config->getZombieCheckInterval();
  if (checkInterval == 0) return;
  // Counts configured intervals, not the real time between data events.
  const uint32_t elapsed =
      zombieElapsed_.load(std::memory_order_relaxed) + dataInterval_.load(std::memory_order_relaxed);
  if (elapsed < checkInterval) {
    zombieElapsed_.store(elapsed, std::memory_order_relaxed);
    return;
  }
  zombieElapsed_.store(0, std::memory_order_relaxed);
  registry_->scanContexts(secondsToMs(config->getZombieTimeout()), secondsToMs(config->getEmptyTimeout()));
}

void CDispatcherManager::runTraceAndDataJobs() {
  traceJob_->run(*traces_, versionPrefix(*config_, *identity_));
  dataJob_->run(*metrics_, metricFormat(*config_, *identity_));
}

// ---- run-time change and stop ---------------------------------------------

void CDispatcherManager::updateDataInterval(uint32_t seconds) {
  dataInterval_.store(seconds, std::memory_order_relaxed);
  // Started with an interval of 0, the data threads never ran: a sending
  // interval set later must take effect.
  if (dataInterval_.load(std::memory_order_relaxed) != 0 && isRunning()) startDataPair();
}

void CDispatcherManager::stopThreads() {
  if (!anyThreadAlive()) return;
  stopTimers();
  stopDispatchers();
}

void CDispatcherManager::stopTimers() {
  running_.store(false, std::memory_order_release);
  ThrEvtSet(traceTimerWake_);
  ThrEvtSet(dataTimerWake_);
  while (traceTimerAlive_.load(std::memory_order_acquire) || dataTimerAlive_.load(std::memory_order_acquire)) {
    sleepFor(kStopPollStep);
  }
  MOX_TRC(1, "Timer threads are successfully finished\n");
}

void CDispatcherManager::stopDispatchers() {
  while (traceBusy_.load(std::memory_order_acquire) || dataBusy_.load(std::memory_order_acquire)) {
    sleepFor(kStopPollStep);
  }
  ThrEvtSet(traceEvent_);
  ThrEvtSet(dataEvent_);
  // The events are deleted soon after; a dispatcher must have left its wait.
  while (traceDispatcherAlive_.load(std::memory_order_acquire) ||
         dataDispatcherAlive_.load(std::memory_order_acquire)) {
    sleepFor(kStopPollStep);
  }
  MOX_TRC(1, "Data sending threads are successfully finished\n");
  sleepFor(kPairPause);
}
