#include "Rar3TestSupport.h"

#include <filesystem>
#include <nettle/sha2.h>

#include "UnarrReference.h"
#include "unrar/RarCrc.h"

#include "unrar/RarVolumes.h"
#include "unrar/unrar.h"

TSampleSet ReadSampleSet(const std::string& firstVolume) {
  TSampleSet set;
  std::string path = firstVolume;
  for (int volume = 0; volume < 1000; ++volume) {
    auto source = TFileSource::Open(path);
    if (!source) {
      set.Complete = false;
      break;
    }
    TRarBlockReader reader(*source);
    if (reader.Open() != ERAR_SUCCESS) {
      set.Complete = false;
      break;
    }
    if (volume == 0) set.Solid = reader.MainFlags() & RarMainSolid;
    bool next = false;
    for (bool more = true; more;) {
      TRarBlock block = reader.Next();
      switch (block.Kind) {
        case TRarBlockKind::File: {
          const TRarEntryHeader& h = block.Entry;
          TDataPart part{path, h.DataPos, h.PackSize};
          if (h.SplitBefore()) {
            // A continued file adds its part to the entry that began in an earlier volume.
            if (set.Entries.empty() || set.Entries.back().Header.Name != h.Name) continue;
            set.Entries.back().Parts.push_back(part);
            set.Entries.back().WholeCrc = h.FileCRC;
            continue;
          }
          TSampleEntry e;
          e.Header = h;
          e.Parts.push_back(part);
          e.WholeCrc = h.FileCRC;
          set.Entries.push_back(std::move(e));
          break;
        }
        case TRarBlockKind::Skipped:
          break;
        case TRarBlockKind::End:
          next = (reader.MainFlags() & RarMainVolume) && (block.EndFlags & RarEndNextVolume);
          more = false;
          break;
        case TRarBlockKind::Eof:
          next = reader.MainFlags() & RarMainVolume;
          more = false;
          break;
        default:
          set.Complete = false;
          more = false;
          break;
      }
    }
    if (!next) break;
    std::string following = NextVolumeName(path, reader.MainFlags() & RarMainNewNaming);
    if (!std::filesystem::exists(following)) {
      // Old sets may end without saying so; a missing volume after an announced one is a gap.
      if (!set.Entries.empty() && set.Entries.back().Header.SplitAfter()) set.Complete = false;
      break;
    }
    path = following;
  }
  return set;
}

TByteSource* TFileSources::SourceFor(const std::string& volumePath) {
  auto found = Open.find(volumePath);
  if (found != Open.end()) return found->second.get();
  std::unique_ptr<TByteSource> source = TFileSource::Open(volumePath);
  if (!source) return nullptr;
  return (Open[volumePath] = std::move(source)).get();
}

TSampleInput::TSampleInput(const TSampleEntry& entry, TSourceProvider& sources, const std::string& password)
    : Parts(entry.Parts, sources) {
  if (password.empty()) return;
  DeriveRar3Key(password, entry.Header.Salt ? entry.Header.Salt->data() : nullptr, Key);
  Decrypt = std::make_unique<TAesCbcInput>(Parts, Key);
}

int TSampleInput::Read(uint8_t* buffer, size_t size, size_t& got) {
  return Decrypt ? Decrypt->Read(buffer, size, got) : Parts.Read(buffer, size, got);
}

bool IsRar3Compressed(const TRarEntryHeader& h) {
  return !h.IsDirectory() && h.Method > RarMethodStore && h.Method <= RarMethodStore + 5 &&
         (h.UnpVer == 20 || h.UnpVer == 26 || h.UnpVer == 29 || h.UnpVer == 36);
}

struct TDigestSink::TState {
  sha256_ctx Ctx;
};

TDigestSink::TDigestSink() : S(std::make_shared<TState>()) { sha256_init(&S->Ctx); }

int TDigestSink::Write(const uint8_t* data, size_t size) {
  sha256_update(&S->Ctx, size, data);
  Crc = RarCrc32(Crc, data, size);
  Size += size;
  return 0;
}

std::string TDigestSink::Digest() {
  uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&S->Ctx, sizeof digest, digest);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (uint8_t b : digest) {
    out += hex[b >> 4];
    out += hex[b & 15];
  }
  return out;
}

std::vector<TReference> UnarrReference(const std::vector<const TSampleEntry*>& entries, bool solid,
                                       TSourceProvider& sources) {
  std::vector<TReference> out(entries.size());
  std::vector<TRarEntry> plain(entries.size());
  std::vector<const TRarEntry*> image;
  for (size_t i = 0; i < entries.size(); ++i) {
    plain[i].Header = entries[i]->Header;
    plain[i].Parts = entries[i]->Parts;
    plain[i].WholeCrc = entries[i]->WholeCrc;
    image.push_back(&plain[i]);
  }
  TUnarrSession session;
  auto inputs = [&sources](const TRarEntry& e) { return std::make_unique<TPartsInput>(e.Parts, sources); };
  if (session.Build(image, solid, inputs, std::filesystem::temp_directory_path().string()) != ERAR_SUCCESS)
    return out;
  for (size_t i = 0; i < entries.size(); ++i) {
    TDigestSink sink;
    int rc = session.Extract(i, sink);
    out[i].Ok = rc == ERAR_SUCCESS && sink.Size == entries[i]->Header.UnpSize;
    out[i].Size = sink.Size;
    out[i].Digest = sink.Digest();
    if (rc != ERAR_SUCCESS) break;
  }
  return out;
}

std::string TMemorySources::Add(std::string data) {
  std::string name = "memory-" + std::to_string(Data.size());
  auto& kept = Data[name] = std::make_unique<std::string>(std::move(data));
  Sources[name] = std::make_unique<TMemorySource>(kept->data(), kept->size());
  return name;
}

TByteSource* TMemorySources::SourceFor(const std::string& volumePath) {
  auto found = Sources.find(volumePath);
  return found == Sources.end() ? nullptr : found->second.get();
}

TSampleEntry MemoryEntry(TMemorySources& sources, const std::string& packed, uint8_t unpVer, uint64_t unpSize,
                         bool solid) {
  TSampleEntry e;
  e.Header.Name = "synthetic";
  e.Header.UnpVer = unpVer;
  e.Header.Method = RarMethodStore + 3;
  e.Header.UnpSize = unpSize;
  e.Header.PackSize = packed.size();
  e.Header.Flags = uint16_t((6u << 5) | (solid ? RarFileSolid : 0));
  e.Parts.push_back({sources.Add(packed), 0, packed.size()});
  return e;
}
