// The packed side of the RAR 2.0-4.x decoders: a buffer over the entry's IPackedInput read as
// bits (most significant first, the LZ blocks) or as bytes (the PPMd range coder and the
// headers of its blocks), and the canonical Huffman codes of the LZ blocks.
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

// A canonical Huffman code of at most 15 bits: codes of one length are consecutive, shorter codes
// first, and symbols of one length in increasing order, as RAR builds them from bit lengths.
class TRar3Huffman {
 public:
  static constexpr unsigned MaxSymbols = 306;
  static constexpr unsigned MaxLength = 15;
  static constexpr unsigned QuickBits = 10;

  // False for lengths that give more codes than there is room for. Fewer is allowed (a table
  // whose symbols are all unused is empty); a bit pattern that no code has is refused when met.
  bool Build(const uint8_t* lengths, unsigned count);

  // The next symbol, or -1 for a bit pattern without a code.
  int Decode(TRar3Bits& b) const {
    uint32_t bits = b.Peek16();
    uint32_t entry = Quick[bits >> (16 - QuickBits)];
    if (entry & 15) {
      b.Skip(entry & 15);
      return int(entry >> 4);
    }
    unsigned length = 0;
    int symbol = DecodeLong(bits, length);
    b.Skip(length);
    return symbol;
  }

 private:
  // A code longer than QuickBits: its symbol and length, or -1 (length 0).
  int DecodeLong(uint32_t bits, unsigned& length) const;

  uint32_t Limit[MaxLength + 1] = {};   // 16-bit prefixes below Limit[n] hold codes of up to n bits
  uint32_t First[MaxLength + 1] = {};   // first code of each length
  uint32_t Offset[MaxLength + 1] = {};  // index in Symbols of that code's symbol
  uint16_t Quick[1u << QuickBits] = {};  // symbol << 4 | length, 0 when longer or absent
  uint16_t Symbols[MaxSymbols] = {};
};
