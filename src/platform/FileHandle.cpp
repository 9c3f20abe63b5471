#include "platform/FileHandle.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int AccessFlags(std::uint32_t mode) {
  switch (mode & 0x3) {
    case fmOpenWrite: return O_WRONLY;
    case fmOpenReadWrite: return O_RDWR;
    default: return O_RDONLY;
  }
}

int LockFor(std::uint32_t mode) {
  switch (mode & 0xF0) {
    case fmShareExclusive: return LOCK_EX;
    case fmShareDenyWrite:
    case fmShareDenyRead: return LOCK_SH;
    default: return 0;
  }
}

}  // namespace

int FileOpen(const std::string& path, std::uint32_t mode) {
  if (mode == fmCreate) return FileCreate(path);
  // Non-blocking first, so that a FIFO cannot stall the open waiting for a writer.
  const int fd = ::open(path.c_str(), AccessFlags(mode) | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st {};
  int code = 0;
  if (fstat(fd, &st) != 0) code = errno;
  else if (S_ISDIR(st.st_mode)) code = EISDIR;
  else if (!S_ISREG(st.st_mode)) code = EINVAL;  // devices and pipes are no files to archive
  else if (const int lock = LockFor(mode); lock != 0 && flock(fd, lock | LOCK_NB) != 0) code = errno;
  else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) code = errno;
  if (code != 0) {
    ::close(fd);
    errno = code;
    return -1;
  }
  return fd;
}

int FileCreate(const std::string& path) {
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

std::int64_t FileRead(int handle, void* buffer, std::int64_t count) {
  if (count < 0) {
    errno = EINVAL;
    return -1;
  }
  auto* out = static_cast<char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(handle, out + done, static_cast<size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

std::int64_t FileWrite(int handle, const void* buffer, std::int64_t count) {
  if (count < 0) {
    errno = EINVAL;
    return -1;
  }
  const auto* in = static_cast<const char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(handle, in + done, static_cast<size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

std::int64_t FileSeek(int handle, std::int64_t offset, int origin) {
  int whence = SEEK_SET;
  if (origin == 1) whence = SEEK_CUR;
  else if (origin == 2) whence = SEEK_END;
  else if (origin != 0) {
    errno = EINVAL;
    return -1;
  }
  return ::lseek(handle, static_cast<off_t>(offset), whence);
}

bool FileSetEnd(int handle) {
  const off_t pos = ::lseek(handle, 0, SEEK_CUR);
  return pos >= 0 && ::ftruncate(handle, pos) == 0;
}

bool FileClose(int handle) {
  if (handle < 0) {
    errno = EBADF;
    return false;
  }
  return ::close(handle) == 0;
}
