#include "element_parser.h"

#include <algorithm>
#include <climits>
#include <random>
#include <utility>

namespace moxcollect {

namespace {

// expat keeps its input buffer across resets: a parser that read more is dropped.
constexpr size_t kKeptParserBytes = size_t{256} << 10;

// Random, so that crafted names cannot overload expat's hash tables.
unsigned long newSalt() { return static_cast<unsigned long>(std::random_device()()) | 1u; }

// The thread's parser reads the small elements of all its streams one after
// another as children of one root that never ends, so that it is not reset
// for each element: a reset re-initialises the whole parser (and reads the
// environment), which costs more than reading a metric line. It is started
// afresh after an error, after a large element (see kKeptParserBytes), and
// after kRestartAfterBytes, since expat keeps every element and attribute
// name of a document: that bounds what a stream of ever new names makes it hold.
constexpr size_t kRestartAfterBytes = size_t{64} << 10;
constexpr char kRoot[] = "<r>";
constexpr int kBufferBytes = 64 << 10;

struct ThreadParser {
  ParserHandle parser;
  unsigned long salt = 0;
  size_t parsed = 0;   // bytes since it was started
  bool ready = false;  // inside its root, with no error since
};

ThreadParser& threadParser() {
  thread_local ThreadParser slot;
  return slot;
}

void XMLCALL noteRoot(void* opened, const XML_Char*, const XML_Char**) { *static_cast<bool*>(opened) = true; }

// Starts the thread's parser afresh, inside its root; false when out of memory.
bool restart(ThreadParser& slot) {
  slot.ready = false;
  slot.parsed = 0;
  if (!slot.parser || !XML_ParserReset(slot.parser.get(), "UTF-8")) {
    slot.parser.reset(XML_ParserCreate("UTF-8"));
    if (!slot.parser) return false;
    slot.salt = newSalt();
  }
  XML_Parser parser = slot.parser.get();
  // A reset forgets the salt; without one expat would ask the system for a new one each time.
  XML_SetHashSalt(parser, slot.salt);
  // expat copies each element into its buffer and, when the buffer is full,
  // moves the last bytes it read to its front. Sized for a turn's reads up
  // front, the buffer makes that a rare move instead of one every few lines.
  if (XML_GetBuffer(parser, kBufferBytes) == nullptr) return false;
  bool opened = false;
  XML_SetUserData(parser, &opened);
  XML_SetStartElementHandler(parser, noteRoot);
  const bool parsed = XML_Parse(parser, kRoot, sizeof kRoot - 1, XML_FALSE) == XML_STATUS_OK;
  XML_SetStartElementHandler(parser, nullptr);
  slot.ready = parsed && opened;
  return slot.ready;
}

// The thread's parser inside its root, ready for the next element; null when out of memory.
XML_Parser readyParser() {
  ThreadParser& slot = threadParser();
  if (slot.ready && slot.parsed < kRestartAfterBytes) return slot.parser.get();
  return restart(slot) ? slot.parser.get() : nullptr;
}

std::string parserError(XML_Parser parser) {
  const XML_LChar* text = XML_ErrorString(XML_GetErrorCode(parser));
  return text != nullptr ? text : "not well-formed";
}

}  // namespace

bool parseElement(std::string_view bytes, size_t maxMemory, Element& element, std::string& problem) {
  // The bytes as received and the parser's copy of them.
  const size_t bytesCost = 2 * bytes.size();
  if (bytesCost > maxMemory || bytes.size() > INT_MAX) {
    problem = overBudget(maxMemory);
    return false;
  }
  XML_Parser parser = readyParser();
  if (parser == nullptr) {
    problem = "out of memory";
    return false;
  }
  TreeBuilder builder(parser, maxMemory, element);
  builder.attach();
  builder.charge(bytesCost);
  // Not the final call: the root stays open for the next element. The element
  // is complete, so expat has read all of it when the call returns.
  const bool parsed =
      XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), XML_FALSE) == XML_STATUS_OK && builder.complete();
  XML_SetElementHandler(parser, nullptr, nullptr);
  ThreadParser& slot = threadParser();
  slot.parsed += bytes.size();
  if (!parsed) {
    problem = !builder.problem.empty()                     ? builder.problem
              : XML_GetErrorCode(parser) != XML_ERROR_NONE ? parserError(parser)
                                                           : "unfinished element";
    slot.ready = false;
  }
  if (bytes.size() > kKeptParserBytes) {
    slot.parser.reset();
    slot.ready = false;
  }
  return parsed;
}

size_t parseRun(const std::string_view* elements, size_t count, size_t maxMemory, Element* trees,
                std::string& problem) {
  if (count == 0) return 0;
  const char* const first = elements[0].data();
  const size_t bytes = static_cast<size_t>(elements[count - 1].data() + elements[count - 1].size() - first);
  if (bytes > INT_MAX) {
    problem = overBudget(maxMemory);
    return 0;
  }
  XML_Parser parser = readyParser();
  if (parser == nullptr) {
    problem = "out of memory";
    return 0;
  }
  TreeBuilder builder(parser, maxMemory, trees[0]);
  builder.attach();
  builder.readRun(elements, count, trees);
  const bool parsed = XML_Parse(parser, first, static_cast<int>(bytes), XML_FALSE) == XML_STATUS_OK;
  XML_SetElementHandler(parser, nullptr, nullptr);
  ThreadParser& slot = threadParser();
  slot.parsed += bytes;
  const size_t completed = builder.completed();
  if (parsed && completed == count) return completed;
  // The parser stopped inside the element after the last complete one.
  slot.ready = false;
  problem = !builder.problem.empty()                     ? builder.problem
            : XML_GetErrorCode(parser) != XML_ERROR_NONE ? parserError(parser)
                                                         : "unfinished element";
  return std::min(completed, count);
}

ElementParser::ElementParser(size_t maxMemory)
    : parser_(XML_ParserCreate("UTF-8")), builder_(parser_.get(), maxMemory, root_) {
  if (!parser_) {
    problem_ = "out of memory";
    return;
  }
  XML_SetHashSalt(parser_.get(), newSalt());
  builder_.attach();
}

ElementParser::~ElementParser() = default;

bool ElementParser::advance(std::string_view bytes, size_t complete, bool last) {
  if (!problem_.empty()) return false;
  const size_t arrived = bytes.size() - received_;
  received_ = bytes.size();
  if (!builder_.charge(2 * arrived)) return refuse(builder_.problem);
  const std::string_view piece = bytes.substr(parsed_, complete - parsed_);
  parsed_ = complete;
  if (piece.size() > INT_MAX) return refuse(overBudget(builder_.budget()));
  if (piece.empty() && !last) return true;
  if (XML_Parse(parser_.get(), piece.data(), static_cast<int>(piece.size()), last ? XML_TRUE : XML_FALSE) ==
      XML_STATUS_OK) {
    return true;
  }
  return refuse(builder_.problem.empty() ? parserError(parser_.get()) : builder_.problem);
}

bool ElementParser::refuse(std::string problem) {
  problem_ = std::move(problem);
  // What was built is of no use any more.
  builder_.discard();
  parser_.reset();
  return false;
}

Element ElementParser::takeElement() { return std::move(root_); }

size_t ElementParser::bytesHeld() const { return builder_.used() - received_; }

}  // namespace moxcollect
