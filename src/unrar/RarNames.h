// Stored entry names into the locale's encoding (UTF-8), with '/' between folders.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The name field of a header carrying the Unicode flag: an 8-bit name, a zero byte and the
// packed UTF-16 form; a field without the zero byte holds UTF-8.
std::string DecodeRarUnicodeName(const uint8_t* field, size_t size);

// A name without the Unicode flag: Unix hosts wrote UTF-8; other hosts wrote their OEM code page
// unless the bytes already form valid UTF-8.
std::string DecodeRarPlainName(const uint8_t* field, size_t size, unsigned hostOS);

bool IsValidUtf8(const std::string& text);
std::string Cp437ToUtf8(const std::string& text);

// Backslashes become '/', control characters '_'.
std::string NormalizeRarName(std::string name);
