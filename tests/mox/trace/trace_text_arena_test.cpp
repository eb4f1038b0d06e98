#include "mox/trace/trace_text_arena.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::u16string> copies(const TraceTextArena& arena) { return {arena.texts().begin(), arena.texts().end()}; }

std::u16string textOf(size_t units, char16_t c) { return std::u16string(units, c); }

TEST(TraceTextArenaTest, TextsComeBackInOrderAndUnchangedAcrossBlocks) {
  TraceTextArena arena;
  // Enough texts to fill several blocks, none of which may move the ones
  // already added; an empty text and a non-BMP pair among them.
  std::vector<std::u16string> added = {u"", u"<a x=\"\xD83D\xDE00\"/>\n"};
  for (size_t i = 0; i < 3 * TraceTextArena::kBlockUnits / 1000; ++i) {
    added.push_back(textOf(999 + i % 3, static_cast<char16_t>(u'a' + i % 26)));
  }
  for (const std::u16string& text : added) arena.add(text);
  EXPECT_GE(arena.blockCount(), 3u);
  EXPECT_EQ(copies(arena), added);
}

TEST(TraceTextArenaTest, TextLargerThanABlockGetsItsOwnWhichIsNotKept) {
  TraceTextArena arena;
  const std::u16string huge = textOf(TraceTextArena::kBlockUnits + 1, u'h');
  arena.add(u"before");
  arena.add(huge);
  arena.add(u"after");
  EXPECT_EQ(copies(arena), (std::vector<std::u16string>{u"before", huge, u"after"}));
  arena.clear();
  EXPECT_TRUE(arena.texts().empty());
  EXPECT_EQ(arena.blockCount(), 2u) << "the oversized block is given back, the two others kept";
}

TEST(TraceTextArenaTest, ClearKeepsWhatTheRoundFilledUpToTheBound) {
  TraceTextArena arena;
  const std::u16string half = textOf(TraceTextArena::kBlockUnits / 2 + 1, u'x');  // one per block
  const auto fill = [&](size_t blocks) {
    for (size_t i = 0; i < blocks; ++i) arena.add(half);
  };
  fill(5);
  arena.clear();
  EXPECT_EQ(arena.blockCount(), 5u);
  fill(5);
  EXPECT_EQ(arena.blockCount(), 5u) << "the kept blocks took the next round";
  EXPECT_EQ(copies(arena), std::vector<std::u16string>(5, half));
  arena.clear();
  fill(2);
  arena.clear();
  EXPECT_EQ(arena.blockCount(), 2u) << "a quieter round gives the rest back";
  arena.clear();
  EXPECT_EQ(arena.blockCount(), 0u);
  fill(TraceTextArena::kMaxKeptBlocks + 2);
  arena.clear();
  EXPECT_EQ(arena.blockCount(), TraceTextArena::kMaxKeptBlocks);
}

TEST(TraceTextArenaTest, ReleasedBlocksServeAnotherArenaUpToTheBound) {
  TraceTextArena sent, current;
  const std::u16string half = textOf(TraceTextArena::kBlockUnits / 2 + 1, u'x');  // one per block
  for (int i = 0; i < 3; ++i) sent.add(half);
  current.add(u"before");
  current.adoptBlocks(sent.releaseBlocks());
  EXPECT_EQ(sent.blockCount(), 0u);
  EXPECT_TRUE(sent.texts().empty());
  EXPECT_EQ(current.blockCount(), 4u);
  for (int i = 0; i < 3; ++i) current.add(half);
  EXPECT_EQ(current.blockCount(), 4u) << "the adopted blocks took the texts";
  EXPECT_EQ(copies(current), (std::vector<std::u16string>{u"before", half, half, half}));

  // An arena at the bound frees what it is offered.
  TraceTextArena full, many;
  for (size_t i = 0; i < TraceTextArena::kMaxKeptBlocks; ++i) full.add(half);
  for (int i = 0; i < 2; ++i) many.add(half);
  full.adoptBlocks(many.releaseBlocks());
  EXPECT_EQ(full.blockCount(), TraceTextArena::kMaxKeptBlocks);
}

}  // namespace
