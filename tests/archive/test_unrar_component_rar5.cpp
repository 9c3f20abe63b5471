// TUnRar on RAR 5 archives against our libunrar.so: every sample of the collection from
// read-only copies, links reported as skipped files, hard links and copies counted, folders
// never made through a link, and the hostile traversal sample writing nothing outside.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "Rar5Writer.h"
#include "ReadOnlyInput.h"
#include "TempDir.h"
#include "UnRarTestSupport.h"
#include "archive/aknUnRar.h"

namespace fs = std::filesystem;

namespace {

const std::string Rar5Dir = std::string(TALLYRA_TESTDATA_DIR) + "/rar5";

// A file entry as the RAR 5 MANIFEST lists it.
struct TListedFile {
  std::string Name, Crc;  // Crc "-" when the header has none (a BLAKE2sp hash instead)
  uint64_t Size = 0;
  bool Directory = false, SplitBefore = false, Encrypted = false, Link = false;
};

// Archive (relative to rar5/) -> its files.
std::map<std::string, std::vector<TListedFile>> Rar5Manifest() {
  std::map<std::string, std::vector<TListedFile>> archives;
  std::ifstream in(Rar5Dir + "/MANIFEST.md");
  std::string line, current;
  auto field = [&line](const std::string& key) {
    const auto at = line.find(" " + key + "=");
    if (at == std::string::npos) return std::string();
    const auto start = at + key.size() + 2;
    return line.substr(start, line.find(' ', start) - start);
  };
  while (std::getline(in, line)) {
    if (line.rfind("== ", 0) == 0) {
      current = line.find("marker at") == std::string::npos ? std::string() : line.substr(3, line.find(' ', 3) - 3);
      if (!current.empty()) archives[current];
      continue;
    }
    if (current.empty() || line.find(" type=FILE ") == std::string::npos) continue;
    TListedFile f;
    const auto nameAt = line.find(" name=") + 6;
    f.Name = line.substr(nameAt, line.find(" dir=", nameAt) - nameAt);
    f.Crc = field("crc");
    f.Size = std::stoull(field("unp"));
    f.Directory = field("dir") == "True";
    f.SplitBefore = line.find(" split_before") != std::string::npos;
    f.Encrypted = line.find("crypt(") != std::string::npos;
    f.Link = line.find("redir=") != std::string::npos;
    archives[current].push_back(f);
  }
  return archives;
}

// The MANIFEST names archives by their own folder's file name.
std::string SamplePath(const std::string& name) {
  for (const char* folder : {"/rarfile/", "/libarchive/"})
    if (fs::exists(Rar5Dir + folder + name)) return Rar5Dir + folder + name;
  return {};
}

// The numbers the samples that do not come out whole report: encrypted entries and headers
// (26517), links that are not made (26800); the malformed ones only need to report something.
const std::map<std::string, std::vector<int>> Rar5Reports = {
    {"rar5-evil-symlink-traversal.rar", {26800}},
    {"rar5-symlink-unix.rar", {26800}},
    {"rar5-symlink-win.rar", {26800, 26800, 26800, 26800}},
};
const std::set<std::string> Rar5Encrypted = {
    "rar5-hpsw.rar", "rar5-psw.rar", "rar5-psw-blake.rar", "test_read_format_rar5_encrypted.rar",
    "test_read_format_rar5_encrypted_filenames.rar", "test_read_format_rar5_solid_encrypted.rar",
    "test_read_format_rar5_solid_encrypted_filenames.rar", "test_read_format_rar5_only_crypt_exfld.rar"};

bool Malformed(const std::string& name) {
  static const std::set<std::string> names = {
      "bad_tables", "bad_window_sz_in_mltarc_file", "block_size_is_too_small", "bytes_remaining_underflow",
      "data_ready_pointer_leak", "decode_number_out_of_bounds_read", "different_solid_window_size",
      "different_window_size", "different_winsize_on_merge", "dirdata", "distance_overflow", "invalid_dict_reference",
      "invalid_hash_valid_htime_exfld", "leftshift1", "leftshift2", "loop_bug", "nonempty_dir_stream",
      "owner_name_toolong", "readtables_overflow", "truncated_huff", "unpacked_size_exceeds_declared",
      "unsupported_exfld", "window_buf_and_size_desync", "arm_filter_on_window_boundary"};
  const std::string prefix = "test_read_format_rar5_";
  if (name.rfind(prefix, 0) != 0) return false;
  return names.count(name.substr(prefix.size(), name.size() - prefix.size() - 4)) > 0;
}

class UnRarComponentRar5 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(InitUnRarLibrary(UNRAR_LIB_DIR)); }
  static void TearDownTestSuite() { DoneUnRarLibrary(); }
  void SetUp() override {
    Out = Temp.File("out");
    fs::create_directories(Out);
  }
  void Prepare(TUnRar& u, const std::string& archive) {
    Log.Attach(u);
    u.SetArchiveFile(archive);
    u.SetExtractDir(Out);
    u.SetFileSpec({"*.*"});
    u.SetCreateStoredDirs(true);
    u.OnNextVolume = [](TZipCommon*, std::string&, const std::string&, bool exists, bool& cancel) { cancel = !exists; };
    u.OnEnd = [this](TZipCommon*, const std::string& file, bool pass) { Log.Ends.push_back({file, pass}); };
  }
  TTempDir Temp;
  std::string Out;
  TEventLog Log;
};

// Every RAR 5 sample from read-only copies: the valid ones come out whole (each file with the
// CRC-32 its header records, every verdict passed), the others report what kept them from it;
// the archives stay as they were and nothing lands outside the target.
TEST_F(UnRarComponentRar5, EverySampleExtractsOrFailsCleanlyFromReadOnlyCopies) {
  int whole = 0, checkedFiles = 0;
  for (const auto& [name, files] : Rar5Manifest()) {
    if (name.find(".part2.") != std::string::npos || name.find(".part3.") != std::string::npos) continue;
    SCOPED_TRACE(name);
    for (const auto& e : fs::directory_iterator(Temp.Path())) {
      fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add);
      fs::remove_all(e.path());
    }
    fs::create_directories(Out);
    Log = {};
    std::vector<std::string> set = {SamplePath(name)};
    if (name.find(".part1.") != std::string::npos)
      for (const char* part : {".part2.rar", ".part3.rar"})
        set.push_back(SamplePath(name.substr(0, name.find(".part1.")) + part));
    const std::string in = Temp.File("in");
    MakeReadOnlyCopies(set, in);
    const auto before = FileStates(in);
    TUnRar u;
    Prepare(u, in + "/" + name);
    const std::int32_t done = u.Extract();
    EXPECT_TRUE(FileStates(in) == before);
    std::set<std::string> top;
    for (const auto& entry : fs::directory_iterator(Temp.Path())) top.insert(entry.path().filename().string());
    EXPECT_EQ(top, (std::set<std::string>{"in", "out"}));
    const bool encrypted = Rar5Encrypted.count(name) > 0;
    if (Malformed(name) || encrypted) {
      EXPECT_FALSE(Log.Errors.empty());
      if (encrypted) {
        EXPECT_EQ(Log.Codes().back(), 26517);
      }
      continue;
    }
    const auto reports = Rar5Reports.find(name);
    EXPECT_EQ(Log.Codes(), reports == Rar5Reports.end() ? std::vector<int>{} : reports->second);
    for (const auto& end : Log.Ends) EXPECT_TRUE(end.second) << end.first;
    EXPECT_TRUE(u.ReachedEnd());
    // A name stored several times (file versions) ends up as its last entry.
    std::map<std::string, const TListedFile*> last;
    for (const TListedFile& f : files)
      if (!f.Directory && !f.SplitBefore && !f.Link) last[f.Name] = &f;
    for (const auto& [fileName, listed] : last) {
      const TListedFile& f = *listed;
      const std::string path = Out + "/" + f.Name;
      const std::string data = FileContents(path);
      EXPECT_EQ(data.size(), f.Size) << f.Name;
      // A split file's first header holds its first part's CRC; the set's test checks the file.
      if (f.Crc != "-" && name.find(".part1.") == std::string::npos) {
        EXPECT_EQ(RarTestCrc(data), std::stoul(f.Crc, nullptr, 16)) << f.Name;
      }
      ++checkedFiles;
    }
    // Every file that is not a skipped link counts.
    const int skipped = reports == Rar5Reports.end() ? 0 : int(reports->second.size());
    EXPECT_EQ(done + skipped, u.EntriesFound());
    if (reports == Rar5Reports.end()) ++whole;
  }
  EXPECT_GE(whole, 25);
  EXPECT_GE(checkedFiles, 60);
}

// The component's own folders: a folder of the entry's path that is a link is never passed
// through; the entry is reported as a file that could not be made, with the reason.
TEST_F(UnRarComponentRar5, NoFolderOrFileIsMadeThroughALink) {
  const std::string outside = Temp.File("outside");
  fs::create_directories(outside);
  fs::create_directory_symlink(outside, Out + "/up");
  std::ofstream(outside + "/victim.txt") << "victim";
  fs::create_symlink(outside + "/victim.txt", Out + "/file.txt");
  TRar5RawFile deep, plain;
  deep.Name = "up/new/pwned.txt";
  deep.Packed = "pwned";
  deep.UnpSize = 5;
  deep.Crc = RarTestCrc("pwned");
  plain.Name = "file.txt";
  plain.Packed = "new";
  plain.UnpSize = 3;
  plain.Crc = RarTestCrc("new");
  std::ofstream(Temp.File("a.rar"), std::ios::binary) << Rar5RawArchive({deep, plain});
  TUnRar u;
  Prepare(u, Temp.File("a.rar"));
  EXPECT_EQ(u.Extract(), 1);
  ASSERT_EQ(Log.Errors.size(), 1u);
  EXPECT_EQ(Log.Errors[0].Code, 25237);
  EXPECT_EQ(Log.Errors[0].FileName, Out + "/up/new/pwned.txt");
  EXPECT_EQ(Log.Errors[0].ExtendedMsg, "Too many levels of symbolic links");
  EXPECT_EQ(FileContents(Out + "/file.txt"), "new");
  EXPECT_FALSE(fs::is_symlink(Out + "/file.txt"));
  EXPECT_EQ(FileContents(outside + "/victim.txt"), "victim");
  std::vector<std::string> there;
  for (const auto& e : fs::directory_iterator(outside)) there.push_back(e.path().filename().string());
  EXPECT_EQ(there, std::vector<std::string>{"victim.txt"});
}

// The hostile sample, and the same with a link "up" leading out already in the target: the link
// is reported as skipped (26800, with its target), and nothing is written outside.
TEST_F(UnRarComponentRar5, TheTraversalSampleWritesNothingOutside) {
  const std::string outside = Temp.File("outside");
  for (bool linkThere : {false, true}) {
    SCOPED_TRACE(linkThere);
    fs::remove_all(Out);
    fs::remove_all(outside);
    fs::create_directories(Out);
    fs::create_directories(outside);
    if (linkThere) fs::create_directory_symlink(outside, Out + "/up");
    Log = {};
    TUnRar u;
    Prepare(u, SamplePath("rar5-evil-symlink-traversal.rar"));
    EXPECT_EQ(u.Extract(), linkThere ? 0 : 1);
    ASSERT_GE(Log.Errors.size(), 1u);
    EXPECT_EQ(Log.Errors[0].Code, 26800);
    EXPECT_EQ(Log.Errors[0].FileName, Out + "/up");
    EXPECT_EQ(Log.Errors[0].ExtendedMsg, "..");
    if (linkThere) {
      ASSERT_EQ(Log.Errors.size(), 2u);
      EXPECT_EQ(Log.Errors[1].Code, 25237);
    } else {
      EXPECT_EQ(RarTestCrc(FileContents(Out + "/up/pwned.txt")), 0xc0327d47u);
    }
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_FALSE(fs::exists(Temp.File("pwned.txt")));
  }
}

}  // namespace
