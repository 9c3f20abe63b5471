// Volume sets: the change-volume callback's ask and notify modes, refusals, and boundaries
// inside files and between files.
#include <gtest/gtest.h>

#include "RarWriter.h"
#include "UnrarTestSupport.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t BigFileCrc = 0x509ad74c, SmallFileCrc = 0xd08a1f86;

void CopySet(const std::vector<std::string>& names, const TTempDir& dir) {
  for (const auto& name : names) fs::copy_file(TestDataPath("rar/rarfile/" + name), dir.File(name));
}

class UnrarVolumes : public ::testing::Test {
 protected:
  void SetUp() override { Log() = TCallbackLog{}; }
};

TEST_F(UnrarVolumes, BothNamingsExtractWithANotifyPerVolume) {
  struct TCase {
    std::vector<std::string> Files;
  } cases[] = {{{"rar3-old.rar", "rar3-old.r00", "rar3-old.r01"}},
               {{"rar3-vols.part1.rar", "rar3-vols.part2.rar", "rar3-vols.part3.rar"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Files[0]);
    Log() = TCallbackLog{};
    TTempDir src, out;
    CopySet(c.Files, src);
    auto listed = RunArchive(src.File(c.Files[0]), RAR_EXTRACT, out.Path());
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].ProcessResult, ERAR_SUCCESS);
    EXPECT_EQ(listed[1].ProcessResult, ERAR_SUCCESS);
    EXPECT_EQ(FileCrc(out.File("vols/bigfile.txt")), BigFileCrc);
    EXPECT_EQ(FileCrc(out.File("vols/smallfile.txt")), SmallFileCrc);
    std::vector<std::pair<int, std::string>> expected = {{RAR_VOL_NOTIFY, src.File(c.Files[1])},
                                                         {RAR_VOL_NOTIFY, src.File(c.Files[2])}};
    EXPECT_EQ(Log().VolumeCalls, expected);
  }
}

TEST_F(UnrarVolumes, AMissingVolumeIsAskedForAndTheGivenNameUsed) {
  TTempDir src, out;
  CopySet({"rar3-old.rar", "rar3-old.r00", "rar3-old.r01"}, src);
  std::string moved = src.File("elsewhere.bin");
  fs::rename(src.File("rar3-old.r00"), moved);
  Log().OnVolume = [&](std::string& name, int mode) {
    if (mode == RAR_VOL_ASK) name = moved;
    return 1;
  };
  auto listed = RunArchive(src.File("rar3-old.rar"), RAR_EXTRACT, out.Path());
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].ProcessResult, ERAR_SUCCESS);
  EXPECT_EQ(FileCrc(out.File("vols/bigfile.txt")), BigFileCrc);
  std::vector<std::pair<int, std::string>> expected = {
      {RAR_VOL_ASK, src.File("rar3-old.r00")}, {RAR_VOL_NOTIFY, moved}, {RAR_VOL_NOTIFY, src.File("rar3-old.r01")}};
  EXPECT_EQ(Log().VolumeCalls, expected);
}

// A caller that keeps naming a volume already read must not send the library round in circles.
TEST_F(UnrarVolumes, AnsweringWithAVolumeAlreadyReadStops) {
  TTempDir src, out;
  CopySet({"rar3-old.rar", "rar3-old.r00"}, src);
  std::string first = src.File("rar3-old.r00");
  Log().OnVolume = [&](std::string& name, int) {
    name = first;
    return 1;
  };
  auto listed = RunArchive(src.File("rar3-old.rar"), RAR_EXTRACT, out.Path());
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].ProcessResult, ERAR_EOPEN);
  EXPECT_LE(Log().VolumeCalls.size(), 3u);
  EXPECT_FALSE(fs::exists(out.File("vols/bigfile.txt")));
}

// Refusing in either mode stops with 15, leaves no partial file and ends the listing.
TEST_F(UnrarVolumes, ARefusedVolumeStopsWithoutLeavingAPartialFile) {
  for (int refusedMode : {RAR_VOL_ASK, RAR_VOL_NOTIFY}) {
    SCOPED_TRACE(refusedMode);
    Log() = TCallbackLog{};
    TTempDir src, out;
    CopySet({"rar3-old.rar", "rar3-old.r00", "rar3-old.r01"}, src);
    if (refusedMode == RAR_VOL_ASK) fs::remove(src.File("rar3-old.r01"));
    Log().OnVolume = [&](std::string& name, int mode) {
      return mode == refusedMode && name.find(".r01") != std::string::npos ? 0 : 1;
    };
    int end = 0;
    auto listed = RunArchive(src.File("rar3-old.rar"), RAR_EXTRACT, out.Path(), nullptr, &end);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].ProcessResult, ERAR_EOPEN);
    EXPECT_EQ(end, ERAR_EOPEN);
    EXPECT_FALSE(fs::exists(out.File("vols/bigfile.txt")));
  }
}

TEST_F(UnrarVolumes, WithoutACallbackAMissingVolumeFailsCleanly) {
  TTempDir src, out;
  CopySet({"rar3-vols.part1.rar", "rar3-vols.part2.rar"}, src);
  RAROpenArchiveData open{};
  std::string name = src.File("rar3-vols.part1.rar");
  open.ArcName = name.data();
  open.OpenMode = RAR_OM_EXTRACT;
  void* handle = RAROpenArchive(&open);
  ASSERT_NE(handle, nullptr);
  RARHeaderData header{};
  ASSERT_EQ(RARReadHeader(handle, &header), ERAR_SUCCESS);
  std::string dest = out.Path();
  EXPECT_EQ(RARProcessFile(handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_EOPEN);
  EXPECT_EQ(RARReadHeader(handle, &header), ERAR_EOPEN);
  EXPECT_EQ(RARCloseArchive(handle), ERAR_SUCCESS);
  EXPECT_FALSE(fs::exists(out.File("vols/bigfile.txt")));
}

TEST_F(UnrarVolumes, SkippingASplitFileWalksOnToTheNextEntry) {
  TTempDir out;
  RAROpenArchiveData open{};
  std::string name = TestDataPath("rar/rarfile/rar3-vols.part1.rar");
  open.ArcName = name.data();
  open.OpenMode = RAR_OM_EXTRACT;
  void* handle = RAROpenArchive(&open);
  ASSERT_NE(handle, nullptr);
  RARSetChangeVolProc(handle, LogChangeVolume);
  RARHeaderData header{};
  ASSERT_EQ(RARReadHeader(handle, &header), ERAR_SUCCESS);
  EXPECT_STREQ(header.FileName, "vols/bigfile.txt");
  EXPECT_EQ(RARProcessFile(handle, RAR_SKIP, nullptr, nullptr), ERAR_SUCCESS);
  ASSERT_EQ(RARReadHeader(handle, &header), ERAR_SUCCESS);
  EXPECT_STREQ(header.FileName, "vols/smallfile.txt");
  EXPECT_EQ(std::string(header.ArcName), TestDataPath("rar/rarfile/rar3-vols.part3.rar"));
  std::string dest = out.Path();
  EXPECT_EQ(RARProcessFile(handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_SUCCESS);
  EXPECT_EQ(RARReadHeader(handle, &header), ERAR_END_ARCHIVE);
  RARCloseArchive(handle);
  EXPECT_EQ(FileCrc(out.File("vols/smallfile.txt")), SmallFileCrc);
  EXPECT_FALSE(fs::exists(out.File("vols/bigfile.txt")));
  EXPECT_EQ(Log().VolumeCalls.size(), 2u);
}

TEST_F(UnrarVolumes, OpeningALaterVolumeListsOnlyWhatStartsThere) {
  auto listed = RunArchive(TestDataPath("rar/rarfile/rar3-old.r01"), RAR_TEST);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_STREQ(listed[0].Header.FileName, "vols/smallfile.txt");
  EXPECT_EQ(listed[0].DataCrc, SmallFileCrc);
}

std::string Pattern(size_t size, char seed) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = char(seed + (i * 7) % 23);
  return data;
}

// Generated sets: a boundary between files, a file over three volumes, both namings.
TEST_F(UnrarVolumes, GeneratedSetsWithBoundariesBetweenAndInsideFiles) {
  struct TCase {
    bool NewNaming;
    int Digits;
    std::vector<std::string> Names;
  } cases[] = {{false, 1, {"set.rar", "set.r00", "set.r01", "set.r02"}},
               {true, 2, {"set.part01.rar", "set.part02.rar", "set.part03.rar", "set.part04.rar"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Names[0]);
    Log() = TCallbackLog{};
    TTempDir src, out;
    std::vector<TRarTestEntry> entries(3);
    entries[0].Name = "first.txt";
    entries[0].Data = Pattern(500, 'a');
    entries[1].Name = "dir\\second.txt";
    entries[1].Data = Pattern(300, 'b');
    entries[1].NewVolumeBefore = true;  // the first volume ends exactly between two files
    entries[2].Name = "third.bin";
    entries[2].Data = Pattern(5000, 'c');
    TRarWriterOptions options;
    options.VolumeSize = 2200;
    options.NewNaming = c.NewNaming;
    options.PartDigits = c.Digits;
    auto files = WriteRarArchive(src.File(c.Names[0]), entries, options);
    ASSERT_EQ(files.size(), c.Names.size());
    for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(files[i], src.File(c.Names[i]));

    auto listed = RunArchive(files[0], RAR_EXTRACT, out.Path());
    ASSERT_EQ(listed.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(listed[i].ProcessResult, ERAR_SUCCESS);
      EXPECT_EQ(listed[i].DataCrc, RarTestCrc(entries[i].Data));
    }
    EXPECT_EQ(std::string(listed[1].Header.ArcName), files[1]);
    EXPECT_EQ(ReadWholeFile(out.File("dir/second.txt")), entries[1].Data);
    EXPECT_EQ(ReadWholeFile(out.File("third.bin")), entries[2].Data);
    ASSERT_EQ(Log().VolumeCalls.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(Log().VolumeCalls[i], std::make_pair(int(RAR_VOL_NOTIFY), files[i + 1]));
  }
}

// A continuation that names another file is damage, not data of this one.
TEST_F(UnrarVolumes, AForeignContinuationIsBadData) {
  TTempDir src, out;
  std::vector<TRarTestEntry> one(1), other(1);
  one[0].Name = "one.bin";
  one[0].Data = Pattern(3000, 'x');
  other[0].Name = "other.bin";
  other[0].Data = Pattern(3000, 'y');
  TRarWriterOptions options;
  options.VolumeSize = 1500;
  auto files = WriteRarArchive(src.File("a.rar"), one, options);
  TTempDir src2;
  auto foreign = WriteRarArchive(src2.File("a.rar"), other, options);
  ASSERT_GE(files.size(), 2u);
  fs::copy_file(foreign[1], files[1], fs::copy_options::overwrite_existing);
  auto listed = RunArchive(files[0], RAR_EXTRACT, out.Path());
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].ProcessResult, ERAR_BAD_DATA);
  EXPECT_FALSE(fs::exists(out.File("one.bin")));
}

}  // namespace
