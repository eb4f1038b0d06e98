// The queue of cache sections, front first, in a ring of fixed size: taking
// the front and putting a section back never allocate or free memory, so the
// metric store can rotate under its exclusive lock without calling the
// allocator. No lock of its own.
#pragma once

#include <cstddef>
#include <vector>

struct CCacheSection;

class SectionRing {
 public:
  // Room for capacity sections (each section is queued at most once); empties the ring.
  void reset(size_t capacity) {
    slots_.assign(capacity, nullptr);
    head_ = count_ = 0;
  }
  bool empty() const { return count_ == 0; }
  // The current section; the ring must not be empty.
  CCacheSection* front() const { return slots_[head_]; }
  void popFront() {
    head_ = (head_ + 1) % slots_.size();
    --count_;
  }
  // Ignored when full, which only a section queued twice could cause.
  void pushBack(CCacheSection* section) {
    if (count_ == slots_.size()) return;
    slots_[(head_ + count_) % slots_.size()] = section;
    ++count_;
  }

 private:
  std::vector<CCacheSection*> slots_;
  size_t head_ = 0;
  size_t count_ = 0;
};
