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
  explicit DispatchWorld(const ConfigPairs& pairs, std::u16string processName = u"",
                         std::u16string instanceNumber = u"")
      : identity(std::move(processName), std::move(instanceNumber)) {
    configureForTest(config, pairs);
    dispatcher->init(config, identity, *registry, traces, metrics);
    registry->init(config, identity, metrics, traces);
    traces.init(config);
    metrics.init(config);
    auto trace = std::make_unique<RecordingAgent>(), data = std::make_unique<RecordingAgent>();
    traceAgent = trace.get(), dataAgent = data.get();
    dispatcher->setAgents(std::move(trace), std::move(data));
  }
  ~DispatchWorld() {
    dispatcher->stopThreads();
    setTickSource(nullptr);
  }

  // Destroyed bottom up: the stores, the registry, then the dispatcher.
  CConfiguration config;
  ProcessIdentity identity;
  CDispatcherManager dispatcherObject;
  CMTContextManager registryObject;
  CPerfDataManager metrics;
  CMTTraceDataManager traces;
  CDispatcherManager* dispatcher = &dispatcherObject;
  CMTContextManager* registry = &registryObject;
  RecordingAgent* traceAgent = nullptr;
  RecordingAgent* dataAgent = nullptr;
};
