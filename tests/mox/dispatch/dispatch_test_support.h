// The dispatcher with the stores it drives and a recording agent for each of
// its jobs, set up from configuration pairs and torn down (tick source included).
#pragma once

#include <gtest/gtest.h>

#include "common/clock.h"
#include "mox/context/context_manager.h"
#include "mox/dispatch/dispatcher_manager.h"
#include "mox/dispatch/metric_format_source.h"
#include "mox/metrics/perf_data_manager.h"
#include "mox/trace/trace_data_manager.h"
#include "support/recording_agent.h"
#include "support/test_config.h"

struct DispatchWorld {
  explicit DispatchWorld(const std::vector<std::pair<std::u16string, std::u16string>>& pairs,
                         std::u16string processName = u"", std::u16string instanceNumber = u"")
      : identity(std::move(processName), std::move(instanceNumber)) {
    configureForTest(pairs);
    (dispatcher = CDispatcherManager::getInstance())->init(identity);
    (registry = CMTContextManager::getInstance())->init(identity);
    auto trace = std::make_unique<RecordingAgent>(), data = std::make_unique<RecordingAgent>();
    traceAgent = trace.get(), dataAgent = data.get();
    CMTTraceDataManager::getInstance()->init();
    CPerfDataManager::getInstance()->init();
    dispatcher->setAgents(std::move(trace), std::move(data));
  }
  ~DispatchWorld() {
    setTickSource(nullptr);
    CMTTraceDataManager::destroyInstance();
    CPerfDataManager::destroyInstance();
    CMTContextManager::destroyInstance();
    CDispatcherManager::destroyInstance();
    CConfiguration::destroyInstance();
  }

  ProcessIdentity identity;
  CDispatcherManager* dispatcher = nullptr;
  CMTContextManager* registry = nullptr;
  RecordingAgent* traceAgent = nullptr;
  RecordingAgent* dataAgent = nullptr;
};
