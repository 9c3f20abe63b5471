// The check of unpacked data that its header asks for: CRC-32, or BLAKE2sp for RAR 5 entries
// that carry a hash record. The extraction sink feeds it every block it passes on.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "unrar/RarBlocks.h"

class TRarHasher {
 public:
  explicit TRarHasher(uint8_t hashType = RarHashCrc32);
  ~TRarHasher();
  TRarHasher(const TRarHasher&) = delete;
  TRarHasher& operator=(const TRarHasher&) = delete;

  void Update(const void* data, size_t size);
  uint8_t Type() const { return HashType; }
  uint32_t Crc() const { return CrcValue; }
  // The digest of everything so far (BLAKE2sp entries only; zeros otherwise).
  std::array<uint8_t, 32> Blake2() const;
  // True when the data hashes to what the header recorded: crc for CRC-32 entries, hash for
  // BLAKE2sp entries; an entry with neither has nothing to fail. The caller passes values that
  // are already untweaked for encrypted entries.
  bool Matches(uint32_t crc, const std::array<uint8_t, 32>& hash) const;

 private:
  struct TBlake2;
  uint8_t HashType;
  uint32_t CrcValue = 0;
  std::unique_ptr<TBlake2> Blake;
};
