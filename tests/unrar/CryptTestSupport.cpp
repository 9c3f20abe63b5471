#include "CryptTestSupport.h"

#include <algorithm>
#include <cstring>

#include "unrar/RarCrc.h"
#include "unrar/unrar.h"

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string ToHex(const uint8_t* data, size_t size) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}

int TMemoryInput::Read(uint8_t* buffer, size_t size, size_t& got) {
  got = 0;
  size_t n = std::min(size, Data.size() - Pos);
  if (!Chunks.empty()) n = std::min(n, Chunks[Reads % Chunks.size()]);
  ++Reads;
  if (FailAfter && Pos + n > *FailAfter) return Failure;
  std::memcpy(buffer, Data.data() + Pos, n);
  Pos += n;
  got = n;
  return ERAR_SUCCESS;
}

TDrained Drain(IPackedInput& input, size_t readSize) {
  TDrained out;
  std::vector<uint8_t> buffer(readSize);
  for (;;) {
    size_t got = 0;
    out.Result = input.Read(buffer.data(), buffer.size(), got);
    if (out.Result != ERAR_SUCCESS || got == 0) return out;
    out.Data.append(reinterpret_cast<const char*>(buffer.data()), got);
  }
}

namespace {

struct TCursor {
  const std::vector<uint8_t>& Bytes;
  size_t Pos;
  size_t End;
  bool Ok = true;
  uint64_t Vint() {
    uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (Pos >= End) break;
      uint8_t b = Bytes[Pos++];
      v |= uint64_t(b & 0x7F) << shift;
      if (!(b & 0x80)) return v;
    }
    Ok = false;
    return 0;
  }
  template <size_t N>
  std::array<uint8_t, N> Fixed() {
    std::array<uint8_t, N> out{};
    if (Pos + N > End) {
      Ok = false;
      return out;
    }
    std::memcpy(out.data(), &Bytes[Pos], N);
    Pos += N;
    return out;
  }
  uint32_t U32() {
    auto b = Fixed<4>();
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  }
};

// The encryption record of a file or the body of an encryption header.
TRar5CryptRecord ReadCrypt(TCursor& c, bool withIv) {
  TRar5CryptRecord r;
  r.Version = c.Vint();
  r.Flags = c.Vint();
  r.Lg2Count = c.Fixed<1>()[0];
  r.Salt = c.Fixed<Rar5SaltSize>();
  if (withIv) r.Iv = c.Fixed<Rar5IvSize>();
  if (r.Flags & 0x01) r.Check = c.Fixed<Rar5CheckValueSize>();
  return r;
}

}  // namespace

TRar5TestArchive ReadRar5TestArchive(const std::string& image, const std::string& password) {
  TRar5TestArchive archive;
  TMemorySource source(image.data(), image.size());
  std::optional<TRar5Key> headerKey;
  uint64_t pos = 8;  // after the marker
  while (pos < image.size()) {
    std::vector<uint8_t> bytes;
    uint64_t stored = 0;
    if (headerKey) {
      archive.Result = ReadRar5EncryptedHeader(source, pos, *headerKey, bytes, stored);
      if (archive.Result) return archive;
    } else {
      bytes.assign(image.begin() + long(pos), image.end());
      TCursor probe{bytes, 4, bytes.size()};
      uint64_t size = probe.Vint();
      if (!probe.Ok || probe.Pos + size > bytes.size()) {
        archive.Result = ERAR_BAD_DATA;
        return archive;
      }
      stored = probe.Pos + size;
      bytes.resize(size_t(stored));
    }
    TRar5TestHeader h;
    TCursor c{bytes, 4, bytes.size()};
    c.Vint();  // header size
    uint32_t storedCrc = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
    h.CrcOk = RarCrc32(0, bytes.data() + 4, bytes.size() - 4) == storedCrc;
    h.Type = c.Vint();
    uint64_t flags = c.Vint(), extraSize = 0;
    if (flags & 0x01) extraSize = c.Vint();
    if (flags & 0x02) h.DataSize = c.Vint();
    h.DataPos = pos + stored;
    size_t extraStart = bytes.size() - size_t(std::min<uint64_t>(extraSize, bytes.size()));
    if (h.Type == 4) {
      archive.HeaderCrypt = ReadCrypt(c, false);
      h.Crypt = archive.HeaderCrypt;
      headerKey.emplace();
      DeriveRar5Key(password, archive.HeaderCrypt->Salt.data(), archive.HeaderCrypt->Lg2Count, *headerKey);
      if (archive.HeaderCrypt->Check && CheckRar5Password(*headerKey, archive.HeaderCrypt->Check->data())) {
        archive.Result = ERAR_BAD_PASSWORD;
        archive.Headers.push_back(h);
        return archive;
      }
    } else if (h.Type == 2 || h.Type == 3) {
      uint64_t fileFlags = c.Vint();
      h.UnpSize = c.Vint();
      c.Vint();  // attributes
      if (fileFlags & 0x02) c.U32();
      if (fileFlags & 0x04) h.Crc = c.U32();
      h.Method = (c.Vint() >> 7) & 7;
      c.Vint();  // host
      uint64_t nameLength = c.Vint();
      if (c.Pos + nameLength <= extraStart) h.Name.assign(reinterpret_cast<const char*>(&bytes[c.Pos]), size_t(nameLength));
      TCursor extra{bytes, extraStart, bytes.size()};
      while (extra.Ok && extra.Pos < extra.End) {
        uint64_t size = extra.Vint();
        size_t next = extra.Pos + size_t(size);
        uint64_t type = extra.Vint();
        if (type == 1) h.Crypt = ReadCrypt(extra, true);
        if (type == 2 && extra.Vint() == 0) h.Blake2sp = extra.Fixed<32>();
        extra.Pos = next;
      }
    }
    archive.Headers.push_back(h);
    pos = h.DataPos + h.DataSize;
    if (h.Type == 5) break;
  }
  return archive;
}
