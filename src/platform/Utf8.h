#pragma once
// UTF-8 and the encodings that text files from Windows arrive in.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, std::uint32_t codePoint);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);

// The number of characters (code points) of UTF-8 text; a stray byte counts as one.
std::size_t Utf8Length(std::string_view text);

// UTF-16 code units as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::vector<std::uint16_t>& units);
// The same from bytes, two per unit in the given order; an odd last byte is dropped.
std::string Utf16BytesToUtf8(std::string_view bytes, bool bigEndian);

// Windows-1252 ("ANSI" on western Windows) as UTF-8. The five bytes the code page leaves
// undefined map to the control characters of the same number, as Windows maps them.
std::string Windows1252ToUtf8(std::string_view bytes);

// Letter case folded the way Windows compares file names: one character for one, Latin,
// Greek, Cyrillic and Armenian letters and the full-width Latin ones. Bytes that are not
// valid UTF-8 stay as they are, so names in other encodings still fold their ASCII.
std::string FoldCase(std::string_view text);
