// The binding: loading libunrar.so from the program's folder, counted initialisation, the
// stand-ins when it is missing, and the callbacks reaching the running extractor.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <cwchar>
#include <libdeflate.h>
#include <unistd.h>
#include <vector>
#include <memory>

#include "archive/aknUnRarDll.h"

namespace {

std::string Sample(const std::string& name) {
  const char* root = std::getenv("TALLYRA_TESTDATA");
  return std::string(root ? root : "/work/shared/testdata") + "/rar/" + name;
}

// Opens a sample through the bound library; null when it cannot.
void* OpenSample(const TUnRarLibrary& lib, std::string& path) {
  RAROpenArchiveData open{};
  open.ArcName = path.data();
  open.OpenMode = RAR_OM_EXTRACT;
  return lib.OpenArchive(&open);
}

struct TRecorder : IUnRarCallbacks {
  std::vector<std::pair<int, std::string>> Volumes;
  uint32_t Crc = 0;
  int ChangeVolume(char* arcName, int mode) override {
    Volumes.emplace_back(mode, arcName);
    return 1;
  }
  int ProcessData(unsigned char* data, int size) override {
    Crc = libdeflate_crc32(Crc, data, size_t(size));
    return 1;
  }
};

TEST(UnRarBinding, LoadsFromTheProgramFolderAndReachesTheRunningExtractor) {
  ASSERT_TRUE(InitUnRarLibrary(UNRAR_LIBRARY_DIR));
  EXPECT_TRUE(UnRarLibraryAvailable());
  EXPECT_EQ(UnRarLibraryPath(), std::string(UNRAR_LIBRARY_DIR) + "/libunrar.so");
  const TUnRarLibrary& lib = UnRarLibrary();

  TRecorder recorder;
  SetRunningUnRar(&recorder);
  RAROpenArchiveData open{};
  std::string name = Sample("rarfile/rar3-old.rar");
  open.ArcName = name.data();
  open.OpenMode = RAR_OM_EXTRACT;
  void* handle = lib.OpenArchive(&open);
  ASSERT_NE(handle, nullptr);
  lib.SetProcessDataProc(handle, UnRarProcessDataProc);
  lib.SetChangeVolProc(handle, UnRarChangeVolProc);
  RARHeaderData header{};
  ASSERT_EQ(lib.ReadHeader(handle, &header), ERAR_SUCCESS);
  EXPECT_EQ(lib.ProcessFile(handle, RAR_TEST, nullptr, nullptr), ERAR_SUCCESS);
  EXPECT_EQ(recorder.Crc, 0x509ad74cu);
  EXPECT_EQ(recorder.Volumes.size(), 2u);

  // With no extractor running, the callbacks answer 0 and the library stops.
  SetRunningUnRar(nullptr);
  ASSERT_EQ(lib.ReadHeader(handle, &header), ERAR_SUCCESS);
  EXPECT_NE(lib.ProcessFile(handle, RAR_TEST, nullptr, nullptr), ERAR_SUCCESS);
  EXPECT_EQ(lib.CloseArchive(handle), ERAR_SUCCESS);
  DoneUnRarLibrary();
  EXPECT_FALSE(UnRarLibraryAvailable());
}

// Where each copy of the library sits decides which one loads: the program's own folder
// first, then PREFIX/lib/tallyra of an installed copy; never a folder above the program.
TEST(UnRarBinding, LooksInTheProgramFolderThenInTheInstalledLibraryFolder) {
  const struct {
    std::vector<std::string> Copies;  // relative to a scratch prefix; the program is bin/tallyra
    const char* Loaded;               // the copy that must load
  } cases[] = {
      {{"bin/libunrar.so"}, "bin/libunrar.so"},
      {{"lib/tallyra/libunrar.so"}, "lib/tallyra/libunrar.so"},
      {{"bin/libunrar.so", "lib/tallyra/libunrar.so"}, "bin/libunrar.so"},
  };
  if (void* system = dlopen("libunrar.so", RTLD_NOW)) {
    dlclose(system);
    GTEST_SKIP() << "a libunrar.so is installed on the search path";
  }
  const std::filesystem::path built = std::filesystem::path(UNRAR_LIBRARY_DIR) / "libunrar.so";
  // The library is never unloaded, and dlopen answers a path it has loaded before without
  // looking at the file again: every layout gets a prefix of its own.
  int layout = 0;
  auto nextPrefix = [&layout] {
    return std::filesystem::temp_directory_path() /
           ("unrar-layout-" + std::to_string(getpid()) + "-" + std::to_string(layout++));
  };
  // The program's parent folder is not a place the library is taken from. Tried first: once a
  // copy is loaded, the plain name finds it among the loaded ones.
  std::filesystem::path prefix = nextPrefix();
  std::filesystem::create_directories(prefix / "bin");
  std::filesystem::copy_file(built, prefix / "libunrar.so");
  EXPECT_FALSE(InitUnRarLibrary((prefix / "bin").string()));
  DoneUnRarLibrary();
  std::filesystem::remove_all(prefix);
  for (const auto& c : cases) {
    prefix = nextPrefix();
    std::filesystem::remove_all(prefix);
    std::filesystem::create_directories(prefix / "bin");
    for (const std::string& copy : c.Copies) {
      std::filesystem::create_directories((prefix / copy).parent_path());
      std::filesystem::copy_file(built, prefix / copy);
    }
    EXPECT_TRUE(InitUnRarLibrary((prefix / "bin").string())) << c.Loaded;
    EXPECT_EQ(UnRarLibraryPath(), (prefix / c.Loaded).string());
    DoneUnRarLibrary();
    std::filesystem::remove_all(prefix);
  }
}

TEST(UnRarBinding, TheLaterEntryPointsOfOurLibrary) {
  ASSERT_TRUE(InitUnRarLibrary(UNRAR_LIBRARY_DIR));
  const TUnRarLibrary& lib = UnRarLibrary();
  EXPECT_EQ(lib.GetDllVersion(), RAR_DLL_VERSION);
  std::string name = Sample("rarfile/unicode2.rar");
  void* handle = OpenSample(lib, name);
  ASSERT_NE(handle, nullptr);
  auto header = std::make_unique<RARHeaderDataEx>();
  ASSERT_EQ(lib.ReadHeaderEx(handle, header.get()), ERAR_SUCCESS);
  EXPECT_EQ(header->FileNameW, std::wstring(L"\U0001D400\U0001D401\U0001D401\U0001D402.txt"));
  lib.CloseArchive(handle);
  DoneUnRarLibrary();
}

// A library of the first ABI: version 0, and the extended record read through the old one.
TEST(UnRarBinding, AnOlderLibraryIsReadThroughTheLegacyRecord) {
  ASSERT_TRUE(InitUnRarLibrary(LEGACY_UNRAR_DIR));
  ASSERT_EQ(UnRarLibraryPath(), std::string(LEGACY_UNRAR_DIR) + "/libunrar.so");
  void* own = dlopen(UnRarLibraryPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(dlsym(own, "RARReadHeaderEx"), nullptr);
  dlclose(own);
  const TUnRarLibrary& lib = UnRarLibrary();
  EXPECT_EQ(lib.GetDllVersion(), 0);
  std::string name = Sample("rarfile/rar3-subdirs.rar");
  void* handle = OpenSample(lib, name);
  ASSERT_NE(handle, nullptr);
  auto header = std::make_unique<RARHeaderDataEx>();
  std::wcscpy(header->FileNameW, L"left over");
  ASSERT_EQ(lib.ReadHeaderEx(handle, header.get()), ERAR_SUCCESS);
  EXPECT_STREQ(header->FileName, "sub/dir2/file2.txt");
  EXPECT_EQ(header->FileNameW[0], L'\0');
  EXPECT_EQ(std::string(header->ArcName), name);
  EXPECT_EQ(header->UnpSize, 6u);
  EXPECT_EQ(header->UnpSizeHigh, 0u);
  EXPECT_EQ(header->FileCRC, 0xc904a4c7u);
  EXPECT_EQ(header->HashType, unsigned(RAR_HASH_CRC32));
  for (int i = 0; i < 4; ++i) ASSERT_EQ(lib.ReadHeaderEx(handle, header.get()), ERAR_SUCCESS);
  EXPECT_STREQ(header->FileName, "sub/dir2");
  EXPECT_EQ(header->HashType, unsigned(RAR_HASH_NONE));
  lib.CloseArchive(handle);
  DoneUnRarLibrary();
}

TEST(UnRarBinding, InitialisationIsCounted) {
  ASSERT_TRUE(InitUnRarLibrary(std::string(UNRAR_LIBRARY_DIR) + "/"));
  ASSERT_TRUE(InitUnRarLibrary("/nonexistent"));  // already loaded: the folder no longer matters
  DoneUnRarLibrary();
  EXPECT_TRUE(UnRarLibraryAvailable());
  DoneUnRarLibrary();
  EXPECT_FALSE(UnRarLibraryAvailable());
  DoneUnRarLibrary();  // one too many is harmless
  EXPECT_FALSE(UnRarLibraryAvailable());
}

TEST(UnRarBinding, StandInsWhenTheLibraryIsMissing) {
  if (void* system = dlopen("libunrar.so", RTLD_NOW)) {
    dlclose(system);
    GTEST_SKIP() << "a libunrar.so is installed on the search path";
  }
  std::string empty = (std::filesystem::temp_directory_path() / "no-unrar-here").string();
  std::filesystem::create_directories(empty);
  EXPECT_FALSE(InitUnRarLibrary(empty));
  EXPECT_FALSE(UnRarLibraryAvailable());
  EXPECT_TRUE(UnRarLibraryPath().empty());
  const TUnRarLibrary& lib = UnRarLibrary();
  RAROpenArchiveData open{};
  std::string name = Sample("rarfile/rar3-solid.rar");
  open.ArcName = name.data();
  EXPECT_EQ(lib.OpenArchive(&open), nullptr);
  EXPECT_EQ(open.OpenResult, unsigned(ERAR_EOPEN));
  RARHeaderData header{};
  EXPECT_EQ(lib.ReadHeader(nullptr, &header), ERAR_BAD_DATA);
  auto extended = std::make_unique<RARHeaderDataEx>();
  EXPECT_EQ(lib.ReadHeaderEx(nullptr, extended.get()), ERAR_BAD_DATA);
  EXPECT_EQ(lib.GetDllVersion(), 0);
  EXPECT_EQ(lib.ProcessFile(nullptr, RAR_EXTRACT, nullptr, nullptr), ERAR_BAD_ARCHIVE);
  EXPECT_EQ(lib.CloseArchive(nullptr), ERAR_SUCCESS);
  lib.SetChangeVolProc(nullptr, UnRarChangeVolProc);
  lib.SetProcessDataProc(nullptr, UnRarProcessDataProc);
  lib.SetPassword(nullptr, nullptr);
  DoneUnRarLibrary();
  std::filesystem::remove(empty);
}

// A file of that name that is not our library (here: not a shared object at all) is refused.
TEST(UnRarBinding, AForeignFileIsNotTakenForTheLibrary) {
  std::string dir = (std::filesystem::temp_directory_path() / "fake-unrar").string();
  std::filesystem::create_directories(dir);
  { std::ofstream(dir + "/libunrar.so") << "not a library"; }
  if (void* system = dlopen("libunrar.so", RTLD_NOW)) {
    dlclose(system);
    GTEST_SKIP() << "a libunrar.so is installed on the search path";
  }
  EXPECT_FALSE(InitUnRarLibrary(dir));
  DoneUnRarLibrary();
  std::filesystem::remove_all(dir);
}

}  // namespace
