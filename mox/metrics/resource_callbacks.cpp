#include "mox/metrics/resource_callbacks.h"

uint32_t CResourceCallbacks::firstDue(uint32_t interval, int32_t offset, uint32_t now, uint32_t sendingInterval) {
  if (interval <= sendingInterval) return now;
  const uint32_t phase = static_cast<uint32_t>(offset) % interval;
  const uint32_t elapsed = now % interval;
  uint32_t due = now - elapsed + phase;
  if (phase < elapsed) due += interval;
  return due;
}

void CResourceCallbacks::registerCallback(uint32_t id, ResourceCallbackFn function, uint32_t interval, int32_t offset,
                                          uint32_t now, uint32_t sendingInterval) {
  if (function == nullptr) return;
  const Entry entry{function, interval, firstDue(interval, offset, now, sendingInterval)};
  ThrPlainMutexHold hold(lock_);
  entries_.emplace(id, entry);  // keeps an entry already there
}

void CResourceCallbacks::deregisterCallback(uint32_t id) {
  ThrPlainMutexHold hold(lock_);
  entries_.erase(id);
}

size_t CResourceCallbacks::size() const {
  ThrPlainMutexHold hold(lock_);
  return entries_.size();
}

bool CResourceCallbacks::takeNextDue(bool fromStart, uint32_t after, uint32_t now, uint32_t& id,
                                     ResourceCallbackFn& function) {
  ThrPlainMutexHold hold(lock_);
  for (auto entry = fromStart ? entries_.begin() : entries_.upper_bound(after); entry != entries_.end(); ++entry) {
    if (!(now > entry->second.nextDue)) continue;
    entry->second.nextDue += entry->second.interval;
    id = entry->first;
    function = entry->second.function;
    return true;
  }
  return false;
}

void CResourceCallbacks::runDue(uint32_t now) {
  // The walk resumes after the last id called, under a fresh hold each time,
  // so changes made by a callback never invalidate it.
  uint32_t id = 0;
  ResourceCallbackFn function = nullptr;
  for (bool first = true; takeNextDue(first, id, now, id, function); first = false) {
    try {
      function();
    } catch (...) {
      // A host callback that throws must not end the data dispatcher.
    }
  }
}
