#include "unrar/RarOutput.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "unrar/unrar.h"

std::string JoinInside(const std::string& destPath, const std::string& entryName) {
  std::string rest;
  size_t start = 0;
  // A stored drive ("C:") says nothing about where the entry belongs here.
  if (entryName.size() >= 2 && entryName[1] == ':') start = 2;
  while (start <= entryName.size()) {
    size_t end = entryName.find('/', start);
    if (end == std::string::npos) end = entryName.size();
    std::string part = entryName.substr(start, end - start);
    if (!part.empty() && part != "." && part != "..") {
      if (!rest.empty()) rest += '/';
      rest += part;
    }
    start = end + 1;
  }
  if (rest.empty()) return rest;
  if (destPath.empty()) return rest;
  return destPath.back() == '/' ? destPath + rest : destPath + '/' + rest;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool MakeFolders(const std::string& path) {
  if (path.empty()) return true;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    errno = ENOTDIR;
    return false;
  }
  std::string parent = FolderOf(path);
  if (!parent.empty() && parent != path && !MakeFolders(parent)) return false;
  return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

int TOutputFile::Create(const std::string& path) {
  Discard();
  LastError = 0;
  if (path.empty()) {
    LastError = EINVAL;
    return ERAR_ECREATE;
  }
  // A folder that cannot be made is the reason the file cannot be, not the ENOENT that follows.
  if (!MakeFolders(FolderOf(path))) {
    LastError = errno;
    return ERAR_ECREATE;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(path.c_str());
  Fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (Fd < 0) {
    LastError = errno;
    return ERAR_ECREATE;
  }
  Path = path;
  return ERAR_SUCCESS;
}

int TOutputFile::Write(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    ssize_t n = ::write(Fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      LastError = n < 0 ? errno : ENOSPC;
      return ERAR_EWRITE;
    }
    p += n;
    size -= size_t(n);
  }
  return ERAR_SUCCESS;
}

int TOutputFile::Finish(const TRarEntryHeader& header) {
  if (Fd < 0) return ERAR_ECLOSE;
  int rc = ::close(Fd);
  Fd = -1;
  if (rc != 0) {
    LastError = errno;
    ::unlink(Path.c_str());
    return ERAR_ECLOSE;
  }
  ApplyTimeAndAttributes(Path, header, false);
  Path.clear();
  return ERAR_SUCCESS;
}

void TOutputFile::Discard() {
  if (Fd >= 0) {
    ::close(Fd);
    Fd = -1;
    ::unlink(Path.c_str());
  }
  Path.clear();
}

void ApplyTimeAndAttributes(const std::string& path, const TRarEntryHeader& header, bool isFolder) {
  const uint32_t attr = header.Attr;
  const int64_t when = DosTimeToUnix(header.FileTime);
  if (when >= 0) {
    struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(when), 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
  if (header.HostOS == RarHostUnix) {
    // Set-id and sticky bits from an archive are not honoured; only permissions are kept.
    // Links and other special files are written as plain files and keep the default mode.
    const uint32_t type = attr & 0xF000;
    if (type != 0x8000 && type != 0x4000 && type != 0) return;
    mode_t mode = mode_t(attr & 0777);
    if (isFolder) mode |= S_IRWXU;
    ::chmod(path.c_str(), mode);
  } else if ((attr & 0x01) && !isFolder) {
    // DOS attributes: the file was created under the umask; read-only takes the write bits away.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) ::chmod(path.c_str(), st.st_mode & 07555);
  }
}
