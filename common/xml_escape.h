// Text written into the library's XML output (transaction traces, metric
// text): attribute values and names come from the host and may hold any
// code unit, so they are escaped on the way out. Whatever the host passes,
// the result is well-formed XML 1.0 attribute text on one line.
//
// - & < > " become the predefined entities.
// - Tab, line feed and carriage return become decimal character references
//   ("&#9;", "&#10;", "&#13;"): they keep their value through a parser's
//   attribute normalisation, and the text stays one line.
// - Every code unit XML 1.0 does not allow becomes U+FFFD: the other code
//   units below U+0020 (U+0000 included), U+FFFE, U+FFFF, and surrogates
//   that are not a high surrogate directly followed by a low one.
// - Everything else, surrogate pairs included, is copied as it is.
#pragma once

#include <string>
#include <string_view>

// Appends text to out, escaped. Text that needs no escaping is appended in one
// piece.
void appendXmlEscaped(std::u16string& out, std::u16string_view text);
