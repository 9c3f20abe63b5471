#include "checksum/SfvLookup.h"

#include "platform/FileSystem.h"
#include "platform/Utf8.h"

#include <algorithm>
#include <filesystem>

namespace {

// The folder names of an entry name: split at "\" and "/", empty and "." parts dropped.
std::vector<std::string> PathComponents(const std::string& name) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (!part.empty() && part != ".") parts.push_back(std::move(part));
    start = end + 1;
  }
  return parts;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string path;
  for (const std::string& part : parts) path += (path.empty() ? "" : "/") + part;
  return path;
}

// Folder by folder: the exact part where it exists, else the one entry of the folder
// whose name differs only in letter case.
TEntryLookup FindIgnoringCase(const std::string& folder, const std::vector<std::string>& parts,
                              TFolderListings& listings) {
  TEntryLookup result;
  std::string path = folder;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    const bool last = i + 1 == parts.size();
    std::string next = path + part;
    if (!PathExists(next) && part != "..") {
      const std::string folded = FoldCase(part);
      std::vector<std::string> matches;
      for (const std::string& name : listings.Named(path, folded)) {
        // A name spelt exactly as the part, or a dangling link, is nothing to read.
        if (name != part && PathExists(path + name)) matches.push_back(name);
      }
      if (matches.empty()) return result;
      if (matches.size() > 1) {
        std::sort(matches.begin(), matches.end());  // the folder's order is the file system's
        result.Status = TLookupStatus::Ambiguous;
        result.Candidates = std::move(matches);
        return result;
      }
      next = path + matches.front();
    }
    if (!last && !DirectoryExists(next)) return result;
    path = last ? next : next + "/";
  }
  result.Status = TLookupStatus::Found;
  result.Path = path;
  return result;
}

}  // namespace

const std::vector<std::string>& TFolderListings::Named(const std::string& folder, const std::string& folded) {
  auto found = Folders.find(folder);
  if (found == Folders.end()) {
    found = Folders.emplace(folder, std::unordered_map<std::string, std::vector<std::string>>()).first;
    std::error_code ec;
    for (const auto& item : std::filesystem::directory_iterator(folder.empty() ? "." : folder, ec)) {
      std::string name = item.path().filename().string();
      found->second[FoldCase(name)].push_back(std::move(name));
    }
  }
  static const std::vector<std::string> none;
  const auto names = found->second.find(folded);
  return names == found->second.end() ? none : names->second;
}

TEntryLookup FindEntryFile(const std::string& folder, const TSfvEntry& entry) {
  TFolderListings listings;
  return FindEntryFile(folder, entry, listings);
}

TEntryLookup FindEntryFile(const std::string& folder, const TSfvEntry& entry, TFolderListings& listings) {
  std::vector<std::string> names = {entry.NameBytes.empty() ? entry.Name : entry.NameBytes};
  if (entry.Name != names.front()) names.push_back(entry.Name);

  // Exact names first, as written and with "\" read as a separator.
  for (const std::string& name : names) {
    const std::vector<std::string> parts = PathComponents(name);
    if (parts.empty()) continue;  // an empty name names the folder itself, no file
    for (const std::string& exact : {name, Joined(parts)}) {
      if (PathExists(folder + exact)) return {TLookupStatus::Found, folder + exact, {}};
    }
  }
  TEntryLookup ambiguous;
  for (const std::string& name : names) {
    const std::vector<std::string> parts = PathComponents(name);
    if (parts.empty()) continue;
    TEntryLookup found = FindIgnoringCase(folder, parts, listings);
    if (found.Status == TLookupStatus::Found) return found;
    if (found.Status == TLookupStatus::Ambiguous && ambiguous.Status != TLookupStatus::Ambiguous) {
      ambiguous = std::move(found);
    }
  }
  return ambiguous;
}
