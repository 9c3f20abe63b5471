#include "unrar/Rar5Unpack.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "unrar/RarHuffman.h"
#include "unrar/RarWindow.h"
#include "unrar/unrar.h"

namespace {

constexpr unsigned MainCodes = 306, DistCodes = 64, AlignCodes = 16, LengthCodes = 44, LevelCodes = 20;
constexpr unsigned TableCodes = MainCodes + DistCodes + AlignCodes + LengthCodes;

// The longest copy one symbol makes: length slot 43 (4097 bytes) plus the three distance bonuses.
constexpr uint32_t MaxMatch = 4100;
constexpr uint64_t MinWindow = 256u << 10;
constexpr uint64_t MaxDictionary = uint64_t(4) << 30;
constexpr uint32_t MaxFilterBlock = 4u << 20;
constexpr size_t MaxPendingFilters = 8192;
constexpr uint64_t FlushChunk = UnpackChunk;

constexpr size_t InputChunk = 256u << 10;
// The decoding loop reads up to this far ahead of its position without checking (one symbol
// with its extra bits takes under 16 bytes); the zeros kept behind the data make that safe.
constexpr size_t LookAhead = 64;
// Tables take under 1.3 KB; they are read with at least this much in the buffer.
constexpr size_t TableReadAhead = 4096;

enum : uint32_t { FilterDelta = 0, FilterE8 = 1, FilterE8E9 = 2, FilterArm = 3 };

// Big-endian bit reader over a buffer padded with LookAhead zero bytes.
struct TBits {
  const uint8_t* Data = nullptr;
  size_t Pos = 0;
  unsigned Bit = 0;

  uint32_t Peek32() const {
    const uint8_t* p = Data + Pos;
    uint64_t v = uint64_t(p[0]) << 56 | uint64_t(p[1]) << 48 | uint64_t(p[2]) << 40 | uint64_t(p[3]) << 32 |
                 uint64_t(p[4]) << 24 | uint64_t(p[5]) << 16 | uint64_t(p[6]) << 8 | uint64_t(p[7]);
    return uint32_t((v << Bit) >> 32);
  }
  void Skip(unsigned n) {
    Bit += n;
    Pos += Bit >> 3;
    Bit &= 7;
  }
  uint32_t Peek16() const { return Peek32() >> 16; }
  // 1 to 32 bits.
  uint32_t Get(unsigned n) {
    uint32_t v = Peek32() >> (32 - n);
    Skip(n);
    return v;
  }
  uint64_t Position() const { return uint64_t(Pos) * 8 + Bit; }
};

// The next symbol of `code`; false for a bit pattern without a code.
inline bool DecodeSymbol(const TRarHuffman& code, TBits& b, uint32_t& symbol) {
  const int s = code.Decode(b);
  symbol = uint32_t(s);
  return s >= 0;
}

uint32_t SlotToLength(TBits& b, uint32_t slot) {
  if (slot < 8) return 2 + slot;
  unsigned extra = slot / 4 - 1;
  return 2 + ((4 | (slot & 3)) << extra) + b.Get(extra);
}

uint64_t MachineMemory() {
  long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  uint64_t physical = pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : uint64_t(1) << 30;
  uint64_t limit = physical / 4 * 3;
  struct rlimit rl {};
  if (getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) limit = std::min<uint64_t>(limit, rl.rlim_cur / 2);
  return limit;
}

uint64_t RoundUpToPowerOfTwo(uint64_t v) {
  uint64_t p = 1;
  while (p < v) p <<= 1;
  return p;
}

struct TFilter {
  uint64_t Start = 0;  // stream position of the block
  uint32_t Length = 0;
  uint32_t Type = 0;
  uint32_t Channels = 0;
};

}  // namespace

uint64_t TRar5Unpacker::MemoryLimit = MachineMemory();

struct TRar5Unpacker::TState {
  // The window and where the stream stands: positions count from the start of the solid set.
  struct TFree {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t[], TFree> Window;
  uint64_t WinSize = 0;
  uint64_t StreamDict = 0;
  bool Continuable = false;  // the last entry decoded whole, so a solid one may follow
  uint64_t UnpPos = 0, FlushedPos = 0, EntryStart = 0, EntryEnd = 0;
  uint64_t OldDist[4] = {};
  uint32_t LastLength = 0;
  bool TablesRead = false;
  TRarHuffman Main, Dist, Align, Length;

  std::deque<TFilter> Filters;
  std::vector<uint8_t> FilterData, FilterOut;
  size_t FilterFill = 0;

  IPackedInput* Input = nullptr;
  IUnpackSink* Sink = nullptr;
  std::vector<uint8_t> In;
  size_t InEnd = 0;
  uint64_t InBase = 0;  // input offset of In[0]
  bool InEof = false;
  TBits Bits;

  uint64_t BlockEndBit = 0;  // input bit offset where the current block's data ends
  uint64_t NextBlock = 0;    // input offset of the next block header
  bool LastBlock = false;

  int Begin(const TRarEntryHeader& entry);
  int Decode();
  int Refill(size_t want);
  int ReadBlockHeader();
  int ReadTables();
  // Decodes symbols until the buffer bit `limit` or the stream position `outLimit`.
  int Run(uint64_t limit, uint64_t outLimit);
  int ReadFilter();
  int Flush();
  int ApplyFilter(const TFilter& filter);
  uint64_t InputBit() const { return (InBase + Bits.Pos) * 8 + Bits.Bit; }
  uint64_t FlushLimit() const { return FlushedPos + std::min<uint64_t>(WinSize - MaxMatch, FlushChunk); }
};

TRar5Unpacker::TRar5Unpacker() : S(std::make_unique<TState>()) {}
TRar5Unpacker::~TRar5Unpacker() = default;

uint64_t TRar5Unpacker::WindowSize() const { return S->WinSize; }

int TRar5Unpacker::Unpack(const TRarEntryHeader& entry, IPackedInput& input, IUnpackSink& sink) {
  int rc = S->Begin(entry);
  if (rc == ERAR_SUCCESS) {
    S->Input = &input;
    S->Sink = &sink;
    rc = S->Decode();
  }
  S->Continuable = rc == ERAR_SUCCESS;
  S->Input = nullptr;
  S->Sink = nullptr;
  return rc;
}

int TRar5Unpacker::TState::Begin(const TRarEntryHeader& e) {
  if (e.Method <= RarMethodStore || e.Method > RarMethodStore + 5) return ERAR_UNKNOWN_FORMAT;
  if (e.CompressionVersion != 0 || e.DictSize == 0 || e.DictSize > MaxDictionary) return ERAR_UNKNOWN_FORMAT;
  bool solid = e.Solid();
  if (solid) {
    // The window was sized for the set's first dictionary; a later entry cannot ask for more.
    if (!Continuable || e.DictSize > StreamDict) return ERAR_BAD_DATA;
  } else {
    UnpPos = FlushedPos = 0;
    std::fill(std::begin(OldDist), std::end(OldDist), 0);
    LastLength = 0;
    TablesRead = false;
    StreamDict = e.DictSize;
  }
  Continuable = false;
  Filters.clear();
  FilterFill = 0;
  EntryStart = UnpPos;
  EntryEnd = e.UnpSizeUnknown || e.UnpSize > UINT64_MAX - UnpPos ? UINT64_MAX : UnpPos + e.UnpSize;

  // The window holds what the set can still refer to: the dictionary, or all of the data when
  // that is smaller. It grows between entries of a solid set, before the data ever wraps.
  uint64_t need = RoundUpToPowerOfTwo(std::max(std::min(StreamDict, EntryEnd), std::min(StreamDict, MinWindow)));
  need = std::min(need, RoundUpToPowerOfTwo(StreamDict));
  if (need > WinSize) {
    // Only a window that never wrapped can grow; one that did is the dictionary's size already.
    if (solid && UnpPos > WinSize) return ERAR_BAD_DATA;
    if (need > MemoryLimit || need > SIZE_MAX) return ERAR_NO_MEMORY;
    if (solid) {
      // Large blocks are mapped memory, which realloc moves without copying or holding both.
      void* bigger = std::realloc(Window.get(), size_t(need));
      if (!bigger) return ERAR_NO_MEMORY;
      (void)Window.release();
      Window.reset(static_cast<uint8_t*>(bigger));
    } else {
      Window.reset();
      WinSize = 0;
      Window.reset(static_cast<uint8_t*>(std::malloc(size_t(need))));
      if (!Window) return ERAR_NO_MEMORY;
    }
    WinSize = need;
  }

  if (In.empty()) In.resize(InputChunk + LookAhead);
  InEnd = 0;
  InBase = 0;
  InEof = false;
  std::fill(In.begin(), In.begin() + LookAhead, 0);
  Bits = TBits{In.data(), 0, 0};
  NextBlock = 0;
  BlockEndBit = 0;
  LastBlock = false;
  return ERAR_SUCCESS;
}

int TRar5Unpacker::TState::Refill(size_t want) {
  if (InEnd - Bits.Pos >= want || InEof) return ERAR_SUCCESS;
  size_t keep = InEnd - Bits.Pos;
  std::memmove(In.data(), In.data() + Bits.Pos, keep);
  InBase += Bits.Pos;
  Bits.Pos = 0;
  InEnd = keep;
  while (InEnd < InputChunk && !InEof) {
    size_t got = 0;
    if (int rc = Input->Read(In.data() + InEnd, InputChunk - InEnd, got)) return rc;
    if (got == 0) InEof = true;
    InEnd += std::min(got, InputChunk - InEnd);
  }
  std::fill(In.begin() + long(InEnd), In.begin() + long(InEnd + LookAhead), 0);
  return ERAR_SUCCESS;
}

int TRar5Unpacker::TState::ReadBlockHeader() {
  // A header starts where the previous block's data ends, on a byte boundary.
  if (NextBlock < InBase || NextBlock - InBase > InEnd) return ERAR_BAD_DATA;
  Bits.Pos = size_t(NextBlock - InBase);
  Bits.Bit = 0;
  if (int rc = Refill(TableReadAhead)) return rc;
  const uint8_t* h = In.data() + Bits.Pos;
  size_t avail = InEnd - Bits.Pos;
  if (avail < 3) return ERAR_BAD_DATA;
  uint8_t flags = h[0];
  unsigned sizeBytes = ((flags >> 3) & 3) + 1;
  if (sizeBytes == 4 || avail < 2 + sizeBytes) return ERAR_BAD_DATA;
  uint32_t size = 0;
  uint8_t check = uint8_t(0x5A ^ flags);
  for (unsigned i = 0; i < sizeBytes; ++i) {
    size |= uint32_t(h[2 + i]) << (8 * i);
    check ^= h[2 + i];
  }
  if (check != h[1]) return ERAR_BAD_DATA;
  Bits.Pos += 2 + sizeBytes;
  uint64_t start = InBase + Bits.Pos;
  // The last byte of a block holds 1 to 8 of its bits.
  BlockEndBit = start * 8 + (size ? (uint64_t(size) - 1) * 8 + (flags & 7) + 1 : 0);
  NextBlock = start + size;
  LastBlock = flags & 0x40;
  return (flags & 0x80) ? ReadTables() : ERAR_SUCCESS;
}

int TRar5Unpacker::TState::ReadTables() {
  uint8_t levelLengths[LevelCodes];
  for (unsigned i = 0; i < LevelCodes;) {
    uint32_t length = Bits.Get(4);
    if (length != 15) {
      levelLengths[i++] = uint8_t(length);
      continue;
    }
    uint32_t zeros = Bits.Get(4);
    if (zeros == 0) {
      levelLengths[i++] = 15;
      continue;
    }
    for (zeros += 2; zeros > 0 && i < LevelCodes; --zeros) levelLengths[i++] = 0;
  }
  TRarHuffman level;
  if (!level.Build(levelLengths, LevelCodes)) return ERAR_BAD_DATA;

  uint8_t lengths[TableCodes];
  for (unsigned i = 0; i < TableCodes;) {
    // Without a full table's worth of input left, damaged data could run past the padding.
    if (Bits.Pos > InEnd) return ERAR_BAD_DATA;
    uint32_t code = 0;
    if (!DecodeSymbol(level, Bits, code)) return ERAR_BAD_DATA;
    if (code < 16) {
      lengths[i++] = uint8_t(code);
    } else if (code < 18) {
      // Repeats the previous length, so it cannot come first.
      uint32_t n = code == 16 ? 3 + Bits.Get(3) : 11 + Bits.Get(7);
      if (i == 0) return ERAR_BAD_DATA;
      for (; n > 0 && i < TableCodes; --n, ++i) lengths[i] = lengths[i - 1];
    } else {
      uint32_t n = code == 18 ? 3 + Bits.Get(3) : 11 + Bits.Get(7);
      for (; n > 0 && i < TableCodes; --n) lengths[i++] = 0;
    }
  }
  if (Bits.Pos > InEnd || InputBit() > BlockEndBit) return ERAR_BAD_DATA;
  const uint8_t* l = lengths;
  if (!Main.Build(l, MainCodes) || !Dist.Build(l + MainCodes, DistCodes) ||
      !Align.Build(l + MainCodes + DistCodes, AlignCodes) ||
      !Length.Build(l + MainCodes + DistCodes + AlignCodes, LengthCodes)) {
    TablesRead = false;
    return ERAR_BAD_DATA;
  }
  TablesRead = true;
  return ERAR_SUCCESS;
}

int TRar5Unpacker::TState::Decode() {
  if (int rc = ReadBlockHeader()) return rc;
  // A block without tables goes on with the previous ones, which a first entry does not have.
  if (!TablesRead) return ERAR_BAD_DATA;
  const uint64_t outLimit = EntryEnd == UINT64_MAX ? UINT64_MAX : EntryEnd + 1;
  for (;;) {
    uint64_t at = InputBit();
    if (at >= BlockEndBit) {
      if (at > BlockEndBit) return ERAR_BAD_DATA;
      if (LastBlock) break;
      if (int rc = ReadBlockHeader()) return rc;
      continue;
    }
    if (UnpPos >= FlushLimit()) {
      if (int rc = Flush()) return rc;
      continue;
    }
    if (int rc = Refill(2 * LookAhead)) return rc;
    uint64_t base = InBase * 8;
    uint64_t blockEnd = BlockEndBit - base;
    uint64_t limit = blockEnd;
    if (!InEof) limit = std::min<uint64_t>(blockEnd, (uint64_t(InEnd) - LookAhead) * 8);
    // The block claims more data than the entry has.
    else if (blockEnd > uint64_t(InEnd) * 8) return ERAR_BAD_DATA;
    if (int rc = Run(limit, std::min(outLimit, FlushLimit()))) return rc;
    if (UnpPos > EntryEnd) return ERAR_BAD_DATA;
  }
  if (EntryEnd != UINT64_MAX && UnpPos != EntryEnd) return ERAR_BAD_DATA;
  if (int rc = Flush()) return rc;
  // A filter whose block the entry never completed would have left its data unwritten.
  return Filters.empty() ? ERAR_SUCCESS : ERAR_BAD_DATA;
}

int TRar5Unpacker::TState::Run(uint64_t limit, uint64_t outLimit) {
  TBits b = Bits;
  uint8_t* const win = Window.get();
  const uint64_t mask = WinSize - 1;
  const uint64_t maxDist = std::min(WinSize, StreamDict);
  uint64_t pos = UnpPos;
  uint64_t d0 = OldDist[0], d1 = OldDist[1], d2 = OldDist[2], d3 = OldDist[3];
  uint32_t lastLength = LastLength;
  int rc = ERAR_SUCCESS;
  while (b.Position() < limit && pos < outLimit) {
    uint32_t symbol = 0;
    if (!DecodeSymbol(Main, b, symbol)) {
      rc = ERAR_BAD_DATA;
      break;
    }
    if (symbol < 256) {
      win[pos & mask] = uint8_t(symbol);
      ++pos;
      continue;
    }
    uint32_t length = 0;
    uint64_t dist = 0;
    if (symbol >= 262) {
      length = SlotToLength(b, symbol - 262);
      uint32_t slot = 0;
      if (!DecodeSymbol(Dist, b, slot)) {
        rc = ERAR_BAD_DATA;
        break;
      }
      dist = 1;
      if (slot < 4) {
        dist += slot;
      } else {
        unsigned extra = slot / 2 - 1;
        dist += uint64_t(2 | (slot & 1)) << extra;
        if (extra >= 4) {
          // The low four bits of long distances have a Huffman table of their own.
          if (extra > 4) dist += uint64_t(b.Get(extra - 4)) << 4;
          uint32_t low = 0;
          if (!DecodeSymbol(Align, b, low)) {
            rc = ERAR_BAD_DATA;
            break;
          }
          dist += low;
        } else {
          dist += b.Get(extra);
        }
      }
      // Far matches are worth less, so the format counts their length from a higher base.
      if (dist > 0x100) {
        ++length;
        if (dist > 0x2000) {
          ++length;
          if (dist > 0x40000) ++length;
        }
      }
      d3 = d2;
      d2 = d1;
      d1 = d0;
      d0 = dist;
      lastLength = length;
    } else if (symbol == 256) {
      Bits = b;
      UnpPos = pos;
      rc = ReadFilter();
      b = Bits;
      if (rc) break;
      continue;
    } else if (symbol == 257) {
      if (lastLength == 0) continue;
      length = lastLength;
      dist = d0;
    } else {
      // One of the last four distances, which moves to the front.
      switch (symbol - 258) {
        case 0: dist = d0; break;
        case 1: dist = d1; d1 = d0; break;
        case 2: dist = d2; d2 = d1; d1 = d0; break;
        default: dist = d3; d3 = d2; d2 = d1; d1 = d0; break;
      }
      d0 = dist;
      uint32_t slot = 0;
      if (!DecodeSymbol(Length, b, slot)) {
        rc = ERAR_BAD_DATA;
        break;
      }
      length = SlotToLength(b, slot);
      lastLength = length;
    }
    // Nothing before the set's first byte, nor beyond the dictionary, can be referred to.
    if (dist == 0 || dist > pos || dist > maxDist) {
      rc = ERAR_BAD_DATA;
      break;
    }
    RarCopyMatch(win, mask, pos, length, dist);
    pos += length;
  }
  Bits = b;
  UnpPos = pos;
  OldDist[0] = d0;
  OldDist[1] = d1;
  OldDist[2] = d2;
  OldDist[3] = d3;
  LastLength = lastLength;
  return rc;
}

int TRar5Unpacker::TState::ReadFilter() {
  auto number = [this]() {
    unsigned bytes = Bits.Get(2) + 1;
    uint32_t value = 0;
    for (unsigned i = 0; i < bytes; ++i) value |= Bits.Get(8) << (8 * i);
    return value;
  };
  uint32_t start = number();
  uint32_t length = number();
  TFilter f;
  f.Type = Bits.Get(3);
  if (f.Type == FilterDelta) f.Channels = Bits.Get(5) + 1;
  if (f.Type > FilterArm || length > MaxFilterBlock) return ERAR_BAD_DATA;
  if (length == 0) return ERAR_SUCCESS;
  f.Start = UnpPos + start;
  f.Length = length;
  // Filters come in the order of their blocks, which never overlap.
  if (!Filters.empty() && f.Start < Filters.back().Start + Filters.back().Length) return ERAR_BAD_DATA;
  if (Filters.size() >= MaxPendingFilters) return ERAR_BAD_DATA;
  Filters.push_back(f);
  return ERAR_SUCCESS;
}

int TRar5Unpacker::TState::Flush() {
  while (FlushedPos < UnpPos) {
    if (Filters.empty() || FlushedPos < Filters.front().Start) {
      uint64_t end = Filters.empty() ? UnpPos : std::min(UnpPos, Filters.front().Start);
      if (int rc = RarWriteWindow(*Sink, Window.get(), WinSize, FlushedPos, end)) return rc;
      FlushedPos = end;
      continue;
    }
    // The filter's block is gathered out of the window and goes out once it is whole; the
    // window keeps the unfiltered bytes, which is what later matches refer to.
    const TFilter& f = Filters.front();
    if (FilterData.size() < f.Length) FilterData.resize(f.Length);
    const uint64_t end = std::min(UnpPos, f.Start + f.Length);
    RarCopyFromWindow(FilterData.data() + FilterFill, Window.get(), WinSize, FlushedPos, end);
    FilterFill += size_t(end - FlushedPos);
    FlushedPos = end;
    if (FilterFill < f.Length) break;
    int rc = ApplyFilter(f);
    Filters.pop_front();
    FilterFill = 0;
    if (rc) return rc;
  }
  return ERAR_SUCCESS;
}

int TRar5Unpacker::TState::ApplyFilter(const TFilter& f) {
  uint8_t* data = FilterData.data();
  const uint32_t size = f.Length;
  // Addresses are converted relative to the entry's own data.
  const uint32_t fileOffset = uint32_t(f.Start - EntryStart);
  switch (f.Type) {
    case FilterDelta: {
      // Each channel's bytes are stored together as differences; they go back interleaved.
      if (FilterOut.size() < size) FilterOut.resize(size);
      uint32_t src = 0;
      for (uint32_t channel = 0; channel < f.Channels; ++channel) {
        uint8_t previous = 0;
        for (uint32_t dest = channel; dest < size; dest += f.Channels) FilterOut[dest] = previous -= data[src++];
      }
      return Sink->Write(FilterOut.data(), size);
    }
    case FilterE8:
    case FilterE8E9: {
      // x86 CALL (and JMP) targets were stored as absolute addresses in a 16 MiB space.
      constexpr uint32_t AddressSpace = 0x1000000;
      const uint8_t second = f.Type == FilterE8E9 ? 0xE9 : 0xE8;
      for (uint32_t pos = 0; pos + 4 < size;) {
        uint8_t op = data[pos++];
        if (op != 0xE8 && op != second) continue;
        uint32_t offset = (pos + fileOffset) % AddressSpace;
        uint32_t addr = uint32_t(data[pos]) | uint32_t(data[pos + 1]) << 8 | uint32_t(data[pos + 2]) << 16 |
                        uint32_t(data[pos + 3]) << 24;
        // Only addresses that fell inside the space were converted; the rest are as they were.
        bool negative = addr & 0x80000000u;
        if (negative ? !((addr + offset) & 0x80000000u) : addr < AddressSpace) {
          uint32_t value = negative ? addr + AddressSpace : addr - offset;
          for (uint32_t k = 0; k < 4; ++k) data[pos + k] = uint8_t(value >> (8 * k));
        }
        pos += 4;
      }
      break;
    }
    case FilterArm: {
      // ARM BL instructions: their 24-bit word offsets were stored as absolute addresses.
      for (uint32_t pos = 0; pos + 3 < size; pos += 4) {
        uint8_t* d = data + pos;
        if (d[3] != 0xEB) continue;
        uint32_t offset = uint32_t(d[0]) | uint32_t(d[1]) << 8 | uint32_t(d[2]) << 16;
        offset -= (fileOffset + pos) / 4;
        d[0] = uint8_t(offset);
        d[1] = uint8_t(offset >> 8);
        d[2] = uint8_t(offset >> 16);
      }
      break;
    }
    default:
      return ERAR_BAD_DATA;
  }
  return Sink->Write(data, size);
}
