// The RAR 2.0-4.x decoder on streams the tests write: RAR 2.0 multimedia blocks of one to four
// channels, table changes, solid sets whose tables come after the data, RAR 2.9 solid sets whose
// end codes announce new tables, all held against libunarr; the limits hostile data meets (no
// match past the declared size or before the first byte, no end before it, no data after it,
// no unknown filter program); and the standard filters against their forward transforms.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "Rar3StreamWriter.h"
#include "Rar3TestSupport.h"
#include "unrar/Rar3Unpack.h"
#include "unrar/RarCrc.h"
#include "unrar/RarFilters3.h"
#include "unrar/unrar.h"

namespace {

// What a written stream's output is checked against: libunarr, the writer's own record of its
// literals and copies, or both. libunarr falls short in two places, where the writer stands in:
// it ignores RAR 2.0 tables written after an entry's data for the next one, and it carries a run
// of repeated low distance bits across new RAR 2.9 tables (the archiver starts afresh there, as
// libarchive's lowdist sample shows: libunarr fails on it, the archiver's CRC holds for us).
enum class TCheck { Both, Libunarr, Writer };

struct TStreamCase {
  const char* Name;
  uint8_t UnpVer;
  TStreamOptions Options;
  TCheck Check = TCheck::Both;
  unsigned Entries = 1;        // more than one: a solid set
  bool TablesBetween = false;  // RAR 2.0: tables after the data; RAR 2.9: "tables come next"
};

TStreamOptions Options(uint64_t size, unsigned alphabet, unsigned changes, bool audio = false, unsigned channels = 1,
                       bool keepOld = true, bool runs = true) {
  TStreamOptions o;
  o.Size = size;
  o.LiteralAlphabet = alphabet;
  o.TableChanges = changes;
  o.Audio = audio;
  o.Channels = channels;
  o.KeepOldTables = keepOld;
  o.LowDistRuns = runs;
  return o;
}

const TStreamCase StreamCases[] = {
    {"rar20 lz", 20, Options(60000, 4, 3)},
    {"rar20 lz, all literals, fresh tables", 20, Options(20000, 256, 2, false, 1, false)},
    {"rar20 audio, one channel", 20, Options(30000, 8, 3, true, 1), TCheck::Libunarr},
    {"rar20 audio, two channels", 20, Options(30000, 8, 4, true, 2), TCheck::Libunarr},
    {"rar20 audio, three channels", 20, Options(30001, 8, 2, true, 3), TCheck::Libunarr},
    {"rar20 audio, four channels", 26, Options(40000, 8, 3, true, 4), TCheck::Libunarr},
    {"rar20 solid, audio", 20, Options(15000, 16, 1, true, 2), TCheck::Libunarr, 3},
    {"rar20 solid, tables kept", 20, Options(15000, 16, 1), TCheck::Both, 3},
    {"rar20 solid, tables after the data", 20, Options(15000, 16, 1), TCheck::Writer, 3, true},
    {"rar29 lz", 29, Options(100000, 4, 3, false, 1, true, false)},
    {"rar29 lz, low distance runs across new tables", 29, Options(100000, 4, 3), TCheck::Writer},
    {"rar29 lz, far matches", 29, Options(700000, 2, 0)},
    {"rar29 lz, all literals, fresh tables", 36, Options(20000, 256, 2, false, 1, false, false)},
    {"rar29 solid, tables come next", 29, Options(20000, 8, 1, false, 1, true, false), TCheck::Both, 3, true},
    {"rar29 solid, tables kept", 29, Options(20000, 8, 0), TCheck::Both, 3},
};

TEST(Rar3Streams, WrittenStreamsDecodeAsLibunarrDecodesThem) {
  for (const TStreamCase& c : StreamCases) {
    SCOPED_TRACE(c.Name);
    TMemorySources sources;
    std::vector<TSampleEntry> entries;
    TRar20StreamWriter writer20(7);
    TRar29StreamWriter writer29(7);
    for (unsigned i = 0; i < c.Entries; ++i) {
      bool between = c.TablesBetween && i + 1 < c.Entries;
      std::string packed = c.UnpVer < 29 ? writer20.Entry(c.Options, between) : writer29.Entry(c.Options, between);
      entries.push_back(MemoryEntry(sources, packed, c.UnpVer, c.Options.Size, i > 0));
    }
    const std::string* written = (c.UnpVer < 29 ? writer20.Written : writer29.Written).Expected();
    TRar3Unpacker unpacker;
    std::vector<std::string> ours;
    for (size_t i = 0; i < entries.size(); ++i) {
      TSampleEntry& e = entries[i];
      TSampleInput input(e, sources);
      TStringSink sink;
      ASSERT_EQ(unpacker.Unpack(e.Header, input, sink), ERAR_SUCCESS);
      EXPECT_EQ(sink.Data.size(), e.Header.UnpSize);
      if (c.Check != TCheck::Libunarr) {
        ASSERT_NE(written, nullptr);
        EXPECT_TRUE(sink.Data == written->substr(i * c.Options.Size, c.Options.Size)) << i;
      }
      // libunarr checks the CRC too: it gets the one of our output.
      e.WholeCrc = RarCrc32(0, sink.Data.data(), sink.Data.size());
      TDigestSink digest;
      digest.Write(reinterpret_cast<const uint8_t*>(sink.Data.data()), sink.Data.size());
      ours.push_back(digest.Digest());
    }
    if (c.Check == TCheck::Writer) continue;
    std::vector<const TSampleEntry*> pointers;
    for (const auto& e : entries) pointers.push_back(&e);
    std::vector<TReference> reference = UnarrReference(pointers, c.Entries > 1, sources);
    for (size_t i = 0; i < entries.size(); ++i) {
      EXPECT_TRUE(reference[i].Ok) << i;
      EXPECT_EQ(reference[i].Digest, ours[i]) << i;
    }
  }
}

// Hand-made RAR 2.9 streams at the limits.
struct TLimitCase {
  const char* Name;
  uint64_t DeclaredSize;
  std::function<void(TRar29StreamWriter&, TBitWriter&)> Write;
  int Result;
};

TEST(Rar3Streams, LimitsOfTheDeclaredSizeAndTheWindow) {
  auto literals = [](TRar29StreamWriter& s, TBitWriter& w, int n) {
    for (int i = 0; i < n; ++i) s.PutLiteral(w, uint8_t('a' + i % 3));
  };
  const TLimitCase cases[] = {
      {"exact", 20,
       [&](auto& s, auto& w) { literals(s, w, 10), s.PutMatch(w, 10, 3), s.PutEndOfBlock(w, true, false); },
       ERAR_SUCCESS},
      {"without an end code", 20, [&](auto& s, auto& w) { literals(s, w, 10), s.PutMatch(w, 10, 3); }, ERAR_SUCCESS},
      {"a match past the declared size", 15, [&](auto& s, auto& w) { literals(s, w, 10), s.PutMatch(w, 10, 3); },
       ERAR_BAD_DATA},
      {"a match before the first byte", 20, [&](auto& s, auto& w) { literals(s, w, 3), s.PutMatch(w, 17, 4); },
       ERAR_BAD_DATA},
      {"the end before the declared size", 20,
       [&](auto& s, auto& w) { literals(s, w, 10), s.PutEndOfBlock(w, true, false); }, ERAR_BAD_DATA},
      {"data after the declared size", 10,
       [&](auto& s, auto& w) { literals(s, w, 14), s.PutEndOfBlock(w, true, false); }, ERAR_BAD_DATA},
      {"the data ends early", 100, [&](auto& s, auto& w) { literals(s, w, 30); }, ERAR_BAD_DATA},
      {"an unknown filter program", 20,
       [&](auto& s, auto& w) {
         literals(s, w, 4);
         // A new program (number 0 resets the list) for the next 16 bytes: 29 bytes of code
         // whose check byte is right but which is no standard filter.
         TBitWriter body;
         body.Put(0, 6);   // program number 0: "00" and 4 bits
         body.Put(0, 6);   // block start 0
         body.Put(1, 2);   // block length 16: "01" and 8 bits
         body.Put(16, 8);
         body.Put(1, 2);   // code size 29
         body.Put(29, 8);
         std::vector<uint8_t> code(29);
         for (size_t i = 1; i < code.size(); ++i) code[i] = uint8_t(i * 37);
         for (size_t i = 1; i < code.size(); ++i) code[0] ^= code[i];
         for (uint8_t b : code) body.Put(b, 8);
         // New program, length given, record length 7 + the byte after it.
         std::vector<uint8_t> rec;
         rec.push_back(0x80 | 0x20 | 6);
         rec.push_back(uint8_t(body.Bytes.size() - 7));
         for (char b : body.Bytes) rec.push_back(uint8_t(b));
         s.PutFilterRecord(w, rec);
         literals(s, w, 16);
       },
       ERAR_BAD_DATA},
      {"a filter record shorter than its numbers", 20,
       [&](auto& s, auto& w) {
         literals(s, w, 4);
         // Program number, start, length and all registers asked for, in one byte of record.
         s.PutFilterRecord(w, {0x80 | 0x20 | 0x10, 0xFF});
         literals(s, w, 16);
       },
       ERAR_BAD_DATA},
  };
  for (const TLimitCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TRar29StreamWriter writer(3);
    TBitWriter w;
    writer.PutTables(w, false);
    c.Write(writer, w);
    TMemorySources sources;
    TSampleEntry e = MemoryEntry(sources, w.Bytes, 29, c.DeclaredSize, false);
    TSampleInput input(e, sources);
    TDigestSink sink;
    TRar3Unpacker unpacker;
    EXPECT_EQ(unpacker.Unpack(e.Header, input, sink), c.Result);
    EXPECT_LE(sink.Size, c.DeclaredSize);
  }
}

TEST(Rar3Streams, BrokenTablesAfterTheDataSpoilOnlyTheNextEntry) {
  TRar20StreamWriter writer(11);
  TStreamOptions o = Options(5000, 8, 0);
  std::string first = writer.Entry(o, true);
  std::string second = writer.Entry(o);
  TMemorySources sources;
  // The tables after the first entry's data lose their end.
  TSampleEntry e1 = MemoryEntry(sources, first.substr(0, first.size() - 40), 20, o.Size, false);
  TSampleEntry e2 = MemoryEntry(sources, second, 20, o.Size, true);
  TSampleEntry whole = MemoryEntry(sources, first, 20, o.Size, false);
  TRar3Unpacker reference, unpacker;
  TSampleInput wholeInput(whole, sources), input1(e1, sources), input2(e2, sources);
  TDigestSink expected, got1, got2;
  ASSERT_EQ(reference.Unpack(whole.Header, wholeInput, expected), ERAR_SUCCESS);
  EXPECT_EQ(unpacker.Unpack(e1.Header, input1, got1), ERAR_SUCCESS);
  EXPECT_EQ(got1.Digest(), expected.Digest());
  EXPECT_EQ(unpacker.Unpack(e2.Header, input2, got2), ERAR_BAD_DATA);
}

// --- the standard filters against their forward transforms ---

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed, unsigned alphabet = 256) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(size);
  for (auto& b : v) b = uint8_t(rng() % alphabet);
  return v;
}

TEST(Rar3Filters, X86CallsComeBackRelative) {
  for (TRar3Filter filter : {TRar3Filter::E8, TRar3Filter::E8E9}) {
    const uint32_t fileOffset = 0x12345;
    std::vector<uint8_t> original = RandomBytes(5000, 5, 16);
    // Opcodes with targets of every kind: near (converted), far outside the space (left).
    std::mt19937 rng(9);
    for (size_t i = 0; i + 5 < original.size(); i += 7 + rng() % 20) {
      original[i] = (rng() & 1) ? 0xE8 : 0xE9;
      int32_t rel = int32_t(rng() % 0x3000000) - 0x1800000;
      for (int k = 0; k < 4; ++k) original[i + 1 + k] = uint8_t(uint32_t(rel) >> (8 * k));
    }
    // The archiver's side: a relative target becomes absolute where the result stays in the space.
    std::vector<uint8_t> stored = original;
    const uint8_t second = filter == TRar3Filter::E8E9 ? 0xE9 : 0xE8;
    for (uint32_t pos = 0; pos + 4 < stored.size();) {
      uint8_t op = stored[pos++];
      if (op != 0xE8 && op != second) continue;
      int32_t rel = int32_t(uint32_t(stored[pos]) | uint32_t(stored[pos + 1]) << 8 | uint32_t(stored[pos + 2]) << 16 |
                            uint32_t(stored[pos + 3]) << 24);
      int64_t offset = pos + fileOffset, absolute = rel + offset;
      int64_t value = rel;
      if (absolute >= 0 && absolute < 0x1000000) value = absolute;
      else if (absolute >= 0x1000000 && rel < 0x1000000) value = rel - 0x1000000;
      for (int k = 0; k < 4; ++k) stored[pos + k] = uint8_t(uint64_t(value) >> (8 * k));
      pos += 4;
    }
    std::vector<uint8_t> buffer(2 * stored.size());
    std::copy(stored.begin(), stored.end(), buffer.begin());
    const uint8_t* out = RunRar3Filter(filter, buffer.data(), uint32_t(stored.size()), {}, fileOffset);
    EXPECT_TRUE(std::equal(original.begin(), original.end(), out));
  }
}

TEST(Rar3Filters, DeltaChannelsComeBackInterleaved) {
  for (uint32_t channels : {1u, 3u, 4u, 7u}) {
    std::vector<uint8_t> original = RandomBytes(999, channels);
    std::vector<uint8_t> buffer(2 * original.size());
    size_t at = 0;
    for (uint32_t c = 0; c < channels; ++c) {
      uint8_t previous = 0;
      for (size_t i = c; i < original.size(); i += channels) {
        buffer[at++] = uint8_t(previous - original[i]);
        previous = original[i];
      }
    }
    TRar3FilterRegisters regs;
    regs.R[0] = channels;
    const uint8_t* out = RunRar3Filter(TRar3Filter::Delta, buffer.data(), uint32_t(original.size()), regs, 0);
    EXPECT_TRUE(std::equal(original.begin(), original.end(), out)) << channels;
  }
  // No channels: the output area stays as it started, zeros (as libunarr gives it).
  std::vector<uint8_t> buffer(8, 0x41);
  const uint8_t* out = RunRar3Filter(TRar3Filter::Delta, buffer.data(), 4, {}, 0);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), std::vector<uint8_t>(4, 0));
}

TEST(Rar3Filters, RgbPixelsComeBackFromTheirPredictions) {
  const uint32_t width = 31, rows = 9, stride = 3 * width, size = stride * rows;
  for (uint32_t redAt : {0u, 1u, 2u}) {
    std::vector<uint8_t> original = RandomBytes(size, 40 + redAt, 32);
    // The archiver's side: green taken from red and blue, then each byte stored as its
    // Paeth prediction minus its value. The prediction uses the byte before of the same colour
    // and, from the second row on, the bytes `stride` and `stride - 3` back (the register
    // holds the distance to the upper-left neighbour).
    std::vector<uint8_t> planes = original;
    for (uint32_t i = redAt; i + 2 < size; i += 3) {
      planes[i] = uint8_t(planes[i] - planes[i + 1]);
      planes[i + 2] = uint8_t(planes[i + 2] - planes[i + 1]);
    }
    std::vector<uint8_t> buffer(2 * size);
    size_t at = 0;
    for (uint32_t c = 0; c < 3; ++c) {
      for (uint32_t i = c; i < size; i += 3) {
        int left = i >= 3 ? planes[i - 3] : 0;
        int predicted = left;
        if (i >= stride) {
          int up = planes[i - stride + 3], upLeft = planes[i - stride];
          int p = left + up - upLeft, pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - upLeft);
          predicted = pa <= pb && pa <= pc ? left : pb <= pc ? up : upLeft;
        }
        buffer[at++] = uint8_t(predicted - planes[i]);
      }
    }
    TRar3FilterRegisters regs;
    regs.R[0] = stride;
    regs.R[1] = redAt;
    const uint8_t* out = RunRar3Filter(TRar3Filter::Rgb, buffer.data(), size, regs, 0);
    EXPECT_TRUE(std::equal(original.begin(), original.end(), out)) << redAt;
  }
}

// Parameters any filter record may set, up to 2^32 - 1: a channel count or a red position past
// the block acts as the largest that fits (one byte per channel, no green to add back), and
// never reads or writes outside the block.
TEST(Rar3Filters, HugeParametersStayInsideTheBlock) {
  const uint32_t size = 96;
  const std::vector<uint8_t> input = RandomBytes(size, 7);
  auto run = [&](TRar3Filter filter, uint32_t r0, uint32_t r1) {
    std::vector<uint8_t> buffer(2 * size);
    std::copy(input.begin(), input.end(), buffer.begin());
    TRar3FilterRegisters regs;
    regs.R[0] = r0;
    regs.R[1] = r1;
    const uint8_t* out = RunRar3Filter(filter, buffer.data(), size, regs, 0);
    return std::vector<uint8_t>(out, out + size);
  };
  for (uint32_t huge : {0xFFFFFFF0u, 0xFFFFFFFFu, 0x80000000u}) {
    SCOPED_TRACE(huge);
    EXPECT_EQ(run(TRar3Filter::Delta, huge, 0), run(TRar3Filter::Delta, size, 0));
    EXPECT_EQ(run(TRar3Filter::Audio, huge, 0), run(TRar3Filter::Audio, size, 0));
    EXPECT_EQ(run(TRar3Filter::Rgb, 3 * 8, huge), run(TRar3Filter::Rgb, 3 * 8, size));
  }
}

TEST(Rar3Filters, ItaniumBranchTargetsComeBackRelative) {
  const uint32_t fileOffset = 0x4560;
  std::vector<uint8_t> original = RandomBytes(16 * 40 + 5, 77);
  std::vector<uint8_t> stored = original;
  // The archiver's side: in bundles whose template has branch slots, a slot whose opcode field
  // is 5 gets its 20-bit target plus the bundle's number.
  static const uint8_t masks[16] = {4, 4, 6, 6, 0, 0, 7, 7, 4, 4, 0, 0, 4, 4, 0, 0};
  auto bits = [](const uint8_t* d, uint32_t pos, uint32_t n) {
    uint64_t v = 0;
    for (uint32_t i = 0; i < n; ++i) v |= uint64_t((d[(pos + i) / 8] >> ((pos + i) % 8)) & 1) << i;
    return uint32_t(v);
  };
  auto setBits = [](uint8_t* d, uint32_t value, uint32_t pos, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
      uint8_t& b = d[(pos + i) / 8];
      b = uint8_t((b & ~(1u << ((pos + i) % 8))) | (((value >> i) & 1) << ((pos + i) % 8)));
    }
  };
  std::mt19937 rng(3);
  size_t converted = 0;
  for (uint32_t bundle = 0; 16 * bundle + 21 < stored.size(); ++bundle) {
    uint8_t* d = stored.data() + 16 * bundle;
    d[0] = uint8_t((d[0] & ~0x1F) | (0x10 + rng() % 16));
    uint8_t mask = masks[(d[0] & 0x1F) - 0x10];
    for (uint32_t slot = 0; slot < 3; ++slot) {
      uint32_t start = slot * 41 + 5;
      if (!(mask & (1u << slot))) continue;
      if (rng() & 1) setBits(d, 5, start + 37, 4);
      if (bits(d, start + 37, 4) != 5) continue;
      setBits(d, (bits(d, start + 13, 20) + (fileOffset >> 4) + bundle) & 0xFFFFF, start + 13, 20);
      ++converted;
    }
    std::copy(d, d + 16, original.begin() + 16 * bundle);
    // The original keeps the opcode fields just set, with the targets before conversion.
    for (uint32_t slot = 0; slot < 3; ++slot) {
      uint32_t start = slot * 41 + 5;
      if ((mask & (1u << slot)) && bits(d, start + 37, 4) == 5)
        setBits(original.data() + 16 * bundle, (bits(d, start + 13, 20) - (fileOffset >> 4) - bundle) & 0xFFFFF,
                start + 13, 20);
    }
  }
  ASSERT_GT(converted, 10u);
  std::vector<uint8_t> buffer(2 * stored.size());
  std::copy(stored.begin(), stored.end(), buffer.begin());
  const uint8_t* out = RunRar3Filter(TRar3Filter::Itanium, buffer.data(), uint32_t(stored.size()), {}, fileOffset);
  EXPECT_TRUE(std::equal(original.begin(), original.end(), out));
}

TEST(Rar3Filters, OnlyTheStandardProgramsAreKnown) {
  std::vector<uint8_t> code = RandomBytes(53, 1);
  code[0] = 0;
  for (size_t i = 1; i < code.size(); ++i) code[0] ^= code[i];
  EXPECT_EQ(IdentifyRar3Filter(code.data(), code.size()), TRar3Filter::Unknown);
  EXPECT_EQ(IdentifyRar3Filter(code.data(), 0), TRar3Filter::Unknown);
  EXPECT_EQ(RunRar3Filter(TRar3Filter::Unknown, code.data(), 4, {}, 0), nullptr);
}

}  // namespace
