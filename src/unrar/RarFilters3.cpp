#include "unrar/RarFilters3.h"

#include <cstdlib>
#include <cstring>

#include "unrar/RarCrc.h"

namespace {

uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void Put32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = uint8_t(v >> (8 * k));
}

// x86 CALL (and JMP) targets were stored as absolute addresses in a 16 MiB space.
void X86(uint8_t* data, uint32_t size, uint32_t fileOffset, bool e9) {
  constexpr uint32_t AddressSpace = 0x1000000;
  if (size < 5) return;
  const uint8_t second = e9 ? 0xE9 : 0xE8;
  for (uint32_t pos = 0; pos < size - 4;) {
    uint8_t op = data[pos++];
    if (op != 0xE8 && op != second) continue;
    uint32_t offset = pos + fileOffset;
    uint32_t addr = Get32(data + pos);
    if (addr & 0x80000000u) {
      if (((addr + offset) & 0x80000000u) == 0) Put32(data + pos, addr + AddressSpace);
    } else if ((addr - AddressSpace) & 0x80000000u) {
      Put32(data + pos, addr - offset);
    }
    pos += 4;
  }
}

uint32_t ItaniumBits(const uint8_t* data, uint32_t bitPos, uint32_t count) {
  uint32_t v = Get32(data + bitPos / 8) >> (bitPos & 7);
  return v & (0xFFFFFFFFu >> (32 - count));
}

void SetItaniumBits(uint8_t* data, uint32_t value, uint32_t bitPos, uint32_t count) {
  uint8_t* p = data + bitPos / 8;
  uint32_t shift = bitPos & 7;
  uint32_t andMask = ~((0xFFFFFFFFu >> (32 - count)) << shift);
  value <<= shift;
  for (int i = 0; i < 4; ++i) {
    p[i] = uint8_t((p[i] & andMask) | value);
    andMask = (andMask >> 8) | 0xFF000000u;
    value >>= 8;
  }
}

// IA-64 bundles: the 20-bit targets of branch slots were stored as absolute addresses.
void Itanium(uint8_t* data, uint32_t size, uint32_t fileOffset) {
  static const uint8_t Masks[16] = {4, 4, 6, 6, 0, 0, 7, 7, 4, 4, 0, 0, 4, 4, 0, 0};
  if (size < 21) return;
  fileOffset >>= 4;
  for (uint32_t pos = 0; pos < size - 21; pos += 16, data += 16, ++fileOffset) {
    int templ = (data[0] & 0x1F) - 0x10;
    if (templ < 0) continue;
    uint8_t mask = Masks[templ];
    for (uint32_t slot = 0; slot <= 2; ++slot) {
      if (!(mask & (1u << slot))) continue;
      uint32_t start = slot * 41 + 5;
      if (ItaniumBits(data, start + 37, 4) != 5) continue;
      uint32_t target = ItaniumBits(data, start + 13, 20);
      SetItaniumBits(data, (target - fileOffset) & 0xFFFFF, start + 13, 20);
    }
  }
}

// Each channel's bytes were stored together as differences; they go back interleaved.
void Delta(const uint8_t* src, uint8_t* dest, uint32_t size, uint32_t channels) {
  for (uint32_t channel = 0; channel < channels && channel < size; ++channel) {
    uint8_t previous = 0;
    // 64 bits: a channel count near 2^32 must not wrap round the step.
    for (uint64_t at = channel; at < size; at += channels) dest[at] = previous = uint8_t(previous - *src++);
  }
}

// 24-bit pixels: each byte predicted from its left, upper and upper-left neighbours (Paeth),
// and green added back to red and blue.
void Rgb(const uint8_t* src, uint8_t* dest, uint32_t size, uint32_t stride, uint32_t redAt) {
  // A row shorter than a pixel or longer than the block: nothing to predict from.
  if (stride < 3 || stride - 3 > size) return;
  const uint32_t width = stride - 3;
  for (uint32_t channel = 0; channel < 3; ++channel) {
    uint32_t previous = 0;
    for (uint32_t i = channel; i < size; i += 3) {
      uint32_t predicted;
      if (i >= width + 3) {
        const uint8_t* upper = dest + i - width;
        uint32_t up = upper[0], upLeft = upper[-3];
        predicted = previous + up - upLeft;
        int pa = std::abs(int(predicted - previous));
        int pb = std::abs(int(predicted - up));
        int pc = std::abs(int(predicted - upLeft));
        if (pa <= pb && pa <= pc)
          predicted = previous;
        else if (pb <= pc)
          predicted = up;
        else
          predicted = upLeft;
      } else {
        predicted = previous;
      }
      dest[i] = uint8_t(predicted - *src++);
      previous = dest[i];
    }
  }
  for (uint64_t i = redAt; i + 2 < size; i += 3) {
    uint8_t green = dest[i + 1];
    dest[i] = uint8_t(dest[i] + green);
    dest[i + 2] = uint8_t(dest[i + 2] + green);
  }
}

// Sound samples: per channel, an adaptive linear predictor whose weights follow the smallest
// error of the last 32 samples.
void Audio(const uint8_t* src, uint8_t* dest, uint32_t size, uint32_t channels) {
  for (uint32_t channel = 0; channel < channels && channel < size; ++channel) {
    uint32_t prevByte = 0, prevDelta = 0, dif[7] = {};
    int d1 = 0, d2 = 0, d3;
    int k1 = 0, k2 = 0, k3 = 0;
    uint32_t byteCount = 0;
    for (uint64_t i = channel; i < size; i += channels, ++byteCount) {
      d3 = d2;
      d2 = int(prevDelta - uint32_t(d1));
      d1 = int(prevDelta);
      uint32_t predicted = 8 * prevByte + uint32_t(k1 * d1) + uint32_t(k2 * d2) + uint32_t(k3 * d3);
      predicted = (predicted >> 3) & 0xFF;
      uint32_t cur = *src++;
      predicted -= cur;
      dest[i] = uint8_t(predicted);
      prevDelta = uint32_t(int(int8_t(uint8_t(predicted - prevByte))));
      prevByte = predicted;
      int d = int(int8_t(uint8_t(cur))) * 8;
      dif[0] += uint32_t(std::abs(d));
      dif[1] += uint32_t(std::abs(d - d1));
      dif[2] += uint32_t(std::abs(d + d1));
      dif[3] += uint32_t(std::abs(d - d2));
      dif[4] += uint32_t(std::abs(d + d2));
      dif[5] += uint32_t(std::abs(d - d3));
      dif[6] += uint32_t(std::abs(d + d3));
      if ((byteCount & 0x1F) == 0) {
        uint32_t minDif = dif[0], numMinDif = 0;
        dif[0] = 0;
        for (uint32_t j = 1; j < 7; ++j) {
          if (dif[j] < minDif) {
            minDif = dif[j];
            numMinDif = j;
          }
          dif[j] = 0;
        }
        switch (numMinDif) {
          case 1: if (k1 >= -16) k1--; break;
          case 2: if (k1 < 16) k1++; break;
          case 3: if (k2 >= -16) k2--; break;
          case 4: if (k2 < 16) k2++; break;
          case 5: if (k3 >= -16) k3--; break;
          case 6: if (k3 < 16) k3++; break;
          default: break;
        }
      }
    }
  }
}

}  // namespace

TRar3Filter IdentifyRar3Filter(const uint8_t* code, size_t size) {
  if (size == 0) return TRar3Filter::Unknown;
  uint8_t check = 0;
  for (size_t i = 1; i < size; ++i) check ^= code[i];
  if (check != code[0]) return TRar3Filter::Unknown;
  struct TStandard {
    size_t Length;
    uint32_t Crc;
    TRar3Filter Filter;
  };
  static const TStandard Standard[] = {
      {53, 0xAD576887, TRar3Filter::E8},     {57, 0x3CD7E57E, TRar3Filter::E8E9},
      {120, 0x3769893F, TRar3Filter::Itanium}, {29, 0x0E06077D, TRar3Filter::Delta},
      {149, 0x1C2C5DC8, TRar3Filter::Rgb},    {216, 0xBC85E701, TRar3Filter::Audio},
  };
  const uint32_t crc = RarCrc32(0, code, size);
  for (const auto& s : Standard)
    if (s.Length == size && s.Crc == crc) return s.Filter;
  return TRar3Filter::Unknown;
}

const uint8_t* RunRar3Filter(TRar3Filter filter, uint8_t* data, uint32_t size, const TRar3FilterRegisters& regs,
                             uint32_t fileOffset) {
  switch (filter) {
    case TRar3Filter::E8:
    case TRar3Filter::E8E9:
      X86(data, size, fileOffset, filter == TRar3Filter::E8E9);
      return data;
    case TRar3Filter::Itanium:
      Itanium(data, size, fileOffset);
      return data;
    case TRar3Filter::Delta:
    case TRar3Filter::Rgb:
    case TRar3Filter::Audio:
      // The result goes after the input into bytes that start as zeros; parameters out of range
      // (no channels, a row shorter than a pixel) leave them so.
      std::memset(data + size, 0, size);
      if (filter == TRar3Filter::Delta) Delta(data, data + size, size, regs.R[0]);
      if (filter == TRar3Filter::Rgb) Rgb(data, data + size, size, regs.R[0], regs.R[1]);
      if (filter == TRar3Filter::Audio) Audio(data, data + size, size, regs.R[0]);
      return data + size;
    case TRar3Filter::Unknown:
      break;
  }
  return nullptr;
}
