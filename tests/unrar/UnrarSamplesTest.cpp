// Every real archive of the shared test data, listed and unpacked through the C ABI and held
// against the MANIFEST's own description of its headers.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <map>

#include "RarWriter.h"
#include "UnrarTestSupport.h"

namespace {

struct TManifestEntry {
  std::string Name;
  unsigned Flags = 0, Pack = 0, Unp = 0, Host = 0, Crc = 0, UnpVer = 0, Method = 0, Attr = 0;
  bool SplitBefore = false, Encrypted = false, Directory = false;
  uint32_t WholeCrc = 0;  // the CRC of the last part, which covers the whole file
};

struct TManifestArchive {
  std::string Path;
  bool FirstBlockIsMain = false;
  bool HeadersEncrypted = false;
  std::vector<TManifestEntry> Files;
};

std::string Field(const std::string& line, const std::string& key) {
  size_t at = line.find(" " + key + "=");
  if (at == std::string::npos) at = line.find("," + key + "=");
  if (at == std::string::npos) return {};
  at += key.size() + 2;
  size_t end = line.find(", ", at);
  return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

unsigned HostCode(const std::string& host) {
  static const std::map<std::string, unsigned> codes = {{"MSDOS", 0}, {"OS2", 1}, {"WIN32", 2}, {"UNIX", 3}};
  auto found = codes.find(host);
  return found == codes.end() ? 99 : found->second;
}

std::vector<TManifestArchive> ReadManifest() {
  std::ifstream in(TestDataPath("rar/MANIFEST.md"));
  std::vector<TManifestArchive> archives;
  std::string line;
  bool firstBlock = false;
  while (std::getline(in, line)) {
    if (line.rfind("== ", 0) == 0) {
      archives.emplace_back();
      archives.back().Path = line.substr(3, line.find(' ', 3) - 3);
      firstBlock = true;
      continue;
    }
    if (archives.empty() || line.find(" type=") == std::string::npos) continue;
    std::string type = Field(line, "type");
    if (firstBlock) archives.back().FirstBlockIsMain = type == "MAIN";
    firstBlock = false;
    if (type == "MAIN" && Field(line, "hdr_encrypted") == "True") archives.back().HeadersEncrypted = true;
    if (type != "FILE") continue;
    TManifestEntry e;
    size_t nameAt = line.find(" name=") + 6;
    e.Name = line.substr(nameAt, line.find(", pack=", nameAt) - nameAt);
    e.Flags = unsigned(std::stoul(Field(line, "flags")));
    e.Pack = unsigned(std::stoull(Field(line, "pack")));
    e.Unp = unsigned(std::stoull(Field(line, "unp")));
    e.Host = HostCode(Field(line, "host_os"));
    e.Crc = unsigned(std::stoul(Field(line, "file_crc"), nullptr, 16));
    e.UnpVer = unsigned(std::stoul(Field(line, "unp_ver")));
    e.Method = unsigned(std::stoul(Field(line, "method")));
    e.Attr = unsigned(std::stoul(Field(line, "attr"), nullptr, 16));
    e.SplitBefore = Field(line, "split_before") == "True";
    e.Encrypted = Field(line, "encrypted") == "True";
    e.Directory = Field(line, "is_dir") == "True";
    e.WholeCrc = e.Crc;
    archives.back().Files.push_back(e);
  }
  return archives;
}

// Volume number within its set (0 for the first); setKey names the set.
int VolumeIndex(const std::string& path, std::string& setKey) {
  auto digits = [](const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
  };
  size_t dot = path.rfind('.');
  std::string ext = dot == std::string::npos ? "" : path.substr(dot);
  if (ext == ".rar") {
    size_t part = path.rfind(".part");
    if (part != std::string::npos && digits(path.substr(part + 5, dot - part - 5))) {
      setKey = path.substr(0, part);
      return std::stoi(path.substr(part + 5, dot - part - 5)) - 1;
    }
    setKey = path.substr(0, dot);
    return 0;
  }
  if (ext.size() == 4 && ext[1] == 'r' && digits(ext.substr(2))) {
    setKey = path.substr(0, dot);
    return std::stoi(ext.substr(2)) + 1;
  }
  setKey = path;
  return 0;
}

// The tool wrote characters outside the BMP as escaped surrogate pairs.
std::string Unescape(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size();) {
    if (name.compare(i, 2, "\\u") == 0 && i + 12 <= name.size() && name.compare(i + 6, 2, "\\u") == 0) {
      uint32_t high = uint32_t(std::stoul(name.substr(i + 2, 4), nullptr, 16));
      uint32_t low = uint32_t(std::stoul(name.substr(i + 8, 4), nullptr, 16));
      uint32_t cp = 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
      out += char(0xF0 | (cp >> 18));
      out += char(0x80 | ((cp >> 12) & 0x3F));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
      i += 12;
    } else {
      out += name[i++];
    }
  }
  return out;
}

std::string ExpectedName(const TManifestEntry& e) {
  std::string name = Unescape(e.Name);
  if (!(e.Flags & 0x200)) {
    std::string bytes;
    for (size_t i = 0; i < name.size();) {
      auto c = uint8_t(name[i]);
      if (c < 0x80) {
        bytes += char(c);
        ++i;
      } else {
        bytes += char(((c & 0x1F) << 6) | (uint8_t(name[i + 1]) & 0x3F));
        i += 2;
      }
    }
    name = bytes;
  }
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

// What the records report for the attributes the MANIFEST lists: a Unix mode as DOS attributes.
unsigned ReportedAttr(const TManifestEntry& e) {
  if (e.Host != 3) return e.Attr;
  const bool folder = (e.Attr & 0xF000) == 0x4000, ownerWrites = e.Attr & 0200;
  return (folder ? 0x10u : 0x20u) | (ownerWrites ? 0u : 0x01u);
}

bool IsMalformed(const std::string& path) {
  for (const char* word : {"invalid", "overflow", "huge", "use_after_free", "unbound", "lowdist", "seek_data"})
    if (path.find(word) != std::string::npos) return true;
  return false;
}

// Entries as a reader of the whole set sees them: one per file, CRC from its last part.
std::map<std::string, std::vector<TManifestEntry>> ExpectedSets(const std::vector<TManifestArchive>& archives,
                                                                std::map<std::string, std::string>& firstOfSet) {
  std::map<std::string, std::vector<std::pair<int, const TManifestArchive*>>> sets;
  for (const auto& a : archives) {
    std::string key;
    int index = VolumeIndex(a.Path, key);
    sets[key].emplace_back(index, &a);
  }
  std::map<std::string, std::vector<TManifestEntry>> expected;
  for (auto& [key, volumes] : sets) {
    std::sort(volumes.begin(), volumes.end());
    firstOfSet[key] = volumes.front().second->Path;
    auto& list = expected[key];
    for (const auto& [index, archive] : volumes)
      for (const auto& e : archive->Files) {
        if (!e.SplitBefore) list.push_back(e);
        else if (!list.empty() && list.back().Name == e.Name) list.back().WholeCrc = e.Crc;
      }
  }
  return expected;
}

TEST(UnrarSamples, ManifestCoversTheSamples) {
  auto archives = ReadManifest();
  EXPECT_GE(archives.size(), 80u);
}

// Listing: every field of every entry as the MANIFEST gives it; testing: every entry that the
// library can unpack gives the stored CRC through the data callback.
TEST(UnrarSamples, EveryArchiveListsAndUnpacksAsTheManifestSays) {
  auto archives = ReadManifest();
  std::map<std::string, std::string> firstOfSet;
  auto expectedSets = ExpectedSets(archives, firstOfSet);
  std::map<std::string, const TManifestArchive*> byPath;
  for (const auto& a : archives) byPath[a.Path] = &a;

  int archivesChecked = 0, entriesUnpacked = 0;
  for (const auto& [key, expected] : expectedSets) {
    const std::string& path = firstOfSet[key];
    const TManifestArchive& first = *byPath[path];
    SCOPED_TRACE(path);
    Log() = TCallbackLog{};
    unsigned openResult = 99;
    int endResult = 0;
    auto listed = RunArchive(TestDataPath("rar/" + path), RAR_TEST, "", &openResult, &endResult);
    ++archivesChecked;
    if (!first.FirstBlockIsMain) {
      EXPECT_EQ(openResult, unsigned(ERAR_BAD_ARCHIVE));
      continue;
    }
    ASSERT_EQ(openResult, 0u);
    if (first.HeadersEncrypted) {
      EXPECT_TRUE(listed.empty());
      EXPECT_EQ(endResult, ERAR_MISSING_PASSWORD);
      continue;
    }
    bool malformed = IsMalformed(path);
    if (!malformed) {
      EXPECT_EQ(endResult, ERAR_END_ARCHIVE);
    }
    ASSERT_EQ(listed.size(), expected.size());
    for (size_t i = 0; i < listed.size(); ++i) {
      const TManifestEntry& e = expected[i];
      const RARHeaderData& h = listed[i].Header;
      SCOPED_TRACE(e.Name);
      if (!malformed) {
        EXPECT_EQ(listed[i].ReadResult, ERAR_SUCCESS);
      }
      EXPECT_EQ(h.FileName, ExpectedName(e));
      EXPECT_EQ(h.Flags, e.Flags);
      EXPECT_EQ(h.PackSize, e.Pack);
      EXPECT_EQ(h.UnpSize, e.Unp);
      EXPECT_EQ(h.HostOS, e.Host);
      EXPECT_EQ(h.FileCRC, e.Crc);
      EXPECT_EQ(h.UnpVer, e.UnpVer);
      EXPECT_EQ(h.Method, e.Method);
      EXPECT_EQ(h.FileAttr, ReportedAttr(e));

      int result = listed[i].ProcessResult;
      if (e.Encrypted) {
        // Without a password; RAR 2.0's cipher is not supported whatever password comes.
        const bool rar20 = e.UnpVer >= 20 && e.UnpVer < 29;
        EXPECT_EQ(result, rar20 ? ERAR_UNKNOWN_FORMAT : ERAR_MISSING_PASSWORD);
      } else if (e.UnpVer == 15 && e.Method != 0x30) {
        EXPECT_EQ(result, ERAR_UNKNOWN_FORMAT);
      } else if (e.Directory) {
        EXPECT_EQ(result, ERAR_SUCCESS);
        EXPECT_EQ(listed[i].DataBytes, 0u);
      } else if (malformed && result != ERAR_SUCCESS) {
        EXPECT_NE(result, ERAR_SUCCESS);  // failing cleanly is all a damaged entry owes us
      } else {
        EXPECT_EQ(result, ERAR_SUCCESS);
        EXPECT_EQ(listed[i].DataBytes, e.Unp);
        EXPECT_EQ(listed[i].DataCrc, e.WholeCrc);
        ++entriesUnpacked;
      }
    }
  }
  EXPECT_GE(archivesChecked, 50);
  EXPECT_GE(entriesUnpacked, 90);
}

// Damaged data must fail, not pass: a run that reports success for it would mean damage goes
// unnoticed. The collection's truncated sample, and a sound one with a byte of its compressed
// data flipped (the LZ stream of its first file, which spans offsets 87 to 5961).
// lowdist_reset is named for a decoder fault it once showed; its data is sound (its CRC holds).
TEST(UnrarSamples, DamagedDataIsReported) {
  struct TCase {
    const char* Path;
    long FlipAt;  // -1: the sample as it is
    int Expected;
  } cases[] = {
      {"libarchive/test_read_format_rar_invalid1.rar", -1, ERAR_EREAD},
      {"libarchive/test_read_format_rar_compress_best.rar", 3000, ERAR_BAD_DATA},
      {"libarchive/test_read_format_rar3_lowdist_reset.rar", -1, ERAR_SUCCESS},
  };
  TTempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Path);
    std::string path = TestDataPath(std::string("rar/") + c.Path);
    if (c.FlipAt >= 0) {
      std::string data = ReadWholeFile(path);
      ASSERT_LT(size_t(c.FlipAt), data.size());
      data[size_t(c.FlipAt)] = char(data[size_t(c.FlipAt)] ^ 0x5A);
      path = dir.File("flipped.rar");
      std::ofstream(path, std::ios::binary) << data;
    }
    auto listed = RunArchive(path, RAR_TEST);
    ASSERT_GE(listed.size(), 1u);
    EXPECT_EQ(listed[0].ProcessResult, c.Expected);
  }
}

TEST(UnrarSamples, ExtractsIntoTheFolderWithTimesAndModes) {
  TTempDir dir;
  auto listed = RunArchive(TestDataPath("rar/libarchive/test_read_format_rar_compress_normal.rar"), RAR_EXTRACT,
                           dir.Path());
  ASSERT_EQ(listed.size(), 6u);
  for (const auto& item : listed) EXPECT_EQ(item.ProcessResult, ERAR_SUCCESS) << item.Header.FileName;
  EXPECT_EQ(FileCrc(dir.File("LibarchiveAddingTest.html")), 0x5e05a663u);
  EXPECT_EQ(FileCrc(dir.File("testdir/LibarchiveAddingTest.html")), 0x5e05a663u);
  EXPECT_EQ(FileCrc(dir.File("testdir/test.txt")), 0xbec8a242u);
  // A symbolic link whose target stays inside the destination is made as a link (the stored
  // CRC is the target text's), and the link leads to the file beside it.
  ASSERT_TRUE(std::filesystem::is_symlink(dir.File("testlink")));
  const std::string target = std::filesystem::read_symlink(dir.File("testlink")).string();
  EXPECT_EQ(target, "LibarchiveAddingTest.html");
  EXPECT_EQ(RarTestCrc(target), 0x11fcd3f1u);
  EXPECT_EQ(FileCrc(dir.File("testlink")), 0x5e05a663u);
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("testemptydir")));
  auto perms = std::filesystem::status(dir.File("testdir/test.txt")).permissions();
  EXPECT_EQ(perms & std::filesystem::perms::all, std::filesystem::perms(0644));
  // 2011-06-26 14:59:06 local time, as the header's DOS time says.
  struct stat st {};
  ASSERT_EQ(stat((dir.File("testdir/test.txt")).c_str(), &st), 0);
  struct tm local {};
  time_t when = st.st_mtime;
  localtime_r(&when, &local);
  EXPECT_EQ(local.tm_year + 1900, 2011);
  EXPECT_EQ(local.tm_mon + 1, 6);
  EXPECT_EQ(local.tm_mday, 26);
  EXPECT_EQ(local.tm_hour, 14);
  EXPECT_EQ(local.tm_min, 59);
}

TEST(UnrarSamples, ReadOnlyEntriesAreExtractedReadOnly) {
  for (const char* name : {"rarfile/rar3-readonly-unix.rar", "rarfile/rar3-readonly-win.rar"}) {
    SCOPED_TRACE(name);
    TTempDir dir;
    auto listed = RunArchive(TestDataPath(std::string("rar/") + name), RAR_EXTRACT, dir.Path());
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].ProcessResult, ERAR_SUCCESS);
    auto perms = std::filesystem::status(dir.File("ro_dir/ro_file.txt")).permissions();
    EXPECT_EQ(perms & std::filesystem::perms::owner_write, std::filesystem::perms::none);
    EXPECT_EQ(ReadWholeFile(dir.File("ro_dir/ro_file.txt")).size(), 9u);
  }
}

}  // namespace
