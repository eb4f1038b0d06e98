#include "mox/metrics/perf_record_index.h"

#include <cstring>

#include "mox/metrics/perf_record.h"

PerfRecordIndex::PerfRecordIndex() : slots_(new Slot[kSlots]) {}

// Eight bytes at a time: keys are a few dozen bytes, and the hash sits on
// the timing path.
uint64_t PerfRecordIndex::hashOf(std::u16string_view key) {
  constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
  const auto* bytes = reinterpret_cast<const unsigned char*>(key.data());
  size_t left = key.size() * sizeof(char16_t);
  uint64_t hash = left * kMultiplier;
  for (; left >= 8; left -= 8, bytes += 8) {
    uint64_t chunk;
    std::memcpy(&chunk, bytes, 8);
    hash = (hash ^ chunk) * kMultiplier;
    hash ^= hash >> 29;
  }
  if (left > 0) {
    uint64_t chunk = 0;
    std::memcpy(&chunk, bytes, left);
    hash = (hash ^ chunk) * kMultiplier;
    hash ^= hash >> 29;
  }
  return hash;
}

CPerfRecord* PerfRecordIndex::find(std::u16string_view key) const {
  if (size_.load(std::memory_order_relaxed) == 0) return nullptr;
  const uint64_t hash = hashOf(key);
  for (size_t at = hash & (kSlots - 1);; at = (at + 1) & (kSlots - 1)) {
    const Slot& slot = slots_[at];
    CPerfRecord* record = slot.record.load(std::memory_order_acquire);
    if (record == nullptr) return nullptr;
    if (slot.hash.load(std::memory_order_relaxed) == hash && record->key() == key) return record;
  }
}

void PerfRecordIndex::insert(CPerfRecord* record) {
  const size_t size = size_.load(std::memory_order_relaxed);
  if (size >= kMaxRecords) return;
  const uint64_t hash = hashOf(record->key());
  for (size_t at = hash & (kSlots - 1);; at = (at + 1) & (kSlots - 1)) {
    Slot& slot = slots_[at];
    const CPerfRecord* held = slot.record.load(std::memory_order_relaxed);
    if (held == record) return;
    if (held == nullptr) {
      slot.hash.store(hash, std::memory_order_relaxed);
      slot.record.store(record, std::memory_order_release);
      size_.store(size + 1, std::memory_order_relaxed);
      return;
    }
  }
}

void PerfRecordIndex::clear() {
  if (size_.load(std::memory_order_relaxed) == 0) return;
  for (size_t at = 0; at < kSlots; ++at) {
    slots_[at].hash.store(0, std::memory_order_relaxed);
    slots_[at].record.store(nullptr, std::memory_order_relaxed);
  }
  size_.store(0, std::memory_order_relaxed);
}
