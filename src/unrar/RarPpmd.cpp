#include "unrar/RarPpmd.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "unrar/unrar.h"

namespace {

constexpr int MaxOrderLimit = 64;
constexpr uint32_t RangeTop = 1u << 24, RangeBottom = 1u << 15;
constexpr int PeriodBits = 7, TotalBits = 14;
constexpr int Interval = 1 << 7, BinScale = 1 << TotalBits, MaxFreq = 124;

// The archiver's units: a context (or a free-block header) is 12 bytes, a symbol state 6.
constexpr uint32_t UnitSize = 12, StateSize = 6;
constexpr int N1 = 4, N2 = 4, N3 = 4, N4 = (128 + 3 - 1 * N1 - 2 * N2 - 3 * N3) / 4;
constexpr int IndexCount = N1 + N2 + N3 + N4;
// Offset 0 stays unused so that it can mean "none"; the block starts one unit in.
constexpr uint32_t HeapBase = UnitSize;

const uint8_t ExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};
const uint16_t InitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x64A1, 0x5ABC, 0x6632, 0x6051};

struct TSee2 {
  uint16_t Summ = 0;
  uint8_t Shift = 0, Count = 0;
  void Init(int initVal) {
    Shift = PeriodBits - 4;
    Summ = uint16_t(initVal << Shift);
    Count = 4;
  }
  uint32_t Mean() {
    uint32_t r = uint32_t(Summ >> Shift);
    Summ = uint16_t(Summ - r);
    return r + (r == 0);
  }
  void Update() {
    if (Shift < PeriodBits && --Count == 0) {
      Summ = uint16_t(Summ + Summ);
      Count = uint8_t(3 << Shift++);
    }
  }
};

// A symbol state copied out of the block.
struct TStateCopy {
  uint8_t Bytes[StateSize];
};

}  // namespace

struct TRarPpmd::TState {
  // The block: text grows from HeapBase up, units fill [UnitsStart, UnitsEnd) from both ends.
  struct TFree {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t[], TFree> Heap;
  uint8_t* H = nullptr;
  uint32_t SubAllocatorSize = 0;
  uint32_t UnitsEnd = 0, Sentinel = 0;
  uint32_t PText = 0, UnitsStart = 0, LoUnit = 0, HiUnit = 0;
  uint8_t Indx2Units[IndexCount] = {}, Units2Indx[128] = {}, GlueCount = 0;
  uint32_t FreeList[IndexCount] = {};

  TSee2 See2Cont[25][16], DummySee2;
  uint32_t MinContext = 0, MaxContext = 0, FoundState = 0;
  int NumMasked = 0, InitEsc = 0, OrderFall = 0, MaxOrder = 0, RunLength = 0, InitRL = 0;
  uint8_t CharMask[256] = {}, NS2Indx[256] = {}, NS2BSIndx[256] = {}, HB2Flag[256] = {};
  uint8_t EscCount = 0, PrevSuccess = 0, HiBitsFlag = 0;
  uint16_t BinSumm[128][64] = {};
  bool HasModel = false;
  bool Broken = false;  // the model met something no consistent model holds

  TRar3Input* In = nullptr;
  uint32_t Low = 0, Code = 0, Range = 0;
  uint32_t LowCount = 0, HighCount = 0, Scale = 0;

  // --- raw access ---
  uint16_t Load16(uint32_t at) const {
    uint16_t v;
    std::memcpy(&v, H + at, 2);
    return v;
  }
  uint32_t Load32(uint32_t at) const {
    uint32_t v;
    std::memcpy(&v, H + at, 4);
    return v;
  }
  void Store16(uint32_t at, uint32_t v) {
    uint16_t w = uint16_t(v);
    std::memcpy(H + at, &w, 2);
  }
  void Store32(uint32_t at, uint32_t v) { std::memcpy(H + at, &v, 4); }

  // A state: symbol, frequency, successor (a context, or a position in the text).
  uint8_t& Sym(uint32_t s) { return H[s]; }
  uint8_t& Freq(uint32_t s) { return H[s + 1]; }
  uint32_t Succ(uint32_t s) const { return Load32(s + 2); }
  void SetSucc(uint32_t s, uint32_t v) { Store32(s + 2, v); }
  TStateCopy CopyState(uint32_t s) const {
    TStateCopy c;
    std::memcpy(c.Bytes, H + s, StateSize);
    return c;
  }
  void PutState(uint32_t s, const TStateCopy& c) { std::memcpy(H + s, c.Bytes, StateSize); }
  void SwapStates(uint32_t a, uint32_t b) {
    TStateCopy t = CopyState(a);
    std::memmove(H + a, H + b, StateSize);
    PutState(b, t);
  }

  // A context: NumStats, then SummFreq and Stats, or in their place its one state; Suffix.
  uint32_t NumStats(uint32_t c) const { return Load16(c); }
  void SetNumStats(uint32_t c, uint32_t v) { Store16(c, v); }
  uint32_t SummFreq(uint32_t c) const { return Load16(c + 2); }
  void SetSummFreq(uint32_t c, uint32_t v) { Store16(c + 2, v); }
  uint32_t Stats(uint32_t c) const { return Load32(c + 4); }
  void SetStats(uint32_t c, uint32_t v) { Store32(c + 4, v); }
  uint32_t Suffix(uint32_t c) const { return Load32(c + 8); }
  void SetSuffix(uint32_t c, uint32_t v) { Store32(c + 8, v); }
  static uint32_t OneState(uint32_t c) { return c + 2; }

  // A context offset the model may follow: in the units area, and its states too (up to 256 of
  // them from any start in the area stay inside the block's slack).
  bool ValidContext(uint32_t c) const {
    if (c <= PText || c > UnitsEnd - UnitSize) return false;
    uint32_t n = NumStats(c), s = Stats(c);
    return n == 1 || (n - 1 < 256 && s > PText && s <= UnitsEnd);
  }
  // The state of `symbol` in context c, or 0 when c lacks it (never so in a consistent model).
  uint32_t FindState(uint32_t c, uint8_t symbol) {
    if (!ValidContext(c)) return Broken = true, 0;
    uint32_t n = NumStats(c);
    if (n == 1) return Sym(OneState(c)) == symbol ? OneState(c) : (Broken = true, 0);
    const uint8_t* const h = H;
    uint32_t p = Stats(c);
    for (uint32_t i = 0; i < n; ++i, p += StateSize)
      if (h[p] == symbol) return p;
    return Broken = true, 0;
  }

  // --- the sub-allocator ---
  static uint32_t U2B(uint32_t nu) { return UnitSize * nu; }
  void InsertNode(uint32_t p, int indx) {
    Store32(p, FreeList[indx]);
    FreeList[indx] = p;
  }
  uint32_t RemoveNode(int indx) {
    uint32_t p = FreeList[indx];
    FreeList[indx] = Load32(p);
    return p;
  }
  // Free-block headers while blocks are glued: Stamp, NU, Next, Prev.
  uint32_t Stamp(uint32_t b) const { return Load16(b); }
  uint32_t NU(uint32_t b) const { return Load16(b + 2); }
  uint32_t Next(uint32_t b) const { return Load32(b + 4); }
  uint32_t Prev(uint32_t b) const { return Load32(b + 8); }
  void SetNext(uint32_t b, uint32_t v) { Store32(b + 4, v); }
  void SetPrev(uint32_t b, uint32_t v) { Store32(b + 8, v); }
  void InsertAt(uint32_t b, uint32_t after) {
    SetPrev(b, after);
    SetNext(b, Next(after));
    SetPrev(Next(b), b);
    SetNext(after, b);
  }
  void RemoveBlock(uint32_t b) {
    SetNext(Prev(b), Next(b));
    SetPrev(Next(b), Prev(b));
  }

  void SplitBlock(uint32_t pv, int oldIndx, int newIndx);
  void GlueFreeBlocks();
  uint32_t AllocUnitsRare(int indx);
  uint32_t AllocUnits(uint32_t nu);
  uint32_t AllocContext();
  uint32_t ExpandUnits(uint32_t oldPtr, uint32_t oldNU);
  uint32_t ShrinkUnits(uint32_t oldPtr, uint32_t oldNU, uint32_t newNU);
  void FreeUnits(uint32_t ptr, uint32_t oldNU) { InsertNode(ptr, Units2Indx[oldNU - 1]); }
  int StartSubAllocator(uint32_t megabytes, uint64_t memoryLimit);
  void InitSubAllocator();

  // --- the model ---
  void RestartModelRare();
  void StartModelRare(int maxOrder);
  uint32_t CreateSuccessors(bool skip, uint32_t p1);
  void UpdateModel();
  void Rescale(uint32_t c);
  bool DecodeSymbol1(uint32_t c);
  void DecodeBinSymbol(uint32_t c);
  bool DecodeSymbol2(uint32_t c);
  void Update1(uint32_t c, uint32_t p);
  void Update2(uint32_t c, uint32_t p);
  TSee2* MakeEscFreq2(uint32_t c, int diff);
  void ClearMask() {
    EscCount = 1;
    std::memset(CharMask, 0, sizeof CharMask);
  }
  int DecodeChar();

  // --- the range decoder ---
  void InitCoder() {
    Low = Code = 0;
    Range = 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i) Code = (Code << 8) | In->GetByte();
  }
  void Normalize() {
    for (;;) {
      if ((Low ^ (Low + Range)) >= RangeTop) {
        if (Range >= RangeBottom) break;
        Range = (0u - Low) & (RangeBottom - 1);
      }
      Code = (Code << 8) | In->GetByte();
      Range <<= 8;
      Low <<= 8;
    }
  }
  // False when the count cannot come from a valid stream.
  bool CurrentCount(uint32_t& count) {
    if (Scale == 0 || Range < Scale) return false;
    Range /= Scale;
    count = (Code - Low) / Range;
    return true;
  }
  uint32_t CurrentShiftCount(unsigned shift) {
    Range >>= shift;
    return (Code - Low) / Range;
  }
  void RemoveSubrange() {
    Low += Range * LowCount;
    Range *= HighCount - LowCount;
  }
};

TRarPpmd::TRarPpmd() : S(std::make_unique<TState>()) {}
TRarPpmd::~TRarPpmd() = default;

void TRarPpmd::Clear() { S->HasModel = false; }

int TRarPpmd::Init(TRar3Input& in, int& escChar, uint64_t memoryLimit) {
  TState& s = *S;
  s.In = &in;
  int flags = in.GetByte();
  bool reset = flags & 0x20;
  int megabytes = 0;
  if (reset)
    megabytes = in.GetByte() + 1;
  else if (!s.HasModel)
    return ERAR_BAD_DATA;
  if (flags & 0x40) escChar = in.GetByte();
  s.InitCoder();
  if (reset) {
    s.HasModel = false;
    int maxOrder = (flags & 0x1F) + 1;
    if (maxOrder > 16) maxOrder = 16 + (maxOrder - 16) * 3;
    if (maxOrder == 1) return ERAR_BAD_DATA;
    if (int rc = s.StartSubAllocator(uint32_t(megabytes), memoryLimit)) return rc;
    s.StartModelRare(maxOrder);
    s.HasModel = true;
  }
  s.Broken = false;
  return s.HasModel ? ERAR_SUCCESS : ERAR_BAD_DATA;
}

int TRarPpmd::DecodeChar() {
  TState& s = *S;
  if (!s.HasModel) return -1;
  int c = s.DecodeChar();
  if (c < 0 || s.Broken) {
    s.HasModel = false;
    return -1;
  }
  return c;
}

TRarPpmd::TRun TRarPpmd::DecodeRun(uint8_t* window, uint64_t mask, uint64_t& pos, uint64_t limit, int escChar) {
  TState& s = *S;
  if (!s.HasModel) return TRun::Failed;
  TRar3Input& in = *s.In;
  while (pos < limit) {
    int c = s.DecodeChar();
    if (c < 0 || s.Broken || in.Overrun(32)) {
      s.HasModel = false;
      return TRun::Failed;
    }
    if (c == escChar) return TRun::Escape;
    window[pos & mask] = uint8_t(c);
    ++pos;
  }
  return TRun::Limit;
}

// --- sub-allocator ---

int TRarPpmd::TState::StartSubAllocator(uint32_t megabytes, uint64_t memoryLimit) {
  uint32_t size = megabytes << 20;
  if (SubAllocatorSize == size && Heap) return ERAR_SUCCESS;
  Heap.reset();
  H = nullptr;
  SubAllocatorSize = 0;
  // The block, a spare unit the glue may look at, the glue's list head, and slack for the states
  // of a context checked by its start alone. Like the archiver's, the model writes every unit
  // before it reads it, so the block is not cleared (a model of hundreds of megabytes for each
  // small file would cost more than its data); the spare unit must read as no free block.
  const uint64_t tail = 4 * UnitSize + 256 * StateSize;
  uint64_t bytes = uint64_t(HeapBase) + size + tail;
  if (bytes > memoryLimit) return ERAR_NO_MEMORY;
  Heap.reset(static_cast<uint8_t*>(std::malloc(size_t(bytes))));
  if (!Heap) return ERAR_NO_MEMORY;
  std::memset(Heap.get(), 0, HeapBase);
  std::memset(Heap.get() + HeapBase + size, 0, size_t(tail));
  H = Heap.get();
  SubAllocatorSize = size;
  UnitsEnd = HeapBase + size;
  Sentinel = UnitsEnd + 2 * UnitSize;
  return ERAR_SUCCESS;
}

void TRarPpmd::TState::InitSubAllocator() {
  std::memset(FreeList, 0, sizeof FreeList);
  PText = HeapBase;
  uint32_t size2 = UnitSize * (SubAllocatorSize / 8 / UnitSize * 7);
  uint32_t size1 = SubAllocatorSize - size2;
  LoUnit = UnitsStart = HeapBase + size1;
  HiUnit = LoUnit + size2;
  int i = 0, k = 1;
  for (; i < N1; i++, k += 1) Indx2Units[i] = uint8_t(k);
  for (k++; i < N1 + N2; i++, k += 2) Indx2Units[i] = uint8_t(k);
  for (k++; i < N1 + N2 + N3; i++, k += 3) Indx2Units[i] = uint8_t(k);
  for (k++; i < IndexCount; i++, k += 4) Indx2Units[i] = uint8_t(k);
  GlueCount = 0;
  for (k = i = 0; k < 128; k++) {
    i += (Indx2Units[i] < k + 1);
    Units2Indx[k] = uint8_t(i);
  }
}

void TRarPpmd::TState::SplitBlock(uint32_t pv, int oldIndx, int newIndx) {
  int uDiff = Indx2Units[oldIndx] - Indx2Units[newIndx];
  uint32_t p = pv + U2B(Indx2Units[newIndx]);
  int i = Units2Indx[uDiff - 1];
  if (Indx2Units[i] != uDiff) {
    InsertNode(p, --i);
    p += U2B(Indx2Units[i]);
    uDiff -= Indx2Units[i];
  }
  InsertNode(p, Units2Indx[uDiff - 1]);
}

void TRarPpmd::TState::GlueFreeBlocks() {
  const uint32_t s0 = Sentinel;
  SetNext(s0, s0);
  SetPrev(s0, s0);
  // A block that ends where the free gap begins must not read the gap as a free block.
  if (LoUnit != HiUnit) H[LoUnit] = 0;
  for (int i = 0; i < IndexCount; i++) {
    while (FreeList[i]) {
      uint32_t p = RemoveNode(i);
      InsertAt(p, s0);
      Store16(p, 0xFFFF);
      Store16(p + 2, Indx2Units[i]);
    }
  }
  for (uint32_t p = Next(s0); p != s0; p = Next(p)) {
    for (;;) {
      uint32_t p1 = p + U2B(NU(p));
      if (Stamp(p1) != 0xFFFF || NU(p) + NU(p1) >= 0x10000) break;
      RemoveBlock(p1);
      Store16(p + 2, NU(p) + NU(p1));
    }
  }
  for (uint32_t p; (p = Next(s0)) != s0;) {
    RemoveBlock(p);
    int sz = int(NU(p));
    for (; sz > 128; sz -= 128, p += U2B(128)) InsertNode(p, IndexCount - 1);
    int i = Units2Indx[sz - 1];
    if (Indx2Units[i] != sz) {
      int k = sz - Indx2Units[--i];
      InsertNode(p + U2B(uint32_t(sz - k)), k - 1);
    }
    InsertNode(p, i);
  }
}

uint32_t TRarPpmd::TState::AllocUnitsRare(int indx) {
  if (!GlueCount) {
    GlueCount = 255;
    GlueFreeBlocks();
    if (FreeList[indx]) return RemoveNode(indx);
  }
  int i = indx;
  do {
    if (++i == IndexCount) {
      GlueCount--;
      uint32_t bytes = U2B(Indx2Units[indx]);
      if (int64_t(UnitsStart) - int64_t(PText) > int64_t(bytes)) {
        UnitsStart -= bytes;
        return UnitsStart;
      }
      return 0;
    }
  } while (!FreeList[i]);
  uint32_t block = RemoveNode(i);
  SplitBlock(block, i, indx);
  return block;
}

uint32_t TRarPpmd::TState::AllocUnits(uint32_t nu) {
  int indx = Units2Indx[nu - 1];
  if (FreeList[indx]) return RemoveNode(indx);
  uint32_t block = LoUnit;
  LoUnit += U2B(Indx2Units[indx]);
  if (LoUnit <= HiUnit) return block;
  LoUnit -= U2B(Indx2Units[indx]);
  return AllocUnitsRare(indx);
}

uint32_t TRarPpmd::TState::AllocContext() {
  if (HiUnit != LoUnit) return HiUnit -= UnitSize;
  if (FreeList[0]) return RemoveNode(0);
  return AllocUnitsRare(0);
}

uint32_t TRarPpmd::TState::ExpandUnits(uint32_t oldPtr, uint32_t oldNU) {
  int i0 = Units2Indx[oldNU - 1], i1 = Units2Indx[oldNU];
  if (i0 == i1) return oldPtr;
  uint32_t ptr = AllocUnits(oldNU + 1);
  if (ptr) {
    std::memmove(H + ptr, H + oldPtr, U2B(oldNU));
    InsertNode(oldPtr, i0);
  }
  return ptr;
}

uint32_t TRarPpmd::TState::ShrinkUnits(uint32_t oldPtr, uint32_t oldNU, uint32_t newNU) {
  int i0 = Units2Indx[oldNU - 1], i1 = Units2Indx[newNU - 1];
  if (i0 == i1) return oldPtr;
  if (FreeList[i1]) {
    uint32_t ptr = RemoveNode(i1);
    std::memmove(H + ptr, H + oldPtr, U2B(newNU));
    InsertNode(oldPtr, i0);
    return ptr;
  }
  SplitBlock(oldPtr, i0, i1);
  return oldPtr;
}

// --- model ---

void TRarPpmd::TState::RestartModelRare() {
  std::memset(CharMask, 0, sizeof CharMask);
  InitSubAllocator();
  InitRL = -(MaxOrder < 12 ? MaxOrder : 12) - 1;
  MinContext = MaxContext = AllocContext();
  SetSuffix(MinContext, 0);
  OrderFall = MaxOrder;
  SetNumStats(MinContext, 256);
  SetSummFreq(MinContext, 257);
  FoundState = AllocUnits(256 / 2);
  SetStats(MinContext, FoundState);
  RunLength = InitRL;
  PrevSuccess = 0;
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t p = FoundState + i * StateSize;
    Sym(p) = uint8_t(i);
    Freq(p) = 1;
    SetSucc(p, 0);
  }
  for (int i = 0; i < 128; i++)
    for (int k = 0; k < 8; k++)
      for (int m = 0; m < 64; m += 8) BinSumm[i][k + m] = uint16_t(BinScale - InitBinEsc[k] / (i + 2));
  for (int i = 0; i < 25; i++)
    for (int k = 0; k < 16; k++) See2Cont[i][k].Init(5 * i + 10);
}

void TRarPpmd::TState::StartModelRare(int maxOrder) {
  EscCount = 1;
  MaxOrder = maxOrder;
  RestartModelRare();
  NS2BSIndx[0] = 2 * 0;
  NS2BSIndx[1] = 2 * 1;
  std::memset(NS2BSIndx + 2, 2 * 2, 9);
  std::memset(NS2BSIndx + 11, 2 * 3, 256 - 11);
  int i = 0;
  for (; i < 3; i++) NS2Indx[i] = uint8_t(i);
  for (int m = i, k = 1, step = 1; i < 256; i++) {
    NS2Indx[i] = uint8_t(m);
    if (!--k) {
      k = ++step;
      m++;
    }
  }
  std::memset(HB2Flag, 0, 0x40);
  std::memset(HB2Flag + 0x40, 0x08, 0x100 - 0x40);
  DummySee2.Shift = PeriodBits;
}

uint32_t TRarPpmd::TState::CreateSuccessors(bool skip, uint32_t p1) {
  uint32_t pc = MinContext, upBranch = Succ(FoundState);
  uint32_t ps[MaxOrderLimit];
  int n = 0;
  uint32_t p = 0;
  const uint8_t symbol = Sym(FoundState);
  if (!skip) {
    ps[n++] = FoundState;
    if (!Suffix(pc)) goto NoLoop;
  }
  {
    bool entered = false;
    if (p1) {
      p = p1;
      pc = Suffix(pc);
      entered = true;
    }
    do {
      if (!entered) {
        pc = Suffix(pc);
        p = FindState(pc, symbol);
        if (!p) return 0;
      }
      entered = false;
      if (Succ(p) != upBranch) {
        pc = Succ(p);
        break;
      }
      if (n >= MaxOrderLimit) return Broken = true, 0;
      ps[n++] = p;
    } while (Suffix(pc));
  }
NoLoop:
  if (n == 0) return pc;
  // The branch's successor is still a position in the text: its next byte is the symbol.
  if (upBranch < HeapBase || upBranch >= UnitsStart) return Broken = true, 0;
  const uint8_t upSymbol = H[upBranch];
  const uint32_t upSuccessor = upBranch + 1;
  uint8_t upFreq;
  if (pc < HeapBase || pc > UnitsEnd - UnitSize) return Broken = true, 0;
  if (NumStats(pc) != 1) {
    // Not a context yet: the archiver's model started over here.
    if (pc <= PText) return 0;
    p = FindState(pc, upSymbol);
    if (!p) return 0;
    uint32_t cf = Freq(p) - 1u;
    uint32_t s0 = SummFreq(pc) - NumStats(pc) - cf;
    if (2 * cf > s0 && s0 == 0) return Broken = true, 0;
    upFreq = uint8_t(1 + ((2 * cf <= s0) ? (5 * cf > s0) : ((2 * cf + 3 * s0 - 1) / (2 * s0))));
  } else {
    upFreq = Freq(OneState(pc));
  }
  do {
    uint32_t child = AllocContext();
    if (!child) return 0;
    SetNumStats(child, 1);
    uint32_t one = OneState(child);
    Sym(one) = upSymbol;
    Freq(one) = upFreq;
    SetSucc(one, upSuccessor);
    SetSuffix(child, pc);
    SetSucc(ps[--n], child);
    pc = child;
  } while (n);
  return pc;
}

void TRarPpmd::TState::UpdateModel() {
  const uint8_t fsSymbol = Sym(FoundState), fsFreq = Freq(FoundState);
  uint32_t fsSuccessor = Succ(FoundState);
  uint32_t p = 0, pc, successor;
  uint32_t ns1, ns, cf, sf, s0;
  if (fsFreq < MaxFreq / 4 && (pc = Suffix(MinContext)) != 0) {
    if (!ValidContext(pc)) {
      Broken = true;
      return;
    }
    if (NumStats(pc) != 1) {
      p = Stats(pc);
      if (Sym(p) != fsSymbol) {
        p = FindState(pc, fsSymbol);
        if (!p) return;
        if (Freq(p) >= Freq(p - StateSize)) {
          SwapStates(p, p - StateSize);
          p -= StateSize;
        }
      }
      if (Freq(p) < MaxFreq - 9) {
        Freq(p) += 2;
        SetSummFreq(pc, SummFreq(pc) + 2);
      }
    } else {
      p = OneState(pc);
      Freq(p) += (Freq(p) < 32);
    }
  }
  if (!OrderFall) {
    MinContext = MaxContext = CreateSuccessors(true, p);
    if (Broken) return;
    SetSucc(FoundState, MinContext);
    if (!MinContext) goto RestartModel;
    return;
  }
  H[PText++] = fsSymbol;
  successor = PText;
  if (PText >= UnitsStart) goto RestartModel;
  if (fsSuccessor) {
    if (fsSuccessor <= PText && (fsSuccessor = CreateSuccessors(false, p)) == 0) {
      if (Broken) return;
      goto RestartModel;
    }
    if (!--OrderFall) {
      successor = fsSuccessor;
      PText -= (MaxContext != MinContext);
    }
  } else {
    SetSucc(FoundState, successor);
    fsSuccessor = MinContext;
  }
  s0 = SummFreq(MinContext) - (ns = NumStats(MinContext)) - (fsFreq - 1u);
  pc = MaxContext;
  for (int depth = 0; pc != MinContext; pc = Suffix(pc)) {
    if (++depth > MaxOrderLimit + 1 || !ValidContext(pc)) {
      Broken = true;
      return;
    }
    if ((ns1 = NumStats(pc)) != 1) {
      if (ns1 >= 256) {
        Broken = true;
        return;
      }
      if ((ns1 & 1) == 0) {
        uint32_t stats = ExpandUnits(Stats(pc), ns1 >> 1);
        SetStats(pc, stats);
        if (!stats) goto RestartModel;
      }
      SetSummFreq(pc, SummFreq(pc) + (2 * ns1 < ns) + 2 * ((4 * ns1 <= ns) & (SummFreq(pc) <= 8 * ns1)));
    } else {
      p = AllocUnits(1);
      if (!p) goto RestartModel;
      PutState(p, CopyState(OneState(pc)));
      SetStats(pc, p);
      if (Freq(p) < MaxFreq / 4 - 1)
        Freq(p) = uint8_t(Freq(p) + Freq(p));
      else
        Freq(p) = MaxFreq - 4;
      SetSummFreq(pc, Freq(p) + InitEsc + (ns > 3));
    }
    cf = 2 * fsFreq * (SummFreq(pc) + 6);
    sf = s0 + SummFreq(pc);
    if (cf < 6 * sf) {
      cf = 1 + (cf > sf) + (cf >= 4 * sf);
      SetSummFreq(pc, SummFreq(pc) + 3);
    } else {
      cf = 4 + (cf >= 9 * sf) + (cf >= 12 * sf) + (cf >= 15 * sf);
      SetSummFreq(pc, SummFreq(pc) + cf);
    }
    p = Stats(pc) + ns1 * StateSize;
    SetSucc(p, successor);
    Sym(p) = fsSymbol;
    Freq(p) = uint8_t(cf);
    SetNumStats(pc, ++ns1);
  }
  MaxContext = MinContext = fsSuccessor;
  return;
RestartModel:
  RestartModelRare();
  EscCount = 0;
}

void TRarPpmd::TState::Rescale(uint32_t c) {
  const uint32_t stats = Stats(c);
  int oldNS = int(NumStats(c)), i = oldNS - 1;
  for (uint32_t p = FoundState; p != stats; p -= StateSize) SwapStates(p, p - StateSize);
  Freq(stats) += 4;
  SetSummFreq(c, SummFreq(c) + 4);
  int escFreq = int(SummFreq(c)) - Freq(stats);
  int adder = OrderFall != 0;
  uint32_t p = stats;
  Freq(p) = uint8_t((Freq(p) + adder) >> 1);
  SetSummFreq(c, Freq(p));
  do {
    p += StateSize;
    escFreq -= Freq(p);
    Freq(p) = uint8_t((Freq(p) + adder) >> 1);
    SetSummFreq(c, SummFreq(c) + Freq(p));
    if (Freq(p) > Freq(p - StateSize)) {
      TStateCopy tmp = CopyState(p);
      uint32_t p1 = p;
      do {
        std::memmove(H + p1, H + p1 - StateSize, StateSize);
        p1 -= StateSize;
      } while (p1 != stats && tmp.Bytes[1] > Freq(p1 - StateSize));
      PutState(p1, tmp);
    }
  } while (--i);
  if (Freq(p) == 0) {
    do {
      i++;
      p -= StateSize;
    } while (Freq(p) == 0);
    escFreq += i;
    SetNumStats(c, NumStats(c) - uint32_t(i));
    if (NumStats(c) == 1) {
      TStateCopy tmp = CopyState(stats);
      do {
        tmp.Bytes[1] = uint8_t(tmp.Bytes[1] - (tmp.Bytes[1] >> 1));
        escFreq >>= 1;
      } while (escFreq > 1);
      FreeUnits(stats, uint32_t(oldNS + 1) >> 1);
      FoundState = OneState(c);
      PutState(FoundState, tmp);
      return;
    }
  }
  escFreq -= escFreq >> 1;
  SetSummFreq(c, SummFreq(c) + uint32_t(escFreq));
  uint32_t n0 = uint32_t(oldNS + 1) >> 1, n1 = (NumStats(c) + 1) >> 1;
  if (n0 != n1) SetStats(c, ShrinkUnits(stats, n0, n1));
  FoundState = Stats(c);
}

void TRarPpmd::TState::DecodeBinSymbol(uint32_t c) {
  const uint32_t rs = OneState(c);
  const uint32_t suffix = Suffix(c);
  if (!FoundState || !suffix || !ValidContext(suffix) || Freq(rs) == 0 || Freq(rs) > 128) {
    Broken = true;
    return;
  }
  HiBitsFlag = HB2Flag[Sym(FoundState)];
  uint16_t& bs = BinSumm[Freq(rs) - 1][PrevSuccess + NS2BSIndx[NumStats(suffix) - 1] + HiBitsFlag +
                                       2 * HB2Flag[Sym(rs)] + ((uint32_t(RunLength) >> 26) & 0x20)];
  if (CurrentShiftCount(TotalBits) < bs) {
    FoundState = rs;
    Freq(rs) += (Freq(rs) < 128);
    LowCount = 0;
    HighCount = bs;
    bs = uint16_t(bs + Interval - ((bs + (1 << (PeriodBits - 2))) >> PeriodBits));
    PrevSuccess = 1;
    RunLength++;
  } else {
    LowCount = bs;
    bs = uint16_t(bs - ((bs + (1 << (PeriodBits - 2))) >> PeriodBits));
    HighCount = BinScale;
    InitEsc = ExpEscape[(bs >> 10) & 15];
    NumMasked = 1;
    CharMask[Sym(rs)] = EscCount;
    PrevSuccess = 0;
    FoundState = 0;
  }
}

void TRarPpmd::TState::Update1(uint32_t c, uint32_t p) {
  FoundState = p;
  Freq(p) += 4;
  SetSummFreq(c, SummFreq(c) + 4);
  if (Freq(p) > Freq(p - StateSize)) {
    SwapStates(p, p - StateSize);
    FoundState = p -= StateSize;
    if (Freq(p) > MaxFreq) Rescale(c);
  }
}

bool TRarPpmd::TState::DecodeSymbol1(uint32_t c) {
  Scale = SummFreq(c);
  uint32_t p = Stats(c);
  uint32_t count;
  if (!CurrentCount(count) || count >= Scale) return false;
  uint32_t hiCnt = Freq(p);
  if (count < hiCnt) {
    PrevSuccess = (2 * (HighCount = hiCnt) > Scale);
    RunLength += PrevSuccess;
    FoundState = p;
    hiCnt += 4;
    Freq(p) = uint8_t(hiCnt);
    SetSummFreq(c, SummFreq(c) + 4);
    if (hiCnt > MaxFreq) Rescale(c);
    LowCount = 0;
    return true;
  }
  if (!FoundState) return false;
  PrevSuccess = 0;
  int i = int(NumStats(c)) - 1;
  const uint8_t* const h = H;
  while ((hiCnt += h[(p += StateSize) + 1]) <= count) {
    if (--i == 0) {
      HiBitsFlag = HB2Flag[Sym(FoundState)];
      LowCount = hiCnt;
      CharMask[Sym(p)] = EscCount;
      i = (NumMasked = int(NumStats(c))) - 1;
      FoundState = 0;
      do {
        p -= StateSize;
        CharMask[Sym(p)] = EscCount;
      } while (--i);
      HighCount = Scale;
      return true;
    }
  }
  LowCount = (HighCount = hiCnt) - Freq(p);
  Update1(c, p);
  return true;
}

void TRarPpmd::TState::Update2(uint32_t c, uint32_t p) {
  FoundState = p;
  Freq(p) += 4;
  SetSummFreq(c, SummFreq(c) + 4);
  if (Freq(p) > MaxFreq) Rescale(c);
  EscCount++;
  RunLength = InitRL;
}

TSee2* TRarPpmd::TState::MakeEscFreq2(uint32_t c, int diff) {
  const uint32_t ns = NumStats(c);
  if (ns == 256) {
    Scale = 1;
    return &DummySee2;
  }
  const uint32_t suffix = Suffix(c);
  if (!suffix || !ValidContext(suffix)) return nullptr;
  TSee2* see = See2Cont[NS2Indx[diff - 1]] + (diff < int(NumStats(suffix)) - int(ns)) +
               2 * (SummFreq(c) < 11 * ns) + 4 * (NumMasked > diff) + HiBitsFlag;
  Scale = see->Mean();
  return see;
}

bool TRarPpmd::TState::DecodeSymbol2(uint32_t c) {
  int i = int(NumStats(c)) - NumMasked;
  if (i <= 0) return false;
  TSee2* see = MakeEscFreq2(c, i);
  if (!see) return false;
  // The states not masked by the contexts escaped from, in order: i of them.
  uint32_t ps[256];
  int n = 0;
  uint32_t p = Stats(c) - StateSize;
  const uint32_t last = Stats(c) + (NumStats(c) - 1) * StateSize;
  uint32_t hiCnt = 0;
  const uint8_t* const h = H;
  const uint8_t escCount = EscCount;
  do {
    do {
      p += StateSize;
      if (p > last) return false;
    } while (CharMask[h[p]] == escCount);
    hiCnt += h[p + 1];
    ps[n++] = p;
  } while (--i);
  Scale += hiCnt;
  uint32_t count;
  if (!CurrentCount(count) || count >= Scale) return false;
  int k = 0;
  p = ps[0];
  if (count < hiCnt) {
    hiCnt = 0;
    while ((hiCnt += h[p + 1]) <= count) p = ps[++k];
    LowCount = (HighCount = hiCnt) - Freq(p);
    see->Update();
    Update2(c, p);
  } else {
    LowCount = hiCnt;
    HighCount = Scale;
    for (int j = 0; j < n; j++) CharMask[h[ps[j]]] = escCount;
    see->Summ = uint16_t(see->Summ + Scale);
    NumMasked = int(NumStats(c));
  }
  return true;
}

int TRarPpmd::TState::DecodeChar() {
  if (!ValidContext(MinContext)) return -1;
  if (NumStats(MinContext) != 1) {
    if (!DecodeSymbol1(MinContext)) return -1;
  } else {
    DecodeBinSymbol(MinContext);
    if (Broken) return -1;
  }
  RemoveSubrange();
  while (!FoundState) {
    Normalize();
    do {
      OrderFall++;
      MinContext = Suffix(MinContext);
      if (!ValidContext(MinContext)) return -1;
    } while (int(NumStats(MinContext)) == NumMasked);
    if (!DecodeSymbol2(MinContext)) return -1;
    RemoveSubrange();
  }
  int symbol = Sym(FoundState);
  if (!OrderFall && Succ(FoundState) > PText) {
    MinContext = MaxContext = Succ(FoundState);
  } else {
    UpdateModel();
    if (Broken) return -1;
    if (EscCount == 0) ClearMask();
  }
  Normalize();
  return symbol;
}
