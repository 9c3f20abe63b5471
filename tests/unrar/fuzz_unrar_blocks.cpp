// libFuzzer target: the block layer over a memory image. Every entry is listed; stored entries
// are also tested, so the layer's own copy and CRC path runs too, and so do stored entries under
// RAR 1.5's cipher (keyed at no cost) with a password set. Compressed data is left alone: the
// decompressor is a separate library with its own fuzzing.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "unrar/RarArchive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int result = 0;
  auto archive = TRarArchive::OpenMemory(data, size, result);
  if (!archive) return 0;
  // Encrypted headers and AES entries would cost a slow key derivation for every input: the
  // password is set only for an archive at the start whose headers are plain and which is not
  // solid (a solid set decrypts all its entries at once), and AES entries are not tested.
  const bool cheap = size > 10 && std::memcmp(data, "Rar!\x1a\x07\x00", 7) == 0 && !(data[10] & (0x80 | 0x08));
  if (cheap) archive->SetPassword("fuzz");
  TRarEntryHeader header;
  std::string volume;
  for (int entries = 0; entries < 10000; ++entries) {
    result = archive->ReadHeader(header, volume);
    if (result != ERAR_SUCCESS && result != ERAR_BAD_DATA) break;
    const bool cheapCipher = !header.Encrypted() || header.UnpVer < 29;
    const bool stored = header.Method == RarMethodStore && header.UnpSize <= (16u << 20) && cheapCipher;
    archive->ProcessFile(stored ? RAR_TEST : RAR_SKIP, nullptr, nullptr);
  }
  return 0;
}
