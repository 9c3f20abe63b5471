#pragma once
#include <cstdint>
#include <string>

// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, std::uint32_t codePoint);
