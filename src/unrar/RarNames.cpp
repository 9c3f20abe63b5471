#include "unrar/RarNames.h"

#include <vector>

namespace {

const uint16_t Cp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

// The library links nothing but the decompressor, so it carries its own.
void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

std::string Utf16ToUtf8(const std::vector<uint16_t>& units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

}  // namespace

bool IsValidUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    auto c = uint8_t(text[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t more = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 0;
    if (more == 0 || c == 0xC0 || c == 0xC1 || i + more >= text.size()) return false;
    for (size_t k = 1; k <= more; ++k)
      if ((uint8_t(text[i + k]) & 0xC0) != 0x80) return false;
    i += more + 1;
  }
  return true;
}

std::string Cp437ToUtf8(const std::string& text) {
  std::string out;
  for (char ch : text) {
    auto c = uint8_t(ch);
    AppendUtf8(out, c < 0x80 ? c : Cp437High[c - 0x80]);
  }
  return out;
}

std::string DecodeRarUnicodeName(const uint8_t* field, size_t size) {
  size_t zero = 0;
  while (zero < size && field[zero] != 0) ++zero;
  std::string plain(reinterpret_cast<const char*>(field), zero);
  if (zero >= size) return plain;  // the field holds UTF-8 only

  const uint8_t* enc = field + zero + 1;
  size_t encSize = size - zero - 1;
  size_t pos = 0;
  std::vector<uint16_t> units;
  if (encSize == 0) return plain;
  uint16_t high = uint16_t(enc[pos++]) << 8;
  unsigned flags = 0;
  int flagBits = 0;
  // A packed name never holds more characters than its field has bytes, so that bounds the loop.
  while (pos < encSize && units.size() < size) {
    if (flagBits == 0) {
      flags = enc[pos++];
      flagBits = 8;
      if (pos >= encSize) break;
    }
    switch ((flags >> 6) & 3) {
      case 0:
        units.push_back(enc[pos++]);
        break;
      case 1:
        units.push_back(uint16_t(enc[pos++] | high));
        break;
      case 2:
        if (pos + 1 >= encSize) return Utf16ToUtf8(units);
        units.push_back(uint16_t(enc[pos] | (enc[pos + 1] << 8)));
        pos += 2;
        break;
      case 3: {
        uint8_t length = enc[pos++];
        if (length & 0x80) {
          if (pos >= encSize) return Utf16ToUtf8(units);
          uint8_t correction = enc[pos++];
          for (int n = (length & 0x7F) + 2; n > 0 && units.size() < plain.size(); --n)
            units.push_back(uint16_t(((uint8_t(plain[units.size()]) + correction) & 0xFF) | high));
        } else {
          for (int n = length + 2; n > 0 && units.size() < plain.size(); --n)
            units.push_back(uint8_t(plain[units.size()]));
        }
        break;
      }
    }
    flags <<= 2;
    flagBits -= 2;
  }
  return Utf16ToUtf8(units);
}

std::string DecodeRarPlainName(const uint8_t* field, size_t size, unsigned hostOS) {
  std::string name(reinterpret_cast<const char*>(field), size);
  if (hostOS == 3 || IsValidUtf8(name)) return name;
  return Cp437ToUtf8(name);
}

std::string NormalizeRarName(std::string name) {
  for (char& c : name) {
    if (c == '\\') c = '/';
    else if (uint8_t(c) < 0x20) c = '_';
  }
  return name;
}
