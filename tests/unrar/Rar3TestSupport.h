// Helpers for the tests of the RAR 2.0-4.x decoder: the entries of real archives found with the
// library's block layer (each with the parts of its packed data across the volumes of its set),
// the packed input of an entry (decrypted when a password is given), and libunarr's output of
// the same entries as the reference.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "unrar/RarBlocks.h"
#include "unrar/RarCrypt.h"
#include "unrar/RarUnpack.h"

struct TSampleEntry {
  TRarEntryHeader Header;
  std::vector<TDataPart> Parts;
  uint32_t WholeCrc = 0;  // the last part's CRC, which covers the whole file
};

struct TSampleSet {
  std::vector<TSampleEntry> Entries;
  bool Solid = false;  // the main header's flag
  bool Complete = true;  // every volume was there and every header read
};

// Reads the set that starts at firstVolume, following its volumes by their names.
TSampleSet ReadSampleSet(const std::string& firstVolume);

// Opens volume files as the entries' parts ask for them.
class TFileSources : public TSourceProvider {
 public:
  TByteSource* SourceFor(const std::string& volumePath) override;

 private:
  std::map<std::string, std::unique_ptr<TByteSource>> Open;
};

// The entry's packed bytes; decrypted (RAR 2.9-4.x AES) with the password when it is set.
class TSampleInput : public IPackedInput {
 public:
  TSampleInput(const TSampleEntry& entry, TSourceProvider& sources, const std::string& password = "");
  int Read(uint8_t* buffer, size_t size, size_t& got) override;

 private:
  TPartsInput Parts;
  TRar3Key Key;
  std::unique_ptr<TAesCbcInput> Decrypt;
};

class TStringSink : public IUnpackSink {
 public:
  int Write(const uint8_t* data, size_t size) override {
    Data.append(reinterpret_cast<const char*>(data), size);
    return 0;
  }
  std::string Data;
};

// Size and SHA-256 of everything written: outputs of hundreds of megabytes compared byte for
// byte without holding them.
class TDigestSink : public IUnpackSink {
 public:
  TDigestSink();
  int Write(const uint8_t* data, size_t size) override;
  std::string Digest();  // hex; ends the digest
  uint64_t Size = 0;
  uint32_t Crc = 0;

 private:
  struct TState;
  std::shared_ptr<TState> S;
};

// Whether the decoder takes this entry (compressed, of a version it knows).
bool IsRar3Compressed(const TRarEntryHeader& header);

// libunarr's output for every entry of `entries` (stored or compressed, unencrypted), decoded
// in one pass as a solid set when `solid`; an entry libunarr fails on has Ok = false.
struct TReference {
  bool Ok = false;
  uint64_t Size = 0;
  std::string Digest;
};
std::vector<TReference> UnarrReference(const std::vector<const TSampleEntry*>& entries, bool solid,
                                       TSourceProvider& sources);

// Sources of packed data held in memory, for streams the tests write themselves.
class TMemorySources : public TSourceProvider {
 public:
  // Keeps `data` and returns the volume name under which it is found.
  std::string Add(std::string data);
  TByteSource* SourceFor(const std::string& volumePath) override;

 private:
  std::map<std::string, std::unique_ptr<std::string>> Data;
  std::map<std::string, std::unique_ptr<TByteSource>> Sources;
};

// An entry whose packed data is `packed` (kept in `sources`): compressed with method 0x33,
// dictionary bits 6 (4 MiB), the solid flag as given.
TSampleEntry MemoryEntry(TMemorySources& sources, const std::string& packed, uint8_t unpVer, uint64_t unpSize,
                         bool solid);
