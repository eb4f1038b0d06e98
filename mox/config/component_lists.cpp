#include "mox/config/component_lists.h"

#include <string_view>

#include "mox/config/number_reading.h"

namespace {

// Walks the comma-terminated elements of a list.
class ElementReader {
 public:
  explicit ElementReader(std::u16string_view list) : rest_(list) {}

  // The next element, or false when no further comma ends one.
  bool next(std::u16string_view& element) {
    const size_t comma = rest_.find(u',');
    if (comma == std::u16string_view::npos) return false;
    element = rest_.substr(0, comma);
    rest_.remove_prefix(comma + 1);
    return true;
  }

 private:
  std::u16string_view rest_;
};

}  // namespace

std::map<std::u16string, uint16_t> parseComponentLevels(const std::u16string& names, const std::u16string& levels) {
  std::map<std::u16string, uint16_t> result;
  ElementReader nameReader(names);
  ElementReader levelReader(levels);
  std::u16string_view name;
  std::u16string_view level;
  while (nameReader.next(name)) {
    if (name.empty()) continue;
    if (!levelReader.next(level) || level.empty()) continue;
    result.emplace(std::u16string(name), static_cast<uint16_t>(readNumber(level)));
  }
  return result;
}

std::vector<std::u16string> parseSkipNames(const std::u16string& value) {
  std::vector<std::u16string> names;
  std::u16string_view rest(value);
  while (!rest.empty()) {
    const size_t comma = rest.find(u',');
    const std::u16string_view piece = rest.substr(0, comma);
    if (!piece.empty()) names.emplace_back(piece);
    if (comma == std::u16string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return names;
}
