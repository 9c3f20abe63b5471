#pragma once
// Archives as read-only input for extraction tests: read-only copies, the state of every file
// (bytes, mode, modification time), and a watch that sees any write into a folder, by this
// process or another one, as root too (root may write a file of mode 0444, but the watch
// still tells when anything did).
#include <map>
#include <string>
#include <vector>

struct TFileState {
  std::string Bytes;
  unsigned Mode = 0;
  long long MtimeNs = 0;
  bool operator==(const TFileState&) const = default;
};

// Every regular file directly in a folder, by name.
std::map<std::string, TFileState> FileStates(const std::string& folder);

// Copies the files into the folder (created), then makes them 0444 and the folder 0555.
void MakeReadOnlyCopies(const std::vector<std::string>& files, const std::string& folder);

// inotify on one folder: files opened for writing, modified, given other attributes or
// times, created, removed or renamed there.
class TWriteWatch {
 public:
  explicit TWriteWatch(const std::string& folder);
  ~TWriteWatch();
  TWriteWatch(const TWriteWatch&) = delete;
  TWriteWatch& operator=(const TWriteWatch&) = delete;
  // What happened so far, one "event name" line each.
  std::vector<std::string> Writes();

 private:
  int fd_ = -1;
};
