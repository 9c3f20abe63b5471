// libFuzzer target: the SFV reader over arbitrary bytes (byte-order marks, UTF-16,
// Windows-1252, stray line ends), and the entry lookup over the names it yields, in a
// folder of a few files. Every shown name must be valid UTF-8 and fold to valid UTF-8;
// nothing may read past its input or loop; the sanitizers catch the rest.
#include "checksum/SfvFile.h"
#include "checksum/SfvLookup.h"
#include "platform/Utf8.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

// A folder with a subfolder and names that differ only in letter case.
const std::string& Folder() {
  static const std::string folder = [] {
    const auto dir = std::filesystem::temp_directory_path() / ("tallyra-fuzz-sfv-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(dir / "CD1");
    for (const char* name : {"CD1/Part.rar", "a.rar", "A.RAR", "Caf\xC3\xA9.rar"}) std::ofstream(dir / name) << "x";
    static const std::filesystem::path remove = dir;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(remove, ec);
    });
    return dir.string() + "/";
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const TSfvEntry& entry : ReadSfvEntries(bytes)) {
    if (!IsValidUtf8(entry.Name) || !IsValidUtf8(FoldCase(entry.Name))) std::abort();
    if (Utf8Length(entry.NameBytes) > entry.NameBytes.size()) std::abort();
    const TEntryLookup found = FindEntryFile(Folder(), entry);
    if (found.Status == TLookupStatus::Found && found.Path.rfind(Folder(), 0) != 0) std::abort();
  }
  return 0;
}
