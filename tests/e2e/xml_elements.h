// Reads lines of the library's output back with a conforming XML 1.0 parser (expat): the elements of a line with their
// attributes as the parser delivers them (UTF-8, references resolved).
#pragma once

#include <expat.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

using Element = std::pair<std::string, std::map<std::string, std::string>>;  // name, attributes

inline void XMLCALL onElementStart(void* elements, const XML_Char* name, const XML_Char** attributes) {
  Element element{name, {}};
  for (size_t i = 0; attributes[i] != nullptr; i += 2) element.second[attributes[i]] = attributes[i + 1];
  static_cast<std::vector<Element>*>(elements)->push_back(element);
}

// Appends the elements of one line in document order; false when it is not well-formed.
inline bool parseLine(const std::string& line, std::vector<Element>& elements) {
  XML_Parser parser = XML_ParserCreate("UTF-8");
  XML_SetUserData(parser, &elements);
  XML_SetStartElementHandler(parser, &onElementStart);
  const bool ok = XML_Parse(parser, line.data(), static_cast<int>(line.size()), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return ok;
}

}  // namespace e2e
