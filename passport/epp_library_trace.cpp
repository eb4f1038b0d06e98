#include "passport/epp_library_trace.h"

#include <string_view>

#include "dptrc/dptrc.h"

void eppTraceToLibraryLog(const char16_t* line) {
  if (line != nullptr) MOX_TRC_TEXT(1, std::u16string_view(line));
}
