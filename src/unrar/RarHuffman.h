// The canonical Huffman codes of the RAR LZ formats (2.0 to 5), read from a big-endian bit
// reader: codes of one length are consecutive, shorter codes first, and the symbols of one
// length in increasing order, as the archiver builds them from bit lengths.
#pragma once
#include <cstdint>

class TRarHuffman {
 public:
  static constexpr unsigned MaxSymbols = 306;
  static constexpr unsigned MaxLength = 15;
  static constexpr unsigned QuickBits = 10;

  // Lengths count their low four bits only. False for lengths that give more codes than there
  // is room for. Fewer is allowed (a table whose symbols are all unused is empty); a bit pattern
  // that no code has is refused when it is met.
  bool Build(const uint8_t* lengths, unsigned count);

  // The next symbol, or -1 for a bit pattern without a code (nothing is consumed then). The
  // reader gives its next 16 bits with Peek16() and moves on with Skip(bits).
  template <class TReader>
  int Decode(TReader& b) const {
    const uint32_t bits = b.Peek16();
    // Every pattern below QuickLimit starts a code of at most QuickBits: codes are consecutive.
    if (bits < QuickLimit) {
      const uint32_t entry = Quick[bits >> (16 - QuickBits)];
      b.Skip(entry & 15);
      return int(entry >> 4);
    }
    unsigned length = 0;
    const int symbol = DecodeLong(bits, length);
    b.Skip(length);
    return symbol;
  }

 private:
  // A code longer than QuickBits: its symbol and length, or -1 (length 0).
  int DecodeLong(uint32_t bits, unsigned& length) const;

  uint32_t QuickLimit = 0;               // Limit[QuickBits]
  uint32_t Limit[MaxLength + 1] = {};    // 16-bit prefixes below Limit[n] hold codes of up to n bits
  uint32_t First[MaxLength + 1] = {};    // first code of each length
  uint32_t Offset[MaxLength + 1] = {};   // index in Symbols of that code's symbol
  uint16_t Quick[1u << QuickBits] = {};  // symbol << 4 | length, for the patterns below QuickLimit
  uint16_t Symbols[MaxSymbols] = {};
};
