#include "Rar3StreamWriter.h"

#include <algorithm>
#include <stdexcept>

namespace {

const uint8_t LDecode[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
                             24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
const uint8_t LBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
const uint8_t SDDecode[8] = {0, 4, 8, 16, 32, 64, 128, 192};
const uint8_t SDBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

// Distance slots as the format lists them: 4 without extra bits, then two per bit count up to
// 15, 14 with 16 bits and (RAR 2.9 only) 12 with 18.
struct TSlots {
  uint32_t Base[60];
  uint8_t Bits[60];
  TSlots() {
    const uint8_t counts[19] = {4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 14, 0, 12};
    unsigned slot = 0;
    uint32_t dist = 0;
    for (unsigned bits = 0; bits < 19; ++bits)
      for (unsigned k = 0; k < counts[bits]; ++k, ++slot, dist += 1u << bits) {
        Base[slot] = dist;
        Bits[slot] = uint8_t(bits);
      }
  }
  unsigned SlotOf(uint32_t distMinusOne) const {
    unsigned s = 0;
    while (s + 1 < 60 && Base[s + 1] <= distMinusOne) ++s;
    return s;
  }
};
const TSlots Slots;

unsigned LengthSlot(uint32_t value) {
  if (value > 255) throw std::logic_error("length out of range");
  unsigned s = 0;
  while (s + 1 < 28 && LDecode[s + 1] <= value) ++s;
  return s;
}

uint32_t Random(std::mt19937& rng, uint32_t lo, uint32_t hi) {
  return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
}

// Writes table lengths with a level code: literal values (differences to the old table when
// keepOld), runs of the previous length and runs of zeros. RAR 2.0 has one repeat code (16,
// 2 bits) and two zero codes (17, 18); RAR 2.9 two of each (16/17 repeat, 18/19 zeros).
void PutLengths(TBitWriter& w, const TTestCode& level, const std::vector<uint8_t>& table,
                const std::vector<uint8_t>& old, bool keepOld, bool rar29) {
  for (size_t i = 0; i < table.size();) {
    size_t run = 1;
    while (i + run < table.size() && table[i + run] == table[i] && run < 138) ++run;
    if (table[i] == 0 && run >= 3) {
      size_t n = std::min<size_t>(run, 138);
      if (n >= 11) {
        level.Put(w, rar29 ? 19 : 18);
        w.Put(uint32_t(n - 11), 7);
      } else {
        level.Put(w, rar29 ? 18 : 17);
        w.Put(uint32_t(n - 3), 3);
      }
      i += n;
      continue;
    }
    if (i > 0 && table[i - 1] == table[i]) {
      size_t same = 0;
      while (i + same < table.size() && table[i + same] == table[i - 1]) ++same;
      if (!rar29 && same >= 3) {
        size_t n = std::min<size_t>(same, 6);
        level.Put(w, 16);
        w.Put(uint32_t(n - 3), 2);
        i += n;
        continue;
      }
      if (rar29 && same >= 3) {
        size_t n = std::min<size_t>(same, 138);
        if (n >= 11) {
          level.Put(w, 17);
          w.Put(uint32_t(n - 11), 7);
        } else {
          n = std::min<size_t>(n, 10);
          level.Put(w, 16);
          w.Put(uint32_t(n - 3), 3);
        }
        i += n;
        continue;
      }
    }
    level.Put(w, keepOld ? unsigned((table[i] - old[i]) & 15) : table[i]);
    ++i;
  }
}

}  // namespace

TTestCode::TTestCode(std::vector<uint8_t> lengths) : Lengths(std::move(lengths)), Codes(Lengths.size()) {
  uint32_t next[17] = {}, count[17] = {};
  for (uint8_t l : Lengths) count[l]++;
  count[0] = 0;
  uint32_t code = 0;
  for (unsigned n = 1; n <= 16; ++n) {
    code = (code + count[n - 1]) << 1;
    next[n] = code;
  }
  for (size_t s = 0; s < Lengths.size(); ++s)
    if (Lengths[s]) Codes[s] = next[Lengths[s]]++;
}

TTestCode TTestCode::Complete(unsigned count, std::mt19937& rng) {
  unsigned k = 1;
  while ((1u << k) < count) ++k;
  // 2^k - count codes one bit shorter, the rest k bits: exactly fills the code space.
  unsigned shorter = (1u << k) - count;
  std::vector<uint8_t> lengths(count, uint8_t(k));
  for (unsigned i = 0; i < shorter; ++i) lengths[i] = uint8_t(k - 1);
  std::shuffle(lengths.begin(), lengths.end(), rng);
  return TTestCode(lengths);
}

void TTestCode::Put(TBitWriter& w, unsigned symbol) const {
  if (symbol >= Lengths.size() || Lengths[symbol] == 0) throw std::logic_error("symbol without a code");
  w.Put(Codes[symbol], Lengths[symbol]);
}

// --- RAR 2.0 ---

void TRar20StreamWriter::PutTables(TBitWriter& w, bool audio, unsigned channels, bool keepOld) {
  w.Put(audio, 1);
  w.Put(keepOld, 1);
  if (audio) w.Put(channels - 1, 2);
  if (!keepOld) std::fill(Old.begin(), Old.end(), 0);
  Codes.clear();
  std::vector<uint8_t> table;
  const unsigned sizes[3] = {298, 48, 28};
  for (unsigned i = 0; i < (audio ? channels : 3); ++i) {
    Codes.push_back(TTestCode::Complete(audio ? 257 : sizes[i], Rng));
    table.insert(table.end(), Codes.back().Lengths.begin(), Codes.back().Lengths.end());
  }
  TTestCode level = TTestCode::Complete(19, Rng);
  for (uint8_t l : level.Lengths) w.Put(l, 4);
  PutLengths(w, level, table, Old, keepOld, false);
  std::copy(table.begin(), table.end(), Old.begin());
  AudioMode = audio;
  if (audio) {
    Channels = channels;
    if (CurChannel >= Channels) CurChannel = 0;
  }
  HaveTables = true;
}

void TRar20StreamWriter::PutSymbols(TBitWriter& w, const TStreamOptions& o, uint64_t until) {
  while (Pos < until) {
    if (AudioMode) {
      Codes[CurChannel].Put(w, Random(Rng, 0, 255));
      CurChannel = (CurChannel + 1) % Channels;
      ++Pos;
      Written.Unknown(1);
      continue;
    }
    const TTestCode &main = Codes[0], &dist = Codes[1], &rep = Codes[2];
    const uint64_t left = until - Pos;
    uint32_t length = 0, distance = 0;
    switch (Random(Rng, 0, 7)) {
      case 0:  // repeat the last match
        if (!LastLength || LastLength > left) break;
        main.Put(w, 256);
        length = LastLength;
        distance = LastDist;
        break;
      case 1: {  // one of the last four distances
        uint32_t k = Random(Rng, 1, 4);
        distance = OldDist[(OldDistPtr - k) & 3];
        uint32_t bonus = (distance >= 0x101) + (distance >= 0x2000) + (distance >= 0x40000);
        if (!distance || distance > Pos || left < 2 + bonus) break;
        length = Random(Rng, 2 + bonus, uint32_t(std::min<uint64_t>(left, 257 + bonus)));
        main.Put(w, 256 + k);
        unsigned slot = LengthSlot(length - 2 - bonus);
        rep.Put(w, slot);
        if (LBits[slot]) w.Put(length - 2 - bonus - LDecode[slot], LBits[slot]);
        break;
      }
      case 2: {  // a short distance
        unsigned s = Random(Rng, 0, 7);
        uint32_t d = SDDecode[s] + 1 + Random(Rng, 0, (1u << SDBits[s]) - 1);
        if (d > Pos || left < 2) break;
        main.Put(w, 261 + s);
        w.Put(d - 1 - SDDecode[s], SDBits[s]);
        length = 2;
        distance = d;
        break;
      }
      case 3:
      case 4: {  // a long match, near or far
        if (Pos == 0) break;
        uint32_t far = uint32_t(std::min<uint64_t>(Pos, 0x100000));
        uint32_t d = Random(Rng, 0, 3) ? Random(Rng, 1, std::min<uint32_t>(far, 300)) : Random(Rng, 1, far);
        uint32_t bonus = (d >= 0x2000) + (d >= 0x40000);
        if (left < 3 + bonus) break;
        length = Random(Rng, 3 + bonus, uint32_t(std::min<uint64_t>(left, 258 + bonus)));
        unsigned slot = LengthSlot(length - 3 - bonus);
        main.Put(w, 270 + slot);
        if (LBits[slot]) w.Put(length - 3 - bonus - LDecode[slot], LBits[slot]);
        unsigned ds = Slots.SlotOf(d - 1);
        dist.Put(w, ds);
        if (Slots.Bits[ds]) w.Put(d - 1 - Slots.Base[ds], Slots.Bits[ds]);
        distance = d;
        break;
      }
      default: {
        uint32_t byte = Random(Rng, 0, o.LiteralAlphabet - 1);
        main.Put(w, byte);
        Written.Literal(uint8_t(byte));
        ++Pos;
        break;
      }
    }
    if (length) {
      LastDist = OldDist[OldDistPtr++ & 3] = distance;
      LastLength = length;
      Written.Copy(length, distance);
      Pos += length;
    }
  }
}

std::string TRar20StreamWriter::Entry(const TStreamOptions& o, bool tailTables) {
  TBitWriter w;
  const uint64_t end = Pos + o.Size;
  if (!HaveTables) PutTables(w, o.Audio, o.Channels, false);
  for (unsigned block = 0; block <= o.TableChanges; ++block) {
    uint64_t until = block == o.TableChanges ? end : Pos + (end - Pos) / (o.TableChanges + 1 - block);
    PutSymbols(w, o, until);
    if (block == o.TableChanges) break;
    Codes[AudioMode ? CurChannel : 0].Put(w, AudioMode ? 256 : 269);
    PutTables(w, o.Audio && !AudioMode, o.Channels, o.KeepOldTables);
  }
  if (tailTables) {
    Codes[AudioMode ? CurChannel : 0].Put(w, AudioMode ? 256 : 269);
    PutTables(w, false, 1, o.KeepOldTables);
  }
  return w.Bytes;
}

// --- RAR 2.9 ---

void TRar29StreamWriter::PutTables(TBitWriter& w, bool keepOld) {
  w.Align();
  w.Put(0, 1);  // not PPMd
  w.Put(keepOld, 1);
  if (!keepOld) std::fill(Old.begin(), Old.end(), 0);
  Codes.clear();
  std::vector<uint8_t> table;
  for (unsigned count : {299u, 60u, 17u, 28u}) {
    Codes.push_back(TTestCode::Complete(count, Rng));
    table.insert(table.end(), Codes.back().Lengths.begin(), Codes.back().Lengths.end());
  }
  TTestCode level = TTestCode::Complete(20, Rng);
  for (uint8_t l : level.Lengths) {
    w.Put(l, 4);
    if (l == 15) w.Put(0, 4);  // 15 is the escape for runs of zeros: "15, 0" means 15 itself
  }
  PutLengths(w, level, table, Old, keepOld, true);
  Old = table;
  PrevLowDist = LowDistRepCount = 0;
  HaveTables = true;
}

void TRar29StreamWriter::PutLiteral(TBitWriter& w, uint8_t byte) {
  Codes[0].Put(w, byte);
  Written.Literal(byte);
  ++Pos;
}

void TRar29StreamWriter::PutLengthSlot(TBitWriter& w, const TTestCode& code, uint32_t value) {
  unsigned slot = LengthSlot(value);
  code.Put(w, slot);
  if (LBits[slot]) w.Put(value - LDecode[slot], LBits[slot]);
}

void TRar29StreamWriter::PutMatch(TBitWriter& w, uint32_t length, uint32_t dist) {
  uint32_t bonus = (dist >= 0x2000) + (dist >= 0x40000);
  unsigned slot = LengthSlot(length - 3 - bonus);
  Codes[0].Put(w, 271 + slot);
  if (LBits[slot]) w.Put(length - 3 - bonus - LDecode[slot], LBits[slot]);
  unsigned ds = Slots.SlotOf(dist - 1);
  uint32_t extra = dist - 1 - Slots.Base[ds];
  unsigned bits = Slots.Bits[ds];
  Codes[1].Put(w, ds);
  if (ds > 9) {
    // The low four bits come from their own table, or from the previous ones during a run.
    if (bits > 4) w.Put(extra >> 4, bits - 4);
    if (LowDistRepCount > 0) {
      if ((extra & 15) != PrevLowDist) throw std::logic_error("low distance bits fixed by a run");
      LowDistRepCount--;
    } else if ((extra & 15) == PrevLowDist && LowDistRuns && Random(Rng, 0, 3) == 0) {
      Codes[2].Put(w, 16);
      LowDistRepCount = 15;
    } else {
      Codes[2].Put(w, extra & 15);
      PrevLowDist = extra & 15;
    }
  } else if (bits) {
    w.Put(extra, bits);
  }
  InsertOldDist(dist);
  LastLength = length;
  Written.Copy(length, dist);
  Pos += length;
}

void TRar29StreamWriter::InsertOldDist(uint32_t dist) {
  for (unsigned i = 3; i > 0; --i) OldDist[i] = OldDist[i - 1];
  OldDist[0] = dist;
}

void TRar29StreamWriter::PutEndOfBlock(TBitWriter& w, bool newFile, bool newTables) {
  Codes[0].Put(w, 256);
  if (!newFile) {
    w.Put(1, 1);
    PutTables(w, true);
    return;
  }
  w.Put(0, 1);
  w.Put(newTables, 1);
}

void TRar29StreamWriter::PutFilterRecord(TBitWriter& w, const std::vector<uint8_t>& record) {
  Codes[0].Put(w, 257);
  for (uint8_t b : record) w.Put(b, 8);
}

void TRar29StreamWriter::PutSymbols(TBitWriter& w, const TStreamOptions& o, uint64_t until) {
  while (Pos < until) {
    const uint64_t left = until - Pos;
    switch (Random(Rng, 0, 7)) {
      case 0:  // repeat the last match
        if (!LastLength || LastLength > left || !OldDist[0]) break;
        Codes[0].Put(w, 258);
        Written.Copy(LastLength, OldDist[0]);
        Pos += LastLength;
        break;
      case 1: {  // one of the last four distances, which moves to the front
        unsigned k = Random(Rng, 0, 3);
        uint32_t d = OldDist[k];
        if (!d || d > Pos || left < 2) break;
        uint32_t length = Random(Rng, 2, uint32_t(std::min<uint64_t>(left, 257)));
        Codes[0].Put(w, 259 + k);
        PutLengthSlot(w, Codes[3], length - 2);
        for (unsigned i = k; i > 0; --i) OldDist[i] = OldDist[i - 1];
        OldDist[0] = d;
        LastLength = length;
        Written.Copy(length, d);
        Pos += length;
        break;
      }
      case 2: {  // a short distance
        unsigned s = Random(Rng, 0, 7);
        uint32_t d = SDDecode[s] + 1 + Random(Rng, 0, (1u << SDBits[s]) - 1);
        if (d > Pos || left < 2) break;
        Codes[0].Put(w, 263 + s);
        w.Put(d - 1 - SDDecode[s], SDBits[s]);
        InsertOldDist(d);
        LastLength = 2;
        Written.Copy(2, d);
        Pos += 2;
        break;
      }
      case 3:
      case 4: {  // a long match, near or far
        if (Pos == 0) break;
        uint32_t far = uint32_t(std::min<uint64_t>(Pos, 0x400000));
        uint32_t d = Random(Rng, 0, 3) ? Random(Rng, 1, std::min<uint32_t>(far, 600)) : Random(Rng, 1, far);
        unsigned ds = Slots.SlotOf(d - 1);
        if (ds > 9 && LowDistRepCount > 0) {
          // During a run the low bits are the previous ones.
          d = ((d - 1 - Slots.Base[ds]) & ~15u) + PrevLowDist + Slots.Base[ds] + 1;
          if (d > Pos) break;
        }
        uint32_t bonus = (d >= 0x2000) + (d >= 0x40000);
        if (left < 3 + bonus) break;
        PutMatch(w, Random(Rng, 3 + bonus, uint32_t(std::min<uint64_t>(left, 258 + bonus))), d);
        break;
      }
      default:
        PutLiteral(w, uint8_t(Random(Rng, 0, o.LiteralAlphabet - 1)));
        break;
    }
  }
}

std::string TRar29StreamWriter::Entry(const TStreamOptions& o, bool nextTables) {
  LowDistRuns = o.LowDistRuns;
  TBitWriter w;
  const uint64_t end = Pos + o.Size;
  if (!HaveTables) PutTables(w, false);
  for (unsigned block = 0; block <= o.TableChanges; ++block) {
    uint64_t until = block == o.TableChanges ? end : Pos + (end - Pos) / (o.TableChanges + 1 - block);
    PutSymbols(w, o, until);
    if (block < o.TableChanges) PutEndOfBlock(w, false, false);
  }
  PutEndOfBlock(w, true, nextTables);
  // With "tables come next", the next entry's data starts with them.
  if (nextTables) HaveTables = false;
  return w.Bytes;
}
