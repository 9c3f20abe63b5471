// The circular window the RAR decoders write into.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "unrar/RarUnpack.h"

// Copies a match inside the circular window; the caller has checked the distance.
inline void RarCopyMatch(uint8_t* win, uint64_t mask, uint64_t pos, uint32_t length, uint64_t dist) {
  uint64_t size = mask + 1;
  uint64_t d = pos & mask, s = (pos - dist) & mask;
  // A whole window back: those bytes already are where they belong.
  if (d == s) return;
  if (d + length <= size && s + length <= size) {
    uint8_t* dp = win + d;
    const uint8_t* sp = win + s;
    if (dist >= length) {
      // No overlap going forward, but with a distance near the window's size the source
      // wraps round to just after the target: the two may still overlap.
      std::memmove(dp, sp, length);
    } else if (dist == 1) {
      std::memset(dp, *sp, length);
    } else {
      // The match repeats its own start: each step may only read what is already written.
      uint32_t i = 0;
      if (dist >= 8)
        for (; i + 8 <= length; i += 8) std::memcpy(dp + i, sp + i, 8);
      for (; i < length; ++i) dp[i] = sp[i];
    }
    return;
  }
  for (uint32_t i = 0; i < length; ++i) win[(d + i) & mask] = win[(s + i) & mask];
}

// Hands the window's bytes of stream positions [from, to) to the sink, in two pieces where
// they wrap round; to - from is at most the window's size.
inline int RarWriteWindow(IUnpackSink& sink, const uint8_t* win, uint64_t size, uint64_t from, uint64_t to) {
  while (from < to) {
    const uint64_t at = from & (size - 1);
    const uint64_t n = std::min(to - from, size - at);
    if (int rc = sink.Write(win + at, size_t(n))) return rc;
    from += n;
  }
  return 0;
}

// Copies the window's bytes of stream positions [from, to) to `out`, in two pieces where they
// wrap round; to - from is at most the window's size.
inline void RarCopyFromWindow(uint8_t* out, const uint8_t* win, uint64_t size, uint64_t from, uint64_t to) {
  while (from < to) {
    const uint64_t at = from & (size - 1);
    const uint64_t n = std::min(to - from, size - at);
    std::memcpy(out, win + at, size_t(n));
    out += n;
    from += n;
  }
}
