#include "common/xml_escape.h"

namespace {

bool needsEscape(char16_t c) { return c < 0x20 || c == u'&' || c == u'<' || c == u'>' || c == u'"'; }

void appendReference(std::u16string& out, char16_t c) {
  switch (c) {
    case u'&':
      out += u"&amp;";
      return;
    case u'<':
      out += u"&lt;";
      return;
    case u'>':
      out += u"&gt;";
      return;
    case u'"':
      out += u"&quot;";
      return;
    default:
      break;
  }
  // Below U+0020: at most two decimal digits.
  out += u"&#";
  if (c >= 10) out += static_cast<char16_t>(u'0' + c / 10);
  out += static_cast<char16_t>(u'0' + c % 10);
  out += u';';
}

}  // namespace

void appendXmlEscaped(std::u16string& out, std::u16string_view text) {
  size_t plainFrom = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!needsEscape(text[i])) continue;
    out.append(text.data() + plainFrom, i - plainFrom);
    appendReference(out, text[i]);
    plainFrom = i + 1;
  }
  out.append(text.data() + plainFrom, text.size() - plainFrom);
}
