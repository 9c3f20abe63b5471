#include "unrar/RarUnpack.h"

#include <algorithm>

#include "unrar/unrar.h"

uint64_t TRarEntry::PackedTotal() const {
  uint64_t total = 0;
  for (const auto& p : Parts) total += p.Size;
  return total;
}

int TPartsInput::Read(uint8_t* buffer, size_t size, size_t& got) {
  got = 0;
  while (Part < Parts.size() && Done >= Parts[Part].Size) {
    ++Part;
    Done = 0;
  }
  if (Part == Parts.size() || size == 0) return ERAR_SUCCESS;
  const TDataPart& part = Parts[Part];
  // Asked for at every read: the archive keeps only a few volumes open at a time.
  TByteSource* source = Sources.SourceFor(part.VolumePath);
  if (!source) return ERAR_EOPEN;
  size_t want = size_t(std::min<uint64_t>(size, part.Size - Done));
  got = source->ReadAt(part.Offset + Done, buffer, want);
  if (got != want) return ERAR_EREAD;
  Done += got;
  return ERAR_SUCCESS;
}

int CopyStored(IPackedInput& input, uint64_t size, IUnpackSink& sink) {
  std::vector<uint8_t> buffer(size_t(std::min<uint64_t>(UnpackChunk, size)));
  while (size > 0) {
    size_t got = 0;
    if (int rc = input.Read(buffer.data(), size_t(std::min<uint64_t>(buffer.size(), size)), got)) return rc;
    // Stored data shorter than the unpacked size it claims is damaged.
    if (got == 0) return ERAR_BAD_DATA;
    if (int rc = sink.Write(buffer.data(), got)) return rc;
    size -= got;
  }
  return ERAR_SUCCESS;
}
