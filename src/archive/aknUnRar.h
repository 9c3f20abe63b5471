// TUnRar: extracts RAR archives, single files and volume sets, through the RAR extraction
// library (aknUnRarDll.h), checking every file's CRC-32 itself.
//
// Seam: the window owns one TUnRar, sets its properties and events (aknBase.h lists who
// calls what) and calls Extract() on the GUI thread; all events come on that thread, from
// inside Extract. While a run goes on, the library's callbacks reach this component through
// SetRunningUnRar: one run at a time per process.
//   OnNextVolume    from the library's volume callback; without a handler the run stops
//                   silently at the first volume boundary.
//   OnGetPassword   for an encrypted entry; without a handler the entry fails (26517).
//   OnProgress      per block of unpacked data; HeaderData() and EntryName() describe the
//                   entry then.
//
// Archives made on Unix: before the library reads a volume, the attribute field of each
// Unix file header of it is rewritten to a DOS value; the stored values are put back when
// the volume is finished and, at the latest, when the run ends by any path. Each pending
// repair is recorded in a journal (JournalDir(), the program's data folder) before the
// first write, so a run that dies half-way is undone by RecoverUnixRepairs at the next
// start (ExtractArchive calls it too).
#pragma once
#include <cstdint>
#include <exception>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/aknBase.h"
#include "archive/aknUnRarDll.h"

class TUnRar : public TUnBase, private IUnRarCallbacks {
 public:
  TUnRar() = default;
  ~TUnRar() override;

  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& value) { FPassword = value; }

  // Folder of the Unix-repair journal (the program's data folder). Without one, or when the
  // journal cannot be written, the archive is not touched and entries are read as stored.
  const std::string& JournalDir() const { return FJournalDir; }
  void SetJournalDir(const std::string& value) { FJournalDir = value; }

  const RARHeaderData& HeaderData() const { return FHeaderData; }
  // The current entry's stored name with '/' between folders.
  const std::string& EntryName() const { return FEntryName; }

  // The journal's file in a folder.
  static std::string JournalFile(const std::string& dir);

 protected:
  void ExtractArchive() override;

 private:
  struct TRepair {
    std::string Volume;
    std::int64_t Position;  // of the header
    std::uint32_t Stored;   // the attribute value the archive holds
    std::uint32_t Written;  // the value put there for the run
  };

  int ChangeVolume(char* arcName, int mode) override;
  int ProcessData(unsigned char* data, int size) override;

  void ProcessArchive(const std::string& archive);
  void ScanVolume(const std::string& volume);
  void RepairHeader(const std::string& volume, std::int64_t position, std::uint32_t stored, std::uint32_t effective,
                    bool& writable);
  void UndoRepairs(const std::string& volume);  // empty: every volume
  void WriteJournal();
  void RestoreTime(const std::string& volume);
  void SetEntryNames();
  int ProcessEntry(bool passwordTry, bool lastAttempt);
  bool PasswordProcedure();
  void CheckCrc();
  void RethrowPending();
  // Reports the number and ends the step, also while cancelled (when nothing is raised).
  [[noreturn]] void Fail(const std::string& fileName, std::int32_t code);
  void ReportOpenError(const std::string& fileName) override;

  std::string FPassword;
  std::string FJournalDir;
  RARHeaderData FHeaderData{};
  std::string FEntryName;
  void* FHandle = nullptr;
  int FOperation = 0;
  std::uint32_t FCrc = 0;
  std::vector<TRepair> FRepairs;
  std::map<std::string, std::uint32_t> FLastPartCrc;  // entry name -> CRC of its last part
  std::exception_ptr FPending;  // raised inside a library callback, rethrown after the call
  // Modification times of the volumes written to, put back with the bytes.
  std::map<std::string, std::filesystem::file_time_type> FSavedTimes;
  bool FVolumeRefused = false;  // the volume callback said stop
  bool FQuietOpen = false;      // the caller reports a failed open itself
};

// Puts back the attribute fields a dead run left rewritten, as its journal in dir records,
// and removes the journal. Returns the number of fields put back.
int RecoverUnixRepairs(const std::string& dir);
