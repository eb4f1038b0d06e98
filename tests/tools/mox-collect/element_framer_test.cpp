#include "element_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using moxcollect::ElementFramer;

// While an element arrives, the bytes a parser may take end outside any
// markup: before the '<' of a tag, comment, CDATA section or instruction not
// yet closed, or where the input ends when that is between markup. Whether
// the element came in one piece or in many.
TEST(ElementFramer, CountsTheBytesOfAnElementThatEndOutsideMarkup) {
  const std::string markup[] = {
      R"(<event a="x>y" b='/>--'>)", "<p/>", "<!-- <q> -->", "<![CDATA[<r>]]>", "<?pi <s>?>", "</event>",
  };
  const std::string element = std::string(markup[0]) + "text &amp; more" + markup[1] + markup[2] + "\n" + markup[3] +
                              markup[4] + "tail" + markup[5];
  for (size_t cut = 1; cut < element.size(); ++cut) {
    size_t expected = cut;  // in text
    for (const std::string& m : markup) {
      const size_t start = element.find(m);
      if (start < cut && cut < start + m.size()) expected = start;
    }
    for (const size_t piece : {cut, size_t{3}}) {
      ElementFramer framer(100, 1 << 20);
      for (size_t at = 0; at < cut; at += piece) {
        ASSERT_EQ(framer.scan(element.substr(at, std::min(piece, cut - at))).outcome, ElementFramer::Outcome::NeedMore)
            << cut;
      }
      ASSERT_EQ(framer.completeBytes(), expected) << cut << " in pieces of " << piece;
    }
  }
}

struct Framed {
  ElementFramer::Outcome outcome = ElementFramer::Outcome::NeedMore;
  size_t end = 0;  // in the whole text
  std::string problem;

  bool operator==(const Framed& other) const {
    return outcome == other.outcome && end == other.end && problem == other.problem;
  }
};

std::ostream& operator<<(std::ostream& out, const Framed& framed) {
  return out << int(framed.outcome) << " at " << framed.end << " (" << framed.problem << ")";
}

// The first element of text, fed in pieces that end at each of cuts.
Framed frameFirst(std::string_view text, std::vector<size_t> cuts) {
  ElementFramer framer(8, 1 << 16);
  cuts.push_back(text.size());
  size_t at = 0;
  for (const size_t cut : cuts) {
    const ElementFramer::Result result = framer.scan(text.substr(at, cut - at));
    if (result.outcome != ElementFramer::Outcome::NeedMore) {
      return {result.outcome, at + result.end, std::string(result.problem)};
    }
    at = cut;
  }
  return {};
}

// Attributes are taken whole when they lie in one piece and byte by byte when
// cut: either way a tag ends, or is refused, at the same byte for the same
// reason, markup characters inside values included.
TEST(ElementFramer, ReadsEachTagAlikeWhereverItIsCut) {
  using Outcome = ElementFramer::Outcome;
  const std::string line =
      R"t(<metric type="IntAverage" name="S|p_1|A|b:Avg. CPU Time(us)" value="12" max="24" min="6" count="13" />)t";
  struct Case {
    std::string element;
    Outcome outcome;
    size_t end;  // npos: the element's size
    std::string problem;
  };
  const size_t all = std::string::npos;
  const Case cases[] = {
      {line, Outcome::Complete, all, ""},
      {R"t(<m a="x>y/z" b='q"/>"' c="!?=&amp;'"/>)t", Outcome::Complete, all, ""},
      {"<m a = \"1\"\n\tb\r\n=\n'2'  \t c=\"\"   ><n x='1'/><!-- <m a=\"1\"> --><![CDATA[\"/>]]><?p a=\"<\"?></m>",
       Outcome::Complete, all, ""},
      {R"t(<m a="1"><n b="2" c='3'></n></m >)t", Outcome::Complete, all, ""},
      {R"t(<m a="1" b="x<y" />)t", Outcome::Malformed, 13, "'<' in an attribute value"},
      {R"t(<m a="1"b="2" />)t", Outcome::Malformed, 8, "no space after an attribute value"},
      {R"t(<m a="1" b "2" />)t", Outcome::Malformed, 11, "attribute without '='"},
      {R"t(<m a="1" b=2 />)t", Outcome::Malformed, 11, "attribute value without quotes"},
      {R"t(<m a="1" & />)t", Outcome::Malformed, 9, "bad character in a tag"},
      {R"t(<m a="1" / >)t", Outcome::Malformed, 10, "'/' not followed by '>' in a tag"},
      {R"t(<m a="1"><n b="2"></m>)t", Outcome::Malformed, 21, "end tag does not match its start tag"},
  };
  for (const Case& c : cases) {
    const std::string text = c.element + "\n<next a=\"1\"/>";
    const Framed expected{c.outcome, c.end == all ? c.element.size() : c.end, c.problem};
    ASSERT_EQ(frameFirst(text, {}), expected) << c.element;
    std::vector<size_t> bytes;
    for (size_t cut = 1; cut < text.size(); ++cut) {
      ASSERT_EQ(frameFirst(text, {cut}), expected) << c.element << " cut at " << cut;
      ASSERT_EQ(frameFirst(text, {cut / 2, cut}), expected) << c.element << " cut at " << cut / 2 << ", " << cut;
      bytes.push_back(cut);
    }
    ASSERT_EQ(frameFirst(text, bytes), expected) << c.element << " byte by byte";
  }
}

}  // namespace
