// libFuzzer target: the archive layer over a memory image. Every entry is listed; stored
// entries and RAR 2.0-4.x compressed ones are also tested (every third one skipped, so that
// solid sets catch up on what was skipped), so the copy, the decoder's wiring and the CRC path
// run too, and so do entries under RAR 1.5's cipher (keyed at no cost) with a password set.
// RAR 5 data has its own target.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "unrar/RarArchive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TRar3Unpacker::MemoryLimit = 16u << 20;
  int result = 0;
  auto archive = TRarArchive::OpenMemory(data, size, result);
  if (!archive) return 0;
  // Encrypted headers and AES entries would cost a slow key derivation for every input: the
  // password is set only for an archive at the start whose headers are plain, and the run stops
  // at the first AES entry.
  const bool cheap = size > 10 && std::memcmp(data, "Rar!\x1a\x07\x00", 7) == 0 && !(data[10] & 0x80);
  if (cheap) archive->SetPassword("fuzz");
  TRarEntryHeader header;
  std::string volume;
  for (int entries = 0; entries < 10000; ++entries) {
    result = archive->ReadHeader(header, volume);
    if (result != ERAR_SUCCESS && result != ERAR_BAD_DATA) break;
    const bool cheapCipher = !header.Encrypted() || header.UnpVer < 29;
    const bool decodable = header.Method == RarMethodStore || TRar3Unpacker::Decodes(header.UnpVer);
    const bool small = header.UnpSize <= (16u << 20) && cheapCipher;
    // Skipped, it would still be decoded if a later solid entry is tested: stop there.
    if (decodable && !small) break;
    const bool test = decodable && small && entries % 3 != 1;
    archive->ProcessFile(test ? RAR_TEST : RAR_SKIP, nullptr, nullptr);
  }
  return 0;
}
