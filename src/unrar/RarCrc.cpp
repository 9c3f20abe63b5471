#include "unrar/RarCrc.h"

#include <array>

namespace {

// Slice-by-8 tables: eight bytes per step keep the check well ahead of the decompressor.
struct TCrcTables {
  std::array<std::array<uint32_t, 256>, 8> T{};
  TCrcTables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
      T[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
      for (size_t s = 1; s < 8; ++s) T[s][i] = (T[s - 1][i] >> 8) ^ T[0][T[s - 1][i] & 0xFF];
  }
};

const TCrcTables& Tables() {
  static const TCrcTables tables;
  return tables;
}

}  // namespace

uint32_t RarCrc32(uint32_t crc, const void* data, size_t size) {
  const auto& t = Tables().T;
  const auto* p = static_cast<const uint8_t*>(data);
  crc = ~crc;
  while (size >= 8) {
    uint32_t lo = crc ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
          t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    p += 8;
    size -= 8;
  }
  while (size--) crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

uint32_t RarCrcTableEntry(uint8_t index) { return Tables().T[0][index]; }
