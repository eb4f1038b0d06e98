// MoxLibrary: one library's state, owned in one place. The lifecycle builds
// it at the first initialisation and destroys it at the exit; every part
// gets references to what it uses from here, so nothing below this room
// looks a manager up, and nothing can re-create one after the exit.
//
// Built in the written order: the configuration (loaded by the lifecycle,
// which then opens the trace file), then build(): the dispatcher (which
// initialises the thread layer), the registry, the trace store, the metric
// store, and the two agents handed to the dispatcher's jobs. Destroyed the
// other way: the stores, the registry, then the dispatcher (which stops any
// thread still running and shuts the thread layer down).
#pragma once

#include <memory>
#include <string>

#include "mox/config/configuration.h"
#include "mox/config/process_identity.h"
#include "mox/context/context_manager.h"
#include "mox/dispatch/dispatcher_manager.h"
#include "mox/metrics/perf_data_manager.h"
#include "mox/trace/trace_data_manager.h"

class MoxLibrary {
 public:
  MoxLibrary(std::u16string processName, std::u16string instanceNumber);
  ~MoxLibrary();
  MoxLibrary(const MoxLibrary&) = delete;
  MoxLibrary& operator=(const MoxLibrary&) = delete;

  // Makes and initialises the parts after the configuration, from it. Once.
  void build();
  // Whether build() made every part.
  bool isBuilt() const { return metrics_ != nullptr; }

  CConfiguration& config() { return config_; }
  ProcessIdentity& identity() { return identity_; }
  // The parts made by build().
  CDispatcherManager& dispatcher() { return *dispatcher_; }
  CMTContextManager& registry() { return *registry_; }
  CMTTraceDataManager& traces() { return *traces_; }
  CPerfDataManager& metrics() { return *metrics_; }

 private:
  CConfiguration config_;
  ProcessIdentity identity_;
  std::unique_ptr<CDispatcherManager> dispatcher_;
  std::unique_ptr<CMTContextManager> registry_;
  std::unique_ptr<CMTTraceDataManager> traces_;
  std::unique_ptr<CPerfDataManager> metrics_;
};
