#include "platform/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

std::string LongPathName(const std::string& path) {
  if (!PathExists(path)) return path;
  // Absolute and cleaned by the text alone: a symbolic link stays as the user named it,
  // like a shortcut, so a link to a file elsewhere keeps standing in its own folder.
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) return path;
  std::string clean = absolute.lexically_normal().string();
  if (clean.size() > 1 && clean.back() == PathDelim) clean.pop_back();
  return clean;
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::uint64_t> FileSize(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::uint32_t> FileAttributes(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  std::uint32_t attrs = 0;
  if (S_ISDIR(st.st_mode)) attrs |= faDirectory;
  else attrs |= faArchive;
  if ((st.st_mode & S_IWUSR) == 0) attrs |= faReadOnly;
  return attrs;
}

std::optional<std::uint32_t> FileMode(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint32_t>(st.st_mode & 07777);
}

bool SetFileMode(const std::string& path, std::uint32_t mode) {
  return chmod(path.c_str(), static_cast<mode_t>(mode & 07777)) == 0;
}

bool SetNormalAttributes(const std::string& path) {
  const auto mode = FileMode(path);
  return mode && SetFileMode(path, *mode | S_IWUSR);
}

std::string ExtractFilePath(const std::string& path) {
  const auto slash = path.rfind(PathDelim);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& path) {
  const auto slash = path.rfind(PathDelim);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractFileExt(const std::string& path) {
  const auto slash = path.rfind(PathDelim);
  const auto dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return path.substr(dot);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
  const auto oldExt = ExtractFileExt(path);
  return path.substr(0, path.size() - oldExt.size()) + ext;
}

std::string AddBackslash(const std::string& path) {
  if (path.empty() || path.back() == PathDelim) return path;
  return path + PathDelim;
}

bool ForceDirectories(const std::string& folder) {
  for (std::size_t i = 1; i <= folder.size(); ++i) {
    if (i == folder.size() || folder[i] == PathDelim) {
      mkdir(folder.substr(0, i).c_str(), 0755);  // an existing level is fine
    }
  }
  return DirectoryExists(folder);
}

std::vector<std::string> MissingFolders(const std::string& folder) {
  std::vector<std::string> missing;
  std::string level = folder;
  while (level.size() > 1 && level.back() == PathDelim) level.pop_back();
  while (!level.empty() && level != "/" && !DirectoryExists(level)) {
    missing.push_back(level);
    const std::size_t slash = level.rfind(PathDelim);
    if (slash == std::string::npos) break;
    level = level.substr(0, slash);
  }
  return missing;
}

void RemoveEmptyFolders(const std::vector<std::string>& folders) {
  for (const std::string& folder : folders)
    if (rmdir(folder.c_str()) != 0) return;  // not empty (or not there): the rest stay too
}

int ReplaceFileContents(const std::string& path, const std::string& bytes) {
  static unsigned counter = 0;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return errno;
  }
  if (fd < 0) return EEXIST;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      close(fd);
      unlink(temp.c_str());
      return error;
    }
    done += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    unlink(temp.c_str());
    return error;
  }
  return 0;
}
