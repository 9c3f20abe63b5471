#include "checksum/SfvCheck.h"
#include "checksum/SfvLookup.h"
#include "platform/FileSystem.h"
#include "ChildProcess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class TStepClock final : public IClock {
public:
  std::uint64_t MilliSeconds() const override { return now_ += 10; }

private:
  mutable std::uint64_t now_ = 0;
};

struct TCheckFixture : ::testing::Test {
  TTempDir Dir;
  std::vector<std::uint8_t> Buffer = std::vector<std::uint8_t>(CrcBlockSize);
  TStepClock Clock;
  TCrcReader Reader{Buffer, Clock};
  bool Halt = false;
  std::vector<std::string> Items;
  TSfvCheckHooks Hooks;

  TCheckFixture() {
    Hooks.Halted = [this] { return Halt; };
    Hooks.FileCrc = [this](const std::string& path) {
      TCrcReadHooks h;
      h.Halted = [this] { return Halt; };
      return Reader.FileCrc(path, h);
    };
    Hooks.OnVerdict = [this](int, int, const TSfvEntry& e, TEntryVerdict v, std::uint32_t) {
      Items.push_back(EntryItem(e, VerdictStatus(v)));
    };
  }
  TSfvCheckResult Check(const std::string& sfvText) {
    return CheckSfvEntries(AddBackslash(Dir.Path()), ReadSfvEntries(sfvText), Hooks, Clock);
  }
};

}  // namespace

TEST_F(TCheckFixture, OneMissingAndOneDifferingOfThree) {
  Dir.Write("good.bin", "123456789");
  Dir.Write("bad.bin", "123456780");
  const auto r = Check("good.bin CBF43926\r\nbad.bin cbf43926\r\nmissing.bin 00000000\r\n");
  EXPECT_EQ(r.Count, 3);
  EXPECT_EQ(r.Failures, 2);
  EXPECT_EQ(r.Bytes, 18u);
  EXPECT_EQ(Items, (std::vector<std::string>{"good.bin|Passed|cbf43926", "bad.bin|Failed|cbf43926",
                                            "missing.bin|Not Found|"}));
  ASSERT_EQ(r.ErrorLines.size(), 8u);
  EXPECT_EQ(r.ErrorLines[0], "Error with file : bad.bin");
  EXPECT_EQ(r.ErrorLines[1], "CRC validation failed");
  EXPECT_EQ(r.ErrorLines[2], "Read from SFV File: cbf43926");
  EXPECT_EQ(r.ErrorLines[3], "Actual CRC:         " + CrcHexLower(0xB2288182));
  EXPECT_EQ(r.ErrorLines[4], "");
  EXPECT_EQ(r.ErrorLines[5], "Error with file : missing.bin");
  EXPECT_EQ(r.ErrorLines[6], "No such file or directory\r\n");
  EXPECT_EQ(r.ErrorLines[7], " ");
  const auto summary = SummaryItems(r.Count, r.Failures, 1500, 0);
  EXPECT_EQ(summary[2], "Passed : |1");
  EXPECT_EQ(summary[3], "Failed : |2");
  EXPECT_EQ(summary[8], "Checking done| 2 Failed!");
}

TEST_F(TCheckFixture, CrcTextsCompareAsLowerCaseText) {
  Dir.Write("a", "123456789");
  const struct {
    const char* Line;
    const char* Status;
  } cases[] = {
      {"a CBF43926", "Passed"}, {"a cbF43926", "Passed"},  {"a BF43926", "Failed"},
      {"a 0xCBF43926", "Failed"}, {"a CBF43926 ", "Not Found"},  // the name is "a CBF43926"
  };
  for (const auto& c : cases) {
    Items.clear();
    Check(c.Line);
    ASSERT_EQ(Items.size(), 1u) << c.Line;
    EXPECT_EQ(GetField(Items[0], '|', 1), c.Status) << c.Line;
  }
}

TEST_F(TCheckFixture, AHaltDuringTheSecondOfFiveStopsThere) {
  for (const char* name : {"1", "3", "4", "5"}) Dir.Write(name, name);
  Dir.Write("2", std::string(5 * CrcBlockSize, '2'));
  int checking = 0;
  Hooks.OnChecking = [&](int i, const TSfvEntry&) {
    checking = i + 1;
    if (i == 1) Halt = true;  // pressed while the second file is read
  };
  const auto r = Check("1 0\n2 0\n3 0\n4 0\n5 0\n");
  EXPECT_TRUE(r.Halted);
  EXPECT_EQ(r.HaltedAt, 2);
  EXPECT_EQ(checking, 2);
  EXPECT_EQ(Items.size(), 1u);  // the second entry is not judged
  EXPECT_EQ(HaltedItems(2, 5),
            (std::vector<std::string>{"", "Checked 2 of 5 files", "Checking Halted"}));
}

TEST_F(TCheckFixture, AnEmptySfvEndsAllPassed) {
  const auto r = Check("; only comments\r\n\r\n");
  EXPECT_EQ(r.Count, 0);
  const auto summary = SummaryItems(r.Count, r.Failures, r.ElapsedMs, 0);
  EXPECT_EQ(summary[1], "Total files : |0");
  EXPECT_EQ(summary[8], "Checking done|All passed!");
  EXPECT_EQ(summary[9], "Checked at : |0 K/s");
}

TEST_F(TCheckFixture, TheSharedSetPassesAgainstOtherToolsSfvFiles) {
  const std::filesystem::path shared = std::filesystem::path(TALLYRA_TESTDATA_DIR) / "sfv";
  for (const auto& file : std::filesystem::directory_iterator(shared / "set")) {
    std::filesystem::copy_file(file.path(), Dir.File(file.path().filename().string()));
  }
  const struct {
    const char* Sfv;
    int Failures;
  } cases[] = {{"by-rhash.sfv", 0}, {"by-cksfv.sfv", 0}, {"crlf-mixed.sfv", 2}};
  for (const auto& c : cases) {
    Items.clear();
    const auto r = Check(ReadWholeFile((shared / c.Sfv).string()));
    EXPECT_EQ(r.Failures, c.Failures) << c.Sfv;
    EXPECT_GE(r.Count, 5) << c.Sfv;
  }
  EXPECT_EQ(Items.back(), "not-here.bin|Not Found|");
  EXPECT_EQ(Items.front(), "check.txt|Failed|cbf43927");
}

namespace {
std::string CrcOf(const std::string& bytes) {
  std::vector<std::uint8_t> buffer(CrcBlockSize);
  TCrcReader reader(buffer, SystemClock());
  TTempDir dir;
  return CrcHexLower(reader.FileCrc(dir.Write("f", bytes), {}).Crc);
}
std::string Utf16(const std::string& ascii, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
  return bytes;
}
}  // namespace

TEST_F(TCheckFixture, SfvFilesMadeOnWindowsFindTheirFiles) {
  std::filesystem::create_directory(Dir.File("CD1"));
  Dir.Write("CD1/Part.One.rar", "123456789");
  Dir.Write("Readme.NFO", "hello");
  Dir.Write("dup.txt", "lower");
  Dir.Write("DUP.TXT", "upper");
  Dir.Write("Caf\xC3\xA9.rar", "utf-8 name");
  Dir.Write("Ni\xF1o.bin", "latin-1 name");
  const std::string part = CrcOf("123456789"), readme = CrcOf("hello"), dup = CrcOf("lower");
  const std::string cafe = CrcOf("utf-8 name"), nino = CrcOf("latin-1 name");
  const struct {
    const char* What;
    std::string Sfv;
    std::vector<std::string> Items;
  } cases[] = {
      {"a subfolder", "CD1\\Part.One.rar " + part + "\r\n", {"CD1\\Part.One.rar|Passed|" + part}},
      {"letter case, folder by folder", "cd1\\part.one.RAR " + part + "\r\n",
       {"cd1\\part.one.RAR|Passed|" + part}},
      {"forward slashes", "cd1/Part.One.rar " + part + "\r\n", {"cd1/Part.One.rar|Passed|" + part}},
      {"letter case", "readme.nfo " + readme + "\r\n", {"readme.nfo|Passed|" + readme}},
      {"the exact name wins", "dup.txt " + dup + "\r\n", {"dup.txt|Passed|" + dup}},
      {"an ambiguous name", "Dup.txt " + dup + "\r\n", {"Dup.txt|Not Found|"}},
      {"a byte-order mark", "\xEF\xBB\xBFreadme.nfo " + readme + "\r\n", {"readme.nfo|Passed|" + readme}},
      {"UTF-16 LE", Utf16("CD1\\Part.One.rar " + part + "\r\n", false), {"CD1\\Part.One.rar|Passed|" + part}},
      {"UTF-16 BE", Utf16("readme.nfo " + readme + "\r\n", true), {"readme.nfo|Passed|" + readme}},
      {"Windows-1252, found as decoded", "caf\xE9.rar " + cafe + "\r\n", {"caf\xC3\xA9.rar|Passed|" + cafe}},
      {"Windows-1252, found as the bytes", "Ni\xF1o.bin " + nino + "\r\n", {"Ni\xC3\xB1o.bin|Passed|" + nino}},
      {"CR-only lines", "readme.nfo " + readme + "\rCD1\\Part.One.rar " + part + "\r",
       {"readme.nfo|Passed|" + readme, "CD1\\Part.One.rar|Passed|" + part}},
      {"a folder", "cd1 00000000\r\n", {"cd1|Failed|00000000"}},
      {"missing", "CD2\\Part.One.rar " + part + "\r\n", {"CD2\\Part.One.rar|Not Found|"}},
      {"no name", "\\ 00000000\r\n", {"\\|Not Found|"}},
  };
  for (const auto& c : cases) {
    Items.clear();
    Check(c.Sfv);
    EXPECT_EQ(Items, c.Items) << c.What;
  }
  // The error blocks say why: the files an ambiguous name could mean, what a folder is.
  const auto r = Check("Dup.txt " + dup + "\r\ncd1\\ 00000000\r\n");
  ASSERT_EQ(r.ErrorLines.size(), 6u);
  EXPECT_EQ(r.ErrorLines[0], "Error with file : Dup.txt");
  EXPECT_EQ(r.ErrorLines[1],
            "Ambiguous name: several files differ from it only in letter case (DUP.TXT, dup.txt)\r\n");
  EXPECT_EQ(r.ErrorLines[2], " ");
  EXPECT_EQ(r.ErrorLines[3], "Error with file : cd1\\");
  EXPECT_EQ(r.ErrorLines[4], "Not a regular file: a folder\r\n");
}

// One run reads each folder's listing once and keeps it for every entry: names that differ
// only in case from files of other folders, the ambiguous and the exact, all in one SFV file.
TEST_F(TCheckFixture, OneRunFindsEachEntryInItsOwnFolder) {
  std::filesystem::create_directories(Dir.File("CD1/Sub"));
  Dir.Write("Readme.NFO", "root");
  Dir.Write("CD1/README.nfo", "cd1");
  Dir.Write("CD1/Sub/ReadMe.Nfo", "sub");
  Dir.Write("dup.txt", "lower");
  Dir.Write("DUP.TXT", "upper");
  ASSERT_EQ(symlink("nowhere", Dir.File("Gone.bin").c_str()), 0);
  const std::string root = CrcOf("root"), cd1 = CrcOf("cd1"), sub = CrcOf("sub"), dup = CrcOf("lower");
  const std::pair<std::string, std::string> lines[] = {
      {"readme.nfo " + root, "readme.nfo|Passed|" + root},
      {"cd1\\readme.NFO " + cd1, "cd1\\readme.NFO|Passed|" + cd1},
      {"Dup.txt " + dup, "Dup.txt|Not Found|"},
      {"cd1\\sub\\README.NFO " + sub, "cd1\\sub\\README.NFO|Passed|" + sub},
      {"dup.txt " + dup, "dup.txt|Passed|" + dup},
      {"gone.bin 00000000", "gone.bin|Not Found|"},
      {"README.NFO " + root, "README.NFO|Passed|" + root},
      {"CD1\\SUB\\readme.nfo " + sub, "CD1\\SUB\\readme.nfo|Passed|" + sub},
  };
  std::string sfv;
  std::vector<std::string> expected;
  for (const auto& [line, item] : lines) {
    sfv += line + "\r\n";
    expected.push_back(item);
  }
  Check(sfv);
  EXPECT_EQ(Items, expected);
}

TEST(SfvLookup, AFileMadeAfterItsFolderWasListedIsFoundByItsExactName) {
  TTempDir dir;
  dir.Write("Other.txt", "x");
  TFolderListings listings;
  const std::string folder = dir.Path() + "/";
  EXPECT_EQ(FindEntryFile(folder, {"other.TXT", "", "other.TXT"}, listings).Status, TLookupStatus::Found);
  EXPECT_EQ(FindEntryFile(folder, {"late.txt", "", "late.txt"}, listings).Status, TLookupStatus::NotFound);
  dir.Write("late.txt", "y");
  const TEntryLookup late = FindEntryFile(folder, {"late.txt", "", "late.txt"}, listings);
  EXPECT_EQ(late.Status, TLookupStatus::Found);
  EXPECT_EQ(late.Path, folder + "late.txt");
}

TEST_F(TCheckFixture, AFifoNamedInTheSfvFailsWithoutHanging) {
  ASSERT_EQ(mkfifo(Dir.File("pipe.bin").c_str(), 0644), 0);
  // Nobody ever writes to the FIFO: a read of it would wait for good.
  EXPECT_TRUE(FinishesWithin(10, [this] {
    const auto r = Check("pipe.bin 00000000\r\n");
    return Items == std::vector<std::string>{"pipe.bin|Failed|00000000"} && r.ErrorLines.size() == 3 &&
           r.ErrorLines[1] == "Not a regular file: a named pipe (FIFO)\r\n";
  }));
}

TEST(SfvCheckTexts, CopyAllPadsByCharacters) {
  const std::vector<std::string> items = {"Caf\xC3\xA9.rar|Passed|0000abcd", "cafe.rar|Failed|0000abcd"};
  const int width = CopyFirstWidth(items);
  EXPECT_EQ(width, 13);
  EXPECT_EQ(CopyResultsText(items, width, "\n"),
            "Caf\xC3\xA9.rar     Passed      0000abcd\n"
            "cafe.rar     Failed      0000abcd\n");
}

TEST(SfvCheckTexts, ElapsedTimeFormat) {
  const struct {
    double Value;
    const char* Text;
  } cases[] = {
      {1.5, "00001.50000"},     {0.025, "00000.02500"},     {2.0, "00002.00000"},
      {0.0, "00000.00000"},     {0.0000004, "00000.00000"}, {0.000001, "00000.000001"},
      {0.1234567, "00000.123457"}, {123456.5, "123456.50000"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatElapsed(c.Value), c.Text) << c.Value;
  const auto summary = SummaryItems(1, 0, 1500, 0);
  EXPECT_EQ(summary[7], "Seconds : |00001.50000");
  EXPECT_EQ(summary[6], "Minutes : |00000.02500");
}

TEST(SfvCheckTexts, SpeedFormat) {
  const struct {
    long double Value;
    const char* Text;
  } cases[] = {
      {0, "0"},           {0.5L, ".5"},          {0.004L, "0"},          {1, "1"},
      {999.999L, "1,000"}, {1234.5L, "1,234.5"}, {55091.796875L, "55,091.8"},
      {1234567890.125L, "1,234,567,890.13"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatSpeed(c.Value), c.Text) << static_cast<double>(c.Value);
  // 1 MiB in 1 ms is 1,024,000 K/s; below 1 ms counts as 1 ms.
  EXPECT_EQ(SummaryItems(1, 0, 0, 1048576).back(), "Checked at : |1,024,000 K/s");
}

TEST(SfvCheckTexts, FieldsAndCopyLayout) {
  EXPECT_EQ(GetField("a|b|c", '|', 0), "a");
  EXPECT_EQ(GetField("a|b|c", '|', 2), "c");
  EXPECT_EQ(GetField("a|b", '|', 2), "");
  EXPECT_EQ(GetField("", '|', 0), "");
  const std::vector<std::string> items = {"0123456789|Passed|0000abcd", "x|Not Found|", "",
                                          "Total files : |1"};
  const int width = CopyFirstWidth(items);
  EXPECT_EQ(width, 19);  // "Total files : " is 14 characters
  EXPECT_EQ(CopyResultsText(items, width),
            "0123456789         Passed      0000abcd\r\n"
            "x                  Not Found   \r\n"
            "                               \r\n"
            "Total files :      1           \r\n");
  EXPECT_EQ(CopyFirstWidth({"0123456789|Passed|x"}), 15);
}
