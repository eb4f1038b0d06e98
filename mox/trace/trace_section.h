// CMTTraceSection: one section of finished transaction traces, as records
// (trace_record.h).
//
// Locking: every operation takes the section's own readers-writer lock
// (shared to read, exclusive to change). Callers that also hold the trace
// store's section lock take that one first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "mox/trace/trace_text_arena.h"
#include "thr/thr.h"

// Texts or records handed over: views, valid while the hand-over runs.
using TraceTexts = std::vector<std::u16string_view>;

class CMTTraceSection {
 public:
  explicit CMTTraceSection(uint16_t number);
  ~CMTTraceSection();
  CMTTraceSection(const CMTTraceSection&) = delete;
  CMTTraceSection& operator=(const CMTTraceSection&) = delete;

  // 1..2N in creation order; fixed for the section's life.
  uint16_t number() const { return number_; }

  // Appends a copy of record (an empty one too); head and body are copied
  // one after the other as one record.
  void add(std::u16string_view head, std::u16string_view body);
  // Destroys every text.
  void clear();
  // Destroys every text and hands out the blocks they were in, for another
  // section (TraceTextArena::releaseBlocks).
  std::vector<TraceTextArena::Block> releaseBlocks();
  // Takes empty blocks as room for later texts (TraceTextArena::adoptBlocks).
  void adoptBlocks(std::vector<TraceTextArena::Block>&& spare);
  bool isEmpty() const;
  size_t size() const;
  // Calls take with every record, in the order added, holding the section
  // lock shared.
  void handOver(const std::function<void(const TraceTexts&)>& take) const;

 private:
  ThrRwLock* lock_ = nullptr;
  uint16_t number_;
  TraceTextArena traces_ GUARDED_BY(lock_);
};
