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

// A run's elements and the trees they are read into: one per thread rather
// than per connection. A feed() borrows it, so that an element handler that
// feeds another splitter on the same thread works with storage of its own.
struct RunScratch {
  std::vector<std::string_view> elements;
  std::vector<Element> trees;
};

namespace {

RunScratch& threadScratch() {
  thread_local RunScratch scratch;
  return scratch;
}

class ScratchLoan {
 public:
  explicit ScratchLoan(RunScratch*& borrower) : borrower_(borrower) {
    scratch_.elements.swap(threadScratch().elements);
    scratch_.trees.swap(threadScratch().trees);
    borrower_ = &scratch_;
  }
  ~ScratchLoan() {
    borrower_ = nullptr;
    scratch_.elements.clear();
    threadScratch() = std::move(scratch_);
  }
  ScratchLoan(const ScratchLoan&) = delete;
  ScratchLoan& operator=(const ScratchLoan&) = delete;

 private:
  RunScratch*& borrower_;
  RunScratch scratch_;
};

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
  ScratchLoan loan(run_);
  try {
    split(input);
  } catch (...) {
    // The framer may have gone past elements of the run that were never handed over.
    framer_.reset();
    release();
    throw;
  }
}

void StreamSplitter::split(std::string_view input) {
  const char* const inputEnd = input.data() + input.size();
  // Where reading goes on after an element of the run was refused.
  const auto resumeAt = [&](const char* resume) { input = std::string_view(resume, size_t(inputEnd - resume)); };
  for (;;) {
    if (input.empty()) {
      if (run_->elements.empty()) return;
      if (const char* resume = parseRun(inputEnd)) resumeAt(resume);
      continue;
    }
    if (skipping_) {
      const size_t lineEnd = input.find('\n');
      if (lineEnd == std::string_view::npos) return;
      input.remove_prefix(lineEnd + 1);
      skipping_ = false;
      continue;
    }
    const ElementFramer::Result found = framer_.scan(input);
    const std::string_view element = input.substr(found.begin, found.end - found.begin);
    const bool runnableElement = runnable(found, element);
    if (!run_->elements.empty() && !(runnableElement && roomInRun(element))) {
      // The run is read before anything that comes after it.
      if (const char* resume = parseRun(inputEnd)) {
        framer_.reset();
        release();
        resumeAt(resume);
        continue;
      }
    }
    if (runnableElement) {
      run_->elements.push_back(element);
      input.remove_prefix(found.end);
      continue;
    }
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

bool StreamSplitter::runnable(const ElementFramer::Result& found, std::string_view element) const {
  // An element begun in an earlier feed() has its bytes, or its parser, of its own.
  return found.outcome == ElementFramer::Outcome::Complete && pending_.empty() && !refused_ &&
         element.size() <= limits_.maxMemory / 2 && element.size() <= kRunBytes;
}

bool StreamSplitter::roomInRun(std::string_view element) const {
  const std::vector<std::string_view>& elements = run_->elements;
  if (elements.empty()) return true;
  const size_t span = static_cast<size_t>(element.data() + element.size() - elements.front().data());
  return elements.size() < kRunElements && span <= kRunBytes;
}

const char* StreamSplitter::parseRun(const char* inputEnd) {
  RunScratch& run = *run_;
  const size_t count = run.elements.size();
  if (run.trees.size() < count) run.trees.resize(count);
  problem_.clear();
  const size_t parsed = moxcollect::parseRun(run.elements.data(), count, limits_.maxMemory, run.trees.data(), problem_);
  for (size_t i = 0; i < parsed; ++i) handOverParsed(run.trees[i], run.elements[i]);
  const char* resume = nullptr;
  if (parsed < count) {
    // Its end is known: the rest of its line goes with it, nothing before.
    const std::string_view refused = run.elements[parsed];
    resume = refused.data() + refused.size();
    reject(problem_, refused, std::string_view(resume, static_cast<size_t>(inputEnd - resume)));
    if (heapBytes(run.trees[parsed]) > kKeptScratchBytes) run.trees[parsed] = Element();
  }
  run.elements.clear();
  return resume;
}

void StreamSplitter::handOverParsed(Element& element, std::string_view raw) {
  elementBytes_ = raw.size();
  if (keepRaw_) {
    raw_.assign(raw.data(), raw.size());
  } else {
    raw_.clear();
  }
  onElement_(std::move(element), std::move(raw_));
  if (heapBytes(element) > kKeptScratchBytes) element = Element();
  if (heapBytes(raw_) > kKeptScratchBytes) std::string().swap(raw_);
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
    elementBytes_ = raw_.size();
    if (!keepRaw_) raw_.clear();
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
