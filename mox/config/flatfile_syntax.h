// The line syntax of mox.conf, on the file's bytes (UTF-8).
//
//   <blanks> key <blanks> = <blanks> value <blanks>
//
// A blank is the space character only. A line whose first non-blank
// character is "#" is a comment; a "#" later in the line is ordinary text.
// Lines without "=", without a key or without a value are skipped. The value
// runs to the last non-blank character and may hold blanks, "=" and "#".
// When a key appears on several lines, the first one wins.
#pragma once

#include <string_view>

#include "mox/config/parameter.h"

// Parses one line (without its line feed; a trailing carriage return is
// dropped) and adds its entry to out unless out already holds the key.
// Key and value are converted leniently from UTF-8; entries are not changeable.
void parseConfigLine(std::string_view line, ParameterMap& out);

// Splits text at line feeds (the last line needs none) and parses each line.
// A UTF-8 byte order mark at the very start is ignored.
void parseConfigText(std::string_view text, ParameterMap& out);
