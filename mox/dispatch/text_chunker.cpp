#include "mox/dispatch/text_chunker.h"

CTextChunker::CTextChunker(CMTDataSendingAgent& agent, size_t chunkBytes) : agent_(agent), chunkBytes_(chunkBytes) {
  try {
    chunk_.reserve(chunkBytes_);
  } catch (...) {
    // Grows as texts come instead.
  }
}

void CTextChunker::add(std::u16string_view text) {
  const size_t before = chunk_.size();
  bool added = false;
  try {
    added = agent_.appendUtf8(text, chunk_);
  } catch (...) {
  }
  // A text is in the chunk whole or not at all.
  if (added) {
    ++texts_;
  } else {
    chunk_.resize(before);
  }
  if (chunk_.size() >= chunkBytes_) flush();
}

void CTextChunker::flush() {
  if (chunk_.empty()) return;
  try {
    agent_.sendUtf8(chunk_, texts_);
  } catch (...) {
  }
  chunk_.clear();  // keeps the capacity for the next chunk
  texts_ = 0;
}
