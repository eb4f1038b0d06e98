#include "mox/dispatch/data_job.h"

#include <utility>

#include "dptrc/dptrc.h"
#include "mox/dispatch/text_chunker.h"

bool CDataJob::enter() {
  ThrPlainMutexHold hold(busyLock_);
  if (busy_) return false;
  busy_ = true;
  return true;
}

void CDataJob::leave() {
  MOX_TRC(2, "Processing finished\n");
  ThrPlainMutexHold hold(busyLock_);
  busy_ = false;
}

bool CDataJob::busy() const {
  ThrPlainMutexHold hold(busyLock_);
  return busy_;
}

void CDataJob::run(CPerfDataManager& store, const MetricFormat& format) {
  if (!enter()) return;
  // However the sending ends, the job must be left, or it would never run again.
  try {
    handOver(store, format);
  } catch (...) {
  }
  leave();
}

void CDataJob::handOver(CPerfDataManager& store, const MetricFormat& format) {
  CMTDataSendingAgent* agent = agent_.get();
  if (agent == nullptr) {
    store.handOverInterval(format, nullptr, nullptr);
    return;
  }
  const std::function<bool()> ready = [agent] { return agent->checkConnection(); };
  if (!agent->takesChunks()) {
    store.handOverInterval(format, ready, [agent](std::u16string text) { agent->sendData(std::move(text)); });
    return;
  }
  CTextChunker chunker(*agent);
  store.handOverInterval(format, ready, [&chunker](std::u16string text) { chunker.add(text); });
  chunker.flush();
}
