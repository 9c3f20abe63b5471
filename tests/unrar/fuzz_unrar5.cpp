// libFuzzer target: the RAR 5 block layer and our decoder. An input that starts with a RAR 5
// marker is an archive image, read through the library as a caller does: every entry listed,
// most of them tested (which decodes and checks them), some skipped (which the solid stream
// still needs). Any other input is a bare compressed stream, its first bytes choosing the
// dictionary and the declared size, decoded twice so that the second pass goes on from the
// first as a solid entry.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "unrar/Rar5Unpack.h"
#include "unrar/RarArchive.h"

namespace {

class TBytesInput : public IPackedInput {
 public:
  TBytesInput(const uint8_t* data, size_t size) : Data(data), Size(size) {}
  int Read(uint8_t* buffer, size_t size, size_t& got) override {
    // Small pieces, so that refills land anywhere.
    got = std::min({size, Size - At, size_t(1) + At % 61});
    std::memcpy(buffer, Data + At, got);
    At += got;
    return 0;
  }

 private:
  const uint8_t* Data;
  size_t Size;
  size_t At = 0;
};

class TCountingSink : public IUnpackSink {
 public:
  int Write(const uint8_t*, size_t size) override {
    Bytes += size;
    return 0;
  }
  uint64_t Bytes = 0;
};

void BareStream(const uint8_t* data, size_t size) {
  if (size < 4) return;
  TRarEntryHeader h;
  h.Method = 0x33;
  h.UnpVer = 50;
  h.DictSize = (uint64_t(128) << 10) << (data[0] & 7);
  h.UnpSize = uint64_t(data[1]) << 16 | uint64_t(data[2]) << 8 | data[3];
  h.UnpSizeUnknown = data[0] & 0x80;
  TRar5Unpacker unpacker;
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) h.Flags |= RarFileSolid;
    TBytesInput input(data + 4, size - 4);
    TCountingSink sink;
    int rc = unpacker.Unpack(h, input, sink);
    if (!h.UnpSizeUnknown && sink.Bytes > h.UnpSize) __builtin_trap();
    if (rc == 0 && !h.UnpSizeUnknown && sink.Bytes != h.UnpSize) __builtin_trap();
  }
}

uint64_t EntryBytes = 0;

int UNRAR_CALL CountData(unsigned char*, int size) {
  EntryBytes += uint64_t(size);
  // A bound on what one entry may produce here, so that each input stays quick.
  return EntryBytes <= (64u << 20) ? 1 : 0;
}

void ArchiveImage(const uint8_t* data, size_t size) {
  int result = 0;
  auto archive = TRarArchive::OpenMemory(data, size, result);
  if (!archive) return;
  archive->SetProcessDataProc(CountData);
  TRarEntryHeader header;
  std::string volume;
  for (unsigned n = 0; n < 100000; ++n) {
    const int rc = archive->ReadHeader(header, volume);
    if (rc != ERAR_SUCCESS && rc != ERAR_BAD_DATA) return;
    EntryBytes = 0;
    const bool test = data[size - 1 - n % size] % 4 != 0;
    const int done = archive->ProcessFile(test ? RAR_TEST : RAR_SKIP, nullptr, nullptr);
    // Nothing beyond the declared size, and a whole entry when the library says so.
    if (!header.UnpSizeUnknown && EntryBytes > header.UnpSize) __builtin_trap();
    if (test && done == ERAR_SUCCESS && !header.UnpSizeUnknown && !header.IsDirectory() &&
        header.RedirType == RarRedirNone && EntryBytes != header.UnpSize)
      __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Hostile dictionaries stay within what the fuzzer's memory limit allows.
  TRar5Unpacker::MemoryLimit = 256u << 20;
  if (size < 8 || std::memcmp(data, "Rar!\x1a\x07\x01", 7) != 0) {
    BareStream(data, size);
    return 0;
  }
  ArchiveImage(data, size);
  return 0;
}
