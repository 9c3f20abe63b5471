// RAR 5 blocks of one volume: each header read whole, CRC-checked and parsed (Rar5Headers);
// service headers are passed over with their data, as are blocks of unknown types.
#include <ctime>
#include <vector>

#include "unrar/Rar5Headers.h"
#include "unrar/RarBlocks.h"

uint32_t UnixTimeToDos(int64_t unixTime) {
  time_t t = time_t(unixTime);
  struct tm local {};
  if (!localtime_r(&t, &local) || local.tm_year < 80 || local.tm_year > 207) return 0;
  return uint32_t(local.tm_year - 80) << 25 | uint32_t(local.tm_mon + 1) << 21 | uint32_t(local.tm_mday) << 16 |
         uint32_t(local.tm_hour) << 11 | uint32_t(local.tm_min) << 5 | uint32_t(local.tm_sec / 2);
}

bool TRarBlockReader::ReadHeader5(uint64_t at, std::vector<uint8_t>& bytes) {
  if (at >= Source.Size()) return false;
  uint8_t probe[Rar5HeaderProbe];
  size_t got = Source.ReadAt(at, probe, sizeof probe);
  size_t total = Rar5HeaderSize(probe, got);
  // The size is checked against the volume before anything that large is allocated.
  if (total == 0 || total > Source.Size() - at) return false;
  bytes.resize(total);
  return Source.ReadAt(at, bytes.data(), total) == total;
}

bool TRarBlockReader::TryMainHeader5(uint64_t at) {
  std::vector<uint8_t> bytes;
  TRar5Frame f;
  if (!ReadHeader5(at, bytes) || !ParseRar5Frame(bytes.data(), bytes.size(), f)) return false;
  // Behind a self-extractor stub, a marker that the stub merely contains is not an archive.
  if (!f.CrcOk && MarkerAt > 0) return false;
  MainOk = f.CrcOk;
  if (f.Type == Rar5HeadCrypt) {
    if (!ParseRar5Crypt(bytes.data(), f, HeaderCrypt)) return false;
    HeadersEncrypted = true;
    Main = RarMainEncryptedHeaders;
    Pos = at + f.Size;
    return true;
  }
  if (f.Type != Rar5HeadMain || !ParseRar5Main(bytes.data(), f, Main5Info)) return false;
  Main = MainFlagsOf(Main5Info);
  uint64_t size = Source.Size();
  Pos = f.DataSize > size ? size + 1 : at + f.Size + f.DataSize;
  return true;
}

uint16_t TRarBlockReader::MainFlagsOf(const TRar5Main& m) const {
  const uint64_t a = m.ArchiveFlags;
  // Volumes of RAR 5 sets are always named name.partN.rar; the first is the one without a number.
  return uint16_t(((a & Rar5ArchiveVolume) ? RarMainVolume | RarMainNewNaming : 0) |
                  ((a & Rar5ArchiveVolume) && m.VolumeNumber == 0 ? RarMainFirstVolume : 0) |
                  ((a & Rar5ArchiveSolid) ? RarMainSolid : 0) | ((a & Rar5ArchiveLocked) ? RarMainLocked : 0) |
                  ((a & Rar5ArchiveRecovery) ? RarMainRecovery : 0) | (HeadersEncrypted ? RarMainEncryptedHeaders : 0));
}

TRarBlock TRarBlockReader::Next5() {
  TRarBlock block;
  if (HeadersEncrypted && !(Keys && Keys->CanOpenHeaders())) {
    block.Kind = TRarBlockKind::EncryptedHeaders;
    return block;
  }
  uint64_t size = Source.Size();
  if (Pos >= size) return block;
  uint64_t at = Pos;
  std::vector<uint8_t> bytes;
  uint64_t stored = 0;
  TRar5Frame f;
  block.Kind = TRarBlockKind::Broken;
  if (HeadersEncrypted) {
    // The keys check the CRC themselves: a failure there is a wrong password as much as damage.
    if (!Keys->OpenHeader5(Source, at, HeaderCrypt, bytes, stored, block.Kind)) return block;
    block.Kind = TRarBlockKind::Broken;
  } else {
    if (!ReadHeader5(at, bytes)) return block;
    stored = bytes.size();
  }
  if (!ParseRar5Frame(bytes.data(), bytes.size(), f)) return block;
  uint64_t dataPos = at + stored;
  // Sizes near 2^64 would wrap; such a block simply runs past the end of the volume.
  Pos = f.DataSize > size ? size + 1 : dataPos + f.DataSize;
  block.Type = uint8_t(f.Type > 0xFF ? 0xFF : f.Type);
  block.Entry.HeaderCrcOk = f.CrcOk;
  switch (f.Type) {
    case Rar5HeadEnd: {
      uint64_t endFlags = 0;
      if (!ParseRar5End(bytes.data(), f, endFlags)) return block;
      block.Kind = TRarBlockKind::End;
      block.EndFlags = (endFlags & 0x01) ? RarEndNextVolume : 0;
      return block;
    }
    case Rar5HeadCrypt:
      // Inside the encrypted headers a second one means nothing more.
      if (HeadersEncrypted) {
        block.Kind = TRarBlockKind::Skipped;
        return block;
      }
      ParseRar5Crypt(bytes.data(), f, HeaderCrypt);
      HeadersEncrypted = true;
      Main |= RarMainEncryptedHeaders;
      block.Kind = Keys && Keys->CanOpenHeaders() ? TRarBlockKind::Skipped : TRarBlockKind::EncryptedHeaders;
      return block;
    case Rar5HeadMain:
      // The main header of an archive whose headers are encrypted comes after the encryption
      // header, encrypted: only then are the volume and solid flags known.
      if (HeadersEncrypted && ParseRar5Main(bytes.data(), f, Main5Info)) Main = MainFlagsOf(Main5Info);
      block.Kind = TRarBlockKind::Skipped;
      return block;
    case Rar5HeadFile:
    case Rar5HeadService:
      if (!ParseRar5File(bytes.data(), f, block.Entry)) return block;
      block.Entry.HeaderPos = at;
      block.Entry.DataPos = dataPos;
      block.Kind = f.Type == Rar5HeadFile ? TRarBlockKind::File : TRarBlockKind::Skipped;
      return block;
    default:
      block.Kind = TRarBlockKind::Skipped;
      return block;
  }
}
