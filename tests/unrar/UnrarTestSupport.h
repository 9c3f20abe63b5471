// Helpers for the tests of libunrar.so through its C ABI. The ABI's callbacks carry no user
// pointer, so the tests' callbacks record into one process-wide log (tests run one at a time).
#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "TempDir.h"
#include "unrar/unrar.h"

std::string TestDataPath(const std::string& relative);


struct TCallbackLog {
  uint32_t Crc = 0;
  uint64_t Bytes = 0;
  int DataCalls = 0;
  int CancelAfterBytes = -1;  // the data callback answers 0 once this many bytes passed
  std::vector<std::pair<int, std::string>> VolumeCalls;
  // Answers a volume request: may rewrite the name; returns the callback's result.
  std::function<int(std::string& name, int mode)> OnVolume;
  void ResetEntry() {
    Crc = 0;
    Bytes = 0;
    DataCalls = 0;
  }
};

TCallbackLog& Log();
int UNRAR_CALL LogChangeVolume(char* arcName, int mode);
int UNRAR_CALL LogProcessData(unsigned char* data, int size);

// A handle on `path` for extraction; null with the open result in `openResult`.
void* OpenForExtraction(const std::string& path, unsigned* openResult = nullptr);

struct TListed {
  int ReadResult = 0;
  RARHeaderData Header{};
  int ProcessResult = 0;
  uint32_t DataCrc = 0;
  uint64_t DataBytes = 0;
};

// Opens `path`, reads every header and runs `operation` on each entry (destination destPath for
// extraction), with the logging callbacks installed. `openResult` and the final read result are
// returned through the pointers when given.
std::vector<TListed> RunArchive(const std::string& path, int operation, const std::string& destPath = "",
                                unsigned* openResult = nullptr, int* endResult = nullptr);

uint32_t FileCrc(const std::string& path, bool* exists = nullptr);

// An archive opened for extraction through the C ABI (Handle null when it did not open), with
// the logging data callback installed, and closed with the object.
struct TOpenedArchive {
  void* Handle = nullptr;
  explicit TOpenedArchive(const std::string& path);
  ~TOpenedArchive();
  TOpenedArchive(const TOpenedArchive&) = delete;
  TOpenedArchive& operator=(const TOpenedArchive&) = delete;
};

// One entry as the extended record and RARProcessFile give it, with the data the callback
// received: its CRC-32 and BLAKE2sp (computed here, apart from the library), and the bytes
// when they are kept.
struct TAbiEntry {
  int ReadResult = 0;
  std::string Name;
  unsigned Flags = 0, HostOS = 0, UnpVer = 0, Method = 0, FileAttr = 0, FileCRC = 0, HashType = 0, DictSize = 0;
  uint64_t UnpSize = 0, PackSize = 0;
  std::array<uint8_t, 32> Hash{};
  int Result = 0;
  uint64_t Bytes = 0;
  uint32_t Crc = 0;
  std::array<uint8_t, 32> Blake2{};
  std::string Data;
  bool Directory() const { return (Flags & 0xE0) == 0xE0; }
};

struct TAbiRun {
  unsigned OpenResult = 0;
  int EndResult = 0;  // the read that ended the walk
  std::vector<TAbiEntry> Entries;
};

struct TAbiOptions {
  int Operation = RAR_TEST;
  std::string Dest;      // folder for RAR_EXTRACT
  bool KeepData = false;
  std::string Password;  // set before the first header when not empty
  // Which entries are processed with Operation; the others are skipped.
  std::function<bool(size_t index, const TAbiEntry& entry)> Wanted;
};

// Opens the archive or set at `path` and reads every entry through RARReadHeaderEx, processing
// each; volumes are taken as the library finds them.
TAbiRun RunThroughAbi(const std::string& path, const TAbiOptions& options = {});
