// libFuzzer target: the RAR 5 block layer and our decoder. An input that starts with a marker is
// an archive image: every entry is listed and every one with data is decoded and checked. Any
// other input is a bare compressed stream, its first bytes choosing the dictionary and the
// declared size, decoded twice so that the second pass goes on from the first as a solid entry.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "Rar5TestSupport.h"
#include "unrar/Rar5Unpack.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Hostile dictionaries stay within what the fuzzer's memory limit allows.
  TRar5Unpacker::MemoryLimit = 256u << 20;
  if (size < 7 || std::memcmp(data, "Rar!\x1a\x07", 6) != 0) {
    BareStream(data, size);
    return 0;
  }
  TSourceOpener open = [data, size](const std::string& name) -> std::unique_ptr<TByteSource> {
    if (name != "image") return nullptr;
    return std::make_unique<TMemorySource>(data, size);
  };
  TRar5Walk walk = WalkRar5("image", open);
  DecodeRar5(walk, false, open, 64u << 20);
  for (const auto& e : walk.Entries)
    if (e.Decoded && !e.Header.UnpSizeUnknown && e.Bytes > e.Header.UnpSize) __builtin_trap();
  return 0;
}
