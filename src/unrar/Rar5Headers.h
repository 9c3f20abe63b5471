// RAR 5 headers parsed from their bytes: the general layout, main, file and service headers with
// their extra records, end of archive and header encryption. Pure functions over one whole header
// (CRC field first), so that headers read from a volume and headers a decryptor yields go through
// the same code. Nothing here trusts a size: every field is bounded by the header it lies in.
#pragma once
#include <cstddef>
#include <cstdint>

#include "unrar/RarBlocks.h"

enum : uint64_t {
  Rar5HeadMain = 1,
  Rar5HeadFile = 2,
  Rar5HeadService = 3,
  Rar5HeadCrypt = 4,
  Rar5HeadEnd = 5,
};

enum : uint64_t {
  Rar5HeadExtra = 0x01,
  Rar5HeadData = 0x02,
  Rar5HeadSplitBefore = 0x08,
  Rar5HeadSplitAfter = 0x10,
};

enum : uint64_t {
  Rar5ArchiveVolume = 0x01,
  Rar5ArchiveVolumeNumber = 0x02,
  Rar5ArchiveSolid = 0x04,
  Rar5ArchiveRecovery = 0x08,
  Rar5ArchiveLocked = 0x10,
};

// Headers are at most 2 MiB by the format; anything bigger is damage, never an allocation.
constexpr uint64_t Rar5MaxHeaderSize = 2u << 20;
// CRC-32 and a header-size vint of up to three bytes: enough to know a header's whole size.
constexpr size_t Rar5HeaderProbe = 7;

// Reads fields in order from [begin, end); every read fails once the end would be passed.
class TRar5Cursor {
 public:
  TRar5Cursor(const uint8_t* begin, const uint8_t* end) : At(begin), End(end) {}
  bool Vint(uint64_t& value);
  bool U32(uint32_t& value);
  bool U64(uint64_t& value);
  bool Bytes(void* out, size_t size);
  bool Skip(uint64_t size);
  const uint8_t* Here() const { return At; }
  size_t Left() const { return size_t(End - At); }

 private:
  const uint8_t* At;
  const uint8_t* End;
};

// The general part every header has.
struct TRar5Frame {
  uint64_t Type = 0;
  uint64_t Flags = 0;
  uint64_t DataSize = 0;
  size_t BodyAt = 0;   // the first type-specific byte
  size_t ExtraAt = 0;  // the extra area, up to Size
  size_t Size = 0;     // the whole header, CRC field included
  bool CrcOk = false;
};

// The whole size of the header whose first bytes (at least Rar5HeaderProbe, or all there are)
// are given; 0 when those bytes cannot start a header.
size_t Rar5HeaderSize(const uint8_t* bytes, size_t size);

// Parses the general part of a whole header; false when its fields do not fit in it.
bool ParseRar5Frame(const uint8_t* bytes, size_t size, TRar5Frame& frame);

bool ParseRar5Main(const uint8_t* bytes, const TRar5Frame& frame, TRar5Main& main);
// File and service headers: the fields, the compression info, the extra records, and the legacy
// fields of the entry (unpack version 50, host 2 or 3, method 0x30 + n, DOS time, split flags).
// HeaderPos/DataPos are left to the caller.
bool ParseRar5File(const uint8_t* bytes, const TRar5Frame& frame, TRarEntryHeader& entry);
bool ParseRar5End(const uint8_t* bytes, const TRar5Frame& frame, uint64_t& endFlags);
bool ParseRar5Crypt(const uint8_t* bytes, const TRar5Frame& frame, TRar5Crypt& crypt);

// The dictionary size a compression info field asks for, 0 when the field is not one this
// library knows (algorithm versions above 1, sizes beyond the version's range).
uint64_t Rar5DictionarySize(uint64_t compressionInfo);
