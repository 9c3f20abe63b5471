// The packed side of the RAR 2.0-4.x decoders: a buffer over the entry's IPackedInput read as
// bits (most significant first, the LZ blocks) or as bytes (the PPMd range coder and the
// headers of its blocks).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "unrar/RarInput.h"

// A read position in a buffer that has TRar3Input::LookAhead readable bytes after its data.
// The decoding loops copy it into a local so that it stays in registers.
struct TRar3Bits {
  const uint8_t* Data = nullptr;
  size_t Pos = 0;
  unsigned Bit = 0;

  // The next 16 bits, without consuming them.
  uint32_t Peek16() const {
    uint32_t v;
    std::memcpy(&v, Data + Pos, 4);
    v = __builtin_bswap32(v);
    return (v << Bit) >> 16;
  }
  void Skip(unsigned bits) {
    Bit += bits;
    Pos += Bit >> 3;
    Bit &= 7;
  }
  // 1 to 16 bits.
  uint32_t Get(unsigned bits) {
    uint32_t v = Peek16() >> (16 - bits);
    Skip(bits);
    return v;
  }
  void AlignToByte() {
    if (Bit) {
      Bit = 0;
      ++Pos;
    }
  }
  uint64_t BitPosition() const { return uint64_t(Pos) * 8 + Bit; }
};

class TRar3Input {
 public:
  // Zero bytes kept after the data, so that a symbol can be read without checking each bit.
  static constexpr size_t LookAhead = 64;
  static constexpr size_t Chunk = 256u << 10;

  // A fresh entry: nothing read yet.
  void Reset(IPackedInput& source);

  // Makes at least `want` bytes (want <= Chunk) available from the position unless the data
  // ends first. 0, or the source's error code.
  int Refill(size_t want);

  // Whole bytes left in the buffer from the position (0 when it is already past the end).
  size_t Buffered() const { return B.Pos < End ? End - B.Pos : 0; }
  bool AtEof() const { return Eof; }
  // Bits left before the end of the data, once the source has ended (reads everything left).
  // 0, or the source's error code.
  int BitsLeft(uint64_t& bits);
  // Bits consumed beyond the data's end: only possible once the source ended.
  bool Overrun(uint64_t slackBits = 0) const { return Eof && B.BitPosition() > uint64_t(End) * 8 + slackBits; }

  // Byte reads for the range coder (the position is byte-aligned). Past the end of the data
  // they give zeros, and Overrun() tells.
  uint8_t GetByte() { return B.Pos < End ? B.Data[B.Pos++] : GetByteSlow(); }

  TRar3Bits B;
  size_t End = 0;   // bytes of data in the buffer
  int Error = 0;    // a source error met by a byte read (which cannot return it), for the decoder's loop

 private:
  uint8_t GetByteSlow();

  IPackedInput* Source = nullptr;
  std::unique_ptr<uint8_t[]> Buffer;  // Chunk + LookAhead bytes, not cleared beyond what is read
  bool Eof = false;
};
