// RAR 5 encryption through the C ABI on the real samples: AES-256 file data with keyed
// checksums, encrypted headers opened with the password set before the first read, the check
// value refusing a wrong password at once (24), and archives that mix plain and encrypted
// entries whose plain ones come out without a password.
#include <gtest/gtest.h>

#include "UnrarTestSupport.h"
#include "RarWriter.h"

namespace fs = std::filesystem;

namespace {

std::string Sample(const std::string& name) {
  for (const char* folder : {"rar5/rarfile/", "rar5/libarchive/"})
    if (fs::exists(TestDataPath(folder + name))) return TestDataPath(folder + name);
  return {};
}

// stest1.txt and stest2.txt of the rarfile samples: the same 2048 bytes.
constexpr uint32_t StestCrc = 0xc5b7e6a2;

// File data encrypted (the CRC-32 or BLAKE2sp keyed with the password), headers plain or
// encrypted: with "password" everything comes out; the data the callback gets is the plain file.
TEST(UnrarRar5Crypt, TheSamplesOpenWithTheirPassword) {
  struct TCase {
    const char* Sample;
    unsigned HashType;  // what the record lets a caller check itself: a keyed CRC-32 is not
    size_t Entries;
  } cases[] = {{"rar5-psw.rar", RAR_HASH_NONE, 2},
               {"rar5-psw-blake.rar", RAR_HASH_BLAKE2, 2},
               {"rar5-hpsw.rar", RAR_HASH_CRC32, 2},
               // libarchive's headers-encrypted samples have the same password.
               {"test_read_format_rar5_encrypted_filenames.rar", RAR_HASH_CRC32, 4},
               {"test_read_format_rar5_solid_encrypted_filenames.rar", RAR_HASH_CRC32, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Sample);
    TTempDir out;
    TAbiOptions options;
    options.Operation = RAR_EXTRACT;
    options.Dest = out.Path();
    options.Password = "password";
    TAbiRun run = RunThroughAbi(Sample(c.Sample), options);
    EXPECT_EQ(run.EndResult, ERAR_END_ARCHIVE);
    ASSERT_EQ(run.Entries.size(), c.Entries);
    for (const auto& e : run.Entries) {
      SCOPED_TRACE(e.Name);
      EXPECT_EQ(e.Flags & 0x04u, 0x04u);
      EXPECT_EQ(e.HashType, c.HashType);
      EXPECT_EQ(e.Result, ERAR_SUCCESS);
      EXPECT_EQ(e.Bytes, e.UnpSize);
      if (c.Entries == 2) {
        EXPECT_EQ(e.Crc, StestCrc);
      } else {
        EXPECT_EQ(e.Crc, e.FileCRC);
      }
      if (c.HashType == RAR_HASH_BLAKE2) {
        EXPECT_NE(e.Blake2, e.Hash);  // stored keyed; only the library can hold the data against it
      }
      EXPECT_EQ(FileCrc(out.File(e.Name)), e.Crc);
    }
  }
}

// Without the password the entry asks for one (22) and may be tried again on the same handle;
// a wrong one is refused at once by the check value (24), and nothing is written either way.
TEST(UnrarRar5Crypt, AMissingOrWrongPasswordIsRefusedAndTheEntryMayBeTriedAgain) {
  for (const char* sample : {"rar5-psw.rar", "rar5-psw-blake.rar"}) {
    SCOPED_TRACE(sample);
    TTempDir out;
    TOpenedArchive h(Sample(sample));
    ASSERT_TRUE(h.Handle);
    RARHeaderData header{};
    ASSERT_EQ(RARReadHeader(h.Handle, &header), ERAR_SUCCESS);
    std::string dest = out.Path();
    EXPECT_EQ(RARProcessFile(h.Handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_MISSING_PASSWORD);
    char wrong[] = "Password", right[] = "password";
    RARSetPassword(h.Handle, wrong);
    Log().ResetEntry();
    EXPECT_EQ(RARProcessFile(h.Handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_BAD_PASSWORD);
    EXPECT_EQ(Log().Bytes, 0u);
    EXPECT_TRUE(fs::is_empty(out.Path()));
    RARSetPassword(h.Handle, right);
    EXPECT_EQ(RARProcessFile(h.Handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_SUCCESS);
    EXPECT_EQ(Log().Crc, StestCrc);
    EXPECT_EQ(FileCrc(out.File("stest1.txt")), StestCrc);
  }
}

// Encrypted headers need the password before the first read: without one, or with a wrong one
// (the check value tells at once), nothing is listed.
TEST(UnrarRar5Crypt, EncryptedHeadersNeedThePasswordFirst) {
  const struct {
    const char* Password;
    int Read;
  } cases[] = {{nullptr, ERAR_MISSING_PASSWORD}, {"wrong", ERAR_BAD_PASSWORD}, {"password", ERAR_SUCCESS}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Password ? c.Password : "none");
    TOpenedArchive h(Sample("rar5-hpsw.rar"));
    ASSERT_TRUE(h.Handle);
    std::string password = c.Password ? c.Password : "";
    if (c.Password) RARSetPassword(h.Handle, password.data());
    auto record = std::make_unique<RARHeaderDataEx>();
    EXPECT_EQ(RARReadHeaderEx(h.Handle, record.get()), c.Read);
    if (c.Read == ERAR_SUCCESS) {
      EXPECT_STREQ(record->FileName, "stest1.txt");
      EXPECT_EQ(record->UnpVer, 50u);
    } else {
      EXPECT_STREQ(record->FileName, "");
      // It stays so: another password needs the archive opened again.
      EXPECT_EQ(RARReadHeaderEx(h.Handle, record.get()), c.Read);
    }
  }
  for (const char* sample : {"test_read_format_rar5_encrypted_filenames.rar", "test_read_format_rar5_solid_encrypted_filenames.rar"}) {
    SCOPED_TRACE(sample);
    TAbiRun none = RunThroughAbi(Sample(sample));
    EXPECT_TRUE(none.Entries.empty());
    EXPECT_EQ(none.EndResult, ERAR_MISSING_PASSWORD);
    TAbiOptions wrong;
    wrong.Password = "wrong";
    TAbiRun run = RunThroughAbi(Sample(sample), wrong);
    EXPECT_TRUE(run.Entries.empty());
    EXPECT_EQ(run.EndResult, ERAR_BAD_PASSWORD);
  }
}

// An archive of plain and encrypted entries: the plain ones come out with or without a password,
// the encrypted ones fail cleanly (22 without one, 24 with a wrong one: d.txt has a password of
// its own that nobody here knows); a solid set without its password fails entry by entry, never
// with garbage, and comes out whole with it.
TEST(UnrarRar5Crypt, PlainEntriesComeOutBesideEncryptedOnes) {
  for (const char* password : {"", "not the password", "password"}) {
    SCOPED_TRACE(password);
    TTempDir out;
    TAbiOptions options;
    options.Operation = RAR_EXTRACT;
    options.Dest = out.Path();
    options.Password = password;
    TAbiRun run = RunThroughAbi(Sample("test_read_format_rar5_encrypted.rar"), options);
    EXPECT_EQ(run.EndResult, ERAR_END_ARCHIVE);
    ASSERT_EQ(run.Entries.size(), 4u);
    const bool right = std::string(password) == "password";
    const int refused = *password ? ERAR_BAD_PASSWORD : ERAR_MISSING_PASSWORD;
    const std::pair<const char*, int> expected[] = {
        {"a.txt", 0}, {"b.txt", right ? 0 : refused}, {"c.txt", 0}, {"d.txt", *password ? ERAR_BAD_PASSWORD : refused}};
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(run.Entries[i].Name, expected[i].first);
      EXPECT_EQ(run.Entries[i].Result, expected[i].second) << expected[i].first;
      EXPECT_EQ(fs::exists(out.File(expected[i].first)), expected[i].second == 0) << expected[i].first;
    }
    EXPECT_EQ(run.Entries[0].Crc, 0xee5a6e55u);
    EXPECT_EQ(run.Entries[2].Crc, 0x949a3d35u);

    TAbiRun solid = RunThroughAbi(Sample("test_read_format_rar5_solid_encrypted.rar"), options);
    ASSERT_EQ(solid.Entries.size(), 4u);
    for (const auto& e : solid.Entries) {
      EXPECT_EQ(e.Result, right ? ERAR_SUCCESS : refused) << e.Name;
      EXPECT_EQ(e.Bytes, right ? 18u : 0u) << e.Name;
    }
    if (right) {
      EXPECT_EQ(solid.Entries[0].Crc, 0xee5a6e55u);  // the one entry whose CRC is not keyed
    }
  }
}

// Damaged ciphertext is found by the keyed checksum (or the decoder), never reported as right.
TEST(UnrarRar5Crypt, DamagedCiphertextFailsItsCheck) {
  TTempDir dir;
  std::string image = ReadWholeFile(Sample("rar5-psw.rar"));
  // stest2.txt is stored: its 2048 bytes of ciphertext follow its header at 237 + 105.
  image[237 + 105 + 1000] ^= 0x01;
  const std::string damaged = dir.Write("damaged.rar", image);
  TAbiOptions options;
  options.Password = "password";
  TAbiRun run = RunThroughAbi(damaged, options);
  ASSERT_EQ(run.Entries.size(), 2u);
  EXPECT_EQ(run.Entries[0].Result, ERAR_SUCCESS);
  EXPECT_EQ(run.Entries[1].Result, ERAR_BAD_DATA);
}

}  // namespace

namespace {

// Headers that opened keep opening with the key that opened them, whatever password is set
// later for an entry's data (a caller asking for one per entry); a wrong one for the data is
// still refused.
TEST(UnrarRar5Crypt, EncryptedHeadersStayOpenWhateverPasswordComesLater) {
  TOpenedArchive h(Sample("rar5-hpsw.rar"));
  ASSERT_TRUE(h.Handle);
  char right[] = "password", wrong[] = "wrong";
  RARSetPassword(h.Handle, right);
  auto record = std::make_unique<RARHeaderDataEx>();
  ASSERT_EQ(RARReadHeaderEx(h.Handle, record.get()), ERAR_SUCCESS);
  EXPECT_EQ(RARProcessFile(h.Handle, RAR_TEST, nullptr, nullptr), ERAR_SUCCESS);
  RARSetPassword(h.Handle, wrong);
  ASSERT_EQ(RARReadHeaderEx(h.Handle, record.get()), ERAR_SUCCESS);
  EXPECT_STREQ(record->FileName, "stest2.txt");
  EXPECT_EQ(RARProcessFile(h.Handle, RAR_TEST, nullptr, nullptr), ERAR_BAD_PASSWORD);
  RARSetPassword(h.Handle, right);
  Log().ResetEntry();
  EXPECT_EQ(RARProcessFile(h.Handle, RAR_TEST, nullptr, nullptr), ERAR_SUCCESS);
  EXPECT_EQ(Log().Crc, StestCrc);
  EXPECT_EQ(RARReadHeaderEx(h.Handle, record.get()), ERAR_END_ARCHIVE);
}

}  // namespace
