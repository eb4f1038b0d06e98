// One change to a performance record, applied in a single lock hold, and
// the record it goes to.
#pragma once

#include <cstdint>
#include <string_view>

struct PerfUpdate {
  // Order of application: incActive, then addTimes, then the end operation.
  bool incActive = false;
  bool addTimes = false;
  int32_t elapsedMs = 0;  // milliseconds
  int64_t cpuUs = -1;     // microseconds; -1 when not measured
  int32_t netElapsedMs = 0;
  int64_t netCpuUs = -1;
  enum class End : uint8_t { None, Finished, Terminated } end = End::None;
  // The call's component is listed in skip_times_in_names: its key's record
  // prints no Active Counter.
  bool skipped = false;
};

class CPerfRecord;

// The record a call's update went to, and in which section: while that
// section is current, the call's later updates go straight to the record,
// without the map look-up. Checked and used under the section lock (shared),
// so an update never lands in a section that was detached meanwhile.
struct PerfRecordMemo {
  CPerfRecord* record = nullptr;
  uint64_t section = 0;  // CPerfDataManager's serial of the section, 0: none
};

// The key under which an interval counts the calls of the timing keys past
// max_timing_keys_per_interval. Timing keys are "component|method"; without
// a "|" this one can never be a host's key.
constexpr std::u16string_view kOtherTimingKeys = u"Other Timing Keys";

// Which record a call's update goes to. A call's first update decides; its
// later ones name the decision, so that a call counted as running under one
// key also ends under it.
enum class PerfTarget : uint8_t {
  Undecided,  // the key's record; when the key has none and the interval has reached the bound, kOtherTimingKeys
  Key,        // the key's record, made past the bound if need be
  Overflow,   // kOtherTimingKeys
};
