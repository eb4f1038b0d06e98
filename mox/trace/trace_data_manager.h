// CMTTraceDataManager: the process-wide store of transaction-trace texts and
// the trace dispatch job that drains it.
//
// The store is a ring of 2 * cache_section_count sections; the front of the
// queue is the current section, into which producers add. The job detaches
// the front (switchSection), sends its texts outside the store's lock, and
// appends it at the back (putBack); a section's texts are destroyed when it
// becomes current again.
//
// Locking, in this order: sectionLock (shared while a text is added,
// exclusive while the ring rotates or a section is put back), then a
// section's own lock, then busyLock. busyLock is never held while waiting for
// sectionLock. The agent is called under a section's lock in shared mode, or
// (the version event) under no lock.
//
// Lifetime: getInstance creates the manager on first use; destroyInstance
// frees it with its sections and agent. Callers must have left every
// operation before destroyInstance.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "mox/agents/data_sending_agent.h"
#include "mox/trace/trace_section.h"
#include "thr/thr.h"

class CMTTraceDataManager {
 public:
  static CMTTraceDataManager* getInstance();
  static void destroyInstance();
  static void abandonInstance();  // forgets it untouched (forked child)

  // Creates 2 * cache_section_count sections numbered 1..2N (section 1
  // current) and the trace agent from the configured sending method.
  void init();
  // Same with the given agent (may be null); for callers that choose the sink.
  void init(std::unique_ptr<CMTDataSendingAgent> agent);

  // Appends text to the current section. Dropped when init has not run.
  void addTrace(std::u16string text);

  // Detaches and returns the current section; the next one becomes current
  // and is emptied. nullptr when the store has fewer than two sections.
  CMTTraceSection* switchSection();
  // Appends a detached section at the back of the ring.
  void putBack(CMTTraceSection* section);
  bool isEmpty(const CMTTraceSection* section) const;
  void sendAll(const CMTTraceSection* section, CMTDataSendingAgent* agent) const;

  // The trace dispatch job: rotate, send the version event once per manager
  // life when the agent is ready ("<system>|<process>_<instance>" is
  // versionPrefix), send the detached texts when the agent is ready, put the
  // section back. A call that finds the job already running returns at once.
  void processTrace(const std::u16string& versionPrefix);

  CMTDataSendingAgent* traceAgent() const { return traceAgent_.get(); }
  bool versionSent() const { return versionSent_.load(std::memory_order_acquire); }
  bool busy() const { return busy_.load(std::memory_order_acquire); }
  size_t sectionCount() const;

  // The version event line for the given prefix.
  static std::u16string versionEventText(const std::u16string& versionPrefix);

  ~CMTTraceDataManager();

 private:
  CMTTraceDataManager();
  CMTTraceDataManager(const CMTTraceDataManager&) = delete;
  CMTTraceDataManager& operator=(const CMTTraceDataManager&) = delete;

  bool enterJob();
  void sendVersionEventIfDue(const std::u16string& versionPrefix);
  void sendSection(const CMTTraceSection* section);
  void finishJob(CMTTraceSection* section);
  void appendSection(CMTTraceSection* section) REQUIRES(sectionLock_);

  ThrMutex busyLock_;
  std::atomic<uint8_t> busy_{0};
  std::atomic<uint8_t> versionSent_{0};
  ThrRwLock* sectionLock_ = nullptr;
  std::vector<std::unique_ptr<CMTTraceSection>> owned_ GUARDED_BY(sectionLock_);  // every section, detached or not
  std::deque<CMTTraceSection*> queue_ GUARDED_BY(sectionLock_);                   // front is current
  std::unique_ptr<CMTDataSendingAgent> traceAgent_;
};
