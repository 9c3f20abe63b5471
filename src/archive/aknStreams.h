#pragma once
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "archive/aknTypes.h"
#include "platform/FileHandle.h"
#include "platform/Pump.h"

// The archive family's own streams over file handles, with 64-bit positions, and
// the exception classes they and the family raise. Everything runs on the caller's
// thread; the only callback is the message pump CopyFrom calls between blocks, and
// that pump may run any window handler, including one that sets the cancel flag.

// The runtime's exception root: a message text and nothing else.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const std::string& Message() const { return FMessage; }
  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class ERangeError : public Exception {
 public:
  ERangeError() : Exception("Range check error") {}
};
// A failed system call: the system's text for the code.
class EOSError : public Exception {
 public:
  explicit EOSError(int code);
  int ErrorCode() const { return FErrorCode; }

 private:
  int FErrorCode;
};

// The family's errors: the message is the table's text for the number.
class E_RAISE : public Exception {
 public:
  explicit E_RAISE(int messageNumber);
  int MessageNumber() const { return FMessageNumber; }

 private:
  int FMessageNumber;
};

// Origins of the 32-bit Seek.
enum : std::uint16_t { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };
// Origins of the 64-bit Seek; a scoped type keeps the two overloads apart.
enum class TSeekOrigin : int { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// Progress of a copy as the stream keeps it for whoever drives the copy.
using TStreamProgress = std::function<void(std::int64_t done, std::int64_t total)>;

class TStream32 {
 public:
  virtual ~TStream32() = default;
  TStream32() = default;
  TStream32(const TStream32&) = delete;
  TStream32& operator=(const TStream32&) = delete;

  virtual const char* ClassName() const { return "TStream32"; }

  virtual void SetSize(std::int32_t newSize);
  virtual void SetSize(std::int64_t newSize);
  virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
  virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
  virtual std::int32_t Seek(std::int32_t offset, std::uint16_t origin);
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin);
  // Copies count bytes (0: the whole source from its start) from source; stops early
  // once *cancel is true. Returns the count asked for.
  virtual std::int64_t CopyFrom(TStream32& source, const bool* cancel, TStreamProgress progress,
                                std::int64_t count, const TPumpMessages& pump = {});

  std::int64_t Position();
  void SetPosition(std::int64_t position);
  std::int64_t Size();

  void ReadBuffer(void* buffer, std::int32_t count);
  void WriteBuffer(const void* buffer, std::int32_t count);

  const TStreamProgress& Progress() const { return FProgress; }

 private:
  TStreamProgress FProgress;
  bool FSeekFallback = false;  // set while the 32-bit Seek tries the 64-bit one
};

class THandleStream32 : public TStream32 {
 public:
  explicit THandleStream32(int handle) : FHandle(handle) {}
  const char* ClassName() const override { return "THandleStream32"; }

  int Handle() const { return FHandle; }

  using TStream32::Seek;
  using TStream32::SetSize;
  void SetSize(std::int32_t newSize) override;
  void SetSize(std::int64_t newSize) override;
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

 protected:
  int FHandle;
};

class TFileStream32 : public THandleStream32 {
 public:
  // mode fmCreate creates (truncating); any other value opens with that mode.
  TFileStream32(const std::string& fileName, std::uint32_t mode);
  ~TFileStream32() override;
  const char* ClassName() const override { return "TFileStream32"; }
};

// Opens archives for the extraction driver and hands the handle back as well; the
// stream still owns it and closes it.
class TaknReadStream : public TStream32 {
 public:
  TaknReadStream(const std::string& fileName, int& handle, std::uint32_t mode);
  ~TaknReadStream() override;
  const char* ClassName() const override { return "TaknReadStream"; }

  int Handle() const { return FHandle; }

  using TStream32::Seek;
  using TStream32::SetSize;
  void SetSize(std::int32_t newSize) override;
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int32_t Seek(std::int32_t offset, std::uint16_t origin) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

 private:
  int FHandle;
};
