// The encryption primitives: RAR 5 key derivation, password check, data and header decryption
// and tweaked checksums on the real samples; the decrypting stages on hostile input; the key
// cache; the RAR 1.5 cipher against an independent extractor.
#include <gtest/gtest.h>

#include <blake2.h>
#include <cstdlib>
#include <cstring>
#include <nettle/aes.h>
#include <nettle/cbc.h>
#include <sys/wait.h>

#include "CryptTestSupport.h"
#include "RarWriter.h"
#include "UnrarTestSupport.h"
#include "unrar/RarCrc.h"
#include "unrar/RarCrypt.h"
#include "unrar/unrar.h"

namespace {

std::string Rar5Sample(const std::string& name) { return ReadWholeFile(TestDataPath("rar5/rarfile/" + name)); }

const char* Rar5EncryptedSamples[] = {"rar5-psw.rar", "rar5-psw-blake.rar", "rar5-hpsw.rar"};

TRar5Key Rar5KeyFor(const std::string& password, const TRar5CryptRecord& record) {
  TRar5Key key;
  EXPECT_TRUE(DeriveRar5Key(password, record.Salt.data(), record.Lg2Count, key));
  return key;
}

// Every encryption record of the samples (files' and the header one) knows "password" at once.
TEST(UnrarCrypt, Rar5CheckValuesAcceptThePasswordAndRejectOthers) {
  for (const char* name : Rar5EncryptedSamples) {
    SCOPED_TRACE(name);
    TRar5TestArchive archive = ReadRar5TestArchive(Rar5Sample(name), "password");
    ASSERT_EQ(archive.Result, ERAR_SUCCESS);
    std::vector<TRar5CryptRecord> records;
    if (archive.HeaderCrypt) records.push_back(*archive.HeaderCrypt);
    for (const auto& h : archive.Headers)
      if (h.Type == 2 && h.Crypt) records.push_back(*h.Crypt);
    ASSERT_GE(records.size(), 2u);
    for (const auto& record : records) {
      ASSERT_TRUE(record.Check);
      EXPECT_EQ(record.Lg2Count, 15u);
      EXPECT_EQ(CheckRar5Password(Rar5KeyFor("password", record), record.Check->data()), ERAR_SUCCESS);
      for (const char* wrong : {"", "Password", "password ", "passwor", "wrong"})
        EXPECT_EQ(CheckRar5Password(Rar5KeyFor(wrong, record), record.Check->data()), ERAR_BAD_PASSWORD) << wrong;
      // A check value whose own checksum fails is damaged: it tells nothing either way.
      auto damaged = *record.Check;
      damaged[3] ^= 0x40;
      EXPECT_EQ(CheckRar5Password(Rar5KeyFor("wrong", record), damaged.data()), ERAR_SUCCESS);
    }
  }
}

std::string Blake2sp(const std::string& data) {
  uint8_t digest[32];
  EXPECT_EQ(blake2sp(digest, data.data(), nullptr, sizeof digest, data.size(), 0), 0);
  return std::string(reinterpret_cast<const char*>(digest), 32);
}

// The stored entries decrypt to their files; each header records the CRC-32 or BLAKE2sp of the
// file, tweaked with the hash key where the encryption record says so. The same file lies
// unencrypted in rar5-crc.rar and rar5-blake.rar.
TEST(UnrarCrypt, Rar5StoredEntriesDecryptToTheirRecordedChecksums) {
  TRar5TestArchive plain = ReadRar5TestArchive(Rar5Sample("rar5-crc.rar"));
  std::string plainImage = Rar5Sample("rar5-crc.rar");
  const TRar5TestHeader& plainStored = plain.Headers[3];
  ASSERT_EQ(plainStored.Name, "stest2.txt");
  std::string file = plainImage.substr(size_t(plainStored.DataPos), size_t(plainStored.DataSize));
  struct TCase {
    const char* Archive;
    bool Tweaked;
    bool Blake;
  } cases[] = {{"rar5-psw.rar", true, false}, {"rar5-psw-blake.rar", true, true}, {"rar5-hpsw.rar", false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Archive);
    std::string image = Rar5Sample(c.Archive);
    TRar5TestArchive archive = ReadRar5TestArchive(image, "password");
    ASSERT_EQ(archive.Result, ERAR_SUCCESS);
    int stored = 0;
    for (const auto& h : archive.Headers) {
      if (h.Type != 2 || h.Method != 0) continue;
      ++stored;
      ASSERT_TRUE(h.Crypt);
      EXPECT_EQ((h.Crypt->Flags & 0x02) != 0, c.Tweaked);
      TRar5Key key = Rar5KeyFor("password", *h.Crypt);
      EXPECT_EQ(h.DataSize % 16, 0u);
      TMemoryInput packed(image.substr(size_t(h.DataPos), size_t(h.DataSize)), {100, 3});
      TAesCbcInput input(packed, key, h.Crypt->Iv.data(), h.UnpSize);
      TDrained out = Drain(input, 333);
      ASSERT_EQ(out.Result, ERAR_SUCCESS);
      EXPECT_EQ(out.Data, file);
      if (c.Blake) {
        ASSERT_TRUE(h.Blake2sp);
        std::string digest = Blake2sp(out.Data);
        uint8_t tweaked[32];
        Rar5TweakBlake2sp(reinterpret_cast<const uint8_t*>(digest.data()), key, tweaked);
        EXPECT_EQ(ToHex(tweaked, 32), ToHex(h.Blake2sp->data(), 32));
        EXPECT_EQ(ToHex(tweaked, 32), "5cdbd3f49f594a35edb63c923b64abdadba3bf1468b6259ee1e1c54ba2f0d65e");
        EXPECT_EQ(ToHex(reinterpret_cast<const uint8_t*>(digest.data()), 32),
                  "7cd5c1ac31f0cf58844a57fb9072c44768dbea1456e37c21e491f4853982ede0");
      } else {
        ASSERT_TRUE(h.Crc);
        uint32_t crc = RarTestCrc(out.Data);
        EXPECT_EQ(crc, 0xc5b7e6a2u);
        EXPECT_EQ(c.Tweaked ? Rar5TweakCrc32(crc, key) : crc, *h.Crc);
      }
    }
    EXPECT_EQ(stored, 1);
  }
}

// The compressed entries decrypt to the very packed bytes of the unencrypted sample (same file,
// same archiver): the padding after them is all the difference.
TEST(UnrarCrypt, Rar5CompressedEntriesDecryptToThePlainSamplesPackedBytes) {
  std::string plainImage = Rar5Sample("rar5-crc.rar");
  TRar5TestHeader plainPacked = ReadRar5TestArchive(plainImage).Headers[2];
  ASSERT_EQ(plainPacked.Name, "stest1.txt");
  std::string packedPlain = plainImage.substr(size_t(plainPacked.DataPos), size_t(plainPacked.DataSize));
  for (const char* name : {"rar5-psw.rar", "rar5-hpsw.rar"}) {
    SCOPED_TRACE(name);
    std::string image = Rar5Sample(name);
    TRar5TestArchive archive = ReadRar5TestArchive(image, "password");
    const TRar5TestHeader* entry = nullptr;
    for (const auto& h : archive.Headers)
      if (h.Name == "stest1.txt") entry = &h;
    ASSERT_TRUE(entry && entry->Crypt);
    EXPECT_EQ(entry->Method, 3u);
    TMemoryInput packed(image.substr(size_t(entry->DataPos), size_t(entry->DataSize)));
    TAesCbcInput input(packed, Rar5KeyFor("password", *entry->Crypt), entry->Crypt->Iv.data());
    TDrained out = Drain(input);
    ASSERT_EQ(out.Result, ERAR_SUCCESS);
    EXPECT_EQ(out.Data.size(), (packedPlain.size() + 15) / 16 * 16);
    EXPECT_EQ(out.Data.substr(0, packedPlain.size()), packedPlain);
  }
}

// rar5-hpsw.rar: after the encryption header, every header is an IV and the encrypted header.
TEST(UnrarCrypt, Rar5EncryptedHeadersDecryptWithTheArchivePassword) {
  std::string image = Rar5Sample("rar5-hpsw.rar");
  TRar5TestArchive archive = ReadRar5TestArchive(image, "password");
  ASSERT_EQ(archive.Result, ERAR_SUCCESS);
  ASSERT_TRUE(archive.HeaderCrypt);
  std::vector<std::string> names;
  for (const auto& h : archive.Headers) {
    EXPECT_TRUE(h.CrcOk) << h.Type;
    if (h.Type == 2 || h.Type == 3) names.push_back(h.Name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"CMT", "stest1.txt", "stest2.txt"}));
  EXPECT_EQ(archive.Headers.back().Type, 5u);
  EXPECT_EQ(archive.Headers.back().DataPos, image.size());
  EXPECT_EQ(ReadRar5TestArchive(image, "wrong").Result, ERAR_BAD_PASSWORD);
}

std::string EncryptAes256(const TRar5Key& key, const uint8_t iv[16], std::string plain) {
  plain.resize((plain.size() + 15) / 16 * 16, '\0');
  aes256_ctx aes;
  aes256_set_encrypt_key(&aes, key.Key.data());
  uint8_t chain[16];
  std::memcpy(chain, iv, 16);
  auto* bytes = reinterpret_cast<uint8_t*>(plain.data());
  auto encrypt = [](const void* ctx, size_t size, uint8_t* dst, const uint8_t* src) {
    aes256_encrypt(static_cast<const aes256_ctx*>(ctx), size, dst, src);
  };
  cbc_encrypt(&aes, encrypt, 16, chain, plain.size(), bytes, bytes);
  return plain;
}

// A header of `bodySize` bytes after its CRC32 and size vint.
std::string Rar5Header(size_t bodySize) {
  std::string sized;
  size_t v = bodySize;
  do {
    sized += char((v & 0x7F) | (v > 0x7F ? 0x80 : 0));
    v >>= 7;
  } while (v);
  for (size_t i = 0; i < bodySize; ++i) sized += char(i * 7 + 1);
  uint32_t crc = RarCrc32(0, sized.data(), sized.size());
  std::string header(4, '\0');
  for (int k = 0; k < 4; ++k) header[size_t(k)] = char(crc >> (8 * k));
  return header + sized;
}

TEST(UnrarCrypt, Rar5HeaderDecryptionRejectsTruncatedAndImplausibleHeaders) {
  TRar5Key key;
  const uint8_t salt[16] = {1, 2, 3};
  ASSERT_TRUE(DeriveRar5Key("pw", salt, 0, key));
  const uint8_t iv[16] = {9, 8, 7, 6, 5};
  auto image = [&](const std::string& header) {
    return std::string(reinterpret_cast<const char*>(iv), 16) + EncryptAes256(key, iv, header);
  };
  struct TCase {
    const char* Label;
    std::string Image;
    int Result;
    size_t Size;  // of the plain header, when it decrypts
  } cases[] = {
      {"one block", image(Rar5Header(5)), ERAR_SUCCESS, 10},
      {"exactly two blocks", image(Rar5Header(27)), ERAR_SUCCESS, 32},
      {"a three-byte size", image(Rar5Header(20000)), ERAR_SUCCESS, 20007},
      {"IV only", std::string(reinterpret_cast<const char*>(iv), 16), ERAR_BAD_DATA, 0},
      {"a partial first block", image(Rar5Header(5)).substr(0, 31), ERAR_BAD_DATA, 0},
      {"the last block missing", image(Rar5Header(40)).substr(0, 16 + 32), ERAR_BAD_DATA, 0},
      {"a size of zero", image(std::string(4, '\0') + std::string(1, '\0')), ERAR_BAD_DATA, 0},
      {"a size beyond the limit", image(std::string(4, '\0') + "\x81\x80\x80\x01"), ERAR_BAD_DATA, 0},
      {"a size that never ends", image(std::string(4, '\0') + std::string(12, '\xff')), ERAR_BAD_DATA, 0},
      {"a size beyond the file", image(std::string(4, '\0') + "\x80\x01"), ERAR_BAD_DATA, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    // Behind some bytes of another header, so that positions are not all zero.
    std::string file = "xyz" + c.Image;
    TMemorySource source(file.data(), file.size());
    std::vector<uint8_t> header;
    uint64_t stored = 0;
    EXPECT_EQ(ReadRar5EncryptedHeader(source, 3, key, header, stored), c.Result);
    if (c.Result != ERAR_SUCCESS) continue;
    EXPECT_EQ(header.size(), c.Size);
    EXPECT_EQ(stored, c.Image.size());
    uint32_t crc = uint32_t(header[0]) | uint32_t(header[1]) << 8 | uint32_t(header[2]) << 16 | uint32_t(header[3]) << 24;
    EXPECT_EQ(RarCrc32(0, header.data() + 4, header.size() - 4), crc);
  }
  TRar5Key other;
  ASSERT_TRUE(DeriveRar5Key("other", salt, 0, other));
  std::string file = image(Rar5Header(5));
  TMemorySource source(file.data(), file.size());
  std::vector<uint8_t> header;
  uint64_t stored = 0;
  // With another key the bytes are noise: a size that fails, or a CRC that does.
  if (ReadRar5EncryptedHeader(source, 0, other, header, stored) == ERAR_SUCCESS) {
    uint32_t crc = uint32_t(header[0]) | uint32_t(header[1]) << 8 | uint32_t(header[2]) << 16 | uint32_t(header[3]) << 24;
    EXPECT_NE(RarCrc32(0, header.data() + 4, header.size() - 4), crc);
  }
}

TEST(UnrarCrypt, Rar5KdfCountsBeyondTheFormatAreRefused) {
  const uint8_t salt[16] = {};
  TRar5Key key;
  EXPECT_TRUE(DeriveRar5Key("pw", salt, 0, key));
  EXPECT_FALSE(DeriveRar5Key("pw", salt, Rar5MaxKdfLog2 + 1, key));
  EXPECT_FALSE(DeriveRar5Key("pw", salt, 255, key));
  TRarKeyCache cache;
  cache.SetPassword("pw");
  EXPECT_EQ(cache.Rar5(salt, 40), nullptr);
  EXPECT_EQ(cache.Derivations(), 0u);
}

// The decrypting stage over AES-128-CBC ciphertext made here with nettle.
TEST(UnrarCrypt, TheStageYieldsWholeBlocksUpToItsLimit) {
  TRar3Key key;
  for (size_t i = 0; i < 16; ++i) {
    key.Key.data()[i] = uint8_t(i * 11 + 3);
    key.Iv.data()[i] = uint8_t(200 - i);
  }
  std::string plain;
  for (int i = 0; i < 70000; ++i) plain += char(i * 31 + i / 256);
  auto encrypt = [&](size_t size) {
    std::string data = plain.substr(0, size);
    aes128_ctx aes;
    aes128_set_encrypt_key(&aes, key.Key.data());
    uint8_t iv[16];
    std::memcpy(iv, key.Iv.data(), 16);
    auto fn = [](const void* ctx, size_t n, uint8_t* dst, const uint8_t* src) {
      aes128_encrypt(static_cast<const aes128_ctx*>(ctx), n, dst, src);
    };
    auto* bytes = reinterpret_cast<uint8_t*>(data.data());
    cbc_encrypt(&aes, fn, 16, iv, data.size() / 16 * 16, bytes, bytes);
    return data;  // a partial last block stays as it was: it cannot be encrypted alone
  };
  const uint64_t all = TRarDecryptInput::NoLimit;
  struct TCase {
    const char* Label;
    size_t CipherSize;
    uint64_t Limit;
    std::vector<size_t> Chunks;
    size_t ReadSize;
    size_t Expected;
    int Result;
  } cases[] = {
      {"everything", 4096, all, {}, 4096, 4096, ERAR_SUCCESS},
      {"limited inside a block", 4096, 4001, {}, 4096, 4001, ERAR_SUCCESS},
      {"limited to nothing", 4096, 0, {}, 4096, 0, ERAR_SUCCESS},
      {"a limit beyond the data", 64, 100, {}, 4096, 64, ERAR_SUCCESS},
      {"bigger than the stage's buffer", 69984, all, {}, 10000, 69984, ERAR_SUCCESS},
      {"odd pieces from below", 4096, all, {1, 7, 16, 5, 100}, 4096, 4096, ERAR_SUCCESS},
      {"one byte at a time from below", 256, all, {1}, 4096, 256, ERAR_SUCCESS},
      {"one byte at a time to the consumer", 256, all, {}, 1, 256, ERAR_SUCCESS},
      {"nothing at all", 0, all, {}, 4096, 0, ERAR_SUCCESS},
      {"ends inside a block", 4100, all, {}, 4096, 4096, ERAR_BAD_DATA},
      {"shorter than a block", 9, all, {}, 4096, 0, ERAR_BAD_DATA},
      {"ends inside a block, limit already met", 4100, 4096, {}, 4096, 4096, ERAR_SUCCESS},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    TMemoryInput below(encrypt(c.CipherSize), c.Chunks);
    TAesCbcInput stage(below, key, c.Limit);
    TDrained out = Drain(stage, c.ReadSize);
    EXPECT_EQ(out.Result, c.Result);
    EXPECT_EQ(out.Data, plain.substr(0, c.Expected));
  }
  // An error from below ends the read with that error.
  TMemoryInput failing(encrypt(4096));
  failing.FailAfter = 0;
  failing.Failure = ERAR_EREAD;
  TAesCbcInput stage(failing, key);
  EXPECT_EQ(Drain(stage).Result, ERAR_EREAD);
}

TEST(UnrarCrypt, TheCacheDerivesOncePerSaltAndPassword) {
  TRarKeyCache cache;
  EXPECT_FALSE(cache.HasPassword());
  cache.SetPassword("one");
  const uint8_t a[8] = {1}, b[8] = {2};
  TRar3Key first = cache.Rar3(a);
  for (int i = 0; i < 5; ++i) cache.Rar3(a);
  EXPECT_EQ(cache.Derivations(), 1u);
  EXPECT_NE(ToHex(cache.Rar3(b).Key.data(), 16), ToHex(first.Key.data(), 16));
  cache.Rar3(nullptr);  // no salt is a salt of its own
  EXPECT_EQ(cache.Derivations(), 3u);
  cache.SetPassword("one");  // the same again keeps everything
  cache.Rar3(a);
  EXPECT_EQ(cache.Derivations(), 3u);
  cache.SetPassword("two");
  EXPECT_NE(ToHex(cache.Rar3(a).Key.data(), 16), ToHex(first.Key.data(), 16));
  EXPECT_EQ(cache.Derivations(), 4u);
  cache.SetPassword("one");
  EXPECT_EQ(ToHex(cache.Rar3(a).Key.data(), 16), ToHex(first.Key.data(), 16));
  EXPECT_EQ(cache.Derivations(), 5u);
  cache.SetPassword(nullptr);
  EXPECT_FALSE(cache.HasPassword());

  // RAR 5: the KDF count is part of what is cached.
  cache.SetPassword("pw");
  const uint8_t salt5[16] = {7};
  const TRar5Key* k10 = cache.Rar5(salt5, 1);
  ASSERT_TRUE(k10);
  std::string key10 = ToHex(k10->Key.data(), 32);
  cache.Rar5(salt5, 1);
  EXPECT_EQ(cache.Derivations(), 6u);
  EXPECT_NE(ToHex(cache.Rar5(salt5, 2)->Key.data(), 32), key10);
  EXPECT_EQ(cache.Derivations(), 7u);
}

// More distinct salts than the cache keeps: every key stays right, the oldest are derived again.
TEST(UnrarCrypt, TheCacheStaysRightBeyondItsCapacity) {
  TRarKeyCache cache;
  cache.SetPassword("pw");
  const size_t salts = TRarKeyCache::Capacity + 3;
  std::vector<std::string> keys;
  for (size_t i = 0; i < salts; ++i) {
    uint8_t salt5[16] = {uint8_t(i), 1};
    keys.push_back(ToHex(cache.Rar5(salt5, 0)->Key.data(), 32));
  }
  EXPECT_EQ(cache.Derivations(), salts);
  for (size_t i = 0; i < salts; ++i) {
    uint8_t salt5[16] = {uint8_t(i), 1};
    TRar5Key fresh;
    ASSERT_TRUE(DeriveRar5Key("pw", salt5, 0, fresh));
    EXPECT_EQ(ToHex(cache.Rar5(salt5, 0)->Key.data(), 32), ToHex(fresh.Key.data(), 32)) << i;
    EXPECT_EQ(keys[i], ToHex(fresh.Key.data(), 32));
  }
  EXPECT_GT(cache.Derivations(), salts);
}

// Passwords are cut at the archiver's limit of 127 UTF-16 units, never inside a character.
TEST(UnrarCrypt, PasswordsAreCutAtTheArchiversLimit) {
  struct TCase {
    std::string Given;
    size_t Kept;
  } cases[] = {
      {"password", 8},
      {std::string(127, 'x'), 127},
      {std::string(200, 'x'), 127},
      {std::string(126, 'x') + "\xe2\x82\xac", 129},                // the euro sign is one unit
      {std::string(126, 'x') + "\xf0\x9f\x98\x80", 126},            // an emoji is two: it does not fit
      {std::string(120, 'x') + "\xff\xfe" + std::string(10, 'y'), 127},  // stray bytes count as one each
      {"", 0},
  };
  for (const auto& c : cases) {
    TRarPassword password;
    password.Set(c.Given.c_str());
    EXPECT_EQ(password.Size, c.Kept) << c.Given.size();
    EXPECT_EQ(password.Text(), c.Given.substr(0, c.Kept));
  }
  // The derivations cut a longer password the same way (and never write past their buffers).
  const uint8_t salt[16] = {5};
  std::string longest(RarMaxPasswordBytes + 100, 'x');
  TRar3Key long3, kept3;
  DeriveRar3Key(longest, salt, long3);
  DeriveRar3Key(longest.substr(0, RarMaxPasswordUnits), salt, kept3);
  EXPECT_EQ(ToHex(long3.Key.data(), 16), ToHex(kept3.Key.data(), 16));
  TRar5Key long5, kept5;
  ASSERT_TRUE(DeriveRar5Key(longest, salt, 0, long5));
  ASSERT_TRUE(DeriveRar5Key(longest.substr(0, RarMaxPasswordUnits), salt, 0, kept5));
  EXPECT_EQ(ToHex(long5.Key.data(), 32), ToHex(kept5.Key.data(), 32));
}

std::string Rar15(const std::string& password, const std::string& data) {
  TRar15Key key;
  SetupRar15Key(password, key);
  TMemoryInput below(data, {5, 1, 64});
  TRar15Input stage(below, key);
  return Drain(stage, 7).Data;
}

int Shell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// RAR 1.5's key stream is its own inverse: the test encrypts with the library's stage, and an
// independent extractor (unar) must get the files back, so the cipher is not only checked
// against itself.
TEST(UnrarCrypt, Rar15EntriesOpenInAnIndependentExtractor) {
  ASSERT_EQ(Shell("command -v unar >/dev/null"), 0) << "unar is a test dependency";
  TTempDir dir;
  struct TCase {
    const char* Password;
    std::string Data;
  } cases[] = {
      {"secret", "Hello, RAR 1.5 encryption!"},
      {"a", std::string(5000, '\0') + "tail"},
      {"a longer password with spaces 123", "short"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Password);
    std::string name = "v15-" + std::to_string(n++);
    TRarTestEntry entry;
    entry.Name = "file.bin";
    entry.Data = c.Data;
    entry.UnpVer = 15;
    entry.HostOS = 0;
    entry.Encrypt = [&](const std::string& plain) { return Rar15(c.Password, plain); };
    std::string archive = WriteRarArchive(dir.File(name + ".rar"), {entry}).front();
    EXPECT_EQ(Rar15(c.Password, Rar15(c.Password, c.Data)), c.Data);
    EXPECT_NE(Rar15(c.Password, c.Data), c.Data);
    std::string out = dir.File(name);
    ASSERT_EQ(Shell("unar -q -o '" + out + "' -p '" + c.Password + "' '" + archive + "' >/dev/null 2>&1"), 0);
    EXPECT_EQ(ReadWholeFile(out + "/file.bin"), c.Data);
    // And the wrong password does not.
    EXPECT_NE(Shell("unar -q -f -o '" + out + "-w' -p wrong '" + archive + "' >/dev/null 2>&1"), 0);
  }
}

}  // namespace
