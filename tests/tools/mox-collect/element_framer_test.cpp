#include "element_framer.h"

#include <gtest/gtest.h>

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

}  // namespace
