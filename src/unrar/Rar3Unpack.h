// The decoder of RAR 2.0 to 4.x compressed data: RAR 2.0's LZ and multimedia (audio) blocks
// (unpack versions 20 and 26), and RAR 2.9-4.x's LZ and PPMd blocks with their standard
// filters (unpack versions 29 and 36). Packed bytes are pulled from an IPackedInput (the
// entry's parts across volumes, or a decryptor in front of them); unpacked bytes are pushed
// into an IUnpackSink as they leave the window.
//
// One object decodes a whole solid set: its entries come in archive order, each with its own
// input, and the window, the Huffman tables, the old distances, the PPMd model and the filter
// programs carry from one to the next. An entry the caller does not want is still decoded,
// into a sink that drops the data (TDropSink); skipping one would leave the next without the
// data it refers to. Stored entries never come here and do not touch the solid state. The
// same object may decode the entries of a non-solid archive one after another: the window is
// kept and only grows.
#pragma once
#include <cstdint>
#include <memory>

#include "unrar/RarBlocks.h"
#include "unrar/RarInput.h"
#include "unrar/RarUnpack.h"

class TRar3Unpacker {
 public:
  TRar3Unpacker();
  ~TRar3Unpacker();
  TRar3Unpacker(const TRar3Unpacker&) = delete;
  TRar3Unpacker& operator=(const TRar3Unpacker&) = delete;

  // Decodes one compressed entry (methods 0x31-0x35) into sink: exactly its unpacked size, all
  // of it before this returns 0. The header's unpack version picks the format, its dictionary
  // bits the window, its solid flag (0x10) whether the entry continues the previous one.
  // Otherwise: ERAR_BAD_DATA for damaged or truncated data, data beyond the declared size, a
  // filter program that is not one of the standard ones, or a solid entry whose predecessor did
  // not decode; ERAR_UNKNOWN_FORMAT for a method or unpack version this decoder does not know
  // (RAR 1.5's 15, RAR 5's 50); ERAR_NO_MEMORY for a PPMd model or window beyond MemoryLimit or
  // one that cannot be had; or the code the input or the sink returned. After a failure the
  // solid state is gone.
  int Unpack(const TRarEntryHeader& entry, IPackedInput& input, IUnpackSink& sink);

  // The unpack versions this decoder takes.
  static bool Decodes(uint8_t unpVer) { return unpVer == 20 || unpVer == 26 || unpVer == 29 || unpVer == 36; }

  // The most a PPMd model (which the data names, up to 256 MiB) or the window may take.
  static uint64_t MemoryLimit;

 private:
  struct TState;
  std::unique_ptr<TState> S;
};

