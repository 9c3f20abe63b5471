// Random-access byte sources the block layer reads archives from: a volume file on disk, or a
// memory image (the fuzzer and tests).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

class TByteSource {
 public:
  virtual ~TByteSource() = default;
  // Reads up to size bytes at offset; returns the number read (short only at the end or on error).
  virtual size_t ReadAt(uint64_t offset, void* buffer, size_t size) = 0;
  virtual uint64_t Size() const = 0;
};

class TMemorySource : public TByteSource {
 public:
  TMemorySource(const void* data, size_t size) : Data(static_cast<const uint8_t*>(data)), Length(size) {}
  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override;
  uint64_t Size() const override { return Length; }

 private:
  const uint8_t* Data;
  size_t Length;
};

class TFileSource : public TByteSource {
 public:
  ~TFileSource() override;
  // Null when the file cannot be opened for reading.
  static std::unique_ptr<TFileSource> Open(const std::string& path);
  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override;
  uint64_t Size() const override { return Length; }
  // Device and inode: the same file under two names is one volume.
  std::pair<uint64_t, uint64_t> Identity() const { return Id; }

 private:
  TFileSource(int fd, uint64_t size, std::pair<uint64_t, uint64_t> id) : Fd(fd), Length(size), Id(id) {}
  int Fd;
  uint64_t Length;
  std::pair<uint64_t, uint64_t> Id;
};
