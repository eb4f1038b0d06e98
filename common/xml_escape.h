// Text written into the library's XML-like output (transaction traces, metric
// text): attribute values and names come from the host and may hold any
// character, so they are escaped on the way out.
//
// Escaped: & < > " as the predefined entities, and every code unit below
// U+0020 as a decimal character reference ("&#10;"), so that one text stays
// one line. Everything else, surrogates included, is copied as it is.
#pragma once

#include <string>
#include <string_view>

// Appends text to out, escaped. Text that needs no escaping is appended in one
// piece.
void appendXmlEscaped(std::u16string& out, std::u16string_view text);
