#include "archive/aknUnRar.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>

#include "archive/aknStreams.h"
#include "checksum/CrcEngine.h"
#include "platform/FileSystem.h"

namespace {

constexpr unsigned HostUnix = 3;
constexpr unsigned FlagSplitAfter = 0x02;
constexpr unsigned FlagEncrypted = 0x04;

int MessageOfResult(unsigned result) {
  switch (result) {
    case 10: return 25172;
    case 11: return 25253;
    case 12: return 25110;
    case 13: case 14: return 25243;
    case 15: return 25235;
    case 16: case 19: return 25136;
    case 17: return 25138;
    case 18: return 25236;
    case 21: return 25135;
    case 22: return 26517;
    default: return 0;
  }
}

bool EntryIsDirectory(const RARHeaderData& h) {
  if ((h.Flags & 0xE0) == 0xE0) return true;
  if (h.HostOS == HostUnix && h.FileAttr > 0xFF) return (h.FileAttr & 0xF000) == 0x4000;
  return (h.FileAttr & 0x10) != 0;
}

}  // namespace

TUnRar::~TUnRar() {
  if (RunningUnRar() == this) SetRunningUnRar(nullptr);
}

void TUnRar::ExtractArchive() {
  if (!UnRarLibraryAvailable()) {
    RaiseError(FCurrentVolume, "", "0", 25260);
    return;
  }
  RecoverUnixRepairs(FJournalDir);
  SetRunningUnRar(this);
  FPending = nullptr;
  const std::string archive = ArchiveFile();
  std::optional<std::uint32_t> savedMode;
  struct TRestore {
    TUnRar& Self;
    const std::string& Archive;
    std::optional<std::uint32_t>& Mode;
    ~TRestore() {
      try {
        Self.UndoRepairs({});
      } catch (...) {
      }
      if (Mode) SetFileMode(Archive, *Mode);
      SetRunningUnRar(nullptr);
    }
  } restore{*this, archive, savedMode};
  try {
    auto writable = [&] {
      const auto attr = FileAttributes(archive);
      return attr && !(*attr & (faDirectory | faReadOnly | faSysFile | faHidden));
    };
    if (!writable()) {
      savedMode = FileMode(archive);
      const auto attr = FileAttributes(archive);
      const bool fixable = attr && (*attr & (faReadOnly | faHidden));
      if (fixable) SetNormalAttributes(archive);
      if (!fixable || !writable()) Fail(archive, 25136);
    }
    if (archive.size() >= RAR_VOL_NAME_SIZE) Fail(archive, 25244);
    ProcessArchive(archive);
  } catch (...) {
  }
}

void TUnRar::ProcessArchive(const std::string& archive) {
  const TUnRarLibrary& lib = UnRarLibrary();
  FCurrentVolume = archive;
  FBytesExpected = 0;
  FVolumeToCome = 0;
  FLastPartCrc.clear();
  FVolumeRefused = false;
  struct TClose {
    TUnRar& Self;
    ~TClose() {
      if (Self.FHandle) UnRarLibrary().CloseArchive(Self.FHandle);
      Self.FHandle = nullptr;
      try {
        Self.UndoRepairs({});
      } catch (...) {
      }
    }
  } close{*this};
  try {
    ScanVolume(archive);
    std::vector<char> name(archive.begin(), archive.end());
    name.push_back('\0');
    RAROpenArchiveData open{};
    open.ArcName = name.data();
    open.OpenMode = RAR_OM_EXTRACT;
    FHandle = lib.OpenArchive(&open);
    if (open.OpenResult != 0 || !FHandle) {
      const int message = MessageOfResult(open.OpenResult != 0 ? open.OpenResult : ERAR_EOPEN);
      if (message) RaiseError(archive, "", "0", message);
      return;
    }
    lib.SetProcessDataProc(FHandle, UnRarProcessDataProc);
    lib.SetChangeVolProc(FHandle, UnRarChangeVolProc);
    FHeaderData = RARHeaderData{};
    int result = lib.ReadHeader(FHandle, &FHeaderData);
    RethrowPending();
    bool stopped = false;
    while (result == ERAR_SUCCESS || (result == ERAR_BAD_DATA && FHeaderData.HostOS == HostUnix)) {
      stopped = true;
      if (GetCancel()) break;
      FOperation = RAR_EXTRACT;
      FEntryToCome = FHeaderData.UnpSize;
      if (FHeaderData.Flags & FlagEncrypted) {
        if (!PasswordProcedure()) {
          SetFileSpec({});
          ReportError(FDestFileName, "", "0", 26517);
          break;
        }
      } else {
        SetEntryNames();
        ProcessEntry(false, true);
      }
      result = lib.ReadHeader(FHandle, &FHeaderData);
      RethrowPending();
      if (FDoneCount > 0 && FDoneCount >= FToDoCount) break;
      stopped = false;
    }
    // Headers the library cannot read (encrypted ones, a damaged block) would otherwise
    // end the run as if the archive were empty.
    if (!stopped && result != ERAR_END_ARCHIVE && !FVolumeRefused && !GetCancel()) {
      const int message = MessageOfResult(static_cast<unsigned>(result));
      if (message) ReportError(FCurrentVolume, "", "0", message);
    }
  } catch (const E_RAISE&) {
    // Reported already; the run ends here.
  }
}

void TUnRar::RethrowPending() {
  if (!FPending) return;
  std::exception_ptr pending = FPending;
  FPending = nullptr;
  std::rethrow_exception(pending);
}

void TUnRar::SetEntryNames() {
  FEntryName = FHeaderData.FileName;
  std::replace(FEntryName.begin(), FEntryName.end(), '\\', '/');
  FDestFileName = BuildDestName(FEntryName);
}

int TUnRar::ProcessEntry(bool passwordTry, bool lastAttempt) {
  const TUnRarLibrary& lib = UnRarLibrary();
  std::string destPath = ExtractFilePath(FDestFileName);
  std::string destName = FDestFileName;
  auto call = [&](int operation) {
    FOperation = operation;
    int result = lib.ProcessFile(FHandle, operation, destPath.data(), destName.data());
    RethrowPending();
    return result;
  };
  if ((FHeaderData.FileAttr & 0x4000) || !MatchEntryName(FEntryName)) return call(RAR_SKIP);
  FCrc = 0xFFFFFFFF;
  const bool isDirectory = EntryIsDirectory(FHeaderData);
  // A name that is nothing but "..", "." and separators has no place to go.
  if (FDestFileName.empty() && !isDirectory) {
    ReportError(FEntryName, "", "0", 25244);
    return call(RAR_SKIP);
  }
  if (!AcceptEntry(isDirectory)) return call(RAR_SKIP);
  // OnFileExists may have chosen another name.
  destPath = ExtractFilePath(FDestFileName);
  destName = FDestFileName;
  if (!destPath.empty() && !DirectoryExists(destPath)) ForceDirectories(destPath);
  if (isDirectory) return call(RAR_SKIP);
  SetNormalAttributes(FDestFileName);
  if (passwordTry && FileExists(FDestFileName)) {
    std::error_code ec;
    std::filesystem::remove(FDestFileName, ec);
  }
  const int result = call(RAR_EXTRACT);
  if (!passwordTry || result == 0 || lastAttempt)
    CheckCrc();
  else
    --FDoneCount;  // this try is not counted; the next one asks again
  return result;
}

void TUnRar::CheckCrc() {
  std::uint32_t expected = FHeaderData.FileCRC;
  // A solid set is read ahead whole, so the last part's CRC may have been seen before
  // this entry's header was filled in.
  if (FHeaderData.Flags & FlagSplitAfter) {
    const auto it = FLastPartCrc.find(FEntryName);
    if (it != FLastPartCrc.end()) expected = it->second;
  }
  if (!CheckEntryCrc(FCrc, expected)) --FDoneCount;
}

bool TUnRar::PasswordProcedure() {
  SetEntryNames();
  if (!OnGetPassword || PasswordAttempts() < 1) return false;
  try {
    int attempts = 0;
    while (attempts < PasswordAttempts()) {
      if (GetCancel()) return false;
      if (FPassword.empty()) {
        bool tryAgain = true;
        OnGetPassword(this, FDestFileName, FPassword, tryAgain);
        if (!tryAgain) return false;
        if (FPassword.empty()) continue;
      }
      ++attempts;
      std::vector<char> password(FPassword.begin(), FPassword.end());
      password.push_back('\0');
      UnRarLibrary().SetPassword(FHandle, password.data());
      const int result = ProcessEntry(true, attempts >= PasswordAttempts());
      if (result == 0) return true;
      FPassword.clear();
      if (FDoneCount > 0 && FDoneCount >= FToDoCount) return false;
    }
  } catch (...) {
  }
  return false;
}

int TUnRar::ProcessData(unsigned char* data, int size) {
  try {
    if (FVolumeToCome <= 0) {
      DoProgress(0, 0, 0, 0);
      FVolumeTotal = FBytesExpected;
      FVolumeToCome = FBytesExpected;
    }
    if (FOperation == RAR_SKIP) {
      FVolumeToCome -= size;
      DoProgress(0, 0, FVolumeTotal, FVolumeToCome);
      return 1;
    }
    FCrc = UpdateCrcLong(FCrc, data, static_cast<std::size_t>(size));
    if (GetCancel()) return 0;
    FEntryToCome -= size;
    FBytesExpected -= size;
    FVolumeToCome -= size;
    const std::int64_t total = FHeaderData.UnpSize;
    DoProgress(total - FEntryToCome, total, FVolumeTotal, FVolumeToCome);
    return 1;
  } catch (...) {
    FPending = std::current_exception();
    return 0;
  }
}

int TUnRar::ChangeVolume(char* arcName, int mode) {
  try {
    int result = 0;
    std::string name = arcName;
    if (OnNextVolume && NextVolume(name, VolumeNumber())) {
      // The library's buffer bounds the name; a longer one is refused.
      if (name.size() >= RAR_VOL_NAME_SIZE) {
        ReportError(name, "", "0", 25244);
      } else {
        result = 1;
        std::memcpy(arcName, name.c_str(), name.size() + 1);
      }
    }
    FVolumeRefused = result == 0;
    if (result == 1) {
      UndoRepairs(FCurrentVolume);
      FCurrentVolume = name;
    }
    if (mode == RAR_VOL_NOTIFY) ScanVolume(arcName);
    return result;
  } catch (...) {
    FPending = std::current_exception();
    return 0;
  }
}

void TUnRar::Fail(const std::string& fileName, std::int32_t code) {
  RaiseError(fileName, "", "0", code);
  throw E_RAISE(25443);
}

void TUnRar::ReportOpenError(const std::string& fileName) {
  if (!FQuietOpen) TUnBase::ReportOpenError(fileName);
}
