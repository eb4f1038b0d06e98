#include "element_parser.h"

#include <expat.h>

#include <climits>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace moxcollect {

namespace {

// expat keeps its input buffer across resets: a parser that read more is dropped.
constexpr size_t kKeptParserBytes = size_t{256} << 10;

// What the tree costs, estimated from above: a string keeps up to 15
// characters in place, a longer one is an allocation of its own; an element
// is a slot in its parent's children, which may be twice as many as used.
constexpr size_t kAllocationOverhead = 16;
constexpr size_t kElementCost = 2 * sizeof(Element) + kAllocationOverhead;
constexpr size_t kAttributeCost = sizeof(std::pair<std::string, std::string>);

size_t textCost(const char* text) {
  const size_t length = std::char_traits<char>::length(text);
  return length < 16 ? 0 : length + 1 + kAllocationOverhead;
}

struct ParserFree {
  void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

struct ThreadParser {
  std::unique_ptr<XML_ParserStruct, ParserFree> parser;
  unsigned long salt = 0;  // random, so that crafted names cannot overload expat's hash tables
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
    slot.salt = static_cast<unsigned long>(std::random_device()()) | 1u;
  }
  // A reset forgets the salt; without one expat would ask the system for a new one each time.
  XML_SetHashSalt(slot.parser.get(), slot.salt);
  return slot.parser.get();
}

std::string parserError(XML_Parser parser) {
  const XML_LChar* text = XML_ErrorString(XML_GetErrorCode(parser));
  return text != nullptr ? text : "not well-formed";
}

std::string overBudget(size_t maxMemory) {
  return "element needs more than " + std::to_string(maxMemory) + " bytes of memory";
}

// Builds the tree from expat's callbacks, counting its cost against the budget.
class TreeBuilder {
 public:
  TreeBuilder(XML_Parser parser, size_t budget, size_t used) : parser_(parser), budget_(budget), used_(used) {}

  static void XMLCALL onStart(void* self, const XML_Char* name, const XML_Char** attributes) {
    static_cast<TreeBuilder*>(self)->guarded([&](TreeBuilder& b) { b.start(name, attributes); });
  }
  static void XMLCALL onEnd(void* self, const XML_Char*) {
    static_cast<TreeBuilder*>(self)->guarded([](TreeBuilder& b) { b.end(); });
  }

  Element root;
  std::string problem;

 private:
  // Nothing may be thrown through expat.
  template <typename Work>
  void guarded(Work work) {
    try {
      work(*this);
    } catch (...) {
      stop("out of memory");
    }
  }

  void start(const XML_Char* name, const XML_Char** attributes) {
    size_t count = 0;
    size_t cost = kElementCost + textCost(name);
    for (const XML_Char** a = attributes; a[0] != nullptr; a += 2, ++count) {
      cost += kAttributeCost + textCost(a[0]) + textCost(a[1]);
    }
    if (count > 0) cost += kAllocationOverhead;
    used_ += cost;
    if (used_ > budget_) return stop(overBudget(budget_));
    Element element;
    element.name = name;
    element.attributes.reserve(count);
    for (const XML_Char** a = attributes; a[0] != nullptr; a += 2) element.attributes.emplace_back(a[0], a[1]);
    open_.push_back(std::move(element));
  }

  void end() {
    Element done = std::move(open_.back());
    open_.pop_back();
    if (open_.empty()) {
      root = std::move(done);
    } else {
      open_.back().children.push_back(std::move(done));
    }
  }

  void stop(std::string why) {
    problem = std::move(why);
    XML_StopParser(parser_, XML_FALSE);
  }

  XML_Parser parser_;
  size_t budget_;
  size_t used_;
  std::vector<Element> open_;  // the open elements, outermost first
};

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
  TreeBuilder builder(parser, maxMemory, bytesCost);
  XML_SetUserData(parser, &builder);
  XML_SetElementHandler(parser, &TreeBuilder::onStart, &TreeBuilder::onEnd);
  const bool parsed = XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), XML_TRUE) == XML_STATUS_OK;
  if (!parsed) problem = builder.problem.empty() ? parserError(parser) : builder.problem;
  if (bytes.size() > kKeptParserBytes) threadParser().parser.reset();
  if (parsed) element = std::move(builder.root);
  return parsed;
}

}  // namespace moxcollect
