// The list syntax of the per-component configuration keys.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// specific_component_names with one of its level lists
// (specific_component_level_thresholds or ..._trace). Every element of a
// list ends with a comma; text after the last comma is not an element, and
// blanks are kept. Each non-empty name takes the next level element: none
// left means no entry (and none for the names after it); an empty element
// is used up without an entry; otherwise the element is read as a number
// (cut to 16 bits). A name listed twice keeps its first level.
std::map<std::u16string, uint16_t> parseComponentLevels(const std::u16string& names, const std::u16string& levels);

// skip_times_in_names: "" gives no names, text without a comma one name,
// otherwise the non-empty pieces between commas (the last one included).
std::vector<std::u16string> parseSkipNames(const std::u16string& value);
