// The filters of RAR 2.9-4.x. The format carries them as programs for a virtual machine, but
// the archiver only ever writes six standard ones, which are recognised by their length and
// CRC and run natively here. Any other program is refused: nothing here runs general code.
#pragma once
#include <cstddef>
#include <cstdint>

enum class TRar3Filter : uint8_t { Unknown, E8, E8E9, Itanium, Delta, Rgb, Audio };

// The standard filter a program is, or Unknown (also for one whose own check byte fails).
TRar3Filter IdentifyRar3Filter(const uint8_t* code, size_t size);

// The machine's memory: a filtered block is never larger.
constexpr uint32_t Rar3FilterMemory = 0x40000;

// The registers a filter starts with: R[0] and R[1] carry its parameters (channels, width, ...).
struct TRar3FilterRegisters {
  uint32_t R[7] = {};
};

// Runs a standard filter over `size` bytes at `data`, a buffer of 2 * size bytes: the x86 and
// Itanium filters work in place, the others write their result after the input, into bytes
// that start as zeros (parameters out of range, such as no channels, leave them so, as the
// reference decoder of the tests does). `fileOffset` is where the block starts in the file. Returns the result; null
// only for an Unknown filter.
const uint8_t* RunRar3Filter(TRar3Filter filter, uint8_t* data, uint32_t size, const TRar3FilterRegisters& regs,
                             uint32_t fileOffset);
