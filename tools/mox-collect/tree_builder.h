// Builds an element's tree from expat's callbacks, counting what it costs
// against a memory budget (see ElementLimits::maxMemory): the bytes the caller
// charges, plus about 180 bytes per element and 70 per attribute besides the
// names and values. Over the budget, or out of memory, it stops the parser.
// Nothing is thrown through expat.
#pragma once

#include <expat.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "element.h"

namespace moxcollect {

class TreeBuilder {
 public:
  // The tree is built into `root`, whose storage (its name, attributes and
  // their strings) is reused: a flat element of a steady stream is read
  // without allocating.
  TreeBuilder(XML_Parser parser, size_t budget, Element& root) : root_(&root), parser_(parser), budget_(budget) {}
  TreeBuilder(const TreeBuilder&) = delete;
  TreeBuilder& operator=(const TreeBuilder&) = delete;

  // Installs the callbacks on the parser, with this builder as their data.
  void attach();
  // Counts `cost` more bytes; false (and the parser stopped) when over the budget.
  bool charge(size_t cost);
  size_t used() const { return used_; }
  size_t budget() const { return budget_; }
  // Frees what it built; the parser must not call it again.
  void discard();

  // Reads a run of top-level elements, whose bytes are `elements`, the i-th
  // into roots[i] instead of the root: each is counted against the budget
  // afresh, from twice its bytes. complete() then means all of them are.
  void readRun(const std::string_view* elements, size_t count, Element* roots);
  // Of the run: the elements complete so far.
  size_t completed() const { return completed_; }

  // True once the parser has read the end tag of the root: `root` is complete.
  bool complete() const {
    return started_ && open_.empty() && depth_ == 0 && (run_ == nullptr || completed_ == runCount_);
  }
  // Why the parser was stopped; empty when it stopped by itself.
  std::string problem;

 private:
  static void XMLCALL onStart(void* self, const XML_Char* name, const XML_Char** attributes);
  static void XMLCALL onEnd(void* self, const XML_Char* name);
  void start(const XML_Char* name, const XML_Char** attributes);
  // Before the start tag of a top-level element of a run: its budget; false when there is none.
  bool beginRunElement();
  void end();
  void stop(std::string why);

  Element* root_;
  XML_Parser parser_;
  size_t budget_;
  size_t used_ = 0;
  size_t depth_ = 0;           // open elements, the root included
  bool started_ = false;       // the root's start tag was read
  std::vector<Element> open_;  // the open elements below the root, outermost first
  // A run's elements, where they are built, and how many are complete: see readRun().
  const std::string_view* run_ = nullptr;
  size_t runCount_ = 0;
  Element* runRoots_ = nullptr;
  size_t completed_ = 0;
};

// What the problem says when an element goes over its budget.
std::string overBudget(size_t maxMemory);

struct ParserFree {
  void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};
using ParserHandle = std::unique_ptr<XML_ParserStruct, ParserFree>;

}  // namespace moxcollect
