#include "common/xml_escape.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The code units that may need more than copying. A high surrogate is among
// them; the caller copies it when its low surrogate follows.
bool isSpecial(char16_t c) {
  if (c < 0xD800) return c < 0x20 || c == u'&' || c == u'<' || c == u'>' || c == u'"';
  return c <= 0xDFFF || c >= 0xFFFE;
}

struct Entity {
  char16_t c;
  const char16_t* text;
};
constexpr Entity kEntities[] = {{u'&', u"&amp;"}, {u'<', u"&lt;"},   {u'>', u"&gt;"},  {u'"', u"&quot;"},
                                {u'\t', u"&#9;"}, {u'\n', u"&#10;"}, {u'\r', u"&#13;"}};

// The escaped form of a special code unit that is not part of a pair.
void appendEscaped(std::u16string& out, char16_t c) {
  for (const Entity& entity : kEntities) {
    if (entity.c != c) continue;
    out += entity.text;
    return;
  }
  out += kReplacement;
}

}  // namespace

void appendXmlEscaped(std::u16string& out, std::u16string_view text) {
  size_t plainFrom = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (!isSpecial(c)) continue;
    if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
      ++i;  // a well-formed pair is copied with the plain text around it
      continue;
    }
    out.append(text.data() + plainFrom, i - plainFrom);
    appendEscaped(out, c);
    plainFrom = i + 1;
  }
  out.append(text.data() + plainFrom, text.size() - plainFrom);
}
