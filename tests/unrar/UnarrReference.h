// libunarr as a reference decoder for the tests and the decoder bench: the entries given are
// written into a plain single-volume archive image (in memory up to a bound, else in a
// temporary file unlinked as soon as libunarr holds it open), which libunarr then unpacks in
// archive order. Only the tests and the bench link libunarr; the library has its own decoders.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "unrar/RarUnpack.h"

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

  static size_t MemoryLimit;  // image bytes kept in memory

 private:
  int Unpack(uint64_t size, IUnpackSink* sink);

  std::vector<uint8_t> Memory;
  ar_stream_s* Stream = nullptr;
  ar_archive_s* Archive = nullptr;
  size_t NextIndex = 0;
  std::vector<uint8_t> Buffer;
};
