// What every archive component of the family shares (TZipCommon), the extraction base
// (TUnBase), the drive check (TDiskManager) and the elapsed-time timer (TaknTimer).
//
// Seam: everything runs on the caller's thread (the GUI thread in the program). Events are
// plain std::function members; each may be empty. They are called from inside Extract:
//   OnActivate / OnDeactivate   start and end of one run (OnDeactivate also after errors).
//   OnBegin                     before each entry; a handler may set Extract false to skip it.
//   OnEnd                       after each extracted entry, with the CRC verdict.
//   OnError                     every error by number; while cancelled the number is 25443.
//   OnProgress                  per data block; percentages 0 to 100.
//   OnNextVolume                when the next volume of a set is needed; the handler may
//                               change VolumeName and must leave Cancel false to go on.
//   OnGetPassword               for an encrypted entry (TUnRar).
//   OnFileExists                when a destination exists and ConfirmOverwrites is set.
//   OnElapsedTime               after the run, with the seconds it took (pauses excluded).
// Any handler may set Cancel (SetCancel(true)); the run then stops at its next check. A
// handler may pump messages but must not start another run on the same component, nor
// change ArchiveFile while a run is going on.
// PumpMessages (when set) lets window messages run before each progress report.
// The Retry/Cancel question of the drive check goes through TDiskManager's RetryCancelBox,
// which the window answers with its dialogs (none set: Cancel).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/aknRegister.h"
#include "platform/Clock.h"
#include "platform/Drives.h"
#include "platform/Pump.h"

enum TOverwriteMode : std::uint8_t { omOverwrite, omSkip };
enum TCpuType : std::uint8_t { cptAuto, cpt80286, cpt80386, cpt80486 };

class TZipCommon;

using TNotifyEvent = std::function<void(TZipCommon* Sender)>;
using TOnBegin = std::function<void(TZipCommon* Sender, const std::string& FileName, std::int32_t Count, bool& Extract)>;
using TOnEnd = std::function<void(TZipCommon* Sender, const std::string& FileName, bool CRC_PASS)>;
using TOnError = std::function<void(TZipCommon* Sender, const std::string& FileName, const std::string& ExtendedMsg,
                                    const std::string& VolumeID, std::int32_t ECode)>;
using TOnGetPassword =
    std::function<void(TZipCommon* Sender, const std::string& FileName, std::string& Password, bool& TryAgain)>;
using TOnProgress = std::function<void(TZipCommon* Sender, std::uint8_t ProgressByFile, std::uint8_t ProgressByArchive)>;
using TOnNextVolume = std::function<void(TZipCommon* Sender, std::string& VolumeName, const std::string& VolumeID,
                                         bool fExists, bool& Cancel)>;
using TOnElapsedTime = std::function<void(TZipCommon* Sender, float ElapsedTime)>;
using TUnBase_OnFileExists = std::function<void(TZipCommon* Sender, const std::string& FileName,
                                                std::string& NewFilename, TOverwriteMode& OverwriteMode)>;

// Elapsed time of a run. Pauses nest (an error report inside an event that already paused
// the timer): only the outermost resume counts the paused time out.
class TaknTimer {
 public:
  explicit TaknTimer(const IClock& clock = SystemClock()) : FClock(&clock) {}
  void SetClock(const IClock& clock) { FClock = &clock; }

  void Start();
  void Stop();
  void Pause();
  void Resume();
  bool Running() const { return FRunning; }
  float ElapsedTime() const { return FElapsed; }

 private:
  const IClock* FClock;
  bool FRunning = false;
  int FPauseDepth = 0;
  std::uint64_t FStartTick = 0;
  std::uint64_t FPauseTick = 0;
  float FElapsed = 0;
};

// Checks that the drive holding a path is there and writable before a run (Extract checks the
// target folder's drive).
class TDiskManager {
 public:
  // text -> true for Retry, false for Cancel.
  using TRetryCancelBox = std::function<bool(const std::string& text)>;
  using TDriveList = std::function<std::vector<TDriveInfo>()>;
  // Room on a drive; false when it cannot be read (the "volume information").
  using TVolumeQuery = std::function<bool(const std::string& root)>;
  // Read-only or not, asked of the file system for a path no listed drive holds; nothing when
  // it cannot tell.
  using TMountQuery = std::function<std::optional<bool>(const std::string& path)>;

  explicit TDiskManager(TZipCommon& owner);

  bool Check(const std::string& path);

  TRetryCancelBox RetryCancelBox;
  TDriveList Drives;        // defaults to ListDrives
  TVolumeQuery VolumeInfo;  // defaults to a free-space query of the mount
  TMountQuery UnlistedMount;  // defaults to PathIsOnReadOnlyMount
  const std::string& Drive() const { return FDrive; }

 private:
  TZipCommon& FOwner;
  std::string FDrive;
};

class TZipCommon : public TRegisterArkon {
 public:
  TZipCommon();
  ~TZipCommon() override;

  // Kept for the family: our RAR library already hands names over as UTF-8.
  bool TranslateOemChar() const { return FTranslateOemChar; }
  void SetTranslateOemChar(bool value) { FTranslateOemChar = value; }
  // Kept with a trailing separator; empty takes the archive's folder.
  const std::string& ExtractDir() const { return FExtractDir; }
  void SetExtractDir(const std::string& value);
  const std::vector<std::string>& FileSpec() const { return FFileSpec; }
  void SetFileSpec(const std::vector<std::string>& value) { FFileSpec = value; }
  bool UseStoredDirs() const { return FUseStoredDirs; }
  void SetUseStoredDirs(bool value) { FUseStoredDirs = value; }
  bool ConfirmOverwrites() const { return FConfirmOverwrites; }
  void SetConfirmOverwrites(bool value) { FConfirmOverwrites = value; }
  TOverwriteMode OverwriteMode() const { return FOverwriteMode; }
  void SetOverwriteMode(TOverwriteMode value) { FOverwriteMode = value; }
  std::int32_t PasswordAttempts() const { return FPasswordAttempts; }
  void SetPasswordAttempts(std::int32_t value) { FPasswordAttempts = value; }

  virtual bool GetCancel() const;
  // Setting it true also reports 25443.
  virtual void SetCancel(bool value);
  bool Cancel() const { return GetCancel(); }

  const std::string& DestFileName() const { return FDestFileName; }
  const std::string& CurrentVolume() const { return FCurrentVolume; }

  // The destination of a stored name (folders separated by '\' or '/'). Never leaves
  // ExtractDir: "..", "." and empty components, a leading root and a drive prefix are
  // dropped. Empty for a name that has no file part left.
  virtual std::string BuildDestName(const std::string& storedName);
  // ExtractDir as a run uses it: the archive's folder or the current directory when
  // empty, a relative folder taken from the current directory.
  const std::string& ResolvedExtractDir();

  // Placeholders for the block readers of other formats of the family; the RAR
  // extractor leaves the reading to its library and nothing here calls them.
  virtual std::int64_t ReadBlock(void*, std::int64_t) { return 0; }
  virtual std::int64_t ReadBlockAt(std::int64_t, void*, std::int64_t) { return 0; }
  virtual void Unscramble(void*, std::int64_t) {}
  virtual bool ReadLocalHeader() { return false; }
  virtual bool ReadCentralHeader() { return false; }
  virtual std::uint32_t BlockCrc(const void*, std::int64_t) { return 0; }
  virtual bool SkipBlock(std::int64_t) { return false; }

  virtual bool MatchEntryName(const std::string& storedName);

  // Reports through OnError, then raises E_RAISE with the number unless cancelled.
  virtual void RaiseError(const std::string& FileName, const std::string& ExtendedMsg, const std::string& VolumeID,
                          std::int32_t ECode);
  virtual void ReportError(const std::string& FileName, const std::string& ExtendedMsg, const std::string& VolumeID,
                           std::int32_t ECode);

  // Entry done of size, and the current volume's total and bytes still to come.
  void DoProgress(std::int64_t done, std::int64_t size, std::int64_t volumeTotal, std::int64_t volumeToCome);
  // Asks OnNextVolume for the volume; true when the handler named an existing file.
  bool NextVolume(std::string& volumeName, std::int32_t volumeId);

  // The rounded percentage of done over total, within 0 and 100.
  static std::uint8_t Percentage(std::int64_t done, std::int64_t total);

  using TProgressDispatcher = std::function<void(TZipCommon* Sender, std::uint8_t ByFile, std::uint8_t ByArchive)>;
  void SetProgressDispatcher(TProgressDispatcher value) { FProgressDispatcher = std::move(value); }
  void ResetProgressDispatcher();

  TPumpMessages PumpMessages;
  TDiskManager& DiskManager() { return *FDiskManager; }
  TaknTimer& Timer() { return FTimer; }

  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TOnBegin OnBegin;
  TOnEnd OnEnd;
  TOnError OnError;
  TOnGetPassword OnGetPassword;
  TOnProgress OnProgress;
  TOnNextVolume OnNextVolume;
  TOnElapsedTime OnElapsedTime;

 protected:
  void ReportOpenError(const std::string& fileName) override;
  void ClearCancel() { *FCancelPtr = false; }
  void DefaultDispatch(std::uint8_t byFile, std::uint8_t byArchive);

  std::string FDestFileName;
  std::string FCurrentVolume;
  // Byte counters of a run: the entry's bytes still to come, bytes expected from the
  // volumes scanned so far, the current volume's total and its bytes still to come.
  std::int64_t FEntryToCome = 0;
  std::int64_t FBytesExpected = 0;
  std::int64_t FVolumeTotal = 0;
  std::int64_t FVolumeToCome = 0;

 private:
  bool FTranslateOemChar = true;
  std::string FExtractDir;
  std::vector<std::string> FFileSpec;
  bool FUseStoredDirs = true;
  bool FConfirmOverwrites = false;
  TOverwriteMode FOverwriteMode = omOverwrite;
  std::int32_t FPasswordAttempts = 3;
  bool FCancel = false;
  bool* FCancelPtr = &FCancel;
  TProgressDispatcher FProgressDispatcher;
  std::unique_ptr<TDiskManager> FDiskManager;
  TaknTimer FTimer;
};

// The safe relative parts of a stored name: components split at '\' and '/', without
// empty, "." and ".." parts and without a leading drive prefix ("C:").
std::vector<std::string> SafeNameParts(const std::string& storedName);

class TUnBase : public TZipCommon {
 public:
  TUnBase() = default;

  TCpuType CpuType() const { return FCpuType; }
  void SetCpuType(TCpuType value) { FCpuType = value; }
  bool RecurseDirs() const { return FRecurseDirs; }
  void SetRecurseDirs(bool value) { FRecurseDirs = value; }
  bool RestoreFileAttr() const { return FRestoreFileAttr; }
  void SetRestoreFileAttr(bool value) { FRestoreFileAttr = value; }
  bool CreateStoredDirs() const { return FCreateStoredDirs; }
  void SetCreateStoredDirs(bool value) { FCreateStoredDirs = value; }

  TUnBase_OnFileExists OnFileExists;

  // One run; never raises. Returns the entries extracted (accepted minus failed checks).
  std::int32_t Extract();

  // Whether the current entry (DestFileName) is extracted: OnBegin, the overwrite policy
  // and OnFileExists. Directories are always accepted, without events.
  bool AcceptEntry(bool isDirectory);
  bool MatchEntryName(const std::string& storedName) override;

  // Compares an entry's CRC with the stored one and reports a mismatch (25151).
  virtual bool CheckEntryCrc(std::uint32_t crc, std::uint32_t stored);
  // The verdict on an extracted entry: OnEnd when assigned, else 25151 for a failure.
  bool ReportCheck(bool passed);

  std::int32_t DoneCount() const { return FDoneCount; }
  std::int32_t ToDoCount() const { return FToDoCount; }
  std::uint8_t OperationMode() const { return FOperationMode; }

 protected:
  virtual void ExtractArchive() {}

  std::int32_t FDoneCount = 0;
  std::int32_t FToDoCount = 0;

 private:
  TCpuType FCpuType = cptAuto;
  bool FRecurseDirs = true;
  bool FRestoreFileAttr = true;
  bool FCreateStoredDirs = false;
  std::uint8_t FOperationMode = 0;
};
