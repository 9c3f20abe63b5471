// The peers that mark the machine's limits for the check benchmark: a bare loop that
// reads each file in blocks of a given size, summing nothing or running libdeflate's
// CRC-32 over each block. No SFV, no hooks, no output per file.
// Usage: bench_read_loop BLOCK_BYTES crc|nocrc FILE...
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <libdeflate.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 4 || (std::strcmp(argv[2], "crc") != 0 && std::strcmp(argv[2], "nocrc") != 0)) {
    std::fprintf(stderr, "usage: bench_read_loop BLOCK_BYTES crc|nocrc FILE...\n");
    return 2;
  }
  const std::size_t block = std::strtoul(argv[1], nullptr, 10);
  const bool crc = std::strcmp(argv[2], "crc") == 0;
  void* buffer = std::aligned_alloc(4096, (block + 4095) / 4096 * 4096);
  unsigned sum = 0;
  for (int i = 3; i < argc; ++i) {
    const int fd = open(argv[i], O_RDONLY);
    if (fd < 0) return 1;
    std::uint32_t c = 0;
    ssize_t n;
    while ((n = read(fd, buffer, block)) > 0) {
      if (crc) c = libdeflate_crc32(c, buffer, static_cast<std::size_t>(n));
      else c += static_cast<unsigned char*>(buffer)[0];
    }
    close(fd);
    sum ^= c;
  }
  std::printf("%08x\n", sum);
  std::free(buffer);
  return 0;
}
