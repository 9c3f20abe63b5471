// Encrypted entry data through the C ABI: the real samples with their password, a wrong one and
// none; the test writer's archives (stored and packed data, volumes, solid sets, RAR 1.5 and
// RAR 2.0 ciphers); trying again on the same entry or header; one key derivation per salt.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "CryptTestSupport.h"
#include "RarWriter.h"
#include "UnrarTestSupport.h"
#include "unrar/RarArchive.h"
#include "unrar/RarBlocks.h"
#include "unrar/RarCrypt.h"
#include "unrar/unrar.h"

namespace fs = std::filesystem;

namespace {

struct TEntryOutcome {
  std::string Name;
  int Result = 0;
  bool operator==(const TEntryOutcome&) const = default;
};

struct TRun {
  std::vector<TEntryOutcome> Entries;
  int End = 0;
};

std::ostream& operator<<(std::ostream& out, const TEntryOutcome& e) { return out << e.Name << ":" << e.Result; }

// Extracts every entry of `path` into `dest` with `password` set before the first header (none
// for null), the logging callbacks installed.
TRun ExtractWith(const std::string& path, const char* password, const std::string& dest, int operation = RAR_EXTRACT) {
  TRun run;
  unsigned openResult = 0;
  void* handle = OpenForExtraction(path, &openResult);
  if (!handle) {
    run.End = int(openResult);
    return run;
  }
  RARSetProcessDataProc(handle, LogProcessData);
  RARSetChangeVolProc(handle, LogChangeVolume);
  std::string secret = password ? password : "";
  if (password) RARSetPassword(handle, secret.data());
  std::string target = dest;
  RARHeaderData header{};
  while ((run.End = RARReadHeader(handle, &header)) == ERAR_SUCCESS) {
    Log().ResetEntry();
    int rc = RARProcessFile(handle, operation, target.data(), nullptr);
    // What the library passed on is the file's own data exactly when it says so.
    // The record of a split file carries its first part's CRC.
    if (rc == ERAR_SUCCESS && !(header.Flags & RarFileSplitAfter)) {
      EXPECT_EQ(Log().Crc, header.FileCRC) << header.FileName;
      EXPECT_EQ(Log().Bytes, header.UnpSize) << header.FileName;
    }
    run.Entries.push_back({header.FileName, rc});
  }
  RARCloseArchive(handle);
  return run;
}

std::string Sample(const std::string& relative) { return TestDataPath("rar/" + relative); }

TRarTestEntry File(const std::string& name, const std::string& data, const std::string& password = "") {
  TRarTestEntry e;
  e.Name = name;
  e.Data = data;
  e.Password = password;
  return e;
}

// Data in `size` bytes that no two offsets repeat within a block, so that a misplaced block shows.
std::string Pattern(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = char((i * 7 + i / 251) & 0xFF);
  return data;
}

// A file's packed data as a real archiver made it, with what it unpacks to.
struct TPackedSample {
  TRarEntryHeader Header;
  std::string Packed;
  std::string Plain;
};

// Every file entry of a real sample, its packed bytes read through the block layer and its
// plain bytes through the library.
std::vector<TPackedSample> PackedSamples(const std::string& relative) {
  const std::string image = ReadWholeFile(Sample(relative));
  TMemorySource source(image.data(), image.size());
  TRarBlockReader reader(source);
  std::vector<TPackedSample> samples;
  if (reader.Open() != ERAR_SUCCESS) return samples;
  for (TRarBlock b = reader.Next(); b.Kind == TRarBlockKind::File || b.Kind == TRarBlockKind::Skipped; b = reader.Next())
    if (b.Kind == TRarBlockKind::File)
      samples.push_back({b.Entry, image.substr(size_t(b.Entry.DataPos), size_t(b.Entry.PackSize)), {}});
  TTempDir out;
  ExtractWith(Sample(relative), nullptr, out.Path());
  for (auto& s : samples) s.Plain = ReadWholeFile(out.File(s.Header.Name));
  return samples;
}

// The sample's entry as the writer's, packed data and flags (dictionary size, solid) kept.
TRarTestEntry FromSample(const TPackedSample& s, const std::string& password) {
  TRarTestEntry e = File(s.Header.Name, s.Plain, password);
  e.Packed = s.Packed;
  e.Method = s.Header.Method;
  // Stored data is the same under any version; RAR 2.9's cipher is the one the writer has.
  e.UnpVer = s.Header.Method == RarMethodStore ? 29 : s.Header.UnpVer;
  e.HostOS = s.Header.HostOS;
  e.Attr = s.Header.Attr;
  e.ExtraFlags = uint16_t(s.Header.Flags & (RarFileSolid | RarFileDirectoryMask));
  return e;
}

// RAR 1.5's cipher is a key stream: encrypting is decrypting. (Its key stream itself is judged
// against unar by the cipher's own tests.)
std::string Rar15Encrypt(const std::string& password, const std::string& plain) {
  TRar15Key key;
  SetupRar15Key(password, key);
  TMemoryInput input(plain);
  TRar15Input stage(input, key);
  return Drain(stage).Data;
}

class UnrarDecrypt : public ::testing::Test {
 protected:
  void SetUp() override { Log() = TCallbackLog{}; }
  TTempDir Src, Out;
};

}  // namespace

// The collection's encrypted archives; "password" opens them. The rarfile samples' RAR 3
// files are empty, but their compressed data still has its tables to decode: a wrong password
// garbles them, 12. RAR 2.0's cipher is not supported: 14 whatever the password. A wrong
// password gives 12 for the encrypted files (or 22 for encrypted headers), and the plain ones
// still come out; in a solid set the files after a failed one fail too.
TEST_F(UnrarDecrypt, TheSamplesWithTheirPasswordAWrongOneAndNone) {
  const int ok = ERAR_SUCCESS, bad = ERAR_BAD_DATA, none = ERAR_MISSING_PASSWORD, unknown = ERAR_UNKNOWN_FORMAT;
  const struct TCase {
    const char* Sample;
    const char* Password;
    std::vector<TEntryOutcome> Entries;
    int End;
  } cases[] = {
      {"rarfile/rar3-comment-psw.rar", "password", {{"file1.txt", ok}, {"file2.txt", ok}}, ERAR_END_ARCHIVE},
      {"rarfile/rar3-comment-psw.rar", "wrong", {{"file1.txt", bad}, {"file2.txt", bad}}, ERAR_END_ARCHIVE},
      {"rarfile/rar3-comment-psw.rar", nullptr, {{"file1.txt", none}, {"file2.txt", none}}, ERAR_END_ARCHIVE},
      {"rarfile/rar3-comment-hpsw.rar", "password", {{"file1.txt", ok}, {"file2.txt", ok}}, ERAR_END_ARCHIVE},
      {"rarfile/rar3-comment-hpsw.rar", "wrong", {}, none},
      {"rarfile/rar3-comment-hpsw.rar", nullptr, {}, none},
      {"rarfile/rar202-comment-psw.rar", "password", {{"FILE1.TXT", unknown}, {"FILE2.TXT", unknown}}, ERAR_END_ARCHIVE},
      {"rarfile/rar202-comment-psw.rar", nullptr, {{"FILE1.TXT", unknown}, {"FILE2.TXT", unknown}}, ERAR_END_ARCHIVE},
      // d.txt was encrypted under another password.
      {"libarchive/test_read_format_rar4_encrypted.rar", "password",
       {{"a.txt", ok}, {"b.txt", ok}, {"c.txt", ok}, {"d.txt", bad}}, ERAR_END_ARCHIVE},
      {"libarchive/test_read_format_rar4_encrypted.rar", "wrong",
       {{"a.txt", ok}, {"b.txt", bad}, {"c.txt", ok}, {"d.txt", bad}}, ERAR_END_ARCHIVE},
      {"libarchive/test_read_format_rar4_encrypted.rar", nullptr,
       {{"a.txt", ok}, {"b.txt", none}, {"c.txt", ok}, {"d.txt", none}}, ERAR_END_ARCHIVE},
      // Every file of the solid set is encrypted on its own, packed, each after the last.
      {"libarchive/test_read_format_rar4_solid_encrypted.rar", "password",
       {{"a.txt", ok}, {"b.txt", ok}, {"c.txt", ok}, {"d.txt", ok}}, ERAR_END_ARCHIVE},
      {"libarchive/test_read_format_rar4_solid_encrypted.rar", "wrong",
       {{"a.txt", bad}, {"b.txt", bad}, {"c.txt", bad}, {"d.txt", bad}}, ERAR_END_ARCHIVE},
      {"libarchive/test_read_format_rar4_solid_encrypted.rar", nullptr,
       {{"a.txt", none}, {"b.txt", none}, {"c.txt", none}, {"d.txt", none}}, ERAR_END_ARCHIVE},
      {"libarchive/test_read_format_rar_encryption_partially.rar", nullptr, {{"foo.txt", none}, {"bar.txt", ok}},
       ERAR_END_ARCHIVE},
      {"libarchive/test_read_format_rar_encryption_data.rar", "wrong", {{"foo.txt", bad}, {"bar.txt", bad}},
       ERAR_END_ARCHIVE},
      {"libarchive/test_read_format_rar_encryption_header.rar", "wrong", {}, none},
      {"libarchive/test_read_format_rar4_solid_encrypted_filenames.rar", "wrong", {}, none},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Sample) + " with " + (c.Password ? c.Password : "no password"));
    fs::remove_all(Out.Path());
    fs::create_directories(Out.Path());
    const TRun run = ExtractWith(Sample(c.Sample), c.Password, Out.Path());
    EXPECT_EQ(run.Entries, c.Entries);
    EXPECT_EQ(run.End, c.End);
    // What did not come out left nothing behind; what did is its whole file.
    std::set<std::string> written;
    for (const auto& e : fs::recursive_directory_iterator(Out.Path())) written.insert(e.path().filename().string());
    std::set<std::string> expected;
    for (const TEntryOutcome& e : c.Entries)
      if (e.Result == ok) expected.insert(e.Name);
    EXPECT_EQ(written, expected);
  }
}

// Stored and packed entries, encrypted by the writer, come out whole with the password, in a
// plain archive, split over volumes (the cipher's chain runs on across parts) and under
// encrypted headers; a wrong password gives 12 and leaves no file; none gives 22.
TEST_F(UnrarDecrypt, WriterArchivesInEveryLayout) {
  const std::string pw = "s3cret pässword";
  std::vector<TRarTestEntry> entries;
  for (size_t size : {0, 1, 15, 16, 17, 4000, 65536 + 17})
    entries.push_back(File("stored" + std::to_string(size) + ".bin", Pattern(size), pw));
  for (const TPackedSample& s : PackedSamples("rarfile/seektest.rar")) entries.push_back(FromSample(s, pw));
  entries.push_back(File("plain.txt", "not encrypted"));
  ASSERT_GE(entries.size(), 10u);

  struct TLayout {
    const char* Title;
    TRarWriterOptions Options;
  };
  std::vector<TLayout> layouts(3);
  layouts[0].Title = "plain archive";
  layouts[1].Title = "volumes of 9000 bytes";
  layouts[1].Options.VolumeSize = 9000;
  layouts[2].Title = "encrypted headers";
  layouts[2].Options.HeaderPassword = pw;
  for (const TLayout& layout : layouts) {
    SCOPED_TRACE(layout.Title);
    fs::remove_all(Src.Path());
    fs::create_directories(Src.Path());
    const auto files = WriteRarArchive(Src.File("set.rar"), entries, layout.Options);
    for (const char* password : {pw.c_str(), "wrong", static_cast<const char*>(nullptr)}) {
      SCOPED_TRACE(password ? password : "no password");
      fs::remove_all(Out.Path());
      fs::create_directories(Out.Path());
      const TRun run = ExtractWith(files.front(), password, Out.Path());
      const bool right = password && password == pw;
      if (!layout.Options.HeaderPassword.empty() && !right) {
        EXPECT_TRUE(run.Entries.empty());
        EXPECT_EQ(run.End, ERAR_MISSING_PASSWORD);
        continue;
      }
      ASSERT_EQ(run.Entries.size(), entries.size());
      EXPECT_EQ(run.End, ERAR_END_ARCHIVE);
      for (size_t i = 0; i < entries.size(); ++i) {
        const TRarTestEntry& e = entries[i];
        SCOPED_TRACE(e.Name);
        const bool plain = e.Password.empty();
        // An empty stored file has no data a wrong key could garble.
        const bool opens = plain || right || (e.Data.empty() && password);
        const int expected = opens ? ERAR_SUCCESS : password ? ERAR_BAD_DATA : ERAR_MISSING_PASSWORD;
        EXPECT_EQ(run.Entries[i].Result, expected);
        EXPECT_EQ(fs::exists(Out.File(e.Name)), opens);
        if (opens) {
          EXPECT_EQ(ReadWholeFile(Out.File(e.Name)), e.Data);
        }
      }
    }
  }
}

// A solid set whose files are each encrypted on their own: stored files whose padding the
// copy must pass over, and packed data of a real solid archive (RAR 2.9, its second file
// continuing the first), where the decoder must stop at each file's end and never take the
// cipher's padding for the next file's start. Plain and encrypted files in any order, and a
// stored file between the packed ones, which leaves the decoder's state alone.
TEST_F(UnrarDecrypt, SolidSetsDecryptEachEntryAndDecodeInOrder) {
  const std::string pw = "solid";
  const std::vector<TPackedSample> samples = PackedSamples("rarfile/rar3-solid.rar");
  ASSERT_EQ(samples.size(), 2u);
  ASSERT_EQ(samples[1].Header.Flags & RarFileSolid, RarFileSolid);
  ASSERT_NE(samples[0].Header.Method, RarMethodStore);
  ASSERT_NE(samples[1].Header.Method, RarMethodStore);
  enum TKind { Packed0, Packed1, Stored };
  const struct TCase {
    const char* Name;
    std::vector<std::pair<TKind, bool>> Files;  // what, encrypted
  } cases[] = {
      {"packed, both encrypted", {{Packed0, true}, {Packed1, true}}},
      {"packed, the first encrypted", {{Packed0, true}, {Packed1, false}}},
      {"packed, the second encrypted", {{Packed0, false}, {Packed1, true}}},
      {"a stored file between", {{Packed0, true}, {Stored, true}, {Packed1, true}}},
      {"a plain stored file between", {{Packed0, true}, {Stored, false}, {Packed1, false}}},
      {"stored only", {{Stored, true}, {Stored, true}, {Stored, true}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<TRarTestEntry> entries;
    for (const auto& [kind, encrypted] : c.Files) {
      const std::string password = encrypted ? pw : "";
      if (kind == Stored) {
        const size_t size = 3 + 13 * entries.size();
        entries.push_back(File("s" + std::to_string(entries.size()), Pattern(size), password));
      } else {
        entries.push_back(FromSample(samples[kind == Packed0 ? 0 : 1], password));
      }
    }
    TRarWriterOptions options;
    options.Solid = true;
    const std::string path = WriteRarArchive(Src.File("solid.rar"), entries, options).front();
    fs::remove_all(Out.Path());
    const TRun run = ExtractWith(path, pw.c_str(), Out.Path());
    ASSERT_EQ(run.Entries.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(run.Entries[i].Result, ERAR_SUCCESS) << entries[i].Name;
      EXPECT_EQ(ReadWholeFile(Out.File(entries[i].Name)), entries[i].Data) << entries[i].Name;
    }
    // Without the password the encrypted files fail, and so does every packed file after an
    // encrypted packed one (the stream cannot go on); plain files before that come out.
    fs::remove_all(Out.Path());
    const TRun none = ExtractWith(path, nullptr, Out.Path());
    ASSERT_EQ(none.Entries.size(), entries.size());
    bool streamBroken = false;
    for (size_t i = 0; i < entries.size(); ++i) {
      const auto [kind, encrypted] = c.Files[i];
      const int expected = encrypted ? ERAR_MISSING_PASSWORD : kind != Stored && streamBroken ? ERAR_BAD_DATA : ERAR_SUCCESS;
      EXPECT_EQ(none.Entries[i].Result, expected) << entries[i].Name;
      if (encrypted && kind != Stored) streamBroken = true;
    }
  }
}

// After a failed try the entry stays current: a wrong password, then the right one, on the
// same entry, in a plain archive and in a solid set (whose decoder starts over); then the next
// entry needs no further word.
TEST_F(UnrarDecrypt, AFailedEntryIsTriedAgainWithAnotherPassword) {
  for (bool solid : {false, true}) {
    SCOPED_TRACE(solid ? "solid" : "plain");
    TRarWriterOptions options;
    options.Solid = solid;
    const std::string path =
        WriteRarArchive(Src.File("retry.rar"), {File("one.txt", "first file", "right"), File("two.txt", "second", "right")},
                        options)
            .front();
    fs::remove_all(Out.Path());
    fs::create_directories(Out.Path());
    std::string dest = Out.Path();
    void* handle = OpenForExtraction(path);
    ASSERT_TRUE(handle);
    RARHeaderData header{};
    ASSERT_EQ(RARReadHeader(handle, &header), ERAR_SUCCESS);
    EXPECT_EQ(RARProcessFile(handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_MISSING_PASSWORD);
    char wrong[] = "wrong", right[] = "right";
    RARSetPassword(handle, wrong);
    EXPECT_EQ(RARProcessFile(handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_BAD_DATA);
    EXPECT_FALSE(fs::exists(Out.File("one.txt")));
    RARSetPassword(handle, right);
    EXPECT_EQ(RARProcessFile(handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_SUCCESS);
    EXPECT_EQ(ReadWholeFile(Out.File("one.txt")), "first file");
    // Done with: the next call is for the next header.
    EXPECT_EQ(RARProcessFile(handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_BAD_ARCHIVE);
    ASSERT_EQ(RARReadHeader(handle, &header), ERAR_SUCCESS);
    EXPECT_EQ(RARProcessFile(handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_SUCCESS);
    EXPECT_EQ(ReadWholeFile(Out.File("two.txt")), "second");
    EXPECT_EQ(RARReadHeader(handle, &header), ERAR_END_ARCHIVE);
    RARCloseArchive(handle);
  }
}

// Encrypted headers refused with a wrong password are read again, on the same handle, once the
// right one is set: plain and solid sets.
TEST_F(UnrarDecrypt, EncryptedHeadersOpenAfterAWrongPasswordWithoutReopening) {
  for (bool solid : {false, true}) {
    SCOPED_TRACE(solid ? "solid" : "plain");
    TRarWriterOptions options;
    options.Solid = solid;
    options.HeaderPassword = "hp";
    const std::string path =
        WriteRarArchive(Src.File("hp.rar"), {File("a.txt", "alpha", "hp"), File("b.txt", "beta", "hp")}, options).front();
    void* handle = OpenForExtraction(path);
    ASSERT_TRUE(handle);
    RARHeaderData header{};
    EXPECT_EQ(RARReadHeader(handle, &header), ERAR_MISSING_PASSWORD);
    char wrong[] = "wrong", right[] = "hp";
    RARSetPassword(handle, wrong);
    EXPECT_EQ(RARReadHeader(handle, &header), ERAR_MISSING_PASSWORD);
    RARSetPassword(handle, right);
    std::vector<std::string> names;
    int rc;
    while ((rc = RARReadHeader(handle, &header)) == ERAR_SUCCESS) {
      names.push_back(header.FileName);
      EXPECT_EQ(RARProcessFile(handle, RAR_TEST, nullptr, nullptr), ERAR_SUCCESS);
    }
    EXPECT_EQ(rc, ERAR_END_ARCHIVE);
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt"}));
    RARCloseArchive(handle);
  }
}

// RAR 1.5's cipher (unpack version 15): a stored file decrypts; a packed one is refused for its
// compression, with or without the password. RAR 2.0's (20 and 26) is refused before any
// password is needed, and never yields data.
TEST_F(UnrarDecrypt, OlderCiphers) {
  TRarTestEntry stored = File("rar15.txt", "stored under RAR 1.5's cipher");
  stored.UnpVer = 15;
  stored.Encrypt = [](const std::string& plain) { return Rar15Encrypt("old", plain); };
  TRarTestEntry packed = stored;
  packed.Name = "rar15-packed.txt";
  packed.Method = 0x33;
  TRarTestEntry rar20 = File("rar20.txt", "RAR 2.0's cipher is not known here");
  rar20.UnpVer = 20;
  rar20.Encrypt = [](const std::string& plain) { return std::string(plain.size(), 'x'); };
  TRarTestEntry rar26 = rar20;
  rar26.Name = "rar26.txt";
  rar26.UnpVer = 26;
  const std::string path = WriteRarArchive(Src.File("old.rar"), {stored, packed, rar20, rar26}).front();
  const struct TCase {
    const char* Password;
    int Stored;
  } cases[] = {{"old", ERAR_SUCCESS}, {"other", ERAR_BAD_DATA}, {nullptr, ERAR_MISSING_PASSWORD}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Password ? c.Password : "no password");
    fs::remove_all(Out.Path());
    fs::create_directories(Out.Path());
    const TRun run = ExtractWith(path, c.Password, Out.Path());
    EXPECT_EQ(run.Entries, (std::vector<TEntryOutcome>{{"rar15.txt", c.Stored},
                                                       {"rar15-packed.txt", ERAR_UNKNOWN_FORMAT},
                                                       {"rar20.txt", ERAR_UNKNOWN_FORMAT},
                                                       {"rar26.txt", ERAR_UNKNOWN_FORMAT}}));
    EXPECT_EQ(ReadWholeFile(Out.File("rar15.txt")), c.Stored == ERAR_SUCCESS ? stored.Data : "");
    EXPECT_EQ(fs::exists(Out.File("rar15.txt")), c.Stored == ERAR_SUCCESS);
    EXPECT_FALSE(fs::exists(Out.File("rar20.txt")));
  }
}

// A thousand encrypted files under encrypted headers, their data under three salts: the handle
// derives four keys (three for the data, one for the headers), whatever the number of files.
TEST_F(UnrarDecrypt, AThousandFilesCostOneDerivationPerSalt) {
  const TRarTestSalt salts[3] = {{1, 2, 3, 4, 5, 6, 7, 8}, {9, 9, 9, 9, 9, 9, 9, 9}, {0, 1, 0, 1, 0, 1, 0, 1}};
  std::vector<TRarTestEntry> entries;
  for (int i = 0; i < 1000; ++i) {
    entries.push_back(File("f" + std::to_string(i) + ".txt", "file number " + std::to_string(i), "many"));
    entries.back().Salt = salts[i % 3];
  }
  TRarWriterOptions options;
  options.HeaderPassword = "many";
  const std::string path = WriteRarArchive(Src.File("many.rar"), entries, options).front();
  int result = 0;
  auto archive = TRarArchive::OpenFile(path, false, result);
  ASSERT_TRUE(archive);
  archive->SetPassword("many");
  TRarEntryHeader header;
  std::string volume;
  int passed = 0;
  while (archive->ReadHeader(header, volume) == ERAR_SUCCESS)
    passed += archive->ProcessFile(RAR_TEST, nullptr, nullptr) == ERAR_SUCCESS;
  EXPECT_EQ(passed, 1000);
  EXPECT_EQ(archive->KeyDerivations(), 4u);
}

// An archive cut inside an encrypted file's data: the file fails and leaves nothing.
TEST_F(UnrarDecrypt, CutCiphertextFailsCleanly) {
  const std::string path =
      WriteRarArchive(Src.File("cut.rar"), {File("big.bin", Pattern(100000), "pw"), File("after.txt", "x", "pw")})
          .front();
  fs::resize_file(path, 50000);
  const TRun run = ExtractWith(path, "pw", Out.Path());
  ASSERT_EQ(run.Entries.size(), 1u);
  EXPECT_NE(run.Entries[0].Result, ERAR_SUCCESS);
  EXPECT_TRUE(fs::is_empty(Out.Path()));
}

