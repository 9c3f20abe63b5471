#include "archive/aknUnRarDll.h"

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

const TUnRarLibrary Stubs = {StubOpenArchive,      StubCloseArchive,       StubReadHeader, StubProcessFile,
                             StubSetChangeVolProc, StubSetProcessDataProc, StubSetPassword};

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

// Takes the seven entry points; a library that lacks one of them is not ours to use.
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
