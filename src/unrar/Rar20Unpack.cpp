// RAR 2.0 (unpack versions 20 and 26): LZ blocks, and multimedia blocks that predict each
// channel's next sample from its last ones. The stream has no end marker: an entry ends at its
// unpacked size, and the tables of the next entry of a solid set may follow its data.
#include "unrar/Rar3State.h"
#include "unrar/unrar.h"

namespace {

constexpr unsigned MainCodes20 = 298, DistCodes20 = 48, RepCodes20 = 28, AudioCodes20 = 257, LevelCodes20 = 19;

enum { NoEvent = 0, NewTables };

}  // namespace

void TRar3Unpacker::TState::ResetRar20() {
  std::fill(std::begin(OldDist), std::end(OldDist), 0);
  OldDistPtr = LastDist = LastLength = 0;
  TablesRead20 = false;
  AudioBlock = false;
  ChannelDelta = 0;
  CurChannel = 0;
  Channels = 1;
  for (TAudio& a : Audio) a = TAudio{};
  std::fill(std::begin(OldTable20), std::end(OldTable20), 0);
}

int TRar3Unpacker::TState::ReadTables20() {
  if (int rc = In.Refill(Rar3TableReadAhead)) return rc;
  TRar3Bits& b = In.B;
  if (In.Overrun()) return ERAR_BAD_DATA;
  const uint32_t bitField = b.Peek16();
  AudioBlock = bitField & 0x8000;
  // Without this bit the lengths are new; with it they are changes to the previous ones.
  if (!(bitField & 0x4000)) std::fill(std::begin(OldTable20), std::end(OldTable20), 0);
  b.Skip(2);
  uint32_t tableSize;
  if (AudioBlock) {
    Channels = ((bitField >> 12) & 3) + 1;
    if (CurChannel >= Channels) CurChannel = 0;
    b.Skip(2);
    tableSize = AudioCodes20 * Channels;
  } else {
    tableSize = MainCodes20 + DistCodes20 + RepCodes20;
  }
  uint8_t levelLengths[LevelCodes20];
  for (unsigned i = 0; i < LevelCodes20; ++i) levelLengths[i] = uint8_t(b.Get(4));
  TRarHuffman level;
  if (!level.Build(levelLengths, LevelCodes20)) return ERAR_BAD_DATA;
  uint8_t table[sizeof OldTable20];
  for (uint32_t i = 0; i < tableSize;) {
    // Damaged data could otherwise run through the zeros behind the data.
    if (b.Pos > In.End) return ERAR_BAD_DATA;
    int number = level.Decode(b);
    if (number < 0) return ERAR_BAD_DATA;
    if (number < 16) {
      table[i] = uint8_t((number + OldTable20[i]) & 15);
      ++i;
    } else if (number == 16) {
      uint32_t n = b.Get(2) + 3;
      // Repeats the previous length, so it cannot come first.
      if (i == 0) return ERAR_BAD_DATA;
      for (; n > 0 && i < tableSize; --n, ++i) table[i] = table[i - 1];
    } else {
      uint32_t n = number == 17 ? b.Get(3) + 3 : b.Get(7) + 11;
      for (; n > 0 && i < tableSize; --n) table[i++] = 0;
    }
  }
  // As for RAR 2.9: tables cut off by the end of the data are none.
  TablesRead20 = false;
  if (In.Overrun()) return ERAR_BAD_DATA;
  bool built = true;
  if (AudioBlock) {
    for (uint32_t ch = 0; ch < Channels; ++ch) built &= Audio20[ch].Build(table + ch * AudioCodes20, AudioCodes20);
  } else {
    built = Main20.Build(table, MainCodes20) && Dist20.Build(table + MainCodes20, DistCodes20) &&
            Rep20.Build(table + MainCodes20 + DistCodes20, RepCodes20);
  }
  if (!built) return ERAR_BAD_DATA;
  TablesRead20 = true;
  std::memcpy(OldTable20, table, tableSize);
  return ERAR_SUCCESS;
}

uint8_t TRar3Unpacker::TState::DecodeAudio(int delta) {
  TAudio& v = Audio[CurChannel];
  v.ByteCount++;
  v.D4 = v.D3;
  v.D3 = v.D2;
  v.D2 = v.LastDelta - v.D1;
  v.D1 = v.LastDelta;
  int predicted = 8 * v.LastChar + v.K1 * v.D1 + v.K2 * v.D2 + v.K3 * v.D3 + v.K4 * v.D4 + v.K5 * ChannelDelta;
  predicted = (predicted >> 3) & 0xFF;
  uint32_t ch = uint32_t(predicted - delta);
  int d = int(int8_t(uint8_t(delta))) * 8;
  const int neighbours[5] = {v.D1, v.D2, v.D3, v.D4, ChannelDelta};
  v.Dif[0] += uint32_t(std::abs(d));
  for (int k = 0; k < 5; ++k) {
    v.Dif[1 + 2 * k] += uint32_t(std::abs(d - neighbours[k]));
    v.Dif[2 + 2 * k] += uint32_t(std::abs(d + neighbours[k]));
  }
  ChannelDelta = v.LastDelta = int(int8_t(uint8_t(ch - uint32_t(v.LastChar))));
  v.LastChar = int(ch);
  if ((v.ByteCount & 0x1F) == 0) {
    // Every 32 samples the weight whose error would have been smallest moves one step.
    uint32_t minDif = v.Dif[0], numMinDif = 0;
    v.Dif[0] = 0;
    for (uint32_t i = 1; i < 11; ++i) {
      if (v.Dif[i] < minDif) {
        minDif = v.Dif[i];
        numMinDif = i;
      }
      v.Dif[i] = 0;
    }
    if (numMinDif > 0) {
      int* weights[5] = {&v.K1, &v.K2, &v.K3, &v.K4, &v.K5};
      int& k = *weights[(numMinDif - 1) / 2];
      if (numMinDif & 1) {
        if (k >= -16) k--;
      } else {
        if (k < 16) k++;
      }
    }
  }
  return uint8_t(ch);
}

int TRar3Unpacker::TState::Run20(uint64_t bitLimit, uint64_t outLimit, int& event) {
  TRar3Bits b = In.B;
  uint8_t* const win = Window.get();
  const uint64_t mask = WinSize - 1;
  uint64_t pos = UnpPos;
  int rc = ERAR_SUCCESS;
  event = NoEvent;
  while (b.BitPosition() < bitLimit && pos < outLimit) {
    if (AudioBlock) {
      int symbol = Audio20[CurChannel].Decode(b);
      if (symbol < 0) {
        rc = ERAR_BAD_DATA;
        break;
      }
      if (symbol == 256) {
        event = NewTables;
        break;
      }
      win[pos & mask] = DecodeAudio(symbol);
      ++pos;
      if (++CurChannel == Channels) CurChannel = 0;
      continue;
    }
    int symbol = Main20.Decode(b);
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
    if (symbol > 269) {
      symbol -= 270;
      length = Rar3LengthBase[symbol] + 3u;
      if (unsigned bits = Rar3LengthBits[symbol]) length += b.Get(bits);
      int slot = Dist20.Decode(b);
      if (slot < 0) {
        rc = ERAR_BAD_DATA;
        break;
      }
      dist = Rar3Distances.Base[slot] + 1;
      if (unsigned bits = Rar3Distances.Bits[slot]) dist += b.Get(bits);
      if (dist >= 0x2000) {
        length++;
        if (dist >= 0x40000) length++;
      }
    } else if (symbol == 269) {
      event = NewTables;
      break;
    } else if (symbol == 256) {
      length = LastLength;
      dist = LastDist;
    } else if (symbol < 261) {
      dist = OldDist[(OldDistPtr - uint32_t(symbol - 256)) & 3];
      int slot = Rep20.Decode(b);
      if (slot < 0) {
        rc = ERAR_BAD_DATA;
        break;
      }
      length = Rar3LengthBase[slot] + 2u;
      if (unsigned bits = Rar3LengthBits[slot]) length += b.Get(bits);
      // Far matches are worth less, so their lengths count from a higher base.
      if (dist >= 0x101) {
        length++;
        if (dist >= 0x2000) {
          length++;
          if (dist >= 0x40000) length++;
        }
      }
    } else {
      symbol -= 261;
      dist = Rar3ShortBase[symbol] + 1u;
      if (unsigned bits = Rar3ShortBits[symbol]) dist += b.Get(bits);
      length = 2;
    }
    LastDist = OldDist[OldDistPtr++ & 3] = dist;
    LastLength = length;
    if (length == 0) continue;  // a repeat before any match
    // Nothing before the set's first byte can be referred to, and no match reaches past the
    // entry's end.
    if (!DistanceOk(pos, dist) || pos + length > EntryEnd) {
      rc = ERAR_BAD_DATA;
      break;
    }
    RarCopyMatch(win, mask, pos, length, dist);
    pos += length;
  }
  In.B = b;
  UnpPos = pos;
  return rc;
}

int TRar3Unpacker::TState::Decode20(bool solid) {
  bool empty = false;
  if (int rc = EmptyWithoutData(empty)) return rc;
  if (empty) return ERAR_SUCCESS;
  if (!solid || !TablesRead20)
    if (int rc = ReadTables20()) return rc;
  while (UnpPos < EntryEnd) {
    if (UnpPos >= FlushLimit()) {
      if (int rc = Flush()) return rc;
      continue;
    }
    const uint64_t outLimit = std::min(EntryEnd, FlushLimit());
    uint64_t limit = 0;
    if (int rc = PrepareLzRun(limit)) return rc;
    int event = NoEvent;
    int rc = Run20(limit, outLimit, event);
    if (rc == ERAR_SUCCESS && In.Overrun()) rc = ERAR_BAD_DATA;
    if (rc) return rc;
    if (event == NewTables)
      if (int rc2 = ReadTables20()) return rc2;
  }
  // The next entry's tables, when the data goes on: a failure there spoils only the next entry.
  if (int rc = In.Refill(5)) return rc;
  if (In.Buffered() >= 5) {
    int symbol = AudioBlock ? Audio20[CurChannel].Decode(In.B) : Main20.Decode(In.B);
    if (symbol == (AudioBlock ? 256 : 269) && ReadTables20() != ERAR_SUCCESS) TailTablesFailed = true;
  }
  return Flush();
}
