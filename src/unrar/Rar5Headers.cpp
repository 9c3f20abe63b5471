#include "unrar/Rar5Headers.h"

#include <cstring>

#include "unrar/RarCrc.h"
#include "unrar/RarNames.h"

namespace {

enum : uint64_t {
  FileDirectory = 0x01,
  FileMtime = 0x02,
  FileCrc = 0x04,
  FileSizeUnknown = 0x08,
};

enum : uint64_t {
  ExtraCrypt = 1,
  ExtraHash = 2,
  ExtraTime = 3,
  ExtraVersion = 4,
  ExtraRedirection = 5,
  ExtraOwner = 6,
  ExtraServiceData = 7,
};

enum : uint64_t {
  TimeUnix = 0x01,
  TimeMtime = 0x02,
  TimeCtime = 0x04,
  TimeAtime = 0x08,
  TimeNanoseconds = 0x10,
};

enum : uint64_t { OwnerUserName = 0x01, OwnerGroupName = 0x02, OwnerUid = 0x04, OwnerGid = 0x08 };

constexpr uint64_t LocatorRecord = 1;
enum : uint64_t { LocatorQuickOpen = 0x01, LocatorRecovery = 0x02 };

constexpr uint64_t HashBlake2 = 0;
// Seconds from 1601-01-01, where Windows times count from, to 1970-01-01.
constexpr uint64_t WindowsEpochSeconds = 11644473600u;

bool Text(TRar5Cursor& c, std::string& out) {
  uint64_t length = 0;
  if (!c.Vint(length) || length > c.Left()) return false;
  out.assign(reinterpret_cast<const char*>(c.Here()), size_t(length));
  return c.Skip(length);
}

// Walks the records of an extra area, calling parse(type, cursor over the record's data).
template <typename TParse>
void ForEachRecord(const uint8_t* begin, const uint8_t* end, TParse parse) {
  TRar5Cursor area(begin, end);
  while (area.Left() > 0) {
    uint64_t size = 0;
    // A record that does not fit ends the area: what came before it still counts.
    if (!area.Vint(size) || size == 0 || size > area.Left()) return;
    TRar5Cursor record(area.Here(), area.Here() + size);
    area.Skip(size);
    uint64_t type = 0;
    if (!record.Vint(type)) return;
    parse(type, record);
  }
}

bool ReadCrypt(TRar5Cursor& c, TRar5Crypt& crypt, bool withIv) {
  TRar5Crypt r;
  r.Present = true;
  if (!c.Vint(r.Version) || !c.Vint(r.Flags) || !c.Bytes(&r.KdfCount, 1) || !c.Bytes(r.Salt.data(), r.Salt.size()))
    return false;
  if (withIv && !c.Bytes(r.Iv.data(), r.Iv.size())) return false;
  if (r.HasPasswordCheck() && !c.Bytes(r.Check.data(), r.Check.size())) return false;
  crypt = r;
  return true;
}

TRarTime FromUnix(uint32_t seconds) { return TRarTime{true, int64_t(seconds), 0}; }

TRarTime FromWindows(uint64_t ticks) {
  TRarTime t;
  t.Present = true;
  t.Seconds = int64_t(ticks / 10000000u) - int64_t(WindowsEpochSeconds);
  t.Nanoseconds = uint32_t(ticks % 10000000u) * 100u;
  return t;
}

bool ReadTimes(TRar5Cursor& c, TRarEntryHeader& e) {
  uint64_t flags = 0;
  if (!c.Vint(flags)) return false;
  TRarTime* slots[3] = {&e.MTime, &e.CTime, &e.ATime};
  const uint64_t bits[3] = {TimeMtime, TimeCtime, TimeAtime};
  TRarTime read[3];
  for (int i = 0; i < 3; ++i) {
    if (!(flags & bits[i])) continue;
    if (flags & TimeUnix) {
      uint32_t seconds = 0;
      if (!c.U32(seconds)) return false;
      read[i] = FromUnix(seconds);
    } else {
      uint64_t ticks = 0;
      if (!c.U64(ticks)) return false;
      read[i] = FromWindows(ticks);
    }
  }
  if ((flags & TimeUnix) && (flags & TimeNanoseconds)) {
    for (int i = 0; i < 3; ++i) {
      if (!(flags & bits[i])) continue;
      uint32_t ns = 0;
      if (!c.U32(ns)) return false;
      read[i].Nanoseconds = ns < 1000000000u ? ns : 0;
    }
  }
  for (int i = 0; i < 3; ++i)
    if (read[i].Present) *slots[i] = read[i];
  return true;
}

bool ReadRedirection(TRar5Cursor& c, TRarEntryHeader& e) {
  uint64_t type = 0, flags = 0;
  std::string target;
  if (!c.Vint(type) || !c.Vint(flags) || !Text(c, target)) return false;
  // Unknown kinds stay links of an unknown kind, so that nobody extracts them as plain files.
  e.RedirType = type >= RarRedirUnixSymlink && type <= RarRedirFileCopy ? uint8_t(type) : uint8_t(0xFF);
  e.RedirToDirectory = flags & 0x01;
  e.RedirTarget = std::move(target);
  return true;
}

bool ReadOwner(TRar5Cursor& c, TRarEntryHeader& e) {
  uint64_t flags = 0;
  std::string user, group;
  uint64_t uid = 0, gid = 0;
  if (!c.Vint(flags)) return false;
  if ((flags & OwnerUserName) && !Text(c, user)) return false;
  if ((flags & OwnerGroupName) && !Text(c, group)) return false;
  if ((flags & OwnerUid) && !c.Vint(uid)) return false;
  if ((flags & OwnerGid) && !c.Vint(gid)) return false;
  e.OwnerUser = std::move(user);
  e.OwnerGroup = std::move(group);
  e.HasUid = flags & OwnerUid;
  e.HasGid = flags & OwnerGid;
  e.Uid = uid;
  e.Gid = gid;
  return true;
}

void ReadFileExtras(const uint8_t* begin, const uint8_t* end, TRarEntryHeader& e) {
  // A damaged record is passed over like an unknown one; only a damaged encryption record
  // still marks the entry encrypted, so that its data is never taken for plain data.
  ForEachRecord(begin, end, [&e](uint64_t type, TRar5Cursor& c) {
    switch (type) {
      case ExtraCrypt:
        if (!ReadCrypt(c, e.Crypt, true)) e.Crypt.Present = true;
        break;
      case ExtraHash: {
        uint64_t kind = 0;
        if (c.Vint(kind) && kind == HashBlake2 && c.Bytes(e.Hash.data(), e.Hash.size())) e.HashType = RarHashBlake2;
        break;
      }
      case ExtraTime:
        ReadTimes(c, e);
        break;
      case ExtraVersion: {
        uint64_t flags = 0, version = 0;
        if (c.Vint(flags) && c.Vint(version)) e.FileVersion = version;
        break;
      }
      case ExtraRedirection:
        ReadRedirection(c, e);
        break;
      case ExtraOwner:
        ReadOwner(c, e);
        break;
      case ExtraServiceData:
        e.ServiceData.assign(reinterpret_cast<const char*>(c.Here()), c.Left());
        break;
      default:
        break;
    }
  });
}

}  // namespace

bool TRar5Cursor::Vint(uint64_t& value) {
  value = 0;
  for (int shift = 0; shift < 70 && At < End; shift += 7) {
    uint8_t b = *At++;
    if (shift < 64) value |= uint64_t(b & 0x7F) << shift;
    if (!(b & 0x80)) return true;
  }
  return false;
}

bool TRar5Cursor::U32(uint32_t& value) {
  uint8_t b[4];
  if (!Bytes(b, 4)) return false;
  value = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  return true;
}

bool TRar5Cursor::U64(uint64_t& value) {
  uint32_t lo = 0, hi = 0;
  if (!U32(lo) || !U32(hi)) return false;
  value = uint64_t(hi) << 32 | lo;
  return true;
}

bool TRar5Cursor::Bytes(void* out, size_t size) {
  if (size > Left()) return false;
  std::memcpy(out, At, size);
  At += size;
  return true;
}

bool TRar5Cursor::Skip(uint64_t size) {
  if (size > Left()) return false;
  At += size;
  return true;
}

size_t Rar5HeaderSize(const uint8_t* bytes, size_t size) {
  if (size < 5) return 0;
  TRar5Cursor c(bytes + 4, bytes + size);
  uint64_t headerSize = 0;
  if (!c.Vint(headerSize) || headerSize == 0 || headerSize > Rar5MaxHeaderSize) return 0;
  return size_t(c.Here() - bytes) + size_t(headerSize);
}

bool ParseRar5Frame(const uint8_t* bytes, size_t size, TRar5Frame& f) {
  if (Rar5HeaderSize(bytes, size) != size) return false;
  uint32_t storedCrc = 0;
  uint64_t headerSize = 0, extraSize = 0;
  TRar5Cursor c(bytes, bytes + size);
  c.U32(storedCrc);
  c.Vint(headerSize);
  f.CrcOk = RarCrc32(0, bytes + 4, size - 4) == storedCrc;
  if (!c.Vint(f.Type) || !c.Vint(f.Flags)) return false;
  if ((f.Flags & Rar5HeadExtra) && !c.Vint(extraSize)) return false;
  if ((f.Flags & Rar5HeadData) && !c.Vint(f.DataSize)) return false;
  if (extraSize > c.Left()) return false;
  f.BodyAt = size_t(c.Here() - bytes);
  f.ExtraAt = size - size_t(extraSize);
  f.Size = size;
  return true;
}

bool ParseRar5Main(const uint8_t* bytes, const TRar5Frame& f, TRar5Main& main) {
  TRar5Main m;
  TRar5Cursor c(bytes + f.BodyAt, bytes + f.ExtraAt);
  if (!c.Vint(m.ArchiveFlags)) return false;
  if ((m.ArchiveFlags & Rar5ArchiveVolumeNumber) && !c.Vint(m.VolumeNumber)) return false;
  ForEachRecord(bytes + f.ExtraAt, bytes + f.Size, [&m](uint64_t type, TRar5Cursor& r) {
    uint64_t flags = 0, quickOpen = 0, recovery = 0;
    if (type != LocatorRecord || !r.Vint(flags)) return;
    if ((flags & LocatorQuickOpen) && !r.Vint(quickOpen)) return;
    if ((flags & LocatorRecovery) && !r.Vint(recovery)) return;
    m.QuickOpenOffset = quickOpen;
    m.RecoveryOffset = recovery;
  });
  main = m;
  return true;
}

uint64_t Rar5DictionarySize(uint64_t info) {
  uint64_t version = info & 0x3F;
  uint64_t exponent = (info >> 10) & 0x1F;
  // RAR 5 and 6 go up to 4 GiB; the later version adds larger sizes and fractions of 1/32.
  if (version == 0) return exponent <= 15 ? (uint64_t(128) << 10) << exponent : 0;
  if (version != 1) return 0;
  uint64_t base = (uint64_t(128) << 10) << exponent;
  return base + base / 32 * ((info >> 15) & 0x1F);
}

bool ParseRar5File(const uint8_t* bytes, const TRar5Frame& f, TRarEntryHeader& e) {
  uint64_t fileFlags = 0, unpSize = 0, attr = 0, compression = 0, hostOS = 0;
  uint32_t mtime = 0, crc = 0;
  std::string name;
  TRar5Cursor c(bytes + f.BodyAt, bytes + f.ExtraAt);
  if (!c.Vint(fileFlags) || !c.Vint(unpSize) || !c.Vint(attr)) return false;
  if ((fileFlags & FileMtime) && !c.U32(mtime)) return false;
  if ((fileFlags & FileCrc) && !c.U32(crc)) return false;
  if (!c.Vint(compression) || !c.Vint(hostOS) || !Text(c, name)) return false;

  e.PackSize = f.DataSize;
  e.UnpSizeUnknown = fileFlags & FileSizeUnknown;
  e.UnpSize = e.UnpSizeUnknown ? 0 : unpSize;
  e.StoredHostOS = hostOS;
  e.HostOS = hostOS == 1 ? 3 : 2;
  e.FileCRC = crc;
  e.HashType = (fileFlags & FileCrc) ? RarHashCrc32 : RarHashNone;
  e.Attr = uint32_t(attr);
  e.UnpVer = RarVersion5;
  e.CompressionVersion = compression & 0x3F;
  e.Method = uint8_t(RarMethodStore + ((compression >> 7) & 7));
  e.DictSize = Rar5DictionarySize(compression);
  if (fileFlags & FileMtime) e.MTime = FromUnix(mtime);
  e.Name = NormalizeRarName(IsValidUtf8(name) ? name : Cp437ToUtf8(name));
  e.HeaderCrcOk = f.CrcOk;
  ReadFileExtras(bytes + f.ExtraAt, bytes + f.Size, e);

  e.Flags = uint16_t(((fileFlags & FileDirectory) ? RarFileDirectoryMask : 0) |
                     ((f.Flags & Rar5HeadSplitBefore) ? RarFileSplitBefore : 0) |
                     ((f.Flags & Rar5HeadSplitAfter) ? RarFileSplitAfter : 0) |
                     ((compression & 0x40) ? RarFileSolid : 0) | (e.Crypt.Present ? RarFileEncrypted : 0));
  e.FileTime = e.MTime.Present ? UnixTimeToDos(e.MTime.Seconds) : 0;
  return true;
}

bool ParseRar5End(const uint8_t* bytes, const TRar5Frame& f, uint64_t& endFlags) {
  TRar5Cursor c(bytes + f.BodyAt, bytes + f.ExtraAt);
  return c.Vint(endFlags);
}

bool ParseRar5Crypt(const uint8_t* bytes, const TRar5Frame& f, TRar5Crypt& crypt) {
  TRar5Cursor c(bytes + f.BodyAt, bytes + f.ExtraAt);
  return ReadCrypt(c, crypt, false);
}
