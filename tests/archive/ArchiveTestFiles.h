#pragma once
// Small writers for the files the archive tests need: executables with and without a
// string table, ZIP, TAR, UUE and friends, all made here byte by byte.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "TempDir.h"

using TBytes = std::vector<std::uint8_t>;

inline TBytes Bytes(std::initializer_list<int> values) {
  TBytes out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

inline TBytes Text(const std::string& s) { return TBytes(s.begin(), s.end()); }

inline void Put(TBytes& to, std::size_t at, const TBytes& what) {
  if (to.size() < at + what.size()) to.resize(at + what.size());
  std::copy(what.begin(), what.end(), to.begin() + static_cast<std::ptrdiff_t>(at));
}

inline void PutU16(TBytes& to, std::size_t at, std::uint32_t v) {
  Put(to, at, Bytes({static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF)}));
}

inline void PutU32(TBytes& to, std::size_t at, std::uint32_t v) {
  PutU16(to, at, v & 0xFFFF);
  PutU16(to, at + 2, v >> 16);
}

inline TBytes Concat(TBytes a, const TBytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Writes bytes into a test folder and returns the file's path.
inline std::string WriteBytes(const TTempDir& dir, const std::string& name, const TBytes& data) {
  return dir.Write(name, std::string(data.begin(), data.end()));
}

// "MZ" with the page counts that give the end of the DOS stub (0 pages: no end).
inline TBytes DosHeader(std::uint16_t pages = 0, std::uint16_t lastPageBytes = 0) {
  TBytes h(64, 0);
  h[0] = 'M';
  h[1] = 'Z';
  PutU16(h, 2, lastPageBytes);
  PutU16(h, 4, pages);
  return h;
}

// A PE32 image whose resource section holds string-table block 1 with the given
// strings (ids 0 to 15). The image ends at the returned size; callers append data.
inline TBytes PeWithStrings(const std::map<int, std::u16string>& strings, int language = 0x409) {
  TBytes pe = DosHeader();
  PutU32(pe, 0x3C, 0x40);
  Put(pe, 0x40, Text(std::string("PE\0\0", 4)));
  const std::size_t coff = 0x44;
  PutU16(pe, coff + 0, 0x14C);
  PutU16(pe, coff + 2, 1);      // one section
  PutU16(pe, coff + 16, 0xE0);  // optional header size
  const std::size_t opt = coff + 20;
  pe.resize(opt + 0xE0, 0);
  PutU16(pe, opt, 0x10B);
  PutU32(pe, opt + 92, 16);

  // The resource section: type 6 -> block 1 -> language -> data entry -> strings.
  TBytes rsrc(0x58, 0);
  auto dir = [&](std::size_t at, std::uint32_t id, std::uint32_t target) {
    PutU16(rsrc, at + 14, 1);
    PutU32(rsrc, at + 16, id);
    PutU32(rsrc, at + 20, target);
  };
  dir(0x00, 6, 0x80000018u);
  dir(0x18, 1, 0x80000030u);
  dir(0x30, static_cast<std::uint32_t>(language), 0x48);
  const std::uint32_t sectionRva = 0x1000;
  TBytes table;
  for (int id = 0; id < 16; ++id) {
    const auto it = strings.find(id);
    const std::u16string s = it == strings.end() ? std::u16string() : it->second;
    const std::size_t at = table.size();
    PutU16(table, at, static_cast<std::uint32_t>(s.size()));
    for (std::size_t i = 0; i < s.size(); ++i) PutU16(table, at + 2 + 2 * i, s[i]);
  }
  PutU32(rsrc, 0x48, sectionRva + 0x58);
  PutU32(rsrc, 0x4C, static_cast<std::uint32_t>(table.size()));
  rsrc = Concat(rsrc, table);

  const std::size_t rawAt = 0x200;
  PutU32(pe, opt + 96 + 2 * 8, sectionRva);
  PutU32(pe, opt + 96 + 2 * 8 + 4, static_cast<std::uint32_t>(rsrc.size()));
  const std::size_t sect = opt + 0xE0;
  Put(pe, sect, Text(".rsrc"));
  PutU32(pe, sect + 8, static_cast<std::uint32_t>(rsrc.size()));
  PutU32(pe, sect + 12, sectionRva);
  PutU32(pe, sect + 16, static_cast<std::uint32_t>(rsrc.size()));
  PutU32(pe, sect + 20, static_cast<std::uint32_t>(rawAt));
  pe.resize(rawAt, 0);
  return Concat(pe, rsrc);
}

// A stored one-file ZIP archive; disk is the field after the end record's signature.
inline TBytes Zip(std::uint16_t disk = 0, const std::string& name = "a.txt", const std::string& data = "hello") {
  TBytes local(30, 0);
  Put(local, 0, Bytes({'P', 'K', 3, 4}));
  PutU32(local, 18, static_cast<std::uint32_t>(data.size()));
  PutU32(local, 22, static_cast<std::uint32_t>(data.size()));
  PutU16(local, 26, static_cast<std::uint32_t>(name.size()));
  TBytes out = Concat(Concat(local, Text(name)), Text(data));
  const auto cdAt = static_cast<std::uint32_t>(out.size());
  TBytes central(46, 0);
  Put(central, 0, Bytes({'P', 'K', 1, 2}));
  PutU16(central, 28, static_cast<std::uint32_t>(name.size()));
  PutU32(central, 42, 0);
  central = Concat(central, Text(name));
  out = Concat(out, central);
  TBytes end(22, 0);
  Put(end, 0, Bytes({'P', 'K', 5, 6}));
  PutU16(end, 4, disk);
  PutU16(end, 8, 1);
  PutU16(end, 10, 1);
  PutU32(end, 12, static_cast<std::uint32_t>(central.size()));
  PutU32(end, 16, cdAt);
  return Concat(out, end);
}

// A 512-byte TAR header with a correct checksum (unless broken) and type flag.
inline TBytes TarHeader(const std::string& name, char type = '0', bool brokenSum = false) {
  TBytes h(512, 0);
  Put(h, 0, Text(name));
  Put(h, 100, Text("0000644"));
  Put(h, 124, Text("00000000012"));
  h[156] = static_cast<std::uint8_t>(type);
  Put(h, 257, Text("ustar"));
  std::uint32_t sum = 0;
  for (int i = 0; i < 512; ++i) sum += (i >= 148 && i < 156) ? 32u : h[static_cast<std::size_t>(i)];
  if (brokenSum) ++sum;
  char field[8];
  std::snprintf(field, sizeof field, "%06o", sum);
  Put(h, 148, Text(std::string(field, 6)));
  h[154] = 0;
  h[155] = ' ';
  return h;
}

// The first bytes of a RAR 1.5-4.x archive: marker, main header, end block.
inline TBytes RarArchive() {
  return Bytes({'R', 'a', 'r', '!', 0x1A, 0x07, 0x00, 0xCF, 0x90, 0x73, 0x00, 0x00, 0x0D, 0x00, 0x00, 0x00,
                0x00, 0x00, 0x00, 0x00, 0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00});
}
