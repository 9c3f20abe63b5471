#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// File-system services in the program's own terms. Paths are native byte strings
// (UTF-8 here); names round-trip byte for byte.

// The absolute, cleaned form of an existing file or folder's path, symbolic links kept
// as named, never resolved; the input unchanged when there is no such file or folder.
std::string LongPathName(const std::string& path);

bool PathExists(const std::string& path);       // anything that exists, links followed
bool FileExists(const std::string& path);       // an existing non-directory
bool IsRegularFile(const std::string& path);    // a regular file, links followed
bool DirectoryExists(const std::string& path);  // an existing directory

// The size in bytes (64-bit), or nothing when the file cannot be queried; the
// error code is then in LastSystemError().
std::optional<std::uint64_t> FileSize(const std::string& path);

// Attribute bits as the archive family and file lists know them.
enum : std::uint32_t {
  faReadOnly = 0x01,
  faHidden = 0x02,
  faSysFile = 0x04,
  faDirectory = 0x10,
  faArchive = 0x20,
};

// Read-only when the owner may not write; hidden and system are never set (a
// dot-name is hidden for display only, which file lists decide themselves).
std::optional<std::uint32_t> FileAttributes(const std::string& path);

// The full mode bits, so that a change can be undone exactly.
std::optional<std::uint32_t> FileMode(const std::string& path);
bool SetFileMode(const std::string& path, std::uint32_t mode);

// "Normal" attributes: the owner may write; the other mode bits are kept.
bool SetNormalAttributes(const std::string& path);

// Creates a folder and every missing parent; true when it exists afterwards.
bool ForceDirectories(const std::string& folder);

// The folder levels of `folder` that do not exist yet, deepest first: what ForceDirectories
// would make.
std::vector<std::string> MissingFolders(const std::string& folder);
// Removes the given folders in order while each is empty; stops at the first that is not.
void RemoveEmptyFolders(const std::vector<std::string>& folders);

// Replaces a file's contents in one step: the bytes go to a new file beside it, which
// is then renamed over the target, so a failed write leaves the old file as it was.
// Returns 0, or the system's error code.
int ReplaceFileContents(const std::string& path, const std::string& bytes);

// The folder part of a path with its trailing separator ("/a/b/c.txt" -> "/a/b/"),
// empty when the path names no folder.
std::string ExtractFilePath(const std::string& path);
// The name after the last separator.
std::string ExtractFileName(const std::string& path);
// The extension from the last dot of the name on, empty when the name has none.
std::string ExtractFileExt(const std::string& path);
// The path with its extension replaced (or appended when the name has none).
std::string ChangeFileExt(const std::string& path, const std::string& ext);
// A trailing separator added to a non-empty path that lacks one.
std::string AddBackslash(const std::string& path);

inline constexpr char PathDelim = '/';
