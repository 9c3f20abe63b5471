#include "unrar/RarBlocks.h"

#include <cstring>
#include <ctime>
#include <vector>

#include "unrar/RarCrc.h"
#include "unrar/RarNames.h"
#include "unrar/unrar.h"

namespace {

constexpr uint8_t Marker[6] = {'R', 'a', 'r', '!', 0x1A, 0x07};
// Self-extractor stubs are a few hundred kilobytes; looking further only slows down junk input.
constexpr uint64_t MarkerSearchLimit = 16u << 20;
constexpr uint8_t TypeMain = 0x73, TypeFile = 0x74, TypeEnd = 0x7B, TypeService = 0x7A;

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

}  // namespace

bool HeaderCrcMatches(const uint8_t* header, size_t crcEnd) {
  return (RarCrc32(0, header + 2, crcEnd - 2) & 0xFFFF) == Get16(header);
}

bool TRarBlockReader::TryMainHeader4(uint64_t at) {
  uint8_t head[13];
  if (Source.ReadAt(at, head, sizeof head) != sizeof head || head[2] != TypeMain) return false;
  uint16_t size = Get16(head + 5);
  if (size < 13) return false;
  std::vector<uint8_t> header(size);
  if (Source.ReadAt(at, header.data(), size) != size) return false;
  Main = Get16(head + 3);
  // Old archives carrying a comment in the main header checksum its first 13 bytes only.
  MainOk = HeaderCrcMatches(header.data(), (Main & RarMainComment) ? 13 : size);
  Pos = at + size;
  if (Main & 0x8000) {
    uint8_t add[4];
    if (size < 11 || Source.ReadAt(at + 7, add, 4) != 4) return false;
    Pos += Get32(add);
  }
  HeadersEncrypted = Main & RarMainEncryptedHeaders;
  return true;
}

int TRarBlockReader::Open() {
  uint64_t size = Source.Size();
  uint64_t limit = size < MarkerSearchLimit ? size : MarkerSearchLimit;
  std::vector<uint8_t> window(64 * 1024 + 8);
  for (uint64_t base = 0; base < limit; base += 64 * 1024) {
    size_t got = Source.ReadAt(base, window.data(), window.size());
    for (size_t i = 0; i + 7 <= got && base + i < limit; ++i) {
      if (window[i] != 'R' || std::memcmp(&window[i], Marker, sizeof Marker) != 0) continue;
      uint64_t at = base + i;
      MarkerAt = at;
      if (window[i + 6] == 0x00 && TryMainHeader4(at + 7)) return ERAR_SUCCESS;
      if (window[i + 6] == 0x01 && i + 8 <= got && window[i + 7] == 0x00 && TryMainHeader5(at + 8)) {
        Rar5 = true;
        return ERAR_SUCCESS;
      }
      // A marker at the very start that leads nowhere is a damaged archive, not a stub.
      if (at == 0) return ERAR_BAD_ARCHIVE;
    }
  }
  return ERAR_BAD_ARCHIVE;
}

TRarBlock TRarBlockReader::Next() { return Rar5 ? Next5() : Next4(); }

bool TRarBlockReader::ReadHeader4(std::vector<uint8_t>& header, uint64_t& stored, TRarBlockKind& failure) {
  failure = TRarBlockKind::Broken;
  if (!HeadersEncrypted) {
    uint8_t head[7];
    if (Source.ReadAt(Pos, head, 7) != 7) return false;
    uint16_t headSize = Get16(head + 5);
    if (headSize < 7) return false;
    header.resize(headSize);
    if (Source.ReadAt(Pos, header.data(), headSize) != headSize) return false;
    stored = headSize;
    return true;
  }
  return Keys->OpenHeader4(Source, Pos, header, stored, failure);
}

TRarBlock TRarBlockReader::Next4() {
  TRarBlock block;
  uint64_t size = Source.Size();
  if (HeadersEncrypted && !(Keys && Keys->CanOpenHeaders())) {
    block.Kind = TRarBlockKind::EncryptedHeaders;
    return block;
  }
  if (Pos >= size) return block;  // Eof
  std::vector<uint8_t> header;
  uint64_t stored = 0;
  if (!ReadHeader4(header, stored, block.Kind)) return block;
  block.Kind = TRarBlockKind::Broken;
  uint16_t flags = Get16(&header[3]);
  uint16_t headSize = uint16_t(header.size());
  block.Type = header[2];

  uint64_t dataSize = 0;
  bool hasFileLayout = block.Type == TypeFile || block.Type == TypeService;
  if (hasFileLayout) {
    if (headSize < 32) return block;
    dataSize = Get32(&header[7]);
    if (flags & RarFileLarge) {
      if (headSize < 40) return block;
      dataSize |= uint64_t(Get32(&header[32])) << 32;
    }
  } else if (flags & 0x8000) {
    if (headSize < 11) return block;
    dataSize = Get32(&header[7]);
  }
  uint64_t headerPos = Pos;
  uint64_t dataPos = Pos + stored;
  // Sizes near 2^64 would wrap; such a block simply runs past the end of the volume.
  Pos = dataSize > size ? size + 1 : dataPos + dataSize;

  if (block.Type == TypeEnd) {
    block.Kind = TRarBlockKind::End;
    block.EndFlags = flags;
    return block;
  }
  if (block.Type != TypeFile) {
    block.Kind = TRarBlockKind::Skipped;
    return block;
  }

  TRarEntryHeader& e = block.Entry;
  e.HeaderPos = headerPos;
  e.DataPos = dataPos;
  e.PackSize = dataSize;
  e.Flags = flags;
  e.UnpSize = Get32(&header[11]);
  e.HostOS = header[15];
  e.FileCRC = Get32(&header[16]);
  e.FileTime = Get32(&header[20]);
  e.UnpVer = header[24];
  e.Method = header[25];
  uint16_t nameSize = Get16(&header[26]);
  e.Attr = Get32(&header[28]);
  size_t namePos = 32;
  if (flags & RarFileLarge) {
    e.UnpSize |= uint64_t(Get32(&header[36])) << 32;
    namePos = 40;
  }
  size_t nameEnd = namePos + nameSize;
  if (nameEnd > headSize) return block;  // Broken
  const uint8_t* name = &header[namePos];
  e.Name = NormalizeRarName((flags & RarFileUnicode) ? DecodeRarUnicodeName(name, nameSize)
                                                     : DecodeRarPlainName(name, nameSize, e.HostOS));
  // A file header carrying an old-style comment is checksummed up to the end of its name.
  e.HeaderCrcOk = HeaderCrcMatches(header.data(), (flags & RarFileComment) ? nameEnd : headSize);
  if ((flags & RarFileSalt) && nameEnd + RarSaltSize <= headSize) {
    e.Salt.emplace();
    std::memcpy(e.Salt->data(), &header[nameEnd], RarSaltSize);
  }
  block.Kind = TRarBlockKind::File;
  return block;
}

uint32_t ReportedAttributes(const TRarEntryHeader& h) {
  if (h.HostOS != RarHostUnix) return h.Attr;
  // The folder bit comes from the file type alone: permission bits of a mode read as DOS
  // attributes would make folders of files (0644 has 0x04 "system", 0664 has 0x10 "folder").
  uint32_t attr = (h.Attr & 0xF000) == 0x4000 ? 0x10 : 0x20;
  if (!(h.Attr & 0200)) attr |= 0x01;
  return attr;
}

int64_t DosTimeToUnix(uint32_t dos) {
  if (dos == 0) return -1;
  struct tm t {};
  t.tm_year = int(dos >> 25) + 80;
  t.tm_mon = int((dos >> 21) & 15) - 1;
  t.tm_mday = int((dos >> 16) & 31);
  t.tm_hour = int((dos >> 11) & 31);
  t.tm_min = int((dos >> 5) & 63);
  t.tm_sec = int(dos & 31) * 2;
  t.tm_isdst = -1;
  return int64_t(mktime(&t));
}
