// Unpacking: stored data is copied by the layer itself; compressed data goes to libunarr as a
// plain single-volume archive rebuilt from the entry's packed bytes (in memory up to a bound,
// else in a temporary file that is unlinked as soon as libunarr holds it open). Either way the
// packed bytes are pulled through an IPackedInput: over the entry's parts, with a decrypting
// stage on top for an encrypted entry.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
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

struct ar_stream_s;
struct ar_archive_s;

// One libunarr archive over a rebuilt image of several entries, decoded strictly in order so
// that a solid set is unpacked once.
class TUnarrSession {
 public:
  TUnarrSession() = default;
  TUnarrSession(const TUnarrSession&) = delete;
  TUnarrSession& operator=(const TUnarrSession&) = delete;
  ~TUnarrSession();

  // Gives the packed bytes of an entry as the decoder is to take them (decrypted, for an
  // encrypted one); there must be as many as its parts hold.
  using TEntryInputs = std::function<std::unique_ptr<IPackedInput>(const TRarEntry&)>;
  // tempFolder takes the image when it is too big for memory. 0 or an ERAR_ code.
  int Build(const std::vector<const TRarEntry*>& entries, bool solid, const TEntryInputs& inputs,
            const std::string& tempFolder);
  // Unpacks image entry `index` into sink; earlier entries not yet passed are unpacked and dropped.
  int Extract(size_t index, IUnpackSink& sink);
  // Extract can still reach image entry `index`: the session is open and not past it.
  bool CanExtract(size_t index) const { return Archive && index >= NextIndex; }
  // A whole entry of a plain archive file, read in place from its header at headerPos without
  // any copy. NotInPlace when libunarr will not take the file that way (nothing was unpacked).
  static constexpr int NotInPlace = -1;
  int ExtractInPlace(const std::string& path, uint64_t headerPos, uint64_t unpSize, IUnpackSink& sink);

  static size_t MemoryLimit;  // image bytes kept in memory; tests lower it

 private:
  int Unpack(uint64_t size, IUnpackSink* sink);

  std::vector<uint8_t> Memory;
  ar_stream_s* Stream = nullptr;
  ar_archive_s* Archive = nullptr;
  size_t NextIndex = 0;
  std::vector<uint8_t> Buffer;
};
