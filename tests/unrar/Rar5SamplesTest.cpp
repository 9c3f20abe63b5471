// The real RAR 5 archives of the shared test data: their headers read through the block layer
// and held against the MANIFEST's description of every header and against the listings
// (NAME.exp) that the rarfile suite keeps beside its archives; their data through the library's
// C ABI, checked here against the CRC-32 or BLAKE2sp the headers record.
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "Rar5TestSupport.h"
#include "TempDir.h"
#include "UnrarTestSupport.h"
#include "unrar/unrar.h"

namespace fs = std::filesystem;

namespace {

struct TManifestBlock {
  uint64_t Offset = 0;
  std::string Type, Name, Crc, Extra, Host, Dict;
  bool Dir = false, Solid = false, SplitBefore = false;
  uint64_t Unp = 0, Attr = 0, Method = 0, AlgoVer = 0;
};

struct TManifestArchive {
  std::string Path;
  uint64_t MarkerAt = 0;
  bool HeadersEncrypted = false;
  bool Malformed = false;
  std::vector<TManifestBlock> Blocks;
};

// " key=value" up to the next blank (values here hold no blanks, names are read apart).
std::string Field(const std::string& line, const std::string& key) {
  size_t at = line.find(" " + key + "=");
  if (at == std::string::npos) return {};
  at += key.size() + 2;
  return line.substr(at, line.find(' ', at) - at);
}

std::string SamplePath(const std::string& name) {
  for (const char* folder : {"rar5/rarfile/", "rar5/libarchive/"}) {
    std::string path = TestDataPath(folder + name);
    if (fs::exists(path)) return path;
  }
  return {};
}

std::vector<TManifestArchive> ReadManifest() {
  std::ifstream in(TestDataPath("rar5/MANIFEST.md"));
  std::vector<TManifestArchive> archives;
  std::set<std::string> malformed;
  bool inMalformed = false;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Deliberately malformed", 0) == 0) inMalformed = true;
    if (inMalformed) {
      // "...: name, name, ... name. Every other ..." across several lines.
      std::string list = line.substr(line.find("):") == std::string::npos ? 0 : line.find("):") + 2);
      size_t stop = list.find(". Every other");
      bool last = stop != std::string::npos;
      std::stringstream words(list.substr(0, stop));
      std::string word;
      while (std::getline(words, word, ',')) {
        word.erase(0, word.find_first_not_of(' '));
        word.erase(word.find_last_not_of(" .") + 1);
        if (!word.empty() && word.find(' ') == std::string::npos) malformed.insert(word);
      }
      if (last) inMalformed = false;
      continue;
    }
    if (line.rfind("== ", 0) == 0) {
      if (line.find("marker at") == std::string::npos) continue;  // not a RAR 5 archive
      TManifestArchive a;
      a.Path = SamplePath(line.substr(3, line.find(' ', 3) - 3));
      a.MarkerAt = std::stoull(line.substr(line.find("marker at ") + 10));
      archives.push_back(a);
      continue;
    }
    if (archives.empty() || line.rfind("   @", 0) != 0) continue;
    if (line.find("(headers encrypted from here)") != std::string::npos) archives.back().HeadersEncrypted = true;
    std::string type = Field(line, "type");
    if (type.empty()) continue;
    TManifestBlock b;
    b.Offset = std::stoull(line.substr(4));
    b.Type = type;
    size_t nameAt = line.find(" name=");
    if (nameAt != std::string::npos) {
      nameAt += 6;
      b.Name = line.substr(nameAt, line.find(" dir=", nameAt) - nameAt);
      b.Dir = Field(line, "dir") == "True";
      b.Unp = std::stoull(Field(line, "unp"));
      b.Attr = std::stoull(Field(line, "attr"), nullptr, 16);
      b.Crc = Field(line, "crc");
      b.Host = Field(line, "host");
      b.AlgoVer = std::stoull(Field(line, "algo_ver"));
      b.Solid = Field(line, "solid") == "True";
      b.Method = std::stoull(Field(line, "method"));
      b.Dict = Field(line, "dict");
      b.Extra = Field(line, "extra");
    }
    b.SplitBefore = line.find(" split_before") != std::string::npos;
    archives.back().Blocks.push_back(b);
  }
  for (auto& a : archives)
    for (const auto& m : malformed)
      if (a.Path.find("test_read_format_rar5_" + m + ".rar") != std::string::npos) a.Malformed = true;
  return archives;
}

const std::vector<TManifestArchive>& Manifest() {
  static const std::vector<TManifestArchive> archives = ReadManifest();
  return archives;
}

uint64_t DictBytes(const std::string& text) {
  return std::stoull(text) * 1024;  // "128KiB"
}

// The archive's file entries, each split file once: the MANIFEST lists its parts one by one.
std::vector<const TManifestBlock*> WholeFiles(const TManifestArchive& a) {
  std::vector<const TManifestBlock*> files;
  for (const auto& b : a.Blocks)
    if (b.Type == "FILE" && !b.SplitBefore) files.push_back(&b);
  return files;
}

TEST(Rar5Samples, TheManifestListsWhatTheTestsExpect) {
  size_t malformed = 0, valid = 0;
  for (const auto& a : Manifest()) {
    ASSERT_FALSE(a.Path.empty());
    (a.Malformed ? malformed : valid)++;
  }
  EXPECT_EQ(malformed, 25u);
  EXPECT_GE(valid, 40u);
}

// Every valid archive: each header as the MANIFEST has it, and each entry with data comes out
// of the library with the CRC-32 or BLAKE2sp its header records (encrypted entries ask for the
// password).
TEST(Rar5Samples, ValidArchivesMatchTheManifestAndDecode) {
  int decoded = 0, compressed = 0;
  for (const auto& a : Manifest()) {
    if (a.Malformed || a.Path.find(".part2.") != std::string::npos || a.Path.find(".part3.") != std::string::npos)
      continue;
    SCOPED_TRACE(a.Path);
    TRar5Walk walk = WalkRar5(a.Path);
    ASSERT_EQ(walk.OpenResult, ERAR_SUCCESS);
    if (a.HeadersEncrypted) {
      EXPECT_EQ(walk.EndResult, ERAR_MISSING_PASSWORD);
      EXPECT_TRUE(walk.HeaderCrypt.Present);
      EXPECT_TRUE(walk.Entries.empty());
      continue;
    }
    EXPECT_EQ(walk.EndResult, ERAR_END_ARCHIVE);
    EXPECT_TRUE(walk.MainCrcOk);
    std::vector<const TRar5Walked*> files;
    for (const auto& e : walk.Entries)
      if (!e.Service) files.push_back(&e);
    std::vector<const TManifestBlock*> expected = WholeFiles(a);
    // The volume set's MANIFEST entry lists only the first volume's blocks.
    if (a.Path.find(".part1.") == std::string::npos) {
      ASSERT_EQ(files.size(), expected.size());
    }
    for (size_t i = 0; i < expected.size() && i < files.size(); ++i) {
      const TManifestBlock& m = *expected[i];
      const TRarEntryHeader& h = files[i]->Header;
      SCOPED_TRACE(m.Name);
      EXPECT_EQ(h.HeaderPos, m.Offset);
      EXPECT_EQ(h.Name, m.Name);
      EXPECT_EQ(h.IsDirectory(), m.Dir);
      EXPECT_EQ(h.UnpSize, m.Unp);
      EXPECT_EQ(h.Attr, m.Attr);
      EXPECT_EQ(h.StoredHostOS, m.Host == "UNIX" ? 1u : 0u);
      EXPECT_EQ(h.HostOS, m.Host == "UNIX" ? 3u : 2u);
      EXPECT_EQ(h.UnpVer, 50u);
      EXPECT_EQ(h.Method, 0x30 + m.Method);
      EXPECT_EQ(h.CompressionVersion, m.AlgoVer);
      EXPECT_EQ(h.Solid(), m.Solid);
      EXPECT_EQ(h.DictSize, DictBytes(m.Dict));
      EXPECT_TRUE(h.HeaderCrcOk);
      bool blake = m.Extra.find("hash=blake2sp:") != std::string::npos;
      if (blake) {
        EXPECT_EQ(h.HashType, RarHashBlake2);
        std::string hex = m.Extra.substr(m.Extra.find("blake2sp:") + 9, 64);
        EXPECT_EQ(HexOf(h.Hash.data(), h.Hash.size()), hex);
      } else if (m.Crc != "-") {
        EXPECT_EQ(h.HashType, RarHashCrc32);
        EXPECT_EQ(h.FileCRC, std::stoul(m.Crc, nullptr, 16));
      }
      bool crypt = m.Extra.find("crypt(") != std::string::npos;
      EXPECT_EQ(h.Encrypted(), crypt);
      if (crypt) {
        EXPECT_EQ(std::to_string(h.Crypt.Flags), m.Extra.substr(m.Extra.find("crypt(flags=") + 12, 1));
      }
      EXPECT_EQ(h.RedirType != RarRedirNone, m.Extra.find("redir=") != std::string::npos);
      EXPECT_EQ(h.FileVersion != 0, m.Extra.find("version") != std::string::npos);
      EXPECT_EQ(h.MTime.Present, m.Extra.find("htime") != std::string::npos || h.MTime.Seconds != 0);
    }
    // The data, through the library: every entry of the archive (or set), in order.
    TAbiRun run = RunThroughAbi(a.Path);
    EXPECT_EQ(run.EndResult, ERAR_END_ARCHIVE);
    ASSERT_EQ(run.Entries.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
      const TRarEntryHeader& h = files[i]->Header;
      const TAbiEntry& e = run.Entries[i];
      SCOPED_TRACE(h.Name);
      EXPECT_EQ(e.Name, h.Name);
      EXPECT_EQ(e.UnpVer, 50u);
      EXPECT_EQ(e.DictSize, h.IsDirectory() ? 0u : unsigned(h.DictSize >> 10));
      if (h.Encrypted()) {
        EXPECT_EQ(e.Result, ERAR_MISSING_PASSWORD);
        continue;
      }
      bool hasData = !h.IsDirectory() && h.RedirType == RarRedirNone;
      if (!hasData) continue;
      EXPECT_EQ(e.Result, ERAR_SUCCESS);
      EXPECT_EQ(e.Bytes, h.UnpSize);
      if (h.HashType == RarHashBlake2) {
        EXPECT_EQ(e.HashType, unsigned(RAR_HASH_BLAKE2));
        EXPECT_EQ(HexOf(e.Blake2.data(), 32), HexOf(h.Hash.data(), 32));
      } else if (h.HashType == RarHashCrc32 && !h.SplitAfter()) {
        EXPECT_EQ(e.HashType, unsigned(RAR_HASH_CRC32));
        EXPECT_EQ(e.Crc, h.FileCRC);
      }
      ++decoded;
      if (h.Method != RarMethodStore) ++compressed;
    }
  }
  // The decoder really ran: the samples hold a fair number of compressed entries.
  // Files only: comments, quick-open and recovery data are service headers, not the library's
  // to extract.
  EXPECT_GE(decoded, 72);
  EXPECT_GE(compressed, 30);
}

// Each of the deliberately damaged archives, extracted through the library, ends in an error
// somewhere, never silently; what comes out stays within what the headers declared, and
// nothing lands outside the destination.
TEST(Rar5Samples, MalformedArchivesFailCleanly) {
  for (const auto& a : Manifest()) {
    if (!a.Malformed) continue;
    SCOPED_TRACE(a.Path);
    TTempDir root;
    TAbiOptions options;
    options.Operation = RAR_EXTRACT;
    options.Dest = root.File("dest");
    TAbiRun run = RunThroughAbi(a.Path, options);
    bool failed = run.OpenResult != ERAR_SUCCESS || run.EndResult != ERAR_END_ARCHIVE;
    for (const auto& e : run.Entries) {
      if (e.Result != ERAR_SUCCESS || e.ReadResult != ERAR_SUCCESS) failed = true;
      EXPECT_LE(e.Bytes, e.UnpSize) << e.Name;
    }
    EXPECT_TRUE(failed);
    for (const auto& entry : fs::directory_iterator(root.Path())) EXPECT_EQ(entry.path().filename(), "dest");
  }
}

// The three volumes of rar5-vols: the big file's parts are followed from volume to volume, by
// the block layer and by the library, which announces each volume it opens.
TEST(Rar5Samples, TheVolumeSetDecodesAcrossItsVolumes) {
  TRar5Walk walk = WalkRar5(TestDataPath("rar5/rarfile/rar5-vols.part1.rar"));
  EXPECT_EQ(walk.EndResult, ERAR_END_ARCHIVE);
  ASSERT_EQ(walk.Volumes.size(), 3u);
  EXPECT_EQ(walk.MainFlags & (RarMainVolume | RarMainFirstVolume | RarMainNewNaming),
            RarMainVolume | RarMainFirstVolume | RarMainNewNaming);
  std::vector<const TRar5Walked*> files;
  for (const auto& e : walk.Entries)
    if (!e.Service) files.push_back(&e);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0]->Header.Name, "vols/bigfile.txt");
  ASSERT_EQ(files[0]->Parts.size(), 3u);
  EXPECT_EQ(files[0]->Parts[0].Size + files[0]->Parts[1].Size + files[0]->Parts[2].Size, 205000u);
  EXPECT_TRUE(files[0]->Header.SplitAfter());
  EXPECT_EQ(files[0]->WholeCrc, 0x509ad74cu);  // the last part's
  EXPECT_EQ(files[1]->Header.Name, "vols/smallfile.txt");
  EXPECT_EQ(files[1]->Volume, walk.Volumes[2]);

  Log() = TCallbackLog{};
  TAbiOptions keep;
  keep.KeepData = true;
  TAbiRun run = RunThroughAbi(walk.Volumes[0], keep);
  ASSERT_EQ(run.Entries.size(), 2u);
  EXPECT_EQ(run.Entries[0].Result, ERAR_SUCCESS);
  EXPECT_EQ(run.Entries[0].Bytes, 205000u);
  EXPECT_EQ(run.Entries[0].Crc, 0x509ad74cu);
  EXPECT_EQ(run.Entries[1].Result, ERAR_SUCCESS);
  EXPECT_EQ(run.Entries[1].Crc, 0xd08a1f86u);
  EXPECT_EQ(run.EndResult, ERAR_END_ARCHIVE);
  EXPECT_EQ(Log().VolumeCalls, (std::vector<std::pair<int, std::string>>{{RAR_VOL_NOTIFY, walk.Volumes[1]},
                                                                        {RAR_VOL_NOTIFY, walk.Volumes[2]}}));

  // Later volumes carry their number and point to their quick-open and recovery data.
  const uint64_t numbers[] = {0, 1, 2};
  for (size_t i = 0; i < 3; ++i) {
    TRar5Walk one = WalkRar5(walk.Volumes[i]);
    EXPECT_EQ(one.Main.VolumeNumber, numbers[i]);
    EXPECT_EQ(bool(one.MainFlags & RarMainFirstVolume), i == 0);
    // The locator counts from the main header, 8 bytes into the volume.
    bool found = false;
    for (const auto& e : one.Entries)
      if (e.Service && e.Header.Name == "QO") found = found || e.Header.HeaderPos == one.Main.QuickOpenOffset + 8;
    EXPECT_TRUE(found) << i;
    EXPECT_NE(one.Main.RecoveryOffset, 0u);
  }
}

// Times with nanoseconds, owners, links, encryption records and comments, as rarfile lists them.
struct TExpFile {
  std::string Name, Mtime, Ctime, Atime, Owner, Redir, Crypt;
};

std::vector<TExpFile> ReadExp(const std::string& path, std::string& comment) {
  std::ifstream in(path);
  std::vector<TExpFile> files;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("  comment=", 0) == 0) comment = line.substr(10);
    if (line.rfind("R5_FILE", 0) == 0) files.emplace_back();
    if (files.empty()) continue;
    auto value = [&line](const char* key) {
      std::string k = std::string("  ") + key;
      return line.rfind(k, 0) == 0 ? line.substr(k.size()) : std::string();
    };
    TExpFile& f = files.back();
    if (!value("name=").empty()) f.Name = value("name=");
    if (!value("mtime=").empty()) f.Mtime = value("mtime=");
    if (!value("ctime=").empty()) f.Ctime = value("ctime=");
    if (!value("atime=").empty()) f.Atime = value("atime=");
    if (!value("owner: ").empty()) f.Owner = value("owner: ");
    if (!value("redir: ").empty()) f.Redir = value("redir: ");
    if (!value("algo=").empty()) f.Crypt = value("algo=");
  }
  return files;
}

// "2011-06-12T09:53:33.312616300+00:00" in the form our time stamps take.
std::string FormatTime(const TRarTime& t) {
  if (!t.Present) return {};
  time_t seconds = time_t(t.Seconds);
  struct tm utc {};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::string out = text;
  if (t.Nanoseconds) {
    char ns[16];
    // rarfile falls back to microseconds when they say it all.
    if (t.Nanoseconds % 1000 == 0) std::snprintf(ns, sizeof ns, ".%06u", t.Nanoseconds / 1000);
    else std::snprintf(ns, sizeof ns, ".%09u", t.Nanoseconds);
    out += ns;
  }
  return out;
}

// rarfile lists times in UTC, with their fraction when there is one.
std::string Listed(const TRarTime& t) { return t.Present ? FormatTime(t) + "+00:00" : std::string(); }

std::string OwnerText(const TRarEntryHeader& h) {
  auto name = [](const std::string& s) { return s.empty() ? std::string("None") : "b'" + s + "'"; };
  return "name=" + name(h.OwnerUser) + " group=" + name(h.OwnerGroup) +
         " uid=" + (h.HasUid ? std::to_string(h.Uid) : "None") + " gid=" + (h.HasGid ? std::to_string(h.Gid) : "None");
}

TEST(Rar5Samples, RecordsAgreeWithTheRarfileListings) {
  static const std::map<int, std::string> redirNames = {{RarRedirUnixSymlink, "UNIX_SYMLINK"},
                                                        {RarRedirWindowsSymlink, "WINDOWS_SYMLINK"},
                                                        {RarRedirJunction, "WINDOWS_JUNCTION"},
                                                        {RarRedirHardLink, "HARD_LINK"},
                                                        {RarRedirFileCopy, "FILE_COPY"}};
  int times = 0, owners = 0, links = 0, crypts = 0, comments = 0;
  for (const auto& entry : fs::directory_iterator(TestDataPath("rar5/rarfile"))) {
    std::string exp = entry.path().string();
    if (entry.path().extension() != ".exp") continue;
    std::string archive = exp.substr(0, exp.size() - 4);
    TRar5Walk walk = WalkRar5(archive);
    // Header-encrypted and RAR 4 archives are listed by rarfile only after decryption or as RAR 4.
    if (walk.EndResult != ERAR_END_ARCHIVE || !walk.Volumes.size() || archive.find("readonly-win") != std::string::npos)
      continue;
    SCOPED_TRACE(archive);
    DecodeRar5(walk, true);
    std::string comment;
    std::vector<TExpFile> listed = ReadExp(exp, comment);
    if (!comment.empty()) {
      // rarfile shows the comment as a Python literal: quoted, with "\n" for the line end. The
      // stored comment ends in a zero byte.
      std::string text;
      for (const auto& e : walk.Entries)
        if (e.Service && e.Header.Name == "CMT") text = e.Data;
      ASSERT_GE(text.size(), 2u);
      EXPECT_EQ(text.substr(text.size() - 2), std::string("\n\0", 2));
      std::string shown = "'" + text.substr(0, text.size() - 2) + "\\n'";
      EXPECT_EQ(shown, comment);
      ++comments;
    }
    for (const auto& f : listed) {
      SCOPED_TRACE(f.Name);
      // A name listed several times (file versions) is the last header of that name.
      const TRarEntryHeader* h = nullptr;
      for (const auto& e : walk.Entries)
        if (!e.Service && (e.Header.Name == f.Name || e.Header.Name + "/" == f.Name)) h = &e.Header;
      if (!h) continue;  // the later volumes' part listings
      EXPECT_EQ(Listed(h->MTime), f.Mtime);
      EXPECT_EQ(Listed(h->CTime), f.Ctime);
      EXPECT_EQ(Listed(h->ATime), f.Atime);
      times += h->MTime.Present;
      if (!f.Owner.empty()) {
        EXPECT_EQ(OwnerText(*h), f.Owner);
        ++owners;
      }
      if (!f.Redir.empty()) {
        auto found = redirNames.find(h->RedirType);
        ASSERT_NE(found, redirNames.end());
        std::string flags = h->RedirToDirectory ? "1:DIR" : "0:-";
        EXPECT_EQ("type=" + found->second + " flags=" + flags + " destination=" + h->RedirTarget, f.Redir);
        ++links;
      }
      if (!f.Crypt.empty()) {
        const TRar5Crypt& c = h->Crypt;
        std::string flags = c.TweakedChecksums() ? "0003:CHECKVAL,TWEAKED" : "0001:CHECKVAL";
        std::string text = std::to_string(c.Version) + ":AES256 enc_flags=" + flags +
                           " kdf_lg=" + std::to_string(c.KdfCount) + " kdf_count=" + std::to_string(1u << c.KdfCount) +
                           " salt=" + HexOf(c.Salt.data(), 16) + " iv=" + HexOf(c.Iv.data(), 16) +
                           " checkval=" + HexOf(c.Check.data(), 12);
        EXPECT_EQ(text, f.Crypt);
        ++crypts;
      }
    }
  }
  EXPECT_GE(times, 40);
  EXPECT_EQ(owners, 2);
  EXPECT_GE(links, 10);
  EXPECT_EQ(crypts, 4);
  EXPECT_EQ(comments, 4);
}

// Self-extractors: the marker behind the executable stub.
TEST(Rar5Samples, SelfExtractorsAreReadBehindTheirStub) {
  struct TCase {
    const char* Path;
    uint64_t MarkerAt;
    size_t Files;
  } cases[] = {{"rar5/rarfile/rar5-crc.sfx", 128000, 2}, {"rar5/libarchive/test_read_format_rar5_sfx.exe", 316928, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Path);
    auto source = TFileSource::Open(TestDataPath(c.Path));
    ASSERT_TRUE(source);
    TRarBlockReader reader(*source);
    ASSERT_EQ(reader.Open(), ERAR_SUCCESS);
    EXPECT_TRUE(reader.IsRar5());
    EXPECT_EQ(reader.MarkerPos(), c.MarkerAt);
    TAbiRun run = RunThroughAbi(TestDataPath(c.Path));
    EXPECT_EQ(run.EndResult, ERAR_END_ARCHIVE);
    ASSERT_EQ(run.Entries.size(), c.Files);
    for (const auto& e : run.Entries) {
      EXPECT_EQ(e.Result, ERAR_SUCCESS) << e.Name;
      EXPECT_EQ(e.Crc, e.FileCRC) << e.Name;
    }
  }
}

}  // namespace
