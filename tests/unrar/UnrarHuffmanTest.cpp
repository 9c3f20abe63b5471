// The canonical Huffman codes both LZ decoders read: codes written out by hand, decoded from a
// bit stream, with the tables the archiver could never write refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "unrar/RarHuffman.h"

namespace {

// Big-endian bits from a string of '0' and '1', with zero bytes behind them as the decoders keep.
struct TTestBits {
  explicit TTestBits(const std::string& bits) : Bytes(bits.size() / 8 + 8, 0) {
    for (size_t i = 0; i < bits.size(); ++i)
      if (bits[i] == '1') Bytes[i / 8] |= uint8_t(0x80 >> (i % 8));
  }
  uint32_t Peek16() const {
    uint32_t v = uint32_t(Bytes[Pos / 8]) << 16 | uint32_t(Bytes[Pos / 8 + 1]) << 8 | Bytes[Pos / 8 + 2];
    return (v >> (8 - Pos % 8)) & 0xFFFF;
  }
  void Skip(unsigned bits) { Pos += bits; }
  std::vector<uint8_t> Bytes;
  size_t Pos = 0;
};

std::vector<uint8_t> LengthsUpTo15() {
  // Symbol k - 1 has length k for k = 1..14, and symbols 14 and 15 share length 15: complete.
  std::vector<uint8_t> lengths;
  for (uint8_t k = 1; k <= 14; ++k) lengths.push_back(k);
  lengths.push_back(15);
  lengths.push_back(15);
  return lengths;
}

TEST(RarHuffman, DecodesCanonicalCodes) {
  struct TCase {
    const char* Label;
    std::vector<uint8_t> Lengths;
    std::vector<std::pair<std::string, int>> Codes;  // in the order they are read
  } cases[] = {
      {"shorter codes first", {2, 1, 3, 3}, {{"0", 1}, {"10", 0}, {"110", 2}, {"111", 3}, {"0", 1}}},
      {"one length in symbol order, unused symbols between",
       {0, 3, 0, 3, 2, 2, 3, 3},
       {{"00", 4}, {"01", 5}, {"100", 1}, {"101", 3}, {"110", 6}, {"111", 7}}},
      {"codes beyond the quick lookup",
       LengthsUpTo15(),
       {{"11111111111110", 13}, {"111111111111110", 14}, {"111111111111111", 15}, {"0", 0},
        {"11111111110", 10}, {"1111111110", 9}}},
      {"only the low four bits of a length count", {0x12, 0x21, 0x33, 0xF3}, {{"110", 2}, {"0", 1}, {"111", 3}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    TRarHuffman code;
    ASSERT_TRUE(code.Build(c.Lengths.data(), unsigned(c.Lengths.size())));
    std::string stream;
    for (const auto& [bits, symbol] : c.Codes) stream += bits;
    TTestBits b(stream);
    size_t at = 0;
    for (const auto& [bits, symbol] : c.Codes) {
      EXPECT_EQ(code.Decode(b), symbol) << bits;
      at += bits.size();
      EXPECT_EQ(b.Pos, at) << bits;
    }
  }
}

TEST(RarHuffman, RefusesTablesWithTooManyCodes) {
  const std::vector<uint8_t> three = {1, 1, 1};
  TRarHuffman code;
  EXPECT_FALSE(code.Build(three.data(), 3));
  std::vector<uint8_t> lengths(TRarHuffman::MaxSymbols + 1, 0);
  lengths[0] = 1;
  EXPECT_FALSE(code.Build(lengths.data(), unsigned(lengths.size())));
  EXPECT_TRUE(code.Build(lengths.data(), TRarHuffman::MaxSymbols));
}

// A table with room left over is allowed; a pattern no code has gives -1 and consumes nothing,
// also where an earlier table of the same object had a code for it.
TEST(RarHuffman, PatternsWithoutACodeAreRefusedWhenMet) {
  struct TCase {
    const char* Label;
    std::vector<uint8_t> Before, Lengths;
    std::string Valid, Invalid;
    int Symbol;
  } cases[] = {
      {"one short code", {}, {1}, "0", "1", 0},
      {"two codes of two bits", {}, {2, 2}, "01", "10", 1},
      {"one long code", {}, {0, 0, 12}, "000000000000", "000000000001", 2},
      {"after a complete table", {1, 1}, {2}, "00", "01", 0},
      {"after long codes", LengthsUpTo15(), {0, 2, 2}, "01", "11111111111111", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    TRarHuffman code;
    if (!c.Before.empty()) {
      ASSERT_TRUE(code.Build(c.Before.data(), unsigned(c.Before.size())));
    }
    ASSERT_TRUE(code.Build(c.Lengths.data(), unsigned(c.Lengths.size())));
    TTestBits valid(c.Valid);
    EXPECT_EQ(code.Decode(valid), c.Symbol);
    EXPECT_EQ(valid.Pos, c.Valid.size());
    TTestBits invalid(c.Invalid);
    EXPECT_EQ(code.Decode(invalid), -1);
    EXPECT_EQ(invalid.Pos, 0u);
  }
}

}  // namespace
