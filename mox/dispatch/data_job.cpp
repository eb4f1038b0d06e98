#include "mox/dispatch/data_job.h"

#include <utility>

#include "dptrc/dptrc.h"

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
  CMTDataSendingAgent* agent = agent_.get();
  std::function<bool()> ready;
  if (agent != nullptr) ready = [agent] { return agent->checkConnection(); };
  // However the sending ends, the job must be left, or it would never run again.
  try {
    store.handOverInterval(format, ready, [agent](std::u16string text) { agent->sendData(std::move(text)); });
  } catch (...) {
  }
  leave();
}
