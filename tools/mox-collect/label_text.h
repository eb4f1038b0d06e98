// Host-supplied text made fit for a label value of the metrics exposition:
// valid UTF-8, with every byte that does not belong to a well-formed
// sequence (overlong forms, surrogates, code points past U+10FFFF, cut-off
// sequences) replaced by U+FFFD. Escaping for the exposition itself
// (backslash, quote, line feed) is the serializer's.
#pragma once

#include <string>
#include <string_view>

namespace moxcollect {

std::string validUtf8(std::string_view text);

}  // namespace moxcollect
