// TraceTextArena: the texts of one trace section, copied into a few large
// blocks that stay from one round of the ring to the next, so that adding a
// text allocates nothing once the blocks are there, and a round frees a
// handful of blocks instead of one string per text.
//
// Memory: clear keeps as many blocks as the round just ended filled (a load
// that goes on needs them again), at most kMaxKeptBlocks, and gives back the
// rest and any block larger than kBlockUnits (made for one huge text); after
// a burst, the next quieter round gives its blocks back. The kept blocks can
// also be handed to another arena (releaseBlocks, adoptBlocks): the trace
// store passes a sent section's blocks on to the one being filled, so the
// same few blocks, recently touched, serve round after round.
//
// Not thread-safe: the owning section locks around it.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

class TraceTextArena {
 public:
  // 64 KiB per block: below the allocator's default threshold for mapping
  // memory of its own, so a block is not faulted in again each round.
  static constexpr size_t kBlockUnits = 32 * 1024;
  static constexpr size_t kMaxKeptBlocks = 128;

  struct Block {
    std::unique_ptr<char16_t[]> units;
    size_t capacity = 0;
    size_t used = 0;
  };

  // Copies text in (an empty text too).
  void add(std::u16string_view text) { add({}, text); }
  // Copies head and body in, one after the other, as one text.
  void add(std::u16string_view head, std::u16string_view body);
  // Forgets every text; views handed out before are no longer valid.
  void clear();
  // The texts in the order added; valid until the next add or clear.
  const std::vector<std::u16string_view>& texts() const { return texts_; }
  // Clears, then hands out the blocks clear kept; the arena holds none after.
  std::vector<Block> releaseBlocks();
  // Takes empty blocks (from releaseBlocks) as room for later texts, as long
  // as the arena holds fewer than kMaxKeptBlocks; the others are freed.
  void adoptBlocks(std::vector<Block>&& spare);
  // Blocks held now (for tests of the memory bound).
  size_t blockCount() const { return blocks_.size(); }

 private:
  // Where size more units can go: the current block, a later kept one, or a
  // new block of at least size units.
  char16_t* roomFor(size_t size);

  std::vector<Block> blocks_;
  size_t current_ = 0;  // the block being filled
  std::vector<std::u16string_view> texts_;
};
