// Decodes every compressed entry of RAR 2.0-4.x archives (volume sets through their first
// volume) with our decoder and with libunarr, in the same process and into the same CRC-checking
// sink, and prints each one's best time of RUNS and libunarr's time as a ratio of ours.
// With --repeat N each run decodes every set N times (small samples then take long enough to
// time). With --write DIR, our decoder's output also goes to files in DIR (as an extractor
// writes them), for comparing with a whole extraction by another tool. Exit code 1 when an
// entry's CRC fails.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "Rar3TestSupport.h"
#include "UnarrReference.h"
#include "unrar/Rar3Unpack.h"
#include "unrar/RarCrc.h"
#include "unrar/unrar.h"

namespace {

class TBenchSink : public IUnpackSink {
 public:
  explicit TBenchSink(int fd = -1) : Fd(fd) {}
  int Write(const uint8_t* data, size_t size) override {
    Crc = RarCrc32(Crc, data, size);
    Size += size;
    while (Fd >= 0 && size > 0) {
      ssize_t n = ::write(Fd, data, size);
      if (n <= 0) return ERAR_EWRITE;
      data += n;
      size -= size_t(n);
    }
    return 0;
  }
  uint32_t Crc = 0;
  uint64_t Size = 0;

 private:
  int Fd;
};

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// Ours over the whole set; false when an entry fails or its CRC does not match.
bool DecodeOurs(const TSampleSet& set, const std::string& writeDir, uint64_t& bytes) {
  TFileSources sources;
  TRar3Unpacker unpacker;
  bytes = 0;
  int index = 0;
  for (const auto& e : set.Entries) {
    if (!IsRar3Compressed(e.Header) || e.Header.Encrypted()) continue;
    int fd = -1;
    if (!writeDir.empty()) {
      std::string path = writeDir + "/entry" + std::to_string(index++);
      fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0) return false;
    }
    TSampleInput input(e, sources);
    TBenchSink sink(fd);
    int rc = unpacker.Unpack(e.Header, input, sink);
    if (fd >= 0 && ::close(fd) != 0) rc = ERAR_EWRITE;
    if (rc != ERAR_SUCCESS || sink.Crc != e.WholeCrc) {
      std::fprintf(stderr, "ours: %s: %d\n", e.Header.Name.c_str(), rc);
      return false;
    }
    bytes += sink.Size;
  }
  return true;
}

bool DecodeUnarr(const TSampleSet& set) {
  TFileSources sources;
  std::vector<TRarEntry> plain;
  for (const auto& e : set.Entries) {
    if (!IsRar3Compressed(e.Header) || e.Header.Encrypted()) continue;
    TRarEntry r;
    r.Header = e.Header;
    r.Parts = e.Parts;
    r.WholeCrc = e.WholeCrc;
    plain.push_back(r);
  }
  // One entry at a time, as the library handed a plain archive's entries to libunarr; a solid
  // set in one pass.
  auto inputs = [&sources](const TRarEntry& e) { return std::make_unique<TPartsInput>(e.Parts, sources); };
  auto run = [&](const std::vector<const TRarEntry*>& entries) {
    TUnarrSession session;
    if (session.Build(entries, set.Solid, inputs, "/tmp") != ERAR_SUCCESS) return false;
    for (size_t i = 0; i < entries.size(); ++i) {
      TBenchSink sink;
      if (session.Extract(i, sink) != ERAR_SUCCESS || sink.Crc != entries[i]->WholeCrc) {
        std::fprintf(stderr, "libunarr: %s fails\n", entries[i]->Header.Name.c_str());
        return false;
      }
    }
    return true;
  };
  if (set.Solid) {
    std::vector<const TRarEntry*> all;
    for (const auto& r : plain) all.push_back(&r);
    return run(all);
  }
  for (const auto& r : plain)
    if (!run({&r})) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3, repeat = 1;
  std::string writeDir;
  int first = 1;
  while (first < argc && argv[first][0] == '-') {
    if (!std::strcmp(argv[first], "--runs") && first + 1 < argc) runs = std::atoi(argv[++first]);
    else if (!std::strcmp(argv[first], "--repeat") && first + 1 < argc) repeat = std::atoi(argv[++first]);
    else if (!std::strcmp(argv[first], "--write") && first + 1 < argc) writeDir = argv[++first];
    else break;
    ++first;
  }
  if (first >= argc || runs < 1 || repeat < 1) {
    std::fprintf(stderr, "usage: bench_rar3 [--runs N] [--repeat N] [--write DIR] ARCHIVE...\n");
    return 2;
  }
  // libunarr's copy of the packed data is held in memory, as the library did for sets this size.
  TUnarrSession::MemoryLimit = size_t(1) << 30;
  int failed = 0;
  std::printf("%-52s %8s %10s %12s %16s\n", "archive", "MB out", "ours s", "libunarr s", "libunarr / ours");
  for (int a = first; a < argc; ++a) {
    TSampleSet set = ReadSampleSet(argv[a]);
    double ours = 1e9, unarr = 1e9;
    uint64_t bytes = 0, once = 0;
    bool ok = true;
    for (int r = 0; r < runs && ok; ++r) {
      auto t = std::chrono::steady_clock::now();
      for (int k = 0; k < repeat && ok; ++k) ok = DecodeOurs(set, writeDir, once);
      ours = std::min(ours, Seconds(t));
      bytes = once * uint64_t(repeat);
      if (!writeDir.empty()) continue;  // the files are for the other tool's comparison only
      t = std::chrono::steady_clock::now();
      for (int k = 0; k < repeat && ok; ++k) ok = DecodeUnarr(set);
      unarr = std::min(unarr, Seconds(t));
    }
    const char* name = std::strrchr(argv[a], '/') ? std::strrchr(argv[a], '/') + 1 : argv[a];
    if (!ok) {
      std::printf("%-52s failed\n", name);
      ++failed;
    } else if (!writeDir.empty()) {
      std::printf("%-52s %8.1f %10.3f\n", name, double(bytes) / 1e6, ours);
    } else {
      std::printf("%-52s %8.1f %10.3f %12.3f %15.2fx\n", name, double(bytes) / 1e6, ours, unarr, unarr / ours);
    }
  }
  return failed ? 1 : 0;
}
