#pragma once
// RAR volume sets by their file names, in both namings the archiver uses: the old one
// (NAME.rar, NAME.r00, NAME.r01 ...) and today's default (NAME.part1.rar, NAME.part2.rar
// ..., any digit count). No file is opened; only existence is asked, through the
// resolver given.
#include "checksum/SfvLookup.h"

#include <functional>
#include <string>
#include <vector>

enum class TRarVolumeKind {
  vkNone,       // not a RAR volume name
  vkFirstOld,   // NAME.rar: a single archive or the first of an old-style set
  vkNextOld,    // NAME.r00 ... NAME.s00 ...: a later volume of an old-style set
  vkPart,       // NAME.partN.rar
};

struct TRarVolumeName {
  TRarVolumeKind Kind = TRarVolumeKind::vkNone;
  std::string SetName;   // NAME as written, without folder
  unsigned long long Part = 0;  // N of NAME.partN.rar
};

TRarVolumeName ParseRarVolumeName(const std::string& fileName);

// The name without folder and last extension, in lower case; for NAME.partN.rar and
// NAME.partN.r00 it is NAME, so every volume of a new-style set shares it with the
// set's .sfv and .nfo.
std::string RarSetStem(const std::string& path);

// The file an SFV entry names in its folder (with or without trailing separator), found
// as FindEntryFile finds it: its path when it is a file, else "". Every lookup of an
// entry by the set code goes through here; lookups of one SFV's entries share `listings`.
std::string ResolveSfvEntry(const std::string& folder, const std::string& entryName, TFolderListings& listings);
std::string ResolveSfvEntry(const std::string& folder, const std::string& entryName);

using TEntryResolver = std::function<std::string(const std::string& entryName)>;

// The first volume of the first RAR set among an SFV's entries, in entry order, that
// exists: a NAME.rar, or the lowest NAME.partN.rar of its set that is there. The
// resolved path, or "" when the entries name no RAR archive that exists.
std::string FirstVolumeAmongEntries(const std::vector<std::string>& entryNames,
                                    const TEntryResolver& resolve);
