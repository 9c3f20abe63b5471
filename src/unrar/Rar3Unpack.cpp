#include "unrar/Rar3Unpack.h"

#include "unrar/Rar3State.h"
#include "unrar/unrar.h"

namespace {

constexpr uint64_t MinWindow = 256u << 10;
constexpr uint64_t MaxWindow = 4u << 20;
// Filter programs and their pending blocks are bounded as the archiver's decoder bounds them.
constexpr size_t MaxFilters = 8192;
// Filter records that produce no data cannot follow each other without end.
constexpr uint32_t MaxFiltersAtOnePosition = 1024;

enum TEvent { NoEvent = 0, EndOfBlock, FilterRecord, EndOfFile, TablesChanged };

}  // namespace

uint64_t TRar3Unpacker::MemoryLimit = uint64_t(1) << 30;

TRar3Unpacker::TRar3Unpacker() : S(std::make_unique<TState>()) {}
TRar3Unpacker::~TRar3Unpacker() = default;

int TRar3Unpacker::Unpack(const TRarEntryHeader& entry, IPackedInput& input, IUnpackSink& sink) {
  bool solid = false;
  int rc = S->Begin(entry, solid);
  if (rc == ERAR_SUCCESS) {
    S->In.Reset(input);
    S->Sink = &sink;
    rc = S->Family == TState::TFamily::Rar20 ? S->Decode20(solid) : S->Decode29(solid);
  }
  S->Continuable = rc == ERAR_SUCCESS && !S->TailTablesFailed;
  S->Sink = nullptr;
  return rc;
}

int TRar3Unpacker::TState::Begin(const TRarEntryHeader& e, bool& solid) {
  if (e.Method <= RarMethodStore || e.Method > RarMethodStore + 5) return ERAR_UNKNOWN_FORMAT;
  TFamily family = TFamily::None;
  if (e.UnpVer == 20 || e.UnpVer == 26) family = TFamily::Rar20;
  if (e.UnpVer == 29 || e.UnpVer == 36) family = TFamily::Rar29;
  if (family == TFamily::None) return ERAR_UNKNOWN_FORMAT;
  const unsigned dictionaryBits = (e.Flags & RarFileDirectoryMask) >> 5;
  if (dictionaryBits == 7) return ERAR_BAD_DATA;  // that value marks a folder, which has no data
  solid = e.Flags & RarFileSolid;
  if (solid) {
    if (!Continuable || family != Family) return ERAR_BAD_DATA;
  } else {
    UnpPos = FlushedPos = 0;
    Family = family;
    if (family == TFamily::Rar20)
      ResetRar20();
    else
      ResetRar29();
  }
  Continuable = false;
  TailTablesFailed = false;

  // The dictionary, and no less than the archiver's own decoder had.
  const uint64_t dictionary = std::min<uint64_t>(uint64_t(64) << (10 + dictionaryBits), MaxWindow);
  const uint64_t need = std::max(dictionary, MinWindow);
  if (need > WinSize) {
    // Only a window that never wrapped can grow in the middle of a set.
    if (solid && UnpPos > WinSize) return ERAR_BAD_DATA;
    if (need > MemoryLimit) return ERAR_NO_MEMORY;
    void* bigger = solid ? std::realloc(Window.get(), size_t(need)) : nullptr;
    if (!solid) {
      Window.reset();
      WinSize = 0;
      bigger = std::malloc(size_t(need));
    }
    if (!bigger) return ERAR_NO_MEMORY;
    (void)Window.release();
    Window.reset(static_cast<uint8_t*>(bigger));
    WinSize = need;
  }
  if (e.UnpSize > UINT64_MAX - UnpPos) return ERAR_BAD_DATA;
  EntryStart = UnpPos;
  EntryEnd = UnpPos + e.UnpSize;
  Pending.clear();
  FilterFill = 0;
  LastFilterAt = UINT64_MAX;
  FiltersAtPos = 0;
  return ERAR_SUCCESS;
}

// --- window and output ---

int TRar3Unpacker::TState::PrepareLzRun(uint64_t& bitLimit) {
  if (int rc = In.Refill(2 * TRar3Input::LookAhead)) return rc;
  // A symbol with its extra bits takes under 8 bytes; before the end the loop keeps that much
  // and more in the buffer, at the end the zeros behind the data cover it.
  bitLimit = In.AtEof() ? uint64_t(In.End) * 8 : uint64_t(In.End - TRar3Input::LookAhead) * 8;
  // Where the data ends before the entry does.
  return In.AtEof() && In.B.BitPosition() >= bitLimit ? ERAR_BAD_DATA : ERAR_SUCCESS;
}

int TRar3Unpacker::TState::Flush() {
  while (FlushedPos < UnpPos) {
    if (Pending.empty() || FlushedPos < Pending.front().Start) {
      uint64_t end = Pending.empty() ? UnpPos : std::min(UnpPos, Pending.front().Start);
      if (int rc = RarWriteWindow(*Sink, Window.get(), WinSize, FlushedPos, end)) return rc;
      FlushedPos = end;
      continue;
    }
    // The filter's block is gathered out of the window and goes out once it is whole; the
    // window keeps the unfiltered bytes, which is what later matches refer to.
    const TPending& f = Pending.front();
    if (!FilterData) FilterData.reset(new uint8_t[2 * Rar3FilterMemory]);
    const uint64_t end = std::min(UnpPos, f.Start + f.Length);
    RarCopyFromWindow(FilterData.get() + FilterFill, Window.get(), WinSize, FlushedPos, end);
    FilterFill += uint32_t(end - FlushedPos);
    FlushedPos = end;
    if (FilterFill < f.Length) break;
    if (int rc = RunFilters()) return rc;
  }
  return ERAR_SUCCESS;
}

int TRar3Unpacker::TState::RunFilters() {
  const TPending f = Pending.front();
  Pending.pop_front();
  FilterFill = 0;
  // The filters see offsets within the entry, as the archiver counted them.
  const uint32_t fileOffset = uint32_t(f.Start - EntryStart);
  const uint8_t* out = RunRar3Filter(f.Filter, FilterData.get(), f.Length, f.Regs, fileOffset);
  // Several filters may be stacked on one block: each takes the output of the one before.
  while (out && !Pending.empty() && Pending.front().Start == f.Start && Pending.front().Length == f.Length) {
    if (out != FilterData.get()) std::memmove(FilterData.get(), out, f.Length);
    const TPending next = Pending.front();
    Pending.pop_front();
    out = RunRar3Filter(next.Filter, FilterData.get(), next.Length, next.Regs, fileOffset);
  }
  if (!out) return ERAR_BAD_DATA;
  return Sink->Write(out, f.Length);
}

int TRar3Unpacker::TState::EndFilters() {
  // A block that starts inside the entry but does not end in it never got its data.
  for (const TPending& f : Pending)
    if (f.Start < EntryEnd) return ERAR_BAD_DATA;
  Pending.clear();
  return ERAR_SUCCESS;
}

// --- RAR 2.9-4.x ---

void TRar3Unpacker::TState::ResetRar29() {
  std::fill(std::begin(OldDist), std::end(OldDist), 0);
  OldDistPtr = LastDist = LastLength = 0;
  std::fill(std::begin(OldTable), std::end(OldTable), 0);
  TablesRead = false;
  PrevLowDist = LowDistRepCount = 0;
  PpmBlock = false;
  PpmEsc = 2;
  Ppm.Clear();
  Programs.clear();
  OldFilterLengths.clear();
  LastFilter = 0;
}

int TRar3Unpacker::TState::ResetFilters() {
  Programs.clear();
  OldFilterLengths.clear();
  LastFilter = 0;
  Pending.clear();
  // What a dropped filter had gathered goes out as it is: the archiver's decoder would have
  // written those bytes unfiltered too.
  const uint32_t gathered = FilterFill;
  FilterFill = 0;
  return gathered ? Sink->Write(FilterData.get(), gathered) : ERAR_SUCCESS;
}

int TRar3Unpacker::TState::ReadTables29() {
  if (int rc = In.Refill(Rar3TableReadAhead)) return rc;
  TRar3Bits& b = In.B;
  b.AlignToByte();
  if (In.Overrun()) return ERAR_BAD_DATA;
  const uint32_t bitField = b.Peek16();
  if (bitField & 0x8000) {
    PpmBlock = true;
    int rc = Ppm.Init(In, PpmEsc, MemoryLimit);
    if (rc == ERAR_SUCCESS && In.Error) rc = In.Error;
    if (rc == ERAR_SUCCESS && In.Overrun()) rc = ERAR_BAD_DATA;
    return rc;
  }
  PpmBlock = false;
  PrevLowDist = 0;
  LowDistRepCount = 0;
  // Without this bit the lengths are new; with it they are changes to the previous ones.
  if (!(bitField & 0x4000)) std::fill(std::begin(OldTable), std::end(OldTable), 0);
  b.Skip(2);

  uint8_t levelLengths[20];
  for (unsigned i = 0; i < 20;) {
    uint32_t length = b.Get(4);
    if (length != 15) {
      levelLengths[i++] = uint8_t(length);
      continue;
    }
    uint32_t zeros = b.Get(4);
    if (zeros == 0) {
      levelLengths[i++] = 15;
      continue;
    }
    for (zeros += 2; zeros > 0 && i < 20; --zeros) levelLengths[i++] = 0;
  }
  TRarHuffman level;
  if (!level.Build(levelLengths, 20)) return ERAR_BAD_DATA;

  constexpr unsigned TableSize = sizeof OldTable;
  uint8_t table[TableSize];
  for (unsigned i = 0; i < TableSize;) {
    // Damaged data could otherwise run through the zeros behind the data.
    if (b.Pos > In.End) return ERAR_BAD_DATA;
    int number = level.Decode(b);
    if (number < 0) return ERAR_BAD_DATA;
    if (number < 16) {
      table[i] = uint8_t((number + OldTable[i]) & 15);
      ++i;
    } else if (number < 18) {
      uint32_t n = number == 16 ? b.Get(3) + 3 : b.Get(7) + 11;
      // Repeats the previous length, so it cannot come first.
      if (i == 0) return ERAR_BAD_DATA;
      for (; n > 0 && i < TableSize; --n, ++i) table[i] = table[i - 1];
    } else {
      uint32_t n = number == 18 ? b.Get(3) + 3 : b.Get(7) + 11;
      for (; n > 0 && i < TableSize; --n) table[i++] = 0;
    }
  }
  // Tables cut off by the end of the data are not the stream's: a solid file after this one
  // must not decode with the ones before them.
  TablesRead = false;
  if (In.Overrun()) return ERAR_BAD_DATA;
  if (!Main.Build(table, 299) || !Dist.Build(table + 299, 60) || !LowDist.Build(table + 359, 17) ||
      !Rep.Build(table + 376, 28))
    return ERAR_BAD_DATA;
  TablesRead = true;
  std::memcpy(OldTable, table, TableSize);
  return ERAR_SUCCESS;
}

int TRar3Unpacker::TState::ReadEndOfBlock(bool& newFile) {
  if (int rc = In.Refill(Rar3TableReadAhead)) return rc;
  // "1": new tables follow; "00": the file ends; "01": it ends and the next one starts with tables.
  const uint32_t bitField = In.B.Peek16();
  bool newTable;
  newFile = false;
  if (bitField & 0x8000) {
    newTable = true;
    In.B.Skip(1);
  } else {
    newFile = true;
    newTable = bitField & 0x4000;
    In.B.Skip(2);
  }
  TablesRead = !newTable;
  if (In.Overrun()) return ERAR_BAD_DATA;
  return newFile ? ERAR_SUCCESS : ReadTables29();
}

int TRar3Unpacker::TState::Run29(uint64_t bitLimit, uint64_t outLimit, int& event) {
  TRar3Bits b = In.B;
  uint8_t* const win = Window.get();
  const uint64_t mask = WinSize - 1;
  const uint64_t entryEnd = EntryEnd;
  uint64_t pos = UnpPos;
  uint32_t d0 = OldDist[0], d1 = OldDist[1], d2 = OldDist[2], d3 = OldDist[3];
  uint32_t lastLength = LastLength, prevLowDist = PrevLowDist, lowDistRepCount = LowDistRepCount;
  int rc = ERAR_SUCCESS;
  event = NoEvent;
  while (b.BitPosition() < bitLimit && pos < outLimit) {
    int symbol = Main.Decode(b);
    if (symbol < 256) {
      if (symbol < 0) {
        rc = ERAR_BAD_DATA;
        break;
      }
      win[pos & mask] = uint8_t(symbol);
      ++pos;
      continue;
    }
    uint32_t length, dist;
    if (symbol >= 271) {
      symbol -= 271;
      length = Rar3LengthBase[symbol] + 3u;
      if (unsigned bits = Rar3LengthBits[symbol]) length += b.Get(bits);
      int slot = Dist.Decode(b);
      if (slot < 0) {
        rc = ERAR_BAD_DATA;
        break;
      }
      dist = Rar3Distances.Base[slot] + 1;
      if (unsigned bits = Rar3Distances.Bits[slot]) {
        if (slot > 9) {
          // The low four bits of long distances have a table of their own, which a run of
          // code 16 repeats.
          if (bits > 4) dist += b.Get(bits - 4) << 4;
          if (lowDistRepCount > 0) {
            lowDistRepCount--;
            dist += prevLowDist;
          } else {
            int low = LowDist.Decode(b);
            if (low < 0) {
              rc = ERAR_BAD_DATA;
              break;
            }
            if (low == 16) {
              lowDistRepCount = 15;
              dist += prevLowDist;
            } else {
              dist += uint32_t(low);
              prevLowDist = uint32_t(low);
            }
          }
        } else {
          dist += b.Get(bits);
        }
      }
      // Far matches are worth less, so their lengths count from a higher base.
      if (dist >= 0x2000) {
        length++;
        if (dist >= 0x40000) length++;
      }
      d3 = d2;
      d2 = d1;
      d1 = d0;
      d0 = dist;
      lastLength = length;
    } else if (symbol == 256) {
      event = EndOfBlock;
      break;
    } else if (symbol == 257) {
      event = FilterRecord;
      break;
    } else if (symbol == 258) {
      if (lastLength == 0) continue;
      length = lastLength;
      dist = d0;
    } else if (symbol < 263) {
      // One of the last four distances, which moves to the front.
      switch (symbol - 259) {
        case 0: dist = d0; break;
        case 1: dist = d1; d1 = d0; break;
        case 2: dist = d2; d2 = d1; d1 = d0; break;
        default: dist = d3; d3 = d2; d2 = d1; d1 = d0; break;
      }
      d0 = dist;
      int slot = Rep.Decode(b);
      if (slot < 0) {
        rc = ERAR_BAD_DATA;
        break;
      }
      length = Rar3LengthBase[slot] + 2u;
      if (unsigned bits = Rar3LengthBits[slot]) length += b.Get(bits);
      lastLength = length;
    } else {
      symbol -= 263;
      dist = Rar3ShortBase[symbol] + 1u;
      if (unsigned bits = Rar3ShortBits[symbol]) dist += b.Get(bits);
      d3 = d2;
      d2 = d1;
      d1 = d0;
      d0 = dist;
      length = lastLength = 2;
    }
    // Nothing before the set's first byte can be referred to, and no match reaches past the
    // entry's end.
    if (!DistanceOk(pos, dist) || pos + length > entryEnd) {
      rc = ERAR_BAD_DATA;
      break;
    }
    RarCopyMatch(win, mask, pos, length, dist);
    pos += length;
  }
  In.B = b;
  UnpPos = pos;
  OldDist[0] = d0;
  OldDist[1] = d1;
  OldDist[2] = d2;
  OldDist[3] = d3;
  LastLength = lastLength;
  PrevLowDist = prevLowDist;
  LowDistRepCount = lowDistRepCount;
  return rc;
}

int TRar3Unpacker::TState::PpmEscape(int& event) {
  auto next = [this]() {
    int c = Ppm.DecodeChar();
    return In.Overrun(32) ? -1 : c;
  };
  const int code = next();
  if (code < 0) return ERAR_BAD_DATA;
  switch (code) {
    case 0:
      event = TablesChanged;
      return ReadTables29();
    case 2:
      event = EndOfFile;
      return ERAR_SUCCESS;
    case 3:
      return ReadFilterPpm();
    case 4:
    case 5: {
      uint32_t dist = 1, length;
      if (code == 4) {
        dist = 0;
        for (int i = 0; i < 3; ++i) {
          int c = next();
          if (c < 0) return ERAR_BAD_DATA;
          dist = (dist << 8) | uint32_t(c);
        }
        dist += 2;
      }
      int c = next();
      if (c < 0) return ERAR_BAD_DATA;
      length = uint32_t(c) + (code == 4 ? 32 : 4);
      if (!DistanceOk(UnpPos, dist) || UnpPos + length > EntryEnd) return ERAR_BAD_DATA;
      RarCopyMatch(Window.get(), WinSize - 1, UnpPos, length, dist);
      UnpPos += length;
      return ERAR_SUCCESS;
    }
    default:
      // Any other code after the escape character stands for the character itself.
      Window[UnpPos & (WinSize - 1)] = uint8_t(PpmEsc);
      ++UnpPos;
      return ERAR_SUCCESS;
  }
}

int TRar3Unpacker::TState::RunPpm(uint64_t outLimit, int& event) {
  event = NoEvent;
  while (UnpPos < outLimit) {
    TRarPpmd::TRun run = Ppm.DecodeRun(Window.get(), WinSize - 1, UnpPos, outLimit, PpmEsc);
    if (run == TRarPpmd::TRun::Failed) return In.Error ? In.Error : ERAR_BAD_DATA;
    if (run == TRarPpmd::TRun::Limit) break;
    if (int rc = PpmEscape(event)) return rc;
    if (In.Error) return In.Error;
    if (event != NoEvent) return ERAR_SUCCESS;
  }
  return In.Error;
}

int TRar3Unpacker::TState::ReadFilterLz() {
  // A whole filter record fits in the buffer unless the data ends first.
  if (int rc = In.Refill(0x10000 + 16)) return rc;
  TRar3Bits& b = In.B;
  const uint32_t firstByte = b.Get(8);
  uint32_t length = (firstByte & 7) + 1;
  if (length == 7)
    length = b.Get(8) + 7;
  else if (length == 8)
    length = b.Get(16);
  if (length == 0) return ERAR_BAD_DATA;
  std::vector<uint8_t> code(length + 8);
  for (uint32_t i = 0; i < length; ++i) {
    if (b.Pos > In.End) return ERAR_BAD_DATA;
    code[i] = uint8_t(b.Get(8));
  }
  if (In.Overrun()) return ERAR_BAD_DATA;
  return AddFilter(uint8_t(firstByte), code.data(), length);
}

int TRar3Unpacker::TState::ReadFilterPpm() {
  auto next = [this]() {
    int c = Ppm.DecodeChar();
    return In.Overrun(32) ? -1 : c;
  };
  const int firstByte = next();
  if (firstByte < 0) return ERAR_BAD_DATA;
  uint32_t length = uint32_t(firstByte & 7) + 1;
  if (length == 7) {
    int b1 = next();
    if (b1 < 0) return ERAR_BAD_DATA;
    length = uint32_t(b1) + 7;
  } else if (length == 8) {
    int b1 = next(), b2 = b1 < 0 ? -1 : next();
    if (b2 < 0) return ERAR_BAD_DATA;
    length = uint32_t(b1) * 256 + uint32_t(b2);
  }
  if (length == 0) return ERAR_BAD_DATA;
  std::vector<uint8_t> code(length + 8);
  for (uint32_t i = 0; i < length; ++i) {
    int c = next();
    if (c < 0) return ERAR_BAD_DATA;
    code[i] = uint8_t(c);
  }
  return AddFilter(uint8_t(firstByte), code.data(), length);
}

// A filter record: which program (a new one, one defined before, or the last one), where its
// block starts (relative to the current position) and how long it is, and the registers the
// program starts with. `code` has 8 zero bytes after its `size`.
int TRar3Unpacker::TState::AddFilter(uint8_t firstByte, const uint8_t* code, uint32_t size) {
  if (UnpPos == LastFilterAt) {
    if (++FiltersAtPos > MaxFiltersAtOnePosition) return ERAR_BAD_DATA;
  } else {
    LastFilterAt = UnpPos;
    FiltersAtPos = 0;
  }
  TRar3Bits vm{code, 0, 0};
  // A number starts inside the record; its last bits may come from the zeros after it.
  bool overrun = false;
  auto number = [&vm, &overrun, size]() -> uint32_t {
    if (vm.Pos > size) {
      overrun = true;
      return 0;
    }
    uint32_t data = vm.Peek16();
    switch (data & 0xC000) {
      case 0:
        vm.Skip(6);
        return (data >> 10) & 0xF;
      case 0x4000:
        if ((data & 0x3C00) == 0) {
          vm.Skip(14);
          return 0xFFFFFF00u | ((data >> 2) & 0xFF);
        }
        vm.Skip(10);
        return (data >> 6) & 0xFF;
      case 0x8000:
        vm.Skip(2);
        data = vm.Peek16();
        vm.Skip(16);
        return data;
      default:
        vm.Skip(2);
        data = vm.Peek16() << 16;
        vm.Skip(16);
        data |= vm.Peek16();
        vm.Skip(16);
        return data;
    }
  };

  uint32_t program = LastFilter;
  if (firstByte & 0x80) {
    program = number();
    // Program 0 clears every program defined so far and starts the list again.
    if (program == 0) {
      if (int rc = ResetFilters()) return rc;
    } else {
      program--;
    }
  }
  if (program > Programs.size() || program > OldFilterLengths.size()) return ERAR_BAD_DATA;
  LastFilter = program;
  const bool newProgram = program == Programs.size();
  if ((newProgram && program >= MaxFilters) || Pending.size() >= MaxFilters) return ERAR_BAD_DATA;

  uint32_t blockStart = number();
  if (firstByte & 0x40) blockStart += 258;
  uint32_t blockLength = program < OldFilterLengths.size() ? OldFilterLengths[program] : 0;
  if (firstByte & 0x20) blockLength = number();
  TRar3FilterRegisters regs;
  regs.R[4] = blockLength;
  if (firstByte & 0x10) {
    uint32_t initMask = overrun || vm.Pos > size ? 0 : vm.Get(7);
    for (unsigned i = 0; i < 7; ++i)
      if (initMask & (1u << i)) regs.R[i] = number();
  }
  TRar3Filter filter;
  if (newProgram) {
    uint32_t codeSize = number();
    if (overrun || codeSize == 0 || codeSize >= 0x10000 || vm.Pos + codeSize > size) return ERAR_BAD_DATA;
    std::vector<uint8_t> body(codeSize);
    for (uint32_t i = 0; i < codeSize; ++i) body[i] = uint8_t(vm.Get(8));
    filter = IdentifyRar3Filter(body.data(), codeSize);
    // No general virtual machine here: the archiver never writes other programs.
    if (filter == TRar3Filter::Unknown) return ERAR_BAD_DATA;
    Programs.push_back(filter);
    OldFilterLengths.push_back(0);
  } else {
    filter = Programs[program];
  }
  if (firstByte & 0x20) OldFilterLengths[program] = blockLength;
  if (overrun || vm.BitPosition() > uint64_t(size) * 8) return ERAR_BAD_DATA;

  // A block farther ahead than the window, larger than the machine's memory, or with a length
  // register that disagrees with it, is nothing the archiver writes.
  if (blockStart >= WinSize || blockLength >= Rar3FilterMemory || regs.R[4] != blockLength) return ERAR_BAD_DATA;
  if (blockLength == 0) return ERAR_SUCCESS;  // filters nothing
  const uint64_t start = UnpPos + blockStart;
  if (!Pending.empty()) {
    const TPending& last = Pending.back();
    bool stacked = start == last.Start && blockLength == last.Length;
    if (!stacked && start < last.Start + last.Length) return ERAR_BAD_DATA;
  }
  TPending f;
  f.Start = start;
  f.Length = blockLength;
  f.Filter = filter;
  f.Regs = regs;
  Pending.push_back(f);
  return ERAR_SUCCESS;
}

int TRar3Unpacker::TState::AtEntryEnd29(bool& done) {
  done = false;
  uint64_t left = 0;
  if (int rc = In.BitsLeft(left)) return rc;
  // What follows the data may still close the file (and say whether the next one starts with
  // tables), bring new tables or define a filter; more data would be beyond the declared size.
  if (PpmBlock) {
    if (left < 8) {
      done = true;
      return ERAR_SUCCESS;
    }
    int c = Ppm.DecodeChar();
    if (c < 0 || In.Overrun(32)) return In.Error ? In.Error : ERAR_BAD_DATA;
    if (c == PpmEsc) {
      int code = Ppm.DecodeChar();
      if (code < 0 || In.Overrun(32)) return In.Error ? In.Error : ERAR_BAD_DATA;
      if (code == 2) {
        done = true;
        return ERAR_SUCCESS;
      }
      if (code == 0) return ReadTables29();
      if (code == 3) return ReadFilterPpm();
    }
    return ERAR_BAD_DATA;
  }
  if (left == 0) {
    done = true;
    return ERAR_SUCCESS;
  }
  // The end code may sit in the last byte's bits; whatever reads past the data was padding.
  int symbol = Main.Decode(In.B);
  if (In.Overrun()) {
    done = true;
    return ERAR_SUCCESS;
  }
  if (symbol == 256) {
    bool newFile = false;
    int rc = ReadEndOfBlock(newFile);
    if (In.Overrun()) rc = ERAR_SUCCESS, newFile = true;
    done = newFile;
    return rc;
  }
  if (symbol == 257) return ReadFilterLz();
  if (left < 8) {
    done = true;
    return ERAR_SUCCESS;
  }
  return ERAR_BAD_DATA;
}

int TRar3Unpacker::TState::EmptyWithoutData(bool& empty) {
  empty = false;
  if (EntryEnd != EntryStart) return ERAR_SUCCESS;
  uint64_t left = 0;
  if (int rc = In.BitsLeft(left)) return rc;
  empty = left == 0;
  return ERAR_SUCCESS;
}

int TRar3Unpacker::TState::Decode29(bool solid) {
  bool empty = false;
  if (int rc = EmptyWithoutData(empty)) return rc;
  if (empty) return ERAR_SUCCESS;
  if (!solid || !TablesRead)
    if (int rc = ReadTables29()) return rc;
  for (;;) {
    if (In.Error) return In.Error;
    if (UnpPos >= EntryEnd) {
      bool done = false;
      if (int rc = AtEntryEnd29(done)) return rc;
      if (done) break;
      continue;
    }
    if (UnpPos >= FlushLimit()) {
      if (int rc = Flush()) return rc;
      continue;
    }
    const uint64_t outLimit = std::min(EntryEnd, FlushLimit());
    int event = NoEvent;
    if (PpmBlock) {
      if (int rc = RunPpm(outLimit, event)) return rc;
      // The file's data ended before its declared size.
      if (event == EndOfFile) return ERAR_BAD_DATA;
      continue;
    }
    uint64_t limit = 0;
    if (int rc = PrepareLzRun(limit)) return rc;
    int rc = Run29(limit, outLimit, event);
    if (rc == ERAR_SUCCESS && In.Overrun()) rc = ERAR_BAD_DATA;
    if (rc) return rc;
    if (event == EndOfBlock) {
      bool newFile = false;
      if (int rc2 = ReadEndOfBlock(newFile)) return rc2;
      if (newFile) return ERAR_BAD_DATA;
    } else if (event == FilterRecord) {
      if (int rc2 = ReadFilterLz()) return rc2;
    }
  }
  if (int rc = Flush()) return rc;
  return EndFilters();
}
