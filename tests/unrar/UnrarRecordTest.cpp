// The extended header record: its layout, whole names, 64-bit sizes and the other fields; the
// ABI version; the reason a file could not be written; and nothing on stderr.
#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstddef>
#include <cstdlib>
#include <locale.h>
#include <stdexcept>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "RarWriter.h"
#include "UnrarTestSupport.h"

namespace fs = std::filesystem;

namespace {

// The public layout, so that another library with this ABI drops in (LP64, 32-bit wchar_t).
static_assert(sizeof(wchar_t) != 4 || offsetof(RARHeaderDataEx, FileName) == 5120);
static_assert(sizeof(wchar_t) != 4 || offsetof(RARHeaderDataEx, Flags) == 10240);
static_assert(sizeof(void*) != 8 || sizeof(wchar_t) != 4 || offsetof(RARHeaderDataEx, CmtBuf) == 10288);
static_assert(sizeof(void*) != 8 || sizeof(wchar_t) != 4 || offsetof(RARHeaderDataEx, Hash) == 10316);
static_assert(sizeof(void*) != 8 || sizeof(wchar_t) != 4 || offsetof(RARHeaderDataEx, RedirName) == 10352);
static_assert(sizeof(void*) != 8 || sizeof(wchar_t) != 4 || offsetof(RARHeaderDataEx, AtimeHigh) == 10388);
static_assert(sizeof(void*) != 8 || sizeof(wchar_t) != 4 || sizeof(RARHeaderDataEx) == 14344);

struct THandle {
  void* Handle = nullptr;
  explicit THandle(std::string path) {
    RAROpenArchiveData open{};
    open.ArcName = path.data();
    open.OpenMode = RAR_OM_EXTRACT;
    Handle = RAROpenArchive(&open);
  }
  ~THandle() {
    if (Handle) RARCloseArchive(Handle);
  }
};

// The C library's own UTF-8 decoding, so that the record is held against something else.
std::wstring WideOf(const std::string& utf8) {
  locale_t utf8Locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  if (!utf8Locale) throw std::runtime_error("no C.UTF-8 locale");
  locale_t previous = uselocale(utf8Locale);
  std::wstring wide(utf8.size() + 1, L'\0');
  const size_t n = std::mbstowcs(wide.data(), utf8.c_str(), wide.size());
  uselocale(previous);
  freelocale(utf8Locale);
  if (n == size_t(-1)) throw std::runtime_error("not UTF-8");
  wide.resize(n);
  return wide;
}

std::string Repeat(const std::string& part, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += part;
  return out;
}

class UnrarRecord : public ::testing::Test {
 protected:
  void SetUp() override { Log() = TCallbackLog{}; }
  TTempDir Src, Out;
};

TEST_F(UnrarRecord, TheAbiVersionSaysRar5IsUnpacked) { EXPECT_EQ(RARGetDllVersion(), 6); }

// Names past the legacy record's 259 bytes come whole through the extended record, as UTF-8 and
// as wide characters; a field a name does not fit stays empty, and no name is ever cut.
TEST_F(UnrarRecord, NamesComeWholeOrNotAtAll) {
  const std::string cjk = "漢字かな";  // 12 bytes, 4 characters
  struct TCase {
    std::string Name;  // as stored, '\' between folders
    bool Unicode;
    uint8_t Host;
    bool InFileName, InFileNameW, InLegacy;
  } cases[] = {
      {"short.txt", false, 2, true, true, true},
      // About 87 CJK characters reach 259 bytes.
      {Repeat(cjk, 10) + "\\" + Repeat(cjk, 10) + "\\" + Repeat(cjk, 5) + ".txt", true, 2, true, true, false},
      {Repeat(cjk, 10) + "\\" + Repeat(cjk, 10) + "\\" + Repeat(cjk, 5) + ".dat", false, 3, true, true, false},
      // 1440 bytes but 480 characters: only the wide field has room.
      {Repeat(Repeat(cjk, 20) + "\\", 6) + "x", true, 2, false, true, false},
      // 1111 characters: neither field has room.
      {Repeat(std::string(100, 'a') + "\\", 11) + "b", false, 2, false, false, false},
      // Not UTF-8: the bytes stand in FileName, nothing in FileNameW.
      {"caf\xe9-unix.txt", false, 3, true, false, true},
  };
  std::vector<TRarTestEntry> entries;
  for (const auto& c : cases) {
    TRarTestEntry e;
    e.Name = c.Name;
    e.Unicode = c.Unicode;
    e.HostOS = c.Host;
    e.Data = "data of " + std::to_string(entries.size());
    entries.push_back(e);
  }
  const std::string archive = WriteRarArchive(Src.File("names.rar"), entries).front();
  THandle legacy(archive), extended(archive);
  ASSERT_TRUE(legacy.Handle && extended.Handle);
  std::string dest = Out.Path();
  for (size_t i = 0; i < std::size(cases); ++i) {
    const TCase& c = cases[i];
    std::string whole = c.Name;
    for (char& ch : whole)
      if (ch == '\\') ch = '/';
    SCOPED_TRACE(whole.substr(0, 40));
    RARHeaderData old{};
    auto ex = std::make_unique<RARHeaderDataEx>();
    ASSERT_EQ(RARReadHeader(legacy.Handle, &old), ERAR_SUCCESS);
    ASSERT_EQ(RARReadHeaderEx(extended.Handle, ex.get()), ERAR_SUCCESS);
    EXPECT_EQ(std::string(old.FileName), c.InLegacy ? whole : "");
    EXPECT_EQ(std::string(ex->FileName), c.InFileName ? whole : "");
    EXPECT_EQ(std::wstring(ex->FileNameW), c.InFileNameW ? WideOf(whole) : L"");
    EXPECT_EQ(std::string(ex->ArcName), archive);
    EXPECT_EQ(std::wstring(ex->ArcNameW), WideOf(archive));
    // Extraction by folder alone takes the whole name, whatever the record could hold.
    EXPECT_EQ(RARProcessFile(extended.Handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_SUCCESS);
    EXPECT_EQ(ReadWholeFile(Out.File(whole)), entries[i].Data);
  }
}

TEST_F(UnrarRecord, SizesBeyond4GiBAndTheOtherFields) {
  const uint64_t size = (4ull << 30) + 12345;
  std::string archive = Src.File("big.rar");
  TRarTestEntry after;
  after.Name = "after.txt";
  after.Data = "behind the hole";
  WriteSparseRarArchive(archive, "big.bin", size, 0x12345678, after);
  THandle h(archive);
  ASSERT_TRUE(h.Handle);
  auto ex = std::make_unique<RARHeaderDataEx>();
  ASSERT_EQ(RARReadHeaderEx(h.Handle, ex.get()), ERAR_SUCCESS);
  EXPECT_EQ(uint64_t(ex->UnpSizeHigh) << 32 | ex->UnpSize, size);
  EXPECT_EQ(uint64_t(ex->PackSizeHigh) << 32 | ex->PackSize, size);
  EXPECT_EQ(ex->HashType, unsigned(RAR_HASH_CRC32));
  EXPECT_EQ(ex->FileCRC, 0x12345678u);
  EXPECT_EQ(ex->FileAttr, 0x20u);  // 0644 on Unix
  ASSERT_EQ(RARReadHeaderEx(h.Handle, ex.get()), ERAR_SUCCESS);
  EXPECT_STREQ(ex->FileName, "after.txt");
  EXPECT_EQ(ex->UnpSizeHigh, 0u);
  std::string dest = Out.Path();
  EXPECT_EQ(RARProcessFile(h.Handle, RAR_EXTRACT, dest.data(), nullptr), ERAR_SUCCESS);
  // The modification time is the DOS time the file gets, as a Windows file time.
  struct stat st {};
  ASSERT_EQ(::stat(Out.File("after.txt").c_str(), &st), 0);
  const uint64_t fileTime = uint64_t(ex->MtimeHigh) << 32 | ex->MtimeLow;
  EXPECT_EQ(int64_t(fileTime / 10000000 - 11644473600ull), int64_t(st.st_mtime));
  EXPECT_EQ(fileTime % 10000000, 0u);
}

TEST_F(UnrarRecord, DictionaryAndHashOfRealEntries) {
  THandle h(TestDataPath("rar/rarfile/rar3-subdirs.rar"));
  ASSERT_TRUE(h.Handle);
  auto ex = std::make_unique<RARHeaderDataEx>();
  ASSERT_EQ(RARReadHeaderEx(h.Handle, ex.get()), ERAR_SUCCESS);
  EXPECT_STREQ(ex->FileName, "sub/dir2/file2.txt");
  EXPECT_EQ(ex->DictSize, 128u);  // flags 0x9020
  EXPECT_EQ(ex->HashType, unsigned(RAR_HASH_CRC32));
  for (int i = 0; i < 4; ++i) ASSERT_EQ(RARReadHeaderEx(h.Handle, ex.get()), ERAR_SUCCESS);
  EXPECT_STREQ(ex->FileName, "sub/dir2");
  EXPECT_EQ(ex->HashType, unsigned(RAR_HASH_NONE));
  EXPECT_EQ(ex->FileAttr, 0x10u);
  EXPECT_EQ(ex->DictSize, 0u);
}

// After 16 the caller finds the system's reason in errno: a folder that is a file, a name the
// file system cannot take.
TEST_F(UnrarRecord, ACreateErrorLeavesItsReasonInErrno) {
  std::ofstream(Out.File("blocker")) << "a file where a folder should be";
  struct TCase {
    std::string DestName;
    int Errno;
  } cases[] = {
      {Out.File("blocker/x.txt"), ENOTDIR},
      {Out.File(std::string(300, 'n')), ENAMETOOLONG},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Errno);
    TRarTestEntry e;
    e.Name = "x.txt";
    e.Data = "data";
    THandle h(WriteRarArchive(Src.File("one.rar"), {e}).front());
    ASSERT_TRUE(h.Handle);
    RARHeaderData header{};
    ASSERT_EQ(RARReadHeader(h.Handle, &header), ERAR_SUCCESS);
    std::string name = c.DestName;
    errno = 0;
    EXPECT_EQ(RARProcessFile(h.Handle, RAR_EXTRACT, nullptr, name.data()), ERAR_ECREATE);
    EXPECT_EQ(errno, c.Errno);
  }
}

// Damaged data is reported through results only; nothing may reach the user's stderr.
TEST_F(UnrarRecord, DecoderDiagnosticsStayOffStderr) {
  const std::string captured = Out.File("stderr.txt");
  fflush(stderr);
  const int saved = dup(2);
  const int file = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(file, 0);
  dup2(file, 2);
  ::close(file);
  std::vector<int> results;
  for (const char* name : {"libarchive/test_read_format_rar3_lowdist_reset.rar",
                           "libarchive/test_read_format_rar_ppmd_use_after_free.rar",
                           "libarchive/test_read_format_rar_invalid1.rar"})
    for (const auto& item : RunArchive(TestDataPath(std::string("rar/") + name), RAR_TEST))
      results.push_back(item.ProcessResult);
  fflush(stderr);
  dup2(saved, 2);
  ::close(saved);
  EXPECT_NE(std::count(results.begin(), results.end(), ERAR_SUCCESS), std::ptrdiff_t(results.size()));
  EXPECT_EQ(ReadWholeFile(captured), "");
}

}  // namespace
