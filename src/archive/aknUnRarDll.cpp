#include "archive/aknUnRarDll.h"

#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <mutex>

namespace {

void* UNRAR_CALL StubOpenArchive(RAROpenArchiveData* data) {
  if (data) data->OpenResult = ERAR_EOPEN;
  return nullptr;
}
int UNRAR_CALL StubCloseArchive(void*) { return ERAR_SUCCESS; }
int UNRAR_CALL StubReadHeader(void*, RARHeaderData*) { return ERAR_BAD_DATA; }
int UNRAR_CALL StubProcessFile(void*, int, char*, char*) { return ERAR_BAD_ARCHIVE; }
void UNRAR_CALL StubSetChangeVolProc(void*, CHANGEVOLPROC) {}
void UNRAR_CALL StubSetProcessDataProc(void*, PROCESSDATAPROC) {}
void UNRAR_CALL StubSetPassword(void*, char*) {}
int UNRAR_CALL StubReadHeaderEx(void*, RARHeaderDataEx*) { return ERAR_BAD_DATA; }
int UNRAR_CALL StubGetDllVersion() { return 0; }

const TUnRarLibrary Stubs = {StubOpenArchive,      StubCloseArchive,       StubReadHeader,  StubProcessFile,
                             StubSetChangeVolProc, StubSetProcessDataProc, StubSetPassword, StubReadHeaderEx,
                             StubGetDllVersion};

int UNRAR_CALL LegacyReadHeaderEx(void* handle, RARHeaderDataEx* data);

struct TLoaded {
  std::mutex Lock;
  int Users = 0;
  void* Handle = nullptr;
  std::string Path;
  TUnRarLibrary Api = Stubs;
  bool Available = false;
  IUnRarCallbacks* Running = nullptr;
};

TLoaded& Loaded() {
  static TLoaded loaded;
  return loaded;
}

template <typename T>
bool Resolve(void* handle, const char* name, T& slot) {
  void* symbol = dlsym(handle, name);
  if (!symbol) return false;
  slot = reinterpret_cast<T>(symbol);
  return true;
}

// A library of the older ABI: its record, widened. Names it had to cut cannot be told from
// whole ones here; the extractor treats a name that fills the old field as cut.
int UNRAR_CALL LegacyReadHeaderEx(void* handle, RARHeaderDataEx* data) {
  RARHeaderData old{};
  old.CmtBuf = data->CmtBuf;
  old.CmtBufSize = data->CmtBufSize;
  const int result = Loaded().Api.ReadHeader(handle, &old);
  if (result != ERAR_SUCCESS && result != ERAR_BAD_DATA) return result;
  std::memset(data->ArcName, 0, sizeof data->ArcName);
  std::memset(data->ArcNameW, 0, sizeof data->ArcNameW);
  std::memset(data->FileName, 0, sizeof data->FileName);
  std::memset(data->FileNameW, 0, sizeof data->FileNameW);
  std::memcpy(data->ArcName, old.ArcName, sizeof old.ArcName);
  std::memcpy(data->FileName, old.FileName, sizeof old.FileName);
  data->Flags = old.Flags;
  data->PackSize = old.PackSize;
  data->PackSizeHigh = 0;
  data->UnpSize = old.UnpSize;
  data->UnpSizeHigh = 0;
  data->HostOS = old.HostOS;
  data->FileCRC = old.FileCRC;
  data->FileTime = old.FileTime;
  data->UnpVer = old.UnpVer;
  data->Method = old.Method;
  data->FileAttr = old.FileAttr;
  data->CmtSize = old.CmtSize;
  data->CmtState = old.CmtState;
  data->DictSize = 0;
  data->HashType = (old.Flags & 0xE0) == 0xE0 ? RAR_HASH_NONE : RAR_HASH_CRC32;
  return result;
}

// Takes the seven entry points of the first ABI; a library that lacks one of them is not ours
// to use. The later two are optional.
bool TryLoad(TLoaded& l, const std::string& file) {
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return false;
  TUnRarLibrary api{};
  if (!Resolve(handle, "RAROpenArchive", api.OpenArchive) || !Resolve(handle, "RARCloseArchive", api.CloseArchive) ||
      !Resolve(handle, "RARReadHeader", api.ReadHeader) || !Resolve(handle, "RARProcessFile", api.ProcessFile) ||
      !Resolve(handle, "RARSetChangeVolProc", api.SetChangeVolProc) ||
      !Resolve(handle, "RARSetProcessDataProc", api.SetProcessDataProc) ||
      !Resolve(handle, "RARSetPassword", api.SetPassword)) {
    dlclose(handle);
    return false;
  }
  if (!Resolve(handle, "RARReadHeaderEx", api.ReadHeaderEx)) api.ReadHeaderEx = LegacyReadHeaderEx;
  if (!Resolve(handle, "RARGetDllVersion", api.GetDllVersion)) api.GetDllVersion = StubGetDllVersion;
  l.Handle = handle;
  l.Api = api;
  l.Available = true;
  l.Path = file;
  return true;
}

}  // namespace

bool InitUnRarLibrary(const std::string& exeDir) {
  TLoaded& l = Loaded();
  std::lock_guard<std::mutex> guard(l.Lock);
  if (l.Users++ > 0) return l.Available;
  // A path with a separator makes dlopen take exactly that file; the plain name searches.
  // An installed copy keeps its private library in PREFIX/lib/tallyra beside PREFIX/bin,
  // found from the program's own folder, never through the loader's search path.
  if (!exeDir.empty()) {
    std::string local = exeDir;
    if (local.back() != '/') local += '/';
    if (TryLoad(l, local + "libunrar.so")) return true;
    const std::string installed = std::filesystem::path(local + "../lib/tallyra/libunrar.so").lexically_normal();
    if (TryLoad(l, installed)) return true;
  }
  TryLoad(l, "libunrar.so");
  return l.Available;
}

void DoneUnRarLibrary() {
  TLoaded& l = Loaded();
  std::lock_guard<std::mutex> guard(l.Lock);
  if (l.Users == 0 || --l.Users > 0) return;
  if (l.Handle) dlclose(l.Handle);
  l.Handle = nullptr;
  l.Api = Stubs;
  l.Available = false;
  l.Path.clear();
}

bool UnRarLibraryAvailable() { return Loaded().Available; }
std::string UnRarLibraryPath() { return Loaded().Path; }
const TUnRarLibrary& UnRarLibrary() { return Loaded().Api; }
bool UnRarLibraryHasHeaderEx() { return Loaded().Available && Loaded().Api.ReadHeaderEx != LegacyReadHeaderEx; }

void SetRunningUnRar(IUnRarCallbacks* extractor) { Loaded().Running = extractor; }
IUnRarCallbacks* RunningUnRar() { return Loaded().Running; }

int UNRAR_CALL UnRarChangeVolProc(char* arcName, int mode) {
  IUnRarCallbacks* running = Loaded().Running;
  return running ? running->ChangeVolume(arcName, mode) : 0;
}

int UNRAR_CALL UnRarProcessDataProc(unsigned char* data, int size) {
  IUnRarCallbacks* running = Loaded().Running;
  return running ? running->ProcessData(data, size) : 0;
}
