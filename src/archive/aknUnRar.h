// TUnRar: extracts RAR archives, single files and volume sets, through the RAR extraction
// library (aknUnRarDll.h), checking every file's CRC-32 itself.
//
// Seam: the window owns one TUnRar, sets its properties and events (aknBase.h lists who
// calls what) and calls Extract() on the GUI thread; all events come on that thread, from
// inside Extract. While a run goes on, the library's callbacks reach this component through
// SetRunningUnRar: one run at a time per process.
//   OnNextVolume    once for every volume the set goes on to: with fExists true when the
//                   library found it, false when it is missing (then asked again for as long
//                   as the handler names a file that does not exist either). Without a handler
//                   the run stops silently at the first volume boundary.
//   OnGetPassword   for an encrypted entry the run is to extract (after OnBegin accepted it),
//                   with its destination name, and for an archive whose headers are
//                   encrypted, before anything is listed, with the archive's name. Asked
//                   again after a password that failed (Password is then empty), up to
//                   PasswordAttempts tries; TryAgain false gives up. A password that opened
//                   an entry or the headers stays for the following entries of the run.
//                   Without a handler an encrypted entry fails (26517). An entry the library
//                   cannot decrypt whatever the password (RAR 2.0's cipher) is reported
//                   without asking.
//   OnProgress      per block of unpacked data; HeaderData() and EntryName() describe the
//                   entry then.
//
// Archives and volumes are only read: nothing is written to them, and their attributes and
// times stay as they are. Entries made on Unix need no repair: the library reports their
// modes as attributes.
#pragma once
#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "archive/aknBase.h"
#include "archive/aknUnRarDll.h"

struct TRarEntryHeader;
class TEntryFolders;
struct TFileStamp;

class TUnRar : public TUnBase, private IUnRarCallbacks {
 public:
  TUnRar() = default;
  ~TUnRar() override;

  // The password tried first for encrypted entries and headers; wiped when the run closes the
  // archive.
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& value) { FPassword = value; }

  const RARHeaderDataEx& HeaderData() const { return FHeaderData; }
  // The current entry's stored name with '/' between folders.
  const std::string& EntryName() const { return FEntryName; }

  // What the last run came to, for a face that judges the whole set: the file entries it met
  // that FileSpec took in, and whether it read the archive or set to its end.
  std::int32_t EntriesFound() const { return FEntriesFound; }
  bool ReachedEnd() const { return FReachedEnd; }
  // The last run met encrypted headers that no password opened: nothing past them was listed.
  bool HeadersLocked() const { return FHeadersLocked; }

  // Makes the missing folders of `folder`, a folder of ExtractDir or below it; none of the way
  // below ExtractDir may be a link (too_many_symbolic_link_levels), so nothing is ever made or
  // written through one. The folders made are added to `made`.
  std::error_code MakeFoldersInside(const std::string& folder, std::vector<std::string>* made);

 protected:
  void ExtractArchive() override;

 private:
  int ChangeVolume(char* arcName, int mode) override;
  int ProcessData(unsigned char* data, int size) override;

  void ProcessArchive(const std::string& archive);
  bool OpenHandle(const std::string& archive);
  void CloseHandle();
  // The first header of an archive whose headers only a password opens: the password procedure
  // for the archive itself (readAlready: a read without the password answered 22). Returns the
  // read's result.
  int ReadLockedHeader(const std::string& archive, bool readAlready);
  void ScanVolume(const std::string& volume);
  void NoteScannedEntry(const TRarEntryHeader& header, std::vector<std::string>& folders);
  int ReadHeader();
  void SetEntryNames();
  // RARProcessFile for the current entry with its destination; the system's error code after
  // the call goes to systemError.
  int CallProcessFile(int operation, int* systemError = nullptr);
  // The checks and questions before an entry is written (FileSpec, name, OnBegin, overwrite,
  // its folders). False when it is not to be written: the library was told to skip it.
  bool AcceptForExtraction(TEntryFolders& folders);
  void ProcessEntry();
  void ProcessEncryptedEntry();
  // Counts the next try for `fileName` with Password, asking OnGetPassword when it is empty;
  // false when the tries are used up, the run is cancelled or the handler gave up.
  bool NextPassword(const std::string& fileName, int& attempts);
  // Asks OnGetPassword for the password of `fileName`; false when the handler gave up.
  bool AskPassword(const std::string& fileName);
  void PassPassword(const std::string& password);
  // A file at the destination that was not there as `before` describes goes.
  void RemoveLeftover(const TFileStamp& before);
  // What a failed try left goes (file and new folders); the entry is not counted.
  void UndoTry(const TFileStamp& before, TEntryFolders& folders);
  // The outcome of RARProcessFile for an entry that was to be extracted.
  void FinishEntry(int result, int systemError, const TFileStamp& before, TEntryFolders& folders);
  // The verdict on a file the library wrote whole: the component's own CRC check, or the
  // library's result where the component cannot know the CRC to expect.
  bool CheckPassed(int result) const;
  bool CrcMatches() const;
  void RethrowPending();
  // Reports the number and ends the step, also while cancelled (when nothing is raised).
  [[noreturn]] void Fail(const std::string& fileName, std::int32_t code);

  std::string FPassword;
  RARHeaderDataEx FHeaderData{};
  std::vector<wchar_t> FLinkTarget;  // the record's RedirName buffer
  std::string FEntryName;
  bool FNameCut = false;  // the record may not hold the whole name
  void* FHandle = nullptr;
  int FOperation = 0;
  std::uint32_t FCrc = 0;
  std::uint64_t FEntryBytes = 0;  // unpacked bytes of the current entry received so far
  std::map<std::string, std::uint32_t> FLastPartCrc;  // entry name -> CRC of its last part
  std::exception_ptr FPending;  // raised inside a library callback, rethrown after the call
  // Volume hand-over: the volume the handler named for a missing one, until the library
  // opens it; the missing volume nobody supplied; a stop chosen by the handler.
  std::string FAskedVolume;
  std::string FMissingVolume, FMissingVolumeId;
  bool FVolumeMissing = false;
  bool FVolumeStopped = false;
  bool FMissingReported = false;  // an entry cut short by it already said so
  bool FSolidBroken = false;      // an entry of the current solid stream could not be unpacked
  bool FSolidLost = false;        // ...and the library went past it: nothing after it can come out
  bool FSetContinues = true;      // the last volume scanned says another one follows
  bool FScanIncomplete = false;   // its headers end in damage or encryption, not at their end
  std::int32_t FEntriesFound = 0;
  bool FReachedEnd = false;
  // Encrypted headers: the scan could not see the volume's entries, so the run counts them as
  // they come; none opened them.
  bool FHeadersHidden = false;
  bool FHeadersLocked = false;
};
