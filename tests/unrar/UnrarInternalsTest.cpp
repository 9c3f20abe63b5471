// The library's inner pieces: volume names, name decoding, safe joining, the block layer over
// memory images, and the temporary-file path of the unpacker.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "RarWriter.h"
#include "UnrarTestSupport.h"
#include "unrar/RarArchive.h"
#include "unrar/RarCrc.h"
#include "unrar/RarNames.h"
#include "unrar/RarOutput.h"
#include "unrar/RarUnpack.h"
#include "unrar/RarVolumes.h"
#include "unrar/RarWindow.h"

namespace fs = std::filesystem;

namespace {

TEST(UnrarInternals, NextVolumeNames) {
  struct TCase {
    const char* Current;
    bool NewNaming;
    const char* Next;
  } cases[] = {
      {"/d/set.rar", false, "/d/set.r00"},       {"/d/set.r00", false, "/d/set.r01"},
      {"/d/set.r09", false, "/d/set.r10"},       {"/d/set.r99", false, "/d/set.s00"},
      {"/d/SET.RAR", false, "/d/SET.R00"},       {"/d/set.001", false, "/d/set.002"},
      {"/d/set.exe", false, "/d/set.r00"},       {"/d/set.part1.rar", true, "/d/set.part2.rar"},
      {"/d/set.part09.rar", true, "/d/set.part10.rar"}, {"/d/set.part001.rar", true, "/d/set.part002.rar"},
      {"/d/set.part9.rar", true, "/d/set.part10.rar"},  {"/d/v2.x/set.rar", true, "/d/v2.x/set.r00"},
      {"/d.5/noext", false, "/d.5/noext.r00"},
  };
  for (const auto& c : cases) EXPECT_EQ(NextVolumeName(c.Current, c.NewNaming), c.Next) << c.Current;
}

std::string Field(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += char(b);
  return s;
}

TEST(UnrarInternals, UnicodeNameDecoding) {
  struct TCase {
    std::string Field;
    const char* Expected;
  } cases[] = {
      // No zero byte: the whole field is UTF-8.
      {"plain-\xc3\xa9.txt", "plain-\xc3\xa9.txt"},
      // Code 0 (low byte only) and code 2 (two bytes): "a" then U+0416.
      {Field({'a', '_', 0, 0x00, 0x20, 'a', 0x16, 0x04}), "a\xd0\x96"},
      // Code 1: low byte with HIGH 0x04 as high byte (U+0430 U+0431).
      {Field({'x', 'x', 0, 0x04, 0x50, 0x30, 0x31}), "\xd0\xb0\xd0\xb1"},
      // Code 3 without correction: copy 2 + 1 = 3 characters from the 8-bit name.
      {Field({'a', 'b', 'c', 0, 0x00, 0xC0, 0x01}), "abc"},
      // Code 3 with correction 0x10 and HIGH 0x04: 'A'+0x10 = 0x51 -> U+0451, twice.
      {Field({'A', 'A', 0, 0x04, 0xC0, 0x80, 0x10}), "\xd1\x91\xd1\x91"},
      // Truncated packed data yields what was decoded so far, never reads beyond.
      {Field({'a', 'b', 0, 0x00, 0x80, 0x41}), ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DecodeRarUnicodeName(reinterpret_cast<const uint8_t*>(c.Field.data()), c.Field.size()), c.Expected);
}

TEST(UnrarInternals, PlainNamesByHost) {
  std::string oem = "caf\x82";  // CP437 0x82 = é
  const auto* p = reinterpret_cast<const uint8_t*>(oem.data());
  EXPECT_EQ(DecodeRarPlainName(p, oem.size(), 0), "caf\xc3\xa9");
  EXPECT_EQ(DecodeRarPlainName(p, oem.size(), 2), "caf\xc3\xa9");
  EXPECT_EQ(DecodeRarPlainName(p, oem.size(), 3), oem);  // Unix: bytes as they are
  std::string utf8 = "caf\xc3\xa9";
  EXPECT_EQ(DecodeRarPlainName(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), 2), utf8);
  EXPECT_EQ(NormalizeRarName(std::string("a\\b\x01.txt", 8)), "a/b_.txt");
}

TEST(UnrarInternals, JoinInside) {
  struct TCase {
    const char* Dest;
    const char* Name;
    const char* Joined;
  } cases[] = {
      {"/out", "a/b.txt", "/out/a/b.txt"}, {"/out/", "a/b.txt", "/out/a/b.txt"},
      {"/out", "../../x", "/out/x"},       {"/out", "/etc/passwd", "/out/etc/passwd"},
      {"/out", "C:/x", "/out/x"},          {"/out", "a/./../b", "/out/a/b"},
      {"", "a//b", "a/b"},                 {"/out", "..", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(JoinInside(c.Dest, c.Name), c.Joined) << c.Name;
}

TEST(UnrarInternals, Crc32MatchesTheStandardCheckValue) {
  EXPECT_EQ(RarCrc32(0, "123456789", 9), 0xCBF43926u);
  std::string big(100003, 'q');
  EXPECT_EQ(RarCrc32(RarCrc32(0, big.data(), 50001), big.data() + 50001, 50002), RarTestCrc(big));
}

// Every prefix of a valid archive in memory: the block layer stops cleanly, never reads past.
TEST(UnrarInternals, EveryTruncationOfAnArchiveFailsCleanly) {
  TTempDir dir;
  std::vector<TRarTestEntry> entries(2);
  entries[0].Name = "one.txt";
  entries[0].Data = "first entry";
  entries[1].Name = "\xd0\xb4.txt";
  entries[1].Unicode = true;
  entries[1].Data = "second";
  std::string image = ReadWholeFile(WriteRarArchive(dir.File("t.rar"), entries).front());
  for (size_t length = 0; length <= image.size(); ++length) {
    std::vector<uint8_t> copy(image.begin(), image.begin() + long(length));
    int result = 0;
    auto archive = TRarArchive::OpenMemory(copy.data(), copy.size(), result);
    if (!archive) {
      EXPECT_NE(result, 0);
      continue;
    }
    TRarEntryHeader header;
    std::string volume;
    int entriesSeen = 0;
    while ((result = archive->ReadHeader(header, volume)) == ERAR_SUCCESS || result == ERAR_BAD_DATA) {
      ++entriesSeen;
      int processed = archive->ProcessFile(RAR_TEST, nullptr, nullptr);
      if (length == image.size()) {
        EXPECT_EQ(processed, ERAR_SUCCESS);
      }
    }
    if (length == image.size()) {
      EXPECT_EQ(entriesSeen, 2);
    }
    EXPECT_LE(entriesSeen, 2);
  }
}

// Compressed entries of a plain archive file, of one behind a self-extractor stub and of a
// split one are decoded straight from their parts: the file comes out whole and nothing else
// is left in the destination folder.
TEST(UnrarInternals, CompressedEntriesLeaveOnlyTheirFile) {
  struct TCase {
    const char* Archive;
    const char* Entry;
    uint32_t Crc;
  } cases[] = {
      {"libarchive/test_read_format_rar_compress_best.rar", "LibarchiveAddingTest.html", 0x5e05a663},
      {"rarfile/rar3-seektest.sfx", "stest1.txt", 0xc5b7e6a2},
      {"libarchive/test_rar_multivolume_single_file.part1.rar", "LibarchiveAddingTest.html", 0x5e05a663},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Archive);
    TTempDir out;
    int result = 0;
    auto archive = TRarArchive::OpenFile(TestDataPath(std::string("rar/") + c.Archive), false, result);
    ASSERT_TRUE(archive);
    TRarEntryHeader header;
    std::string volume;
    ASSERT_EQ(archive->ReadHeader(header, volume), ERAR_SUCCESS);
    EXPECT_EQ(archive->ProcessFile(RAR_EXTRACT, out.Path().c_str(), nullptr), ERAR_SUCCESS);
    EXPECT_EQ(FileCrc(out.File(c.Entry)), c.Crc);
    size_t files = 0;
    for (auto& p : fs::directory_iterator(out.Path())) files += p.is_regular_file();
    EXPECT_EQ(files, 1u);
  }
}

// The packed bytes of an entry come part after part, whatever size the reader asks for; a
// missing volume and a part shorter than its header says end the entry with their codes.
TEST(UnrarInternals, PartsInputReadsAcrossVolumes) {
  struct TMemoryVolumes : TSourceProvider {
    std::map<std::string, std::string> Data;
    std::map<std::string, std::unique_ptr<TMemorySource>> Open;
    TByteSource* SourceFor(const std::string& path) override {
      auto found = Data.find(path);
      if (found == Data.end()) return nullptr;
      auto& source = Open[path];
      source = std::make_unique<TMemorySource>(found->second.data(), found->second.size());
      return source.get();
    }
  } volumes;
  volumes.Data = {{"v1", "xxHELLOyy"}, {"v2", "zWORLD"}, {"v3", "ab"}};
  auto readAll = [&](const std::vector<TDataPart>& parts, size_t chunk, std::string& out) {
    TPartsInput input(parts, volumes);
    std::vector<uint8_t> buffer(chunk);
    for (;;) {
      size_t got = 0;
      if (int rc = input.Read(buffer.data(), buffer.size(), got)) return rc;
      if (got == 0) return 0;
      out.append(buffer.begin(), buffer.begin() + long(got));
    }
  };
  for (size_t chunk : {1, 3, 100}) {
    std::string out;
    EXPECT_EQ(readAll({{"v1", 2, 5}, {"v2", 1, 5}, {"v3", 0, 0}}, chunk, out), 0);
    EXPECT_EQ(out, "HELLOWORLD");
  }
  std::string out;
  EXPECT_EQ(readAll({{"v1", 2, 5}, {"gone", 0, 3}}, 4, out), ERAR_EOPEN);
  EXPECT_EQ(out, "HELLO");
  out.clear();
  EXPECT_EQ(readAll({{"v3", 0, 5}}, 10, out), ERAR_EREAD);
}

// A match copied inside the circular window gives what copying it byte by byte gives: plain
// and overlapping runs, runs across the window's end, and a distance close to the window's
// size, whose source wraps round to just after the target.
TEST(UnrarInternals, MatchesCopyInsideTheWindowAsByteByByte) {
  const struct {
    uint64_t Pos;
    uint32_t Length;
    uint64_t Dist;
  } cases[] = {
      {40, 8, 20}, {40, 20, 1}, {40, 20, 3}, {40, 20, 9}, {60, 10, 30},  // inside, with and without overlap
      {2, 6, 60}, {3, 5, 61}, {1, 6, 62},                                 // source wraps to just after the target
      {60, 10, 20}, {30, 12, 40},                                         // across the end
      {10, 5, 64},                                                        // a whole window back
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Pos << "/" << c.Length << "/" << c.Dist);
    uint8_t win[64], expected[64];
    for (int i = 0; i < 64; ++i) win[i] = expected[i] = uint8_t(i * 7 + 1);
    for (uint32_t i = 0; i < c.Length; ++i) expected[(c.Pos + i) & 63] = expected[(c.Pos + i - c.Dist) & 63];
    RarCopyMatch(win, 63, c.Pos, c.Length, c.Dist);
    EXPECT_EQ(std::string(win, win + 64), std::string(expected, expected + 64));
  }
}

}  // namespace
