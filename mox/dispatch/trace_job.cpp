#include "mox/dispatch/trace_job.h"

#include <utility>

#include "dptrc/dptrc.h"
#include "mox/dispatch/text_chunker.h"

bool CTraceJob::enter() {
  ThrPlainMutexHold hold(busyLock_);
  if (busy_) return false;
  busy_ = true;
  return true;
}

void CTraceJob::leave() {
  MOX_TRC(2, "Processing finished\n");
  ThrPlainMutexHold hold(busyLock_);
  busy_ = false;
}

bool CTraceJob::busy() const {
  ThrPlainMutexHold hold(busyLock_);
  return busy_;
}

void CTraceJob::run(CMTTraceDataManager& store, const std::u16string& versionPrefix) {
  if (!enter()) return;
  // However the sending ends, the job must be left, or it would never run again.
  try {
    store.handOverTexts([&](const TraceTexts& texts) {
      sendVersionEventIfDue(versionPrefix);
      send(texts);
    });
  } catch (...) {
  }
  leave();
}

void CTraceJob::sendVersionEventIfDue(const std::u16string& versionPrefix) {
  if (versionSent_.load(std::memory_order_acquire)) return;
  CMTDataSendingAgent* agent = agent_.get();
  if (agent == nullptr || !agent->checkConnection()) return;
  agent->sendData(CMTTraceDataManager::versionEventText(versionPrefix));
  // Not written anywhere (a full disk): sent again in the next round.
  if (agent->lastSendFailed()) return;
  versionSent_.store(true, std::memory_order_release);
  MOX_TRC(1, "Version Data Sent\n");
}

void CTraceJob::send(const TraceTexts& texts) {
  CMTDataSendingAgent* agent = agent_.get();
  if (agent == nullptr || texts.empty()) return;
  MOX_TRC(1, "Trace Data Detected\n");
  if (!agent->checkConnection()) return;
  if (agent->takesChunks()) {
    sendInChunks(*agent, texts);
  } else {
    for (std::u16string_view text : texts) agent->sendData(std::u16string(text));
  }
  MOX_TRC(2, "Trace Data Sending Finished\n");
}

void CTraceJob::sendInChunks(CMTDataSendingAgent& agent, const TraceTexts& texts) {
  // One write (one open of the file, one signal mask) per chunk of a
  // hand-over's texts instead of per trace; each text is converted on its
  // own, so the bytes written are those of one sendData per text.
  CTextChunker chunker(agent);
  for (std::u16string_view text : texts) chunker.add(text);
  chunker.flush();
}
