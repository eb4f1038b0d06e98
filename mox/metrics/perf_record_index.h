// PerfRecordIndex: a hash index over the performance records of one cache
// section, so that the timing path finds a key's record with one hash and a
// probe or two instead of a walk down the ordered map (which the text needs
// for its key order). Its table has a fixed size, made with the section, so
// indexing a record under the exclusive section lock never allocates; past
// half full it takes no more records, and a key it does not hold is looked
// up in the map as before. Guarded like the map it indexes, except that find
// may also run inside a light read (thr/thr_light_read.h) of the current
// section while insert runs: a slot is filled hash first, record last, and
// read record first, so such a find sees a slot whole or free. Nothing is
// removed while the section is current.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

class CPerfRecord;

class PerfRecordIndex {
 public:
  static constexpr size_t kSlots = 1024;  // a power of two
  static constexpr size_t kMaxRecords = kSlots / 2;

  PerfRecordIndex();
  // The record of key, or nullptr when the index does not hold it.
  CPerfRecord* find(std::u16string_view key) const;
  // Indexes record unless it is there or the index is full.
  void insert(CPerfRecord* record);
  void clear();

 private:
  struct Slot {
    std::atomic<uint64_t> hash{0};
    std::atomic<CPerfRecord*> record{nullptr};  // nullptr: free
  };
  static uint64_t hashOf(std::u16string_view key);

  std::unique_ptr<Slot[]> slots_;
  std::atomic<size_t> size_{0};
};
