// One parameter element of a transaction trace:
//   <param name="NAME" value="VALUE" />
// with name and value escaped (they come from the host).
#pragma once

#include <string>
#include <string_view>

#include "common/xml_escape.h"

inline void appendTraceParam(std::u16string& out, std::u16string_view name, std::u16string_view value) {
  out += u"<param name=\"";
  appendXmlEscaped(out, name);
  out += u"\" value=\"";
  appendXmlEscaped(out, value);
  out += u"\" />";
}
