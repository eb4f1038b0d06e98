// Polls a condition with a generous deadline instead of sleeping a fixed time.
#pragma once

#include <chrono>
#include <thread>

template <typename Pred>
bool waitUntil(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
