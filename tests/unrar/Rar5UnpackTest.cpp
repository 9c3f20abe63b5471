// The RAR 5 decoder on streams put together symbol by symbol: what each construct means, the
// filters, the window at its limits, solid state, memory bounds, and damaged data of every kind.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "Rar5TestSupport.h"
#include "Rar5Writer.h"
#include "UnrarTestSupport.h"
#include "unrar/Rar5Unpack.h"
#include "unrar/unrar.h"

namespace {

using TSymbols = std::vector<TRar5Symbol>;

// Packed bytes handed out a few at a time, so that the decoder refills mid-stream.
class TChunkedInput : public IPackedInput {
 public:
  TChunkedInput(const std::string& data, size_t chunk) : Data(data), Chunk(chunk) {}
  int Read(uint8_t* buffer, size_t size, size_t& got) override {
    got = std::min({size, Chunk, Data.size() - At});
    std::memcpy(buffer, Data.data() + At, got);
    At += got;
    return ERAR_SUCCESS;
  }

 private:
  const std::string& Data;
  size_t Chunk;
  size_t At = 0;
};

class TStringSink : public IUnpackSink {
 public:
  int Write(const uint8_t* data, size_t size) override {
    Out.append(reinterpret_cast<const char*>(data), size);
    return ERAR_SUCCESS;
  }
  std::string Out;
};

TRarEntryHeader Entry(uint64_t unpSize, uint64_t dict = 128u << 10, bool solid = false) {
  TRarEntryHeader h;
  h.Method = RarMethodStore + 3;
  h.UnpSize = unpSize;
  h.DictSize = dict;
  h.UnpVer = RarVersion5;
  if (solid) h.Flags |= RarFileSolid;
  return h;
}

int Decode(TRar5Unpacker& unpacker, const TRarEntryHeader& h, const std::string& packed, std::string& out,
           size_t chunk = 1u << 20) {
  TChunkedInput input(packed, chunk);
  TStringSink sink;
  int rc = unpacker.Unpack(h, input, sink);
  out = sink.Out;
  return rc;
}

// What a stream of literals, matches and repeats spells, worked out the plain way.
std::string Spelled(const TSymbols& symbols) {
  std::string out;
  uint64_t dist[4] = {};
  uint32_t last = 0;
  for (const auto& s : symbols) {
    uint64_t d = 0;
    uint32_t n = 0;
    switch (s.Kind) {
      case TRar5Symbol::Literal:
        out += char(s.Value);
        continue;
      case TRar5Symbol::Filter:
        continue;
      case TRar5Symbol::Match:
        d = s.Distance;
        n = s.Length;
        dist[3] = dist[2], dist[2] = dist[1], dist[1] = dist[0], dist[0] = d;
        break;
      case TRar5Symbol::Repeat:
        d = dist[s.Value];
        for (unsigned i = s.Value; i > 0; --i) dist[i] = dist[i - 1];
        dist[0] = d;
        n = s.Length;
        break;
      case TRar5Symbol::Last:
        d = dist[0];
        n = last;
        break;
    }
    last = n;
    for (uint32_t i = 0; i < n; ++i) out += out[out.size() - d];
  }
  return out;
}

TSymbols Bytes(const std::string& text) {
  TSymbols s;
  for (char c : text) s.push_back(TRar5Symbol::Byte(uint8_t(c)));
  return s;
}

// Noise without the bytes the x86 and ARM filters act on, so that those filters leave it alone.
std::string PlainNoise(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(size, '\0');
  for (auto& c : s) {
    do c = char(random());
    while (uint8_t(c) == 0xE8 || uint8_t(c) == 0xE9 || uint8_t(c) == 0xEB);
  }
  return s;
}

TSymbols operator+(TSymbols a, const TSymbols& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TRar5Symbol Repeat(uint8_t index, uint32_t length) { return {TRar5Symbol::Repeat, index, length, 0, 0}; }
TRar5Symbol Last() { return {TRar5Symbol::Last, 0, 0, 0, 0}; }
TRar5Symbol Filter(uint8_t type, uint64_t start, uint32_t length, uint8_t channels = 0) {
  return {TRar5Symbol::Filter, type, length, start, channels};
}

enum : uint8_t { Delta = 0, E8 = 1, E8E9 = 2, ArmBl = 3 };

TEST(Rar5Unpack, HandMadeStreamsSpellWhatTheyMean) {
  std::string noise = PlainNoise(0x40010, 1);
  TSymbols far = Bytes(noise);
  for (uint64_t d : {0x100u, 0x101u, 0x2000u, 0x2001u, 0x40000u, 0x40001u}) far.push_back(TRar5Symbol::Copy(9, d));
  far.push_back(Repeat(3, 7));
  far.push_back(Repeat(2, 4097));
  far.push_back(Last());
  TSymbols wholeWindow = Bytes(PlainNoise(131072 + 50, 2));
  wholeWindow.push_back(TRar5Symbol::Copy(300, 131072));
  wholeWindow.push_back(TRar5Symbol::Copy(4000, 131070));
  struct TCase {
    const char* Label;
    TSymbols Symbols;
    TRar5BlockPlan Plan;
    uint64_t Dict = 128u << 10;
  } cases[] = {
      {"literals", Bytes("plain text"), {}},
      {"a run from one byte", Bytes("a") + TSymbols{TRar5Symbol::Copy(100, 1)}, {}},
      {"copies that overlap themselves",
       Bytes("ab") + TSymbols{TRar5Symbol::Copy(9, 2), TRar5Symbol::Copy(30, 7), TRar5Symbol::Copy(40, 8),
                              TRar5Symbol::Copy(50, 9), TRar5Symbol::Copy(4097, 16)},
       {}},
      {"repeated distances rotate",
       Bytes("0123456789") + TSymbols{TRar5Symbol::Copy(2, 10), TRar5Symbol::Copy(3, 5), TRar5Symbol::Copy(2, 7),
                                      TRar5Symbol::Copy(2, 3), Repeat(3, 3), Repeat(2, 2), Repeat(1, 4), Repeat(0, 2),
                                      Last(), Last()},
       {}},
      {"far distances with their length bonus", far, {}, 1u << 20},
      {"a whole window back", wholeWindow, {}},
      {"many blocks, each with tables", far, {1000, false, true}, 1u << 20},
      {"many blocks sharing the first tables", far, {777, true, true}, 1u << 20},
      {"an empty entry", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    std::string expected = Spelled(c.Symbols);
    std::string packed = EncodeRar5Symbols(c.Symbols, c.Plan);
    for (size_t chunk : {size_t(1) << 20, size_t(7), size_t(1)}) {
      TRar5Unpacker unpacker;
      std::string out;
      ASSERT_EQ(Decode(unpacker, Entry(expected.size(), c.Dict), packed, out, chunk), ERAR_SUCCESS) << chunk;
      EXPECT_TRUE(out == expected) << chunk;
    }
  }
}

// Filters convert exactly their block; data they do not act on (no E8, E9 or EB bytes) comes
// out as it went in wherever the blocks lie, so the blocks' bounds are what is tested there.
TEST(Rar5Unpack, FiltersApplyToTheirBlocks) {
  std::string noise = PlainNoise(300000, 3);
  // In a 128 KiB window: a block that wraps round its end, then one of 4 MiB, the most allowed.
  TSymbols acrossTheEnd = Bytes(noise.substr(0, 120000)) + TSymbols{Filter(E8, 0, 100000)} +
                          Bytes(noise.substr(120000, 100000)) + TSymbols{Filter(ArmBl, 0, 4u << 20)};
  for (size_t left = 4u << 20; left > 0; left -= std::min(left, noise.size()))
    acrossTheEnd = acrossTheEnd + Bytes(noise.substr(0, std::min(left, noise.size())));
  struct TCase {
    const char* Label;
    TSymbols Symbols;
    std::string Expected;  // empty: what the literals spell
    uint64_t Dict = 128u << 10;
  } cases[] = {
      {"DELTA, one channel", TSymbols{Filter(Delta, 0, 3, 1)} + Bytes("\xf6\xf6\xf6"), "\x0a\x14\x1e"},
      // Channels are stored one after the other: bytes 1,2,3 of channel 0 then 10,20,30.
      {"DELTA, two channels", TSymbols{Filter(Delta, 0, 6, 2)} + Bytes(std::string("\xff\xff\xff\xf6\xf6\xf6", 6)),
       std::string("\x01\x0a\x02\x14\x03\x1e", 6)},
      // E8 at entry offset 0: the address after it sits at offset 1.
      {"E8: an address inside the space", TSymbols{Filter(E8, 0, 6)} + Bytes(std::string("\xe8\x10\x00\x00\x00\x00", 6)),
       std::string("\xe8\x0f\x00\x00\x00\x00", 6)},
      {"E8: a negative address that fell inside",
       TSymbols{Filter(E8, 0, 6)} + Bytes(std::string("\xe8\xff\xff\xff\xff\x00", 6)),
       std::string("\xe8\xff\xff\xff\x00\x00", 6)},
      {"E8: an address outside the space stays", TSymbols{Filter(E8, 0, 6)} + Bytes(std::string("\xe8\x00\x00\x00\x40\x00", 6)),
       std::string("\xe8\x00\x00\x00\x40\x00", 6)},
      {"E8 leaves E9 alone, E8E9 does not",
       TSymbols{Filter(E8, 0, 6), Filter(E8E9, 6, 6)} + Bytes(std::string("\xe9\x10\x00\x00\x00\x00\xe9\x10\x00\x00\x00\x00", 12)),
       std::string("\xe9\x10\x00\x00\x00\x00\xe9\x09\x00\x00\x00\x00", 12)},
      {"E8: an address that would stick out of the block stays",
       TSymbols{Filter(E8, 0, 6)} + Bytes(std::string("\x00\x00\xe8\x10\x00\x00", 6)),
       std::string("\x00\x00\xe8\x10\x00\x00", 6)},
      // BL offsets in words, less the instruction's own position.
      {"ARM", TSymbols{Filter(ArmBl, 0, 8)} + Bytes(std::string("\x01\x00\x00\xeb\x05\x00\x00\xeb", 8)),
       std::string("\x01\x00\x00\xeb\x04\x00\x00\xeb", 8)},
      {"a block declared ahead of its data", Bytes("abc") + TSymbols{Filter(E8, 2, 6)} + Bytes("de") +
                                                 Bytes(std::string("\xe8\x10\x00\x00\x00\x00", 6)) + Bytes("z"),
       std::string("abcde\xe8\x0a\x00\x00\x00\x00z", 12)},
      {"adjacent blocks", TSymbols{Filter(E8, 0, 1000), Filter(E8E9, 1000, 1000), Filter(Delta, 2000, 0, 4)} +
                              Bytes(noise.substr(0, 3000)), ""},
      {"blocks across the window's end, one as long as allowed", acrossTheEnd, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    std::string expected = c.Expected.empty() ? Spelled(c.Symbols) : c.Expected;
    TRar5Unpacker unpacker;
    std::string out;
    ASSERT_EQ(Decode(unpacker, Entry(expected.size(), c.Dict), EncodeRar5Symbols(c.Symbols, {50000}), out),
              ERAR_SUCCESS);
    EXPECT_TRUE(out == expected);
  }
}

// In a solid set the window, tables and distances carry over; filter addresses count from the
// start of each entry.
TEST(Rar5Unpack, SolidEntriesContinueTheStream) {
  std::string first = PlainNoise(100000, 4);
  TRar5Unpacker unpacker;
  std::string out;
  ASSERT_EQ(Decode(unpacker, Entry(first.size(), 4u << 20), EncodeRar5Symbols(Bytes(first)), out), ERAR_SUCCESS);
  EXPECT_EQ(unpacker.WindowSize(), 256u << 10);
  // A second entry much larger than the first: the window grows and keeps what came before.
  TSymbols second = TSymbols{TRar5Symbol::Copy(1000, 100000)} + Bytes(PlainNoise(700000, 5)) +
                    TSymbols{TRar5Symbol::Copy(500, 800000)};
  // The third has no tables of its own, goes on with the second's last distance and length, and
  // its E8 address counts from its own first byte.
  TSymbols third = TSymbols{Filter(E8, 500, 6), Last()} + Bytes(std::string("\xe8\x00\x03\x00\x00\x00", 6));
  TSymbols both = second + third;
  TRar5BlockPlan withTables, without;
  withTables.TableSymbols = without.TableSymbols = &both;
  without.FirstTables = false;
  std::string all = Spelled(Bytes(first) + second + TSymbols{Last()});
  std::string expected = all.substr(first.size(), all.size() - first.size() - 500);
  ASSERT_EQ(Decode(unpacker, Entry(expected.size(), 4u << 20, true), EncodeRar5Symbols(second, withTables), out),
            ERAR_SUCCESS);
  EXPECT_TRUE(out == expected);
  EXPECT_EQ(unpacker.WindowSize(), 1u << 20);
  ASSERT_EQ(Decode(unpacker, Entry(506, 4u << 20, true), EncodeRar5Symbols(third, without), out), ERAR_SUCCESS);
  // 0x300 less the address's offset in this entry, 501.
  EXPECT_TRUE(out == all.substr(all.size() - 500) + std::string("\xe8\x0b\x01\x00\x00\x00", 6));
  // A new set starts afresh: nothing of the old one may be referred to.
  ASSERT_EQ(Decode(unpacker, Entry(10, 4u << 20), EncodeRar5Symbols(Bytes("x") + TSymbols{TRar5Symbol::Copy(9, 2)}), out),
            ERAR_BAD_DATA);
}

// Every kind of damage ends the entry with ERAR_BAD_DATA, never with more data than declared.
TEST(Rar5Unpack, DamagedStreamsFailCleanly) {
  std::string tooManyFilters;
  TSymbols pending = Bytes("abc");
  for (uint32_t i = 0; i < 8193; ++i) pending.push_back(Filter(E8, 10 + 2 * i, 1));
  // 20 code lengths of 1: more codes than one bit has room for.
  std::string oversubscribed = std::string("\xc7") + char(0x5A ^ 0xC7 ^ 10) + char(10) + std::string(10, '\x11');
  std::string good = EncodeRar5Symbols(Bytes("hello"));
  std::string badCheck = good;
  badCheck[1] = char(badCheck[1] ^ 1);
  std::string fourSizeBytes = good;
  fourSizeBytes[0] = char(fourSizeBytes[0] | 0x18);
  std::string noTables = good;
  noTables[0] = char(noTables[0] & ~0x80);
  noTables[1] = char(noTables[1] ^ 0x80);
  struct TCase {
    const char* Label;
    std::string Packed;
    uint64_t UnpSize;
    uint64_t Dict = 128u << 10;
  } cases[] = {
      {"a distance before the first byte", EncodeRar5Symbols(Bytes("ab") + TSymbols{TRar5Symbol::Copy(3, 3)}), 5},
      {"a distance beyond the dictionary",
       EncodeRar5Symbols(Bytes(PlainNoise(140000, 6)) + TSymbols{TRar5Symbol::Copy(5, 131073)}), 140005},
      {"a repeated distance before any distance", EncodeRar5Symbols(Bytes("ab") + TSymbols{Repeat(0, 2)}), 4},
      {"more data than declared", EncodeRar5Symbols(Bytes("abc") + TSymbols{TRar5Symbol::Copy(100, 1)}), 50},
      {"less data than declared", good, 6},
      {"no last block", EncodeRar5Symbols(Bytes("hello"), {SIZE_MAX, false, false}), 5},
      {"cut short", good.substr(0, good.size() - 1), 5},
      {"only a block header", good.substr(0, 3), 5},
      {"nothing at all", "", 5},
      {"a block header's check byte", badCheck, 5},
      {"a block size of four bytes", fourSizeBytes, 5},
      {"a first block without tables", noTables, 5},
      {"tables with too many codes", oversubscribed, 5},
      {"an unknown filter", EncodeRar5Symbols(TSymbols{Filter(5, 0, 3)} + Bytes("abc")), 3},
      {"a filter block beyond 4 MiB", EncodeRar5Symbols(TSymbols{Filter(E8, 0, (4u << 20) + 1)} + Bytes("abc")), 3},
      {"overlapping filter blocks", EncodeRar5Symbols(TSymbols{Filter(E8, 0, 3), Filter(E8, 2, 3)} + Bytes("abcdef")), 6},
      {"a filter block the entry never completes", EncodeRar5Symbols(TSymbols{Filter(E8, 1, 10)} + Bytes("abc")), 3},
      {"too many filters waiting", EncodeRar5Symbols(pending), 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    for (size_t chunk : {size_t(1) << 20, size_t(1)}) {
      TRar5Unpacker unpacker;
      std::string out;
      EXPECT_EQ(Decode(unpacker, Entry(c.UnpSize, c.Dict), c.Packed, out, chunk), ERAR_BAD_DATA);
      EXPECT_LE(out.size(), c.UnpSize);
      // After the failure a solid entry cannot go on from it.
      EXPECT_EQ(Decode(unpacker, Entry(5, c.Dict, true), good, out), ERAR_BAD_DATA);
    }
  }
}

TEST(Rar5Unpack, WhatTheDecoderDoesNotKnowIsRefused) {
  std::string good = EncodeRar5Symbols(Bytes("hello"));
  auto with = [](auto change) {
    TRarEntryHeader h = Entry(5);
    change(h);
    return h;
  };
  struct TCase {
    const char* Label;
    TRarEntryHeader Header;
    int Result;
  } cases[] = {
      {"method 6", with([](TRarEntryHeader& h) { h.Method = RarMethodStore + 6; }), ERAR_UNKNOWN_FORMAT},
      {"stored data", with([](TRarEntryHeader& h) { h.Method = RarMethodStore; }), ERAR_UNKNOWN_FORMAT},
      {"the later algorithm version", with([](TRarEntryHeader& h) { h.CompressionVersion = 1; }), ERAR_UNKNOWN_FORMAT},
      {"a dictionary beyond 4 GiB", with([](TRarEntryHeader& h) { h.DictSize = 8ull << 30; }), ERAR_UNKNOWN_FORMAT},
      {"an unknown dictionary", with([](TRarEntryHeader& h) { h.DictSize = 0; }), ERAR_UNKNOWN_FORMAT},
      {"a solid entry first", with([](TRarEntryHeader& h) { h.Flags |= RarFileSolid; }), ERAR_BAD_DATA},
      {"the largest dictionary for a small file", with([](TRarEntryHeader& h) { h.DictSize = 4ull << 30; }), ERAR_SUCCESS},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    TRar5Unpacker unpacker;
    std::string out;
    EXPECT_EQ(Decode(unpacker, c.Header, good, out), c.Result);
    // Never more window than the data needs, whatever the dictionary says.
    EXPECT_LE(unpacker.WindowSize(), 256u << 10);
  }
  // A later solid entry may not ask for a larger dictionary than its set began with.
  TRar5Unpacker unpacker;
  std::string out;
  ASSERT_EQ(Decode(unpacker, Entry(5, 256u << 10), good, out), ERAR_SUCCESS);
  EXPECT_EQ(Decode(unpacker, Entry(5, 512u << 10, true), good, out), ERAR_BAD_DATA);
}

TEST(Rar5Unpack, AWindowBeyondTheMemoryLimitIsRefusedBeforeAnyData) {
  uint64_t saved = TRar5Unpacker::MemoryLimit;
  TRar5Unpacker::MemoryLimit = 1u << 20;
  std::string packed = EncodeRar5Symbols(Bytes("hello"));
  TRar5Unpacker unpacker;
  std::string out;
  TRarEntryHeader unknownSize = Entry(0, 4u << 20);
  unknownSize.UnpSizeUnknown = true;
  EXPECT_EQ(Decode(unpacker, unknownSize, packed, out), ERAR_NO_MEMORY);
  EXPECT_EQ(Decode(unpacker, Entry(3u << 20, 4u << 20), packed, out), ERAR_NO_MEMORY);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(unpacker.WindowSize(), 0u);
  // Within the limit the same dictionary is fine for data that needs less.
  EXPECT_EQ(Decode(unpacker, Entry(5, 4u << 20), packed, out), ERAR_SUCCESS);
  TRar5Unpacker::MemoryLimit = saved;
  // An entry of unknown size runs until its stream ends.
  EXPECT_EQ(Decode(unpacker, unknownSize, packed, out), ERAR_SUCCESS);
  EXPECT_EQ(out, "hello");
}

// A real compressed entry cut at every length and damaged at every byte: the decoder always
// stops cleanly and never gives more than the declared size.
TEST(Rar5Unpack, EveryCutAndEveryDamagedByteEndsCleanly) {
  TTempDir dir;
  TRar5TestFile file;
  file.Name = "f";
  std::mt19937 random(7);
  for (int i = 0; i < 3000; ++i) file.Data += "word" + std::to_string(random() % 50) + (i % 9 ? " " : "\n");
  TRar5WriterOptions options;
  options.BlockInput = 4000;
  std::string path = WriteRar5Set(dir.File("t.rar"), {file}, options).front();
  TRar5Walk walk = WalkRar5(path);
  ASSERT_EQ(walk.Entries.size(), 1u);
  const TRarEntryHeader& h = walk.Entries[0].Header;
  std::string packed = ReadWholeFile(path).substr(size_t(h.DataPos), size_t(h.PackSize));
  ASSERT_GT(packed.size(), 1000u);
  std::string out;
  TRar5Unpacker unpacker;
  ASSERT_EQ(Decode(unpacker, h, packed, out), ERAR_SUCCESS);
  ASSERT_TRUE(out == file.Data);
  for (size_t length = 0; length < packed.size(); ++length) {
    EXPECT_EQ(Decode(unpacker, h, packed.substr(0, length), out, 1 + length % 5), ERAR_BAD_DATA) << length;
    EXPECT_LE(out.size(), h.UnpSize);
  }
  int wrong = 0;
  for (size_t at = 0; at < packed.size(); ++at) {
    std::string damaged = packed;
    damaged[at] = char(damaged[at] ^ (1 << (at % 8)));
    int rc = Decode(unpacker, h, damaged, out);
    EXPECT_LE(out.size(), h.UnpSize);
    if (rc != ERAR_SUCCESS || out != file.Data) ++wrong;
  }
  // Most damage is seen by the decoder itself; the rest is what the CRC is for.
  EXPECT_GT(wrong, int(packed.size()) * 9 / 10);
}

}  // namespace
