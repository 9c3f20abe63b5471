// The family's shared machinery: destination names, masks, the overwrite policy, progress,
// the next-volume request, cancelling and errors, the timer and the drive check.
#include <gtest/gtest.h>

#include <filesystem>

#include "ArchiveTestFiles.h"
#include "UnRarTestSupport.h"
#include "archive/aknBase.h"
#include "archive/aknStreams.h"
#include "platform/FileSystem.h"

namespace fs = std::filesystem;

namespace {

class TStepClock : public IClock {
 public:
  std::uint64_t Now = 1000;
  std::uint64_t MilliSeconds() const override { return Now; }
};

// An extractor whose archive step is a script, so the driver can be watched alone.
class TScriptedUnBase : public TUnBase {
 public:
  std::function<void(TScriptedUnBase&)> Step;
  using TUnBase::FDestFileName;
  using TUnBase::FToDoCount;

 protected:
  void ExtractArchive() override {
    if (Step) Step(*this);
  }
};

}  // namespace

TEST(ZipCommon, DestinationNames) {
  struct TCase {
    const char* Stored;
    bool UseStoredDirs;
    const char* Expected;  // relative to ExtractDir; "" for no destination
  } cases[] = {
      {"C:\\data\\a.txt", true, "data/a.txt"},
      {"C:\\data\\a.txt", false, "a.txt"},
      {"/data/a.txt", true, "data/a.txt"},
      {"/data/a.txt", false, "a.txt"},
      {"\\data\\a.txt", true, "data/a.txt"},
      {"C:a.txt", true, "a.txt"},
      {"..\\..\\x", true, "x"},
      {"a/../../etc/passwd", true, "a/etc/passwd"},
      {"./a//b\\.\\c.txt", true, "a/b/c.txt"},
      {"notes:1.txt", true, "notes:1.txt"},
      {"..", true, ""},
      {"dir\\", true, ""},
      {"", true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Stored);
    TZipCommon z;
    z.SetExtractDir("/out");
    z.SetUseStoredDirs(c.UseStoredDirs);
    const std::string expected = *c.Expected ? std::string("/out/") + c.Expected : std::string();
    EXPECT_EQ(z.BuildDestName(c.Stored), expected);
  }
}

TEST(ZipCommon, ExtractDirKeepsATrailingSeparatorAndDefaultsToTheArchiveFolder) {
  TTempDir temp;
  const std::string archive = WriteBytes(temp, "a.rar", RarArchive());
  TZipCommon z;
  z.SetExtractDir("/some/where");
  EXPECT_EQ(z.ExtractDir(), "/some/where/");
  z.SetExtractDir("");
  EXPECT_EQ(z.ExtractDir(), "");
  z.SetArchiveFile(archive);
  z.SetExtractDir("");
  EXPECT_EQ(z.ExtractDir(), ExtractFilePath(archive));
  // Without any folder the destination goes below the current directory.
  TZipCommon bare;
  EXPECT_EQ(bare.BuildDestName("x.txt"), AddBackslash(fs::current_path().string()) + "x.txt");
}

TEST(ZipCommon, Percentages) {
  struct TCase {
    std::int64_t Done, Total;
    int Expected;
  } cases[] = {{0, 0, 0}, {5, 0, 0}, {5, -3, 0}, {1, 3, 33}, {2, 3, 67}, {1, 200, 1}, {1, 201, 0},
               {200, 100, 100}, {-5, 100, 0}, {100, 100, 100}};
  for (const auto& c : cases) EXPECT_EQ(TZipCommon::Percentage(c.Done, c.Total), c.Expected) << c.Done << "/" << c.Total;
}

TEST(ZipCommon, ProgressOfAZeroByteEntryIsZeroAndPumpsFirst) {
  TZipCommon z;
  std::vector<std::string> calls;
  z.PumpMessages = [&] { calls.push_back("pump"); };
  z.OnProgress = [&](TZipCommon*, std::uint8_t f, std::uint8_t a) {
    calls.push_back(std::to_string(f) + "/" + std::to_string(a));
  };
  z.DoProgress(0, 0, 1000, 250);
  EXPECT_EQ(calls, (std::vector<std::string>{"pump", "0/75"}));
  // A handler that throws does not end the run.
  z.OnProgress = [](TZipCommon*, std::uint8_t, std::uint8_t) { throw std::runtime_error("x"); };
  EXPECT_NO_THROW(z.DoProgress(1, 2, 0, 0));
}

TEST(ZipCommon, NextVolumeRequests) {
  TTempDir temp;
  const std::string second = WriteBytes(temp, "set.r00", RarArchive());
  TEventLog log;
  TZipCommon z;
  log.Attach(z);
  int asked = 0;
  std::vector<bool> exists;
  z.OnNextVolume = [&](TZipCommon*, std::string& name, const std::string& id, bool fExists, bool& cancel) {
    ++asked;
    exists.push_back(fExists);
    EXPECT_EQ(id, "3");
    if (asked == 2) name = second;  // the user points at the right file the second time
    cancel = false;
  };
  std::string name = "nowhere.r00";
  EXPECT_FALSE([&] {
    std::string n = name;
    return z.NextVolume(n, 1000);
  }());
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(log.Codes(), std::vector<int>{25251});
  std::string empty;
  EXPECT_FALSE(z.NextVolume(empty, 3));
  EXPECT_EQ(log.Codes().back(), 25244);

  z.SetVolumeNumber(3);
  std::string missing = temp.File("missing.r00");
  EXPECT_TRUE(z.NextVolume(missing, 3));
  EXPECT_EQ(missing, second);
  EXPECT_EQ(exists, (std::vector<bool>{false, false}));  // asked again while the file is missing
  EXPECT_EQ(z.VolumeNumber(), 4);

  // A handler that keeps Cancel set refuses; none at all is reported.
  z.OnNextVolume = [](TZipCommon*, std::string&, const std::string&, bool, bool&) {};
  std::string n2 = second;
  EXPECT_FALSE(z.NextVolume(n2, 3));
  z.OnNextVolume = nullptr;
  EXPECT_FALSE(z.NextVolume(n2, 3));
  EXPECT_EQ(log.Errors.back().Code, 25270);
  EXPECT_EQ(log.Errors.back().ExtendedMsg, "OnNextVolumeFile");
}

TEST(ZipCommon, CancelReportsAndTurnsErrorsIntoUserCanceled) {
  TEventLog log;
  TZipCommon z;
  log.Attach(z);
  try {
    z.RaiseError("f", "m", "0", 25235);
    FAIL() << "no exception";
  } catch (const E_RAISE& e) {
    EXPECT_EQ(e.MessageNumber(), 25235);
    EXPECT_EQ(e.Message(), "Error opening file");
  }
  z.SetCancel(true);
  EXPECT_TRUE(z.Cancel());
  EXPECT_NO_THROW(z.RaiseError("f", "m", "0", 25235));
  z.ReportError("f", "m", "0", 25151);
  EXPECT_EQ(log.Codes(), (std::vector<int>{25235, 25443, 25443, 25443}));
  // An error handler that cancels (again) is not called back without end.
  z.SetCancel(false);
  z.OnError = [&](TZipCommon* s, const std::string&, const std::string&, const std::string&, std::int32_t) {
    s->SetCancel(true);
    log.Errors.push_back({});
  };
  z.SetCancel(true);
  EXPECT_EQ(log.Errors.size(), 5u);
}

TEST(AknTimer, PausedTimeDoesNotCountAndPausesNest) {
  TStepClock clock;
  TaknTimer t(clock);
  t.Start();
  clock.Now += 1000;
  t.Pause();
  clock.Now += 500;
  t.Pause();  // an error report inside a paused event
  clock.Now += 500;
  t.Resume();
  clock.Now += 700;
  t.Resume();
  clock.Now += 1000;
  t.Stop();
  EXPECT_FLOAT_EQ(t.ElapsedTime(), 2.0f);
  // A stop while paused leaves the pause out too.
  t.Start();
  clock.Now += 300;
  t.Pause();
  clock.Now += 5000;
  t.Stop();
  EXPECT_FLOAT_EQ(t.ElapsedTime(), 0.3f);
  // Resume without a pause changes nothing.
  t.Start();
  t.Resume();
  clock.Now += 100;
  t.Stop();
  EXPECT_FLOAT_EQ(t.ElapsedTime(), 0.1f);
}

TEST(UnBase, MatchEntryNames) {
  struct TCase {
    std::vector<std::string> Masks;
    bool Recurse;
    const char* Name;
    bool Expected;
  } cases[] = {
      {{"*.*"}, true, "a.txt", true},
      {{"*.*"}, true, "dir\\readme", true},
      {{"*.*"}, true, "readme", true},
      {{"*.*"}, true, "dir/sub/x.bin", true},
      {{}, true, "a.txt", false},
      {{"*.txt"}, false, "a.txt", true},
      {{"*.txt"}, false, "dir\\a.txt", false},
      {{"vols\\*.txt"}, false, "vols/a.txt", true},
      {{"VOLS/*.TXT"}, false, "vols\\a.txt", true},
      {{"vols\\*.txt"}, false, "other/a.txt", false},
      {{"", "*.bin"}, true, "a.bin", true},
      {{"*.doc", "*.txt"}, true, "a.txt", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TUnBase b;
    b.SetFileSpec(c.Masks);
    b.SetRecurseDirs(c.Recurse);
    EXPECT_EQ(b.MatchEntryName(c.Name), c.Expected);
  }
}

TEST(UnBase, AcceptEntryFollowsTheOverwritePolicy) {
  TTempDir temp;
  const std::string existing = WriteBytes(temp, "a.txt", Text("old"));
  const std::string alsoExisting = WriteBytes(temp, "b.txt", Text("old"));
  const std::string fresh = temp.File("c.txt");
  TEventLog log;
  TScriptedUnBase b;
  log.Attach(b);

  // Directories pass without events or counting.
  int begins = 0;
  b.OnBegin = [&](TZipCommon*, const std::string&, std::int32_t, bool&) { ++begins; };
  EXPECT_TRUE(b.AcceptEntry(true));
  EXPECT_EQ(begins, 0);
  EXPECT_EQ(b.DoneCount(), 0);

  // OnBegin may refuse.
  b.FDestFileName = existing;
  b.OnBegin = [](TZipCommon*, const std::string&, std::int32_t, bool& extract) { extract = false; };
  EXPECT_FALSE(b.AcceptEntry(false));
  b.OnBegin = nullptr;

  // omSkip without confirmation refuses everything.
  b.SetOverwriteMode(omSkip);
  EXPECT_FALSE(b.AcceptEntry(false));
  b.SetOverwriteMode(omOverwrite);
  EXPECT_TRUE(b.AcceptEntry(false));
  EXPECT_EQ(b.DoneCount(), 1);

  // A new name that exists too is asked about again.
  b.SetConfirmOverwrites(true);
  std::vector<std::string> asked;
  b.OnFileExists = [&](TZipCommon*, const std::string& file, std::string& newName, TOverwriteMode&) {
    asked.push_back(file);
    newName = asked.size() == 1 ? alsoExisting : fresh;
  };
  b.FDestFileName = existing;
  EXPECT_TRUE(b.AcceptEntry(false));
  EXPECT_EQ(asked, (std::vector<std::string>{existing, alsoExisting}));
  EXPECT_EQ(b.DestFileName(), fresh);
  EXPECT_EQ(b.DoneCount(), 2);

  // Keeping the same name (in any case) overwrites it; a read-only one is made writable.
  ASSERT_TRUE(SetFileMode(existing, 0444));
  b.OnFileExists = [](TZipCommon*, const std::string& file, std::string& newName, TOverwriteMode&) {
    newName = file;
  };
  b.FDestFileName = existing;
  EXPECT_TRUE(b.AcceptEntry(false));
  EXPECT_EQ(*FileAttributes(existing) & faReadOnly, 0u);

  // The handler may choose to skip.
  b.OnFileExists = [](TZipCommon*, const std::string&, std::string&, TOverwriteMode& mode) { mode = omSkip; };
  EXPECT_FALSE(b.AcceptEntry(false));
  EXPECT_EQ(b.OverwriteMode(), omSkip);

  // Confirmation without a handler: reported, and every later entry is skipped.
  b.SetOverwriteMode(omOverwrite);
  b.OnFileExists = nullptr;
  b.FDestFileName = fresh;
  EXPECT_FALSE(b.AcceptEntry(false));
  EXPECT_EQ(log.Errors.back().Code, 25270);
  EXPECT_EQ(log.Errors.back().ExtendedMsg, "OnFileExists");
  EXPECT_EQ(b.OverwriteMode(), omSkip);
  EXPECT_FALSE(b.AcceptEntry(false));
}

TEST(UnBase, ExtractWithoutAnArchiveReports25192AndReturnsZero) {
  TEventLog log;
  TScriptedUnBase b;
  log.Attach(b);
  bool ran = false;
  b.Step = [&](TScriptedUnBase&) { ran = true; };
  EXPECT_EQ(b.Extract(), 0);
  EXPECT_FALSE(ran);
  EXPECT_EQ(log.Codes(), std::vector<int>{25192});
  EXPECT_EQ(log.Activations, 0);
  EXPECT_EQ(log.Deactivations, 0);
}

TEST(UnBase, ExtractDrivesOneRunAndNeverRaises) {
  TTempDir temp;
  const std::string archive = WriteBytes(temp, "a.rar", RarArchive());
  TEventLog log;
  TScriptedUnBase b;
  log.Attach(b);
  b.SetArchiveFile(archive);
  b.SetCpuType(cpt80486);
  float elapsed = -1;
  b.OnElapsedTime = [&](TZipCommon*, float seconds) { elapsed = seconds; };
  b.Step = [](TScriptedUnBase& self) {
    self.FToDoCount = 2;
    EXPECT_FALSE(self.Cancel());
    self.FDestFileName = "x";
    self.AcceptEntry(false);
    self.SetCancel(true);
    throw std::runtime_error("inside the archive step");
  };
  EXPECT_EQ(b.Extract(), 1);
  EXPECT_EQ(b.CpuType(), cptAuto);
  EXPECT_EQ(log.Activations, 1);
  EXPECT_EQ(log.Deactivations, 1);
  EXPECT_GE(elapsed, 0.0f);
  EXPECT_EQ(log.Codes(), std::vector<int>{25443});
  EXPECT_EQ(b.ArchiveFile(), archive);
  // The next run starts uncancelled.
  b.Step = [](TScriptedUnBase& self) { EXPECT_FALSE(self.Cancel()); };
  EXPECT_EQ(b.Extract(), 0);
}

TEST(DiskManager, DriveChecks) {
  TEventLog log;
  TZipCommon z;
  log.Attach(z);
  TDiskManager& d = z.DiskManager();
  d.Drives = [] {
    return std::vector<TDriveInfo>{{"/", "ext4", "/dev/sda1", TDriveType::Fixed, false},
                                   {"/media/cd", "iso9660", "/dev/sr0", TDriveType::CDRom, true}};
  };
  bool volumeReadable = true;
  d.VolumeInfo = [&](const std::string&) { return volumeReadable; };
  EXPECT_TRUE(d.Check("/home/u/a.rar"));
  EXPECT_EQ(d.Drive(), "/");

  EXPECT_FALSE(d.Check("/media/cd/a.rar"));
  EXPECT_EQ(log.Errors.back().Code, 25171);
  EXPECT_EQ(log.Errors.back().FileName, "/media/cd");

  // A path no listed mount holds: the file system itself decides.
  d.Drives = [] { return std::vector<TDriveInfo>{}; };
  std::optional<bool> unlisted;
  d.UnlistedMount = [&](const std::string&) { return unlisted; };
  EXPECT_FALSE(d.Check("/home/u/a.rar"));
  EXPECT_EQ(log.Errors.back().Code, 25170);
  unlisted = true;
  EXPECT_FALSE(d.Check("/home/u/a.rar"));
  EXPECT_EQ(log.Errors.back().Code, 25171);
  const size_t errors = log.Errors.size();
  unlisted = false;
  EXPECT_TRUE(d.Check("/home/u/a.rar"));
  EXPECT_EQ(log.Errors.size(), errors);
}

// A target folder that does not exist yet is judged by its nearest existing folder.
TEST(DiskManager, TheFileSystemAnswersForAFolderNotMadeYet) {
  const std::string tmp = std::filesystem::temp_directory_path().string();
  EXPECT_EQ(PathIsOnReadOnlyMount(tmp), std::optional<bool>(false));
  EXPECT_EQ(PathIsOnReadOnlyMount(tmp + "/no/such/folder/yet/"), std::optional<bool>(false));
}

TEST(DiskManager, UnreadableVolumeAsksRetryOrCancel) {
  TEventLog log;
  TZipCommon z;
  log.Attach(z);
  TDiskManager& d = z.DiskManager();
  d.Drives = [] { return std::vector<TDriveInfo>{{"/mnt/usb", "vfat", "/dev/sdb1", TDriveType::Removable, false}}; };
  int queries = 0;
  d.VolumeInfo = [&](const std::string&) { return ++queries >= 3; };
  std::vector<std::string> texts;
  d.RetryCancelBox = [&](const std::string& text) {
    texts.push_back(text);
    return true;
  };
  EXPECT_TRUE(d.Check("/mnt/usb/a.rar"));
  EXPECT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].rfind("/mnt/usb/is not accessible\r\n\r\n", 0), 0u) << texts[0];
  EXPECT_TRUE(log.Errors.empty());

  queries = -100;
  d.RetryCancelBox = [&](const std::string&) { return false; };
  EXPECT_FALSE(d.Check("/mnt/usb/a.rar"));
  EXPECT_EQ(log.Codes(), std::vector<int>{25170});
  // Without anyone to ask, the answer is Cancel.
  d.RetryCancelBox = nullptr;
  EXPECT_FALSE(d.Check("/mnt/usb/a.rar"));
}

TEST(DiskManager, TheRealDriveOfATempFolderPasses) {
  TTempDir temp;
  TZipCommon z;
  EXPECT_TRUE(z.DiskManager().Check(temp.File("a.rar")));
}

TEST(UnBase, AFailedDriveCheckEndsTheRunBeforeOnActivate) {
  TTempDir temp;
  const std::string archive = WriteBytes(temp, "a.rar", RarArchive());
  TEventLog log;
  TScriptedUnBase b;
  log.Attach(b);
  b.SetArchiveFile(archive);
  b.DiskManager().Drives = [] { return std::vector<TDriveInfo>{{"/", "ext4", "/dev/sda1", TDriveType::Fixed, true}}; };
  bool ran = false;
  b.Step = [&](TScriptedUnBase&) { ran = true; };
  EXPECT_EQ(b.Extract(), 0);
  EXPECT_FALSE(ran);
  EXPECT_EQ(log.Codes(), std::vector<int>{25171});
  EXPECT_EQ(log.Activations, 0);
}
