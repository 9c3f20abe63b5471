// Where extracted data goes: destination names that stay inside the folder the caller named,
// and output files that disappear again when extraction fails.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "unrar/RarBlocks.h"

// DestPath plus an entry name, with empty, "." and ".." components and a leading root or drive
// dropped so that the result lies inside destPath. Empty when nothing of the name remains.
std::string JoinInside(const std::string& destPath, const std::string& entryName);

// Creates a folder and its missing parents; true when it exists afterwards.
bool MakeFolders(const std::string& path);

std::string FolderOf(const std::string& path);

class TOutputFile {
 public:
  TOutputFile() = default;
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;
  ~TOutputFile() { Discard(); }

  // 0 or ERAR_ECREATE. An existing symbolic link in the way is replaced, never followed.
  int Create(const std::string& path);
  int Write(const void* data, size_t size);  // 0 or ERAR_EWRITE
  // Closes the file and gives it the entry's time and attributes; 0 or ERAR_ECLOSE.
  int Finish(const TRarEntryHeader& header);
  // Closes and removes a file that was not finished.
  void Discard();
  // The system's error code of the last failed Create, Write or Finish.
  int Error() const { return LastError; }

 private:
  int Fd = -1;
  std::string Path;
  int LastError = 0;
};

// Applies an entry's DOS time and attributes to an extracted file or folder. Entries made on
// Unix carry a mode, whose permission bits a file or folder gets; other hosts' attributes are
// DOS ones (read-only clears the write bits). Symbolic links are never created: their target is
// written as data, with the default mode.
void ApplyTimeAndAttributes(const std::string& path, const TRarEntryHeader& header, bool isFolder);
