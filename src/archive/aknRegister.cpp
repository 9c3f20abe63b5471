#include "archive/aknRegister.h"

#include "platform/FileHandle.h"
#include "platform/FileSystem.h"

namespace {

const char* const CreditText = "Tallyra archive components: archive detection and RAR extraction";

}  // namespace

TRegisterArkon::~TRegisterArkon() {
  if (FHandle >= 0) FileClose(FHandle);
}

// The name is kept as given: "/" already is the separator here, and "\" is an
// ordinary character in a file name.
void TRegisterArkon::SetArchiveFile(const std::string& fileName) {
  if (!FileExists(fileName)) {
    FArchiveFile.clear();
    FDetection = TDetection{};
    FVolumeNumber = 0;
    return;
  }
  FArchiveFile = fileName;
  FWorkingOffset = 1;
  Detect();
  FVolumeNumber = IsRecognised(FDetection.ArcType) ? VolumeNumberFromName(FArchiveFile, FDetection.ArcType) : 0;
}

void TRegisterArkon::SetArcType(TArcType) { Detect(); }

void TRegisterArkon::Detect() { FDetection = DetectArchive(FArchiveFile); }

std::string TRegisterArkon::About() const { return CreditText; }

void TRegisterArkon::SetAbout(const std::string&) {}

bool TRegisterArkon::OpenFileRead(const std::string& fileName) {
  CloseFileHandle();
  FHandle = FileOpen(fileName, fmOpenRead | fmShareDenyWrite);
  if (FHandle < 0) {
    FDetection.ArchiveSize = 0;
    return false;
  }
  FDetection.ArchiveSize = GetFileSize();
  return true;
}

bool TRegisterArkon::OpenFileReadWrite(const std::string& fileName) {
  CloseFileHandle();
  FHandle = FileOpen(fileName, fmOpenReadWrite | fmShareDenyWrite);
  if (FHandle < 0) {
    ReportOpenError(fileName);
    return false;
  }
  return true;
}

bool TRegisterArkon::SetFilePos(std::int64_t position) {
  return FHandle >= 0 && FileSeek(FHandle, position, 0) == position;
}

std::int64_t TRegisterArkon::GetFileSize() const {
  if (FHandle < 0) return -1;
  const std::int64_t pos = FileSeek(FHandle, 0, 1);
  const std::int64_t size = FileSeek(FHandle, 0, 2);
  if (pos >= 0) FileSeek(FHandle, pos, 0);
  return size;
}

std::int64_t TRegisterArkon::ReadFileBytes(void* buffer, std::int64_t count) {
  return FHandle < 0 ? -1 : FileRead(FHandle, buffer, count);
}

std::int64_t TRegisterArkon::WriteFileBytes(const void* buffer, std::int64_t count) {
  return FHandle < 0 ? -1 : FileWrite(FHandle, buffer, count);
}

bool TRegisterArkon::CloseFileHandle() {
  if (FHandle < 0) return false;
  const bool ok = FileClose(FHandle);
  FHandle = -1;
  return ok;
}

void TRegisterArkon::ReportOpenError(const std::string&) {}
