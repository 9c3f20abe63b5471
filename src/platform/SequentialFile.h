#pragma once
// A file read once from start to end, as the checksum engine and the SFV readers read:
// one open, one status query, the reads, one close, no buffering of its own. Only a
// regular file is ever read: the open never blocks (a FIFO would wait for a writer
// for good), and a folder, FIFO, socket or device is refused before a byte is read.
#include <cstdint>
#include <string>

class TSequentialFile {
public:
  TSequentialFile() = default;
  ~TSequentialFile();
  TSequentialFile(const TSequentialFile&) = delete;
  TSequentialFile& operator=(const TSequentialFile&) = delete;

  // 0, or the error code: the system's, or one of ours (ecNotRegular...) for a path
  // that is no regular file. The system is told that the file is read sequentially.
  int Open(const std::string& path);
  // The size the file had when it was opened.
  std::uint64_t Size() const { return size_; }
  // Reads count bytes unless the file ends first: the number read, or -1 with the error
  // in LastSystemError().
  std::int64_t Read(void* buffer, std::size_t count);
  // 0, or the error code of the close.
  int Close();

private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

// The whole contents of a regular file: 0, or the error code as Open gives it.
int ReadRegularFile(const std::string& path, std::string& bytes);
