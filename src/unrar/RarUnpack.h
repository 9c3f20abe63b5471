// What unpacking works on: an entry with the parts of its packed data across volumes, the
// sources those are read from, the sink unpacked bytes go to, and the plain copy of stored
// data. The packed bytes are pulled through an IPackedInput: over the entry's parts, with a
// decrypting stage on top for an encrypted entry; the decoders (Rar3Unpack.h, Rar5Unpack.h)
// take them the same way.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "unrar/RarBlocks.h"
#include "unrar/RarInput.h"
#include "unrar/RarSource.h"

struct TDataPart {
  std::string VolumePath;
  uint64_t Offset = 0;
  uint64_t Size = 0;
};

// A whole entry: its first header and the packed data of every part.
struct TRarEntry {
  TRarEntryHeader Header;
  std::string VolumeName;  // the volume its header was read from
  std::vector<TDataPart> Parts;
  // The last part carries the whole file's CRC-32 or BLAKE2sp.
  uint32_t WholeCrc = 0;
  uint8_t WholeHashType = RarHashCrc32;
  std::array<uint8_t, 32> WholeHash{};
  int Status = 0;         // non-zero when its parts could not all be reached
  bool Collected = false;  // the parts in later volumes have been gathered
  uint64_t PackedTotal() const;
};

class TSourceProvider {
 public:
  virtual ~TSourceProvider() = default;
  virtual TByteSource* SourceFor(const std::string& volumePath) = 0;
};

class IUnpackSink {
 public:
  virtual ~IUnpackSink() = default;
  // 0 to go on, or the ERAR_ code that ends the entry.
  virtual int Write(const uint8_t* data, size_t size) = 0;
};

// A sink for what is decoded only for the entries after it (a skipped or caught-up entry of a
// solid set).
class TDropSink : public IUnpackSink {
 public:
  int Write(const uint8_t*, size_t) override { return 0; }
};

constexpr size_t UnpackChunk = 1u << 20;

// An entry's packed bytes, read part after part from the volumes that hold them. A volume that
// cannot be had gives ERAR_EOPEN, a part shorter than its header says ERAR_EREAD.
class TPartsInput : public IPackedInput {
 public:
  TPartsInput(const std::vector<TDataPart>& parts, TSourceProvider& sources) : Parts(parts), Sources(sources) {}
  int Read(uint8_t* buffer, size_t size, size_t& got) override;

 private:
  const std::vector<TDataPart>& Parts;
  TSourceProvider& Sources;
  size_t Part = 0;
  uint64_t Done = 0;  // within the current part
};

// Copies `size` stored bytes from the input into the sink; 0, the input's or the sink's code, or
// ERAR_BAD_DATA when the input ends early.
int CopyStored(IPackedInput& input, uint64_t size, IUnpackSink& sink);
