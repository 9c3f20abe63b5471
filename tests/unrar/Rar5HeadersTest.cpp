// RAR 5 headers made by hand: every extra record and its damaged forms, the compression info,
// and framings that lie about sizes.
#include <gtest/gtest.h>

#include "Rar5Writer.h"
#include "unrar/Rar5Headers.h"
#include "unrar/RarBlocks.h"
#include "unrar/unrar.h"

namespace {

std::string Vint(uint64_t v) {
  std::string s;
  PutRar5Vint(s, v);
  return s;
}

std::string U32(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += char(uint8_t(v >> (8 * i)));
  return s;
}

std::string U64(uint64_t v) { return U32(uint32_t(v)) + U32(uint32_t(v >> 32)); }

std::string Text(const std::string& s) { return Vint(s.size()) + s; }

// The block reader over an image it keeps; Opened is the result of opening it.
struct TImage {
  explicit TImage(std::string bytes) : Bytes(std::move(bytes)), Source(Bytes.data(), Bytes.size()), Reader(Source) {}
  std::string Bytes;
  TMemorySource Source;
  TRarBlockReader Reader;
  int Opened = Reader.Open();
};

TRarBlock FirstBlock(const std::string& image) {
  TImage i(image);
  return i.Opened == ERAR_SUCCESS ? i.Reader.Next() : TRarBlock{};
}

TRarEntryHeader WithExtra(const std::string& extra) {
  TRar5RawFile f;
  f.Name = "n";
  f.UnpSize = 1;
  f.Packed = "x";
  f.CompressionInfo = Rar5CompressionInfo(0, 128u << 10, false);
  f.Extra = extra;
  TRarBlock block = FirstBlock(Rar5RawArchive({f}));
  EXPECT_EQ(block.Kind, TRarBlockKind::File);
  return block.Entry;
}

TEST(Rar5Headers, ExtraRecordsFillTheEntry) {
  const std::string salt(16, '\x11'), iv(16, '\x22'), check(12, '\x33'), hash(32, '\x44');
  // 2020-01-02 03:04:06 UTC in Windows' 100 ns ticks from 1601, plus 1.5 microseconds.
  const uint64_t ticks = (1577934246ull + 11644473600ull) * 10000000ull + 15;
  struct TCase {
    const char* Label;
    std::string Extra;
    void (*Check)(const TRarEntryHeader&);
  } cases[] = {
      {"Unix times with nanoseconds",
       Rar5ExtraRecord(3, Vint(0x1F) + U32(1577934246) + U32(1000) + U32(2000) + U32(123456789) + U32(1) +
                              U32(999999999)),
       [](const TRarEntryHeader& h) {
         EXPECT_TRUE(h.MTime.Present && h.CTime.Present && h.ATime.Present);
         EXPECT_EQ(h.MTime.Seconds, 1577934246);
         EXPECT_EQ(h.MTime.Nanoseconds, 123456789u);
         EXPECT_EQ(h.CTime.Seconds, 1000);
         EXPECT_EQ(h.CTime.Nanoseconds, 1u);
         EXPECT_EQ(h.ATime.Nanoseconds, 999999999u);
         EXPECT_NE(h.FileTime, 0u);  // DOS time from the modification time
       }},
      {"Windows times, modification and access only", Rar5ExtraRecord(3, Vint(0x0A) + U64(ticks) + U64(ticks - 15)),
       [](const TRarEntryHeader& h) {
         EXPECT_EQ(h.MTime.Seconds, 1577934246);
         EXPECT_EQ(h.MTime.Nanoseconds, 1500u);
         EXPECT_FALSE(h.CTime.Present);
         EXPECT_EQ(h.ATime.Nanoseconds, 0u);
       }},
      {"nanoseconds beyond a second are dropped",
       Rar5ExtraRecord(3, Vint(0x13) + U32(5) + U32(1000000000)),
       [](const TRarEntryHeader& h) {
         EXPECT_EQ(h.MTime.Seconds, 5);
         EXPECT_EQ(h.MTime.Nanoseconds, 0u);
       }},
      {"a cut time record is passed over", Rar5ExtraRecord(3, Vint(0x0E) + U32(5)),
       [](const TRarEntryHeader& h) { EXPECT_FALSE(h.MTime.Present || h.CTime.Present); }},
      {"BLAKE2sp", Rar5ExtraRecord(2, Vint(0) + hash),
       [](const TRarEntryHeader& h) {
         EXPECT_EQ(h.HashType, RarHashBlake2);
         EXPECT_EQ(h.Hash[31], 0x44);
       }},
      {"an unknown hash leaves the CRC-32", Rar5ExtraRecord(2, Vint(7) + hash),
       [](const TRarEntryHeader& h) { EXPECT_EQ(h.HashType, RarHashCrc32); }},
      {"a cut hash leaves the CRC-32", Rar5ExtraRecord(2, Vint(0) + hash.substr(0, 31)),
       [](const TRarEntryHeader& h) { EXPECT_EQ(h.HashType, RarHashCrc32); }},
      {"file version", Rar5ExtraRecord(4, Vint(0) + Vint(7)),
       [](const TRarEntryHeader& h) { EXPECT_EQ(h.FileVersion, 7u); }},
      {"a symbolic link to a folder", Rar5ExtraRecord(5, Vint(1) + Vint(1) + Text("../target dir")),
       [](const TRarEntryHeader& h) {
         EXPECT_EQ(h.RedirType, RarRedirUnixSymlink);
         EXPECT_TRUE(h.RedirToDirectory);
         EXPECT_EQ(h.RedirTarget, "../target dir");
       }},
      {"a link of an unknown kind stays a link", Rar5ExtraRecord(5, Vint(9) + Vint(0) + Text("t")),
       [](const TRarEntryHeader& h) { EXPECT_NE(h.RedirType, RarRedirNone); }},
      {"a link whose target runs past its record", Rar5ExtraRecord(5, Vint(4) + Vint(0) + Vint(50) + "short"),
       [](const TRarEntryHeader& h) { EXPECT_EQ(h.RedirType, RarRedirNone); }},
      {"owner names and ids", Rar5ExtraRecord(6, Vint(0x0F) + Text("bin") + Text("sys") + Vint(400) + Vint(500)),
       [](const TRarEntryHeader& h) {
         EXPECT_EQ(h.OwnerUser, "bin");
         EXPECT_EQ(h.OwnerGroup, "sys");
         EXPECT_TRUE(h.HasUid && h.HasGid);
         EXPECT_EQ(h.Uid, 400u);
         EXPECT_EQ(h.Gid, 500u);
       }},
      {"an owner name longer than its record", Rar5ExtraRecord(6, Vint(0x01) + Vint(100000) + "bin"),
       [](const TRarEntryHeader& h) { EXPECT_TRUE(h.OwnerUser.empty()); }},
      {"encryption with a password check",
       Rar5ExtraRecord(1, Vint(0) + Vint(3) + std::string(1, '\x0f') + salt + iv + check),
       [](const TRarEntryHeader& h) {
         EXPECT_TRUE(h.Encrypted());
         EXPECT_TRUE(h.Crypt.HasPasswordCheck() && h.Crypt.TweakedChecksums());
         EXPECT_EQ(h.Crypt.KdfCount, 15);
         EXPECT_EQ(h.Crypt.Salt[15], 0x11);
         EXPECT_EQ(h.Crypt.Iv[0], 0x22);
         EXPECT_EQ(h.Crypt.Check[11], 0x33);
       }},
      {"a cut encryption record still marks the data encrypted", Rar5ExtraRecord(1, Vint(0) + Vint(1) + salt),
       [](const TRarEntryHeader& h) { EXPECT_TRUE(h.Encrypted()); }},
      {"unknown records are passed over", Rar5ExtraRecord(99, "whatever") + Rar5ExtraRecord(4, Vint(0) + Vint(3)),
       [](const TRarEntryHeader& h) { EXPECT_EQ(h.FileVersion, 3u); }},
      {"a record running past the area ends it, keeping what came before",
       Rar5ExtraRecord(4, Vint(0) + Vint(3)) + Vint(200) + Vint(5) + "abc",
       [](const TRarEntryHeader& h) { EXPECT_EQ(h.FileVersion, 3u); }},
      {"service data", Rar5ExtraRecord(7, ":stream"),
       [](const TRarEntryHeader& h) { EXPECT_EQ(h.ServiceData, ":stream"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    TRarEntryHeader h = WithExtra(c.Extra);
    EXPECT_EQ(h.Name, "n");
    EXPECT_TRUE(h.HeaderCrcOk);
    c.Check(h);
  }
}

TEST(Rar5Headers, CompressionInfoGivesMethodDictionaryAndVersion) {
  struct TCase {
    uint64_t Info;
    uint64_t Dict;
  } cases[] = {
      {0, 128u << 10},
      {uint64_t(1) << 10, 256u << 10},
      {uint64_t(15) << 10, 4ull << 30},  // the most RAR 5 and 6 allow
      {uint64_t(16) << 10, 0},           // only the later version goes beyond
      {1 | uint64_t(16) << 10, 8ull << 30},
      {1 | uint64_t(31) << 15, (128u << 10) + 31 * (4u << 10)},  // a fraction of 31/32 more
      {2, 0},                                                    // a version nobody knows
  };
  for (const auto& c : cases) EXPECT_EQ(Rar5DictionarySize(c.Info), c.Dict) << std::hex << c.Info;
  TRar5RawFile f;
  f.Packed = "x";
  f.CompressionInfo = Rar5CompressionInfo(5, 32u << 20, true);
  TRarEntryHeader h = FirstBlock(Rar5RawArchive({f})).Entry;
  EXPECT_EQ(h.Method, RarMethodStore + 5);
  EXPECT_EQ(h.DictSize, 32u << 20);
  EXPECT_TRUE(h.Solid());
  EXPECT_EQ(h.CompressionVersion, 0u);
  EXPECT_EQ(h.UnpVer, 50u);
}

// Headers whose sizes lie: each is refused as broken, never read beyond, never allocated.
TEST(Rar5Headers, SizesThatLieAreNeverTrusted) {
  const std::string marker("Rar!\x1a\x07\x01\x00", 8);
  const std::string mainHeader = Rar5Header(Vint(1) + Vint(0) + Vint(0));
  const std::string fileBody = Vint(0x04) + Vint(1) + Vint(0x20) + U32(0) + Vint(0) + Vint(0);
  auto file = [&](const std::string& body) { return marker + mainHeader + Rar5Header(Vint(2) + Vint(0x02) + body); };
  struct TCase {
    const char* Label;
    std::string Image;
    TRarBlockKind Kind;
  } cases[] = {
      {"a header bigger than the file", marker + mainHeader + U32(0) + Vint(1000) + Vint(2), TRarBlockKind::Broken},
      {"a header beyond 2 MiB", marker + mainHeader + U32(0) + Vint(3u << 20) + std::string(100, '\0'),
       TRarBlockKind::Broken},
      {"a size that never ends", marker + mainHeader + U32(0) + std::string(20, '\xff'), TRarBlockKind::Broken},
      {"a size of zero", marker + mainHeader + U32(0) + Vint(0) + "xyz", TRarBlockKind::Broken},
      {"an extra area larger than the header",
       marker + mainHeader + Rar5Header(Vint(2) + Vint(0x01) + Vint(100) + fileBody + Text("n")), TRarBlockKind::Broken},
      {"a name running past the header", file(Vint(0) + fileBody + Vint(50) + "n"), TRarBlockKind::Broken},
      {"fields running past the header", file(Vint(0) + Vint(0x06) + Vint(1)), TRarBlockKind::Broken},
      {"a vint past the end", file(Vint(0) + fileBody + "\x80\x80"), TRarBlockKind::Broken},
      {"a data size near 2^64", file(Vint(UINT64_MAX) + fileBody + Text("n")), TRarBlockKind::File},
      {"an unknown block", marker + mainHeader + Rar5Header(Vint(77) + Vint(0x02) + Vint(3)) + "abc",
       TRarBlockKind::Skipped},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    TImage i(c.Image);
    TRarBlockReader& reader = i.Reader;
    ASSERT_EQ(i.Opened, ERAR_SUCCESS);
    TRarBlock block = reader.Next();
    EXPECT_EQ(block.Kind, c.Kind);
    // What follows a block that claims more than the volume holds is the volume's end.
    if (c.Kind != TRarBlockKind::Broken) {
      EXPECT_EQ(reader.Next().Kind, TRarBlockKind::Eof);
    }
  }
}

TEST(Rar5Headers, ChecksumFailuresAreReportedNotHidden) {
  TRar5RawFile f;
  f.Name = "damaged";
  f.Packed = "x";
  f.UnpSize = 1;
  std::string image = Rar5RawArchive({f, f});
  // The second byte of the first file header's CRC (after marker and main header).
  size_t fileHeader = 8 + Rar5Header(Vint(1) + Vint(0) + Vint(0)).size();
  image[fileHeader + 1] = char(image[fileHeader + 1] ^ 0x10);
  TImage i(image);
  TRarBlockReader& reader = i.Reader;
  ASSERT_EQ(i.Opened, ERAR_SUCCESS);
  TRarBlock first = reader.Next(), second = reader.Next();
  ASSERT_EQ(first.Kind, TRarBlockKind::File);
  EXPECT_FALSE(first.Entry.HeaderCrcOk);
  EXPECT_EQ(first.Entry.Name, "damaged");
  ASSERT_EQ(second.Kind, TRarBlockKind::File);
  EXPECT_TRUE(second.Entry.HeaderCrcOk);
  // A damaged main header opens, and says so.
  std::string badMain = Rar5RawArchive({f});
  badMain[8] = char(badMain[8] ^ 1);
  TImage damaged(badMain);
  ASSERT_EQ(damaged.Opened, ERAR_SUCCESS);
  EXPECT_FALSE(damaged.Reader.MainCrcOk());
}

// Behind a stub, only a marker whose main header checks out starts the archive.
TEST(Rar5Headers, AStubThatCarriesTheMarkerIsPassedOver) {
  TRar5RawFile f;
  f.Name = "real";
  std::string archive = Rar5RawArchive({f});
  std::string fake = archive.substr(0, 30);
  fake[9] = char(fake[9] ^ 0x40);
  std::string image = std::string(1000, 'M') + fake + std::string(5000, 'M') + archive;
  TImage i(image);
  TRarBlockReader& reader = i.Reader;
  ASSERT_EQ(i.Opened, ERAR_SUCCESS);
  EXPECT_EQ(reader.MarkerPos(), 6030u);
  TRarBlock block = reader.Next();
  EXPECT_EQ(block.Entry.Name, "real");
}

TEST(Rar5Headers, TheHeaderEncryptionRecordIsKept) {
  std::string salt(16, '\x5a'), check(12, '\x0c');
  std::string image = std::string("Rar!\x1a\x07\x01\x00", 8) +
                      Rar5Header(Vint(4) + Vint(0) + Vint(0) + Vint(1) + std::string(1, '\x10') + salt + check) +
                      std::string(64, '\x99');
  TImage i(image);
  TRarBlockReader& reader = i.Reader;
  ASSERT_EQ(i.Opened, ERAR_SUCCESS);
  EXPECT_EQ(reader.MainFlags() & RarMainEncryptedHeaders, RarMainEncryptedHeaders);
  const TRar5Crypt& c = reader.HeaderCrypt5();
  EXPECT_TRUE(c.Present && c.HasPasswordCheck());
  EXPECT_EQ(c.KdfCount, 16);
  EXPECT_EQ(c.Salt[0], 0x5a);
  EXPECT_EQ(c.Check[11], 0x0c);
  EXPECT_EQ(reader.Next().Kind, TRarBlockKind::EncryptedHeaders);
}

// Every prefix of an archive with every kind of record: each read ends in a whole block, the
// volume's end, or a broken header, and never reads past the bytes it has.
TEST(Rar5Headers, EveryCutOfAnArchiveEndsCleanly) {
  TRar5RawFile f;
  f.Name = "dir/file";
  f.Packed = "data";
  f.UnpSize = 4;
  f.Extra = Rar5ExtraRecord(3, Vint(0x1F) + U32(1) + U32(2) + U32(3) + U32(4) + U32(5) + U32(6)) +
            Rar5ExtraRecord(6, Vint(0x0F) + Text("u") + Text("g") + Vint(1) + Vint(2)) +
            Rar5ExtraRecord(5, Vint(1) + Vint(0) + Text("t"));
  std::string image = Rar5RawArchive({f, f});
  for (size_t length = 0; length <= image.size(); ++length) {
    TImage cut(image.substr(0, length));
    TRarBlockReader& reader = cut.Reader;
    if (cut.Opened != ERAR_SUCCESS) continue;
    int files = 0;
    for (int i = 0; i < 10; ++i) {
      TRarBlock b = reader.Next();
      if (b.Kind == TRarBlockKind::File) ++files;
      if (b.Kind == TRarBlockKind::Eof || b.Kind == TRarBlockKind::Broken) break;
    }
    if (length == image.size()) {
      EXPECT_EQ(files, 2);
    }
  }
}

}  // namespace
