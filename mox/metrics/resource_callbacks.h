// The host's resource callbacks, by id: functions the data dispatcher calls
// shortly before each data job, on a grid of their own interval, so that the
// host can report its resources just in time.
//
// Times are seconds since 1970 on the wall clock as unsigned 32-bit numbers
// (the caller reads the clock, so tests can drive it). The map is guarded by
// one mutex, which is never held while a host function runs: a callback may
// register or deregister callbacks (itself included) and report resources.
#pragma once

#include <cstdint>
#include <map>

#include "thr/thr_plain_mutex.h"

using ResourceCallbackFn = void (*)();

class CResourceCallbacks {
 public:
  // Ignored for a null function or an id already registered (the first stays).
  // An interval longer than sendingInterval puts the callback on the grid of
  // times t with t mod interval == offset mod interval (offset as unsigned);
  // otherwise it is due at once and then at every run.
  void registerCallback(uint32_t id, ResourceCallbackFn function, uint32_t interval, int32_t offset, uint32_t now,
                        uint32_t sendingInterval);
  void deregisterCallback(uint32_t id);
  // Calls, in id order, every callback registered when its turn comes whose
  // due time lies before now, and moves its due time on by its interval. A
  // callback that throws is treated as having returned.
  void runDue(uint32_t now);
  size_t size() const;

  // The first due time of a registration (exposed for tests).
  static uint32_t firstDue(uint32_t interval, int32_t offset, uint32_t now, uint32_t sendingInterval);

 private:
  struct Entry {
    ResourceCallbackFn function;
    uint32_t interval;
    uint32_t nextDue;
  };
  // The entry after `after` (or the first when none) that is due now, with its
  // due time already advanced; false when no such entry remains.
  bool takeNextDue(bool fromStart, uint32_t after, uint32_t now, uint32_t& id, ResourceCallbackFn& function);

  mutable ThrPlainMutex lock_;
  std::map<uint32_t, Entry> entries_ GUARDED_BY(lock_);
};
