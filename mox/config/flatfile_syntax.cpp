#include "mox/config/flatfile_syntax.h"

#include "common/utf.h"

namespace {

constexpr char kBlank = ' ';
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

size_t lastNonBlankBefore(std::string_view line, size_t end) {
  while (end > 0 && line[end - 1] == kBlank) --end;
  return end;  // one past the last non-blank
}

}  // namespace

void parseConfigLine(std::string_view line, ParameterMap& out) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

  const size_t first = line.find_first_not_of(kBlank);
  if (first == std::string_view::npos || line[first] == '#') return;

  const size_t equals = line.find('=');
  if (equals == std::string_view::npos || equals == first) return;

  const size_t valueStart = line.find_first_not_of(kBlank, equals + 1);
  if (valueStart == std::string_view::npos) return;

  const size_t keyEnd = lastNonBlankBefore(line, equals);
  const size_t valueEnd = lastNonBlankBefore(line, line.size());

  std::u16string key = utf8ToUtf16Lenient(line.substr(first, keyEnd - first));
  if (out.count(key) != 0) return;
  CParameter entry{key, utf8ToUtf16Lenient(line.substr(valueStart, valueEnd - valueStart)), false};
  out.emplace(std::move(key), std::move(entry));
}

void parseConfigText(std::string_view text, ParameterMap& out) {
  if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) text.remove_prefix(kUtf8Bom.size());
  while (!text.empty()) {
    const size_t end = text.find('\n');
    parseConfigLine(text.substr(0, end), out);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}
