#include "platform/Drives.h"

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/statvfs.h>

namespace {

// File systems that hold no user files.
const std::set<std::string> PseudoFileSystems = {
    "proc", "sysfs", "cgroup", "cgroup2", "devpts", "devtmpfs", "mqueue", "debugfs",
    "tracefs", "securityfs", "pstore", "bpf", "configfs", "fusectl", "hugetlbfs", "autofs",
    "binfmt_misc", "rpc_pipefs", "nsfs", "efivarfs", "selinuxfs", "fuse.gvfsd-fuse",
    "fuse.portal"};

// mountinfo escapes blanks and a few other bytes as \ooo.
std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool IsRemovableDevice(const std::string& majorMinor, const std::string& sysRoot) {
  // /sys/dev/block/MAJ:MIN points at the partition or disk; a partition's parent
  // folder is its disk, which carries the "removable" flag.
  for (const char* suffix : {"/removable", "/../removable"}) {
    std::ifstream flag(sysRoot + "/dev/block/" + majorMinor + suffix);
    int value = 0;
    if (flag >> value) return value == 1;
  }
  return false;
}

}  // namespace

TDriveType DriveTypeOf(const std::string& fs) {
  if (fs == "tmpfs" || fs == "ramfs") return TDriveType::RamDisk;
  if (fs == "iso9660" || fs == "udf") return TDriveType::CDRom;
  static const std::set<std::string> network = {"nfs", "nfs4", "cifs", "smb3", "smbfs",
                                                "fuse.sshfs", "sshfs", "9p", "afs", "ncpfs",
                                                "fuse.rclone", "davfs", "fuse.davfs2"};
  if (network.count(fs) != 0) return TDriveType::Network;
  return TDriveType::Fixed;
}

std::vector<TDriveInfo> ParseMountInfo(const std::string& mountInfo, const std::string& sysRoot) {
  std::vector<TDriveInfo> drives;
  std::istringstream lines(mountInfo);
  std::string line;
  while (std::getline(lines, line)) {
    // id parent maj:min root mountpoint options [optional fields...] - fstype source superoptions
    std::istringstream fields(line);
    std::string id, parent, majorMinor, root, mountPoint, options, field;
    if (!(fields >> id >> parent >> majorMinor >> root >> mountPoint >> options)) continue;
    while (fields >> field && field != "-") {
    }
    std::string fileSystem, source;
    if (!(fields >> fileSystem >> source)) continue;
    if (PseudoFileSystems.count(fileSystem) != 0) continue;

    TDriveInfo drive;
    drive.Root = Unescape(mountPoint);
    drive.FileSystem = fileSystem;
    drive.Device = Unescape(source);
    drive.Type = DriveTypeOf(fileSystem);
    drive.ReadOnly = options == "ro" || options.rfind("ro,", 0) == 0;
    if (drive.Type == TDriveType::Fixed && IsRemovableDevice(majorMinor, sysRoot)) {
      drive.Type = TDriveType::Removable;
    }
    // A later mount on the same point hides the earlier one.
    std::erase_if(drives, [&](const TDriveInfo& d) { return d.Root == drive.Root; });
    drives.push_back(drive);
  }
  std::stable_sort(drives.begin(), drives.end(),
                   [](const TDriveInfo& a, const TDriveInfo& b) { return a.Root < b.Root; });
  return drives;
}

std::vector<TDriveInfo> ListDrives() {
  std::ifstream in("/proc/self/mountinfo");
  std::stringstream text;
  text << in.rdbuf();
  return ParseMountInfo(text.str(), "/sys");
}

TDriveInfo DriveOfPath(const std::vector<TDriveInfo>& drives, const std::string& path) {
  TDriveInfo best;
  for (const auto& d : drives) {
    const bool holds = d.Root == "/" ? !path.empty() && path[0] == '/'
                                     : path == d.Root || path.rfind(d.Root + "/", 0) == 0;
    if (holds && d.Root.size() >= best.Root.size()) best = d;
  }
  return best;
}

std::optional<bool> PathIsOnReadOnlyMount(const std::string& path) {
  std::string probe = path.empty() ? std::string("/") : path;
  for (;;) {
    struct statvfs info {};
    if (::statvfs(probe.c_str(), &info) == 0) return (info.f_flag & ST_RDONLY) != 0;
    if (errno != ENOENT || probe == "/") return std::nullopt;
    const size_t slash = probe.find_last_of('/', probe.size() > 1 ? probe.size() - 2 : 0);
    probe = slash == std::string::npos || slash == 0 ? std::string("/") : probe.substr(0, slash);
  }
}
