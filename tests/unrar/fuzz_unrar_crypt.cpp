// libFuzzer target: encrypted RAR 4 headers and the decrypting stages. A fuzzer cannot make
// ciphertext that decrypts to anything, so the input is read as a plain RAR 4 archive and
// rewritten with every header after the main one encrypted under a fixed password and salt:
// the fuzzer's changes then reach the parser of decrypted headers (sizes that lie, truncated
// headers, data that runs past the end). The entries' data goes through the AES and RAR 1.5
// stages, and the raw input through the RAR 5 header decryption.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <nettle/aes.h>
#include <nettle/cbc.h>
#include <string>
#include <vector>

#include "unrar/RarBlocks.h"
#include "unrar/RarCrc.h"
#include "unrar/RarCrypt.h"

namespace {

constexpr uint8_t Salt[8] = {0x98, 0xd5, 0x3a, 0xb9, 0x11, 0x20, 0x84, 0x7a};

// Derived once for the whole run: every header of the rewritten image carries the same salt.
TRarKeyCache& Keys() {
  static TRarKeyCache* keys = [] {
    auto* k = new TRarKeyCache;
    k->SetPassword("fuzz");
    return k;
  }();
  return *keys;
}

const TRar5Key& Rar5Key() {
  static TRar5Key* key = [] {
    auto* k = new TRar5Key;
    const uint8_t salt[16] = {};
    DeriveRar5Key("fuzz", salt, 0, *k);
    return k;
  }();
  return *key;
}

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

void AppendEncrypted(std::vector<uint8_t>& out, const uint8_t* header, size_t size) {
  const TRar3Key& key = Keys().Rar3(Salt);
  std::vector<uint8_t> block(header, header + size);
  block.resize((size + 15) / 16 * 16);
  aes128_ctx aes;
  aes128_set_encrypt_key(&aes, key.Key.data());
  uint8_t iv[16];
  std::memcpy(iv, key.Iv.data(), 16);
  auto encrypt = [](const void* ctx, size_t n, uint8_t* dst, const uint8_t* src) {
    aes128_encrypt(static_cast<const aes128_ctx*>(ctx), n, dst, src);
  };
  cbc_encrypt(&aes, encrypt, 16, iv, block.size(), block.data(), block.data());
  out.insert(out.end(), Salt, Salt + sizeof Salt);
  out.insert(out.end(), block.begin(), block.end());
}

// The plain archive at the start of the input with its headers encrypted; empty when the input
// does not start like one. The walk stops where the reader's would stop, so every header the
// reader reaches lies behind the fixed salt.
std::vector<uint8_t> EncryptHeaders(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  if (size < 20 || std::memcmp(data, "Rar!\x1a\x07\x00", 7) != 0 || data[9] != 0x73) return out;
  size_t mainSize = Get16(data + 12);
  if (mainSize < 13 || 7 + mainSize > size) return out;
  out.assign(data, data + 7 + mainSize);
  out[10] |= 0x80;  // headers encrypted
  uint16_t crc = uint16_t(RarCrc32(0, &out[9], mainSize - 2));
  out[7] = uint8_t(crc);
  out[8] = uint8_t(crc >> 8);
  size_t p = 7 + mainSize;
  while (p + 7 <= size) {
    const uint8_t* h = data + p;
    uint16_t flags = Get16(h + 3);
    size_t headSize = Get16(h + 5);
    if (headSize < 7) break;
    size_t have = std::min(headSize, size - p);
    AppendEncrypted(out, h, have);
    if (have < headSize) break;
    uint64_t dataSize = 0;
    if (h[2] == 0x74 || h[2] == 0x7A) {
      if (headSize < 32 || ((flags & 0x0100) && headSize < 40)) break;
      dataSize = Get32(h + 7) | ((flags & 0x0100) ? uint64_t(Get32(h + 32)) << 32 : 0);
    } else if (flags & 0x8000) {
      if (headSize < 11) break;
      dataSize = Get32(h + 7);
    }
    size_t rest = size - p - headSize;
    size_t copied = dataSize < rest ? size_t(dataSize) : rest;
    out.insert(out.end(), h + headSize, h + headSize + copied);
    if (copied < dataSize) break;
    p += headSize + copied;
  }
  return out;
}

class TSpanInput : public IPackedInput {
 public:
  TSpanInput(const uint8_t* data, size_t size) : Data(data), Size(size) {}
  int Read(uint8_t* buffer, size_t size, size_t& got) override {
    // Odd pieces, so that the stages gather partial blocks.
    got = std::min({size, Size - Pos, size_t(1 + Pos % 23)});
    std::memcpy(buffer, Data + Pos, got);
    Pos += got;
    return 0;
  }

 private:
  const uint8_t* Data;
  size_t Size;
  size_t Pos = 0;
};

void DrainStage(IPackedInput& stage) {
  uint8_t buffer[4096];
  size_t got = 0;
  for (int reads = 0; reads < 100000 && stage.Read(buffer, sizeof buffer, got) == 0 && got > 0; ++reads) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> image = EncryptHeaders(data, size);
  if (!image.empty()) {
    TMemorySource source(image.data(), image.size());
    TRarBlockReader reader(source);
    reader.SetHeaderKeys(&Keys());
    if (reader.Open() == 0) {
      for (int blocks = 0; blocks < 10000; ++blocks) {
        TRarBlock block = reader.Next();
        if (block.Kind != TRarBlockKind::File && block.Kind != TRarBlockKind::Skipped) break;
        const TRarEntryHeader& e = block.Entry;
        if (block.Kind != TRarBlockKind::File || e.DataPos >= image.size()) continue;
        size_t available = size_t(std::min<uint64_t>(e.PackSize, image.size() - e.DataPos));
        TSpanInput packed(image.data() + e.DataPos, available);
        TAesCbcInput stage(packed, Keys().Rar3(Salt), e.UnpSize);
        DrainStage(stage);
      }
    }
  }
  TSpanInput raw(data, size);
  TRar15Key key15;
  SetupRar15Key("fuzz", key15);
  TRar15Input stage15(raw, key15, size / 2);
  DrainStage(stage15);
  TMemorySource rawSource(data, size);
  std::vector<uint8_t> header;
  uint64_t stored = 0;
  for (uint64_t at : {uint64_t(0), uint64_t(8)}) ReadRar5EncryptedHeader(rawSource, at, Rar5Key(), header, stored);
  return 0;
}
