#include "unrar/Rar3Bits.h"

#include <algorithm>

#include "unrar/unrar.h"

void TRar3Input::Reset(IPackedInput& source) {
  Source = &source;
  if (!Buffer) Buffer.reset(new uint8_t[Chunk + LookAhead]);
  B = TRar3Bits{Buffer.get(), 0, 0};
  End = 0;
  Eof = false;
  Error = 0;
  std::memset(Buffer.get(), 0, LookAhead);
}

int TRar3Input::Refill(size_t want) {
  if (Eof || Buffered() >= want) return ERAR_SUCCESS;
  size_t keep = Buffered();
  std::memmove(Buffer.get(), Buffer.get() + B.Pos, keep);
  B.Pos = 0;
  End = keep;
  while (End < Chunk && !Eof) {
    size_t got = 0;
    if (int rc = Source->Read(Buffer.get() + End, Chunk - End, got)) {
      std::memset(Buffer.get() + End, 0, LookAhead);
      return rc;
    }
    if (got == 0) Eof = true;
    End += std::min(got, Chunk - End);
  }
  std::memset(Buffer.get() + End, 0, LookAhead);
  return ERAR_SUCCESS;
}

uint8_t TRar3Input::GetByteSlow() {
  if (!Eof) {
    if (int rc = Refill(1)) {
      Error = rc;
      return 0;
    }
    if (B.Pos < End) return B.Data[B.Pos++];
  }
  // The position moves on a little into the zeros, so that Overrun() sees it, but never beyond them.
  if (B.Pos < End + 8) ++B.Pos;
  return 0;
}

int TRar3Input::BitsLeft(uint64_t& bits) {
  if (!Eof)
    if (int rc = Refill(Chunk)) return rc;
  bits = 0;
  // Refill stops with a full buffer before the end of a long entry: plenty is left then.
  if (!Eof) bits = UINT64_MAX;
  else if (!Overrun()) bits = uint64_t(End) * 8 - B.BitPosition();
  return ERAR_SUCCESS;
}

bool TRar3Huffman::Build(const uint8_t* lengths, unsigned count) {
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
  std::fill(std::begin(Quick), std::end(Quick), 0);
  for (unsigned n = 1; n <= QuickBits; ++n) {
    for (uint32_t k = 0; k < perLength[n]; ++k) {
      uint32_t from = (First[n] + k) << (QuickBits - n);
      uint16_t entry = uint16_t(Symbols[Offset[n] + k] << 4 | n);
      std::fill(Quick + from, Quick + from + (1u << (QuickBits - n)), entry);
    }
  }
  return true;
}

int TRar3Huffman::DecodeLong(uint32_t bits, unsigned& length) const {
  for (unsigned n = QuickBits + 1; n <= MaxLength; ++n) {
    // Patterns below Limit[QuickBits] all have short codes, so the first limit above is the length.
    if (bits < Limit[n]) {
      length = n;
      return Symbols[Offset[n] + (bits >> (16 - n)) - First[n]];
    }
  }
  return -1;
}
