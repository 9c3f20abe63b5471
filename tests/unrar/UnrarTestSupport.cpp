#include "UnrarTestSupport.h"

#include <blake2.h>

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

TOpenedArchive::TOpenedArchive(const std::string& path) {
  RAROpenArchiveData open{};
  std::string name = path;
  open.ArcName = name.data();
  open.OpenMode = RAR_OM_EXTRACT;
  Handle = RAROpenArchive(&open);
  if (Handle) RARSetProcessDataProc(Handle, LogProcessData);
}

TOpenedArchive::~TOpenedArchive() {
  if (Handle) RARCloseArchive(Handle);
}

uint32_t FileCrc(const std::string& path, bool* exists) {
  if (exists) *exists = std::filesystem::exists(path);
  std::string data = ReadWholeFile(path);
  return libdeflate_crc32(0, data.data(), data.size());
}

namespace {

struct TAbiData {
  uint64_t Bytes = 0;
  uint32_t Crc = 0;
  blake2sp_state Blake;
  bool Keep = false;
  std::string Data;
};
TAbiData* AbiData = nullptr;

int UNRAR_CALL AbiProcessData(unsigned char* data, int size) {
  if (!AbiData) return 1;
  AbiData->Bytes += uint64_t(size);
  AbiData->Crc = libdeflate_crc32(AbiData->Crc, data, size_t(size));
  blake2sp_update(&AbiData->Blake, data, size_t(size));
  if (AbiData->Keep) AbiData->Data.append(reinterpret_cast<const char*>(data), size_t(size));
  return 1;
}

}  // namespace

TAbiRun RunThroughAbi(const std::string& path, const TAbiOptions& options) {
  TAbiRun run;
  RAROpenArchiveData open{};
  std::string name = path;
  open.ArcName = name.data();
  open.OpenMode = RAR_OM_EXTRACT;
  void* handle = RAROpenArchive(&open);
  run.OpenResult = open.OpenResult;
  if (!handle) return run;
  RARSetProcessDataProc(handle, AbiProcessData);
  RARSetChangeVolProc(handle, LogChangeVolume);
  std::string password = options.Password;
  if (!password.empty()) RARSetPassword(handle, password.data());
  std::string dest = options.Dest;
  auto record = std::make_unique<RARHeaderDataEx>();
  for (;;) {
    *record = RARHeaderDataEx{};
    TAbiEntry e;
    e.ReadResult = RARReadHeaderEx(handle, record.get());
    if (e.ReadResult != ERAR_SUCCESS && e.ReadResult != ERAR_BAD_DATA) {
      run.EndResult = e.ReadResult;
      break;
    }
    e.Name = record->FileName;
    e.Flags = record->Flags;
    e.HostOS = record->HostOS;
    e.UnpVer = record->UnpVer;
    e.Method = record->Method;
    e.FileAttr = record->FileAttr;
    e.FileCRC = record->FileCRC;
    e.HashType = record->HashType;
    e.DictSize = record->DictSize;
    e.UnpSize = uint64_t(record->UnpSizeHigh) << 32 | record->UnpSize;
    e.PackSize = uint64_t(record->PackSizeHigh) << 32 | record->PackSize;
    std::memcpy(e.Hash.data(), record->Hash, e.Hash.size());
    const bool wanted = !options.Wanted || options.Wanted(run.Entries.size(), e);
    TAbiData data;
    blake2sp_init(&data.Blake, 32);
    data.Keep = options.KeepData;
    AbiData = &data;
    e.Result = RARProcessFile(handle, wanted ? options.Operation : RAR_SKIP, dest.empty() ? nullptr : dest.data(), nullptr);
    AbiData = nullptr;
    e.Bytes = data.Bytes;
    e.Crc = data.Crc;
    blake2sp_final(&data.Blake, e.Blake2.data(), e.Blake2.size());
    e.Data = std::move(data.Data);
    run.Entries.push_back(std::move(e));
  }
  RARCloseArchive(handle);
  return run;
}
