// libFuzzer target: the RAR 2.0-4.x decoder. The input is an archive image, so the sample
// archives seed it; every file entry's data is decoded, entries of other formats (RAR 1.5,
// stored) as RAR 2.0 or 2.9 data, in turn, and solid entries continue the previous ones as
// their flags say. Sizes are capped so that one input stays quick.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "unrar/Rar3Unpack.h"
#include "unrar/RarBlocks.h"
#include "unrar/RarSource.h"

namespace {

class TSliceInput : public IPackedInput {
 public:
  TSliceInput(const uint8_t* data, size_t size) : Data(data), Size(size) {}
  int Read(uint8_t* buffer, size_t size, size_t& got) override {
    // Small, uneven pieces: the decoder's refills meet every boundary.
    got = std::min({size, Size - Pos, size_t(1) + (Pos * 7919) % 4096});
    std::copy(Data + Pos, Data + Pos + got, buffer);
    Pos += got;
    return 0;
  }

 private:
  const uint8_t* Data;
  size_t Size, Pos = 0;
};

class TCheckedSink : public IUnpackSink {
 public:
  int Write(const uint8_t*, size_t size) override {
    Size += size;
    return 0;
  }
  uint64_t Size = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // PPMd models as large as the data asks (256 MiB) would make every input slow.
  TRar3Unpacker::MemoryLimit = 16u << 20;
  TMemorySource source(data, size);
  TRarBlockReader reader(source);
  if (reader.Open() != 0) return 0;
  TRar3Unpacker unpacker;
  for (int entries = 0; entries < 64; ++entries) {
    TRarBlock block = reader.Next();
    if (block.Kind == TRarBlockKind::Skipped) continue;
    if (block.Kind != TRarBlockKind::File) break;
    TRarEntryHeader h = block.Entry;
    if (h.DataPos > size || h.PackSize > size - h.DataPos) continue;
    if (!TRar3Unpacker::Decodes(h.UnpVer)) h.UnpVer = entries % 2 ? 20 : 29;
    if (h.Method <= RarMethodStore || h.Method > RarMethodStore + 5) h.Method = RarMethodStore + 3;
    h.UnpSize = std::min<uint64_t>(h.UnpSize, 4u << 20);
    TSliceInput input(data + h.DataPos, size_t(h.PackSize));
    TCheckedSink sink;
    unpacker.Unpack(h, input, sink);
    // Never more than the declared size.
    if (sink.Size > h.UnpSize) __builtin_trap();
  }
  return 0;
}
