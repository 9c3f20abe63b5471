#include "ReadOnlyInput.h"

#include "TempDir.h"

#include <filesystem>
#include <stdexcept>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

std::map<std::string, TFileState> FileStates(const std::string& folder) {
  std::map<std::string, TFileState> states;
  for (const auto& e : fs::directory_iterator(folder)) {
    struct stat st {};
    if (!e.is_regular_file() || ::stat(e.path().c_str(), &st) != 0) continue;
    states[e.path().filename().string()] = {ReadWholeFile(e.path().string()), unsigned(st.st_mode & 07777),
                                            (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
  }
  return states;
}

void MakeReadOnlyCopies(const std::vector<std::string>& files, const std::string& folder) {
  fs::create_directories(folder);
  for (const std::string& file : files) {
    const fs::path target = fs::path(folder) / fs::path(file).filename();
    fs::copy_file(file, target, fs::copy_options::overwrite_existing);
    fs::permissions(target, fs::perms(0444));
  }
  fs::permissions(folder, fs::perms(0555));
}

TWriteWatch::TWriteWatch(const std::string& folder) {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  constexpr uint32_t writes =
      IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF;
  if (fd_ < 0 || inotify_add_watch(fd_, folder.c_str(), writes) < 0) throw std::runtime_error("no inotify watch");
}

TWriteWatch::~TWriteWatch() {
  if (fd_ >= 0) ::close(fd_);
}

std::vector<std::string> TWriteWatch::Writes() {
  std::vector<std::string> writes;
  alignas(inotify_event) char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
      writes.push_back(std::to_string(e->mask) + " " + (e->len ? e->name : ""));
      at += ssize_t(sizeof(inotify_event) + e->len);
    }
  }
  return writes;
}
