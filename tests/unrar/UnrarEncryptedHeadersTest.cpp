// RAR 2.9-4.x encryption on the real samples and on the test writer's archives: encrypted
// headers read by the block layer and through the C ABI, entry data decrypted through the
// decrypting stage and, where compressed, handed to the existing decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "CryptTestSupport.h"
#include "RarWriter.h"
#include "UnrarTestSupport.h"
#include "unrar/Rar3Unpack.h"
#include "unrar/RarBlocks.h"
#include "unrar/RarCrc.h"
#include "unrar/RarCrypt.h"
#include "unrar/RarUnpack.h"
#include "unrar/unrar.h"

namespace {

std::string Sample(const std::string& name) { return ReadWholeFile(TestDataPath("rar/rarfile/" + name)); }

// A block reader over an image, with a key cache of its own, opened.
struct TOpenedReader {
  TOpenedReader(const std::string& image, const char* password) : Source(image.data(), image.size()), Reader(Source) {
    Keys.SetPassword(password);
    Reader.SetHeaderKeys(&Keys);
    Opened = Reader.Open();
  }
  TMemorySource Source;
  TRarBlockReader Reader;
  TRarKeyCache Keys;
  int Opened = 0;
};

struct TWalked {
  std::vector<TRarBlock> Blocks;  // up to and including the block that ended the walk
  std::vector<uint64_t> Starts;   // where each block began
  TRarBlockKind Last = TRarBlockKind::Eof;
};

TWalked Walk(const std::string& image, TRarKeyCache* keys) {
  TWalked walked;
  TMemorySource source(image.data(), image.size());
  TRarBlockReader reader(source);
  reader.SetHeaderKeys(keys);
  if (reader.Open() != ERAR_SUCCESS) return walked;
  for (int i = 0; i < 100000; ++i) {
    walked.Starts.push_back(reader.Position());
    walked.Blocks.push_back(reader.Next());
    walked.Last = walked.Blocks.back().Kind;
    if (walked.Last != TRarBlockKind::File && walked.Last != TRarBlockKind::Skipped) break;
  }
  return walked;
}

std::vector<TRarEntryHeader> Files(const TWalked& walked) {
  std::vector<TRarEntryHeader> files;
  for (const auto& b : walked.Blocks)
    if (b.Kind == TRarBlockKind::File) files.push_back(b.Entry);
  return files;
}

// The plaintext of an entry's AES-encrypted data (all of it, or up to `limit`).
TDrained DecryptData(const std::string& image, const TRarEntryHeader& h, TRarKeyCache& keys,
                     uint64_t limit = TRarDecryptInput::NoLimit) {
  TMemoryInput packed(image.substr(size_t(h.DataPos), size_t(h.PackSize)));
  TAesCbcInput plain(packed, keys.Rar3(h.Salt ? h.Salt->data() : nullptr), limit);
  return Drain(plain);
}

// The decoder over plaintext packed data: a plain, whole, non-solid entry.
class TCollectSink : public IUnpackSink {
 public:
  int Write(const uint8_t* data, size_t size) override {
    Data.append(reinterpret_cast<const char*>(data), size);
    return ERAR_SUCCESS;
  }
  std::string Data;
};

int Decode(const TRarEntryHeader& header, const std::string& plainPacked, std::string& out) {
  TRarEntryHeader plain = header;
  plain.Flags = 0;
  TMemoryInput packed(plainPacked);
  TCollectSink sink;
  TRar3Unpacker decoder;
  int rc = decoder.Unpack(plain, packed, sink);
  out = sink.Data;
  if (rc == ERAR_SUCCESS && RarCrc32(0, out.data(), out.size()) != header.FileCRC) rc = ERAR_BAD_DATA;
  return rc;
}

// rar3-comment-hpsw.rar, walked with its password: every header after the main one is
// encrypted, all after the same salt.
class THeaderEncryptedSample : public ::testing::Test {
 protected:
  void SetUp() override {
    keys.SetPassword("password");
    walked = Walk(image, &keys);
    ASSERT_EQ(walked.Last, TRarBlockKind::End);
  }
  std::string image = Sample("rar3-comment-hpsw.rar");
  TRarKeyCache keys;
  TWalked walked;
};

TEST_F(THeaderEncryptedSample, EveryHeaderDecryptsWithItsCrcRight) {
  // Comment, file, comment, file, comment, end (the comments are service headers).
  std::vector<uint8_t> types;
  for (const auto& b : walked.Blocks) types.push_back(b.Type);
  EXPECT_EQ(types, (std::vector<uint8_t>{0x7A, 0x74, 0x7A, 0x74, 0x7A, 0x7B}));
  auto files = Files(walked);
  ASSERT_EQ(files.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const TRarEntryHeader& f = files[i];
    EXPECT_TRUE(f.HeaderCrcOk);
    EXPECT_EQ(f.Name, i == 0 ? "file1.txt" : "file2.txt");
    EXPECT_EQ(f.Flags, 0x9424);  // encrypted, salt, extended time, 128 KiB dictionary
    EXPECT_EQ(f.PackSize, 16u);
    EXPECT_EQ(f.UnpSize, 0u);
    EXPECT_EQ(f.HostOS, 3);
    EXPECT_EQ(f.UnpVer, 29);
    EXPECT_EQ(f.Method, 0x33);
    EXPECT_EQ(f.Attr, 0x81A4u);
    ASSERT_TRUE(f.Salt);
    EXPECT_EQ(ToHex(f.Salt->data(), 8), "a98c5fc3909e75a0");
    // The data lies after the header's salt and padded ciphertext.
    EXPECT_EQ(f.DataPos, walked.Starts[i == 0 ? 1 : 3] + 8 + 64);
  }
  // The six headers share one salt, the two files' data another: two derivations in all.
  EXPECT_EQ(keys.Derivations(), 1u);
  DecryptData(image, files[0], keys);
  EXPECT_EQ(keys.Derivations(), 2u);
  DecryptData(image, files[1], keys);
  EXPECT_EQ(keys.Derivations(), 2u);
}

// The comments of the same sample are encrypted data too, with known text: decrypted and
// decoded, each gives the text and CRC the archive records.
TEST_F(THeaderEncryptedSample, TheEncryptedCommentsDecodeToTheirText) {
  const char* texts[] = {"RARcomment\n", "Comment1v2\n", "Comment2v2\n"};
  size_t comment = 0;
  for (size_t i = 0; i < walked.Blocks.size(); ++i) {
    if (walked.Blocks[i].Type != 0x7A) continue;
    SCOPED_TRACE(texts[comment]);
    // The service header (the reader passes over it): its fields from its decrypted form.
    uint64_t at = walked.Starts[i];
    const TRar3Key& key = keys.Rar3(reinterpret_cast<const uint8_t*>(image.data() + at));
    std::string header = image.substr(size_t(at + 8), 48);
    TAesCbcDecryptor cipher(key.Key.data(), 16, key.Iv.data());
    cipher.Decrypt(reinterpret_cast<uint8_t*>(header.data()), header.size());
    auto u32 = [&](size_t p) {
      return uint32_t(uint8_t(header[p])) | uint32_t(uint8_t(header[p + 1])) << 8 |
             uint32_t(uint8_t(header[p + 2])) << 16 | uint32_t(uint8_t(header[p + 3])) << 24;
    };
    TRarEntryHeader h;
    h.PackSize = u32(7);
    h.UnpSize = u32(11);
    h.FileCRC = u32(16);
    h.UnpVer = uint8_t(header[24]);
    h.Method = uint8_t(header[25]);
    ASSERT_EQ(header.substr(32, 3), "CMT");
    h.Salt.emplace();
    std::memcpy(h.Salt->data(), header.data() + 35, 8);
    h.DataPos = at + 8 + 48;
    EXPECT_EQ(h.DataPos + h.PackSize, walked.Starts[i + 1]);
    TDrained plain = DecryptData(image, h, keys);
    ASSERT_EQ(plain.Result, ERAR_SUCCESS);
    std::string text;
    EXPECT_EQ(Decode(h, plain.Data, text), ERAR_SUCCESS);
    EXPECT_EQ(text, texts[comment]);
    EXPECT_EQ(RarTestCrc(text), h.FileCRC);
    ++comment;
  }
  EXPECT_EQ(comment, 3u);
}

TEST(UnrarEncryptedHeaders, WithoutTheRightPasswordNothingIsReported) {
  std::string image = Sample("rar3-comment-hpsw.rar");
  struct TCase {
    const char* Password;
    TRarBlockKind Kind;
  } cases[] = {
      {nullptr, TRarBlockKind::EncryptedHeaders}, {"", TRarBlockKind::EncryptedHeaders},
      {"Password", TRarBlockKind::WrongPassword},  {"password ", TRarBlockKind::WrongPassword},
      {"passwor", TRarBlockKind::WrongPassword},   {"wrong", TRarBlockKind::WrongPassword},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Password ? c.Password : "(none)");
    TRarKeyCache keys;
    keys.SetPassword(c.Password);
    TWalked walked = Walk(image, &keys);
    ASSERT_EQ(walked.Blocks.size(), 1u);
    EXPECT_EQ(walked.Last, c.Kind);
  }
  // Nothing was consumed: the same reader opens them once the right password comes.
  TOpenedReader opened(image, "wrong");
  ASSERT_EQ(opened.Opened, ERAR_SUCCESS);
  EXPECT_EQ(opened.Reader.Next().Kind, TRarBlockKind::WrongPassword);
  opened.Keys.SetPassword("password");
  EXPECT_EQ(opened.Reader.Next().Kind, TRarBlockKind::Skipped);
  EXPECT_EQ(opened.Reader.Next().Entry.Name, "file1.txt");
}

// Through the C ABI: the password set before the first RARReadHeader opens the headers.
TEST(UnrarEncryptedHeaders, TheAbiListsTheSampleWithItsPassword) {
  std::string path = TestDataPath("rar/rarfile/rar3-comment-hpsw.rar");
  struct TCase {
    const char* Password;
    std::vector<std::string> Names;
    int End;
  } cases[] = {
      {"password", {"file1.txt", "file2.txt"}, ERAR_END_ARCHIVE},
      {nullptr, {}, ERAR_MISSING_PASSWORD},
      {"wrong", {}, ERAR_MISSING_PASSWORD},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Password ? c.Password : "(none)");
    RAROpenArchiveData open{};
    open.ArcName = path.data();
    open.OpenMode = RAR_OM_LIST;
    void* handle = RAROpenArchive(&open);
    ASSERT_TRUE(handle);
    std::string password = c.Password ? c.Password : "";
    if (c.Password) RARSetPassword(handle, password.data());
    std::vector<std::string> names;
    RARHeaderData header{};
    int rc;
    while ((rc = RARReadHeader(handle, &header)) == ERAR_SUCCESS) {
      names.push_back(header.FileName);
      EXPECT_EQ(header.Flags, 0x9424u);
      EXPECT_EQ(header.UnpVer, 29u);
      EXPECT_EQ(header.HostOS, 3u);
      EXPECT_EQ(RARProcessFile(handle, RAR_SKIP, nullptr, nullptr), ERAR_SUCCESS);
    }
    EXPECT_EQ(rc, c.End);
    EXPECT_EQ(names, c.Names);
    RARCloseArchive(handle);
  }
}

// Once the headers have opened, a later password (a wrong one tried for some entry's data, or
// none) does not close them; a salt that no key has opened yet still needs the right password.
TEST(UnrarEncryptedHeaders, HeadersThatOpenedStayOpenWhateverPasswordComesLater) {
  std::string path = TestDataPath("rar/rarfile/rar3-comment-hpsw.rar");
  for (const char* later : {"wrong", ""}) {
    SCOPED_TRACE(later);
    RAROpenArchiveData open{};
    open.ArcName = path.data();
    open.OpenMode = RAR_OM_EXTRACT;
    void* handle = RAROpenArchive(&open);
    ASSERT_TRUE(handle);
    std::string password = "password", other = later;
    RARSetPassword(handle, password.data());
    RARHeaderData header{};
    ASSERT_EQ(RARReadHeader(handle, &header), ERAR_SUCCESS);
    EXPECT_STREQ(header.FileName, "file1.txt");
    RARSetPassword(handle, other.data());
    // The sample's files are empty, but a wrong password garbles their compressed tables.
    // Either way the entry stays current, to be skipped.
    EXPECT_EQ(RARProcessFile(handle, RAR_TEST, nullptr, nullptr), other.empty() ? ERAR_MISSING_PASSWORD : ERAR_BAD_DATA);
    EXPECT_EQ(RARProcessFile(handle, RAR_SKIP, nullptr, nullptr), ERAR_SUCCESS);
    ASSERT_EQ(RARReadHeader(handle, &header), ERAR_SUCCESS);
    EXPECT_STREQ(header.FileName, "file2.txt");
    EXPECT_EQ(RARProcessFile(handle, RAR_SKIP, nullptr, nullptr), ERAR_SUCCESS);
    EXPECT_EQ(RARReadHeader(handle, &header), ERAR_END_ARCHIVE);
    RARCloseArchive(handle);
  }

  TTempDir dir;
  std::vector<TRarTestEntry> entries(3);
  for (size_t i = 0; i < entries.size(); ++i) entries[i].Name = "f" + std::to_string(i);
  TRarWriterOptions options;
  options.HeaderPassword = "pw";
  options.SaltPerHeader = true;
  std::string image = ReadWholeFile(WriteRarArchive(dir.File("salts.rar"), entries, options).front());
  TOpenedReader opened(image, "pw");
  ASSERT_EQ(opened.Opened, ERAR_SUCCESS);
  EXPECT_EQ(opened.Reader.Next().Entry.Name, "f0");
  opened.Keys.SetPassword("wrong");
  EXPECT_EQ(opened.Reader.Next().Kind, TRarBlockKind::WrongPassword);
  opened.Keys.SetPassword(nullptr);
  EXPECT_EQ(opened.Reader.Next().Kind, TRarBlockKind::EncryptedHeaders);
  opened.Keys.SetPassword("pw");
  EXPECT_EQ(opened.Reader.Next().Entry.Name, "f1");
}

// rar3-comment-psw.rar: plain headers, encrypted (empty, compressed) file data. Its two files
// and those of the header-encrypted sample were made alike, under other salts: decrypted, their
// packed streams agree byte for byte, and decode to the empty files the headers record.
TEST(UnrarEncryptedHeaders, TheDataSamplesStreamsDecryptAlike) {
  std::string psw = Sample("rar3-comment-psw.rar"), hpsw = Sample("rar3-comment-hpsw.rar");
  TRarKeyCache keys;
  keys.SetPassword("password");
  auto plainFiles = Files(Walk(psw, &keys));
  auto encryptedFiles = Files(Walk(hpsw, &keys));
  ASSERT_EQ(plainFiles.size(), 2u);
  ASSERT_EQ(encryptedFiles.size(), 2u);
  ASSERT_TRUE(plainFiles[0].Salt);
  EXPECT_EQ(ToHex(plainFiles[0].Salt->data(), 8), "b30e2f01101f65bd");
  std::string reference = DecryptData(hpsw, encryptedFiles[0], keys).Data;
  ASSERT_EQ(reference.size(), 16u);
  for (const auto& f : plainFiles) {
    SCOPED_TRACE(f.Name);
    TDrained plain = DecryptData(psw, f, keys);
    EXPECT_EQ(plain.Result, ERAR_SUCCESS);
    EXPECT_EQ(plain.Data, reference);
    std::string out = "x";
    EXPECT_EQ(Decode(f, plain.Data, out), ERAR_SUCCESS);
    EXPECT_EQ(out, "");
    EXPECT_EQ(RarTestCrc(out), f.FileCRC);
    // A wrong password gives other bytes, never the stream.
    TRarKeyCache wrong;
    wrong.SetPassword("Password");
    EXPECT_NE(DecryptData(psw, f, wrong).Data, reference);
  }
}

// The writer's archives: stored entries encrypted with its own key derivation and nettle's AES,
// under encrypted headers or plain ones, read back by the block layer and the decrypting stage.
TEST(UnrarEncryptedHeaders, WriterArchivesRoundTrip) {
  struct TCase {
    const char* Label;
    std::string Password;
    bool Headers;
    bool SaltPerHeader;
    uint64_t VolumeSize;
  } cases[] = {
      {"data only", "secret", false, false, 0},
      {"headers too", "secret", true, false, 0},
      {"a salt per header", "secret", true, true, 0},
      {"non-ASCII password", "p\xc3\xa4ssw\xc3\xb6rd \xe2\x82\xac", true, false, 0},
      // 29 characters and more: the archiver's SHA-1 alters the hashed buffer.
      {"long password", std::string("a rather long password, beyond 29 characters"), true, false, 0},
      {"volumes", "secret", true, false, 600},
  };
  TTempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    std::vector<TRarTestEntry> entries(4);
    for (size_t i = 0; i < entries.size(); ++i) {
      entries[i].Name = "dir\\file" + std::to_string(i) + ".txt";
      entries[i].Data = std::string(i * 97 + 1, char('a' + i)) + "\n";  // 2 to 293 bytes: odd sizes
      entries[i].Password = c.Password;
      entries[i].Salt[0] = uint8_t(i & 1);  // two salts among the four
    }
    entries[2].Data.clear();  // an empty file: no data blocks at all
    TRarWriterOptions options;
    if (c.Headers) options.HeaderPassword = c.Password;
    options.SaltPerHeader = c.SaltPerHeader;
    options.VolumeSize = c.VolumeSize;
    auto files = WriteRarArchive(dir.File(std::string(c.Label) + ".rar"), entries, options);
    EXPECT_EQ(files.size() > 1, c.VolumeSize > 0);
    TRarKeyCache keys;
    keys.SetPassword(c.Password.c_str());
    // Each volume on its own: the parts of every entry, in order.
    std::map<std::string, std::string> data;
    for (const auto& file : files) {
      std::string image = ReadWholeFile(file);
      TWalked walked = Walk(image, &keys);
      EXPECT_EQ(walked.Last, TRarBlockKind::End);
      for (const auto& f : Files(walked)) {
        EXPECT_TRUE(f.HeaderCrcOk);
        EXPECT_TRUE(f.Encrypted());
        data[f.Name] += image.substr(size_t(f.DataPos), size_t(f.PackSize));
      }
    }
    ASSERT_EQ(data.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      TMemoryInput packed(data["dir/file" + std::to_string(i) + ".txt"], {7, 16, 1, 300});
      TAesCbcInput plain(packed, keys.Rar3(entries[i].Salt.data()), entries[i].Data.size());
      TDrained out = Drain(plain, 13);
      EXPECT_EQ(out.Result, ERAR_SUCCESS);
      EXPECT_EQ(out.Data, entries[i].Data) << i;
    }
    // Derived once per salt: the data's two, and the headers' one (or one per header).
    size_t headerSalts = !c.Headers ? 0 : c.SaltPerHeader ? 0 : 1;
    if (!c.SaltPerHeader) {
      EXPECT_EQ(keys.Derivations(), 2 + headerSalts);
    } else {
      EXPECT_EQ(keys.Derivations(), 2 + entries.size() + 1);  // the end block has its own too
    }
  }
}

// The writer's archive of `entries`, data and headers encrypted with `password`, as one image.
std::string EncryptedImage(const TTempDir& dir, std::vector<TRarTestEntry> entries, const std::string& password) {
  for (auto& e : entries) e.Password = password;
  TRarWriterOptions options;
  options.HeaderPassword = password;
  return ReadWholeFile(WriteRarArchive(dir.File("encrypted.rar"), entries, options).front());
}

// However many entries share a salt, the key is derived once.
TEST(UnrarEncryptedHeaders, AThousandEntriesNeedOneDerivationPerSalt) {
  TTempDir dir;
  std::vector<TRarTestEntry> entries(1000);
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].Name = "f" + std::to_string(i);
    entries[i].Data = "entry " + std::to_string(i);
  }
  std::string image = EncryptedImage(dir, entries, "pw");
  TRarKeyCache keys;
  keys.SetPassword("pw");
  TWalked walked = Walk(image, &keys);
  auto files = Files(walked);
  ASSERT_EQ(files.size(), 1000u);
  for (size_t i = 0; i < files.size(); i += 111)
    EXPECT_EQ(DecryptData(image, files[i], keys, files[i].UnpSize).Data, entries[i].Data);
  EXPECT_EQ(keys.Derivations(), 2u);  // headers and data
}

// Every prefix of an encrypted-header archive, and headers whose sizes lie: the reader stops
// with Broken or WrongPassword, never reads past the image, never reports garbage.
TEST(UnrarEncryptedHeaders, TruncatedAndLyingHeadersFailCleanly) {
  TTempDir dir;
  std::vector<TRarTestEntry> entries(2);
  entries[0].Name = "one.txt";
  entries[0].Data = "first entry";
  entries[1].Name = "two.txt";
  entries[1].Data = std::string(40, 'b');
  std::string image = EncryptedImage(dir, entries, "pw");
  TRarKeyCache keys;
  keys.SetPassword("pw");
  TWalked whole = Walk(image, &keys);
  ASSERT_EQ(whole.Last, TRarBlockKind::End);
  // Where each block's header ends: the data of a file, or the end of the image.
  std::vector<uint64_t> headerEnds;
  for (const auto& b : whole.Blocks) headerEnds.push_back(b.Kind == TRarBlockKind::File ? b.Entry.DataPos : image.size());
  for (size_t length = size_t(whole.Starts[0]); length < image.size(); ++length) {
    TWalked walked = Walk(image.substr(0, length), &keys);
    auto files = Files(walked);
    EXPECT_LE(files.size(), 2u);
    for (const auto& f : files) {
      EXPECT_TRUE(f.HeaderCrcOk);
      EXPECT_TRUE(f.Name == "one.txt" || f.Name == "two.txt");
    }
    size_t k = 0;  // the block the cut falls in
    while (k + 1 < whole.Starts.size() && length >= whole.Starts[k + 1]) ++k;
    TRarBlockKind expected;
    if (length == whole.Starts[k] || length >= headerEnds[k])
      expected = TRarBlockKind::Eof;  // between blocks, or inside data: the volume just ends
    else if (length < whole.Starts[k] + 8 + 16)
      expected = TRarBlockKind::Broken;  // not even the salt and a first block
    else
      expected = TRarBlockKind::Broken;  // cut inside a header whose key has proved itself
    EXPECT_EQ(walked.Last, expected) << length;
    EXPECT_EQ(files.size(), std::min<size_t>(k + (length >= headerEnds[k] ? 1 : 0), 2)) << length;
  }
  // Before any header has opened, a first header cut short cannot be verified: the password is
  // not trusted.
  for (uint64_t length : {whole.Starts[0] + 24, whole.Starts[0] + 40, headerEnds[0] - 1}) {
    TRarKeyCache fresh;
    fresh.SetPassword("pw");
    EXPECT_EQ(Walk(image.substr(0, size_t(length)), &fresh).Last, TRarBlockKind::WrongPassword) << length;
  }

  // Headers that claim more than they hold: a sealed header whose HEAD_SIZE is raised.
  auto lying = [&](size_t index, uint16_t headSize) {
    std::string plain = std::string("\0\0\x74\x00\x80\0\0", 7) + std::string(40, '\0');
    plain[5] = char(headSize & 0xFF);
    plain[6] = char(headSize >> 8);
    uint16_t crc = uint16_t(RarCrc32(0, plain.data() + 2, plain.size() - 2));
    plain[0] = char(crc & 0xFF);
    plain[1] = char(crc >> 8);
    TRarTestSalt salt = TRarWriterOptions{}.HeaderSalt;
    std::string forged = image.substr(0, size_t(whole.Starts[index]));
    forged.append(salt.begin(), salt.end());
    forged += RarTestEncrypt("pw", salt, plain);
    return forged + image.substr(size_t(whole.Starts[index + 1]));
  };
  struct TLie {
    size_t Index;
    uint16_t HeadSize;
    TRarBlockKind Kind;
  } lies[] = {
      {0, 60000, TRarBlockKind::WrongPassword},  // cannot be checked: not trusted
      {0, 6, TRarBlockKind::WrongPassword},
      {1, 60000, TRarBlockKind::Broken},         // after a good header with the same salt: damage
      {1, 3, TRarBlockKind::Broken},
      {1, 20, TRarBlockKind::Broken},            // too small for a file header
  };
  for (const auto& lie : lies) {
    SCOPED_TRACE(lie.HeadSize);
    TRarKeyCache fresh;
    fresh.SetPassword("pw");
    TWalked walked = Walk(lying(lie.Index, lie.HeadSize), &fresh);
    EXPECT_EQ(walked.Last, lie.Kind);
    EXPECT_EQ(Files(walked).size(), lie.Index);
  }
}

}  // namespace
