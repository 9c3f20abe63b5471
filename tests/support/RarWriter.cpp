#include "RarWriter.h"

#include <fcntl.h>
#include <fstream>
#include <unistd.h>
#include <libdeflate.h>
#include <stdexcept>

namespace {

void Put16(std::string& b, uint16_t v) {
  b += char(v & 0xFF);
  b += char(v >> 8);
}
void Put32(std::string& b, uint32_t v) {
  Put16(b, uint16_t(v));
  Put16(b, uint16_t(v >> 16));
}

// Completes HEAD_SIZE and HEAD_CRC of the block that starts at `start`.
void Seal(std::string& b, size_t start, bool breakCrc = false) {
  uint16_t size = uint16_t(b.size() - start);
  b[start + 5] = char(size & 0xFF);
  b[start + 6] = char(size >> 8);
  uint32_t crc = libdeflate_crc32(0, b.data() + start + 2, size - 2);
  uint16_t stored = uint16_t(crc) ^ (breakCrc ? 0x5A5A : 0);
  b[start] = char(stored & 0xFF);
  b[start + 1] = char(stored >> 8);
}

void Begin(std::string& b, uint8_t type, uint16_t flags) {
  Put16(b, 0);
  b += char(type);
  Put16(b, flags);
  Put16(b, 0);
}

std::vector<uint16_t> Utf8ToUtf16(const std::string& s) {
  std::vector<uint16_t> out;
  for (size_t i = 0; i < s.size();) {
    auto c = uint8_t(s[i]);
    uint32_t cp;
    size_t n;
    if (c < 0x80) cp = c, n = 1;
    else if ((c & 0xE0) == 0xC0) cp = c & 0x1F, n = 2;
    else if ((c & 0xF0) == 0xE0) cp = c & 0x0F, n = 3;
    else cp = c & 0x07, n = 4;
    for (size_t k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (uint8_t(s[i + k]) & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(uint16_t(0xD800 + (cp >> 10)));
      out.push_back(uint16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(uint16_t(cp));
    }
  }
  return out;
}

// 8-bit name, zero, then the packed form: every character as two bytes (code 2).
std::string UnicodeNameField(const std::string& utf8) {
  std::vector<uint16_t> units = Utf8ToUtf16(utf8);
  std::string field;
  for (uint16_t u : units) field += u < 0x80 ? char(u) : '_';
  field += '\0';
  field += '\0';  // HIGH
  for (size_t i = 0; i < units.size(); i += 4) {
    field += char(0xAA);
    for (size_t k = i; k < i + 4 && k < units.size(); ++k) Put16(field, units[k]);
  }
  return field;
}

struct TVolumeWriter {
  const std::string& First;
  const TRarWriterOptions& Options;
  std::vector<std::string> Files;
  std::string Buffer;

  void Start() {
    Buffer.clear();
    if (Files.empty()) Buffer.append(Options.Prefix.begin(), Options.Prefix.end());
    Buffer += std::string("Rar!\x1a\x07\x00", 7);
    uint16_t flags = 0;
    if (Options.Volumes) flags |= 0x0001 | (Files.empty() ? 0x0100 : 0);
    if (Options.NewNaming) flags |= 0x0010;
    if (Options.Solid) flags |= 0x0008;
    size_t start = Buffer.size();
    Begin(Buffer, 0x73, flags);
    Buffer.append(6, '\0');
    Seal(Buffer, start);
  }
  void Finish(bool more) {
    size_t start = Buffer.size();
    Begin(Buffer, 0x7B, uint16_t(0x4000 | (more ? 0x0001 : 0)));
    Seal(Buffer, start);
    std::string path = RarTestVolumeName(First, Files.size(), Options);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(Buffer.data(), std::streamsize(Buffer.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
    Files.push_back(path);
  }
};

std::string FileHeader(const TRarTestEntry& e, const TRarWriterOptions& o, uint16_t splitFlags, uint32_t packSize,
                       uint32_t crc) {
  std::string name = e.Unicode ? UnicodeNameField(e.Name) : e.Name;
  uint16_t flags = uint16_t(0x8000 | splitFlags | e.ExtraFlags | (e.Directory ? 0x00E0 : 0) |
                            (e.Unicode ? 0x0200 : 0) | (o.LargeSizes ? 0x0100 : 0));
  std::string h;
  Begin(h, 0x74, flags);
  Put32(h, packSize);
  Put32(h, uint32_t(e.Data.size()));
  h += char(e.HostOS);
  Put32(h, crc);
  Put32(h, e.DosTime);
  h += char(e.UnpVer);
  h += char(e.Method);
  Put16(h, uint16_t(name.size()));
  Put32(h, e.Attr);
  if (o.LargeSizes) {
    Put32(h, 0);
    Put32(h, 0);
  }
  h += name;
  Seal(h, 0, e.BreakHeaderCrc);
  return h;
}

}  // namespace

uint32_t RarTestCrc(const std::string& data) { return libdeflate_crc32(0, data.data(), data.size()); }

std::string RarTestVolumeName(const std::string& firstPath, size_t index, const TRarWriterOptions& options) {
  if (index == 0) return firstPath;
  std::string stem = firstPath.substr(0, firstPath.size() - 4);  // without ".rar"
  if (options.NewNaming) {
    size_t part = stem.rfind(".part");
    std::string base = part == std::string::npos ? stem : stem.substr(0, part);
    std::string number = std::to_string(index + 1);
    while (int(number.size()) < options.PartDigits) number = "0" + number;
    return base + ".part" + number + ".rar";
  }
  size_t n = index - 1;
  char letter = char('r' + n / 100);
  std::string digits = std::to_string(n % 100);
  if (digits.size() < 2) digits = "0" + digits;
  return stem + "." + letter + digits;
}

std::vector<std::string> WriteRarArchive(const std::string& firstPath, const std::vector<TRarTestEntry>& entries,
                                         const TRarWriterOptions& options) {
  TRarWriterOptions o = options;
  if (o.VolumeSize) o.Volumes = true;
  for (const auto& e : entries) o.Volumes = o.Volumes || e.NewVolumeBefore;
  TVolumeWriter w{firstPath, o, {}, {}};
  w.Start();
  const uint64_t endSize = 7;
  for (const auto& e : entries) {
    if (e.NewVolumeBefore && w.Buffer.size() > 20 + o.Prefix.size()) {
      w.Finish(true);
      w.Start();
    }
    uint32_t whole = RarTestCrc(e.Data) ^ (e.BreakDataCrc ? 0xFFFF0000u : 0);
    size_t done = 0;
    bool first = true;
    do {
      size_t headerSize = FileHeader(e, o, 0, 0, 0).size();
      size_t room = e.Data.size() - done;
      if (o.VolumeSize) {
        uint64_t used = w.Buffer.size() + headerSize + endSize;
        if (used + (room ? 1 : 0) > o.VolumeSize) {
          w.Finish(true);
          w.Start();
          used = w.Buffer.size() + headerSize + endSize;
        }
        if (used + room > o.VolumeSize) room = o.VolumeSize > used ? size_t(o.VolumeSize - used) : 1;
      }
      bool last = done + room >= e.Data.size();
      std::string part = e.Data.substr(done, room);
      uint16_t split = uint16_t((first ? 0 : 0x0001) | (last ? 0 : 0x0002));
      w.Buffer += FileHeader(e, o, split, uint32_t(part.size()), last ? whole : RarTestCrc(part));
      w.Buffer += part;
      done += room;
      first = false;
      if (!last) {
        w.Finish(true);
        w.Start();
      }
    } while (done < e.Data.size());
  }
  w.Finish(false);
  return w.Files;
}

void WriteSparseRarArchive(const std::string& path, const std::string& name, uint64_t size, uint32_t crc,
                           const TRarTestEntry& after) {
  std::string head("Rar!\x1a\x07\x00", 7);
  Begin(head, 0x73, 0);
  head.append(6, '\0');
  Seal(head, 7);
  size_t start = head.size();
  Begin(head, 0x74, 0x8000 | 0x0100);
  Put32(head, uint32_t(size));
  Put32(head, uint32_t(size));
  head += char(3);
  Put32(head, crc);
  Put32(head, (40u << 25) | (1u << 21) | (2u << 16));
  head += char(29);
  head += char(0x30);
  Put16(head, uint16_t(name.size()));
  Put32(head, 0x81A4);
  Put32(head, uint32_t(size >> 32));
  Put32(head, uint32_t(size >> 32));
  head += name;
  Seal(head, start);
  std::string end = FileHeader(after, TRarWriterOptions{}, 0, uint32_t(after.Data.size()), RarTestCrc(after.Data));
  end += after.Data;
  size_t endStart = end.size();
  Begin(end, 0x7B, 0x4000);
  Seal(end, endStart);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = fd >= 0 && ::write(fd, head.data(), head.size()) == ssize_t(head.size()) &&
            ::pwrite(fd, end.data(), end.size(), off_t(head.size() + size)) == ssize_t(end.size());
  if (fd >= 0) ::close(fd);
  if (!ok) throw std::runtime_error("cannot write " + path);
}
