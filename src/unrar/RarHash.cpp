#include "unrar/RarHash.h"

#include <blake2.h>

#include "unrar/RarCrc.h"

struct TRarHasher::TBlake2 {
  blake2sp_state State;
};

TRarHasher::TRarHasher(uint8_t hashType) : HashType(hashType) {
  if (HashType != RarHashBlake2) return;
  Blake = std::make_unique<TBlake2>();
  blake2sp_init(&Blake->State, 32);
}

TRarHasher::~TRarHasher() = default;

void TRarHasher::Update(const void* data, size_t size) {
  if (HashType == RarHashCrc32) CrcValue = RarCrc32(CrcValue, data, size);
  else if (Blake) blake2sp_update(&Blake->State, static_cast<const uint8_t*>(data), size);
}

std::array<uint8_t, 32> TRarHasher::Blake2() const {
  std::array<uint8_t, 32> digest{};
  if (!Blake) return digest;
  // Finishing changes the state; a copy keeps the hasher usable for more data.
  blake2sp_state copy = Blake->State;
  blake2sp_final(&copy, digest.data(), digest.size());
  return digest;
}

bool TRarHasher::Matches(uint32_t crc, const std::array<uint8_t, 32>& hash) const {
  if (HashType == RarHashCrc32) return CrcValue == crc;
  if (HashType == RarHashBlake2) return Blake2() == hash;
  return true;
}
