// libFuzzer target: the block layer over a memory image. Every entry is listed; stored entries
// are also tested, so the layer's own copy and CRC path runs too. Compressed data is left alone:
// the decompressor is a separate library with its own fuzzing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "unrar/RarArchive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int result = 0;
  auto archive = TRarArchive::OpenMemory(data, size, result);
  if (!archive) return 0;
  TRarEntryHeader header;
  std::string volume;
  for (int entries = 0; entries < 10000; ++entries) {
    result = archive->ReadHeader(header, volume);
    if (result != ERAR_SUCCESS && result != ERAR_BAD_DATA) break;
    bool stored = header.Method == RarMethodStore && header.UnpSize <= (16u << 20);
    archive->ProcessFile(stored ? RAR_TEST : RAR_SKIP, nullptr, nullptr);
  }
  return 0;
}
