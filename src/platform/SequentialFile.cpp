#include "platform/SequentialFile.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int NotRegularCode(mode_t mode) {
  if (S_ISDIR(mode)) return ecNotRegularFolder;
  if (S_ISFIFO(mode)) return ecNotRegularFifo;
  if (S_ISSOCK(mode)) return ecNotRegularSocket;
  return ecNotRegularDevice;
}

}  // namespace

TSequentialFile::~TSequentialFile() { Close(); }

int TSequentialFile::Open(const std::string& path) {
  Close();
  // Non-blocking, so that a FIFO cannot hold the open; no terminal becomes ours either.
  // A regular file reads the same with or without the flag.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0) {
    // A socket cannot be opened at all (ENXIO); say what it is rather than why not.
    const int code = errno;
    return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) ? NotRegularCode(st.st_mode) : code;
  }
  int code = 0;
  if (fstat(fd, &st) != 0) code = errno;
  else if (!S_ISREG(st.st_mode)) code = NotRegularCode(st.st_mode);
  if (code != 0) {
    ::close(fd);
    return code;
  }
  fd_ = fd;
  size_ = static_cast<std::uint64_t>(st.st_size);
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);  // only a hint: its result does not matter
  return 0;
}

std::int64_t TSequentialFile::Read(void* buffer, std::size_t count) {
  auto* out = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd_, out + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

int TSequentialFile::Close() {
  if (fd_ < 0) return 0;
  const int result = ::close(fd_) == 0 ? 0 : errno;
  fd_ = -1;
  return result;
}

int ReadRegularFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  TSequentialFile file;
  if (const int code = file.Open(path); code != 0) return code;
  // The size is a first guess only: the file may grow or shrink while it is read.
  std::size_t filled = 0;
  bytes.resize(static_cast<std::size_t>(file.Size()) + 1);
  for (;;) {
    const std::int64_t n = file.Read(bytes.data() + filled, bytes.size() - filled);
    if (n < 0) {
      const int code = LastSystemError();
      bytes.clear();
      return code;
    }
    filled += static_cast<std::size_t>(n);
    if (filled < bytes.size()) break;
    bytes.resize(bytes.size() * 2);
  }
  bytes.resize(filled);
  return file.Close();
}
