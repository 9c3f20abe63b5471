// A small writer of stored RAR 2.9 archives for tests (or of packed data taken from a real
// archive): file and folder headers, Unicode names, volumes split at a given size or before a
// chosen entry (name.rar, name.r00 ... or name.part1.rar ...), damaged header or data CRCs on
// request, AES-encrypted entries and encrypted headers (its own key derivation and nettle's
// AES, independent of the library's). RAR 5 archives: Rar5Writer.h.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using TRarTestSalt = std::array<uint8_t, 8>;

struct TRarTestEntry {
  std::string Name;  // stored as given (RAR separates folders with '\')
  std::string Data;
  bool Directory = false;
  bool Unicode = false;  // flag 0x200: an 8-bit name plus the packed UTF-16 form
  uint8_t HostOS = 2;
  uint32_t Attr = 0x20;
  uint32_t DosTime = (40u << 25) | (1u << 21) | (2u << 16) | (3u << 11) | (4u << 5) | 3u;  // 2020-01-02 03:04:06
  uint8_t UnpVer = 29;
  uint8_t Method = 0x30;   // anything but 0x30 claims compression; the data is written as given
  uint16_t ExtraFlags = 0;  // OR-ed into the header flags (0x04 encrypted ...)
  bool BreakHeaderCrc = false;
  bool BreakDataCrc = false;
  bool NewVolumeBefore = false;  // the previous volume ends right before this entry
  // Non-empty: the data is encrypted as RAR 2.9-4.x does (AES-128-CBC, flags 0x04 and 0x400
  // with Salt), padded to 16 bytes; the header keeps the plain size and CRC.
  std::string Password{};
  TRarTestSalt Salt = {0x51, 0x7e, 0x04, 0x9a, 0xc2, 0x33, 0x1d, 0x68};
  // Set: the data is written as this returns it (another cipher, supplied by the test), with
  // flag 0x04; the header keeps the plain size and CRC.
  std::function<std::string(const std::string&)> Encrypt{};
  // Non-empty: the data area holds these bytes (packed by a real archiver; encrypted like Data
  // would be), and Data is what they unpack to, whose size and CRC the header keeps.
  std::string Packed{};
};

struct TRarWriterOptions {
  uint64_t VolumeSize = 0;  // split data so that no volume grows beyond this (0: no limit)
  bool Volumes = false;     // mark the archive as a volume set even with one volume
  bool NewNaming = false;   // name.part1.rar instead of name.rar, name.r00
  int PartDigits = 1;
  bool Solid = false;
  bool LargeSizes = false;  // write every file header with the 64-bit size fields
  std::vector<uint8_t> Prefix;  // bytes before the marker (a self-extractor stub)
  // Non-empty: main header flag 0x80, and every later header is written after its salt,
  // AES-encrypted with this password and padded to 16 bytes.
  std::string HeaderPassword;
  TRarTestSalt HeaderSalt = {0x98, 0xd5, 0x3a, 0xb9, 0x11, 0x20, 0x84, 0x7a};
  bool SaltPerHeader = false;  // every header gets a salt of its own instead of HeaderSalt
};

// Name of volume `index` (0 = first) of the set that starts at firstPath (".../name.rar").
std::string RarTestVolumeName(const std::string& firstPath, size_t index, const TRarWriterOptions& options);

// Writes the archive or volume set; returns the files written, first volume first.
std::vector<std::string> WriteRarArchive(const std::string& firstPath, const std::vector<TRarTestEntry>& entries,
                                         const TRarWriterOptions& options = {});

// One stored entry of `size` zero bytes kept as a hole (sparse), with the 64-bit size fields, so
// that entries beyond 4 GiB cost no disk space (crc is what the header claims), followed by a
// small stored entry `after`.
void WriteSparseRarArchive(const std::string& path, const std::string& name, uint64_t size, uint32_t crc,
                           const TRarTestEntry& after);

uint32_t RarTestCrc(const std::string& data);

// RAR 2.9-4.x AES-128-CBC of `plain` (zero-padded to 16 bytes) under the key of password and salt.
std::string RarTestEncrypt(const std::string& password, const TRarTestSalt& salt, const std::string& plain);
