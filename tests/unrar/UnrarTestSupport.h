// Helpers for the tests of libunrar.so through its C ABI. The ABI's callbacks carry no user
// pointer, so the tests' callbacks record into one process-wide log (tests run one at a time).
#pragma once
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
