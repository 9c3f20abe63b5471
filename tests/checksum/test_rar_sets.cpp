#include "checksum/RarSets.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <set>

TEST(RarVolumeNames, BothNamingsAreRecognised) {
  const struct {
    const char* Name;
    TRarVolumeKind Kind;
    const char* Set;
    unsigned long long Part;
  } cases[] = {
      {"set.rar", TRarVolumeKind::vkFirstOld, "set", 0},
      {"/dl/Set.RAR", TRarVolumeKind::vkFirstOld, "Set", 0},
      {"set.r00", TRarVolumeKind::vkNextOld, "set", 0},
      {"set.S12", TRarVolumeKind::vkNextOld, "set", 0},
      {"set.part1.rar", TRarVolumeKind::vkPart, "set", 1},
      {"set.PART0007.rar", TRarVolumeKind::vkPart, "set", 7},
      {"my.show.part10.rar", TRarVolumeKind::vkPart, "my.show", 10},
      {"set.part.rar", TRarVolumeKind::vkFirstOld, "set.part", 0},
      {"set.partx1.rar", TRarVolumeKind::vkFirstOld, "set.partx1", 0},
      {"set.part99999999999999999999999.rar", TRarVolumeKind::vkFirstOld, "set.part99999999999999999999999", 0},
      {".part1.rar", TRarVolumeKind::vkFirstOld, ".part1", 0},
      {".rar", TRarVolumeKind::vkNone, "", 0},
      {"set.zip", TRarVolumeKind::vkNone, "", 0},
      {"set.r0", TRarVolumeKind::vkNone, "", 0},
      {"set.a00", TRarVolumeKind::vkNone, "", 0},
  };
  for (const auto& c : cases) {
    const TRarVolumeName v = ParseRarVolumeName(c.Name);
    EXPECT_EQ(v.Kind, c.Kind) << c.Name;
    EXPECT_EQ(v.SetName, c.Set) << c.Name;
    EXPECT_EQ(v.Part, c.Part) << c.Name;
  }
  EXPECT_EQ(RarSetStem("/dl/Show.Part03.RAR"), "show");
  EXPECT_EQ(RarSetStem("show.part03.r01"), "show");
  EXPECT_EQ(RarSetStem("show.part03.nfo"), "show.part03");
  EXPECT_EQ(RarSetStem("show.tar.gz"), "show.tar");
}

TEST(RarVolumeNames, TheFirstVolumeAmongAnSfvsEntries) {
  const struct {
    const char* Name;
    std::vector<std::string> Entries;
    std::set<std::string> OnDisk;
    std::string Expected;
  } cases[] = {
      {"a single archive", {"readme.nfo", "show.rar"}, {"readme.nfo", "show.rar"}, "show.rar"},
      {"the .rar of an old-style set, listed last",
       {"show.r00", "show.r01", "show.rar"}, {"show.r00", "show.r01", "show.rar"}, "show.rar"},
      {"the lowest part, listed anywhere",
       {"show.part03.rar", "show.part01.rar", "show.part02.rar"},
       {"show.part01.rar", "show.part02.rar", "show.part03.rar"}, "show.part01.rar"},
      {"part10 sorts after part9", {"s.part10.rar", "s.part9.rar"}, {"s.part10.rar", "s.part9.rar"}, "s.part9.rar"},
      {"a missing first part: the lowest that is there",
       {"show.part1.rar", "show.part2.rar", "show.part3.rar"}, {"show.part2.rar", "show.part3.rar"}, "show.part2.rar"},
      {"the first set in entry order wins",
       {"b.part2.rar", "a.rar", "b.part1.rar"}, {"a.rar", "b.part1.rar", "b.part2.rar"}, "b.part1.rar"},
      {"another set's lower part is not taken",
       {"b.part2.rar", "c.part1.rar"}, {"b.part2.rar", "c.part1.rar"}, "b.part2.rar"},
      {"nothing there", {"show.rar", "show.r00"}, {"show.r00"}, ""},
      {"no archive listed", {"a.bin", "b.nfo", "c.r00"}, {"a.bin", "b.nfo", "c.r00"}, ""},
      {"a folder inside the entry", {"cd1\\x.part2.rar", "cd1\\x.part1.rar"},
       {"cd1\\x.part1.rar", "cd1\\x.part2.rar"}, "cd1\\x.part1.rar"},
  };
  for (const auto& c : cases) {
    const auto resolve = [&](const std::string& entry) {
      return c.OnDisk.count(entry) != 0 ? "/dir/" + entry : std::string();
    };
    EXPECT_EQ(FirstVolumeAmongEntries(c.Entries, resolve), c.Expected.empty() ? "" : "/dir/" + c.Expected)
        << c.Name;
  }
}

TEST(RarVolumeNames, EntriesResolveInTheirFolder) {
  TTempDir dir;
  dir.Write("show.part1.rar", "");
  EXPECT_EQ(ResolveSfvEntry(dir.Path(), "show.part1.rar"), dir.File("show.part1.rar"));
  EXPECT_EQ(ResolveSfvEntry(dir.Path() + "/", "show.part1.rar"), dir.File("show.part1.rar"));
  EXPECT_EQ(ResolveSfvEntry(dir.Path(), "show.part2.rar"), "");
  // As the check finds them: a subfolder written the Windows way, another letter case;
  // a folder is no archive.
  std::filesystem::create_directory(dir.File("CD1"));
  dir.Write("CD1/Show.part1.rar", "");
  EXPECT_EQ(ResolveSfvEntry(dir.Path(), "cd1\\show.PART1.rar"), dir.File("CD1/Show.part1.rar"));
  EXPECT_EQ(ResolveSfvEntry(dir.Path(), "CD1"), "");
}
