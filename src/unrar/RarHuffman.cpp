#include "unrar/RarHuffman.h"

#include <algorithm>
#include <cstring>

bool TRarHuffman::Build(const uint8_t* lengths, unsigned count) {
  if (count > MaxSymbols) return false;
  uint32_t perLength[MaxLength + 1] = {};
  for (unsigned i = 0; i < count; ++i) perLength[lengths[i] & 15]++;
  perLength[0] = 0;
  uint32_t code = 0, index = 0;
  for (unsigned n = 1; n <= MaxLength; ++n) {
    if (code + perLength[n] > (1u << n)) return false;
    First[n] = code;
    Offset[n] = index;
    Limit[n] = (code + perLength[n]) << (16 - n);
    index += perLength[n];
    code = (code + perLength[n]) << 1;
  }
  uint32_t next[MaxLength + 1];
  std::memcpy(next, Offset, sizeof next);
  for (unsigned i = 0; i < count; ++i)
    if (lengths[i] & 15) Symbols[next[lengths[i] & 15]++] = uint16_t(i);
  QuickLimit = Limit[QuickBits];
  for (unsigned n = 1; n <= QuickBits; ++n) {
    for (uint32_t k = 0; k < perLength[n]; ++k) {
      const uint32_t from = (First[n] + k) << (QuickBits - n);
      const uint16_t entry = uint16_t(Symbols[Offset[n] + k] << 4 | n);
      std::fill(Quick + from, Quick + from + (1u << (QuickBits - n)), entry);
    }
  }
  return true;
}

int TRarHuffman::DecodeLong(uint32_t bits, unsigned& length) const {
  for (unsigned n = QuickBits + 1; n <= MaxLength; ++n) {
    // Patterns below Limit[QuickBits] all have short codes, so the first limit above is the length.
    if (bits < Limit[n]) {
      length = n;
      return Symbols[Offset[n] + (bits >> (16 - n)) - First[n]];
    }
  }
  return -1;
}
