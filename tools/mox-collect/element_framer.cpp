#include "element_framer.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace moxcollect {

namespace {

constexpr uint64_t kHashStart = 14695981039346656037ull;  // FNV-1a
constexpr uint64_t kHashFactor = 1099511628211ull;

enum ByteClass : uint8_t { kOther, kSpace, kNameByte };

constexpr std::array<ByteClass, 256> byteClasses() {
  std::array<ByteClass, 256> classes{};
  for (auto& c : classes) c = kNameByte;  // loose on purpose: the parser checks the names
  for (const char c : std::string_view("<>/=!?\"'&")) classes[static_cast<unsigned char>(c)] = kOther;
  for (const char c : std::string_view(" \n\r\t")) classes[static_cast<unsigned char>(c)] = kSpace;
  return classes;
}

constexpr std::array<ByteClass, 256> kByteClasses = byteClasses();

bool isSpace(char c) { return kByteClasses[static_cast<unsigned char>(c)] == kSpace; }
bool isNameByte(char c) { return kByteClasses[static_cast<unsigned char>(c)] == kNameByte; }

// The first a or b in [p, stop), or stop: sixteen bytes a step where the
// vector unit allows, since attribute values are most of a metric line.
const char* firstOf(const char* p, const char* stop, char a, char b) {
#if defined(__SSE2__)
  const __m128i wantedA = _mm_set1_epi8(a);
  const __m128i wantedB = _mm_set1_epi8(b);
  for (; stop - p >= 16; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(bytes, wantedA), _mm_cmpeq_epi8(bytes, wantedB));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if (mask != 0) return p + __builtin_ctz(mask);
  }
#endif
  for (; p < stop; ++p) {
    if (*p == a || *p == b) return p;
  }
  return stop;
}

}  // namespace

void ElementFramer::reset() {
  state_ = State::Between;
  elementBytes_ = 0;
  openTags_.clear();
  // A deep element's stack is not kept for the next, mostly flat, one.
  if (openTags_.capacity() > 64) std::vector<OpenTag>().swap(openTags_);
}

ElementFramer::Result ElementFramer::finished(Outcome outcome, size_t begin, size_t end) {
  Result result;
  result.outcome = outcome;
  result.begin = begin;
  result.end = end;
  if (outcome == Outcome::Malformed) result.problem = problem_;
  reset();
  return result;
}

ElementFramer::Result ElementFramer::scan(std::string_view input) {
  const char* const first = input.data();
  const char* const last = first + input.size();
  const char* p = first;
  size_t begin = 0;
  if (state_ == State::Between) {
    while (p < last && isSpace(*p)) ++p;
    begin = static_cast<size_t>(p - first);
    if (p == last) return finished(Outcome::NeedMore, begin, begin);
    if (*p != '<') {
      problem_ = "text outside an element";
      return finished(Outcome::Malformed, begin, begin);
    }
    state_ = State::Markup;
    elementBytes_ = 1;
    markupStart_ = 0;
    ++p;
  }
  // The element may not grow past maxBytes: scan no further than that.
  const size_t room = maxBytes_ - std::min(elementBytes_, maxBytes_);
  const char* const stop = p + std::min(room, static_cast<size_t>(last - p));
  Step step = Step::Continue;
  const char* const end = run(p, stop, step);
  elementBytes_ += static_cast<size_t>(end - p);
  const size_t at = static_cast<size_t>(end - first);
  if (step == Step::Complete) return finished(Outcome::Complete, begin, at);
  if (step == Step::Malformed) return finished(Outcome::Malformed, begin, at);
  if (stop < last) {
    problem_ = "element longer than " + std::to_string(maxBytes_) + " bytes";
    return finished(Outcome::Malformed, begin, at);
  }
  Result more;
  more.begin = begin;
  more.end = input.size();
  return more;
}

const char* ElementFramer::run(const char* p, const char* stop, Step& step) {
  const char* const from = p;  // elementBytes_ bytes into the element
  while (p < stop) {
    // The long stretches (text, attribute values, names) are skipped in bulk.
    switch (state_) {
      case State::Content: {
        const void* open = std::memchr(p, '<', static_cast<size_t>(stop - p));
        if (open == nullptr) return stop;
        markupStart_ = elementBytes_ + static_cast<size_t>(static_cast<const char*>(open) - from);
        p = static_cast<const char*>(open) + 1;
        state_ = State::Markup;
        continue;
      }
      case State::Value:
        p = firstOf(p, stop, quote_, '<');
        if (p == stop) return stop;
        if (*p == '<') {
          step = fail("'<' in an attribute value");
          return p;
        }
        state_ = State::AfterValue;
        ++p;
        continue;
      case State::StartName:
      case State::EndName:
        while (p < stop && isNameByte(*p)) addToName(*p++);
        break;
      case State::AttributeName:
        while (p < stop && isNameByte(*p)) ++p;
        break;
      case State::InTag: p = wholeAttributes(p, stop); break;
      default: break;
    }
    if (p == stop) return stop;
    step = next(*p);
    if (step == Step::Malformed) return p;
    ++p;
    if (step == Step::Complete) return p;
  }
  return p;
}

const char* ElementFramer::wholeAttributes(const char* p, const char* stop) {
  // Each attribute is read to its closing quote before anything is taken: one
  // cut short or out of shape is left to next(), from its first byte, which
  // reports it where it always did.
  for (;;) {
    const char* q = p;
    while (q < stop && isNameByte(*q)) ++q;
    if (q == p) return p;
    while (q < stop && isSpace(*q)) ++q;
    if (q == stop || *q != '=') return p;
    ++q;
    while (q < stop && isSpace(*q)) ++q;
    if (q == stop || (*q != '"' && *q != '\'')) return p;
    const char quote = *q;
    q = firstOf(q + 1, stop, quote, '<');
    if (q == stop || *q != quote) return p;
    ++q;
    if (q == stop || !isSpace(*q)) {
      state_ = State::AfterValue;
      return q;
    }
    // White space after the value: in the tag again, as next() would be.
    p = q + 1;
    while (p < stop && isSpace(*p)) ++p;
  }
}

ElementFramer::Step ElementFramer::next(char c) {
  switch (state_) {
    case State::Markup: return markup(c);
    case State::StartName:
      if (isNameByte(c)) return addToName(c);
      return tagSpace(c);
    case State::InTag:
      if (isNameByte(c)) return enter(State::AttributeName);
      return tagSpace(c);
    case State::AttributeName:
      if (isNameByte(c)) return Step::Continue;
      [[fallthrough]];
    case State::BeforeEquals:
      if (isSpace(c)) return enter(State::BeforeEquals);
      if (c == '=') return enter(State::BeforeValue);
      return fail("attribute without '='");
    case State::BeforeValue:
      if (isSpace(c)) return Step::Continue;
      if (c != '"' && c != '\'') return fail("attribute value without quotes");
      quote_ = c;
      return enter(State::Value);
    case State::AfterValue:
      if (isSpace(c)) return enter(State::InTag);
      return tagSpace(c);
    case State::EmptyTagEnd:
      if (c != '>') return fail("'/' not followed by '>' in a tag");
      if (openTags_.empty()) return Step::Complete;
      return enter(State::Content);
    case State::EndTagStart:
      if (!isNameByte(c)) return fail("end tag without a name");
      startName(c);
      return enter(State::EndName);
    case State::EndName:
      if (isNameByte(c)) return addToName(c);
      [[fallthrough]];
    case State::EndTagSpace:
      if (isSpace(c)) return enter(State::EndTagSpace);
      if (c == '>') return closeTag();
      return fail("bad character in an end tag");
    case State::Declaration: return declaration(c);
    case State::Literal:
      if (c != *literal_) return fail("bad declaration inside an element");
      ++literal_;
      return *literal_ == '\0' ? enter(afterLiteral_) : Step::Continue;
    case State::Comment: return inside(c, '-', 2);
    case State::CData: return inside(c, ']', 2);
    case State::Instruction: return inside(c, '?', 1);
    case State::Between:
    case State::Value:
    case State::Content: break;  // handled by run()
  }
  return Step::Continue;
}

ElementFramer::Step ElementFramer::markup(char c) {
  const bool topLevel = openTags_.empty();
  if (c == '/') {
    if (topLevel) return fail("end tag without a start tag");
    return enter(State::EndTagStart);
  }
  if (c == '!' || c == '?') {
    if (topLevel) return fail("not an element");
    return enter(c == '?' ? State::Instruction : State::Declaration);
  }
  if (!isNameByte(c)) return fail("'<' not followed by a name");
  if (openTags_.size() >= maxDepth_) return fail("nested deeper than " + std::to_string(maxDepth_) + " levels");
  startName(c);
  return enter(State::StartName);
}

ElementFramer::Step ElementFramer::tagSpace(char c) {
  if (isSpace(c)) return enter(State::InTag);
  if (c == '/') return enter(State::EmptyTagEnd);
  if (c != '>')
    return fail(state_ == State::AfterValue ? "no space after an attribute value" : "bad character in a tag");
  openTags_.push_back({nameHash_, nameLength_});
  return enter(State::Content);
}

ElementFramer::Step ElementFramer::closeTag() {
  const OpenTag& open = openTags_.back();
  if (open.nameHash != nameHash_ || open.nameLength != nameLength_) return fail("end tag does not match its start tag");
  openTags_.pop_back();
  if (openTags_.empty()) return Step::Complete;
  return enter(State::Content);
}

ElementFramer::Step ElementFramer::declaration(char c) {
  if (c == '-') {
    literal_ = "-";
    afterLiteral_ = State::Comment;
  } else if (c == '[') {
    literal_ = "CDATA[";
    afterLiteral_ = State::CData;
  } else {
    return fail("bad declaration inside an element");
  }
  return enter(State::Literal);
}

ElementFramer::Step ElementFramer::inside(char c, char repeated, int needed) {
  if (c == '>' && repeats_ >= needed) return enter(State::Content);
  repeats_ = c == repeated ? repeats_ + 1 : 0;
  return Step::Continue;
}

ElementFramer::Step ElementFramer::enter(State state) {
  state_ = state;
  repeats_ = 0;
  return Step::Continue;
}

ElementFramer::Step ElementFramer::fail(std::string_view problem) {
  problem_ = problem;  // into the capacity it has: a flood of bad lines allocates nothing
  return Step::Malformed;
}

void ElementFramer::startName(char c) {
  nameHash_ = kHashStart;
  nameLength_ = 0;
  addToName(c);
}

ElementFramer::Step ElementFramer::addToName(char c) {
  nameHash_ = (nameHash_ ^ static_cast<unsigned char>(c)) * kHashFactor;
  ++nameLength_;
  return Step::Continue;
}

}  // namespace moxcollect
