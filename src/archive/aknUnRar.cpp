#include "archive/aknUnRar.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "archive/aknStreams.h"
#include "checksum/CrcEngine.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "platform/Utf8.h"
#include "platform/Wipe.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned HostUnix = 3;
constexpr unsigned FlagSplitBefore = 0x01;
constexpr unsigned FlagSplitAfter = 0x02;
constexpr unsigned FlagEncrypted = 0x04;
constexpr unsigned FlagSolid = 0x10;  // the entry continues the solid stream of the one before
// The legacy record's name field; an older library cuts longer names to fit it.
constexpr std::size_t LegacyNameSize = 260;

constexpr std::int32_t msgBrokenChain = 25135;
constexpr std::int32_t msgInvalidFileName = 25244;
constexpr std::int32_t msgUnsupportedVersion = 25328;

// The extended message of a password failure where the handler gave up before any try.
const char* const NoPasswordGivenText = "No password given";
const char* const SolidBrokenText = "A file before it in the solid archive could not be unpacked";

// Encrypted entries of unpack versions before 1.5 and from 2.0 to 2.6 use the ciphers of those
// versions, which our library does not decrypt: its 14 for them says so, not that the
// compression is unknown.
bool IsOldCipher(const RARHeaderDataEx& h) { return h.UnpVer < 15 || (h.UnpVer >= 20 && h.UnpVer < 29); }
std::string OldCipherText(const RARHeaderDataEx& h) {
  return std::string(h.UnpVer < 15 ? "RAR 1.3" : "RAR 2.0") + " encryption is not supported";
}
constexpr std::int32_t msgSkippedFile = 26800;
// Room for the target of a link in the extended record.
constexpr std::size_t LinkTargetSize = 1024;

enum class TRarStep { Open, ReadHeader, ProcessFile };

// What a library result came with: the call, whether a volume was missing or refused on the
// way, and the system's error code after the call.
struct TResult {
  int Code;
  TRarStep Step;
  bool VolumeStopped = false;
  int SystemError = 0;
};

// The one place where library results become message numbers. After RARProcessFile a result
// says why one entry failed and always names a reason; elsewhere 0 means nothing to report.
std::int32_t MessageOfResult(const TResult& r) {
  if (r.Step == TRarStep::ProcessFile) {
    switch (r.Code) {
      case ERAR_SUCCESS: return 0;
      case ERAR_BAD_DATA: return 25153;  // the data ended before the file did: the decoder failed
      case ERAR_UNKNOWN_FORMAT: return 25326;
      case ERAR_ECREATE: return r.SystemError == ENAMETOOLONG ? msgInvalidFileName : 25237;
      case ERAR_EOPEN: return r.VolumeStopped ? msgBrokenChain : 25235;
      case ERAR_UNKNOWN: return 25355;
      case ERAR_SKIPPED_LINK: return msgSkippedFile;
      default: break;
    }
  }
  switch (r.Code) {
    case ERAR_SUCCESS: return 0;
    case ERAR_END_ARCHIVE: return 25172;
    case ERAR_NO_MEMORY: return 25253;
    case ERAR_BAD_DATA: return 25110;
    case ERAR_BAD_ARCHIVE:
    case ERAR_UNKNOWN_FORMAT: return 25243;
    case ERAR_EOPEN: return 25235;
    case ERAR_ECREATE:
    case ERAR_EWRITE: return 25136;
    case ERAR_ECLOSE: return 25138;
    case ERAR_EREAD: return 25236;
    case ERAR_UNKNOWN: return msgBrokenChain;
    case ERAR_MISSING_PASSWORD:
    case ERAR_BAD_PASSWORD: return 26517;
    case ERAR_EREFERENCE: return 25192;  // the file a link or copy refers to is not there
    default: return r.Step == TRarStep::ProcessFile ? 25355 : 0;
  }
}

bool EntryIsDirectory(const RARHeaderDataEx& h) {
  // A link to a folder is a link: the library makes it or says why not.
  if (h.RedirType != 0) return false;
  if ((h.Flags & 0xE0) == 0xE0) return true;
  // A library that reports a Unix mode unmapped: the file type tells a folder.
  if (h.HostOS == HostUnix && h.FileAttr > 0xFF) return (h.FileAttr & 0xF000) == 0x4000;
  return (h.FileAttr & 0x10) != 0;
}

std::uint64_t UnpackedSize(const RARHeaderDataEx& h) { return std::uint64_t(h.UnpSizeHigh) << 32 | h.UnpSize; }

std::string WideToUtf8(const wchar_t* text, std::size_t size) {
  std::string out;
  for (std::size_t i = 0; i < size && text[i]; ++i) {
    auto c = static_cast<std::uint32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00 && i + 1 < size) {
      const auto low = static_cast<std::uint32_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    AppendUtf8(out, c);
  }
  return out;
}

// The system's text for an error, without the line break the report layouts add.
std::string SystemReason(int code) {
  if (code == 0) return {};
  std::string text = SystemErrorText(code);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

// What a destination was before an entry was written, so that what a failed attempt left
// can be told from a file that stood there before.
struct TFileStamp {
  bool Exists = false;
  std::uintmax_t Size = 0;
  fs::file_time_type Time{};

  static TFileStamp Of(const std::string& path) {
    std::error_code ec;
    TFileStamp s;
    if (!fs::is_regular_file(fs::symlink_status(path, ec))) return s;
    s.Size = fs::file_size(path, ec);
    s.Time = fs::last_write_time(path, ec);
    s.Exists = !ec;
    return s;
  }
  bool operator==(const TFileStamp&) const = default;
};

// The folders made for one entry. A failed entry takes them away again while they are empty,
// so that no folder is left for a file that never came.
class TEntryFolders {
 public:
  explicit TEntryFolders(TUnRar& owner) : FOwner(owner) {}
  std::error_code Make(const std::string& folder) { return FOwner.MakeFoldersInside(folder, &FMade); }
  void RemoveEmpty() {
    std::error_code ec;
    for (auto it = FMade.rbegin(); it != FMade.rend(); ++it) fs::remove(*it, ec);  // fails on a non-empty one
    FMade.clear();
  }

 private:
  TUnRar& FOwner;
  std::vector<std::string> FMade;
};

TUnRar::~TUnRar() {
  if (RunningUnRar() == this) SetRunningUnRar(nullptr);
}

std::error_code TUnRar::MakeFoldersInside(const std::string& folder, std::vector<std::string>* made) {
  fs::path path = fs::path(folder).lexically_normal();
  if (!path.has_filename()) path = path.parent_path();
  fs::path root = fs::path(ResolvedExtractDir()).lexically_normal();
  if (!root.has_filename()) root = root.parent_path();
  const fs::path below = path.lexically_relative(root);
  // A folder outside ExtractDir (a name OnFileExists chose) is walked from the file system's root.
  const bool inside = !below.empty() && *below.begin() != "..";
  std::error_code ec;
  fs::path at = inside ? root : path.root_path();
  if (inside && !fs::is_directory(root, ec)) {
    // ExtractDir itself is the user's folder: made as named, links and all.
    fs::create_directories(root, ec);
    if (ec) return ec;
  }
  for (const fs::path& part : inside ? below : path.relative_path()) {
    if (part == ".") continue;
    at /= part;
    const fs::file_status status = fs::symlink_status(at, ec);
    // Nothing is made or written through a link that stands in the destination.
    if (inside && fs::is_symlink(status)) return std::make_error_code(std::errc::too_many_symbolic_link_levels);
    if (fs::is_directory(fs::status(at, ec))) continue;
    // A file where the folder should be: the reason a file inside cannot be made.
    if (fs::exists(status)) return std::make_error_code(std::errc::not_a_directory);
    fs::create_directory(at, ec);
    if (ec) return ec;
    if (made) made->push_back(at.string());
  }
  return {};
}

void TUnRar::ExtractArchive() {
  if (!UnRarLibraryAvailable()) {
    RaiseError(FCurrentVolume, "", "0", 25260);
    return;
  }
  SetRunningUnRar(this);
  FPending = nullptr;
  struct TRestore {
    ~TRestore() { SetRunningUnRar(nullptr); }
  } restore;
  const std::string archive = ArchiveFile();
  try {
    if (archive.size() >= RAR_VOL_NAME_SIZE) Fail(archive, msgInvalidFileName);
    ProcessArchive(archive);
  } catch (...) {
  }
}

void TUnRar::ProcessArchive(const std::string& archive) {
  FCurrentVolume = archive;
  FBytesExpected = 0;
  FVolumeToCome = 0;
  FLastPartCrc.clear();
  FAskedVolume.clear();
  FMissingVolume.clear();
  FVolumeMissing = FVolumeStopped = FMissingReported = FSolidBroken = FSolidLost = false;
  FSetContinues = true;
  FScanIncomplete = false;
  FEntriesFound = 0;
  FReachedEnd = false;
  FHeadersHidden = FHeadersLocked = false;
  struct TClose {
    TUnRar& Self;
    ~TClose() {
      Self.CloseHandle();
      WipeString(Self.FPassword);
    }
  } close{*this};
  try {
    ScanVolume(archive);
    if (!OpenHandle(archive)) return;
    FHeaderData = RARHeaderDataEx{};
    int result = FHeadersHidden ? ReadLockedHeader(archive, false) : ReadHeader();
    if (result == ERAR_MISSING_PASSWORD && !FHeadersLocked) result = ReadLockedHeader(archive, true);
    if (FHeadersLocked) return;  // reported already
    bool endedEarly = false;
    // A header whose CRC fails (12) still describes its entry; the data's own CRC decides.
    while (result == ERAR_SUCCESS || result == ERAR_BAD_DATA) {
      if (GetCancel()) break;
      FOperation = RAR_EXTRACT;
      FEntryToCome = static_cast<std::int64_t>(UnpackedSize(FHeaderData));
      SetEntryNames();
      if (result == ERAR_BAD_DATA) ReportError(FEntryName, "", "0", 25238);
      if (!EntryIsDirectory(FHeaderData) && MatchEntryName(FEntryName)) {
        ++FEntriesFound;
        // The scan could not count what encrypted headers hide: the run counts it instead.
        if (FHeadersHidden && !(FHeaderData.Flags & FlagSplitBefore)) {
          ++FToDoCount;
          FBytesExpected += static_cast<std::int64_t>(UnpackedSize(FHeaderData));
        }
      }
      if (!(FHeaderData.Flags & FlagSolid)) FSolidBroken = FSolidLost = false;
      // A failed password ends its entry only; the entries after it are still extracted.
      if (FHeaderData.Flags & FlagEncrypted)
        ProcessEncryptedEntry();
      else
        ProcessEntry();
      result = ReadHeader();
      // Everything asked for is out, and no further volume can hold more (nor headers the
      // scan could not read, which the library then reads or reports).
      if (FDoneCount > 0 && FDoneCount >= FToDoCount && !FSetContinues && !FHeadersHidden && !FScanIncomplete) {
        endedEarly = true;
        break;
      }
    }
    if (GetCancel()) return;
    if (endedEarly || result == ERAR_END_ARCHIVE) {
      FReachedEnd = true;
    } else if (FVolumeMissing) {
      // The set is cut short at a volume nobody could supply.
      if (!FMissingReported) ReportError(FMissingVolume, "", FMissingVolumeId, msgBrokenChain);
    } else if (!FVolumeStopped) {
      // Headers the library cannot read (encrypted ones, a damaged block) would otherwise
      // end the run as if the archive were empty.
      if (result == ERAR_MISSING_PASSWORD) FHeadersLocked = true;
      if (const std::int32_t message = MessageOfResult({result, TRarStep::ReadHeader}))
        ReportError(FCurrentVolume, "", "0", message);
    }
  } catch (const E_RAISE&) {
    // Reported already; the run ends here.
  }
}

bool TUnRar::OpenHandle(const std::string& archive) {
  const TUnRarLibrary& lib = UnRarLibrary();
  std::vector<char> name(archive.begin(), archive.end());
  name.push_back('\0');
  RAROpenArchiveData open{};
  open.ArcName = name.data();
  open.OpenMode = RAR_OM_EXTRACT;
  FHandle = lib.OpenArchive(&open);
  if (open.OpenResult != 0 || !FHandle) {
    if (FHandle) CloseHandle();
    const int code = open.OpenResult != 0 ? static_cast<int>(open.OpenResult) : ERAR_EOPEN;
    if (const std::int32_t message = MessageOfResult({code, TRarStep::Open})) RaiseError(archive, "", "0", message);
    return false;
  }
  lib.SetProcessDataProc(FHandle, UnRarProcessDataProc);
  lib.SetChangeVolProc(FHandle, UnRarChangeVolProc);
  return true;
}

void TUnRar::CloseHandle() {
  if (FHandle) UnRarLibrary().CloseArchive(FHandle);
  FHandle = nullptr;
}

int TUnRar::ReadLockedHeader(const std::string& archive, bool readAlready) {
  bool tried = false;
  for (int attempts = 0; NextPassword(archive, attempts);) {
    // A try after a read that failed opens the archive afresh, which any library takes.
    if (attempts > 1 || readAlready) {
      CloseHandle();
      if (!OpenHandle(archive)) return ERAR_EOPEN;
    }
    tried = true;
    PassPassword(FPassword);
    const int result = ReadHeader();
    // 24: a RAR 5 archive's check value refused the password before any header was read.
    if (result != ERAR_MISSING_PASSWORD && result != ERAR_BAD_PASSWORD) return result;
    WipeString(FPassword);
  }
  FHeadersLocked = true;
  // A cancel at the question has said so already.
  if (!GetCancel()) ReportError(archive, tried || !OnGetPassword ? std::string() : NoPasswordGivenText, "0", 26517);
  return ERAR_MISSING_PASSWORD;
}

int TUnRar::ReadHeader() {
  FLinkTarget.assign(LinkTargetSize, L'\0');
  FHeaderData.RedirName = FLinkTarget.data();
  FHeaderData.RedirNameSize = static_cast<unsigned>(FLinkTarget.size());
  const int result = UnRarLibrary().ReadHeaderEx(FHandle, &FHeaderData);
  RethrowPending();
  return result;
}

void TUnRar::RethrowPending() {
  if (!FPending) return;
  std::exception_ptr pending = FPending;
  FPending = nullptr;
  std::rethrow_exception(pending);
}

void TUnRar::SetEntryNames() {
  const std::size_t plain = strnlen(FHeaderData.FileName, sizeof FHeaderData.FileName);
  if (FHeaderData.FileNameW[0]) {
    FEntryName = WideToUtf8(FHeaderData.FileNameW, std::size(FHeaderData.FileNameW));
  } else {
    FEntryName.assign(FHeaderData.FileName, plain);
  }
  // An older library cuts what does not fit its field; a name that fills it may be cut.
  FNameCut = FEntryName.empty() || (!UnRarLibraryHasHeaderEx() && plain >= LegacyNameSize - 1);
  std::replace(FEntryName.begin(), FEntryName.end(), '\\', '/');
  FDestFileName = BuildDestName(FEntryName);
}

int TUnRar::CallProcessFile(int operation, int* systemError) {
  std::string destPath = ExtractFilePath(FDestFileName);
  std::string destName = FDestFileName;
  FOperation = operation;
  errno = 0;
  const int result = UnRarLibrary().ProcessFile(FHandle, operation, destPath.data(), destName.data());
  if (systemError) *systemError = LastSystemError();
  RethrowPending();
  return result;
}

bool TUnRar::AcceptForExtraction(TEntryFolders& folders) {
  auto skip = [this] {
    CallProcessFile(RAR_SKIP);
    return false;
  };
  if (!MatchEntryName(FEntryName)) return skip();
  FCrc = 0xFFFFFFFF;
  FEntryBytes = 0;
  // A folder comes into being with the files inside it, or through the scan with
  // CreateStoredDirs; its own entry writes nothing. Behind encrypted headers the scan saw
  // none, so it is made here.
  if (EntryIsDirectory(FHeaderData)) {
    if (FHeadersHidden && CreateStoredDirs() && !FDestFileName.empty()) MakeFoldersInside(FDestFileName, nullptr);
    return skip();
  }
  // A name that is nothing but "..", "." and separators has no place to go, and one the
  // record may not hold whole is not guessed at.
  if (FDestFileName.empty() || FNameCut) {
    ReportError(FEntryName.empty() ? FCurrentVolume : FEntryName, "", "0", msgInvalidFileName);
    return skip();
  }
  if (!AcceptEntry(false)) return skip();
  // OnFileExists may have chosen another name.
  if (const std::error_code ec = folders.Make(ExtractFilePath(FDestFileName))) {
    const TResult made{ERAR_ECREATE, TRarStep::ProcessFile, false, ec.value()};
    --FDoneCount;
    ReportError(FDestFileName, SystemReason(ec.value()), "0", MessageOfResult(made));
    return skip();
  }
  // A link in the file's place is replaced, never followed: its target keeps its mode.
  std::error_code linkError;
  if (!fs::is_symlink(fs::symlink_status(FDestFileName, linkError))) SetNormalAttributes(FDestFileName);
  return true;
}

void TUnRar::ProcessEntry() {
  TEntryFolders folders(*this);
  if (!AcceptForExtraction(folders)) return;
  const TFileStamp before = TFileStamp::Of(FDestFileName);
  int systemError = 0;
  const int result = CallProcessFile(RAR_EXTRACT, &systemError);
  FinishEntry(result, systemError, before, folders);
}

void TUnRar::ProcessEncryptedEntry() {
  TEntryFolders folders(*this);
  if (!AcceptForExtraction(folders)) return;
  const TFileStamp before = TFileStamp::Of(FDestFileName);
  int systemError = 0;
  // No password brings back a file whose stream the library could not follow up to it.
  if (FSolidLost && (FHeaderData.Flags & FlagSolid)) {
    CallProcessFile(RAR_SKIP);
    FinishEntry(ERAR_BAD_DATA, systemError, before, folders);
    return;
  }
  // Without a password yet, ask the library first whether one is of any use: a cipher it does
  // not support is reported without a question. It answers before it writes anything.
  if (FPassword.empty() || !OnGetPassword || PasswordAttempts() < 1) {
    PassPassword({});
    const int probe = CallProcessFile(RAR_EXTRACT, &systemError);
    if (probe != ERAR_MISSING_PASSWORD) {
      FinishEntry(probe, systemError, before, folders);
      return;
    }
  }
  bool tried = false;
  for (int attempts = 0; NextPassword(FDestFileName, attempts);) {
    tried = true;
    PassPassword(FPassword);
    FCrc = 0xFFFFFFFF;
    FEntryBytes = 0;
    const int result = CallProcessFile(RAR_EXTRACT, &systemError);
    const bool failedTry = result == ERAR_BAD_DATA || result == ERAR_MISSING_PASSWORD || result == ERAR_BAD_PASSWORD ||
                           (result == ERAR_SUCCESS && !CheckPassed(result));
    if (!failedTry) {
      // Passed, or failed for a reason no password changes (a file that cannot be written).
      FinishEntry(result, systemError, before, folders);
      return;
    }
    // What a wrong password gave is garbage: it goes, and the next try asks again.
    RemoveLeftover(before);
    WipeString(FPassword);
    // Except for a file that continues a solid stream: once its data failed the library has
    // moved past it, and no other password can be tried, for it or for the files after it.
    if (result == ERAR_BAD_DATA && (FHeaderData.Flags & FlagSolid)) {
      FSolidLost = true;
      break;
    }
  }
  UndoTry(before, folders);
  FSolidBroken = true;
  if (!GetCancel()) ReportError(FDestFileName, tried || !OnGetPassword ? std::string() : NoPasswordGivenText, "0", 26517);
}

bool TUnRar::NextPassword(const std::string& fileName, int& attempts) {
  if (!OnGetPassword) return false;
  while (attempts < PasswordAttempts() && !GetCancel()) {
    // A handler that leaves the password empty is asked again, and that costs no try.
    if (FPassword.empty()) {
      if (!AskPassword(fileName)) return false;
      if (FPassword.empty()) continue;
    }
    ++attempts;
    return true;
  }
  return false;
}

bool TUnRar::AskPassword(const std::string& fileName) {
  bool tryAgain = true;
  try {
    OnGetPassword(this, fileName, FPassword, tryAgain);
  } catch (...) {
    tryAgain = false;  // a handler that fails gives no password
  }
  if (!tryAgain) WipeString(FPassword);
  return tryAgain;
}

void TUnRar::PassPassword(const std::string& password) {
  std::string copy = password;  // the library takes a mutable buffer
  UnRarLibrary().SetPassword(FHandle, copy.data());
  WipeString(copy);
}

void TUnRar::RemoveLeftover(const TFileStamp& before) {
  const TFileStamp after = TFileStamp::Of(FDestFileName);
  if (after.Exists && !(after == before)) {
    std::error_code ec;
    fs::remove(FDestFileName, ec);
  }
}

void TUnRar::UndoTry(const TFileStamp& before, TEntryFolders& folders) {
  --FDoneCount;
  RemoveLeftover(before);
  folders.RemoveEmpty();
}

void TUnRar::FinishEntry(int result, int systemError, const TFileStamp& before, TEntryFolders& folders) {
  const bool whole = FEntryBytes == UnpackedSize(FHeaderData);
  if (result == ERAR_SUCCESS || (result == ERAR_BAD_DATA && whole)) {
    // The file is complete: its check decides.
    if (!ReportCheck(CheckPassed(result))) --FDoneCount;
    return;
  }
  // Not extracted: whatever the attempt left goes, and the reason is reported.
  UndoTry(before, folders);
  const bool oldCipher = (FHeaderData.Flags & FlagEncrypted) && result == ERAR_UNKNOWN_FORMAT && IsOldCipher(FHeaderData);
  const TResult r{result, TRarStep::ProcessFile, FVolumeMissing || FVolumeStopped, systemError};
  const std::int32_t message = oldCipher ? msgUnsupportedVersion : MessageOfResult(r);
  if (message == msgBrokenChain) FMissingReported = true;
  std::string reason;
  if (oldCipher) reason = OldCipherText(FHeaderData);
  else if (result == ERAR_ECREATE || result == ERAR_EWRITE) reason = SystemReason(systemError);
  // A link that was not made says where it pointed.
  else if (result == ERAR_SKIPPED_LINK && FLinkTarget[0]) reason = WideToUtf8(FLinkTarget.data(), FLinkTarget.size());
  // The decoder cannot go on past a file it could not unpack: the reason lies there.
  else if (result == ERAR_BAD_DATA && (FHeaderData.Flags & FlagSolid) && FSolidBroken) reason = SolidBrokenText;
  // A file that could not be written was still unpacked, for the solid files after it.
  if (result != ERAR_ECREATE && result != ERAR_EWRITE && result != ERAR_SKIPPED_LINK) FSolidBroken = true;
  ReportError(FDestFileName, reason, "0", message);
}

bool TUnRar::CheckPassed(int result) const {
  // The component checks a CRC-32 itself; a BLAKE2sp hash, a link or copy, or a checksum keyed
  // with the password only the library can. The last part of a split file carries the whole
  // file's CRC; behind encrypted headers the scan never saw it.
  const bool crcKnown = !(FHeaderData.Flags & FlagSplitAfter) || FLastPartCrc.count(FEntryName) > 0;
  if (FHeaderData.HashType != RAR_HASH_CRC32 || !crcKnown) return result == ERAR_SUCCESS;
  return CrcMatches();
}

bool TUnRar::CrcMatches() const {
  std::uint32_t expected = FHeaderData.FileCRC;
  // The scan saw the last part's CRC when the volume holding it was opened, for a solid set
  // before this entry's header came.
  if (FHeaderData.Flags & FlagSplitAfter) {
    const auto it = FLastPartCrc.find(FEntryName);
    if (it != FLastPartCrc.end()) expected = it->second;
  }
  return FCrc == expected || FCrc == ~expected;
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
    FEntryBytes += static_cast<std::uint64_t>(size);
    if (GetCancel()) return 0;
    FEntryToCome -= size;
    FBytesExpected -= size;
    FVolumeToCome -= size;
    const auto total = static_cast<std::int64_t>(UnpackedSize(FHeaderData));
    DoProgress(total - FEntryToCome, total, FVolumeTotal, FVolumeToCome);
    return 1;
  } catch (...) {
    FPending = std::current_exception();
    return 0;
  }
}

// The handler hears of every volume once. A volume the library found is announced when it is
// opened (RAR_VOL_NOTIFY); a missing one is asked for (RAR_VOL_ASK) and, once the handler named
// it, opened without a second question.
int TUnRar::ChangeVolume(char* arcName, int mode) {
  try {
    std::string name = arcName;
    if (mode == RAR_VOL_ASK) {
      FAskedVolume.clear();
      if (!OnNextVolume) {
        FVolumeStopped = true;
        return 0;
      }
      const std::string expected = name;
      const std::string id = std::to_string(VolumeNumber());
      if (!NextVolume(name, VolumeNumber())) {
        FVolumeMissing = true;
        FMissingVolume = expected;
        FMissingVolumeId = id;
        return 0;
      }
      // The library's buffer bounds the name; a longer one is refused.
      if (name.size() >= RAR_VOL_NAME_SIZE) {
        ReportError(name, "", id, msgInvalidFileName);
        FVolumeMissing = FMissingReported = true;
        return 0;
      }
      std::memcpy(arcName, name.c_str(), name.size() + 1);
      FAskedVolume = name;
      return 1;
    }
    if (name != FAskedVolume) {
      std::string offered = name;  // the library has this file open already
      if (!OnNextVolume || !NextVolume(offered, VolumeNumber())) {
        FVolumeStopped = true;
        return 0;
      }
    }
    FAskedVolume.clear();
    FCurrentVolume = name;
    ScanVolume(name);
    return 1;
  } catch (...) {
    FPending = std::current_exception();
    return 0;
  }
}

void TUnRar::Fail(const std::string& fileName, std::int32_t code) {
  RaiseError(fileName, "", "0", code);
  throw E_RAISE(25443);
}
