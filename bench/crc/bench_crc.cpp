// Times the CRC-32 engine over one file, as the window drives it (its chunk-sized buffer,
// progress per 16 KiB block, the throttled pump), or a bare 16 KiB read loop that sums
// nothing.
// Prints the CRC and the seconds taken.
#include "checksum/CrcEngine.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "engine") != 0 && std::strcmp(argv[1], "read") != 0)) {
    std::fprintf(stderr, "usage: bench_crc engine|read FILE\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  std::uint32_t crc = 0;
  alignas(4096) static std::array<std::uint8_t, CrcReadChunkSize> buffer;
  if (std::strcmp(argv[1], "engine") == 0) {
    TCrcReader reader(buffer, SystemClock());
    int lastPercent = 0;
    unsigned pumps = 0;
    TCrcReadHooks hooks;
    hooks.Halted = [] { return false; };
    hooks.OnBlock = [&](int p) { lastPercent = p; };
    hooks.PumpMessages = [&] { ++pumps; };
    const TFileCrcResult r = reader.FileCrc(argv[2], hooks);
    if (r.Status != TCrcStatus::Ok) return 1;
    crc = r.Crc;
  } else {
    std::FILE* f = std::fopen(argv[2], "rb");
    if (f == nullptr) return 1;
    std::setvbuf(f, nullptr, _IONBF, 0);
    while (std::fread(buffer.data(), 1, CrcBlockSize, f) > 0) crc += buffer[0];
    std::fclose(f);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%08x %.4f\n", crc, seconds);
  return 0;
}
