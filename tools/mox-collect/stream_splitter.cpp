#include "stream_splitter.h"

#include <algorithm>

#include "element_parser.h"

namespace moxcollect {

namespace {

constexpr size_t kExcerptBytes = 80;
constexpr char kHexDigits[] = "0123456789abcdef";

// The first bytes of head followed by rest, control bytes escaped, into excerpt.
// Built on the stack: a flood of bad lines makes this frequent work.
void excerptOf(std::string_view head, std::string_view rest, std::string& excerpt) {
  char text[4 * kExcerptBytes];
  char* out = text;
  size_t taken = 0;
  for (const std::string_view part : {head, rest}) {
    for (size_t i = 0; i < part.size() && taken < kExcerptBytes; ++i, ++taken) {
      const unsigned char c = static_cast<unsigned char>(part[i]);
      if (c >= 0x20 && c != 0x7f) {
        *out++ = static_cast<char>(c);
      } else {
        *out++ = '\\';
        *out++ = 'x';
        *out++ = kHexDigits[c >> 4];
        *out++ = kHexDigits[c & 15];
      }
    }
  }
  excerpt.assign(text, out);
}

}  // namespace

StreamSplitter::StreamSplitter(ElementHandler onElement, ErrorHandler onError, ElementLimits limits,
                               size_t parseInPiecesFrom)
    : onElement_(std::move(onElement)),
      onError_(std::move(onError)),
      limits_(limits),
      parseInPiecesFrom_(parseInPiecesFrom),
      framer_(limits.maxDepth, limits.maxBytes) {}

size_t StreamSplitter::bytesHeld() const {
  const size_t parser = parser_ ? parser_->bytesHeld() : 0;
  return pending_.capacity() + parser + framer_.bytesHeld() + message_.capacity() + excerpt_.capacity() +
         refusal_.capacity() + raw_.capacity() + problem_.capacity();
}

void StreamSplitter::feed(std::string_view input) {
  while (!input.empty()) {
    if (skipping_) {
      const size_t lineEnd = input.find('\n');
      if (lineEnd == std::string_view::npos) return;
      input.remove_prefix(lineEnd + 1);
      skipping_ = false;
      continue;
    }
    const ElementFramer::Result found = framer_.scan(input);
    const std::string_view element = input.substr(found.begin, found.end - found.begin);
    switch (found.outcome) {
      case ElementFramer::Outcome::NeedMore:
        if (framer_.inElement()) receive(element);
        return;
      case ElementFramer::Outcome::Complete:
        input.remove_prefix(found.end);
        handOver(element, input);
        break;
      case ElementFramer::Outcome::Malformed:
        // Resumes after the first line feed from the offending byte on.
        reject(found.problem, pending_, input.substr(found.begin));
        input.remove_prefix(found.end);
        break;
    }
  }
}

void StreamSplitter::receive(std::string_view bytes) {
  if (refused_) return keepHead(bytes);
  keep(bytes);
  if (!parser_) {
    if (pending_.size() < parseInPiecesFrom_) return;
    parser_ = std::make_unique<ElementParser>(limits_.maxMemory);
  }
  if (!parser_->advance(pending_, framer_.completeBytes(), false)) refuse();
}

void StreamSplitter::refuse() {
  refusal_ = parser_->problem();
  parser_.reset();
  refused_ = true;
  std::string head = pending_.substr(0, kExcerptBytes);
  pending_.swap(head);
}

void StreamSplitter::handOver(std::string_view tail, std::string_view following) {
  if (refused_) {
    keepHead(tail);
    reject(refusal_, pending_, following);
    return;
  }
  if (pending_.empty()) {
    raw_.assign(tail.data(), tail.size());
  } else {
    keep(tail);
    raw_.swap(pending_);
  }
  problem_.clear();
  const bool parsed =
      parser_ ? parseRest(raw_, element_, problem_) : parseElement(raw_, limits_.maxMemory, element_, problem_);
  release();
  if (parsed) {
    onElement_(std::move(element_), std::move(raw_));
  } else {
    // Its end is known: the rest of its line goes with it, nothing before.
    reject(problem_, raw_, following);
  }
  trimScratch();
}

void StreamSplitter::trimScratch() {
  if (heapBytes(raw_) > kKeptScratchBytes) std::string().swap(raw_);
  if (heapBytes(element_) > kKeptScratchBytes) element_ = Element();
}

bool StreamSplitter::parseRest(std::string_view raw, Element& element, std::string& problem) {
  if (!parser_->advance(raw, raw.size(), true)) {
    problem = parser_->problem();
    return false;
  }
  element = parser_->takeElement();
  return true;
}

void StreamSplitter::reject(std::string_view problem, std::string_view head, std::string_view rest) {
  message_ = problem;
  excerptOf(head, rest, excerpt_);
  release();
  skipping_ = true;
  ++malformed_;
  onError_(message_, excerpt_);
}

void StreamSplitter::keep(std::string_view bytes) {
  // Grows as a string does, but never past the element limit the framer enforces.
  const size_t needed = pending_.size() + bytes.size();
  if (needed > pending_.capacity()) {
    pending_.reserve(std::max(needed, std::min(2 * pending_.capacity(), limits_.maxBytes)));
  }
  pending_.append(bytes.data(), bytes.size());
}

void StreamSplitter::keepHead(std::string_view bytes) {
  pending_.append(bytes.substr(0, kExcerptBytes - std::min(pending_.size(), kExcerptBytes)));
}

void StreamSplitter::release() {
  std::string().swap(pending_);
  parser_.reset();
  refused_ = false;
}

bool StreamSplitter::finish() {
  const bool unfinished = !skipping_ && framer_.inElement();
  framer_.reset();
  release();
  skipping_ = false;
  return unfinished;
}

}  // namespace moxcollect
