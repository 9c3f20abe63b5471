// The block layer: finds the marker, reads the main header and walks the blocks of one volume
// (RAR 1.5-4.x, and RAR 5 with every record of its headers). Works on any TByteSource, so the
// same code reads volume files and memory images.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "unrar/RarSource.h"


// File header flags (RAR 1.5-4.x layout; RAR 5 headers are mapped onto it).
enum : uint16_t {
  RarFileSplitBefore = 0x0001,
  RarFileSplitAfter = 0x0002,
  RarFileEncrypted = 0x0004,
  RarFileComment = 0x0008,
  RarFileSolid = 0x0010,
  RarFileDirectoryMask = 0x00E0,
  RarFileLarge = 0x0100,
  RarFileUnicode = 0x0200,
  RarFileSalt = 0x0400,
};

enum : uint16_t {
  RarMainVolume = 0x0001,
  RarMainComment = 0x0002,
  RarMainLocked = 0x0004,
  RarMainSolid = 0x0008,
  RarMainNewNaming = 0x0010,
  RarMainRecovery = 0x0040,
  RarMainEncryptedHeaders = 0x0080,
  RarMainFirstVolume = 0x0100,
};

enum : uint16_t { RarEndNextVolume = 0x0001 };

constexpr size_t RarSaltSize = 8;  // RAR 2.9-4.x file and header salt
constexpr uint8_t RarMethodStore = 0x30;
constexpr uint8_t RarVersion5 = 50;

// How an entry's unpacked data is checked; the numbers are the extended header record's HashType.
enum : uint8_t { RarHashNone = 0, RarHashCrc32 = 1, RarHashBlake2 = 2 };

// What a RAR 5 link or copy entry stands for.
enum : uint8_t {
  RarRedirNone = 0,
  RarRedirUnixSymlink = 1,
  RarRedirWindowsSymlink = 2,
  RarRedirJunction = 3,
  RarRedirHardLink = 4,
  RarRedirFileCopy = 5,
};

// A RAR 5 time stamp: seconds and nanoseconds since 1970-01-01 UTC.
struct TRarTime {
  bool Present = false;
  int64_t Seconds = 0;
  uint32_t Nanoseconds = 0;
};

enum : uint64_t { Rar5CryptPasswordCheck = 0x01, Rar5CryptTweakedChecksums = 0x02 };

// A RAR 5 encryption record as stored: an entry's (with IV), or the archive's header encryption
// (no IV there). Only parsed here; the keys come from the password.
struct TRar5Crypt {
  bool Present = false;
  uint64_t Version = 0;  // 0: AES-256
  uint64_t Flags = 0;    // Rar5Crypt...
  uint8_t KdfCount = 0;  // PBKDF2 runs 2^KdfCount iterations
  std::array<uint8_t, 16> Salt{};
  std::array<uint8_t, 16> Iv{};
  std::array<uint8_t, 12> Check{};  // 8 bytes of password check value, then 4 of its checksum
  bool HasPasswordCheck() const { return Flags & Rar5CryptPasswordCheck; }
  // The stored CRC-32 or BLAKE2sp is keyed with the password (a plain hash would reveal the data).
  bool TweakedChecksums() const { return Flags & Rar5CryptTweakedChecksums; }
};

struct TRarEntryHeader {
  uint64_t HeaderPos = 0;
  uint64_t DataPos = 0;
  uint64_t PackSize = 0;
  uint64_t UnpSize = 0;
  uint16_t Flags = 0;
  uint8_t HostOS = 0;
  uint8_t UnpVer = 0;
  uint8_t Method = 0;
  uint32_t FileCRC = 0;
  uint32_t FileTime = 0;
  uint32_t Attr = 0;
  std::string Name;  // UTF-8, '/' between folders
  bool HeaderCrcOk = true;
  std::optional<std::array<uint8_t, RarSaltSize>> Salt;  // RAR 2.9-4.x: the salt of an encrypted entry's key

  // Filled from RAR 5 headers; RAR 1.5-4.x entries keep these defaults.
  uint8_t HashType = RarHashCrc32;  // RAR 1.5-4.x entries always carry a CRC-32
  std::array<uint8_t, 32> Hash{};   // the BLAKE2sp digest when HashType is RarHashBlake2
  uint64_t StoredHostOS = 0;        // as the header gives it: 0 Windows, 1 Unix
  uint64_t CompressionVersion = 0;  // the algorithm version; 0 is the one RAR 5 and 6 write
  uint64_t DictSize = 0;            // bytes the decoder's window needs
  bool UnpSizeUnknown = false;      // the data runs until the compressed stream ends
  TRarTime MTime, CTime, ATime;
  uint64_t FileVersion = 0;  // 0 without a version record
  uint8_t RedirType = RarRedirNone;
  bool RedirToDirectory = false;
  std::string RedirTarget;  // UTF-8 as stored; not made safe here
  std::string OwnerUser, OwnerGroup;
  bool HasUid = false, HasGid = false;
  uint64_t Uid = 0, Gid = 0;
  TRar5Crypt Crypt;
  std::string ServiceData;  // a service header's own record (the stream name of "STM")

  bool IsDirectory() const { return (Flags & RarFileDirectoryMask) == RarFileDirectoryMask; }
  bool Solid() const { return Flags & RarFileSolid; }
  bool SplitBefore() const { return Flags & RarFileSplitBefore; }
  bool SplitAfter() const { return Flags & RarFileSplitAfter; }
  bool Encrypted() const { return Flags & RarFileEncrypted; }
};

enum class TRarBlockKind {
  File,              // a file header; Entry is filled
  End,               // end of archive block; EndFlags is filled
  Skipped,           // any other block, passed over
  Eof,               // the volume ends at a block boundary
  Broken,            // truncated or malformed header
  EncryptedHeaders,  // the rest cannot be read without decrypting, and no password is set
  // RAR 4: an encrypted header whose salt no password has opened yet does not decrypt to a valid
  // header with the password set (a wrong password; the format cannot tell it from a damaged
  // header). Nothing was consumed, so another password may be tried. RAR 5 headers without a
  // password check value end here the same way.
  WrongPassword,
  // RAR 5: the header encryption's password check value says the password is wrong. Nothing
  // was consumed.
  BadPassword,
};

struct TRarBlock {
  TRarBlockKind Kind = TRarBlockKind::Eof;
  uint8_t Type = 0;
  uint16_t EndFlags = 0;
  // File headers; RAR 5 service headers too (comments, quick open, recovery, streams), whose
  // blocks are Skipped. For RAR 5, Entry.HeaderCrcOk tells the checksum of every block.
  TRarEntryHeader Entry;
};

// Opens the encrypted headers of RAR 2.9-4.x archives for the block layer. The archive's key
// cache implements it, so the block layer (which the extractor component links too) holds no
// cipher of its own.
class IHeaderKeys {
 public:
  virtual ~IHeaderKeys() = default;
  // A password is set, or a key has already opened headers of this archive.
  virtual bool CanOpenHeaders() const = 0;
  // Reads and decrypts the RAR 4 header at `pos` (its salt, then the header padded to 16 bytes)
  // into `header`, sized to the header's own size; `stored` is what it takes in the volume. On
  // false, `failure` says why: Broken, EncryptedHeaders (no password) or WrongPassword.
  virtual bool OpenHeader4(TByteSource& source, uint64_t pos, std::vector<uint8_t>& header, uint64_t& stored,
                           TRarBlockKind& failure) = 0;
  // Reads and decrypts the RAR 5 header at `pos` (its IV, then the header padded to 16 bytes)
  // with the archive's header encryption record, and checks its CRC: `header` is the plain
  // header as an unencrypted one is stored, `stored` what it takes in the volume. On false,
  // `failure` is Broken, EncryptedHeaders (no password), BadPassword (the check value) or
  // WrongPassword (the CRC fails with a key that has not opened a header yet).
  virtual bool OpenHeader5(TByteSource& source, uint64_t pos, const TRar5Crypt& crypt, std::vector<uint8_t>& header,
                           uint64_t& stored, TRarBlockKind& failure) = 0;
};

// What a RAR 5 main header says beyond the flags it shares with RAR 1.5-4.x.
struct TRar5Main {
  uint64_t ArchiveFlags = 0;
  uint64_t VolumeNumber = 0;     // 0 for the first volume
  uint64_t QuickOpenOffset = 0;  // as stored, counted from the main header; 0 when absent
  uint64_t RecoveryOffset = 0;
};

class TRarBlockReader {
 public:
  explicit TRarBlockReader(TByteSource& source) : Source(source) {}

  // Finds the marker (at the start, after leading bytes or inside a self-extractor) and reads
  // the main header. Returns 0 or an ERAR_ code.
  int Open();
  TRarBlock Next();

  // The keys (and the password) for encrypted headers; they belong to the archive and may get
  // their password after Open. Without them, encrypted headers stop at EncryptedHeaders.
  void SetHeaderKeys(IHeaderKeys* keys) { Keys = keys; }

  bool IsRar5() const { return Rar5; }
  const TRar5Main& Main5() const { return Main5Info; }
  // The archive's header encryption record (RAR 5 headers that follow it are encrypted).
  const TRar5Crypt& HeaderCrypt5() const { return HeaderCrypt; }
  uint16_t MainFlags() const { return Main; }
  bool MainCrcOk() const { return MainOk; }
  uint64_t Position() const { return Pos; }
  uint64_t MarkerPos() const { return MarkerAt; }

 private:
  bool TryMainHeader4(uint64_t at);
  bool TryMainHeader5(uint64_t at);
  TRarBlock Next4();
  // RAR 4: the header at Pos, decrypted when the headers are; `stored` is what it takes in the
  // volume (salt and padding included).
  bool ReadHeader4(std::vector<uint8_t>& header, uint64_t& stored, TRarBlockKind& failure);
  TRarBlock Next5();
  uint16_t MainFlagsOf(const TRar5Main& main) const;
  // Reads a whole RAR 5 header at `at` into `bytes`; false when it is cut off or too big.
  bool ReadHeader5(uint64_t at, std::vector<uint8_t>& bytes);

  TByteSource& Source;
  uint64_t Pos = 0;
  uint64_t MarkerAt = 0;
  uint16_t Main = 0;
  bool MainOk = true;
  bool Rar5 = false;
  bool HeadersEncrypted = false;
  IHeaderKeys* Keys = nullptr;
  TRar5Main Main5Info;
  TRar5Crypt HeaderCrypt;
};

// Whether a RAR 4 header's stored checksum (the low 16 bits of the CRC-32 from its type byte
// up to crcEnd) matches.
bool HeaderCrcMatches(const uint8_t* header, size_t crcEnd);

// The attributes the header records report: a Unix mode becomes 0x10 (folder) or 0x20, plus
// 0x01 when the owner may not write; other hosts' attributes are reported as stored.
uint32_t ReportedAttributes(const TRarEntryHeader& header);

constexpr uint8_t RarHostUnix = 3;

// The Unix time of a DOS date and time (local time); -1 for none (0) or one mktime refuses.
int64_t DosTimeToUnix(uint32_t dosTime);

// DOS date and time (local time) of a Unix time.
uint32_t UnixTimeToDos(int64_t unixTime);
