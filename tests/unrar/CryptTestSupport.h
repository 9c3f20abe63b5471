// Helpers for the encryption tests: packed inputs over memory, and a small RAR 5 header reader
// of the tests' own that finds the encryption and hash records in the sample archives (the
// library's RAR 5 block layer is not asked, so the crypto is checked on its own).
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "unrar/RarCrypt.h"
#include "unrar/RarInput.h"

std::vector<uint8_t> FromHex(const std::string& hex);
std::string ToHex(const uint8_t* data, size_t size);

// Hands out `data` in pieces whose sizes cycle through `chunks` (all of it at once when empty);
// with failAfter set, the read that would pass that many bytes returns `failure` instead.
class TMemoryInput : public IPackedInput {
 public:
  explicit TMemoryInput(std::string data, std::vector<size_t> chunks = {}) : Data(std::move(data)), Chunks(std::move(chunks)) {}
  int Read(uint8_t* buffer, size_t size, size_t& got) override;
  std::optional<size_t> FailAfter;
  int Failure = 0;
  size_t Reads = 0;

 private:
  std::string Data;
  std::vector<size_t> Chunks;
  size_t Pos = 0;
};

// Everything a stage yields, with the code it ended on.
struct TDrained {
  std::string Data;
  int Result = 0;
};
TDrained Drain(IPackedInput& input, size_t readSize = 4096);

// RAR 5 archives as the sample files hold them.
struct TRar5CryptRecord {
  uint64_t Version = 0, Flags = 0;
  unsigned Lg2Count = 0;
  std::array<uint8_t, Rar5SaltSize> Salt{};
  std::array<uint8_t, Rar5IvSize> Iv{};  // file records only
  std::optional<std::array<uint8_t, Rar5CheckValueSize>> Check;
};

struct TRar5TestHeader {
  uint64_t Type = 0;
  bool CrcOk = false;
  std::string Name;  // file and service headers
  uint64_t DataPos = 0, DataSize = 0, UnpSize = 0, Method = 0;
  std::optional<uint32_t> Crc;
  std::optional<std::array<uint8_t, 32>> Blake2sp;
  std::optional<TRar5CryptRecord> Crypt;  // the file's encryption record, or the archive's header
};

struct TRar5TestArchive {
  std::vector<TRar5TestHeader> Headers;
  std::optional<TRar5CryptRecord> HeaderCrypt;  // headers are encrypted
  int Result = 0;  // 0, or what stopped the walk (a failed header decryption, a wrong password)
};

// Walks the headers of a RAR 5 image; encrypted headers are opened with `password`.
TRar5TestArchive ReadRar5TestArchive(const std::string& image, const std::string& password = "");
