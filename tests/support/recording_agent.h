// A data-sending agent for tests: keeps every text it is given and reports
// the readiness the test sets. Safe to use from several threads.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "mox/agents/data_sending_agent.h"

class RecordingAgent : public CMTDataSendingAgent {
 public:
  bool checkConnection() override { return ready.load(); }
  void sendData(std::u16string text) override {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      texts_.push_back(std::move(text));
    }
    if (onSend) onSend();
  }
  std::u16string receiveData() override { return std::u16string(); }

  std::vector<std::u16string> texts() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return texts_;
  }
  size_t count() const { return texts().size(); }
  std::atomic<bool> ready{true};
  // Called after each text is kept (set before the agent is in use).
  std::function<void()> onSend;

 private:
  mutable std::mutex mutex_;
  std::vector<std::u16string> texts_;
};
