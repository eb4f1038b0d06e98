// CTextChunker: gathers the texts of one interval, whole, as UTF-8 into
// chunks of about kChunkBytes and hands each chunk to the agent at once, so
// that an interval costs one write (one open of the file, one signal mask)
// per chunk rather than per text.
//
// A chunk ends only between texts: no text is split across two chunks, so
// no chunk ends inside a character, and a chunk the agent fails to send
// loses (or sends to its fallback) whole texts only. Memory stays within
// one chunk plus one text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "mox/agents/data_sending_agent.h"

class CTextChunker {
 public:
  static constexpr size_t kChunkBytes = 64 * 1024;

  // agent must take chunks (takesChunks) and outlive the chunker.
  explicit CTextChunker(CMTDataSendingAgent& agent, size_t chunkBytes = kChunkBytes);
  CTextChunker(const CTextChunker&) = delete;
  CTextChunker& operator=(const CTextChunker&) = delete;

  // Adds text behind the ones before; sends the chunk once it holds at least
  // chunkBytes. A text the agent would not send, or that finds no memory, is
  // left out alone. Does not throw.
  void add(std::u16string_view text);
  // Sends what is gathered, if anything. Does not throw.
  void flush();

 private:
  CMTDataSendingAgent& agent_;
  const size_t chunkBytes_;
  std::string chunk_;
  size_t texts_ = 0;  // in chunk_
};
