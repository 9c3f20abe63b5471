#include "Rar5TestSupport.h"

#include <algorithm>

#include "unrar/Rar5Unpack.h"
#include "unrar/RarHash.h"
#include "unrar/RarVolumes.h"
#include "unrar/unrar.h"

namespace {

TSourceOpener FilesByDefault(TSourceOpener open) {
  if (open) return open;
  return [](const std::string& volume) -> std::unique_ptr<TByteSource> { return TFileSource::Open(volume); };
}

class THashingSink : public IUnpackSink {
 public:
  THashingSink(uint8_t hashType, bool keep, uint64_t maxBytes, std::string& data)
      : Hasher(hashType), Keep(keep), MaxBytes(maxBytes), Data(data) {}
  int Write(const uint8_t* data, size_t size) override {
    Hasher.Update(data, size);
    Count += size;
    if (Keep) Data.append(reinterpret_cast<const char*>(data), size);
    return Count > MaxBytes ? ERAR_UNKNOWN : ERAR_SUCCESS;
  }
  TRarHasher Hasher;
  uint64_t Count = 0;

 private:
  bool Keep;
  uint64_t MaxBytes;
  std::string& Data;
};

int CopyStored(TRar5Walked& e, TWalkPartsInput& input, IUnpackSink& sink) {
  std::vector<uint8_t> buffer(64 << 10);
  uint64_t left = e.Header.UnpSize;
  for (;;) {
    size_t got = 0;
    if (int rc = input.Read(buffer.data(), buffer.size(), got)) return rc;
    if (got == 0) break;
    if (got > left) return ERAR_BAD_DATA;
    if (int rc = sink.Write(buffer.data(), got)) return rc;
    left -= got;
  }
  return left == 0 || e.Header.UnpSizeUnknown ? ERAR_SUCCESS : ERAR_BAD_DATA;
}

}  // namespace

TWalkPartsInput::TWalkPartsInput(const std::vector<TDataPart>& parts, TSourceOpener open)
    : Parts(parts), Open(FilesByDefault(std::move(open))) {}

int TWalkPartsInput::Read(uint8_t* buffer, size_t size, size_t& got) {
  got = 0;
  while (Index < Parts.size() && Done == Parts[Index].Size) {
    ++Index;
    Done = 0;
    Source.reset();
  }
  if (Index == Parts.size()) return ERAR_SUCCESS;
  const TDataPart& part = Parts[Index];
  if (!Source && !(Source = Open(part.VolumePath))) return ERAR_EOPEN;
  size_t want = size_t(std::min<uint64_t>(size, part.Size - Done));
  got = Source->ReadAt(part.Offset + Done, buffer, want);
  if (got != want) return ERAR_EREAD;
  Done += got;
  return ERAR_SUCCESS;
}

TRar5Walk WalkRar5(const std::string& first, TSourceOpener open) {
  open = FilesByDefault(std::move(open));
  TRar5Walk walk;
  std::string volume = first;
  std::unique_ptr<TByteSource> source = open(volume);
  if (!source) {
    walk.OpenResult = ERAR_EOPEN;
    return walk;
  }
  auto reader = std::make_unique<TRarBlockReader>(*source);
  walk.OpenResult = reader->Open();
  if (walk.OpenResult != ERAR_SUCCESS) return walk;
  walk.MainCrcOk = reader->MainCrcOk();
  walk.MainFlags = reader->MainFlags();
  walk.Main = reader->Main5();
  walk.Volumes.push_back(volume);
  // The entry whose next part the following volume brings.
  size_t split = SIZE_MAX;
  for (int blocks = 0; blocks < 100000; ++blocks) {
    TRarBlock block = reader->Next();
    walk.HeaderCrypt = reader->HeaderCrypt5();
    bool service = block.Kind == TRarBlockKind::Skipped && block.Type == 3;
    if (block.Kind == TRarBlockKind::File || service) {
      const TRarEntryHeader& h = block.Entry;
      // Service headers may sit between the parts of a file; their own parts are not followed.
      if (service && (h.SplitBefore() || h.SplitAfter())) continue;
      if (h.SplitBefore() && split == SIZE_MAX) continue;  // a file begun before this volume
      if (h.SplitBefore()) {
        if (walk.Entries[split].Header.Name != h.Name) {
          walk.EndResult = ERAR_BAD_DATA;
          return walk;
        }
        TRar5Walked& whole = walk.Entries[split];
        whole.Parts.push_back({volume, h.DataPos, h.PackSize});
        whole.WholeCrc = h.FileCRC;
        whole.WholeHash = h.Hash;
        if (!h.SplitAfter()) split = SIZE_MAX;
        continue;
      }
      if (split != SIZE_MAX && !service) {
        walk.EndResult = ERAR_BAD_DATA;
        return walk;
      }
      TRar5Walked e;
      e.Header = h;
      e.Volume = volume;
      e.Service = service;
      e.Parts.push_back({volume, h.DataPos, h.PackSize});
      e.WholeCrc = h.FileCRC;
      e.WholeHash = h.Hash;
      walk.Entries.push_back(std::move(e));
      if (h.SplitAfter()) split = walk.Entries.size() - 1;
      continue;
    }
    if (block.Kind == TRarBlockKind::Skipped) continue;
    if (block.Kind == TRarBlockKind::End && (block.EndFlags & RarEndNextVolume)) {
      std::string next = NextVolumeName(volume, true);
      auto nextSource = open(next);
      if (!nextSource) {
        walk.EndResult = ERAR_EOPEN;
        return walk;
      }
      auto nextReader = std::make_unique<TRarBlockReader>(*nextSource);
      if (nextReader->Open() != ERAR_SUCCESS) {
        walk.EndResult = ERAR_BAD_ARCHIVE;
        return walk;
      }
      reader = std::move(nextReader);
      source = std::move(nextSource);
      volume = next;
      walk.Volumes.push_back(volume);
      continue;
    }
    switch (block.Kind) {
      case TRarBlockKind::End:
      case TRarBlockKind::Eof:
        walk.EndResult = split != SIZE_MAX ? ERAR_BAD_DATA : ERAR_END_ARCHIVE;
        break;
      case TRarBlockKind::EncryptedHeaders:
        walk.EndResult = ERAR_MISSING_PASSWORD;
        break;
      default:
        walk.EndResult = ERAR_BAD_ARCHIVE;
        break;
    }
    return walk;
  }
  walk.EndResult = ERAR_BAD_ARCHIVE;
  return walk;
}

void DecodeRar5(TRar5Walk& walk, bool keepData, TSourceOpener open, uint64_t maxBytes) {
  open = FilesByDefault(std::move(open));
  TRar5Unpacker unpacker;
  for (auto& e : walk.Entries) {
    const TRarEntryHeader& h = e.Header;
    bool stored = h.Method == RarMethodStore;
    if (h.IsDirectory() || h.Encrypted() || h.RedirType != RarRedirNone || (e.Service && !stored)) continue;
    e.Decoded = true;
    THashingSink sink(h.HashType, keepData, maxBytes, e.Data);
    TWalkPartsInput input(e.Parts, open);
    e.Result = stored ? CopyStored(e, input, sink) : unpacker.Unpack(h, input, sink);
    e.Bytes = sink.Count;
    e.HashOk = e.Result == ERAR_SUCCESS && sink.Hasher.Matches(e.WholeCrc, e.WholeHash);
  }
}

std::string HexOf(const uint8_t* bytes, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < size; ++i) {
    hex += digits[bytes[i] >> 4];
    hex += digits[bytes[i] & 15];
  }
  return hex;
}
