#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "archive/aknTypes.h"

// Recognising archives by their bytes: plain archives, archives after leading zero
// bytes, and self-extracting executables. Pure functions over a file; the component
// (TRegisterArkon) keeps their results.

// Bits of the locator flags.
enum : std::uint8_t {
  lfOffsetFound = 0x01,      // the archive offset was established
  lfCentralHeaderRead = 0x02,  // a ZIP central directory header was read
  lfEndRecordRead = 0x04,      // a ZIP end-of-central-directory record was read
};

struct TDetection {
  TArcType ArcType = atNA;
  std::int64_t ArchiveSize = 0;
  // Where the archive data begins, counted from 1; 0 means not found. ZIP positions
  // taken from the directory search are the directory's own numbers.
  std::int64_t ArchiveOffset = 1;
  std::uint8_t LocatorFlags = 0;
  std::uint16_t ZipDiskNumber = 0;  // the field after the end record's signature
  std::array<std::uint8_t, 22> ZipEndRecord{};
  std::array<std::uint8_t, 46> ZipCentralHeader{};
  std::array<std::uint8_t, 30> ZipLocalHeader{};
  std::array<std::uint8_t, 512> TarHeader{};
};

// Never raises and never reads past the end of the file: whatever goes wrong leaves
// the type reached so far (atNA at worst).
TDetection DetectArchive(const std::string& fileName);

// What four bytes say, before any action the row asks for.
struct TSignatureHit {
  TArcType ArcType = atNA;
  bool Offset7717 = false;  // the archive data starts at 7717
  bool ZipSearch = false;   // the ZIP directory search runs first
};
// Plain mode: the bytes start an ordinary file; embedded: they stand inside an
// executable.
TSignatureHit ClassifySignature(const std::uint8_t* bytes, bool embedded);

// The volume number a name carries for its archive type: the digits that end the
// extension plus 1; without such digits 1 for ARJ and 0 otherwise. Types other than
// ACE, ARJ and RAR always give 0.
std::int32_t VolumeNumberFromName(const std::string& fileName, TArcType type);
