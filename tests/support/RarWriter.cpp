#include "RarWriter.h"

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <unistd.h>
#include <libdeflate.h>
#include <nettle/aes.h>
#include <nettle/cbc.h>
#include <stdexcept>

namespace {

// SHA-1 written the way the RAR 2.9 archiver's was: the transform works in place on a 16-word
// block, and whole blocks an update takes straight from the caller's buffer (after its first
// block) are transformed right there, so the buffer is left holding the schedule's last words.
class TArchiverSha1 {
 public:
  void Update(uint8_t* data, size_t size, bool inPlace) {
    size_t used = size_t(Count % 64), i = 0;
    Count += size;
    if (used + size >= 64) {
      i = 64 - used;
      std::memcpy(Buffer + used, data, i);
      uint8_t block[64];
      std::memcpy(block, Buffer, 64);
      Transform(block);
      for (; i + 64 <= size; i += 64) {
        if (inPlace) {
          Transform(data + i);
        } else {
          std::memcpy(block, data + i, 64);
          Transform(block);
        }
      }
      used = 0;
    }
    std::memcpy(Buffer + used, data + i, size - i);
  }
  // The digest as five words, leaving this object as it was.
  std::array<uint32_t, 5> Digest() const {
    TArchiverSha1 copy = *this;
    uint64_t bits = Count * 8;
    uint8_t pad[72] = {0x80};
    size_t padSize = (Count % 64 < 56 ? 56 : 120) - size_t(Count % 64);
    for (int k = 0; k < 8; ++k) pad[padSize + size_t(k)] = uint8_t(bits >> (56 - 8 * k));
    copy.Update(pad, padSize + 8, false);
    return copy.State;
  }

 private:
  static uint32_t Rol(uint32_t v, int n) { return v << n | v >> (32 - n); }
  void Transform(uint8_t* block) {
    uint32_t w[16];
    for (int t = 0; t < 16; ++t)
      w[t] = uint32_t(block[4 * t]) << 24 | uint32_t(block[4 * t + 1]) << 16 | uint32_t(block[4 * t + 2]) << 8 | block[4 * t + 3];
    uint32_t a = State[0], b = State[1], c = State[2], d = State[3], e = State[4];
    for (int t = 0; t < 80; ++t) {
      if (t >= 16) w[t & 15] = Rol(w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15], 1);
      uint32_t f, k;
      if (t < 20) f = (b & c) | (~b & d), k = 0x5A827999;
      else if (t < 40) f = b ^ c ^ d, k = 0x6ED9EBA1;
      else if (t < 60) f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
      else f = b ^ c ^ d, k = 0xCA62C1D6;
      uint32_t next = Rol(a, 5) + f + e + k + w[t & 15];
      e = d, d = c, c = Rol(b, 30), b = a, a = next;
    }
    State[0] += a, State[1] += b, State[2] += c, State[3] += d, State[4] += e;
    for (int t = 0; t < 16; ++t)
      for (int k = 0; k < 4; ++k) block[4 * t + k] = uint8_t(w[t] >> (8 * k));
  }
  std::array<uint32_t, 5> State = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  uint8_t Buffer[64] = {};
  uint64_t Count = 0;
};

struct TAesKey {
  uint8_t Key[16];
  uint8_t Iv[16];
};

// Password (ASCII or UTF-8 of the Basic Multilingual Plane) as UTF-16LE, then the salt, hashed
// 2^18 times with a counter; the key is taken once per password and salt and kept.
const TAesKey& ArchiverKey(const std::string& password, const TRarTestSalt& salt) {
  static std::map<std::pair<std::string, TRarTestSalt>, TAesKey> keys;
  auto found = keys.find({password, salt});
  if (found != keys.end()) return found->second;
  std::vector<uint8_t> raw;
  for (size_t i = 0; i < password.size();) {
    auto c = uint8_t(password[i]);
    uint32_t cp = c;
    size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : 3;
    if (n > 1) cp = c & (n == 2 ? 0x1F : 0x0F);
    for (size_t k = 1; k < n; ++k) cp = cp << 6 | (uint8_t(password[i + k]) & 0x3F);
    i += n;
    raw.push_back(uint8_t(cp));
    raw.push_back(uint8_t(cp >> 8));
  }
  raw.insert(raw.end(), salt.begin(), salt.end());
  TArchiverSha1 sha;
  TAesKey key{};
  const uint32_t rounds = 1u << 18;
  for (uint32_t i = 0; i < rounds; ++i) {
    sha.Update(raw.data(), raw.size(), true);
    uint8_t counter[3] = {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16)};
    sha.Update(counter, 3, false);
    if (i % (rounds / 16) == 0) key.Iv[i / (rounds / 16)] = uint8_t(sha.Digest()[4]);
  }
  auto digest = sha.Digest();
  for (int w = 0; w < 4; ++w)
    for (int b = 0; b < 4; ++b) key.Key[4 * w + b] = uint8_t(digest[size_t(w)] >> (8 * b));
  return keys[{password, salt}] = key;
}

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
  uint32_t Headers = 0;

  // Appends a sealed header: as it is, or after its salt and encrypted.
  void Put(const std::string& header) {
    if (Options.HeaderPassword.empty()) {
      Buffer += header;
      return;
    }
    TRarTestSalt salt = Options.HeaderSalt;
    if (Options.SaltPerHeader) {
      ++Headers;
      for (int k = 0; k < 4; ++k) salt[size_t(4 + k)] ^= uint8_t(Headers >> (8 * k));
    }
    Buffer.append(salt.begin(), salt.end());
    Buffer += RarTestEncrypt(Options.HeaderPassword, salt, header);
  }
  size_t Stored(size_t headerSize) const {
    return Options.HeaderPassword.empty() ? headerSize : 8 + (headerSize + 15) / 16 * 16;
  }

  void Start() {
    Buffer.clear();
    if (Files.empty()) Buffer.append(Options.Prefix.begin(), Options.Prefix.end());
    Buffer += std::string("Rar!\x1a\x07\x00", 7);
    uint16_t flags = 0;
    if (Options.Volumes) flags |= 0x0001 | (Files.empty() ? 0x0100 : 0);
    if (Options.NewNaming) flags |= 0x0010;
    if (Options.Solid) flags |= 0x0008;
    if (!Options.HeaderPassword.empty()) flags |= 0x0080;
    size_t start = Buffer.size();
    Begin(Buffer, 0x73, flags);
    Buffer.append(6, '\0');
    Seal(Buffer, start);
  }
  void Finish(bool more) {
    std::string end;
    Begin(end, 0x7B, uint16_t(0x4000 | (more ? 0x0001 : 0)));
    Seal(end, 0);
    Put(end);
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
  bool aes = !e.Password.empty();
  uint16_t flags = uint16_t(0x8000 | splitFlags | e.ExtraFlags | (e.Directory ? 0x00E0 : 0) |
                            (e.Unicode ? 0x0200 : 0) | (o.LargeSizes ? 0x0100 : 0) |
                            (aes ? 0x0404 : 0) | (e.Encrypt ? 0x0004 : 0));
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
  if (aes) h.append(e.Salt.begin(), e.Salt.end());
  Seal(h, 0, e.BreakHeaderCrc);
  return h;
}

// What the entry's data area holds, before any split.
std::string Payload(const TRarTestEntry& e) {
  const std::string& data = e.Packed.empty() ? e.Data : e.Packed;
  if (!e.Password.empty()) return RarTestEncrypt(e.Password, e.Salt, data);
  if (e.Encrypt) return e.Encrypt(data);
  return data;
}

}  // namespace

uint32_t RarTestCrc(const std::string& data) { return libdeflate_crc32(0, data.data(), data.size()); }

std::string RarTestEncrypt(const std::string& password, const TRarTestSalt& salt, const std::string& plain) {
  const TAesKey& key = ArchiverKey(password, salt);
  std::string out = plain;
  out.resize((plain.size() + 15) / 16 * 16, '\0');
  aes128_ctx aes;
  aes128_set_encrypt_key(&aes, key.Key);
  uint8_t iv[16];
  std::memcpy(iv, key.Iv, 16);
  auto* bytes = reinterpret_cast<uint8_t*>(out.data());
  auto encrypt = [](const void* ctx, size_t size, uint8_t* dst, const uint8_t* src) {
    aes128_encrypt(static_cast<const aes128_ctx*>(ctx), size, dst, src);
  };
  cbc_encrypt(&aes, encrypt, 16, iv, out.size(), bytes, bytes);
  return out;
}

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
  const uint64_t endSize = w.Stored(7);
  for (const auto& e : entries) {
    if (e.NewVolumeBefore && w.Buffer.size() > 20 + o.Prefix.size()) {
      w.Finish(true);
      w.Start();
    }
    uint32_t whole = RarTestCrc(e.Data) ^ (e.BreakDataCrc ? 0xFFFF0000u : 0);
    const std::string payload = Payload(e);
    size_t done = 0;
    bool first = true;
    do {
      size_t headerSize = w.Stored(FileHeader(e, o, 0, 0, 0).size());
      size_t room = payload.size() - done;
      if (o.VolumeSize) {
        uint64_t used = w.Buffer.size() + headerSize + endSize;
        if (used + (room ? 1 : 0) > o.VolumeSize) {
          w.Finish(true);
          w.Start();
          used = w.Buffer.size() + headerSize + endSize;
        }
        if (used + room > o.VolumeSize) room = o.VolumeSize > used ? size_t(o.VolumeSize - used) : 1;
      }
      bool last = done + room >= payload.size();
      std::string part = payload.substr(done, room);
      uint16_t split = uint16_t((first ? 0 : 0x0001) | (last ? 0 : 0x0002));
      w.Put(FileHeader(e, o, split, uint32_t(part.size()), last ? whole : RarTestCrc(part)));
      w.Buffer += part;
      done += room;
      first = false;
      if (!last) {
        w.Finish(true);
        w.Start();
      }
    } while (done < payload.size());
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
