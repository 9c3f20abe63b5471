#include "unrar/Rar3Bits.h"

#include <algorithm>

#include "unrar/unrar.h"

void TRar3Input::Reset(IPackedInput& source) {
  Source = &source;
  if (!Buffer) Buffer.reset(new uint8_t[Chunk + LookAhead]);
  B = TRar3Bits{Buffer.get(), 0, 0};
  End = 0;
  Eof = false;
  Error = 0;
  std::memset(Buffer.get(), 0, LookAhead);
}

int TRar3Input::Refill(size_t want) {
  if (Eof || Buffered() >= want) return ERAR_SUCCESS;
  size_t keep = Buffered();
  std::memmove(Buffer.get(), Buffer.get() + B.Pos, keep);
  B.Pos = 0;
  End = keep;
  while (End < Chunk && !Eof) {
    size_t got = 0;
    if (int rc = Source->Read(Buffer.get() + End, Chunk - End, got)) {
      std::memset(Buffer.get() + End, 0, LookAhead);
      return rc;
    }
    if (got == 0) Eof = true;
    End += std::min(got, Chunk - End);
  }
  std::memset(Buffer.get() + End, 0, LookAhead);
  return ERAR_SUCCESS;
}

uint8_t TRar3Input::GetByteSlow() {
  if (!Eof) {
    if (int rc = Refill(1)) {
      Error = rc;
      return 0;
    }
    if (B.Pos < End) return B.Data[B.Pos++];
  }
  // The position moves on a little into the zeros, so that Overrun() sees it, but never beyond them.
  if (B.Pos < End + 8) ++B.Pos;
  return 0;
}

int TRar3Input::BitsLeft(uint64_t& bits) {
  if (!Eof)
    if (int rc = Refill(Chunk)) return rc;
  bits = 0;
  // Refill stops with a full buffer before the end of a long entry: plenty is left then.
  if (!Eof) bits = UINT64_MAX;
  else if (!Overrun()) bits = uint64_t(End) * 8 - B.BitPosition();
  return ERAR_SUCCESS;
}
