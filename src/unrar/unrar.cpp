// The seven entry points. No exception crosses the C boundary.
#include <cstring>
#include <new>

#include "unrar/RarArchive.h"
#include "unrar/unrar.h"

namespace {

TRarArchive* AsArchive(void* handle) { return static_cast<TRarArchive*>(handle); }

// Copies text into a fixed field, cutting at a character boundary rather than inside one.
void CopyField(char* field, size_t size, const std::string& text) {
  size_t n = text.size() < size ? text.size() : size - 1;
  if (n < text.size())
    while (n > 0 && (uint8_t(text[n]) & 0xC0) == 0x80) --n;
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, size - n);
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
  if (!handle || !data) return ERAR_UNKNOWN;
  try {
    TRarEntryHeader header;
    std::string volume;
    int rc = AsArchive(handle)->ReadHeader(header, volume);
    if (rc != ERAR_SUCCESS && rc != ERAR_BAD_DATA) return rc;
    CopyField(data->ArcName, sizeof data->ArcName, volume);
    CopyField(data->FileName, sizeof data->FileName, header.Name);
    data->Flags = header.Flags;
    data->PackSize = unsigned(header.PackSize);
    data->UnpSize = unsigned(header.UnpSize);
    data->HostOS = header.HostOS;
    data->FileCRC = header.FileCRC;
    data->FileTime = header.FileTime;
    data->UnpVer = header.UnpVer;
    data->Method = header.Method;
    data->FileAttr = header.Attr;
    data->CmtSize = 0;
    data->CmtState = 0;
    return rc;
  } catch (const std::bad_alloc&) {
    return ERAR_NO_MEMORY;
  } catch (...) {
    return ERAR_UNKNOWN;
  }
}

UNRAR_API int UNRAR_CALL RARProcessFile(void* handle, int operation, char* destPath, char* destName) {
  if (!handle) return ERAR_UNKNOWN;
  try {
    return AsArchive(handle)->ProcessFile(operation, destPath, destName);
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

}  // extern "C"
