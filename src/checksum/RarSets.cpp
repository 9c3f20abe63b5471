#include "checksum/RarSets.h"

#include "checksum/SfvLookup.h"

#include "platform/FileSystem.h"
#include "platform/Text.h"

#include <cctype>
#include <limits>
#include <optional>

namespace {

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) return false;
  }
  return true;
}

// ".r00" .. ".z99": the later volumes of an old-style set.
bool IsOldNextExtension(const std::string& lowerExt) {
  return lowerExt.size() == 4 && lowerExt[0] == '.' && lowerExt[1] >= 'r' && lowerExt[1] <= 'z' &&
         AllDigits(lowerExt.substr(2));
}

// The N of a stem ending in ".partN", when it does.
std::optional<unsigned long long> PartNumber(const std::string& stem, std::size_t& dot) {
  dot = stem.rfind('.');
  if (dot == std::string::npos || dot == 0) return std::nullopt;
  const std::string tail = LowerCase(stem.substr(dot + 1));
  if (tail.compare(0, 4, "part") != 0 || !AllDigits(tail.substr(4))) return std::nullopt;
  const std::string digits = tail.substr(4);
  // A part number too long to count is no volume of ours either.
  if (digits.size() > std::numeric_limits<unsigned long long>::digits10) return std::nullopt;
  return std::stoull(digits);
}

}  // namespace

TRarVolumeName ParseRarVolumeName(const std::string& fileName) {
  const std::string name = ExtractFileName(fileName);
  const std::string ext = LowerCase(ExtractFileExt(name));
  const std::string stem = name.substr(0, name.size() - ext.size());
  TRarVolumeName volume;
  if (stem.empty()) return volume;
  if (ext == ".rar") {
    std::size_t dot = 0;
    if (const auto part = PartNumber(stem, dot)) {
      volume.Kind = TRarVolumeKind::vkPart;
      volume.SetName = stem.substr(0, dot);
      volume.Part = *part;
    } else {
      volume.Kind = TRarVolumeKind::vkFirstOld;
      volume.SetName = stem;
    }
  } else if (IsOldNextExtension(ext)) {
    volume.Kind = TRarVolumeKind::vkNextOld;
    volume.SetName = stem;
  }
  return volume;
}

std::string RarSetStem(const std::string& path) {
  const std::string name = ExtractFileName(path);
  const std::string ext = LowerCase(ExtractFileExt(name));
  std::string stem = name.substr(0, name.size() - ext.size());
  // NAME.partN.r00 is the old naming of an archive called NAME.partN: the same set still.
  std::size_t dot = 0;
  if ((ext == ".rar" || IsOldNextExtension(ext)) && PartNumber(stem, dot)) stem.resize(dot);
  return LowerCase(stem);
}

std::string ResolveSfvEntry(const std::string& folder, const std::string& entryName) {
  TFolderListings listings;
  return ResolveSfvEntry(folder, entryName, listings);
}

std::string ResolveSfvEntry(const std::string& folder, const std::string& entryName, TFolderListings& listings) {
  // Found as the check finds it: subfolders written with "\", another letter case.
  const TEntryLookup found = FindEntryFile(AddBackslash(folder), {entryName, {}, entryName}, listings);
  return found.Status == TLookupStatus::Found && FileExists(found.Path) ? found.Path : std::string();
}

std::string FirstVolumeAmongEntries(const std::vector<std::string>& entryNames,
                                    const TEntryResolver& resolve) {
  for (const std::string& entry : entryNames) {
    const TRarVolumeName first = ParseRarVolumeName(entry);
    if (first.Kind != TRarVolumeKind::vkFirstOld && first.Kind != TRarVolumeKind::vkPart) continue;
    const std::string path = resolve(entry);
    if (path.empty()) continue;
    if (first.Kind == TRarVolumeKind::vkFirstOld) return path;
    // The lowest part of this set that is there; a missing first part still leaves the
    // files that begin in later parts to be had.
    std::string best = path;
    unsigned long long bestPart = first.Part;
    const std::string set = LowerCase(ExtractFilePath(entry) + first.SetName);
    for (const std::string& other : entryNames) {
      const TRarVolumeName v = ParseRarVolumeName(other);
      if (v.Kind != TRarVolumeKind::vkPart || v.Part >= bestPart) continue;
      if (LowerCase(ExtractFilePath(other) + v.SetName) != set) continue;
      const std::string otherPath = resolve(other);
      if (otherPath.empty()) continue;
      best = otherPath;
      bestPart = v.Part;
    }
    return best;
  }
  return {};
}
