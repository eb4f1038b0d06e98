// Finds where each top-level element of a stream ends, without building
// anything, so that the XML parser only ever sees complete elements: it
// follows start, end and empty-element tags, quoted attribute values, and the
// comments, CDATA sections and processing instructions that may stand inside
// an element. End tags are matched to their start tags by a hash of the name,
// which is enough to find the end; the parser that reads the complete element
// checks everything else (names, references, encoding).
//
// Between elements only XML white space may stand. An element nested deeper
// than maxDepth levels (the top-level element is level 1), longer than
// maxBytes, or whose markup is out of shape is reported at the byte where that
// becomes certain, so none of it needs to be kept. The result never depends on
// where the input is cut into pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace moxcollect {

class ElementFramer {
 public:
  ElementFramer(size_t maxDepth, size_t maxBytes) : maxDepth_(maxDepth), maxBytes_(maxBytes) {}

  enum class Outcome { NeedMore, Complete, Malformed };
  struct Result {
    Outcome outcome = Outcome::NeedMore;
    size_t begin = 0;          // where the element's bytes start in the input (0 when it began in an earlier one)
    size_t end = 0;            // one past its last byte; Malformed: the offending byte; NeedMore: the input's size
    std::string_view problem;  // Malformed: what is wrong, valid until the next call
  };

  // Reads input until the current top-level element ends, its markup goes
  // wrong or the input runs out. After Complete or Malformed the framer is
  // between elements again, ready for the byte at `end`.
  Result scan(std::string_view input);

  // True while an element has begun and not ended.
  bool inElement() const { return state_ != State::Between; }
  // While in an element: how many of its bytes so far end outside any tag,
  // comment, CDATA section, instruction or declaration, i.e. before the '<'
  // of markup not yet closed, or all of them between markup.
  size_t completeBytes() const { return state_ == State::Content ? elementBytes_ : markupStart_; }
  void reset();
  // What the framer holds besides its fixed size: its stack of open tags.
  size_t bytesHeld() const { return openTags_.capacity() * sizeof(OpenTag); }

 private:
  enum class State : uint8_t {
    Between,        // outside any element
    Markup,         // after '<'
    StartName,      // in the name of a start tag
    InTag,          // in a start tag, before an attribute or its end
    AttributeName,  //
    BeforeEquals,   // after an attribute name
    BeforeValue,    // after '='
    Value,          // inside a quoted attribute value
    AfterValue,     // after its closing quote
    EmptyTagEnd,    // after the '/' of "/>"
    EndTagStart,    // after "</"
    EndName,        //
    EndTagSpace,    // after the name of an end tag
    Content,        // inside an element, outside markup
    Declaration,    // after "<!"
    Literal,        // inside "<!--" or "<![CDATA["
    Comment,        //
    CData,          //
    Instruction,    // inside "<?...?>"
  };
  enum class Step { Continue, Complete, Malformed };
  struct OpenTag {
    uint64_t nameHash;
    size_t nameLength;
  };

  // Runs from p up to stop; returns where it stopped (past the element's last
  // byte when it completed, at the offending byte when malformed).
  const char* run(const char* p, const char* stop, Step& step);
  // In a start tag, after white space: skips the attributes that lie whole
  // in [p, stop) without a state change per byte; returns where it stopped,
  // in the state next() would have reached there.
  const char* wholeAttributes(const char* p, const char* stop);
  Step next(char c);
  Step markup(char c);
  Step tagSpace(char c);  // white space, "/>" or '>' after a name or value
  Step closeTag();
  Step declaration(char c);
  // In a comment, CDATA section or processing instruction: it ends at '>'
  // after `needed` times the repeated character.
  Step inside(char c, char repeated, int needed);
  Step enter(State state);
  Step fail(std::string_view problem);
  void startName(char c);
  Step addToName(char c);
  Result finished(Outcome outcome, size_t begin, size_t end);

  size_t maxDepth_;
  size_t maxBytes_;
  State state_ = State::Between;
  size_t elementBytes_ = 0;  // of the open element, scanned so far
  size_t markupStart_ = 0;   // where in the element the markup being read began
  std::vector<OpenTag> openTags_;
  uint64_t nameHash_ = 0;  // of the tag name being read
  size_t nameLength_ = 0;
  char quote_ = 0;            // of the attribute value being read
  const char* literal_ = "";  // the rest of "--" or "[CDATA[" still expected
  State afterLiteral_ = State::Content;
  int repeats_ = 0;  // of '-', ']' or '?' just before, in a comment, CDATA or instruction
  std::string problem_;
};

}  // namespace moxcollect
