#include "checksum/CrcEngine.h"

#include "checksum/skdebug.h"
#include "platform/SequentialFile.h"
#include "platform/SystemError.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <libdeflate.h>

void BuildCrcTable(TCrcTable& table) {
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t r = i;
    for (int bit = 0; bit < 8; ++bit) r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
    table[i] = r;
  }
}

std::uint32_t UpdateCrcLong(std::uint32_t crc, const void* buffer, std::size_t count) {
  // libdeflate keeps the register inverted between calls; ours is the raw register.
  return ~libdeflate_crc32(~crc, buffer, count);
}

std::uint32_t UpdateCrc(std::uint32_t crc, const void* buffer, int count) {
  return UpdateCrcLong(crc, buffer, static_cast<std::size_t>(count) & 0xFFFFu);
}

double Percent(double done, double total) {
  if (done == 0 || total == 0) return 0;
  return done / total * 100;
}

std::string CrcTraceLine(std::uint64_t bytesRead, std::uint32_t crcRegister) {
  char line[64];
  std::snprintf(line, sizeof line, "%llu : %08X", static_cast<unsigned long long>(bytesRead),
                static_cast<unsigned>(crcRegister));
  return line;
}

TCrcReader::TCrcReader(std::span<std::uint8_t> buffer, const IClock& clock)
    : buffer_(buffer.first(std::max(buffer.size() / CrcBlockSize, std::size_t{1}) * CrcBlockSize)),
      clock_(clock) {}

namespace {

struct TBusyGuard {
  explicit TBusyGuard(bool& flag) : flag_(flag) { flag_ = true; }
  ~TBusyGuard() { flag_ = false; }
  bool& flag_;
};

TFileCrcResult Failure(TFileCrcResult result, int code) {
  result.Status = TCrcStatus::Failed;
  result.Crc = 0;
  result.ErrorCode = code != 0 ? code : EIO;
  return result;
}

}  // namespace

TFileCrcResult TCrcReader::FileCrc(const std::string& path, const TCrcReadHooks& hooks) {
  TFileCrcResult result;
  if (busy_) return Failure(result, EBUSY);
  TBusyGuard guard(busy_);

  // Only a regular file is opened for reading; a FIFO named in an SFV file must not hang it.
  TSequentialFile file;
  if (const int code = file.Open(path); code != 0) return Failure(result, code);
  result.Size = file.Size();  // 64-bit: files of 2 GiB and more are read whole
  result.Sized = true;

  std::uint32_t crc = 0xFFFFFFFFu;
  std::uint64_t bytesRead = 0;  // summed so far, block by block
  std::uint64_t unread = result.Size;
  std::size_t filled = 0, at = 0;  // the chunk in the buffer, and how far it is summed
  TPumpThrottle pump(clock_, hooks.PumpMessages);
  std::size_t n = 0;
  do {
    if (hooks.Halted && hooks.Halted()) {
      result.Status = TCrcStatus::Halted;
      return result;
    }
    if (at == filled) {
      // Chunks are whole blocks but the last, so every block but the last is 16 KiB.
      // An empty file still gets one read: a file whose size says 0 may hold bytes.
      const std::size_t want =
          unread == 0 ? CrcBlockSize : static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size(), unread));
      const std::int64_t got = file.Read(buffer_.data(), want);
      if (got < 0) return Failure(result, LastSystemError());
      filled = static_cast<std::size_t>(got);
      at = 0;
      unread -= std::min<std::uint64_t>(unread, filled);
    }
    n = std::min(CrcBlockSize, filled - at);
    bytesRead += n;

    if (hooks.OnBlock) {
      hooks.OnBlock(static_cast<int>(Percent(static_cast<double>(bytesRead),
                                             static_cast<double>(result.Size))));
    }
    pump.Pump();
    crc = UpdateCrc(crc, buffer_.data() + at, static_cast<int>(n));
    at += n;
    if (hooks.Trace) {
      try {
        hooks.Trace(CrcTraceLine(bytesRead, crc));
      } catch (const EInOutError& e) {
        return Failure(result, e.ErrorCode);
      }
    }
    // A file that shrinks while it is read ends at its new end instead of spinning.
  } while (bytesRead < result.Size && n > 0);

  if (const int code = file.Close(); code != 0) return Failure(result, code);
  result.Crc = crc ^ 0xFFFFFFFFu;
  result.Status = TCrcStatus::Ok;
  return result;
}
