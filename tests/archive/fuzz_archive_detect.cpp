// libFuzzer target: archive detection over arbitrary files, plus the volume number
// and mask matching over arbitrary names. Detection must never throw, read past the
// end, or take long; the sanitizers catch the rest.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "ArchiveTestFiles.h"
#include "archive/aknDetect.h"
#include "archive/aknMasks.h"

namespace {

std::string InputPath() {
  static const std::string path = [] {
    std::random_device random;
    return (std::filesystem::temp_directory_path() /
            ("tallyra-fuzz-" + std::to_string(random()) + "-" + std::to_string(random()) + ".jar"))
        .string();
  }();
  return path;
}

void WriteSeed(const std::filesystem::path& dir, const std::string& name, const TBytes& data) {
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// Small files of the kinds the real samples do not cover.
void WriteSeeds(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir);
  TBytes stubExe = DosHeader(2, 512);
  stubExe.resize(1024, 0);
  TBytes sfx = PeWithStrings({{1, u"2000"}});
  sfx.resize(2000, 0);
  WriteSeed(dir, "pe-strings.exe", Concat(sfx, RarArchive()));
  WriteSeed(dir, "dos-stub.exe", Concat(stubExe, Bytes({0x11, 0x22, 0x60, 0xEA, 0x33, 0x44})));
  WriteSeed(dir, "zip.zip", Zip());
  WriteSeed(dir, "zip-disk1.bin", Concat(Text("junk"), Zip(1)));
  WriteSeed(dir, "tar.tar", Concat(Concat(TarHeader("LABEL", 'V'), TarHeader("a.txt")), TBytes(512, 'd')));
  WriteSeed(dir, "uue.uue", Text("header\nbegin 644 a.txt\nM86)C\n`\nend\n"));
  WriteSeed(dir, "ace.ace", Concat(Text("abcdefg**ACE**"), TBytes(40, 'x')));
  WriteSeed(dir, "zeros-rar.rar", Concat(TBytes(100, 0), RarArchive()));
  TBytes scan = DosHeader();
  scan.resize(18000, 0);
  WriteSeed(dir, "scan.exe", Concat(scan, Text("-lh5-xxxxxxxx")));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* seeds = std::getenv("TALLYRA_FUZZ_WRITE_SEEDS")) {
    WriteSeeds(seeds);
    std::exit(0);
  }
  // The name is made first so that it outlives the handler that removes the file.
  (void)InputPath();
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove(InputPath(), ec);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    std::ofstream out(InputPath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const TDetection d = DetectArchive(InputPath());
  if (d.ArchiveSize != static_cast<std::int64_t>(size) || d.ArcType >= ArcTypeCount) std::abort();

  const std::size_t nameLength = std::min<std::size_t>(size, 256);
  const std::string name(reinterpret_cast<const char*>(data), nameLength);
  (void)VolumeNumberFromName(name, atRar);
  (void)VolumeNumberFromName(name, atArj);
  const std::size_t half = nameLength / 2;
  (void)MatchesMask(name.substr(half), name.substr(0, half));
  return 0;
}
