// Where extracted data goes: destination names that stay inside the folder the caller named,
// output files that disappear again when extraction fails, folders and symbolic links.
//
// Nothing is ever written through a link: every folder below a destination's root is opened
// without following links (one that is a link refuses the entry with ELOOP), and a link in the
// place of the file itself is replaced, never followed. The root is the caller's own folder and
// may itself be a link.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "unrar/RarBlocks.h"

// DestPath plus an entry name, with empty, "." and ".." components and a leading root or drive
// dropped so that the result lies inside destPath. Empty when nothing of the name remains.
std::string JoinInside(const std::string& destPath, const std::string& entryName);

// The components JoinInside keeps of a name.
std::vector<std::string> SafeParts(const std::string& entryName);

// Creates a folder and its missing parents; true when it exists afterwards. For the caller's
// own folders only: it follows links.
bool MakeFolders(const std::string& path);

std::string FolderOf(const std::string& path);

// An entry's place: the caller's root, then folders and a leaf that come from the entry's name.
struct TDestination {
  std::string Root;                  // never empty ("." for the current folder)
  std::vector<std::string> Folders;  // below Root
  std::string Leaf;                  // empty: the entry has no place
  std::string Path() const;
  bool Empty() const { return Leaf.empty(); }
};

// The caller names either the file (destName) or the folder it goes into (destPath, joined
// with the entry's name). With destName, the root is what is left of it once the entry's own
// path is taken off its end, so that the entry's folders are the ones guarded against links;
// a destName that does not end in the entry's path has its own folder as root.
TDestination PlanDestination(const char* destPath, const char* destName, const std::string& entryName);

// An open folder (a descriptor), closed with the object.
class TFolder {
 public:
  TFolder() = default;
  TFolder(const TFolder&) = delete;
  TFolder& operator=(const TFolder&) = delete;
  ~TFolder();
  // Opens the root and the folders below it (and `leafToo`: the leaf as a folder as well),
  // creating missing ones when `create`. 0 or the system's error code (ELOOP for a link).
  int Open(const TDestination& d, bool create, bool leafToo = false);
  int Fd() const { return Descriptor; }

 private:
  int Descriptor = -1;
};

class TOutputFile {
 public:
  TOutputFile() = default;
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;
  ~TOutputFile() { Discard(); }

  // 0 or ERAR_ECREATE. An existing symbolic link in the way is replaced, never followed.
  int Create(const TDestination& d);
  int Write(const void* data, size_t size);  // 0 or ERAR_EWRITE
  // Gives the file the entry's time and attributes and closes it; 0 or ERAR_ECLOSE.
  int Finish(const TRarEntryHeader& header);
  // Closes and removes a file that was not finished.
  void Discard();
  // The system's error code of the last failed Create, Write or Finish.
  int Error() const { return LastError; }

 private:
  TFolder Folder;
  int Fd = -1;
  std::string Leaf;
  int LastError = 0;
};

// Creates the folder an entry names (its leaf too) and gives it the entry's time and
// attributes. 0 or the system's error code.
int MakeFolder(const TDestination& d, const TRarEntryHeader& header);

// Whether a link at `d` pointing to `target` leads to a place inside d.Root: relative, no ".."
// beyond the root, and no link on the way (already in the destination) that leads out.
bool LinkStaysInside(const TDestination& d, const std::string& target);

// Creates a symbolic link at `d`: ERAR_SKIPPED_LINK when its target would lead out of the root,
// 0, or ERAR_ECREATE with the reason in `error`.
int MakeSymlink(const TDestination& d, const std::string& target, const TRarEntryHeader& header, int& error);

// Opens a file that this run extracted, for reading, without following a link. -1 on failure.
int OpenExtracted(const TDestination& d);

// Applies an entry's time and attributes to an open file or folder. Entries made on Unix carry a
// mode, whose permission bits it gets; other hosts' attributes are DOS ones (read-only clears
// the write bits). RAR 5 times keep their nanoseconds; older entries have their DOS time.
void ApplyTimeAndAttributes(int fd, const TRarEntryHeader& header, bool isFolder);

// RAR 1.5-4.x entries made on Unix store a symbolic link as a file whose data is the target.
bool IsUnixLinkEntry(const TRarEntryHeader& header);
