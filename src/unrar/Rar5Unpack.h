// The RAR 5 decoder: Huffman-coded LZ over a window of up to 4 GiB, with the DELTA, E8, E8E9
// and ARM filters. Packed bytes are pulled from an IPackedInput (the entry's parts across
// volumes, or a decryptor in front of them); unpacked bytes are pushed into an IUnpackSink as
// they leave the window.
//
// One object decodes a whole solid set: its entries come in archive order, each with its own
// input, and the window, tables and repeated distances carry from one to the next. An entry
// the caller does not want is still decoded, into a sink that drops the data; skipping one
// would leave the next without the data it refers to. Stored entries never come here.
#pragma once
#include <cstdint>
#include <memory>

#include "unrar/RarBlocks.h"
#include "unrar/RarInput.h"
#include "unrar/RarUnpack.h"

class TRar5Unpacker {
 public:
  TRar5Unpacker();
  ~TRar5Unpacker();
  TRar5Unpacker(const TRar5Unpacker&) = delete;
  TRar5Unpacker& operator=(const TRar5Unpacker&) = delete;

  // Decodes one compressed entry (methods 0x31-0x35) into sink: exactly its unpacked size, all
  // of it before this returns 0. Otherwise: ERAR_BAD_DATA for damaged or truncated data, data
  // beyond the declared size, or a solid entry whose predecessor did not decode;
  // ERAR_UNKNOWN_FORMAT for a method, algorithm version or dictionary size this decoder does not
  // know; ERAR_NO_MEMORY for a window beyond MemoryLimit or one that cannot be had; or the code
  // the input or the sink returned. After a failure the solid state is gone.
  int Unpack(const TRarEntryHeader& entry, IPackedInput& input, IUnpackSink& sink);

  // The window's bytes now: the dictionary size at most, and no more than the set's data needs.
  uint64_t WindowSize() const;

  // The largest window the decoder allocates: by default what the machine can give.
  static uint64_t MemoryLimit;

 private:
  struct TState;
  std::unique_ptr<TState> S;
};
