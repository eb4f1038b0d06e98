// Text conversion at the library's edges: UTF-16 inside, UTF-8 in files and
// on the wire, 8-bit file names for the operating system.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Strict UTF-16 -> UTF-8: false (and out unspecified) on an unpaired surrogate.
bool utf16ToUtf8(std::u16string_view in, std::string& out);
// Lenient UTF-16 -> UTF-8, as the trace log writes: an unpaired surrogate becomes "#".
std::string utf16ToUtf8Lenient(std::u16string_view in);
// Appends the lenient conversion to out (no allocation beyond out's growth).
void appendUtf16AsUtf8Lenient(std::u16string_view in, std::string& out);
// Strict UTF-8 -> UTF-16: false on malformed, overlong or surrogate sequences.
bool utf8ToUtf16(std::string_view in, std::u16string& out);
// Lenient UTF-8 -> UTF-16: every byte of a malformed sequence becomes U+FFFD.
std::u16string utf8ToUtf16Lenient(std::string_view in);
// Appends the lenient conversion to out.
void appendUtf8AsUtf16Lenient(std::string_view in, std::u16string& out);
// 8-bit file name: code units below 128 unchanged, every other one "#".
std::string toNarrowFileName(std::u16string_view in);
// ASCII literal to UTF-16 (for building texts from narrow constants).
std::u16string asciiToUtf16(std::string_view in);
// Length of a NUL-terminated UTF-16 string; 0 for a null pointer.
size_t utf16Length(const char16_t* s);
// View of a NUL-terminated UTF-16 string; empty for a null pointer.
inline std::u16string_view utf16View(const char16_t* s) { return s ? std::u16string_view(s) : std::u16string_view(); }
// Owned copy of a NUL-terminated UTF-16 string; empty for a null pointer.
std::u16string utf16Copy(const char16_t* s);
