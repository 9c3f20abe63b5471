#pragma once
#include <optional>
#include <string>
#include <vector>

// Drives as the pickers and the disk manager know them: each mounted, real file system
// (pseudo file systems such as proc, sysfs or cgroup are left out), the root "/" first.
enum class TDriveType { Unknown, Removable, Fixed, Network, CDRom, RamDisk };

struct TDriveInfo {
  std::string Root;        // the mount point, without a trailing separator ("/" for the root)
  std::string FileSystem;  // "ext4", "tmpfs", ...
  std::string Device;      // "/dev/sda1", "server:/export", ...
  TDriveType Type = TDriveType::Unknown;
  bool ReadOnly = false;   // mounted read-only: "write-protected"
};

std::vector<TDriveInfo> ListDrives();

// Parses /proc/self/mountinfo text; the removable test looks up block devices under
// sysRoot ("/sys" on a live system), so tests can hand in a folder of their own.
std::vector<TDriveInfo> ParseMountInfo(const std::string& mountInfo, const std::string& sysRoot);

// The type a file system and device give, before the removable test.
TDriveType DriveTypeOf(const std::string& fileSystem);

// The drive whose mount holds the path: the longest mount point that is a prefix of it.
// Nothing (an empty Root) when no drive matches.
TDriveInfo DriveOfPath(const std::vector<TDriveInfo>& drives, const std::string& path);

// Asks the file system itself whether the path (or, when it does not exist yet, its nearest
// existing folder) is on a read-only mount: for when no mount in the table holds it (a chroot,
// a mount namespace). Nothing when the file system cannot be asked.
std::optional<bool> PathIsOnReadOnlyMount(const std::string& path);
