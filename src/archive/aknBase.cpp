#include "archive/aknBase.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "archive/aknMasks.h"
#include "archive/aknMessages.h"
#include "archive/aknStreams.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"

namespace {

constexpr int msgUserCanceled = 25443;

std::string CurrentDirectory() {
  std::error_code ec;
  const auto dir = std::filesystem::current_path(ec);
  return ec ? std::string("/") : AddBackslash(dir.string());
}

std::string UpperCase(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// Folder part of a stored name or mask with its trailing '/', empty without one.
std::string StoredFolder(const std::string& name) {
  const auto at = name.find_last_of("/:");
  return at == std::string::npos ? std::string() : name.substr(0, at) + "/";
}

std::string Slashed(std::string s) {
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

}  // namespace

// ---- TaknTimer

void TaknTimer::Start() {
  FElapsed = 0;
  FStartTick = FClock->MilliSeconds();
  FPauseDepth = 0;
  FRunning = true;
}

void TaknTimer::Stop() {
  if (!FRunning) return;
  if (FPauseDepth > 0) {
    FPauseDepth = 1;
    Resume();
  }
  FElapsed = static_cast<float>(FClock->MilliSeconds() - FStartTick) / 1000.0f;
  FRunning = false;
}

void TaknTimer::Pause() {
  if (!FRunning) return;
  if (FPauseDepth++ == 0) FPauseTick = FClock->MilliSeconds();
}

void TaknTimer::Resume() {
  if (!FRunning || FPauseDepth == 0) return;
  if (--FPauseDepth == 0) FStartTick += FClock->MilliSeconds() - FPauseTick;
}

// ---- TDiskManager

TDiskManager::TDiskManager(TZipCommon& owner) : FOwner(owner) {
  Drives = [] { return ListDrives(); };
  VolumeInfo = [](const std::string& root) {
    std::error_code ec;
    const auto info = std::filesystem::space(root, ec);
    (void)info;
    return !ec;
  };
  UnlistedMount = [](const std::string& path) { return PathIsOnReadOnlyMount(path); };
}

bool TDiskManager::Check(const std::string& path) {
  std::string full = path;
  if (full.empty() || full[0] != '/') full = CurrentDirectory() + full;
  const TDriveInfo drive = DriveOfPath(Drives ? Drives() : std::vector<TDriveInfo>{}, full);
  FDrive = drive.Root;
  if (drive.Root.empty()) {
    // No listed mount holds the path: the table is incomplete (a chroot, a mount namespace), not
    // the drive gone, so the file system itself is asked.
    const std::optional<bool> readOnly = UnlistedMount ? UnlistedMount(full) : std::nullopt;
    if (!readOnly) {
      FOwner.ReportError(full, "", "0", 25170);
      return false;
    }
    if (*readOnly) {
      FOwner.ReportError(full, "", "0", 25171);
      return false;
    }
    return true;
  }
  if (drive.ReadOnly) {
    FOwner.ReportError(drive.Root, "", "0", 25171);
    return false;
  }
  while (VolumeInfo && !VolumeInfo(drive.Root)) {
    const std::string text = AddBackslash(drive.Root) + MessageText(25170) + "\r\n\r\n" +
                             SystemErrorText(LastSystemError());
    if (!RetryCancelBox || !RetryCancelBox(text)) {
      FOwner.ReportError(drive.Root, "", "0", 25170);
      return false;
    }
  }
  return true;
}

// ---- TZipCommon

TZipCommon::TZipCommon() : FDiskManager(std::make_unique<TDiskManager>(*this)) { ResetProgressDispatcher(); }

TZipCommon::~TZipCommon() = default;

void TZipCommon::SetExtractDir(const std::string& value) {
  if (!value.empty())
    FExtractDir = AddBackslash(value);
  else
    FExtractDir = ArchiveFile().empty() ? std::string() : ExtractFilePath(ArchiveFile());
}

bool TZipCommon::GetCancel() const { return *FCancelPtr; }

// Reported once: an OnError handler that cancels again must not loop.
void TZipCommon::SetCancel(bool value) {
  const bool was = *FCancelPtr;
  *FCancelPtr = value;
  if (value && !was) ReportError(ArchiveFile(), FDestFileName, "0", msgUserCanceled);
}

std::vector<std::string> SafeNameParts(const std::string& storedName) {
  std::string name = storedName;
  // A drive prefix ("C:" or "C:\") belongs to the machine that made the archive.
  if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]))) name.erase(0, 2);
  std::vector<std::string> parts;
  std::string part;
  auto flush = [&] {
    if (!part.empty() && part != "." && part != "..") parts.push_back(part);
    part.clear();
  };
  for (char c : name) {
    if (c == '\\' || c == '/')
      flush();
    else
      part += c;
  }
  flush();
  return parts;
}

// The stored folder is joined onto ExtractDir only after "..", "." and roots are gone,
// so an entry can never land outside the folder the user chose.
const std::string& TZipCommon::ResolvedExtractDir() {
  if (FExtractDir.empty()) SetExtractDir({});
  if (FExtractDir.empty()) FExtractDir = CurrentDirectory();
  if (FExtractDir[0] != '/') FExtractDir = CurrentDirectory() + FExtractDir;
  return FExtractDir;
}

std::string TZipCommon::BuildDestName(const std::string& storedName) {
  if (storedName.empty()) return {};
  ResolvedExtractDir();
  const std::vector<std::string> parts = SafeNameParts(storedName);
  // A name that ends in a separator, or is nothing but dots, names no file.
  const char last = storedName.back();
  if (parts.empty() || last == '\\' || last == '/') return {};
  std::string folder = FExtractDir;
  if (FUseStoredDirs)
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) folder += parts[i] + "/";
  return folder + parts.back();
}

bool TZipCommon::MatchEntryName(const std::string&) { return false; }

void TZipCommon::RaiseError(const std::string& FileName, const std::string& ExtendedMsg, const std::string& VolumeID,
                            std::int32_t ECode) {
  FTimer.Pause();
  struct TResume {
    TaknTimer& Timer;
    ~TResume() { Timer.Resume(); }
  } resume{FTimer};
  const bool cancelled = GetCancel();
  if (cancelled) ECode = msgUserCanceled;
  if (OnError) OnError(this, FileName, ExtendedMsg, VolumeID, ECode);
  if (!cancelled) throw E_RAISE(ECode);
}

void TZipCommon::ReportError(const std::string& FileName, const std::string& ExtendedMsg, const std::string& VolumeID,
                             std::int32_t ECode) {
  FTimer.Pause();
  struct TResume {
    TaknTimer& Timer;
    ~TResume() { Timer.Resume(); }
  } resume{FTimer};
  if (GetCancel()) ECode = msgUserCanceled;
  if (OnError) OnError(this, FileName, ExtendedMsg, VolumeID, ECode);
}

void TZipCommon::ReportOpenError(const std::string& fileName) { ReportError(fileName, "", "0", 25235); }

std::uint8_t TZipCommon::Percentage(std::int64_t done, std::int64_t total) {
  if (total <= 0) return 0;
  const double p = static_cast<double>(done) * 100.0 / static_cast<double>(total) + 0.5;
  if (p < 0) return 0;
  if (p > 100) return 100;
  return static_cast<std::uint8_t>(p);
}

void TZipCommon::ResetProgressDispatcher() {
  FProgressDispatcher = [this](TZipCommon*, std::uint8_t byFile, std::uint8_t byArchive) {
    DefaultDispatch(byFile, byArchive);
  };
}

void TZipCommon::DefaultDispatch(std::uint8_t byFile, std::uint8_t byArchive) {
  if (PumpMessages) PumpMessages();
  if (OnProgress) OnProgress(this, byFile, byArchive);
}

void TZipCommon::DoProgress(std::int64_t done, std::int64_t size, std::int64_t volumeTotal,
                            std::int64_t volumeToCome) {
  const std::uint8_t byFile = Percentage(done, size);
  const std::uint8_t byArchive = Percentage(volumeTotal - volumeToCome, volumeTotal);
  try {
    if (FProgressDispatcher) FProgressDispatcher(this, byFile, byArchive);
  } catch (...) {
    // A progress report never ends a run.
  }
}

bool TZipCommon::NextVolume(std::string& volumeName, std::int32_t volumeId) {
  const std::string idText = std::to_string(volumeId);
  if (volumeId > 999) {
    ReportError(volumeName, "", idText, 25251);
    return false;
  }
  if (volumeName.empty()) {
    ReportError(volumeName, "", idText, 25244);
    return false;
  }
  if (!OnNextVolume) {
    ReportError(volumeName, "OnNextVolumeFile", idText, 25270);
    return false;
  }
  if (ExtractFilePath(volumeName).empty()) volumeName = CurrentDirectory() + volumeName;
  for (;;) {
    bool cancel = true;
    OnNextVolume(this, volumeName, idText, FileExists(volumeName), cancel);
    if (cancel) return false;
    if (FileExists(volumeName)) break;
  }
  SetVolumeNumber(VolumeNumber() + 1);
  return true;
}

// ---- TUnBase

std::int32_t TUnBase::Extract() {
  FOperationMode = 0;
  ClearCancel();
  FDoneCount = 0;
  FToDoCount = 0;
  FEntryToCome = FBytesExpected = FVolumeTotal = FVolumeToCome = 0;
  ResetProgressDispatcher();
  if (FCpuType == cpt80486) FCpuType = cptAuto;
  FCurrentVolume = ArchiveFile();
  const std::string remembered = ArchiveFile();
  bool activated = false;
  bool started = false;
  try {
    if (ArchiveFile().empty()) RaiseError(ArchiveFile(), "", "0", 25192);
    // The drive that is written to is the target's: an archive on a CD or a read-only share
    // is only read.
    if (!ArchiveFile().empty() && DiskManager().Check(ResolvedExtractDir())) {
      std::unique_ptr<TaknReadStream> stream;
      const TArcType type = ArcType();
      if (type != atAce && type != atAceExe && type != atCab && type != atRar && type != atRarExe) {
        int handle = -1;
        try {
          stream = std::make_unique<TaknReadStream>(ArchiveFile(), handle, fmOpenRead | fmShareDenyNone);
        } catch (const EStreamError&) {
          RaiseError(ArchiveFile(), "", "0", 25235);
        }
      }
      if (OnActivate) OnActivate(this);
      activated = true;
      FDestFileName.clear();
      SetWorkingOffset(ArchiveOffset());
      if (OnElapsedTime) Timer().Start();
      started = true;
      try {
        ExtractArchive();
      } catch (...) {
      }
    }
  } catch (...) {
    // A run ends quietly; OnError has told the caller why.
  }
  try {
    if (started && OnElapsedTime) {
      Timer().Stop();
      OnElapsedTime(this, Timer().ElapsedTime());
    }
    if (activated && OnDeactivate) OnDeactivate(this);
  } catch (...) {
  }
  if (ArchiveFile() != remembered) SetArchiveFile(remembered);
  return FDoneCount;
}

bool TUnBase::AcceptEntry(bool isDirectory) {
  if (isDirectory) return true;
  Timer().Pause();
  struct TResume {
    TaknTimer& Timer;
    ~TResume() { Timer.Resume(); }
  } resume{Timer()};
  bool extract = true;
  if (OnBegin) OnBegin(this, FDestFileName, FDoneCount, extract);
  if (GetCancel() || !extract) return false;
  if (!ConfirmOverwrites()) {
    if (OverwriteMode() != omOverwrite) return false;
    ++FDoneCount;
    return true;
  }
  if (!OnFileExists) {
    ReportError(ArchiveFile(), "OnFileExists", "0", 25270);
    SetOverwriteMode(omSkip);
  } else {
    TOverwriteMode mode = omOverwrite;
    while (!GetCancel() && mode == omOverwrite && FileExists(FDestFileName)) {
      std::string newName;
      OnFileExists(this, FDestFileName, newName, mode);
      if (mode != omOverwrite) break;
      if (newName.empty() || UpperCase(newName) == UpperCase(FDestFileName)) break;
      FDestFileName = newName;
    }
    SetOverwriteMode(mode);
  }
  if (GetCancel() || OverwriteMode() != omOverwrite || FDestFileName.empty()) return false;
  ++FDoneCount;
  if (FileExists(FDestFileName)) {
    const auto attr = FileAttributes(FDestFileName);
    if (attr && (*attr & faReadOnly) && !(*attr & (faSysFile | faDirectory))) SetNormalAttributes(FDestFileName);
  }
  return true;
}

// Folders may be written with '\' or '/' in names and masks alike; both compare as '/'.
bool TUnBase::MatchEntryName(const std::string& storedName) {
  std::string name = Slashed(storedName);
  const std::string entryFolder = StoredFolder(name);
  if (FileSpec().empty()) return false;
  bool extended = false;
  for (const std::string& item : FileSpec()) {
    if (item.empty()) continue;
    const std::string mask = Slashed(item);
    if (!FRecurseDirs && UpperCase(StoredFolder(mask)) != UpperCase(entryFolder)) return false;
    if (!extended && ExtractFileExt(name).empty()) {
      name += ".*";
      extended = true;
    }
    if (MatchesMask(name, mask)) return true;
  }
  return false;
}

bool TUnBase::CheckEntryCrc(std::uint32_t crc, std::uint32_t stored) {
  return ReportCheck(crc == stored || crc == ~stored);
}

bool TUnBase::ReportCheck(bool passed) {
  if (OnEnd)
    OnEnd(this, FDestFileName, passed);
  else if (!passed)
    ReportError(FDestFileName, "", "0", 25151);
  return passed;
}
