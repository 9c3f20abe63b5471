// Encryption of RAR archives: the key derivation of each format, decrypting stages that sit on an
// IPackedInput (between an entry's packed parts and its decoder or stored copy), and the helpers
// the RAR 5 block layer and the extraction sink need (header decryption, password check, tweaked
// checksums).
//
// Who calls what: a TRarArchive owns one TRarKeyCache and sets the password on it; the block
// reader asks it for header keys, the extraction asks it for the keys of each entry and wraps the
// entry's packed input in the matching stage. Everything runs on the handle's thread; nothing is
// shared between handles. Passwords and keys are kept in buffers that are wiped when they go and
// are never logged.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "unrar/RarBlocks.h"
#include "unrar/RarInput.h"
#include "unrar/RarSource.h"

// Overwrites secrets so that they do not linger in freed memory (the compiler may not drop it).
void WipeSecret(void* data, size_t size);

// A byte array for a secret, wiped when it is destroyed.
template <size_t N>
struct TSecret {
  std::array<uint8_t, N> Bytes{};
  TSecret() = default;
  TSecret(const TSecret&) = default;
  TSecret& operator=(const TSecret&) = default;
  ~TSecret() { WipeSecret(Bytes.data(), N); }
  uint8_t* data() { return Bytes.data(); }
  const uint8_t* data() const { return Bytes.data(); }
  static constexpr size_t size() { return N; }
};

constexpr size_t RarMaxPasswordUnits = 127;  // the archiver's limit in UTF-16 units; longer ones are cut
constexpr size_t RarMaxPasswordBytes = 3 * RarMaxPasswordUnits;  // a UTF-16 unit is at most 3 UTF-8 bytes

// A password as UTF-8, cut to the archiver's limit, in a buffer that is wiped.
struct TRarPassword {
  TSecret<RarMaxPasswordBytes> Bytes;
  size_t Size = 0;
  void Set(const char* utf8);  // null: empty
  std::string_view Text() const { return {reinterpret_cast<const char*>(Bytes.data()), Size}; }
};

// Which cipher an encrypted entry of a RAR 1.5-4.x archive uses; it follows the unpack version.
enum class TRarCipher {
  Rar13,     // RAR 1.3: not supported
  Rar15,     // RAR 1.5: a 16-bit key stream
  Rar20,     // RAR 2.0: not supported
  Rar29Aes,  // RAR 2.9-4.x: AES-128-CBC, key and IV from SHA-1 over password and salt
  Rar5Aes,   // RAR 5: AES-256-CBC, key from PBKDF2-HMAC-SHA256
};
TRarCipher RarCipherForVersion(uint8_t unpVer);

constexpr size_t Rar5SaltSize = 16;
constexpr size_t Rar5IvSize = 16;
constexpr size_t Rar5CheckValueSize = 12;   // 8 bytes of check value, then 4 of its SHA-256
constexpr unsigned Rar5MaxKdfLog2 = 24;     // the archiver never goes beyond 2^24 rounds

struct TRar3Key {
  TSecret<16> Key;
  TSecret<16> Iv;
};

struct TRar5Key {
  TSecret<32> Key;       // AES-256 key for data and headers
  TSecret<32> HashKey;   // turns CRC-32 and BLAKE2sp values into their tweaked form
  TSecret<8> PswCheck;   // compared with the check value of encryption records
};

// RAR 2.9-4.x: 2^18 rounds of SHA-1 over the password (UTF-8 in, hashed as UTF-16LE) and the
// salt (null: an entry without salt). Slow on purpose; TRarKeyCache keeps the result. Both
// derivations cut the password at RarMaxPasswordUnits, as TRarPassword does.
void DeriveRar3Key(std::string_view password, const uint8_t* salt, TRar3Key& out);

// RAR 5: PBKDF2-HMAC-SHA256 of the UTF-8 password with 2^lg2Count rounds gives the key; the same
// chain continued for 16 and 32 more rounds gives the hash key and the password check value.
// False when lg2Count is beyond what the format allows.
bool DeriveRar5Key(std::string_view password, const uint8_t salt[Rar5SaltSize], unsigned lg2Count, TRar5Key& out);

// Compares the check value of an encryption record with the key's: 0 when it matches, 24
// (ERAR_BAD_PASSWORD) when it does not. A check value whose own checksum fails tells nothing
// (a damaged record) and gives 0, leaving the verdict to the data's checksum.
int CheckRar5Password(const TRar5Key& key, const uint8_t checkValue[Rar5CheckValueSize]);

// Entries whose encryption record asks for it store their CRC-32 or BLAKE2sp in a form keyed with
// the hash key; the extraction compares the tweaked form of what it computed with what is stored.
uint32_t Rar5TweakCrc32(uint32_t crc, const TRar5Key& key);
void Rar5TweakBlake2sp(const uint8_t digest[32], const TRar5Key& key, uint8_t tweaked[32]);

// RAR 1.5's cipher state: four 16-bit key words.
struct TRar15Key {
  TSecret<8> Words;
};
void SetupRar15Key(std::string_view password, TRar15Key& out);

// The keys of one archive handle for its current password, each derived once however many
// headers or entries share its salt. Salts of RAR 4 headers may all be equal or each different;
// a few dozen distinct ones are kept, older ones are derived again when they come back.
class TRarKeyCache : public IHeaderKeys {
 public:
  TRarKeyCache();
  TRarKeyCache(const TRarKeyCache&) = delete;
  TRarKeyCache& operator=(const TRarKeyCache&) = delete;
  ~TRarKeyCache() override;

  // Null or empty: no password. Setting the same password again keeps the keys; another one
  // wipes them.
  void SetPassword(const char* utf8);
  bool HasPassword() const { return Password.Size > 0; }

  // RAR 2.9-4.x key and IV for a salt (null: none). Needs a password. What is returned stays
  // valid until the next call or password change: take what is needed from it at once.
  const TRar3Key& Rar3(const uint8_t* salt);
  // RAR 5 keys for a salt and KDF count; null when the count is out of range. Needs a password.
  // Valid as long as Rar3's result.
  const TRar5Key* Rar5(const uint8_t salt[Rar5SaltSize], unsigned lg2Count);

  std::string_view PasswordText() const { return Password.Text(); }

  // RAR 4 header keys that opened a header stay, whatever password is set later (a wrong one
  // for some entry's data, or none): the headers of an archive keep opening with the password
  // that opened them, in every volume. Null when no key for this salt has proved itself.
  const TRar3Key* ProvenHeaderKey(const uint8_t salt[RarSaltSize]) const;
  void ProveHeaderKey(const uint8_t salt[RarSaltSize], const TRar3Key& key);
  bool CanOpenHeaders() const override { return HasPassword() || !HeaderSlots.empty() || !HeaderSlots5.empty(); }
  bool OpenHeader4(TByteSource& source, uint64_t pos, std::vector<uint8_t>& header, uint64_t& stored,
                   TRarBlockKind& failure) override;
  // RAR 5 header keys that opened a header stay too, as the RAR 4 ones do.
  bool OpenHeader5(TByteSource& source, uint64_t pos, const TRar5Crypt& crypt, std::vector<uint8_t>& header,
                   uint64_t& stored, TRarBlockKind& failure) override;

  // How many slow derivations ran since the cache was made (tests count them).
  size_t Derivations() const { return DerivationCount; }

  static constexpr size_t Capacity = 32;

 private:
  struct TRar3Slot;
  struct TRar5Slot;
  void Forget();

  TRarPassword Password;
  std::vector<std::unique_ptr<TRar3Slot>> Rar3Slots;
  std::vector<std::unique_ptr<TRar5Slot>> Rar5Slots;
  std::vector<std::unique_ptr<TRar3Slot>> HeaderSlots;
  std::vector<std::unique_ptr<TRar5Slot>> HeaderSlots5;
  size_t Rar3Next = 0, Rar5Next = 0, HeaderNext = 0;  // the slot replaced next once one is full
  size_t DerivationCount = 0;
};

// AES-CBC decryption over a buffer, chaining from call to call; keys of 16 or 32 bytes.
class TAesCbcDecryptor {
 public:
  TAesCbcDecryptor(const uint8_t* key, size_t keySize, const uint8_t iv[16]);
  TAesCbcDecryptor(const TAesCbcDecryptor&) = delete;
  TAesCbcDecryptor& operator=(const TAesCbcDecryptor&) = delete;
  ~TAesCbcDecryptor();
  // size must be a multiple of 16; in place.
  void Decrypt(uint8_t* data, size_t size);

 private:
  struct TState;
  std::unique_ptr<TState> State;
};

// A decrypting stage: pulls ciphertext from the stage below and yields plaintext.
//
// What the consumer gets: the decrypted bytes of every whole block, never more than plainLimit.
// Encrypted data is padded to the cipher's block (16 bytes); the packed size in the header counts
// the padded ciphertext and the format does not record how much of the last block is padding. A
// stored entry therefore passes its unpacked size as plainLimit and gets exactly its file; a
// compressed entry passes no limit and its decoder stops by itself at the unpacked size, so the
// padding after the end of its stream is never looked at. Ciphertext that ends inside a block is
// damaged or truncated: the whole blocks before it are yielded, then the read fails with 12
// (ERAR_BAD_DATA).
class TRarDecryptInput : public IPackedInput {
 public:
  static constexpr uint64_t NoLimit = ~uint64_t(0);
  int Read(uint8_t* buffer, size_t size, size_t& got) override;

 protected:
  TRarDecryptInput(IPackedInput& below, size_t blockSize, uint64_t plainLimit);
  ~TRarDecryptInput() override;
  // Decrypts `size` bytes in place; size is a multiple of the block size.
  virtual void DecryptBlocks(uint8_t* data, size_t size) = 0;

 private:
  int Fill();

  IPackedInput& Below;
  size_t BlockSize;
  uint64_t Left;                // plaintext the consumer may still get
  std::vector<uint8_t> Buffer;  // ciphertext being gathered, then plaintext being handed out
  size_t Gathered = 0;          // bytes in Buffer
  size_t Ready = 0;             // decrypted bytes at the front of Buffer
  size_t Handed = 0;            // of those, already handed out
  bool BelowDone = false;
};

// RAR 2.9-4.x (AES-128) and RAR 5 (AES-256) file data.
class TAesCbcInput : public TRarDecryptInput {
 public:
  TAesCbcInput(IPackedInput& below, const TRar3Key& key, uint64_t plainLimit = NoLimit);
  TAesCbcInput(IPackedInput& below, const TRar5Key& key, const uint8_t iv[Rar5IvSize], uint64_t plainLimit = NoLimit);

 protected:
  void DecryptBlocks(uint8_t* data, size_t size) override { Cipher.Decrypt(data, size); }

 private:
  TAesCbcDecryptor Cipher;
};

// RAR 1.5 file data: a key stream, so no padding and no blocks.
class TRar15Input : public TRarDecryptInput {
 public:
  TRar15Input(IPackedInput& below, const TRar15Key& key, uint64_t plainLimit = NoLimit);

 protected:
  void DecryptBlocks(uint8_t* data, size_t size) override;

 private:
  TRar15Key Key;
};

// Whether the data of an encrypted RAR 1.5-4.x entry can be decrypted: 0, 22
// (ERAR_MISSING_PASSWORD) without a password, 14 (ERAR_UNKNOWN_FORMAT) for a cipher that is not
// supported here (RAR 1.3 and RAR 2.0).
int CanDecryptRar4(const TRarEntryHeader& header, const TRarKeyCache& keys);

// The decrypting stage of an encrypted RAR 1.5-4.x entry over its packed bytes, keyed from the
// cache; null when CanDecryptRar4 says it cannot be. Stored entries pass their unpacked size as
// plainLimit (see TRarDecryptInput).
std::unique_ptr<IPackedInput> MakeRar4DecryptStage(IPackedInput& below, const TRarEntryHeader& header, TRarKeyCache& keys,
                                                   uint64_t plainLimit);

// The RAR 5 header decryption: at `at` lie a 16-byte IV and then the header (CRC32, HEADER_SIZE,
// the rest) encrypted and padded to 16 bytes. Fills `header` with the plain header exactly as an
// unencrypted one would be stored (CRC32 included, padding dropped) and `stored` with the bytes
// the encrypted form takes in the file. The caller checks the CRC as for any header: with a wrong
// key it fails. Returns 0, or 12 (ERAR_BAD_DATA) for a truncated or implausible header.
int ReadRar5EncryptedHeader(TByteSource& source, uint64_t at, const TRar5Key& key, std::vector<uint8_t>& header,
                            uint64_t& stored);
