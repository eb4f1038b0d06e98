// CTraceJob: the trace job, run by the trace dispatcher after each trace
// event and by MOX_outputMetricData and the exit in their own threads. It
// takes the trace store's texts and sends them through the trace agent,
// which it owns, after the version event once per library life.
//
// An agent that takes chunks (file, socket) gets a hand-over's texts
// gathered into a few writes (CTextChunker) rather than one per text.
//
// One run at a time: a run that finds another one running returns at once,
// so the agent (which has no lock of its own) is used by one thread at a time.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "mox/agents/data_sending_agent.h"
#include "mox/trace/trace_data_manager.h"
#include "thr/thr_plain_mutex.h"

class CTraceJob {
 public:
  // agent may be null: the texts are then taken and dropped.
  explicit CTraceJob(std::unique_ptr<CMTDataSendingAgent> agent) : agent_(std::move(agent)) {}
  CTraceJob(const CTraceJob&) = delete;
  CTraceJob& operator=(const CTraceJob&) = delete;

  // Takes store's texts; sends the version event (versionPrefix:
  // "<system>|<process>_<instance>") when it is due and the agent is ready,
  // then the texts when the agent is ready. Texts of a run whose agent is not
  // ready are not kept for a later one.
  void run(CMTTraceDataManager& store, const std::u16string& versionPrefix);
  bool busy() const;
  bool versionSent() const { return versionSent_.load(std::memory_order_acquire); }
  CMTDataSendingAgent* agent() const { return agent_.get(); }

 private:
  bool enter();
  void leave();
  void sendVersionEventIfDue(const std::u16string& versionPrefix);
  void send(const TraceTexts& texts);
  static void sendInChunks(CMTDataSendingAgent& agent, const TraceTexts& texts);

  const std::unique_ptr<CMTDataSendingAgent> agent_;
  std::atomic<bool> versionSent_{false};
  mutable ThrPlainMutex busyLock_;
  bool busy_ GUARDED_BY(busyLock_) = false;
};
