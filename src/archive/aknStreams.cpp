#include "archive/aknStreams.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "archive/aknMessages.h"
#include "platform/SystemError.h"

namespace {

constexpr std::int64_t CopyBlockSize = 100000;

bool FitsInt32(std::int64_t value) {
  return value >= std::numeric_limits<std::int32_t>::min() &&
         value <= std::numeric_limits<std::int32_t>::max();
}

std::string OsErrorMessage(int code) {
  std::string text = SystemErrorText(code);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return "System Error.  Code: " + std::to_string(code) + ".\r\n" + text;
}

// Clears the fallback flag however the 64-bit Seek leaves.
class TFlagGuard {
 public:
  explicit TFlagGuard(bool& flag) : FFlag(flag) { FFlag = true; }
  ~TFlagGuard() { FFlag = false; }
  TFlagGuard(const TFlagGuard&) = delete;
  TFlagGuard& operator=(const TFlagGuard&) = delete;

 private:
  bool& FFlag;
};

}  // namespace

EOSError::EOSError(int code) : Exception(OsErrorMessage(code)), FErrorCode(code) {}

E_RAISE::E_RAISE(int messageNumber) : Exception(MessageText(messageNumber)), FMessageNumber(messageNumber) {}

// ---- TStream32

void TStream32::SetSize(std::int32_t) {}

void TStream32::SetSize(std::int64_t newSize) {
  if (!FitsInt32(newSize)) throw ERangeError();
  SetSize(static_cast<std::int32_t>(newSize));
}

std::int32_t TStream32::Seek(std::int32_t offset, std::uint16_t origin) {
  // Reached again from the 64-bit Seek below: neither one is overridden.
  if (FSeekFallback) throw EStreamError(std::string(ClassName()) + ".Seek not implemented");
  std::int64_t result = 0;
  {
    TFlagGuard guard(FSeekFallback);
    result = Seek(static_cast<std::int64_t>(offset), static_cast<TSeekOrigin>(origin));
  }
  if (!FitsInt32(result)) throw ERangeError();
  return static_cast<std::int32_t>(result);
}

std::int64_t TStream32::Seek(std::int64_t offset, TSeekOrigin origin) {
  if (!FitsInt32(offset)) throw ERangeError();
  return Seek(static_cast<std::int32_t>(offset), static_cast<std::uint16_t>(origin));
}

std::int64_t TStream32::Position() { return Seek(std::int64_t{0}, TSeekOrigin::soCurrent); }

void TStream32::SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

std::int64_t TStream32::Size() {
  const std::int64_t pos = Seek(std::int64_t{0}, TSeekOrigin::soCurrent);
  const std::int64_t size = Seek(std::int64_t{0}, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream32::ReadBuffer(void* buffer, std::int32_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream32::WriteBuffer(const void* buffer, std::int32_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

std::int64_t TStream32::CopyFrom(TStream32& source, const bool* cancel, TStreamProgress progress,
                                 std::int64_t count, const TPumpMessages& pump) {
  if (count < 0) throw ERangeError();
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  FProgress = std::move(progress);
  const auto bufferSize = static_cast<std::size_t>(std::min(count, CopyBlockSize));
  const auto buffer = std::make_unique<char[]>(std::max<std::size_t>(bufferSize, 1));
  std::int64_t remaining = count;
  while (remaining > 0 && (cancel == nullptr || !*cancel)) {
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(remaining, static_cast<std::int64_t>(bufferSize)));
    if (pump) pump();
    source.ReadBuffer(buffer.get(), n);
    WriteBuffer(buffer.get(), n);
    remaining -= n;
  }
  return count;
}

// ---- THandleStream32

void THandleStream32::SetSize(std::int32_t newSize) { SetSize(static_cast<std::int64_t>(newSize)); }

void THandleStream32::SetSize(std::int64_t newSize) {
  // A failed seek would set the end at the old position, so it counts as failure too.
  if (Seek(newSize, TSeekOrigin::soBeginning) != newSize || !FileSetEnd(FHandle))
    throw EOSError(LastSystemError());
}

std::int32_t THandleStream32::Read(void* buffer, std::int32_t count) {
  const std::int64_t n = FileRead(FHandle, buffer, count);
  return n < 0 ? 0 : static_cast<std::int32_t>(n);
}

std::int32_t THandleStream32::Write(const void* buffer, std::int32_t count) {
  const std::int64_t n = FileWrite(FHandle, buffer, count);
  return n < 0 ? 0 : static_cast<std::int32_t>(n);
}

std::int64_t THandleStream32::Seek(std::int64_t offset, TSeekOrigin origin) {
  return FileSeek(FHandle, offset, static_cast<int>(origin) & 0x7F);
}

// ---- TFileStream32

namespace {

int OpenOrRaise(const std::string& fileName, std::uint32_t mode) {
  if (mode == fmCreate) {
    const int h = FileCreate(fileName);
    if (h < 0) throw EFCreateError("Cannot create file " + fileName);
    return h;
  }
  const int h = FileOpen(fileName, mode);
  if (h < 0) throw EFOpenError("Cannot open file " + fileName);
  return h;
}

}  // namespace

TFileStream32::TFileStream32(const std::string& fileName, std::uint32_t mode)
    : THandleStream32(OpenOrRaise(fileName, mode)) {}

TFileStream32::~TFileStream32() {
  if (FHandle >= 0) FileClose(FHandle);
}

// ---- TaknReadStream

namespace {

int OpenForAkn(const std::string& fileName, int& handle, std::uint32_t mode) {
  handle = mode == fmCreate ? FileCreate(fileName) : FileOpen(fileName, mode);
  if (handle < 0) {
    if (mode == fmCreate) throw EFCreateError(MessageText(25237));
    throw EFOpenError(MessageText(25235));
  }
  return handle;
}

}  // namespace

TaknReadStream::TaknReadStream(const std::string& fileName, int& handle, std::uint32_t mode)
    : FHandle(OpenForAkn(fileName, handle, mode)) {}

TaknReadStream::~TaknReadStream() {
  if (FHandle >= 0) FileClose(FHandle);
}

void TaknReadStream::SetSize(std::int32_t newSize) {
  if (FileSeek(FHandle, newSize, soFromBeginning) != newSize || !FileSetEnd(FHandle))
    throw EOSError(LastSystemError());
}

std::int32_t TaknReadStream::Read(void* buffer, std::int32_t count) {
  const std::int64_t n = FileRead(FHandle, buffer, count);
  return n < 0 ? 0 : static_cast<std::int32_t>(n);
}

std::int32_t TaknReadStream::Write(const void* buffer, std::int32_t count) {
  const std::int64_t n = FileWrite(FHandle, buffer, count);
  return n < 0 ? 0 : static_cast<std::int32_t>(n);
}

std::int32_t TaknReadStream::Seek(std::int32_t offset, std::uint16_t origin) {
  const std::int64_t pos = FileSeek(FHandle, offset, origin);
  // A position past 2 GiB has no 32-bit form; cutting it would move the caller silently.
  if (!FitsInt32(pos)) throw ERangeError();
  return static_cast<std::int32_t>(pos);
}

// Archives grow past 2 GiB, so this stream seeks with 64 bits too.
std::int64_t TaknReadStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  return FileSeek(FHandle, offset, static_cast<int>(origin));
}
