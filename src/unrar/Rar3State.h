// The state of TRar3Unpacker, shared by its RAR 2.0 part (Rar20Unpack.cpp) and its RAR 2.9-4.x
// part (Rar3Unpack.cpp). Positions count bytes from the start of the solid set.
#pragma once
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "unrar/Rar3Bits.h"
#include "unrar/Rar3Unpack.h"
#include "unrar/RarFilters3.h"
#include "unrar/RarHuffman.h"
#include "unrar/RarPpmd.h"
#include "unrar/RarWindow.h"

// The longest copy one symbol makes: a PPMd match of 255 + 32 bytes.
constexpr uint32_t Rar3MaxMatch = 288;
// Tables take under 2 KB; they are read with at least this much in the buffer.
constexpr size_t Rar3TableReadAhead = 4096;

// Both LZ schemes: length slots (base and extra bits) and the eight short distances.
inline constexpr uint8_t Rar3LengthBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,   10,  12,  14,  16,  20,
                                               24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
inline constexpr uint8_t Rar3LengthBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                               2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
inline constexpr uint8_t Rar3ShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
inline constexpr uint8_t Rar3ShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

// Distance slots: four of 0 extra bits, two each of 1 to 15, fourteen of 16 and twelve of 18.
// RAR 2.0 has the first 48.
struct TRar3DistanceSlots {
  uint32_t Base[60] = {};
  uint8_t Bits[60] = {};
  constexpr TRar3DistanceSlots() {
    const uint8_t perLength[19] = {4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 14, 0, 12};
    uint32_t dist = 0;
    unsigned slot = 0;
    for (unsigned bits = 0; bits < 19; ++bits)
      for (unsigned k = 0; k < perLength[bits]; ++k, ++slot, dist += 1u << bits) {
        Base[slot] = dist;
        Bits[slot] = uint8_t(bits);
      }
  }
};
inline constexpr TRar3DistanceSlots Rar3Distances{};

struct TRar3Unpacker::TState {
  enum class TFamily { None, Rar20, Rar29 };

  // --- the window and the entry ---
  struct TFree {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t[], TFree> Window;
  uint64_t WinSize = 0;  // a power of two
  uint64_t UnpPos = 0, FlushedPos = 0, EntryStart = 0, EntryEnd = 0;
  TFamily Family = TFamily::None;
  bool Continuable = false;  // the last entry decoded whole, so a solid one may follow
  TRar3Input In;
  IUnpackSink* Sink = nullptr;

  // --- what both LZ schemes keep ---
  uint32_t OldDist[4] = {};
  uint32_t OldDistPtr = 0;  // RAR 2.0 keeps its old distances in a ring
  uint32_t LastDist = 0, LastLength = 0;

  // --- RAR 2.9-4.x ---
  TRarHuffman Main, Dist, LowDist, Rep;
  uint8_t OldTable[299 + 60 + 17 + 28] = {};
  bool TablesRead = false;
  uint32_t PrevLowDist = 0, LowDistRepCount = 0;
  bool PpmBlock = false;
  int PpmEsc = 2;
  TRarPpmd Ppm;

  // Filters: the programs defined since the last reset, and the blocks waiting for them.
  std::vector<TRar3Filter> Programs;
  std::vector<uint32_t> OldFilterLengths;
  uint32_t LastFilter = 0;
  struct TPending {
    uint64_t Start = 0;
    uint32_t Length = 0;
    TRar3Filter Filter = TRar3Filter::Unknown;
    TRar3FilterRegisters Regs;
  };
  std::deque<TPending> Pending;
  // The front filter's block as it leaves the window, and room for its output.
  std::unique_ptr<uint8_t[]> FilterData;
  uint32_t FilterFill = 0;
  uint64_t LastFilterAt = UINT64_MAX;  // where the last filter was defined, and how many since
  uint32_t FiltersAtPos = 0;

  // --- RAR 2.0 ---
  TRarHuffman Main20, Dist20, Rep20, Audio20[4];
  uint8_t OldTable20[257 * 4] = {};
  bool TablesRead20 = false;
  bool TailTablesFailed = false;  // the tables after an entry's data did not read: no solid entry may follow
  bool AudioBlock = false;
  uint32_t Channels = 1, CurChannel = 0;
  int ChannelDelta = 0;
  struct TAudio {
    int K1 = 0, K2 = 0, K3 = 0, K4 = 0, K5 = 0;
    int D1 = 0, D2 = 0, D3 = 0, D4 = 0;
    int LastDelta = 0;
    uint32_t Dif[11] = {};
    uint32_t ByteCount = 0;
    int LastChar = 0;
  };
  TAudio Audio[4];

  int Begin(const TRarEntryHeader& entry, bool& solid);
  // An empty file may have no packed data at all: then nothing is read and the set's state
  // stays as it was.
  int EmptyWithoutData(bool& empty);

  // Window and output.
  uint64_t FlushLimit() const { return FlushedPos + std::min<uint64_t>(WinSize - Rar3MaxMatch, UnpackChunk); }
  // The farthest a match may reach back from pos: the set's start, or a whole window.
  bool DistanceOk(uint64_t pos, uint64_t dist) const { return dist != 0 && dist <= pos && dist <= WinSize; }
  int Flush();
  // Before a run of LZ symbols: the buffer refilled, and the bit where the run must stop.
  int PrepareLzRun(uint64_t& bitLimit);
  int RunFilters();
  int EndFilters();

  // RAR 2.9-4.x.
  void ResetRar29();
  int Decode29(bool solid);
  int ReadTables29();
  int ReadEndOfBlock(bool& newFile);
  int Run29(uint64_t bitLimit, uint64_t outLimit, int& event);
  int RunPpm(uint64_t outLimit, int& event);
  int PpmEscape(int& event);
  int AtEntryEnd29(bool& done);
  int ReadFilterLz();
  int ReadFilterPpm();
  int AddFilter(uint8_t firstByte, const uint8_t* code, uint32_t size);
  int ResetFilters();

  // RAR 2.0.
  void ResetRar20();
  int Decode20(bool solid);
  int ReadTables20();
  int Run20(uint64_t bitLimit, uint64_t outLimit, int& event);
  uint8_t DecodeAudio(int delta);
};

