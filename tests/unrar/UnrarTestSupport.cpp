#include "UnrarTestSupport.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <libdeflate.h>
#include <sstream>
#include <stdexcept>

std::string TestDataPath(const std::string& relative) {
  const char* root = std::getenv("TALLYRA_TESTDATA");
  return std::string(root ? root : "/work/shared/testdata") + "/" + relative;
}

TCallbackLog& Log() {
  static TCallbackLog log;
  return log;
}

int UNRAR_CALL LogChangeVolume(char* arcName, int mode) {
  TCallbackLog& log = Log();
  log.VolumeCalls.emplace_back(mode, arcName);
  if (!log.OnVolume) return 1;
  std::string name = arcName;
  int result = log.OnVolume(name, mode);
  if (name.size() < RAR_VOL_NAME_SIZE) std::memcpy(arcName, name.c_str(), name.size() + 1);
  return result;
}

int UNRAR_CALL LogProcessData(unsigned char* data, int size) {
  TCallbackLog& log = Log();
  log.Crc = libdeflate_crc32(log.Crc, data, size_t(size));
  log.Bytes += uint64_t(size);
  ++log.DataCalls;
  if (log.CancelAfterBytes >= 0 && log.Bytes >= uint64_t(log.CancelAfterBytes)) return 0;
  return 1;
}

void* OpenForExtraction(const std::string& path, unsigned* openResult) {
  RAROpenArchiveData open{};
  std::string name = path;
  open.ArcName = name.data();
  open.OpenMode = RAR_OM_EXTRACT;
  void* handle = RAROpenArchive(&open);
  if (openResult) *openResult = open.OpenResult;
  return handle;
}

std::vector<TListed> RunArchive(const std::string& path, int operation, const std::string& destPath,
                                unsigned* openResult, int* endResult) {
  std::vector<TListed> listed;
  void* handle = OpenForExtraction(path, openResult);
  if (!handle) return listed;
  RARSetProcessDataProc(handle, LogProcessData);
  RARSetChangeVolProc(handle, LogChangeVolume);
  std::string dest = destPath;
  for (;;) {
    TListed item;
    item.ReadResult = RARReadHeader(handle, &item.Header);
    if (item.ReadResult != ERAR_SUCCESS && item.ReadResult != ERAR_BAD_DATA) {
      if (endResult) *endResult = item.ReadResult;
      break;
    }
    Log().ResetEntry();
    item.ProcessResult = RARProcessFile(handle, operation, dest.empty() ? nullptr : dest.data(), nullptr);
    item.DataCrc = Log().Crc;
    item.DataBytes = Log().Bytes;
    listed.push_back(item);
  }
  RARCloseArchive(handle);
  return listed;
}

uint32_t FileCrc(const std::string& path, bool* exists) {
  if (exists) *exists = std::filesystem::exists(path);
  std::string data = ReadWholeFile(path);
  return libdeflate_crc32(0, data.data(), data.size());
}
