#pragma once
// The CRC-32 engine: sums whole files in 16 KiB blocks for the SFV workflows.
//
// Seam: the caller (the main window, or tallyra-cli) owns the read buffer (best
// CrcReadChunkSize bytes, page-aligned) and hands in a TCrcReadHooks. Everything runs
// on the caller's thread. Per block, in order:
//   Halted()        before the block is read; true stops the read (result Halted).
//   OnBlock(p)      after the read, with p = percent of the file read so far (0..100).
//   PumpMessages()  at most about every 15 ms of work; it may run any window handler,
//                   including "&Halt", but must not start another read on the same
//                   TCrcReader (Busy() tells; FileCrc refuses with EBUSY).
//   Trace(line)     after the block is summed, when set; it may throw EInOutError,
//                   which ends the read like a read failure.
// Each hook may be empty.
#include "platform/Clock.h"
#include "platform/Pump.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

using TCrcTable = std::array<std::uint32_t, 256>;

// The reflected IEEE 802.3 table (polynomial 0xEDB88320).
void BuildCrcTable(TCrcTable& table);

// Runs the CRC register over count bytes; only the low 16 bits of count are used, so a
// call covers at most 65,535 bytes. The register is neither preset nor inverted here.
std::uint32_t UpdateCrc(std::uint32_t crc, const void* buffer, int count);

// The same over any length, for callers that sum more than one block at a time.
std::uint32_t UpdateCrcLong(std::uint32_t crc, const void* buffer, std::size_t count);

inline constexpr std::size_t CrcBlockSize = 16384;
// What one read takes: a multiple of the block, walked block by block. Reads of 16 KiB
// cost a third more than the CRC and the copy need; from 128 KiB to 1 MiB the check
// measured alike here (bench/check), and 256 KiB stays well inside a core's L2 cache.
inline constexpr std::size_t CrcReadChunkSize = 16 * CrcBlockSize;

struct TCrcReadHooks {
  std::function<bool()> Halted;
  std::function<void(int percent)> OnBlock;
  TPumpMessages PumpMessages;
  std::function<void(const std::string& line)> Trace;
};

enum class TCrcStatus { Ok, Halted, Failed };

struct TFileCrcResult {
  std::uint32_t Crc = 0;          // the final CRC-32; 0 unless Status is Ok
  TCrcStatus Status = TCrcStatus::Failed;
  int ErrorCode = 0;              // the system's error code when Failed
  bool Sized = false;             // the file was opened and its size taken
  std::uint64_t Size = 0;         // its size, when Sized
};

// The block reader. It reads the file in chunks as large as its buffer (whole blocks of
// it; at least one block) and accounts for them block by block: the halt flag before
// each 16 KiB block, the percentage, the messages and the trace after it, exactly as a
// read of one block at a time would. One read at a time: the block read before the
// messages run is the block summed after them.
class TCrcReader {
public:
  TCrcReader(std::span<std::uint8_t> buffer, const IClock& clock);

  TFileCrcResult FileCrc(const std::string& path, const TCrcReadHooks& hooks);
  bool Busy() const { return busy_; }

  // How often the message pump may run, in milliseconds of work.
  static constexpr std::uint64_t PumpIntervalMs = 15;

private:
  std::span<std::uint8_t> buffer_;
  const IClock& clock_;
  bool busy_ = false;
};

// Lets messages run at most about every PumpIntervalMs of work: a repaint per block or
// per file would cost more than the work itself.
class TPumpThrottle {
public:
  TPumpThrottle(const IClock& clock, const TPumpMessages& pump)
      : clock_(clock), pump_(pump), last_(clock.MilliSeconds()) {}
  void Pump() {
    if (!pump_) return;
    if (clock_.MilliSeconds() - last_ >= TCrcReader::PumpIntervalMs) {
      pump_();
      last_ = clock_.MilliSeconds();
    }
  }

private:
  const IClock& clock_;
  const TPumpMessages& pump_;
  std::uint64_t last_;
};

// The trace line of one block: bytes read so far, " : ", the register (before the
// final inversion) as eight upper-case hexadecimal digits.
std::string CrcTraceLine(std::uint64_t bytesRead, std::uint32_t crcRegister);

// done / total * 100 when both are non-zero, else 0.
double Percent(double done, double total);
