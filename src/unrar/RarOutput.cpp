#include "unrar/RarOutput.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "unrar/unrar.h"

namespace {

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string Joined(const std::vector<std::string>& parts, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    if (i) out += '/';
    out += parts[i];
  }
  return out;
}

// Modification and access time of an entry for futimens and utimensat; false when it has none.
bool EntryTimes(const TRarEntryHeader& h, struct timespec times[2]) {
  times[0] = {0, UTIME_OMIT};
  times[1] = {0, UTIME_OMIT};
  if (h.MTime.Present) {
    times[1] = {time_t(h.MTime.Seconds), long(h.MTime.Nanoseconds)};
  } else {
    const int64_t when = DosTimeToUnix(h.FileTime);
    if (when >= 0) times[1] = {time_t(when), 0};
  }
  if (h.ATime.Present) times[0] = {time_t(h.ATime.Seconds), long(h.ATime.Nanoseconds)};
  return times[0].tv_nsec != UTIME_OMIT || times[1].tv_nsec != UTIME_OMIT;
}

}  // namespace

std::vector<std::string> SafeParts(const std::string& entryName) {
  std::vector<std::string> kept;
  // A stored drive ("C:") says nothing about where the entry belongs here.
  const size_t start = entryName.size() >= 2 && entryName[1] == ':' ? 2 : 0;
  for (std::string& part : Split(entryName.substr(start)))
    if (!part.empty() && part != "." && part != "..") kept.push_back(std::move(part));
  return kept;
}

std::string JoinInside(const std::string& destPath, const std::string& entryName) {
  const std::vector<std::string> parts = SafeParts(entryName);
  const std::string rest = Joined(parts, parts.size());
  if (rest.empty() || destPath.empty()) return rest;
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

std::string TDestination::Path() const {
  std::string path = Root == "." ? std::string() : Root;
  for (const std::string& part : Folders) {
    if (!path.empty() && path.back() != '/') path += '/';
    path += part;
  }
  if (!path.empty() && path.back() != '/') path += '/';
  return path + Leaf;
}

TDestination PlanDestination(const char* destPath, const char* destName, const std::string& entryName) {
  TDestination d;
  const std::vector<std::string> own = SafeParts(entryName);
  if (destName && *destName) {
    const std::string name = destName;
    std::vector<std::string> parts;
    for (std::string& part : Split(name))
      if (!part.empty() && part != ".") parts.push_back(std::move(part));
    if (parts.empty() || parts.back() == "..") return d;
    // How much of the end of destName the entry's own path accounts for: all of it, or the leaf.
    size_t tail = 1;
    if (own.size() > 1 && parts.size() >= own.size() &&
        std::equal(own.begin(), own.end(), parts.end() - long(own.size())))
      tail = own.size();
    const size_t rootParts = parts.size() - tail;
    d.Root = (name[0] == '/' ? "/" : "") + Joined(parts, rootParts);
    d.Folders.assign(parts.begin() + long(rootParts), parts.end() - 1);
    d.Leaf = parts.back();
  } else {
    d.Root = destPath && *destPath ? destPath : "";
    if (own.empty()) return d;
    d.Folders.assign(own.begin(), own.end() - 1);
    d.Leaf = own.back();
  }
  if (d.Root.empty()) d.Root = ".";
  return d;
}

TFolder::~TFolder() {
  if (Descriptor >= 0) ::close(Descriptor);
}

int TFolder::Open(const TDestination& d, bool create, bool leafToo) {
  if (Descriptor >= 0) ::close(Descriptor);
  Descriptor = -1;
  if (create && !MakeFolders(d.Root)) return errno ? errno : ENOENT;
  int fd = ::open(d.Root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  auto step = [&fd, create](const std::string& name) {
    if (create && ::mkdirat(fd, name.c_str(), 0777) != 0 && errno != EEXIST) {
      const int error = errno;
      ::close(fd);
      return error;
    }
    // A link in the folder's place fails here: nothing goes through it.
    const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int error = errno;
    struct stat st {};
    // The system says "not a folder" for a link; the reason is that it is a link.
    if (next < 0 && ::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) error = ELOOP;
    ::close(fd);
    fd = next;
    return next < 0 ? error : 0;
  };
  for (const std::string& folder : d.Folders)
    if (int error = step(folder)) return error;
  if (leafToo)
    if (int error = step(d.Leaf)) return error;
  Descriptor = fd;
  return 0;
}

int TOutputFile::Create(const TDestination& d) {
  Discard();
  LastError = 0;
  if (d.Empty()) {
    LastError = EINVAL;
    return ERAR_ECREATE;
  }
  if (int error = Folder.Open(d, true)) {
    LastError = error;
    return ERAR_ECREATE;
  }
  // Whatever stands in the way goes first: a link, or a file that has other names (a hard
  // link) which writing into it would change as well.
  struct stat st {};
  if (::fstatat(Folder.Fd(), d.Leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
    ::unlinkat(Folder.Fd(), d.Leaf.c_str(), 0);
  Fd = ::openat(Folder.Fd(), d.Leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (Fd < 0) {
    LastError = errno;
    return ERAR_ECREATE;
  }
  Leaf = d.Leaf;
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
  ApplyTimeAndAttributes(Fd, header, false);
  int rc = ::close(Fd);
  Fd = -1;
  if (rc != 0) {
    LastError = errno;
    ::unlinkat(Folder.Fd(), Leaf.c_str(), 0);
    return ERAR_ECLOSE;
  }
  Leaf.clear();
  return ERAR_SUCCESS;
}

void TOutputFile::Discard() {
  if (Fd >= 0) {
    ::close(Fd);
    Fd = -1;
    ::unlinkat(Folder.Fd(), Leaf.c_str(), 0);
  }
  Leaf.clear();
}

int MakeFolder(const TDestination& d, const TRarEntryHeader& header) {
  if (d.Empty()) return EINVAL;
  TFolder folder;
  if (int error = folder.Open(d, true, true)) return error;
  ApplyTimeAndAttributes(folder.Fd(), header, true);
  return 0;
}

bool LinkStaysInside(const TDestination& d, const std::string& target) {
  if (target.empty() || target[0] == '/' || target.find('\0') != std::string::npos) return false;
  TFolder root;
  if (root.Open(TDestination{d.Root, {}, {}}, false) != 0) return false;
  char inner[PATH_MAX];
  auto isLink = [&](const std::vector<std::string>& at, std::string* to) {
    const ssize_t n = ::readlinkat(root.Fd(), Joined(at, at.size()).c_str(), inner, sizeof inner);
    if (n < 0) return false;
    if (to) to->assign(inner, size_t(n));
    return true;
  };
  std::vector<std::string> at;
  for (const std::string& folder : d.Folders) {
    at.push_back(folder);
    // The link's own folders are never links: nothing would be made through them anyway.
    if (isLink(at, nullptr)) return false;
  }
  std::vector<std::string> first = Split(target);
  std::deque<std::string> todo(first.begin(), first.end());
  // Each link met on the way is followed as the system would follow it; a chain that goes round
  // or on for ever is refused.
  int expansions = 0;
  while (!todo.empty()) {
    std::string part = std::move(todo.front());
    todo.pop_front();
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (at.empty()) return false;
      at.pop_back();
      continue;
    }
    at.push_back(std::move(part));
    std::string to;
    if (!isLink(at, &to)) continue;  // a folder, a file, or nothing yet: read as it stands
    if (++expansions > 40 || to.size() >= sizeof inner - 1 || to.empty() || to[0] == '/') return false;
    at.pop_back();
    std::vector<std::string> more = Split(to);
    todo.insert(todo.begin(), more.begin(), more.end());
  }
  return true;
}

int MakeSymlink(const TDestination& d, const std::string& target, const TRarEntryHeader& header, int& error) {
  error = 0;
  if (d.Empty()) {
    error = EINVAL;
    return ERAR_ECREATE;
  }
  if (!LinkStaysInside(d, target)) return ERAR_SKIPPED_LINK;
  TFolder folder;
  if ((error = folder.Open(d, true))) return ERAR_ECREATE;
  struct stat st {};
  if (::fstatat(folder.Fd(), d.Leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
    ::unlinkat(folder.Fd(), d.Leaf.c_str(), 0);
  if (::symlinkat(target.c_str(), folder.Fd(), d.Leaf.c_str()) != 0) {
    error = errno;
    return ERAR_ECREATE;
  }
  struct timespec times[2];
  if (EntryTimes(header, times)) ::utimensat(folder.Fd(), d.Leaf.c_str(), times, AT_SYMLINK_NOFOLLOW);
  return ERAR_SUCCESS;
}

int OpenExtracted(const TDestination& d) {
  TFolder folder;
  if (d.Empty() || folder.Open(d, false) != 0) return -1;
  return ::openat(folder.Fd(), d.Leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
}

void ApplyTimeAndAttributes(int fd, const TRarEntryHeader& header, bool isFolder) {
  struct timespec times[2];
  if (EntryTimes(header, times)) ::futimens(fd, times);
  const uint32_t attr = header.Attr;
  if (header.HostOS == RarHostUnix) {
    // Set-id and sticky bits from an archive are not honoured; only permissions are kept.
    const uint32_t type = attr & 0xF000;
    if (type != 0x8000 && type != 0x4000 && type != 0) return;
    mode_t mode = mode_t(attr & 0777);
    if (isFolder) mode |= S_IRWXU;
    ::fchmod(fd, mode);
  } else if ((attr & 0x01) && !isFolder) {
    // DOS attributes: the file was created under the umask; read-only takes the write bits away.
    struct stat st {};
    if (::fstat(fd, &st) == 0) ::fchmod(fd, st.st_mode & 07555);
  }
}

bool IsUnixLinkEntry(const TRarEntryHeader& h) {
  return h.UnpVer < RarVersion5 && h.HostOS == RarHostUnix && (h.Attr & 0xF000) == 0xA000 && !h.IsDirectory();
}
