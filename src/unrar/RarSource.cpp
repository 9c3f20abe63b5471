#include "unrar/RarSource.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

size_t TMemorySource::ReadAt(uint64_t offset, void* buffer, size_t size) {
  if (offset >= Length) return 0;
  size_t n = size < Length - offset ? size : size_t(Length - offset);
  std::memcpy(buffer, Data + offset, n);
  return n;
}

TFileSource::~TFileSource() { ::close(Fd); }

std::unique_ptr<TFileSource> TFileSource::Open(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<TFileSource>(new TFileSource(fd, uint64_t(st.st_size), {uint64_t(st.st_dev), uint64_t(st.st_ino)}));
}

size_t TFileSource::ReadAt(uint64_t offset, void* buffer, size_t size) {
  size_t done = 0;
  auto* out = static_cast<uint8_t*>(buffer);
  while (done < size) {
    ssize_t n = ::pread(Fd, out + done, size - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += size_t(n);
  }
  return done;
}
