// Links through the C ABI: symbolic links made only when they stay inside the destination, hard
// links and copies made of files the handle extracted, the rest skipped, and nothing ever
// written through a link, for RAR 5 redirection records and RAR 1.5-4.x Unix links alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

#include "Rar5Writer.h"
#include "RarWriter.h"
#include "UnrarTestSupport.h"

namespace fs = std::filesystem;

namespace {

enum : uint64_t { UnixLink = 1, WindowsLink = 2, Junction = 3, HardLink = 4, FileCopy = 5 };

struct TDone {
  std::string Name;
  int Result = 0;
  int Errno = 0;
  unsigned RedirType = 0, HashType = 0, DirTarget = 0;
  std::wstring RedirName;
  uint32_t DataCrc = 0;
};

// Every entry of `archive` extracted with RARProcessFile, into destPath or, with `byName`, to
// the full name the caller builds as the component does (dest + '/' + entry name).
std::vector<TDone> ExtractAll(const std::string& archive, const std::string& dest, bool byName = false) {
  std::vector<TDone> done;
  TOpenedArchive opened(archive);
  void* handle = opened.Handle;
  if (!handle) return done;
  auto record = std::make_unique<RARHeaderDataEx>();
  std::vector<wchar_t> target(1024);
  for (;;) {
    record->RedirName = target.data();
    record->RedirNameSize = unsigned(target.size());
    const int rc = RARReadHeaderEx(handle, record.get());
    if (rc != ERAR_SUCCESS) break;
    TDone d;
    d.Name = record->FileName;
    d.RedirType = record->RedirType;
    d.HashType = record->HashType;
    d.DirTarget = record->DirTarget;
    d.RedirName = target.data();
    Log().ResetEntry();
    std::string path = dest, full = dest + "/" + d.Name;
    errno = 0;
    d.Result = RARProcessFile(handle, RAR_EXTRACT, byName ? nullptr : path.data(), byName ? full.data() : nullptr);
    d.Errno = errno;
    d.DataCrc = Log().Crc;
    done.push_back(d);
  }
  return done;
}

TRar5RawFile Stored(const std::string& name, const std::string& data) {
  TRar5RawFile f;
  f.Name = name;
  f.UnpSize = data.size();
  f.Crc = RarTestCrc(data);
  f.Packed = data;
  return f;
}

TRar5RawFile Link(const std::string& name, uint64_t type, const std::string& target, bool toDirectory = false) {
  TRar5RawFile f;
  f.Name = name;
  f.UnpSize = type == HardLink || type == FileCopy ? 0 : target.size();
  f.Attr = 0120777;
  f.Directory = toDirectory;
  f.Extra = Rar5RedirectionRecord(type, target, toDirectory);
  return f;
}

// Everything under a folder, links not followed.
std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(dir)) names.push_back(e.path().lexically_relative(dir).string());
  std::sort(names.begin(), names.end());
  return names;
}

bool IsLink(const std::string& path) { return fs::is_symlink(fs::symlink_status(path)); }

class UnrarLinks : public ::testing::Test {
 protected:
  void SetUp() override {
    Log() = TCallbackLog{};
    Dest = Root.File("dest");
    Outside = Root.File("outside");
    fs::create_directories(Dest);
    fs::create_directories(Outside);
  }
  std::string Write(const std::vector<TRar5RawFile>& files) {
    return Src.Write("links.rar", Rar5RawArchive(files));
  }
  TTempDir Src, Root;
  std::string Dest, Outside;
};

TEST_F(UnrarLinks, SymbolicLinksAreMadeOnlyWhenTheyStayInside) {
  // A link of the user's in the destination that leads out.
  fs::create_directory_symlink(Outside, Dest + "/outward");
  struct TCase {
    const char* Name;
    uint64_t Type;
    const char* Target;
    int Result;
  } cases[] = {
      {"same.lnk", UnixLink, "file.txt", ERAR_SUCCESS},
      {"sub/up.lnk", UnixLink, "../file.txt", ERAR_SUCCESS},
      {"sub/deep/back.lnk", UnixLink, "../../sub", ERAR_SUCCESS},
      {"hop.lnk", UnixLink, "sub/..", ERAR_SUCCESS},          // the destination itself
      {"missing.lnk", UnixLink, "not/yet/there", ERAR_SUCCESS},
      {"abs.lnk", UnixLink, "/etc/passwd", ERAR_SKIPPED_LINK},
      {"esc.lnk", UnixLink, "../escape", ERAR_SKIPPED_LINK},
      {"sub/esc.lnk", UnixLink, "../../escape", ERAR_SKIPPED_LINK},
      {"dots.lnk", UnixLink, "sub/../../escape", ERAR_SKIPPED_LINK},
      {"chain.lnk", UnixLink, "hop.lnk/../x", ERAR_SKIPPED_LINK},   // through a link this run made
      {"through.lnk", UnixLink, "outward/x", ERAR_SKIPPED_LINK},    // through one that was there
      {"empty.lnk", UnixLink, "", ERAR_SKIPPED_LINK},
      {"win.lnk", WindowsLink, "file.txt", ERAR_SKIPPED_LINK},
      {"junction", Junction, "/?\?/C:/Users", ERAR_SKIPPED_LINK},
      {"unknown.lnk", 9, "file.txt", ERAR_SKIPPED_LINK},
  };
  std::vector<TRar5RawFile> files = {Stored("file.txt", "the file")};
  for (const auto& c : cases) files.push_back(Link(c.Name, c.Type, c.Target, c.Type == Junction));
  auto done = ExtractAll(Write(files), Dest);
  ASSERT_EQ(done.size(), files.size());
  EXPECT_EQ(done[0].Result, ERAR_SUCCESS);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const TCase& c = cases[i];
    const TDone& d = done[i + 1];
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(d.Result, c.Result);
    EXPECT_EQ(d.RedirType, unsigned(c.Type == 9 ? 0xFF : c.Type));
    EXPECT_EQ(d.HashType, unsigned(RAR_HASH_NONE));
    EXPECT_EQ(d.RedirName, c.Type == 9 ? L"" : std::wstring(c.Target, c.Target + std::strlen(c.Target)));
    EXPECT_EQ(d.DirTarget, c.Type == Junction ? 1u : 0u);
    const std::string at = Dest + "/" + c.Name;
    if (c.Result == ERAR_SUCCESS) {
      ASSERT_TRUE(IsLink(at));
      EXPECT_EQ(fs::read_symlink(at).string(), c.Target);
    } else {
      EXPECT_FALSE(fs::exists(fs::symlink_status(at)));
    }
  }
  EXPECT_EQ(ReadWholeFile(Dest + "/same.lnk"), "the file");
  EXPECT_TRUE(fs::is_empty(Outside));
}

// The component names each file in full: the root is what is left once the entry's own path is
// taken off, so a link may climb its own folders but no further.
TEST_F(UnrarLinks, TheRootIsWhatTheFullNameLeavesOfTheEntrysPath) {
  std::string archive = Write({Stored("file.txt", "x"), Link("a/b/up.lnk", UnixLink, "../../file.txt"),
                               Link("a/b/out.lnk", UnixLink, "../../../file.txt")});
  auto done = ExtractAll(archive, Dest, true);
  ASSERT_EQ(done.size(), 3u);
  EXPECT_EQ(done[1].Result, ERAR_SUCCESS);
  EXPECT_EQ(done[2].Result, ERAR_SKIPPED_LINK);
  EXPECT_EQ(ReadWholeFile(Dest + "/a/b/up.lnk"), "x");

  // A name that does not end in the entry's path has its own folder as root.
  TOpenedArchive opened(archive);
  ASSERT_NE(opened.Handle, nullptr);
  RARHeaderData header{};
  ASSERT_EQ(RARReadHeader(opened.Handle, &header), ERAR_SUCCESS);
  EXPECT_EQ(RARProcessFile(opened.Handle, RAR_SKIP, nullptr, nullptr), ERAR_SUCCESS);
  ASSERT_EQ(RARReadHeader(opened.Handle, &header), ERAR_SUCCESS);
  std::string renamed = Dest + "/x/y/renamed.lnk";
  EXPECT_EQ(RARProcessFile(opened.Handle, RAR_EXTRACT, nullptr, renamed.data()), ERAR_SKIPPED_LINK);
  EXPECT_FALSE(fs::exists(fs::symlink_status(renamed)));
}

TEST_F(UnrarLinks, HardLinksAndCopiesBecomeCopiesOfWhatWasExtracted) {
  std::ofstream(Dest + "/before.txt") << "a file that was there before";
  const std::string data = "the original, copied twice";
  auto hard = Link("hard.txt", HardLink, "orig.txt"), copy = Link("sub/copy.txt", FileCopy, "./orig.txt");
  hard.UnpSize = copy.UnpSize = data.size();
  auto dangling = Link("dangling.txt", HardLink, "never.txt");
  auto disk = Link("fromdisk.txt", FileCopy, "before.txt");
  auto passwd = Link("passwd.txt", HardLink, "../../../../etc/passwd");
  auto done = ExtractAll(Write({Stored("orig.txt", data), hard, copy, dangling, disk, passwd}), Dest);
  ASSERT_EQ(done.size(), 6u);
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(done[i].Name);
    EXPECT_EQ(done[i].Result, ERAR_SUCCESS);
    // The copy's data reaches the callback like any file's.
    EXPECT_EQ(done[i].DataCrc, RarTestCrc(data));
  }
  EXPECT_EQ(ReadWholeFile(Dest + "/hard.txt"), data);
  EXPECT_EQ(ReadWholeFile(Dest + "/sub/copy.txt"), data);
  EXPECT_FALSE(IsLink(Dest + "/hard.txt"));
  // Copies: changing one leaves the others as they were.
  struct stat a {}, b {};
  ASSERT_EQ(::stat((Dest + "/orig.txt").c_str(), &a), 0);
  ASSERT_EQ(::stat((Dest + "/hard.txt").c_str(), &b), 0);
  EXPECT_NE(a.st_ino, b.st_ino);
  for (size_t i = 3; i < 6; ++i) {
    SCOPED_TRACE(done[i].Name);
    EXPECT_EQ(done[i].Result, ERAR_EREFERENCE);
    EXPECT_FALSE(fs::exists(Dest + "/" + done[i].Name));
  }
}

// A link already in the destination is never passed through: not as a folder of the entry's
// path, not for a folder entry, and a link in a file's place is replaced rather than followed.
TEST_F(UnrarLinks, NothingIsWrittenThroughALink) {
  fs::create_directory_symlink(Outside, Dest + "/up");
  std::ofstream(Outside + "/victim.txt") << "victim";
  fs::create_symlink(Outside + "/victim.txt", Dest + "/file.txt");
  auto folder = Stored("up/made", "");
  folder.Directory = true;
  folder.Attr = 040755;
  auto done = ExtractAll(Write({Stored("up/pwned.txt", "pwned"), folder, Stored("file.txt", "new content")}), Dest);
  ASSERT_EQ(done.size(), 3u);
  EXPECT_EQ(done[0].Result, ERAR_ECREATE);
  EXPECT_EQ(done[0].Errno, ELOOP);
  EXPECT_EQ(done[1].Result, ERAR_ECREATE);
  EXPECT_EQ(done[2].Result, ERAR_SUCCESS);
  EXPECT_FALSE(IsLink(Dest + "/file.txt"));
  EXPECT_EQ(ReadWholeFile(Dest + "/file.txt"), "new content");
  EXPECT_EQ(ReadWholeFile(Outside + "/victim.txt"), "victim");
  EXPECT_EQ(Listing(Outside), std::vector<std::string>{"victim.txt"});
}

// The hostile sample: a link "up" to ".." and then "up/pwned.txt". The link is skipped, the
// file lands inside in a real folder; with a link "up" leading out already there, the file is
// refused.
TEST_F(UnrarLinks, TheTraversalSampleWritesNothingOutside) {
  const std::string sample = TestDataPath("rar5/rarfile/rar5-evil-symlink-traversal.rar");
  for (bool linkThere : {false, true}) {
    SCOPED_TRACE(linkThere);
    fs::remove_all(Dest);
    fs::create_directories(Dest);
    if (linkThere) fs::create_directory_symlink(Outside, Dest + "/up");
    auto done = ExtractAll(sample, Dest);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].Result, ERAR_SKIPPED_LINK);
    EXPECT_EQ(done[0].RedirName, L"..");
    EXPECT_EQ(done[1].Result, linkThere ? ERAR_ECREATE : ERAR_SUCCESS);
    if (!linkThere) {
      EXPECT_FALSE(IsLink(Dest + "/up"));
      EXPECT_EQ(RarTestCrc(ReadWholeFile(Dest + "/up/pwned.txt")), 0xc0327d47u);
    }
    EXPECT_TRUE(fs::is_empty(Outside));
    EXPECT_EQ(Listing(Root.Path()), linkThere ? (std::vector<std::string>{"dest", "dest/up", "outside"})
                                              : (std::vector<std::string>{"dest", "dest/up", "dest/up/pwned.txt",
                                                                          "outside"}));
  }
}

// RAR 1.5-4.x Unix links keep their target as data: checked as any data, then made a link when
// it stays inside, else skipped; a damaged target is never made into a link.
TEST_F(UnrarLinks, Rar4UnixLinksFollowTheSameRules) {
  auto link = [](const std::string& name, const std::string& target) {
    TRarTestEntry e;
    e.Name = name;
    e.Data = target;
    e.HostOS = 3;
    e.Attr = 0xA1FF;
    return e;
  };
  TRarTestEntry data;
  data.Name = "data";
  data.Data = "the data";
  auto damaged = link("damaged", "data");
  damaged.BreakDataCrc = true;
  std::vector<TRarTestEntry> entries = {data, link("link", "data"), link("sub\\up", "../data"),
                                        link("bad", "../../etc"), link("long", std::string(5000, 'a')), damaged};
  const std::string archive = WriteRarArchive(Src.File("four.rar"), entries).front();
  auto listed = RunArchive(archive, RAR_EXTRACT, Dest);
  ASSERT_EQ(listed.size(), entries.size());
  const int results[] = {ERAR_SUCCESS, ERAR_SUCCESS, ERAR_SUCCESS, ERAR_SKIPPED_LINK, ERAR_SKIPPED_LINK,
                         ERAR_BAD_DATA};
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(entries[i].Name);
    EXPECT_EQ(listed[i].ProcessResult, results[i]);
    // The mode is reported as a file's attributes; the target is what the callback receives.
    if (i > 0) {
      EXPECT_EQ(listed[i].Header.FileAttr, 0x20u);
    }
    EXPECT_EQ(listed[i].DataCrc, RarTestCrc(entries[i].Data));
  }
  ASSERT_TRUE(IsLink(Dest + "/link"));
  EXPECT_EQ(fs::read_symlink(Dest + "/link"), "data");
  EXPECT_EQ(ReadWholeFile(Dest + "/sub/up"), "the data");
  for (const char* absent : {"bad", "long", "damaged"}) EXPECT_FALSE(fs::exists(fs::symlink_status(Dest + "/" + absent)));
}

// The real samples with links: what is made, copied and skipped.
TEST_F(UnrarLinks, TheRealSamples) {
  struct TCase {
    const char* Sample;
    std::vector<std::pair<std::string, int>> Results;
    std::vector<std::pair<std::string, std::string>> Links;  // made, with their targets
    std::vector<std::string> Copies;                         // of a 2048-byte file, CRC c5b7e6a2
  } cases[] = {
      {"rarfile/rar5-symlink-unix.rar",
       {{"data_link", 0}, {"data.txt", 0}, {"random_link", ERAR_SKIPPED_LINK}},
       {{"data_link", "data.txt"}},
       {}},
      {"rarfile/rar5-hlink.rar", {{"stest1.txt", 0}, {"stest2.txt", 0}, {"stest3.txt", 0}}, {}, {"stest2.txt", "stest3.txt"}},
      {"rarfile/rar5-dups.rar",
       {{"stest1.txt", 0}, {"stest2.txt", 0}, {"stest3.txt", 0}, {"stest4.txt", 0}, {"stest5.txt", 0},
        {"stest6.txt", 0}, {"stest7.txt", 0}, {"stest8.txt", 0}, {"stest9.txt", 0}},
       {},
       {"stest2.txt", "stest9.txt"}},
      {"rarfile/rar5-symlink-win.rar",
       {{"content/file.txt", 0}, {"links/bad_link", ERAR_SKIPPED_LINK}, {"links/file_link", ERAR_SKIPPED_LINK},
        {"content/dir1", 0}, {"content/dir2", 0}, {"links/dir_junction", ERAR_SKIPPED_LINK},
        {"links/dir_link", ERAR_SKIPPED_LINK}, {"content", 0}, {"links", 0}},
       {},
       {}},
      {"libarchive/test_read_format_rar5_symlink.rar",
       {{"file.txt", 0}, {"symlink.txt", 0}, {"dirlink", 0}, {"dir", 0}},
       {{"symlink.txt", "file.txt"}, {"dirlink", "dir"}},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Sample);
    fs::remove_all(Dest);
    fs::create_directories(Dest);
    auto done = ExtractAll(TestDataPath(std::string("rar5/") + c.Sample), Dest);
    ASSERT_EQ(done.size(), c.Results.size());
    for (size_t i = 0; i < done.size(); ++i) {
      EXPECT_EQ(done[i].Name, c.Results[i].first);
      EXPECT_EQ(done[i].Result, c.Results[i].second) << done[i].Name;
    }
    for (const auto& [name, target] : c.Links) EXPECT_EQ(fs::read_symlink(Dest + "/" + name).string(), target);
    for (const std::string& name : c.Copies) {
      const std::string copied = ReadWholeFile(Dest + "/" + name);
      EXPECT_EQ(copied.size(), 2048u) << name;
      EXPECT_EQ(RarTestCrc(copied), 0xc5b7e6a2u) << name;
    }
    for (const auto& [name, result] : c.Results) {
      if (result == ERAR_SKIPPED_LINK) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(Dest + "/" + name))) << name;
      }
    }
  }
}

}  // namespace
