// Writes the RAR 5 archive the benchmark extracts, with the test writer: mixed content (text,
// x86-like code behind the E8 filter, incompressible data stored), as one archive, a volume set
// (split at VOLUME_BYTES) or a solid archive. Deterministic, so every run measures the same
// bytes.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "Rar5Writer.h"

namespace {

std::string Text(size_t size, unsigned seed) {
  static const char* words[] = {"archive ", "volume ", "solid ", "dictionary ", "window ", "filter ", "the ",
                                "of ",      "and ",    "checksum ", "header ",   "entry ",  "data ",   "set\n",
                                "file ",    "block ",  "table ",    "code ",     "length ", "distance "};
  std::mt19937 random(seed);
  std::string s;
  s.reserve(size + 16);
  while (s.size() < size) s += words[random() % 20];
  s.resize(size);
  return s;
}

// Code-like bytes: CALL and JMP opcodes with nearby targets among text-like filler.
std::string Code(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string s = Text(size, seed + 1000);
  for (size_t i = 0; i + 5 < size; i += 5 + random() % 40) {
    s[i] = char(random() % 3 ? 0xE8 : 0xE9);
    const int32_t target = int32_t(random() % 400000) - 200000;
    for (int k = 0; k < 4; ++k) s[i + 1 + size_t(k)] = char(uint32_t(target) >> (8 * k));
  }
  return s;
}

std::string Noise(size_t size, unsigned seed) {
  std::mt19937_64 random(seed);
  std::string s(size, '\0');
  for (size_t i = 0; i + 8 <= size; i += 8) {
    const uint64_t v = random();
    for (int k = 0; k < 8; ++k) s[i + size_t(k)] = char(v >> (8 * k));
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: bench_make_rar5 FIRST.rar TOTAL_MIB VOLUME_BYTES(0: one file) SOLID(0|1)\n");
    return 2;
  }
  const std::string first = argv[1];
  const uint64_t total = std::strtoull(argv[2], nullptr, 10) << 20;
  const uint64_t volumeSize = std::strtoull(argv[3], nullptr, 10);
  const bool solid = std::atoi(argv[4]) != 0;
  const size_t fileSize = 32u << 20;
  std::vector<TRar5TestFile> files;
  uint64_t planned = 0;
  for (unsigned n = 0; planned < total; ++n) {
    TRar5TestFile f;
    const size_t size = size_t(std::min<uint64_t>(fileSize, total - planned));
    switch (n % 10) {
      case 0: case 1: case 2: case 3:
        f.Name = "text/" + std::to_string(n) + ".txt";
        f.Data = Text(size, n);
        break;
      case 4: case 5: case 6:
        f.Name = "code/" + std::to_string(n) + ".exe";
        f.Data = Code(size, n);
        f.Filter = TRar5Filter::E8;
        break;
      default:
        f.Name = "noise/" + std::to_string(n) + ".bin";
        f.Data = Noise(size, n);
        f.Compress = false;  // as the archiver keeps data it cannot make smaller
        break;
    }
    planned += size;
    files.push_back(std::move(f));
  }
  TRar5WriterOptions o;
  o.Solid = solid;
  o.DictSize = 32u << 20;
  o.MatchWindow = 1u << 20;
  o.VolumeSize = volumeSize;
  o.PartDigits = 2;
  const std::vector<std::string> written = WriteRar5Set(first, files, o);
  for (const std::string& path : written) std::printf("%s\n", path.c_str());
  return 0;
}
