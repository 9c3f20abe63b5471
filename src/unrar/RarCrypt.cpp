#include "unrar/RarCrypt.h"

#include <algorithm>
#include <cstring>
#include <nettle/aes.h>
#include <nettle/cbc.h>
#include <nettle/hmac.h>
#include <nettle/sha1.h>
#include <nettle/sha2.h>

#include "unrar/RarCrc.h"
#include "unrar/unrar.h"

void WipeSecret(void* data, size_t size) {
  volatile auto* p = static_cast<volatile uint8_t*>(data);
  while (size--) *p++ = 0;
}

namespace {

void Put32Le(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint32_t Get32Be(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
uint32_t Rol32(uint32_t v, int n) { return v << n | v >> (32 - n); }

// Decodes one character of UTF-8 at `i`; a byte that starts no valid sequence stands for itself
// (Latin-1), so that any password the caller gives hashes to something.
uint32_t NextCodePoint(std::string_view s, size_t& i) {
  auto b = [&](size_t k) { return uint8_t(s[k]); };
  uint8_t c = b(i);
  size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (n > 1 && i + n <= s.size()) {
    uint32_t cp = c & (0x7F >> n);
    bool ok = true;
    for (size_t k = 1; k < n && ok; ++k) {
      ok = (b(i + k) & 0xC0) == 0x80;
      cp = cp << 6 | (b(i + k) & 0x3F);
    }
    static constexpr uint32_t Least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (ok && cp >= Least[n] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF)) {
      i += n;
      return cp;
    }
  }
  ++i;
  return c;
}

size_t Utf16Units(uint32_t cp) { return cp >= 0x10000 ? 2 : 1; }

// The longest start of the password within the archiver's limit, cut between characters.
std::string_view WithinLimit(std::string_view password) {
  size_t units = 0, kept = 0;
  for (size_t i = 0; i < password.size();) {
    units += Utf16Units(NextCodePoint(password, i));
    if (units > RarMaxPasswordUnits) break;
    kept = i;
  }
  return password.substr(0, kept);
}

// The password as UTF-16LE, the form RAR 2.9-4.x hashes.
size_t PasswordUtf16(std::string_view password, uint8_t* out) {
  size_t size = 0;
  for (size_t i = 0; i < password.size();) {
    uint32_t cp = NextCodePoint(password, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      uint16_t hi = uint16_t(0xD800 + (cp >> 10)), lo = uint16_t(0xDC00 + (cp & 0x3FF));
      out[size++] = uint8_t(hi);
      out[size++] = uint8_t(hi >> 8);
      out[size++] = uint8_t(lo);
      out[size++] = uint8_t(lo >> 8);
    } else {
      out[size++] = uint8_t(cp);
      out[size++] = uint8_t(cp >> 8);
    }
  }
  return size;
}

// The archiver's SHA-1 for the RAR 2.9 key loop: every whole 64-byte block that a single update
// takes straight from the caller's data, after the first block of that update, is overwritten
// with the last 16 words of its message schedule (little-endian), and the next round hashes the
// altered bytes. Only passwords of 29 characters and more reach it; the digest itself is SHA-1.
class TRar29Sha1 {
 public:
  TRar29Sha1() { sha1_init(&Ctx); }
  ~TRar29Sha1() { WipeSecret(&Ctx, sizeof Ctx); }
  void UpdateAltering(uint8_t* data, size_t size) {
    sha1_update(&Ctx, size, data);
    size_t pos = size_t(Length % 64);
    Length += size;
    if (pos + size < 64) return;
    for (size_t i = 64 - pos; i + 64 <= size; i += 64) ScheduleTail(data + i);
  }
  void Update(const uint8_t* data, size_t size) {
    sha1_update(&Ctx, size, data);
    Length += size;
  }
  // The digest so far, leaving the running hash as it is.
  void Peek(uint8_t digest[SHA1_DIGEST_SIZE]) const {
    sha1_ctx copy = Ctx;
    sha1_digest(&copy, SHA1_DIGEST_SIZE, digest);
    WipeSecret(&copy, sizeof copy);
  }

 private:
  static void ScheduleTail(uint8_t* block) {
    uint32_t w[80];
    for (int t = 0; t < 16; ++t) w[t] = Get32Be(block + 4 * t);
    for (int t = 16; t < 80; ++t) w[t] = Rol32(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    for (int t = 0; t < 16; ++t) Put32Le(block + 4 * t, w[64 + t]);
    WipeSecret(w, sizeof w);
  }
  sha1_ctx Ctx;
  uint64_t Length = 0;
};

constexpr uint32_t Rar3Rounds = 1u << 18;

// nettle's cipher function type, without casting the AES functions' own signatures.
void Aes128Decrypt(const void* ctx, size_t length, uint8_t* dst, const uint8_t* src) {
  aes128_decrypt(static_cast<const aes128_ctx*>(ctx), length, dst, src);
}
void Aes256Decrypt(const void* ctx, size_t length, uint8_t* dst, const uint8_t* src) {
  aes256_decrypt(static_cast<const aes256_ctx*>(ctx), length, dst, src);
}

uint16_t Ror16(uint16_t v) { return uint16_t(v >> 1 | v << 15); }

}  // namespace

void TRarPassword::Set(const char* utf8) {
  WipeSecret(Bytes.data(), Bytes.size());
  std::string_view kept = WithinLimit(utf8 ? std::string_view(utf8) : std::string_view());
  Size = kept.size();
  if (Size > 0) std::memcpy(Bytes.data(), kept.data(), Size);
}

TRarCipher RarCipherForVersion(uint8_t unpVer) {
  if (unpVer >= 50) return TRarCipher::Rar5Aes;
  if (unpVer >= 29) return TRarCipher::Rar29Aes;
  if (unpVer >= 20) return TRarCipher::Rar20;
  if (unpVer >= 15) return TRarCipher::Rar15;
  return TRarCipher::Rar13;
}

void DeriveRar3Key(std::string_view password, const uint8_t* salt, TRar3Key& out) {
  TSecret<2 * RarMaxPasswordUnits + RarSaltSize> raw;
  size_t size = PasswordUtf16(WithinLimit(password), raw.data());
  if (salt) {
    std::memcpy(raw.data() + size, salt, RarSaltSize);
    size += RarSaltSize;
  }
  TRar29Sha1 hash;
  TSecret<SHA1_DIGEST_SIZE> digest;
  for (uint32_t i = 0; i < Rar3Rounds; ++i) {
    hash.UpdateAltering(raw.data(), size);
    const uint8_t counter[3] = {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16)};
    hash.Update(counter, 3);
    // The IV takes the last byte of the digest at each sixteenth of the way.
    if (i % (Rar3Rounds / 16) == 0) {
      hash.Peek(digest.data());
      out.Iv.data()[i / (Rar3Rounds / 16)] = digest.data()[SHA1_DIGEST_SIZE - 1];
    }
  }
  hash.Peek(digest.data());
  // The key is the digest's first four words, each in little-endian order.
  for (size_t word = 0; word < 4; ++word)
    for (size_t b = 0; b < 4; ++b) out.Key.data()[4 * word + b] = digest.data()[4 * word + 3 - b];
}

bool DeriveRar5Key(std::string_view password, const uint8_t salt[Rar5SaltSize], unsigned lg2Count, TRar5Key& out) {
  if (lg2Count > Rar5MaxKdfLog2) return false;
  password = WithinLimit(password);
  hmac_sha256_ctx hmac;
  hmac_sha256_set_key(&hmac, password.size(), reinterpret_cast<const uint8_t*>(password.data()));
  TSecret<SHA256_DIGEST_SIZE> u, sum, check;
  static constexpr uint8_t BlockIndex[4] = {0, 0, 0, 1};
  hmac_sha256_update(&hmac, Rar5SaltSize, salt);
  hmac_sha256_update(&hmac, sizeof BlockIndex, BlockIndex);
  hmac_sha256_digest(&hmac, SHA256_DIGEST_SIZE, u.data());
  sum = u;
  // One chain: the key after 2^lg2Count rounds, the hash key 16 rounds later, the check value
  // 16 rounds after that.
  const uint32_t rounds[3] = {(uint32_t(1) << lg2Count) - 1, 16, 16};
  uint8_t* results[3] = {out.Key.data(), out.HashKey.data(), check.data()};
  for (int stage = 0; stage < 3; ++stage) {
    for (uint32_t r = 0; r < rounds[stage]; ++r) {
      hmac_sha256_update(&hmac, SHA256_DIGEST_SIZE, u.data());
      hmac_sha256_digest(&hmac, SHA256_DIGEST_SIZE, u.data());
      for (size_t k = 0; k < SHA256_DIGEST_SIZE; ++k) sum.data()[k] ^= u.data()[k];
    }
    std::memcpy(results[stage], sum.data(), SHA256_DIGEST_SIZE);
  }
  WipeSecret(&hmac, sizeof hmac);
  out.PswCheck = {};
  for (size_t k = 0; k < SHA256_DIGEST_SIZE; ++k) out.PswCheck.data()[k % out.PswCheck.size()] ^= check.data()[k];
  return true;
}

int CheckRar5Password(const TRar5Key& key, const uint8_t checkValue[Rar5CheckValueSize]) {
  uint8_t sum[SHA256_DIGEST_SIZE];
  sha256_ctx sha;
  sha256_init(&sha);
  sha256_update(&sha, 8, checkValue);
  sha256_digest(&sha, sizeof sum, sum);
  if (std::memcmp(sum, checkValue + 8, 4) != 0) return ERAR_SUCCESS;
  return std::memcmp(key.PswCheck.data(), checkValue, 8) == 0 ? ERAR_SUCCESS : ERAR_BAD_PASSWORD;
}

uint32_t Rar5TweakCrc32(uint32_t crc, const TRar5Key& key) {
  uint8_t raw[4];
  Put32Le(raw, crc);
  uint8_t mac[SHA256_DIGEST_SIZE];
  hmac_sha256_ctx hmac;
  hmac_sha256_set_key(&hmac, key.HashKey.size(), key.HashKey.data());
  hmac_sha256_update(&hmac, sizeof raw, raw);
  hmac_sha256_digest(&hmac, sizeof mac, mac);
  WipeSecret(&hmac, sizeof hmac);
  uint32_t folded = 0;
  for (size_t i = 0; i < sizeof mac; ++i) folded ^= uint32_t(mac[i]) << (8 * (i & 3));
  return folded;
}

void Rar5TweakBlake2sp(const uint8_t digest[32], const TRar5Key& key, uint8_t tweaked[32]) {
  hmac_sha256_ctx hmac;
  hmac_sha256_set_key(&hmac, key.HashKey.size(), key.HashKey.data());
  hmac_sha256_update(&hmac, 32, digest);
  hmac_sha256_digest(&hmac, 32, tweaked);
  WipeSecret(&hmac, sizeof hmac);
}

void SetupRar15Key(std::string_view password, TRar15Key& out) {
  // The register of the password's CRC before the final inversion.
  uint32_t passwordCrc = ~RarCrc32(0, password.data(), password.size());
  uint16_t k[4] = {uint16_t(passwordCrc), uint16_t(passwordCrc >> 16), 0, 0};
  for (char ch : password) {
    uint8_t p = uint8_t(ch);
    k[2] = uint16_t(k[2] ^ p ^ RarCrcTableEntry(p));
    k[3] = uint16_t(k[3] + p + (RarCrcTableEntry(p) >> 16));
  }
  for (int i = 0; i < 4; ++i) {
    out.Words.data()[2 * i] = uint8_t(k[i]);
    out.Words.data()[2 * i + 1] = uint8_t(k[i] >> 8);
  }
  WipeSecret(k, sizeof k);
}

// --- the key cache ---

struct TRarKeyCache::TRar3Slot {
  bool HasSalt = false;
  std::array<uint8_t, RarSaltSize> Salt{};
  TRar3Key Key;
};

struct TRarKeyCache::TRar5Slot {
  std::array<uint8_t, Rar5SaltSize> Salt{};
  unsigned Lg2Count = 0;
  TRar5Key Key;
};

TRarKeyCache::TRarKeyCache() = default;
TRarKeyCache::~TRarKeyCache() = default;

void TRarKeyCache::Forget() {
  Rar3Slots.clear();
  Rar5Slots.clear();
  Rar3Next = Rar5Next = 0;
}

void TRarKeyCache::SetPassword(const char* utf8) {
  TRarPassword next;
  next.Set(utf8);
  if (next.Size == Password.Size && std::memcmp(next.Bytes.data(), Password.Bytes.data(), next.Size) == 0) return;
  Forget();
  Password = next;
}

const TRar3Key& TRarKeyCache::Rar3(const uint8_t* salt) {
  for (const auto& slot : Rar3Slots)
    if (slot->HasSalt == (salt != nullptr) && (!salt || std::memcmp(slot->Salt.data(), salt, RarSaltSize) == 0))
      return slot->Key;
  auto slot = std::make_unique<TRar3Slot>();
  slot->HasSalt = salt != nullptr;
  if (salt) std::memcpy(slot->Salt.data(), salt, RarSaltSize);
  DeriveRar3Key(Password.Text(), salt, slot->Key);
  ++DerivationCount;
  if (Rar3Slots.size() < Capacity) {
    Rar3Slots.push_back(std::move(slot));
    return Rar3Slots.back()->Key;
  }
  auto& replaced = Rar3Slots[Rar3Next++ % Capacity];
  replaced = std::move(slot);
  return replaced->Key;
}

const TRar3Key* TRarKeyCache::ProvenHeaderKey(const uint8_t salt[RarSaltSize]) const {
  for (const auto& slot : HeaderSlots)
    if (std::memcmp(slot->Salt.data(), salt, RarSaltSize) == 0) return &slot->Key;
  return nullptr;
}

void TRarKeyCache::ProveHeaderKey(const uint8_t salt[RarSaltSize], const TRar3Key& key) {
  auto slot = std::make_unique<TRar3Slot>();
  slot->HasSalt = true;
  std::memcpy(slot->Salt.data(), salt, RarSaltSize);
  slot->Key = key;
  if (HeaderSlots.size() < Capacity)
    HeaderSlots.push_back(std::move(slot));
  else
    HeaderSlots[HeaderNext++ % Capacity] = std::move(slot);
}

const TRar5Key* TRarKeyCache::Rar5(const uint8_t salt[Rar5SaltSize], unsigned lg2Count) {
  if (lg2Count > Rar5MaxKdfLog2) return nullptr;
  for (const auto& slot : Rar5Slots)
    if (slot->Lg2Count == lg2Count && std::memcmp(slot->Salt.data(), salt, Rar5SaltSize) == 0) return &slot->Key;
  auto slot = std::make_unique<TRar5Slot>();
  std::memcpy(slot->Salt.data(), salt, Rar5SaltSize);
  slot->Lg2Count = lg2Count;
  DeriveRar5Key(Password.Text(), salt, lg2Count, slot->Key);
  ++DerivationCount;
  if (Rar5Slots.size() < Capacity) {
    Rar5Slots.push_back(std::move(slot));
    return &Rar5Slots.back()->Key;
  }
  auto& replaced = Rar5Slots[Rar5Next++ % Capacity];
  replaced = std::move(slot);
  return &replaced->Key;
}

// --- AES-CBC ---

struct TAesCbcDecryptor::TState {
  union {
    aes128_ctx Aes128;
    aes256_ctx Aes256;
  };
  bool Wide = false;
  uint8_t Iv[16];
};

TAesCbcDecryptor::TAesCbcDecryptor(const uint8_t* key, size_t keySize, const uint8_t iv[16])
    : State(std::make_unique<TState>()) {
  State->Wide = keySize == 32;
  if (State->Wide)
    aes256_set_decrypt_key(&State->Aes256, key);
  else
    aes128_set_decrypt_key(&State->Aes128, key);
  std::memcpy(State->Iv, iv, 16);
}

TAesCbcDecryptor::~TAesCbcDecryptor() { WipeSecret(State.get(), sizeof *State); }

void TAesCbcDecryptor::Decrypt(uint8_t* data, size_t size) {
  if (State->Wide)
    cbc_decrypt(&State->Aes256, Aes256Decrypt, AES_BLOCK_SIZE, State->Iv, size, data, data);
  else
    cbc_decrypt(&State->Aes128, Aes128Decrypt, AES_BLOCK_SIZE, State->Iv, size, data, data);
}

// --- decrypting stages ---

namespace {
constexpr size_t DecryptChunk = 64 * 1024;
}

TRarDecryptInput::TRarDecryptInput(IPackedInput& below, size_t blockSize, uint64_t plainLimit)
    : Below(below), BlockSize(blockSize), Left(plainLimit), Buffer(DecryptChunk) {}

TRarDecryptInput::~TRarDecryptInput() { WipeSecret(Buffer.data(), Buffer.size()); }

int TRarDecryptInput::Fill() {
  size_t tail = Gathered - Ready;
  std::memmove(Buffer.data(), Buffer.data() + Ready, tail);
  Gathered = tail;
  Ready = Handed = 0;
  while (!BelowDone && Gathered < BlockSize) {
    size_t got = 0;
    if (int rc = Below.Read(Buffer.data() + Gathered, Buffer.size() - Gathered, got)) return rc;
    if (got == 0) BelowDone = true;
    Gathered += got;
  }
  Ready = Gathered - Gathered % BlockSize;
  if (Ready > 0) DecryptBlocks(Buffer.data(), Ready);
  // Ciphertext that stops inside a block cannot be decrypted: truncated or damaged.
  return Ready == 0 && Gathered > 0 ? ERAR_BAD_DATA : ERAR_SUCCESS;
}

int TRarDecryptInput::Read(uint8_t* buffer, size_t size, size_t& got) {
  got = 0;
  if (Left == 0 || size == 0) return ERAR_SUCCESS;
  if (Handed == Ready)
    if (int rc = Fill()) return rc;
  size_t n = std::min<uint64_t>({size, Ready - Handed, Left});
  std::memcpy(buffer, Buffer.data() + Handed, n);
  Handed += n;
  Left -= n;
  got = n;
  return ERAR_SUCCESS;
}

TAesCbcInput::TAesCbcInput(IPackedInput& below, const TRar3Key& key, uint64_t plainLimit)
    : TRarDecryptInput(below, AES_BLOCK_SIZE, plainLimit), Cipher(key.Key.data(), key.Key.size(), key.Iv.data()) {}

TAesCbcInput::TAesCbcInput(IPackedInput& below, const TRar5Key& key, const uint8_t iv[Rar5IvSize], uint64_t plainLimit)
    : TRarDecryptInput(below, AES_BLOCK_SIZE, plainLimit), Cipher(key.Key.data(), key.Key.size(), iv) {}

TRar15Input::TRar15Input(IPackedInput& below, const TRar15Key& key, uint64_t plainLimit)
    : TRarDecryptInput(below, 1, plainLimit), Key(key) {}

void TRar15Input::DecryptBlocks(uint8_t* data, size_t size) {
  uint8_t* w = Key.Words.data();
  uint16_t k[4];
  for (int i = 0; i < 4; ++i) k[i] = uint16_t(w[2 * i] | w[2 * i + 1] << 8);
  for (size_t i = 0; i < size; ++i) {
    k[0] = uint16_t(k[0] + 0x1234);
    uint32_t t = RarCrcTableEntry(uint8_t((k[0] & 0x1FE) >> 1));
    k[1] = uint16_t(k[1] ^ t);
    k[2] = uint16_t(k[2] - (t >> 16));
    k[0] = uint16_t(k[0] ^ k[2]);
    k[3] = Ror16(uint16_t(Ror16(k[3]) ^ k[1]));
    k[0] = uint16_t(k[0] ^ k[3]);
    data[i] ^= uint8_t(k[0] >> 8);
  }
  for (int i = 0; i < 4; ++i) {
    w[2 * i] = uint8_t(k[i]);
    w[2 * i + 1] = uint8_t(k[i] >> 8);
  }
  WipeSecret(k, sizeof k);
}

int CanDecryptRar4(const TRarEntryHeader& header, const TRarKeyCache& keys) {
  switch (RarCipherForVersion(header.UnpVer)) {
    case TRarCipher::Rar15:
    case TRarCipher::Rar29Aes: return keys.HasPassword() ? ERAR_SUCCESS : ERAR_MISSING_PASSWORD;
    default: return ERAR_UNKNOWN_FORMAT;
  }
}

std::unique_ptr<IPackedInput> MakeRar4DecryptStage(IPackedInput& below, const TRarEntryHeader& header, TRarKeyCache& keys,
                                                   uint64_t plainLimit) {
  if (CanDecryptRar4(header, keys) != ERAR_SUCCESS) return nullptr;
  if (RarCipherForVersion(header.UnpVer) == TRarCipher::Rar15) {
    TRar15Key key;
    SetupRar15Key(keys.PasswordText(), key);
    return std::make_unique<TRar15Input>(below, key, plainLimit);
  }
  return std::make_unique<TAesCbcInput>(below, keys.Rar3(header.Salt ? header.Salt->data() : nullptr), plainLimit);
}

// --- RAR 5 headers ---

namespace {
constexpr uint64_t Rar5MaxHeaderSize = 2u << 20;
}

int ReadRar5EncryptedHeader(TByteSource& source, uint64_t at, const TRar5Key& key, std::vector<uint8_t>& header,
                            uint64_t& stored) {
  uint8_t iv[Rar5IvSize];
  uint8_t first[AES_BLOCK_SIZE];
  if (source.ReadAt(at, iv, sizeof iv) != sizeof iv || source.ReadAt(at + sizeof iv, first, sizeof first) != sizeof first)
    return ERAR_BAD_DATA;
  TAesCbcDecryptor cipher(key.Key.data(), key.Key.size(), iv);
  cipher.Decrypt(first, sizeof first);
  // CRC32, then HEADER_SIZE as a vint; both lie in the first block.
  uint64_t size = 0;
  size_t cursor = 4;
  bool more = true;
  for (int shift = 0; more && cursor < sizeof first && shift < 64; shift += 7) {
    size |= uint64_t(first[cursor] & 0x7F) << shift;
    more = first[cursor++] & 0x80;
  }
  if (more || size == 0 || size > Rar5MaxHeaderSize) return ERAR_BAD_DATA;
  uint64_t total = cursor + size;
  uint64_t padded = (total + AES_BLOCK_SIZE - 1) / AES_BLOCK_SIZE * AES_BLOCK_SIZE;
  uint64_t end = at + sizeof iv + padded;
  if (end < at || end > source.Size()) return ERAR_BAD_DATA;
  header.assign(size_t(padded), 0);
  std::memcpy(header.data(), first, sizeof first);
  size_t rest = size_t(padded) - sizeof first;
  if (source.ReadAt(at + sizeof iv + sizeof first, header.data() + sizeof first, rest) != rest) return ERAR_BAD_DATA;
  cipher.Decrypt(header.data() + sizeof first, rest);
  WipeSecret(header.data() + total, size_t(padded - total));
  header.resize(size_t(total));
  stored = sizeof iv + padded;
  return ERAR_SUCCESS;
}

bool TRarKeyCache::OpenHeader4(TByteSource& source, uint64_t pos, std::vector<uint8_t>& header, uint64_t& stored,
                               TRarBlockKind& failure) {
  failure = TRarBlockKind::Broken;
  // Each header after the main one: its own salt, then the header encrypted and padded to 16.
  uint8_t salt[RarSaltSize];
  uint8_t first[16];
  if (source.ReadAt(pos, salt, sizeof salt) != sizeof salt || source.ReadAt(pos + sizeof salt, first, 16) != 16)
    return false;
  // A salt whose key has not opened a header yet is tried with the password set; a header that
  // then does not decrypt to a valid one means that password is wrong.
  const TRar3Key* proven = ProvenHeaderKey(salt);
  if (!proven) {
    if (!HasPassword()) {
      failure = TRarBlockKind::EncryptedHeaders;
      return false;
    }
    failure = TRarBlockKind::WrongPassword;
  }
  const TRar3Key& key = proven ? *proven : Rar3(salt);
  TAesCbcDecryptor cipher(key.Key.data(), key.Key.size(), key.Iv.data());
  cipher.Decrypt(first, sizeof first);
  uint16_t headSize = uint16_t(first[5] | first[6] << 8);
  if (headSize < 7) return false;
  size_t padded = (size_t(headSize) + 15) / 16 * 16;
  header.assign(first, first + sizeof first);
  header.resize(padded);
  size_t rest = padded - sizeof first;
  if (source.ReadAt(pos + sizeof salt + sizeof first, header.data() + sizeof first, rest) != rest) return false;
  cipher.Decrypt(header.data() + sizeof first, rest);
  header.resize(headSize);
  if (!proven) {
    if (!HeaderCrcMatches(header.data(), headSize)) return false;
    ProveHeaderKey(salt, key);
  }
  stored = sizeof salt + padded;
  return true;
}

bool TRarKeyCache::OpenHeader5(TByteSource& source, uint64_t pos, const TRar5Crypt& crypt, std::vector<uint8_t>& header,
                               uint64_t& stored, TRarBlockKind& failure) {
  failure = TRarBlockKind::Broken;
  const unsigned lg2Count = crypt.KdfCount;
  const TRar5Key* proven = nullptr;
  for (const auto& slot : HeaderSlots5)
    if (slot->Lg2Count == lg2Count && std::memcmp(slot->Salt.data(), crypt.Salt.data(), Rar5SaltSize) == 0)
      proven = &slot->Key;
  if (!proven && !HasPassword()) {
    failure = TRarBlockKind::EncryptedHeaders;
    return false;
  }
  // A version this library does not know, or more rounds than the format allows: damage.
  if (crypt.Version != 0) return false;
  const TRar5Key* key = proven ? proven : Rar5(crypt.Salt.data(), lg2Count);
  if (!key) return false;
  if (!proven && crypt.HasPasswordCheck() && CheckRar5Password(*key, crypt.Check.data()) != ERAR_SUCCESS) {
    failure = TRarBlockKind::BadPassword;
    return false;
  }
  if (ReadRar5EncryptedHeader(source, pos, *key, header, stored) != ERAR_SUCCESS) {
    if (!proven) failure = TRarBlockKind::WrongPassword;
    return false;
  }
  const uint32_t crc = uint32_t(header[0]) | uint32_t(header[1]) << 8 | uint32_t(header[2]) << 16 |
                       uint32_t(header[3]) << 24;
  if (RarCrc32(0, header.data() + 4, header.size() - 4) != crc) {
    if (!proven) failure = TRarBlockKind::WrongPassword;
    return false;
  }
  if (!proven) {
    auto slot = std::make_unique<TRar5Slot>();
    slot->Salt = crypt.Salt;
    slot->Lg2Count = lg2Count;
    slot->Key = *key;
    if (HeaderSlots5.size() < Capacity) HeaderSlots5.push_back(std::move(slot));
  }
  return true;
}
