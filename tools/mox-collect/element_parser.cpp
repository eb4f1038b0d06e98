#include "element_parser.h"

#include <climits>
#include <random>
#include <utility>

namespace moxcollect {

namespace {

// expat keeps its input buffer across resets: a parser that read more is dropped.
constexpr size_t kKeptParserBytes = size_t{256} << 10;

// Random, so that crafted names cannot overload expat's hash tables.
unsigned long newSalt() { return static_cast<unsigned long>(std::random_device()()) | 1u; }

struct ThreadParser {
  ParserHandle parser;
  unsigned long salt = 0;
};

ThreadParser& threadParser() {
  thread_local ThreadParser slot;
  return slot;
}

// The thread's parser, reset for a new element; null when out of memory.
XML_Parser readyParser() {
  ThreadParser& slot = threadParser();
  if (!slot.parser || !XML_ParserReset(slot.parser.get(), "UTF-8")) {
    slot.parser.reset(XML_ParserCreate("UTF-8"));
    if (!slot.parser) return nullptr;
    slot.salt = newSalt();
  }
  // A reset forgets the salt; without one expat would ask the system for a new one each time.
  XML_SetHashSalt(slot.parser.get(), slot.salt);
  return slot.parser.get();
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
  TreeBuilder builder(parser, maxMemory);
  builder.attach();
  builder.charge(bytesCost);
  const bool parsed = XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), XML_TRUE) == XML_STATUS_OK;
  if (!parsed) problem = builder.problem.empty() ? parserError(parser) : builder.problem;
  if (bytes.size() > kKeptParserBytes) threadParser().parser.reset();
  if (parsed) element = std::move(builder.root);
  return parsed;
}

ElementParser::ElementParser(size_t maxMemory)
    : parser_(XML_ParserCreate("UTF-8")), builder_(parser_.get(), maxMemory) {
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

Element ElementParser::takeElement() { return std::move(builder_.root); }

size_t ElementParser::bytesHeld() const { return builder_.used() - received_; }

}  // namespace moxcollect
