// CDispatcherManager: the four background threads that send the library's
// data, their flags and their events, and the trace and data jobs with the
// agents they send through.
//
// A trace timer and a data timer tick once a second and, when their interval
// has run out, signal the trace or the data event; the trace dispatcher then
// runs the trace job, the data dispatcher the resource callbacks, the data
// job and, every zombie_check_interval seconds, the zombie and empty context
// scan.
//
// Threading: init/start/stopTimers/stopDispatchers/the destructor are the
// lifecycle's (one thread, never concurrently). Every flag is an atomic that
// the threads poll; updateDataInterval may come from any thread.
//
// The timers wait on their own wake events with a one-second time-out
// instead of sleeping, so that stopTimers is noticed at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "mox/config/configuration.h"
#include "mox/config/process_identity.h"
#include "mox/context/context_manager.h"
#include "mox/dispatch/data_job.h"
#include "mox/dispatch/trace_job.h"
#include "thr/thr.h"
#include "thr/thr_plain_mutex.h"

class CDispatcherManager {
 public:
  CDispatcherManager() = default;
  // Clears running, deletes the events and shuts the thread layer down.
  // Threads still running are stopped first.
  ~CDispatcherManager();
  CDispatcherManager(const CDispatcherManager&) = delete;
  CDispatcherManager& operator=(const CDispatcherManager&) = delete;
  // True on the four threads of the library.
  static bool onLibraryThread();

  // Intervals from tracecheck_interval and datasending_interval; keeps
  // references to the configuration and the process identity (for the jobs'
  // texts and the scan's time-outs), the registry (the scan) and the two
  // stores (the jobs), which must outlive the manager; initialises the thread
  // layer unless it is already; creates the events; clears the thread ids
  // and zombieElapsed.
  void init(const CConfiguration& cfg, const ProcessIdentity& identity, CMTContextManager& registry,
            CMTTraceDataManager& traces, CPerfDataManager& metrics);
  // The agents of the trace job and of the data job (either may be null:
  // nothing is sent). Only before start.
  void setAgents(std::unique_ptr<CMTDataSendingAgent> traceAgent, std::unique_ptr<CMTDataSendingAgent> dataAgent);
  CTraceJob& traceJob() { return *traceJob_; }
  CDataJob& dataJob() { return *dataJob_; }
  bool isRunning() const { return running_.load(std::memory_order_acquire); }
  // Sets running and creates the threads of each non-zero interval.
  void start();
  // The new datasending_interval; the data timer uses it from its next tick.
  // Starts the data threads when they run not yet (the interval was 0 at the
  // start) and the manager is running.
  void updateDataInterval(uint32_t seconds);
  // Clears running and waits until both timers have left their loops.
  void stopTimers();
  // Waits until neither dispatcher is busy, wakes both so that they end, and
  // waits until they have left their loops; then pauses 200 ms.
  void stopDispatchers();
  // Both stops, when any thread is still alive.
  void stopThreads();

  uint32_t traceInterval() const { return traceInterval_.load(std::memory_order_relaxed); }
  uint32_t dataInterval() const { return dataInterval_.load(std::memory_order_relaxed); }
  uint32_t zombieElapsed() const { return zombieElapsed_.load(std::memory_order_relaxed); }
  bool traceBusy() const { return traceBusy_.load(std::memory_order_acquire); }
  bool dataBusy() const { return dataBusy_.load(std::memory_order_acquire); }
  // True while any of the four threads is still in its loop.
  bool anyThreadAlive() const;

  // The data dispatcher's work after a data event: resource callbacks, the
  // data job, the zombie accumulator. Public so that it can be driven
  // without waiting for the data timer.
  void runDataDispatch();
  // Adds dataInterval to zombieElapsed (when zombie_check_interval is not 0)
  // and runs the context scan when it reaches the check interval.
  void accumulateZombieTime();
  // The trace job, then the data job, in the calling thread (MOX_outputMetricData
  // and the final flush at exit). Returns at once for a job already running.
  void runTraceAndDataJobs();

 private:
  void startTracePair();
  void startDataPair();
  // Marks the calling thread as one of the library's.
  static void enterLibraryThread();
  // Creates one thread; its alive flag is raised before it runs, so that a
  // stop that comes at once still waits for it. Traces either line.
  void createThread(ThrStartFn body, std::atomic<ThrId>& id, std::atomic<bool>& alive, const char* failure,
                    const char* success);
  void deleteEvents();

  static void* traceTimerMain(void* self);
  static void* dataTimerMain(void* self);
  static void* traceDispatcherMain(void* self);
  static void* dataDispatcherMain(void* self);
  // Waits one second or until stopTimers wakes the timer; false once
  // running is clear.
  bool timerTick(ThrEvt* wake);
  // After a failed event wait: false once running is clear (the dispatcher
  // ends), else true after a short pause.
  bool waitAgainAfterFailure() const;

  const CConfiguration* config_ = nullptr;
  const ProcessIdentity* identity_ = nullptr;
  CMTContextManager* registry_ = nullptr;
  CMTTraceDataManager* traces_ = nullptr;
  CPerfDataManager* metrics_ = nullptr;
  std::unique_ptr<CTraceJob> traceJob_ = std::make_unique<CTraceJob>(nullptr);
  std::unique_ptr<CDataJob> dataJob_ = std::make_unique<CDataJob>(nullptr);
  std::atomic<bool> running_{false};
  std::atomic<bool> dataBusy_{false};
  std::atomic<bool> traceBusy_{false};
  std::atomic<bool> dataTimerAlive_{false};
  std::atomic<bool> traceTimerAlive_{false};
  std::atomic<bool> dataDispatcherAlive_{false};
  std::atomic<bool> traceDispatcherAlive_{false};
  std::atomic<ThrId> dataTimerThread_{0};
  std::atomic<ThrId> traceTimerThread_{0};
  std::atomic<ThrId> dataDispatcherThread_{0};
  std::atomic<ThrId> traceDispatcherThread_{0};
  std::atomic<uint32_t> traceInterval_{0};
  std::atomic<uint32_t> dataInterval_{0};
  std::atomic<uint32_t> zombieElapsed_{0};

  ThrPlainMutex dataPairStart_;  // one start of the data threads at a time

  ThrEvt* traceEvent_ = nullptr;
  ThrEvt* dataEvent_ = nullptr;
  ThrEvt* traceTimerWake_ = nullptr;
  ThrEvt* dataTimerWake_ = nullptr;
};
