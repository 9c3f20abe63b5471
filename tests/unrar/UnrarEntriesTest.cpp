// Entries made by the test writer: damaged checksums, hostile names, versions, encryption,
// RAR 5, cancelling, and several handles at once.
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

#include "Rar5Writer.h"
#include "RarWriter.h"
#include "UnrarTestSupport.h"

namespace fs = std::filesystem;

namespace {

class UnrarEntries : public ::testing::Test {
 protected:
  void SetUp() override { Log() = TCallbackLog{}; }
  TTempDir Src, Out;

  std::string Write(const std::vector<TRarTestEntry>& entries, const TRarWriterOptions& options = {}) {
    return WriteRarArchive(Src.File("test.rar"), entries, options).front();
  }
};

TRarTestEntry File(const std::string& name, const std::string& data) {
  TRarTestEntry e;
  e.Name = name;
  e.Data = data;
  return e;
}

// The record is still filled, and the data still extracts.
TEST_F(UnrarEntries, ABrokenHeaderCrcGives12AndStillExtracts) {
  auto e = File("patched.txt", "header damaged, data fine");
  e.BreakHeaderCrc = true;
  e.HostOS = 3;
  e.Attr = 0x20;
  auto listed = RunArchive(Write({e, File("next.txt", "ok")}), RAR_EXTRACT, Out.Path());
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].ReadResult, ERAR_BAD_DATA);
  EXPECT_STREQ(listed[0].Header.FileName, "patched.txt");
  EXPECT_EQ(listed[0].Header.HostOS, 3u);
  EXPECT_EQ(listed[0].Header.UnpSize, e.Data.size());
  EXPECT_EQ(listed[0].ProcessResult, ERAR_SUCCESS);
  EXPECT_EQ(ReadWholeFile(Out.File("patched.txt")), e.Data);
  EXPECT_EQ(listed[1].ReadResult, ERAR_SUCCESS);
}

TEST_F(UnrarEntries, ADataCrcMismatchGives12AndKeepsTheCompleteFile) {
  auto e = File("wrong.txt", "the stored CRC does not match this");
  e.BreakDataCrc = true;
  auto listed = RunArchive(Write({e}), RAR_EXTRACT, Out.Path());
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].ProcessResult, ERAR_BAD_DATA);
  EXPECT_EQ(ReadWholeFile(Out.File("wrong.txt")), e.Data);
}

TEST_F(UnrarEntries, NamesCannotLeaveTheDestination) {
  struct TCase {
    const char* Stored;
    const char* Landing;  // relative to the destination
  } cases[] = {
      {"..\\..\\escape1.txt", "escape1.txt"},
      {"\\root\\escape2.txt", "root/escape2.txt"},
      {"/abs/escape3.txt", "abs/escape3.txt"},
      {"C:\\escape4.txt", "escape4.txt"},
      {"a\\..\\..\\escape5.txt", "a/escape5.txt"},
      {".\\.\\b\\.\\escape6.txt", "b/escape6.txt"},
  };
  std::vector<TRarTestEntry> entries;
  for (const auto& c : cases) entries.push_back(File(c.Stored, c.Landing));
  fs::path dest = fs::path(Out.Path()) / "inner" / "dest";
  fs::create_directories(dest);
  auto listed = RunArchive(Write(entries), RAR_EXTRACT, dest.string());
  ASSERT_EQ(listed.size(), std::size(cases));
  for (size_t i = 0; i < listed.size(); ++i) {
    SCOPED_TRACE(cases[i].Stored);
    EXPECT_EQ(listed[i].ProcessResult, ERAR_SUCCESS);
    EXPECT_EQ(ReadWholeFile((dest / cases[i].Landing).string()), cases[i].Landing);
  }
  // Nothing appeared beside or above the destination.
  size_t outside = 0;
  for (auto& p : fs::recursive_directory_iterator(Out.Path()))
    if (p.is_regular_file() && p.path().string().rfind(dest.string(), 0) != 0) ++outside;
  EXPECT_EQ(outside, 0u);
}

TEST_F(UnrarEntries, ANameWithNothingLeftIsACreateError) {
  auto listed = RunArchive(Write({File("..\\..", "x")}), RAR_EXTRACT, Out.Path());
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].ProcessResult, ERAR_ECREATE);
  EXPECT_TRUE(fs::is_empty(Out.Path()));
}

TEST_F(UnrarEntries, DestNameWinsOverDestPath) {
  std::string archive = Write({File("stored.txt", "by DestName")});
  RAROpenArchiveData open{};
  open.ArcName = archive.data();
  open.OpenMode = RAR_OM_EXTRACT;
  void* handle = RAROpenArchive(&open);
  ASSERT_NE(handle, nullptr);
  RARHeaderData header{};
  ASSERT_EQ(RARReadHeader(handle, &header), ERAR_SUCCESS);
  std::string path = Out.File("ignored"), name = Out.File("sub/renamed.txt");
  EXPECT_EQ(RARProcessFile(handle, RAR_EXTRACT, path.data(), name.data()), ERAR_SUCCESS);
  RARCloseArchive(handle);
  EXPECT_EQ(ReadWholeFile(name), "by DestName");
  EXPECT_FALSE(fs::exists(Out.File("ignored")));
}

TEST_F(UnrarEntries, UnicodeNamesAndLargeSizeFields) {
  auto a = File("папка\\файл.txt", "cyrillic");
  a.Unicode = true;
  auto b = File("emoji 😀.txt", "astral");
  b.Unicode = true;
  TRarWriterOptions options;
  options.LargeSizes = true;
  auto listed = RunArchive(Write({a, b}, options), RAR_EXTRACT, Out.Path());
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_STREQ(listed[0].Header.FileName, "папка/файл.txt");
  EXPECT_STREQ(listed[1].Header.FileName, "emoji 😀.txt");
  EXPECT_EQ(listed[0].Header.Flags & 0x0300u, 0x0300u);
  EXPECT_EQ(listed[0].Header.UnpSize, 8u);
  EXPECT_EQ(ReadWholeFile(Out.File("папка/файл.txt")), "cyrillic");
  EXPECT_EQ(ReadWholeFile(Out.File("emoji 😀.txt")), "astral");
}

TEST_F(UnrarEntries, VersionsDecideWhatCanBeUnpacked) {
  struct TCase {
    uint8_t UnpVer;
    uint8_t Method;
    int Expected;
  } cases[] = {
      {20, 0x30, ERAR_SUCCESS}, {29, 0x30, ERAR_SUCCESS}, {36, 0x30, ERAR_SUCCESS},
      {15, 0x30, ERAR_SUCCESS},  // stored data needs no decompressor of any version
      {15, 0x33, ERAR_UNKNOWN_FORMAT}, {40, 0x30, ERAR_UNKNOWN_FORMAT}, {29, 0x36, ERAR_UNKNOWN_FORMAT},
  };
  std::vector<TRarTestEntry> entries;
  for (const auto& c : cases) {
    auto e = File("v" + std::to_string(c.UnpVer) + "m" + std::to_string(c.Method), "data");
    e.UnpVer = c.UnpVer;
    e.Method = c.Method;
    entries.push_back(e);
  }
  auto listed = RunArchive(Write(entries), RAR_TEST);
  ASSERT_EQ(listed.size(), std::size(cases));
  for (size_t i = 0; i < listed.size(); ++i) {
    SCOPED_TRACE(entries[i].Name);
    EXPECT_EQ(listed[i].Header.UnpVer, cases[i].UnpVer);
    EXPECT_EQ(listed[i].ProcessResult, cases[i].Expected);
  }
}

// Data flagged as encrypted that is not: it needs a password, and decrypted it is garbage.
TEST_F(UnrarEntries, EncryptedDataNeedsAPasswordAndTheRightOne) {
  auto e = File("secret.txt", "0123456789abcdef");
  e.ExtraFlags = 0x0004;
  std::string archive = Write({e, File("plain.txt", "plain")});
  for (bool withPassword : {false, true}) {
    SCOPED_TRACE(withPassword);
    RAROpenArchiveData open{};
    open.ArcName = archive.data();
    open.OpenMode = RAR_OM_EXTRACT;
    void* handle = RAROpenArchive(&open);
    ASSERT_NE(handle, nullptr);
    char password[] = "password";
    if (withPassword) RARSetPassword(handle, password);
    RARHeaderData header{};
    ASSERT_EQ(RARReadHeader(handle, &header), ERAR_SUCCESS);
    std::string dest = Out.Path();
    EXPECT_EQ(RARProcessFile(handle, RAR_EXTRACT, dest.data(), nullptr),
              withPassword ? ERAR_BAD_DATA : ERAR_MISSING_PASSWORD);
    // The same entry may be tried again with a password.
    RARSetPassword(handle, password);
    EXPECT_EQ(RARProcessFile(handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_BAD_DATA);
    EXPECT_FALSE(fs::exists(Out.File("secret.txt")));
    ASSERT_EQ(RARReadHeader(handle, &header), ERAR_SUCCESS);
    EXPECT_EQ(RARProcessFile(handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_SUCCESS);
    RARCloseArchive(handle);
  }
}

TEST_F(UnrarEntries, Rar5EntriesAreListedAsVersion50AndUnpacked) {
  std::string path = Src.File("five.rar");
  WriteRar5Archive(path, {{"dir/one.txt", "first"}, {"two.txt", "second entry"}});
  int end = 0;
  unsigned open = 99;
  auto listed = RunArchive(path, RAR_EXTRACT, Out.Path(), &open, &end);
  EXPECT_EQ(open, 0u);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_STREQ(listed[0].Header.FileName, "dir/one.txt");
  EXPECT_EQ(listed[0].Header.UnpVer, 50u);
  EXPECT_EQ(listed[0].Header.HostOS, 3u);
  EXPECT_EQ(listed[0].Header.UnpSize, 5u);
  EXPECT_EQ(listed[0].Header.FileCRC, RarTestCrc("first"));
  EXPECT_EQ(listed[0].Header.Method, 0x30u);
  EXPECT_EQ(listed[1].Header.PackSize, 12u);
  for (const auto& item : listed) EXPECT_EQ(item.ProcessResult, ERAR_SUCCESS);
  EXPECT_EQ(listed[1].DataCrc, RarTestCrc("second entry"));
  EXPECT_EQ(end, ERAR_END_ARCHIVE);
  EXPECT_EQ(ReadWholeFile(Out.File("dir/one.txt")), "first");
  EXPECT_EQ(ReadWholeFile(Out.File("two.txt")), "second entry");
}

TEST_F(UnrarEntries, ACancelFromTheDataCallbackRemovesThePartialFile) {
  std::string big(3 << 20, 'z');
  Log().CancelAfterBytes = 1;
  auto listed = RunArchive(Write({File("big.bin", big)}), RAR_EXTRACT, Out.Path());
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].ProcessResult, ERAR_UNKNOWN);
  EXPECT_EQ(Log().DataCalls, 1);
  EXPECT_FALSE(fs::exists(Out.File("big.bin")));
}

TEST_F(UnrarEntries, TheMarkerIsFoundBehindASelfExtractorStub) {
  TRarWriterOptions options;
  std::string stub(5000, 'M');
  // A stub may carry the marker text itself; only a marker followed by a main header counts.
  stub.replace(100, 7, std::string("Rar!\x1a\x07\x00", 7));
  options.Prefix.assign(stub.begin(), stub.end());
  auto listed = RunArchive(Write({File("inside.txt", "from the sfx")}, options), RAR_TEST);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].ProcessResult, ERAR_SUCCESS);
  EXPECT_EQ(listed[0].DataCrc, RarTestCrc("from the sfx"));
}

TEST_F(UnrarEntries, SolidSetsUnpackInOrderWhateverIsSkipped) {
  // The real solid sample: the second entry depends on the first one's dictionary.
  for (int firstOperation : {RAR_SKIP, RAR_TEST}) {
    SCOPED_TRACE(firstOperation);
    RAROpenArchiveData open{};
    std::string name = TestDataPath("rar/rarfile/rar3-solid.rar");
    open.ArcName = name.data();
    open.OpenMode = RAR_OM_EXTRACT;
    void* handle = RAROpenArchive(&open);
    ASSERT_NE(handle, nullptr);
    RARSetProcessDataProc(handle, LogProcessData);
    RARHeaderData header{};
    ASSERT_EQ(RARReadHeader(handle, &header), ERAR_SUCCESS);
    EXPECT_EQ(RARProcessFile(handle, firstOperation, nullptr, nullptr), ERAR_SUCCESS);
    ASSERT_EQ(RARReadHeader(handle, &header), ERAR_SUCCESS);
    Log().ResetEntry();
    std::string dest = Out.Path();
    EXPECT_EQ(RARProcessFile(handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_SUCCESS);
    EXPECT_EQ(Log().Crc, 0xc5b7e6a2u);
    EXPECT_EQ(RARReadHeader(handle, &header), ERAR_END_ARCHIVE);
    RARCloseArchive(handle);
    EXPECT_EQ(FileCrc(Out.File("stest2.txt")), 0xc5b7e6a2u);
  }
}

// Unix modes are reported as DOS attributes (so that no caller takes 0664's 0x10 bit for a
// folder) and their permission bits go to the extracted file; other hosts' attributes are DOS
// ones whatever bits they carry.
TEST_F(UnrarEntries, AttributesByHostAreReportedAndApplied) {
  struct TCase {
    const char* Name;
    uint8_t Host;
    uint32_t Stored, Reported;
    unsigned Mode;  // of the extracted file
  } cases[] = {
      {"plain", 3, 0x81A4, 0x20, 0644},         {"group-writes", 3, 0x81B4, 0x20, 0664},
      {"read-only", 3, 0x8124, 0x21, 0444},     {"tool", 3, 0x81ED, 0x20, 0755},
      {"win-read-only", 2, 0x21, 0x21, 0444},   {"win-efs", 2, 0x4020, 0x4020, 0644},
  };
  std::vector<TRarTestEntry> entries;
  for (const auto& c : cases) {
    auto e = File(c.Name, "data");
    e.HostOS = c.Host;
    e.Attr = c.Stored;
    entries.push_back(e);
  }
  TRarTestEntry folder;
  folder.Name = "folder";
  folder.Directory = true;
  folder.HostOS = 3;
  folder.Attr = 0x41ED;
  entries.push_back(folder);
  const mode_t mask = ::umask(022);
  auto listed = RunArchive(Write(entries), RAR_EXTRACT, Out.Path());
  ::umask(mask);
  ASSERT_EQ(listed.size(), std::size(cases) + 1);
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].Name);
    EXPECT_EQ(listed[i].Header.FileAttr, cases[i].Reported);
    EXPECT_EQ(listed[i].ProcessResult, ERAR_SUCCESS);
    ASSERT_TRUE(fs::is_regular_file(Out.File(cases[i].Name)));
    EXPECT_EQ(unsigned(fs::status(Out.File(cases[i].Name)).permissions() & fs::perms::all), cases[i].Mode);
  }
  EXPECT_EQ(listed.back().Header.FileAttr, 0x10u);
  EXPECT_TRUE(fs::is_directory(Out.File("folder")));
}

// Solid sets made by the writer: stored entries, skipped ones, and a set over several volumes,
// which is read as it goes: each volume is announced when reading reaches it, not up front.
TEST_F(UnrarEntries, GeneratedSolidSetsInOneAndSeveralVolumes) {
  for (uint64_t volumeSize : {uint64_t(0), uint64_t(900)}) {
    SCOPED_TRACE(volumeSize);
    Log() = TCallbackLog{};
    TTempDir src, out;
    std::vector<TRarTestEntry> entries = {File("s1.txt", std::string(700, 'a')), File("s2.txt", std::string(600, 'b')),
                                          File("s3.txt", "third")};
    TRarWriterOptions options;
    options.Solid = true;
    options.VolumeSize = volumeSize;
    auto files = WriteRarArchive(src.File("solid.rar"), entries, options);
    RAROpenArchiveData open{};
    open.ArcName = files[0].data();
    open.OpenMode = RAR_OM_EXTRACT;
    void* handle = RAROpenArchive(&open);
    ASSERT_NE(handle, nullptr);
    RARSetChangeVolProc(handle, LogChangeVolume);
    RARSetProcessDataProc(handle, LogProcessData);
    RARHeaderData header{};
    ASSERT_EQ(RARReadHeader(handle, &header), ERAR_SUCCESS);
    EXPECT_EQ(Log().VolumeCalls.size(), 0u);
    EXPECT_EQ(RARProcessFile(handle, RAR_SKIP, nullptr, nullptr), ERAR_SUCCESS);
    std::string dest = out.Path();
    for (size_t i = 1; i < entries.size(); ++i) {
      ASSERT_EQ(RARReadHeader(handle, &header), ERAR_SUCCESS);
      EXPECT_EQ(header.FileName, entries[i].Name);
      Log().ResetEntry();
      EXPECT_EQ(RARProcessFile(handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_SUCCESS);
      EXPECT_EQ(Log().Crc, RarTestCrc(entries[i].Data));
      EXPECT_EQ(ReadWholeFile(out.File(entries[i].Name)), entries[i].Data);
    }
    EXPECT_EQ(RARReadHeader(handle, &header), ERAR_END_ARCHIVE);
    EXPECT_EQ(Log().VolumeCalls.size(), files.size() - 1);
    RARCloseArchive(handle);
    EXPECT_FALSE(fs::exists(out.File("s1.txt")));
  }
}

// Sizes beyond 4 GiB: the hole costs no disk space. The record shows the low 32 bits, and the
// entry behind it, more than 4 GiB into the file, is found and unpacked.
TEST_F(UnrarEntries, AnEntryBeyond4GiBIsSteppedOver) {
  const uint64_t size = (4ull << 30) + 12345;
  std::string archive = Src.File("big.rar");
  WriteSparseRarArchive(archive, "big.bin", size, 0x12345678, File("after.txt", "behind the hole"));
  RAROpenArchiveData open{};
  open.ArcName = archive.data();
  open.OpenMode = RAR_OM_EXTRACT;
  void* handle = RAROpenArchive(&open);
  ASSERT_NE(handle, nullptr);
  RARSetProcessDataProc(handle, LogProcessData);
  RARHeaderData header{};
  ASSERT_EQ(RARReadHeader(handle, &header), ERAR_SUCCESS);
  EXPECT_STREQ(header.FileName, "big.bin");
  EXPECT_EQ(header.UnpSize, 12345u);
  EXPECT_EQ(header.PackSize, 12345u);
  EXPECT_EQ(header.Flags & 0x100u, 0x100u);
  EXPECT_EQ(RARProcessFile(handle, RAR_SKIP, nullptr, nullptr), ERAR_SUCCESS);
  ASSERT_EQ(RARReadHeader(handle, &header), ERAR_SUCCESS);
  EXPECT_STREQ(header.FileName, "after.txt");
  std::string dest = Out.Path();
  EXPECT_EQ(RARProcessFile(handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_SUCCESS);
  EXPECT_EQ(RARReadHeader(handle, &header), ERAR_END_ARCHIVE);
  RARCloseArchive(handle);
  EXPECT_EQ(ReadWholeFile(Out.File("after.txt")), "behind the hole");
}

TEST_F(UnrarEntries, HandlesAreIndependent) {
  std::string a = Write({File("a1", "one"), File("a2", "two")});
  std::string b = TestDataPath("rar/rarfile/rar3-solid.rar");
  std::vector<void*> handles;
  for (std::string* name : {&a, &b, &a}) {
    RAROpenArchiveData open{};
    open.ArcName = name->data();
    open.OpenMode = RAR_OM_EXTRACT;
    handles.push_back(RAROpenArchive(&open));
    ASSERT_NE(handles.back(), nullptr);
  }
  RARHeaderData h{};
  ASSERT_EQ(RARReadHeader(handles[0], &h), 0);
  EXPECT_STREQ(h.FileName, "a1");
  ASSERT_EQ(RARReadHeader(handles[1], &h), 0);
  EXPECT_STREQ(h.FileName, "stest1.txt");
  ASSERT_EQ(RARReadHeader(handles[2], &h), 0);
  EXPECT_STREQ(h.FileName, "a1");
  ASSERT_EQ(RARReadHeader(handles[0], &h), 0);
  EXPECT_STREQ(h.FileName, "a2");
  EXPECT_EQ(RARProcessFile(handles[1], RAR_TEST, nullptr, nullptr), ERAR_SUCCESS);
  ASSERT_EQ(RARReadHeader(handles[1], &h), 0);
  EXPECT_EQ(RARProcessFile(handles[1], RAR_TEST, nullptr, nullptr), ERAR_SUCCESS);
  EXPECT_EQ(RARReadHeader(handles[0], &h), ERAR_END_ARCHIVE);
  for (void* handle : handles) EXPECT_EQ(RARCloseArchive(handle), ERAR_SUCCESS);
}

TEST_F(UnrarEntries, OpenFailuresAndNullArguments) {
  RAROpenArchiveData open{};
  EXPECT_EQ(RAROpenArchive(&open), nullptr);
  EXPECT_EQ(open.OpenResult, unsigned(ERAR_EOPEN));
  std::string missing = Src.File("missing.rar");
  open.ArcName = missing.data();
  EXPECT_EQ(RAROpenArchive(&open), nullptr);
  EXPECT_EQ(open.OpenResult, unsigned(ERAR_EOPEN));
  std::string junk = Src.File("junk.rar");
  std::ofstream(junk) << "this is not an archive at all";
  open.ArcName = junk.data();
  EXPECT_EQ(RAROpenArchive(&open), nullptr);
  EXPECT_EQ(open.OpenResult, unsigned(ERAR_BAD_ARCHIVE));
  EXPECT_EQ(RARCloseArchive(nullptr), ERAR_ECLOSE);
  EXPECT_EQ(RAROpenArchive(nullptr), nullptr);
}

TEST_F(UnrarEntries, AnUnwritableDestinationIsACreateError) {
  std::ofstream(Out.File("blocker")) << "a file where a folder should be";
  auto listed = RunArchive(Write({File("x.txt", "data")}), RAR_EXTRACT, Out.File("blocker"));
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].ProcessResult, ERAR_ECREATE);
}

}  // namespace
