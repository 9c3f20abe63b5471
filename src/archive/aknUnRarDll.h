// The binding to the RAR extraction library (libunrar.so), loaded at run time.
//
// Who calls what: the program (or a test) calls InitUnRarLibrary once per user, with the
// program's folder, and DoneUnRarLibrary as often; the first loads the library, the last frees
// it. UnRarLibrary() gives the entry points: the library's own when it loaded, else inert
// stand-ins (open gives 15 and no handle, close 0, read header 12, process 13, setters nothing,
// version 0). A library without RARReadHeaderEx gets one that reads through RARReadHeader and
// widens the record (FileNameW stays empty); one without RARGetDllVersion reports 0.
// Everything runs on the GUI thread.
//
// Callbacks: the library calls UnRarChangeVolProc and UnRarProcessDataProc while RARReadHeader
// or RARProcessFile runs; they forward to the running extractor set with SetRunningUnRar (one
// extraction at a time per process). With none running they answer 0, which stops the library.
// The extractor's handlers may pump messages but must not close the archive handle.
#pragma once

#include <string>

#include "unrar/unrar.h"

// The extractor the callbacks reach; TUnRar implements it.
class IUnRarCallbacks {
 public:
  virtual ~IUnRarCallbacks() = default;
  // Mode RAR_VOL_ASK or RAR_VOL_NOTIFY; the name buffer holds RAR_VOL_NAME_SIZE bytes.
  virtual int ChangeVolume(char* arcName, int mode) = 0;
  virtual int ProcessData(unsigned char* data, int size) = 0;
};

struct TUnRarLibrary {
  void*(UNRAR_CALL* OpenArchive)(RAROpenArchiveData*);
  int(UNRAR_CALL* CloseArchive)(void*);
  int(UNRAR_CALL* ReadHeader)(void*, RARHeaderData*);
  int(UNRAR_CALL* ProcessFile)(void*, int, char*, char*);
  void(UNRAR_CALL* SetChangeVolProc)(void*, CHANGEVOLPROC);
  void(UNRAR_CALL* SetProcessDataProc)(void*, PROCESSDATAPROC);
  void(UNRAR_CALL* SetPassword)(void*, char*);
  int(UNRAR_CALL* ReadHeaderEx)(void*, RARHeaderDataEx*);
  int(UNRAR_CALL* GetDllVersion)();
};

// Counted: loads libunrar.so from exeDir, then from exeDir/../lib/tallyra (the installed
// layout), then by its plain name. True when it is available.
bool InitUnRarLibrary(const std::string& exeDir);
void DoneUnRarLibrary();
bool UnRarLibraryAvailable();
// The file the library was loaded from (empty when the stand-ins are in place).
std::string UnRarLibraryPath();
const TUnRarLibrary& UnRarLibrary();
// True when the loaded library has RARReadHeaderEx of its own, so its names are never cut.
bool UnRarLibraryHasHeaderEx();

void SetRunningUnRar(IUnRarCallbacks* extractor);
IUnRarCallbacks* RunningUnRar();

int UNRAR_CALL UnRarChangeVolProc(char* arcName, int mode);
int UNRAR_CALL UnRarProcessDataProc(unsigned char* data, int size);
