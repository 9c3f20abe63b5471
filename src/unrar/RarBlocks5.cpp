// RAR 5 headers, read far enough to list entries: they report unpack version 50 and are never
// unpacked here.
#include <ctime>
#include <vector>

#include "unrar/RarBlocks.h"
#include "unrar/RarCrc.h"
#include "unrar/RarNames.h"

namespace {

constexpr uint64_t MaxHeader5 = 2u << 20;
enum : uint64_t { Type5Main = 1, Type5File = 2, Type5Encryption = 4, Type5End = 5 };

// Reads a variable-length integer: 7 bits per byte, low group first.
bool GetVint(const std::vector<uint8_t>& bytes, size_t& cursor, size_t end, uint64_t& value) {
  value = 0;
  for (int shift = 0; shift < 64 && cursor < end; shift += 7) {
    uint8_t b = bytes[cursor++];
    value |= uint64_t(b & 0x7F) << shift;
    if (!(b & 0x80)) return true;
  }
  return false;
}

bool Get32At(const std::vector<uint8_t>& bytes, size_t& cursor, size_t end, uint32_t& value) {
  if (cursor + 4 > end) return false;
  value = uint32_t(bytes[cursor]) | uint32_t(bytes[cursor + 1]) << 8 | uint32_t(bytes[cursor + 2]) << 16 |
          uint32_t(bytes[cursor + 3]) << 24;
  cursor += 4;
  return true;
}

}  // namespace

uint32_t UnixTimeToDos(int64_t unixTime) {
  time_t t = time_t(unixTime);
  struct tm local {};
  if (!localtime_r(&t, &local) || local.tm_year < 80) return 0;
  return uint32_t(local.tm_year - 80) << 25 | uint32_t(local.tm_mon + 1) << 21 | uint32_t(local.tm_mday) << 16 |
         uint32_t(local.tm_hour) << 11 | uint32_t(local.tm_min) << 5 | uint32_t(local.tm_sec / 2);
}

struct TRarBlockReader::THeader5 {
  uint64_t Type = 0, Flags = 0, ExtraSize = 0, DataSize = 0;
  std::vector<uint8_t> Bytes;
  size_t Cursor = 0;  // first type-specific byte
  size_t BodyEnd = 0;  // where the extra area begins
  uint64_t End = 0;    // file position after the header
  bool CrcOk = true;
};

bool TRarBlockReader::ReadHeader5(uint64_t at, THeader5& h) {
  std::vector<uint8_t> probe(14);
  size_t got = Source.ReadAt(at, probe.data(), probe.size());
  if (got < 6) return false;
  size_t cursor = 4;
  uint64_t headerSize = 0;
  if (!GetVint(probe, cursor, got, headerSize) || headerSize == 0 || headerSize > MaxHeader5) return false;
  size_t total = cursor + size_t(headerSize);
  h.Bytes.resize(total);
  if (Source.ReadAt(at, h.Bytes.data(), total) != total) return false;
  uint32_t storedCrc = uint32_t(h.Bytes[0]) | uint32_t(h.Bytes[1]) << 8 | uint32_t(h.Bytes[2]) << 16 |
                       uint32_t(h.Bytes[3]) << 24;
  h.CrcOk = RarCrc32(0, h.Bytes.data() + 4, total - 4) == storedCrc;
  if (!GetVint(h.Bytes, cursor, total, h.Type) || !GetVint(h.Bytes, cursor, total, h.Flags)) return false;
  if ((h.Flags & 0x01) && !GetVint(h.Bytes, cursor, total, h.ExtraSize)) return false;
  if ((h.Flags & 0x02) && !GetVint(h.Bytes, cursor, total, h.DataSize)) return false;
  if (h.ExtraSize > total - cursor) return false;
  h.Cursor = cursor;
  h.BodyEnd = total - size_t(h.ExtraSize);
  h.End = at + total;
  return true;
}

bool TRarBlockReader::TryMainHeader5(uint64_t at) {
  THeader5 h;
  if (!ReadHeader5(at, h)) return false;
  if (h.Type == Type5Encryption) {
    HeadersEncrypted = true;
    Main = RarMainEncryptedHeaders;
    Pos = h.End;
    return true;
  }
  if (h.Type != Type5Main) return false;
  uint64_t archiveFlags = 0;
  if (!GetVint(h.Bytes, h.Cursor, h.BodyEnd, archiveFlags)) return false;
  MainOk = h.CrcOk;
  // Volumes of RAR 5 sets are always named name.partN.rar.
  Main = uint16_t(((archiveFlags & 0x01) ? RarMainVolume | RarMainNewNaming : 0) |
                  ((archiveFlags & 0x04) ? RarMainSolid : 0));
  Pos = h.End + h.DataSize;
  return true;
}

TRarBlock TRarBlockReader::Next5() {
  TRarBlock block;
  if (HeadersEncrypted) {
    block.Kind = TRarBlockKind::EncryptedHeaders;
    return block;
  }
  uint64_t size = Source.Size();
  if (Pos >= size) return block;
  THeader5 h;
  uint64_t at = Pos;
  if (!ReadHeader5(at, h)) {
    block.Kind = TRarBlockKind::Broken;
    return block;
  }
  Pos = h.DataSize > size ? size + 1 : h.End + h.DataSize;
  block.Type = uint8_t(h.Type);
  if (h.Type == Type5End) {
    uint64_t endFlags = 0;
    GetVint(h.Bytes, h.Cursor, h.BodyEnd, endFlags);
    block.Kind = TRarBlockKind::End;
    block.EndFlags = (endFlags & 0x01) ? RarEndNextVolume : 0;
    return block;
  }
  if (h.Type == Type5Encryption) {
    HeadersEncrypted = true;
    block.Kind = TRarBlockKind::EncryptedHeaders;
    return block;
  }
  if (h.Type != Type5File) {
    block.Kind = TRarBlockKind::Skipped;
    return block;
  }
  block.Kind = TRarBlockKind::Broken;
  uint64_t fileFlags = 0, unpSize = 0, attr = 0, compression = 0, hostOS = 0, nameLength = 0;
  uint32_t mtime = 0, crc = 0;
  size_t& c = h.Cursor;
  if (!GetVint(h.Bytes, c, h.BodyEnd, fileFlags) || !GetVint(h.Bytes, c, h.BodyEnd, unpSize) ||
      !GetVint(h.Bytes, c, h.BodyEnd, attr))
    return block;
  if ((fileFlags & 0x02) && !Get32At(h.Bytes, c, h.BodyEnd, mtime)) return block;
  if ((fileFlags & 0x04) && !Get32At(h.Bytes, c, h.BodyEnd, crc)) return block;
  if (!GetVint(h.Bytes, c, h.BodyEnd, compression) || !GetVint(h.Bytes, c, h.BodyEnd, hostOS) ||
      !GetVint(h.Bytes, c, h.BodyEnd, nameLength) || nameLength > h.BodyEnd - c)
    return block;

  TRarEntryHeader& e = block.Entry;
  e.HeaderPos = at;
  e.DataPos = h.End;
  e.PackSize = h.DataSize;
  e.UnpSize = (fileFlags & 0x08) ? 0 : unpSize;
  e.Flags = uint16_t(((fileFlags & 0x01) ? RarFileDirectoryMask : 0) | ((h.Flags & 0x08) ? RarFileSplitBefore : 0) |
                     ((h.Flags & 0x10) ? RarFileSplitAfter : 0));
  e.HostOS = hostOS == 1 ? 3 : 2;
  e.FileCRC = crc;
  e.HashType = (fileFlags & 0x04) ? 1 : 0;  // RAR_HASH_CRC32 or none
  e.FileTime = (fileFlags & 0x02) ? UnixTimeToDos(mtime) : 0;
  e.UnpVer = RarVersion5;
  e.Method = uint8_t(RarMethodStore + ((compression >> 7) & 7));
  e.Attr = uint32_t(attr);
  std::string name(reinterpret_cast<const char*>(&h.Bytes[c]), size_t(nameLength));
  e.Name = NormalizeRarName(IsValidUtf8(name) ? name : Cp437ToUtf8(name));
  e.HeaderCrcOk = h.CrcOk;
  block.Kind = TRarBlockKind::File;
  return block;
}
