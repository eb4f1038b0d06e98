// CDataJob: the data job, run by the data dispatcher after each data event
// and by MOX_outputMetricData and the exit in their own threads. It has the
// metric store hand over the ended interval's text and sends it through the
// data agent, which it owns, in chunks of whole texts (CTextChunker).
//
// One run at a time: a run that finds another one running returns at once,
// so the agent (which has no lock of its own) is used by one thread at a time.
#pragma once

#include <memory>

#include "mox/agents/data_sending_agent.h"
#include "mox/metrics/metric_format.h"
#include "mox/metrics/perf_data_manager.h"
#include "thr/thr_plain_mutex.h"

class CDataJob {
 public:
  // agent may be null: the intervals are then rotated and dropped.
  explicit CDataJob(std::unique_ptr<CMTDataSendingAgent> agent) : agent_(std::move(agent)) {}
  CDataJob(const CDataJob&) = delete;
  CDataJob& operator=(const CDataJob&) = delete;

  // Rotates store; the ended interval is sent when the agent is ready.
  void run(CPerfDataManager& store, const MetricFormat& format);
  bool busy() const;
  CMTDataSendingAgent* agent() const { return agent_.get(); }

 private:
  // Texts go out gathered in chunks when the agent takes them so.
  void handOver(CPerfDataManager& store, const MetricFormat& format);
  bool enter();
  void leave();

  const std::unique_ptr<CMTDataSendingAgent> agent_;
  mutable ThrPlainMutex busyLock_;
  bool busy_ GUARDED_BY(busyLock_) = false;
};
