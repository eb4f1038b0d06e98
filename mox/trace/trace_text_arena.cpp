#include "mox/trace/trace_text_arena.h"

#include <algorithm>

void TraceTextArena::add(std::u16string_view head, std::u16string_view body) {
  const size_t size = head.size() + body.size();
  if (size == 0) {
    texts_.emplace_back();
    return;
  }
  char16_t* at = roomFor(size);
  std::copy(body.begin(), body.end(), std::copy(head.begin(), head.end(), at));
  texts_.emplace_back(at, size);
}

char16_t* TraceTextArena::roomFor(size_t size) {
  for (; current_ < blocks_.size(); ++current_) {
    Block& block = blocks_[current_];
    if (block.capacity - block.used < size) continue;
    char16_t* at = block.units.get() + block.used;
    block.used += size;
    return at;
  }
  const size_t capacity = std::max(size, kBlockUnits);
  // Not value-initialised: every unit is written before it is read.
  blocks_.push_back(Block{std::unique_ptr<char16_t[]>(new char16_t[capacity]), capacity, size});
  current_ = blocks_.size() - 1;
  return blocks_.back().units.get();
}

void TraceTextArena::clear() {
  const size_t filled = texts_.empty() ? 0 : current_ + 1;
  texts_.clear();
  // An oversized block served one huge text; keeping it would pin its memory.
  blocks_.erase(
      std::remove_if(blocks_.begin(), blocks_.end(), [](const Block& block) { return block.capacity > kBlockUnits; }),
      blocks_.end());
  const size_t kept = std::min(filled, kMaxKeptBlocks);
  if (blocks_.size() > kept) blocks_.resize(kept);
  for (Block& block : blocks_) block.used = 0;
  current_ = 0;
}

std::vector<TraceTextArena::Block> TraceTextArena::releaseBlocks() {
  clear();
  std::vector<Block> released;
  released.swap(blocks_);
  return released;
}

void TraceTextArena::adoptBlocks(std::vector<Block>&& spare) {
  // After the blocks in use, where roomFor looks for room next.
  for (Block& block : spare) {
    if (blocks_.size() >= kMaxKeptBlocks) break;
    block.used = 0;
    blocks_.push_back(std::move(block));
  }
  spare.clear();
}
