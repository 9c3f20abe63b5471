// The RAR 2.0-4.x decoder on every compressed entry of the real sample archives: the CRC each
// header records, the same bytes as libunarr wherever libunarr succeeds, solid sets only in
// order, any read sizes, errors of the input and the sink, truncated and hostile data.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "CryptTestSupport.h"
#include "Rar3TestSupport.h"
#include "UnrarTestSupport.h"
#include "unrar/Rar3Unpack.h"
#include "unrar/RarCrc.h"
#include "unrar/unrar.h"

namespace fs = std::filesystem;

namespace {

// The first volume of every set in both sample folders.
std::vector<std::string> SampleSets() {
  std::vector<std::string> sets;
  for (const char* folder : {"rar/libarchive", "rar/rarfile"}) {
    for (const auto& f : fs::directory_iterator(TestDataPath(folder))) {
      std::string name = f.path().filename().string();
      std::string ext = f.path().extension().string();
      if (ext != ".rar" && ext != ".exe" && ext != ".sfx") continue;
      // Later volumes of new-style sets are read through their first one.
      size_t part = name.rfind(".part");
      if (part != std::string::npos && std::stoi(name.substr(part + 5)) != 1) continue;
      sets.push_back(f.path().string());
    }
  }
  std::sort(sets.begin(), sets.end());
  return sets;
}

std::string Relative(const std::string& path) {
  return fs::path(path).parent_path().filename().string() + "/" + fs::path(path).filename().string();
}

const TSampleEntry* Find(const TSampleSet& set, const std::string& name) {
  for (const auto& e : set.Entries)
    if (e.Header.Name == name) return &e;
  return nullptr;
}

std::string PackedBytes(const TSampleEntry& e) {
  TFileSources sources;
  TSampleInput input(e, sources);
  return Drain(input).Data;
}

TEST(Rar3Samples, EveryCompressedEntryHasItsCrcAndLibunarrsBytes) {
  // Entries that cannot come out right, and why: the result the decoder must give instead.
  const std::map<std::pair<std::string, std::string>, int> failing = {
      // libarchive's own password for these is not known; a wrong key gives damaged data.
      {{"libarchive/test_read_format_rar4_encrypted.rar", "d.txt"}, ERAR_BAD_DATA},
      {{"libarchive/test_read_format_rar_encryption_data.rar", "foo.txt"}, ERAR_BAD_DATA},
      {{"libarchive/test_read_format_rar_encryption_data.rar", "bar.txt"}, ERAR_BAD_DATA},
      {{"libarchive/test_read_format_rar_encryption_partially.rar", "foo.txt"}, ERAR_BAD_DATA},
      // The header claims more packed data than the file holds.
      {{"libarchive/test_read_format_rar_invalid1.rar", "test"}, ERAR_EREAD},
  };
  size_t decoded = 0, compared = 0;
  std::set<std::string> names;
  for (const std::string& path : SampleSets()) {
    SCOPED_TRACE(Relative(path));
    TSampleSet set = ReadSampleSet(path);
    TFileSources sources;
    std::vector<const TSampleEntry*> plain;
    for (const auto& e : set.Entries)
      if (!e.Header.Encrypted()) plain.push_back(&e);
    std::vector<TReference> reference = UnarrReference(plain, set.Solid, sources);
    TRar3Unpacker unpacker;
    for (const auto& e : set.Entries) {
      if (!IsRar3Compressed(e.Header)) continue;
      SCOPED_TRACE(e.Header.Name);
      // RAR 2.0 encryption has no decryptor yet.
      if (e.Header.Encrypted() && RarCipherForVersion(e.Header.UnpVer) != TRarCipher::Rar29Aes) continue;
      TSampleInput input(e, sources, e.Header.Encrypted() ? "password" : "");
      TDigestSink sink;
      int rc = unpacker.Unpack(e.Header, input, sink);
      EXPECT_LE(sink.Size, e.Header.UnpSize);
      auto expected = failing.find({Relative(path), e.Header.Name});
      if (expected != failing.end()) {
        EXPECT_EQ(rc, expected->second);
        continue;
      }
      ASSERT_EQ(rc, ERAR_SUCCESS);
      EXPECT_EQ(sink.Size, e.Header.UnpSize);
      EXPECT_EQ(sink.Crc, e.WholeCrc);
      ++decoded;
      names.insert(e.Header.Name);
      auto at = std::find(plain.begin(), plain.end(), &e);
      if (at != plain.end() && reference[size_t(at - plain.begin())].Ok) {
        EXPECT_EQ(sink.Digest(), reference[size_t(at - plain.begin())].Digest);
        ++compared;
      }
    }
  }
  // The walk over the folders found what they hold: a broken walk must not pass as success.
  EXPECT_GE(decoded, 36u);
  EXPECT_GE(compared, 27u);
  for (const char* name : {"bsdcat.exe", "ppmd_lzss_conversion_test.txt", "lowdist-reset.bin", "file.txt"})
    EXPECT_TRUE(names.count(name)) << name;
}

TEST(Rar3Samples, SolidEntriesDecodeOnlyAfterTheirPredecessors) {
  // LZ with filters, and PPMd.
  for (const char* sample : {"rar/rarfile/rar3-solid.rar", "rar/rarfile/unicode.rar"}) {
    SCOPED_TRACE(sample);
    TSampleSet set = ReadSampleSet(TestDataPath(sample));
    ASSERT_EQ(set.Entries.size(), 2u);
    const TSampleEntry &first = set.Entries[0], &second = set.Entries[1];
    ASSERT_TRUE(second.Header.Flags & RarFileSolid);
    TFileSources sources;
    {
      TRar3Unpacker alone;
      TSampleInput input(second, sources);
      TDigestSink sink;
      EXPECT_EQ(alone.Unpack(second.Header, input, sink), ERAR_BAD_DATA);
      EXPECT_EQ(sink.Size, 0u);
    }
    // The entry the caller skips is decoded into nothing; the next one still comes out right.
    TRar3Unpacker unpacker;
    TSampleInput input1(first, sources), input2(second, sources);
    TDropSink drop;
    ASSERT_EQ(unpacker.Unpack(first.Header, input1, drop), ERAR_SUCCESS);
    TDigestSink sink;
    ASSERT_EQ(unpacker.Unpack(second.Header, input2, sink), ERAR_SUCCESS);
    EXPECT_EQ(sink.Crc, second.WholeCrc);
  }
}

struct TPick {
  const char* Sample;
  const char* Entry;
};
// LZ with filters, PPMd, PPMd and LZ blocks in turn, RAR 2.0.
const TPick Picks[] = {
    {"rar/libarchive/test_read_format_rar_filter.rar", "bsdcat.exe"},
    {"rar/libarchive/test_read_format_rar_compress_best.rar", "LibarchiveAddingTest.html"},
    {"rar/rarfile/seektest.rar", "stest1.txt"},
    {"rar/rarfile/rar2-unix-owner.rar", "file.txt"},
};

// Runs `check` on each picked entry and its packed bytes.
void ForEachPick(const std::function<void(const TSampleEntry&, const std::string&)>& check) {
  for (const TPick& pick : Picks) {
    SCOPED_TRACE(pick.Sample);
    TSampleSet set = ReadSampleSet(TestDataPath(pick.Sample));
    const TSampleEntry* e = Find(set, pick.Entry);
    ASSERT_NE(e, nullptr);
    check(*e, PackedBytes(*e));
  }
}

TEST(Rar3Samples, AnyReadSizesGiveTheSameData) {
  ForEachPick([](const TSampleEntry& e, const std::string& packed) {
    for (const std::vector<size_t>& chunks : std::vector<std::vector<size_t>>{{1}, {3, 7, 1}, {65536 + 5}, {}}) {
      TMemoryInput input(packed, chunks);
      TDigestSink sink;
      TRar3Unpacker unpacker;
      ASSERT_EQ(unpacker.Unpack(e.Header, input, sink), ERAR_SUCCESS) << chunks.size();
      EXPECT_EQ(sink.Crc, e.WholeCrc);
    }
  });
}

class TFailingSink : public IUnpackSink {
 public:
  explicit TFailingSink(uint64_t after) : After(after) {}
  int Write(const uint8_t*, size_t size) override {
    if (Size + size > After) return ERAR_EWRITE;
    Size += size;
    return 0;
  }
  uint64_t Size = 0, After;
};

TEST(Rar3Samples, InputAndSinkErrorsEndTheEntryAndTheSet) {
  TSampleSet set = ReadSampleSet(TestDataPath("rar/rarfile/rar3-solid.rar"));
  ASSERT_EQ(set.Entries.size(), 2u);
  std::string first = PackedBytes(set.Entries[0]), second = PackedBytes(set.Entries[1]);
  TDigestSink ignored;
  {
    TRar3Unpacker unpacker;
    TMemoryInput input(first), next(second);
    TFailingSink sink(1000);
    EXPECT_EQ(unpacker.Unpack(set.Entries[0].Header, input, sink), ERAR_EWRITE);
    EXPECT_EQ(unpacker.Unpack(set.Entries[1].Header, next, ignored), ERAR_BAD_DATA);
  }
  {
    TRar3Unpacker unpacker;
    TMemoryInput input(first, {16}), next(second);
    input.FailAfter = first.size() / 2;
    input.Failure = ERAR_EREAD;
    EXPECT_EQ(unpacker.Unpack(set.Entries[0].Header, input, ignored), ERAR_EREAD);
    EXPECT_EQ(unpacker.Unpack(set.Entries[1].Header, next, ignored), ERAR_BAD_DATA);
  }
  // A large entry: the sink's error comes back from the middle of the data, not at its end.
  TSampleSet big = ReadSampleSet(TestDataPath("rar/libarchive/test_read_format_rar_ppmd_lzss_conversion.rar"));
  ASSERT_EQ(big.Entries.size(), 1u);
  TFileSources sources;
  TSampleInput input(big.Entries[0], sources);
  TFailingSink sink(5u << 20);
  TRar3Unpacker unpacker;
  EXPECT_EQ(unpacker.Unpack(big.Entries[0].Header, input, sink), ERAR_EWRITE);
  EXPECT_LE(sink.Size, 5u << 20);
}

TEST(Rar3Samples, TruncatedDataFailsCleanly) {
  ForEachPick([](const TSampleEntry& e, const std::string& packed) {
    size_t step = std::max<size_t>(1, packed.size() / 300);
    for (size_t length = 0; length < packed.size(); length += step) {
      TMemoryInput input(packed.substr(0, length));
      TDigestSink sink;
      TRar3Unpacker unpacker;
      int rc = unpacker.Unpack(e.Header, input, sink);
      EXPECT_LE(sink.Size, e.Header.UnpSize);
      // Only the last bytes may go missing without harm: all data came before them.
      if (rc == ERAR_SUCCESS)
        EXPECT_EQ(sink.Crc, e.WholeCrc) << length;
      else
        EXPECT_EQ(rc, ERAR_BAD_DATA) << length;
    }
  });
}

// Every entry's data, whatever it really is, read as each format: the decoder fails or
// succeeds, never reads or writes out of bounds (the sanitizer build checks that) and never
// yields more than the declared size. Covers libarchive's deliberately broken samples (PPMd
// use-after-free, overflows, unbound static data, ...).
TEST(Rar3Samples, AnyDataReadAsEachFormatEndsCleanly) {
  size_t tried = 0;
  for (const std::string& path : SampleSets()) {
    SCOPED_TRACE(Relative(path));
    TSampleSet set = ReadSampleSet(path);
    TFileSources sources;
    for (uint8_t version : {20, 29}) {
      TRar3Unpacker unpacker;
      for (const auto& e : set.Entries) {
        if (e.Header.PackSize > (4u << 20)) continue;
        TRarEntryHeader h = e.Header;
        h.UnpVer = version;
        h.Method = RarMethodStore + 3;
        h.Flags &= uint16_t(~RarFileDirectoryMask);
        h.UnpSize = std::min<uint64_t>(h.UnpSize, 64u << 20);
        TSampleInput input(e, sources);
        TDigestSink sink;
        unpacker.Unpack(h, input, sink);
        EXPECT_LE(sink.Size, h.UnpSize) << e.Header.Name;
        ++tried;
      }
    }
  }
  EXPECT_GE(tried, 200u);
}

TEST(Rar3Samples, VersionsMethodsAndDictionaries) {
  TSampleSet set = ReadSampleSet(TestDataPath("rar/libarchive/test_read_format_rar_compress_normal.rar"));
  ASSERT_FALSE(set.Entries.empty());
  const TSampleEntry& e = set.Entries[0];
  struct TCase {
    uint8_t UnpVer, Method;
    uint16_t DictionaryBits;
    int Result;
  } cases[] = {
      {29, 0x33, 0, ERAR_SUCCESS},  {36, 0x33, 6, ERAR_SUCCESS},       {15, 0x33, 0, ERAR_UNKNOWN_FORMAT},
      {50, 0x33, 0, ERAR_UNKNOWN_FORMAT}, {29, 0x30, 0, ERAR_UNKNOWN_FORMAT}, {29, 0x36, 0, ERAR_UNKNOWN_FORMAT},
      {29, 0x33, 7, ERAR_BAD_DATA},  // the folder value
  };
  for (const TCase& c : cases) {
    TRarEntryHeader h = e.Header;
    h.UnpVer = c.UnpVer;
    h.Method = c.Method;
    h.Flags = uint16_t((h.Flags & ~RarFileDirectoryMask) | (c.DictionaryBits << 5));
    TFileSources sources;
    TSampleInput input(e, sources);
    TDigestSink sink;
    TRar3Unpacker unpacker;
    EXPECT_EQ(unpacker.Unpack(h, input, sink), c.Result) << int(c.UnpVer) << " " << int(c.Method);
    EXPECT_EQ(TRar3Unpacker::Decodes(c.UnpVer), c.UnpVer != 15 && c.UnpVer != 50);
  }
}

TEST(Rar3Samples, PpmdModelsBeyondTheMemoryLimitAreRefused) {
  TSampleSet set = ReadSampleSet(TestDataPath("rar/libarchive/test_read_format_rar_compress_best.rar"));
  const TSampleEntry* e = Find(set, "LibarchiveAddingTest.html");
  ASSERT_NE(e, nullptr);
  const uint64_t saved = TRar3Unpacker::MemoryLimit;
  TRar3Unpacker::MemoryLimit = 1u << 20;  // the smallest window fits, the model does not
  TRarEntryHeader h = e->Header;
  h.Flags &= uint16_t(~RarFileDirectoryMask);
  TFileSources sources;
  TSampleInput input(*e, sources);
  TDigestSink sink;
  TRar3Unpacker unpacker;
  int rc = unpacker.Unpack(h, input, sink);
  TRar3Unpacker::MemoryLimit = saved;
  EXPECT_EQ(rc, ERAR_NO_MEMORY);
}

}  // namespace
