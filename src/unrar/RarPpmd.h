// PPMd variant H as RAR 2.9-4.x uses it: the context model, its sub-allocator and the range
// decoder that reads the bytes of a PPMd block.
//
// The model's memory is one block of the size the block header names (1 to 256 MiB). When the
// archiver's model filled it, it started over, and the decoder must start over at the same
// symbol, so the allocator is emulated exactly: 12-byte units addressed by 32-bit offsets into
// the block, whatever the pointer size of the machine. Every offset taken from the model is
// checked against the block before it is followed; damaged data ends in an error, never in a
// read or write outside it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "unrar/Rar3Bits.h"

class TRarPpmd {
 public:
  TRarPpmd();
  ~TRarPpmd();
  TRarPpmd(const TRarPpmd&) = delete;
  TRarPpmd& operator=(const TRarPpmd&) = delete;

  // Reads a PPMd block header at the input's byte position and starts the range decoder on the
  // bytes after it. A header that resets the model allocates the memory it names (unless the
  // block already has that size) and starts a new model of its order; one that does not
  // continues the model as it stands. `escChar` takes the escape character the header names.
  // 0, ERAR_BAD_DATA (no model to continue, an order of 1) or ERAR_NO_MEMORY (more than
  // memoryLimit, or none to be had).
  int Init(TRar3Input& in, int& escChar, uint64_t memoryLimit);

  // The next byte, or -1 for damaged data (the model is then unusable until a reset).
  int DecodeChar();

  // Decodes bytes into the window (a power of two, `mask` + 1 bytes) at pos until pos reaches
  // `limit` (Limit), the escape character comes (Escape: consumed, not stored) or the data is
  // damaged or read past its end (Failed: the model is then unusable until a reset). The
  // decoding loop stays here, without a call for each byte.
  enum class TRun { Limit, Escape, Failed };
  TRun DecodeRun(uint8_t* window, uint64_t mask, uint64_t& pos, uint64_t limit, int escChar);

  // Forgets the model: the next block must reset it.
  void Clear();

 private:
  struct TState;
  std::unique_ptr<TState> S;
};
