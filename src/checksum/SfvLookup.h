#pragma once
// Finding the file an SFV entry names, as Windows (where most SFV files are written)
// would find it: "\" and "/" both separate folders, relative to the SFV file's folder;
// where no file has the exact name, the one file whose name differs only in letter case
// (compared folder by folder) stands in for it, and several such files make the name
// ambiguous. The exact name always wins. The name is tried as the file's bytes spell it
// first (a Linux file named in Latin-1 still matches), then as decoded text.
#include "checksum/SfvFile.h"

#include <string>
#include <unordered_map>
#include <vector>

enum class TLookupStatus { Found, NotFound, Ambiguous };

struct TEntryLookup {
  TLookupStatus Status = TLookupStatus::NotFound;
  std::string Path;                     // when Found: folder + the name as it stands on disk
  std::vector<std::string> Candidates;  // when Ambiguous: the names that differ only in case
};

// The folders' listings by folded name, each read once, for a run of lookups: an SFV file
// written with other letter case than the disk's would otherwise read the whole folder for
// every entry. Files that appear later are still found under their exact names.
class TFolderListings {
 public:
  // The names in `folder` (a path ending with its separator, or "" for the current folder)
  // whose folded form is `folded`.
  const std::vector<std::string>& Named(const std::string& folder, const std::string& folded);

 private:
  std::unordered_map<std::string, std::unordered_map<std::string, std::vector<std::string>>> Folders;
};

// folder ends with its separator. Anything that exists counts as found, folders and
// FIFOs included: the read decides what it is.
TEntryLookup FindEntryFile(const std::string& folder, const TSfvEntry& entry, TFolderListings& listings);
// The same for a single lookup.
TEntryLookup FindEntryFile(const std::string& folder, const TSfvEntry& entry);
