#include "common/xml_escape.h"

namespace {

bool needsEscape(char16_t c) { return c < 0x20 || c == u'&' || c == u'<' || c == u'>' || c == u'"'; }

struct Entity {
  char16_t c;
  const char16_t* text;
};
constexpr Entity kEntities[] = {{u'&', u"&amp;"}, {u'<', u"&lt;"}, {u'>', u"&gt;"}, {u'"', u"&quot;"}};

void appendReference(std::u16string& out, char16_t c) {
  for (const Entity& entity : kEntities) {
    if (entity.c != c) continue;
    out += entity.text;
    return;
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
