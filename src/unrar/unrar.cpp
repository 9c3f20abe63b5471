// The entry points of the C ABI. No exception crosses the C boundary.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include "unrar/RarArchive.h"
#include "unrar/RarNames.h"
#include "unrar/unrar.h"

namespace {

TRarArchive* AsArchive(void* handle) { return static_cast<TRarArchive*>(handle); }

// A name goes into its field whole or not at all: a cut name would send a file to another
// place than the archive says.
void CopyField(char* field, size_t size, const std::string& text) {
  std::memset(field, 0, size);
  if (text.size() < size) std::memcpy(field, text.data(), text.size());
}

// UTF-8 into wide characters (UTF-32, or UTF-16 where wchar_t has 16 bits). Left empty when
// the text is not valid UTF-8 or does not fit.
void CopyWideField(wchar_t* field, size_t size, const std::string& text) {
  std::memset(field, 0, size * sizeof(wchar_t));
  if (!IsValidUtf8(text)) return;
  size_t n = 0;
  auto put = [&](uint32_t unit) {
    if (n + 1 >= size) return false;
    field[n++] = wchar_t(unit);
    return true;
  };
  for (size_t i = 0; i < text.size();) {
    auto c = uint8_t(text[i]);
    size_t more = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    uint32_t cp = more == 0 ? c : c & (0x3F >> more);
    for (size_t k = 1; k <= more; ++k) cp = cp << 6 | (uint8_t(text[i + k]) & 0x3F);
    i += more + 1;
    bool fits = true;
    if (sizeof(wchar_t) == 2 && cp >= 0x10000)
      fits = put(0xD800 + ((cp - 0x10000) >> 10)) && put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    else
      fits = put(cp);
    if (!fits) {
      std::memset(field, 0, size * sizeof(wchar_t));
      return;
    }
  }
}

// The fields both records share.
template <typename TRecord>
void FillCommon(TRecord& r, const TRarEntryHeader& h) {
  r.Flags = h.Flags;
  r.PackSize = unsigned(h.PackSize);
  r.UnpSize = unsigned(h.UnpSize);
  r.HostOS = h.HostOS;
  r.FileCRC = h.FileCRC;
  r.FileTime = h.FileTime;
  r.UnpVer = h.UnpVer;
  r.Method = h.Method;
  r.FileAttr = ReportedAttributes(h);
  r.CmtSize = 0;
  r.CmtState = 0;
}

constexpr int64_t WindowsEpochSeconds = 11644473600;

// A Windows file time: 100 ns units since 1601; 0 for none or one before 1601.
uint64_t FileTimeOf(int64_t seconds, uint32_t nanoseconds) {
  if (seconds < -WindowsEpochSeconds) return 0;
  return uint64_t(seconds + WindowsEpochSeconds) * 10000000ull + nanoseconds / 100;
}

uint64_t FileTimeOf(const TRarTime& t) { return t.Present ? FileTimeOf(t.Seconds, t.Nanoseconds) : 0; }

// The DOS time (local) as a Windows file time.
uint64_t FileTimeOfDos(uint32_t dos) {
  const int64_t when = DosTimeToUnix(dos);
  return when < 0 ? 0 : FileTimeOf(when, 0);
}

// What a caller may check of the data itself (unrar.h, "Checks").
unsigned ReportedHashType(const TRarEntryHeader& h) {
  if (h.IsDirectory() || h.RedirType != RarRedirNone) return RAR_HASH_NONE;
  if (h.HashType == RarHashCrc32 && h.Encrypted() && h.Crypt.TweakedChecksums()) return RAR_HASH_NONE;
  return h.HashType;
}

void FillEx(RARHeaderDataEx& r, const TRarEntryHeader& h, const std::string& volume) {
  CopyField(r.ArcName, sizeof r.ArcName, volume);
  CopyWideField(r.ArcNameW, sizeof r.ArcNameW / sizeof(wchar_t), volume);
  CopyField(r.FileName, sizeof r.FileName, h.Name);
  CopyWideField(r.FileNameW, sizeof r.FileNameW / sizeof(wchar_t), h.Name);
  FillCommon(r, h);
  r.PackSizeHigh = unsigned(h.PackSize >> 32);
  r.UnpSizeHigh = unsigned(h.UnpSize >> 32);
  if (h.IsDirectory()) r.DictSize = 0;
  // RAR 1.5-4.x keep the dictionary size in the file flags: 64 KiB shifted by bits 5 to 7.
  else if (h.UnpVer < RarVersion5) r.DictSize = 64u << ((h.Flags >> 5) & 7);
  else r.DictSize = unsigned(std::min<uint64_t>(h.DictSize >> 10, UINT_MAX));
  r.HashType = ReportedHashType(h);
  std::memcpy(r.Hash, h.Hash.data(), sizeof r.Hash);
  const bool known = h.RedirType >= RarRedirUnixSymlink && h.RedirType <= RarRedirFileCopy;
  r.RedirType = h.RedirType;
  r.DirTarget = known && h.RedirToDirectory ? 1 : 0;
  // The caller's buffer; left alone without one.
  if (r.RedirName && r.RedirNameSize > 0) CopyWideField(r.RedirName, r.RedirNameSize, known ? h.RedirTarget : "");
  const uint64_t mtime = h.MTime.Present ? FileTimeOf(h.MTime) : FileTimeOfDos(h.FileTime);
  const uint64_t ctime = FileTimeOf(h.CTime), atime = FileTimeOf(h.ATime);
  r.MtimeLow = unsigned(mtime);
  r.MtimeHigh = unsigned(mtime >> 32);
  r.CtimeLow = unsigned(ctime);
  r.CtimeHigh = unsigned(ctime >> 32);
  r.AtimeLow = unsigned(atime);
  r.AtimeHigh = unsigned(atime >> 32);
  std::memset(r.Reserved, 0, sizeof r.Reserved);
}

void FillLegacy(RARHeaderData& r, const TRarEntryHeader& h, const std::string& volume) {
  CopyField(r.ArcName, sizeof r.ArcName, volume);
  CopyField(r.FileName, sizeof r.FileName, h.Name);
  FillCommon(r, h);
}

// Reads the next header into either record.
template <typename TRecord, typename TFill>
int ReadInto(void* handle, TRecord* data, TFill fill) {
  if (!handle || !data) return ERAR_UNKNOWN;
  try {
    TRarEntryHeader header;
    std::string volume;
    int rc = AsArchive(handle)->ReadHeader(header, volume);
    if (rc != ERAR_SUCCESS && rc != ERAR_BAD_DATA) return rc;
    fill(*data, header, volume);
    return rc;
  } catch (const std::bad_alloc&) {
    return ERAR_NO_MEMORY;
  } catch (...) {
    return ERAR_UNKNOWN;
  }
}

}  // namespace

extern "C" {

UNRAR_API void* UNRAR_CALL RAROpenArchive(struct RAROpenArchiveData* data) {
  if (!data) return nullptr;
  data->CmtSize = 0;
  data->CmtState = 0;
  if (!data->ArcName) {
    data->OpenResult = ERAR_EOPEN;
    return nullptr;
  }
  try {
    int result = ERAR_SUCCESS;
    auto archive = TRarArchive::OpenFile(data->ArcName, data->OpenMode == RAR_OM_LIST, result);
    data->OpenResult = unsigned(result);
    return archive.release();
  } catch (const std::bad_alloc&) {
    data->OpenResult = ERAR_NO_MEMORY;
  } catch (...) {
    data->OpenResult = ERAR_UNKNOWN;
  }
  return nullptr;
}

UNRAR_API int UNRAR_CALL RARCloseArchive(void* handle) {
  if (!handle) return ERAR_ECLOSE;
  delete AsArchive(handle);
  return ERAR_SUCCESS;
}

UNRAR_API int UNRAR_CALL RARReadHeader(void* handle, struct RARHeaderData* data) {
  return ReadInto(handle, data, FillLegacy);
}

UNRAR_API int UNRAR_CALL RARReadHeaderEx(void* handle, struct RARHeaderDataEx* data) {
  return ReadInto(handle, data, FillEx);
}

UNRAR_API int UNRAR_CALL RARProcessFile(void* handle, int operation, char* destPath, char* destName) {
  if (!handle) return ERAR_UNKNOWN;
  try {
    TRarArchive* archive = AsArchive(handle);
    int rc = archive->ProcessFile(operation, destPath, destName);
    // The caller learns why a file could not be written from errno, as after a system call.
    if (rc == ERAR_ECREATE || rc == ERAR_EWRITE) errno = archive->OutputError();
    return rc;
  } catch (const std::bad_alloc&) {
    return ERAR_NO_MEMORY;
  } catch (...) {
    return ERAR_UNKNOWN;
  }
}

UNRAR_API void UNRAR_CALL RARSetChangeVolProc(void* handle, CHANGEVOLPROC proc) {
  if (handle) AsArchive(handle)->SetChangeVolProc(proc);
}

UNRAR_API void UNRAR_CALL RARSetProcessDataProc(void* handle, PROCESSDATAPROC proc) {
  if (handle) AsArchive(handle)->SetProcessDataProc(proc);
}

UNRAR_API void UNRAR_CALL RARSetPassword(void* handle, char* password) {
  if (handle) AsArchive(handle)->SetPassword(password);
}

UNRAR_API int UNRAR_CALL RARGetDllVersion(void) { return RAR_DLL_VERSION; }

}  // extern "C"
