#include "platform/Utf8.h"

#include <array>

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

namespace {

// The code point of the valid UTF-8 sequence at text[i], and its length; length 0 when
// the bytes there are no valid sequence.
std::uint32_t DecodeAt(std::string_view text, std::size_t i, std::size_t& length) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  length = 0;
  if (lead < 0x80) {
    length = 1;
    return lead;
  }
  std::size_t n;
  std::uint32_t cp, min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return 0;
  length = n;
  return cp;
}

// Lower case for upper-case letters whose lower case lies one above them, in a range
// where upper-case letters stand at even (or odd) code points.
bool PairedUpper(std::uint32_t cp, std::uint32_t first, std::uint32_t last) {
  return cp >= first && cp <= last && ((cp - first) & 1) == 0;
}

std::uint32_t FoldCodePoint(std::uint32_t cp) {
  if (cp < 0x80) return cp >= 'A' && cp <= 'Z' ? cp + 32 : cp;
  if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 32;
  if (cp == 0x178) return 0xFF;
  if (PairedUpper(cp, 0x100, 0x12E) || PairedUpper(cp, 0x132, 0x136) || PairedUpper(cp, 0x139, 0x147) ||
      PairedUpper(cp, 0x14A, 0x176) || PairedUpper(cp, 0x179, 0x17D) || PairedUpper(cp, 0x1CD, 0x1DB) ||
      PairedUpper(cp, 0x1DE, 0x1EE) || PairedUpper(cp, 0x1F8, 0x21E) || PairedUpper(cp, 0x222, 0x232)) {
    return cp + 1;
  }
  // Greek
  if (cp == 0x386) return 0x3AC;
  if (cp >= 0x388 && cp <= 0x38A) return cp + 37;
  if (cp == 0x38C) return 0x3CC;
  if (cp == 0x38E || cp == 0x38F) return cp + 63;
  if ((cp >= 0x391 && cp <= 0x3A1) || (cp >= 0x3A3 && cp <= 0x3AB)) return cp + 32;
  if (cp == 0x3C2) return 0x3C3;  // final sigma
  // Cyrillic
  if (cp >= 0x400 && cp <= 0x40F) return cp + 80;
  if (cp >= 0x410 && cp <= 0x42F) return cp + 32;
  if (cp == 0x4C0) return 0x4CF;
  if (PairedUpper(cp, 0x460, 0x480) || PairedUpper(cp, 0x48A, 0x4BE) || PairedUpper(cp, 0x4C1, 0x4CD) ||
      PairedUpper(cp, 0x4D0, 0x52E)) {
    return cp + 1;
  }
  // Armenian
  if (cp >= 0x531 && cp <= 0x556) return cp + 48;
  // Latin extended additional, Vietnamese included
  if (PairedUpper(cp, 0x1E00, 0x1E94) || PairedUpper(cp, 0x1EA0, 0x1EFE)) return cp + 1;
  // Full-width Latin
  if (cp >= 0xFF21 && cp <= 0xFF3A) return cp + 32;
  return cp;
}

// Windows-1252 bytes 0x80..0x9F; zero where the code page defines nothing.
constexpr std::array<std::uint16_t, 32> Cp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

}  // namespace

bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0, n = 0; i < text.size(); i += n) {
    DecodeAt(text, i, n);
    if (n == 0) return false;
  }
  return true;
}

std::size_t Utf8Length(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0, n = 0; i < text.size(); i += n == 0 ? 1 : n, ++count) DecodeAt(text, i, n);
  return count;
}

std::string Utf16ToUtf8(const std::vector<std::uint16_t>& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t cp = units[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;  // a lone surrogate
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::string Utf16BytesToUtf8(std::string_view bytes, bool bigEndian) {
  std::vector<std::uint16_t> units(bytes.size() / 2);
  for (std::size_t i = 0; i < units.size(); ++i) {
    const auto first = static_cast<unsigned char>(bytes[2 * i]);
    const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
    units[i] = static_cast<std::uint16_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
  }
  return Utf16ToUtf8(units);
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    const std::uint32_t high = b >= 0x80 && b < 0xA0 ? Cp1252High[b - 0x80] : 0;
    AppendUtf8(out, high != 0 ? high : b);
  }
  return out;
}

std::string FoldCase(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0, n = 0; i < text.size(); i += n == 0 ? 1 : n) {
    const std::uint32_t cp = DecodeAt(text, i, n);
    if (n == 0) {
      out += text[i];
    } else {
      AppendUtf8(out, FoldCodePoint(cp));
    }
  }
  return out;
}
