#include "Rar5Writer.h"

#include <blake2.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <queue>
#include <stdexcept>

namespace {

constexpr unsigned MainCodes = 306, DistCodes = 64, AlignCodes = 16, LengthCodes = 44, LevelCodes = 20;
constexpr unsigned TableCodes = MainCodes + DistCodes + AlignCodes + LengthCodes;
constexpr unsigned MaxCodeLength = 15;
constexpr uint32_t MaxStoredLength = 4097;  // length slot 43 with all its extra bits

void Put32(std::string& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b += char(uint8_t(v >> (8 * i)));
}

// MSB-first, as the decoder reads.
class TBitWriter {
 public:
  void Put(uint32_t value, unsigned bits) {
    if (bits == 0) return;
    Acc = (Acc << bits) | (value & ((bits == 32 ? 0 : (1u << bits)) - 1u));
    Count += bits;
    while (Count >= 8) {
      Count -= 8;
      Out += char(uint8_t(Acc >> Count));
    }
    Acc &= (uint64_t(1) << Count) - 1;
  }
  uint64_t Bits() const { return uint64_t(Out.size()) * 8 + Count; }
  std::string Finish() {
    if (Count) Out += char(uint8_t(Acc << (8 - Count)));
    Count = 0;
    Acc = 0;
    return std::move(Out);
  }

 private:
  std::string Out;
  uint64_t Acc = 0;
  unsigned Count = 0;
};

// Code lengths of at most maxLength bits from symbol counts: Huffman's, with the counts
// flattened until the deepest code fits.
std::vector<uint8_t> CodeLengths(std::vector<uint64_t> counts, unsigned maxLength) {
  std::vector<uint8_t> lengths(counts.size(), 0);
  std::vector<size_t> used;
  for (size_t i = 0; i < counts.size(); ++i)
    if (counts[i]) used.push_back(i);
  if (used.empty()) return lengths;
  if (used.size() == 1) {
    lengths[used[0]] = 1;
    return lengths;
  }
  for (;;) {
    struct TNode {
      uint64_t Weight;
      int Left, Right;
    };
    std::vector<TNode> nodes;
    using TItem = std::pair<uint64_t, int>;
    std::priority_queue<TItem, std::vector<TItem>, std::greater<TItem>> queue;
    for (size_t s : used) {
      nodes.push_back({counts[s], -1, int(s)});
      queue.push({counts[s], int(nodes.size() - 1)});
    }
    while (queue.size() > 1) {
      auto a = queue.top();
      queue.pop();
      auto b = queue.top();
      queue.pop();
      nodes.push_back({a.first + b.first, a.second, b.second});
      queue.push({a.first + b.first, int(nodes.size() - 1)});
    }
    unsigned deepest = 0;
    std::vector<std::pair<int, unsigned>> stack = {{queue.top().second, 0}};
    while (!stack.empty()) {
      auto [n, depth] = stack.back();
      stack.pop_back();
      if (nodes[size_t(n)].Left < 0) {
        lengths[size_t(nodes[size_t(n)].Right)] = uint8_t(std::max(depth, 1u));
        deepest = std::max(deepest, depth);
      } else {
        stack.push_back({nodes[size_t(n)].Left, depth + 1});
        stack.push_back({nodes[size_t(n)].Right, depth + 1});
      }
    }
    if (deepest <= maxLength) return lengths;
    for (size_t s : used) counts[s] = (counts[s] >> 1) | 1;
  }
}

// Canonical codes for lengths, assigned as the decoder does.
std::vector<uint32_t> CodesOf(const std::vector<uint8_t>& lengths) {
  uint32_t perLength[MaxCodeLength + 1] = {};
  for (uint8_t l : lengths) perLength[l]++;
  perLength[0] = 0;
  uint32_t next[MaxCodeLength + 2] = {};
  uint32_t code = 0;
  for (unsigned n = 1; n <= MaxCodeLength; ++n) {
    next[n] = code;
    code = (code + perLength[n]) << 1;
  }
  std::vector<uint32_t> codes(lengths.size(), 0);
  for (size_t i = 0; i < lengths.size(); ++i)
    if (lengths[i]) codes[i] = next[lengths[i]]++;
  return codes;
}

struct TCode {
  std::vector<uint8_t> Lengths;
  std::vector<uint32_t> Codes;
  void Build(const std::vector<uint64_t>& counts) {
    Lengths = CodeLengths(counts, MaxCodeLength);
    Codes = CodesOf(Lengths);
  }
  void Put(TBitWriter& w, unsigned symbol) const {
    if (Lengths[symbol] == 0) throw std::logic_error("symbol without a code");
    w.Put(Codes[symbol], Lengths[symbol]);
  }
};

unsigned Bonus(uint64_t distance) {
  return (distance > 0x100) + (distance > 0x2000) + (distance > 0x40000);
}

// Length slot and its extra bits for a stored length of 2..4097.
void LengthSlot(uint32_t length, unsigned& slot, unsigned& bits, uint32_t& extra) {
  uint32_t v = length - 2;
  if (v < 8) {
    slot = v;
    bits = 0;
    extra = 0;
    return;
  }
  unsigned top = 31 - unsigned(__builtin_clz(v));
  bits = top - 2;
  slot = 4 * (bits + 1) + ((v >> bits) & 3);
  extra = v - ((4 | (slot & 3)) << bits);
}

void DistanceSlot(uint64_t distance, unsigned& slot, unsigned& bits, uint64_t& extra) {
  uint64_t d = distance - 1;
  if (d < 4) {
    slot = unsigned(d);
    bits = 0;
    extra = 0;
    return;
  }
  unsigned top = 63 - unsigned(__builtin_clzll(d));
  bits = top - 1;
  slot = 2 * (bits + 1) + unsigned((d >> bits) & 1);
  extra = d - (uint64_t(2 | (slot & 1)) << bits);
}

struct TTables {
  TCode Main, Dist, Align, Length;
};

void Count(const TRar5Symbol& s, std::vector<uint64_t> (&c)[4]) {
  unsigned slot = 0, bits = 0;
  switch (s.Kind) {
    case TRar5Symbol::Literal:
      c[0][s.Value]++;
      break;
    case TRar5Symbol::Filter:
      c[0][256]++;
      break;
    case TRar5Symbol::Last:
      c[0][257]++;
      break;
    case TRar5Symbol::Repeat: {
      uint32_t extra = 0;
      c[0][258 + s.Value]++;
      LengthSlot(s.Length, slot, bits, extra);
      c[3][slot]++;
      break;
    }
    case TRar5Symbol::Match: {
      uint32_t extra = 0;
      LengthSlot(s.Length - Bonus(s.Distance), slot, bits, extra);
      c[0][262 + slot]++;
      uint64_t dextra = 0;
      DistanceSlot(s.Distance, slot, bits, dextra);
      c[1][slot]++;
      if (bits >= 4) c[2][dextra & 15]++;
      break;
    }
  }
}

void PutFilterNumber(TBitWriter& w, uint64_t value) {
  unsigned bytes = value < 0x100 ? 1 : value < 0x10000 ? 2 : value < 0x1000000 ? 3 : 4;
  w.Put(bytes - 1, 2);
  for (unsigned i = 0; i < bytes; ++i) w.Put(uint32_t(value >> (8 * i)) & 0xFF, 8);
}

void PutSymbol(TBitWriter& w, const TTables& t, const TRar5Symbol& s) {
  unsigned slot = 0, bits = 0;
  uint32_t extra = 0;
  switch (s.Kind) {
    case TRar5Symbol::Literal:
      t.Main.Put(w, s.Value);
      return;
    case TRar5Symbol::Filter:
      t.Main.Put(w, 256);
      PutFilterNumber(w, s.Distance);
      PutFilterNumber(w, s.Length);
      w.Put(s.Value, 3);
      if (s.Value == 0) w.Put(s.Channels - 1u, 5);
      return;
    case TRar5Symbol::Last:
      t.Main.Put(w, 257);
      return;
    case TRar5Symbol::Repeat:
      t.Main.Put(w, 258u + s.Value);
      LengthSlot(s.Length, slot, bits, extra);
      t.Length.Put(w, slot);
      w.Put(extra, bits);
      return;
    case TRar5Symbol::Match: {
      LengthSlot(s.Length - Bonus(s.Distance), slot, bits, extra);
      t.Main.Put(w, 262 + slot);
      w.Put(extra, bits);
      uint64_t dextra = 0;
      DistanceSlot(s.Distance, slot, bits, dextra);
      t.Dist.Put(w, slot);
      if (bits >= 4) {
        w.Put(uint32_t(dextra >> 4), bits - 4);
        t.Align.Put(w, unsigned(dextra & 15));
      } else {
        w.Put(uint32_t(dextra), bits);
      }
      return;
    }
  }
}

// The table lengths with the escapes for repeats (16, 17) and runs of zeros (18, 19).
struct TLevelItem {
  unsigned Symbol, Bits;
  uint32_t Extra;
};

std::vector<TLevelItem> LevelItems(const uint8_t* lengths) {
  std::vector<TLevelItem> items;
  for (unsigned i = 0; i < TableCodes;) {
    unsigned run = 1;
    while (i + run < TableCodes && lengths[i + run] == lengths[i]) ++run;
    if (lengths[i] == 0 && run >= 3) {
      run = std::min(run, 138u);
      if (run >= 11) items.push_back({19, 7, run - 11});
      else items.push_back({18, 3, run - 3});
      i += run;
    } else if (i > 0 && lengths[i] == lengths[i - 1] && run >= 3) {
      run = std::min(run, 138u);
      if (run >= 11) items.push_back({17, 7, run - 11});
      else items.push_back({16, 3, run - 3});
      i += run;
    } else {
      items.push_back({lengths[i], 0, 0});
      ++i;
    }
  }
  return items;
}

void PutTables(TBitWriter& w, const TTables& t) {
  uint8_t lengths[TableCodes];
  std::copy(t.Main.Lengths.begin(), t.Main.Lengths.end(), lengths);
  std::copy(t.Dist.Lengths.begin(), t.Dist.Lengths.end(), lengths + MainCodes);
  std::copy(t.Align.Lengths.begin(), t.Align.Lengths.end(), lengths + MainCodes + DistCodes);
  std::copy(t.Length.Lengths.begin(), t.Length.Lengths.end(), lengths + MainCodes + DistCodes + AlignCodes);
  std::vector<TLevelItem> items = LevelItems(lengths);
  std::vector<uint64_t> counts(LevelCodes, 0);
  for (const auto& item : items) counts[item.Symbol]++;
  TCode level;
  level.Build(counts);
  // The level code's own lengths: 4 bits each, 15 escaped, runs of zeros shortened.
  for (unsigned i = 0; i < LevelCodes;) {
    uint8_t l = level.Lengths[i];
    if (l == 15) {
      w.Put(15, 4);
      w.Put(0, 4);
      ++i;
      continue;
    }
    unsigned run = 0;
    while (l == 0 && i + run < LevelCodes && level.Lengths[i + run] == 0 && run < 17) ++run;
    if (run >= 3) {
      w.Put(15, 4);
      w.Put(run - 2, 4);
      i += run;
      continue;
    }
    w.Put(l, 4);
    ++i;
  }
  for (const auto& item : items) {
    level.Put(w, item.Symbol);
    w.Put(item.Extra, item.Bits);
  }
}

TTables TablesFor(const TRar5Symbol* begin, const TRar5Symbol* end) {
  std::vector<uint64_t> c[4] = {std::vector<uint64_t>(MainCodes), std::vector<uint64_t>(DistCodes),
                                std::vector<uint64_t>(AlignCodes), std::vector<uint64_t>(LengthCodes)};
  for (const auto* s = begin; s != end; ++s) Count(*s, c);
  TTables t;
  t.Main.Build(c[0]);
  t.Dist.Build(c[1]);
  t.Align.Build(c[2]);
  t.Length.Build(c[3]);
  return t;
}

std::string BlockOf(const TRar5Symbol* begin, const TRar5Symbol* end, const TTables& tables, bool withTables,
                    bool last) {
  TBitWriter w;
  if (withTables) PutTables(w, tables);
  for (const auto* s = begin; s != end; ++s) PutSymbol(w, tables, *s);
  uint64_t bits = w.Bits();
  std::string data = w.Finish();
  if (data.size() >= (1u << 24)) throw std::logic_error("block too big");
  unsigned sizeBytes = data.size() < 0x100 ? 1 : data.size() < 0x10000 ? 2 : 3;
  unsigned finalBits = data.empty() ? 1 : unsigned(bits - (data.size() - 1) * 8);
  uint8_t flags = uint8_t((finalBits - 1) | ((sizeBytes - 1) << 3) | (last ? 0x40 : 0) | (withTables ? 0x80 : 0));
  std::string block;
  block += char(flags);
  uint8_t check = uint8_t(0x5A ^ flags);
  std::string size;
  for (unsigned i = 0; i < sizeBytes; ++i) {
    size += char(uint8_t(data.size() >> (8 * i)));
    check ^= uint8_t(data.size() >> (8 * i));
  }
  block += char(check);
  block += size;
  return block + data;
}

// Filters in the forward direction, the inverses of what the decoder applies.
void FilterForward(TRar5Filter filter, unsigned channels, std::string& data, uint32_t fileOffset) {
  auto* d = reinterpret_cast<uint8_t*>(data.data());
  uint32_t size = uint32_t(data.size());
  switch (filter) {
    case TRar5Filter::None:
      return;
    case TRar5Filter::Delta: {
      std::string out;
      out.reserve(size);
      for (unsigned c = 0; c < channels; ++c) {
        uint8_t previous = 0;
        for (uint32_t i = c; i < size; i += channels) {
          out += char(uint8_t(previous - d[i]));
          previous = d[i];
        }
      }
      data = out;
      return;
    }
    case TRar5Filter::E8:
    case TRar5Filter::E8E9: {
      constexpr int64_t Space = 0x1000000;
      for (uint32_t pos = 0; pos + 4 < size;) {
        uint8_t op = d[pos++];
        if (op != 0xE8 && !(filter == TRar5Filter::E8E9 && op == 0xE9)) continue;
        int64_t offset = (pos + fileOffset) % Space;
        int32_t rel = int32_t(uint32_t(d[pos]) | uint32_t(d[pos + 1]) << 8 | uint32_t(d[pos + 2]) << 16 |
                              uint32_t(d[pos + 3]) << 24);
        int64_t stored = rel;
        if (rel >= -offset && rel < Space - offset) stored = rel + offset;
        else if (rel >= Space - offset && rel < Space) stored = rel - Space;
        for (int k = 0; k < 4; ++k) d[pos + uint32_t(k)] = uint8_t(uint64_t(stored) >> (8 * k));
        pos += 4;
      }
      return;
    }
    case TRar5Filter::Arm:
      for (uint32_t pos = 0; pos + 3 < size; pos += 4) {
        if (d[pos + 3] != 0xEB) continue;
        uint32_t offset = uint32_t(d[pos]) | uint32_t(d[pos + 1]) << 8 | uint32_t(d[pos + 2]) << 16;
        offset += (fileOffset + pos) / 4;
        d[pos] = uint8_t(offset);
        d[pos + 1] = uint8_t(offset >> 8);
        d[pos + 2] = uint8_t(offset >> 16);
      }
      return;
  }
}

uint8_t FilterCode(TRar5Filter f) {
  switch (f) {
    case TRar5Filter::Delta: return 0;
    case TRar5Filter::E8: return 1;
    case TRar5Filter::E8E9: return 2;
    default: return 3;
  }
}

// Greedy LZ over a solid stream: hash chains over the last window's worth of data, the
// four repeated distances tried first.
class TLzEncoder {
 public:
  // window: how far back matches are looked for, a power of two no larger than the dictionary.
  TLzEncoder(uint64_t window, int tries) : Window(window), Tries(tries), Head(1u << HashBits, 0), Prev(size_t(window), 0) {}

  // Symbols for one entry's data (filtered already), `cuts` are positions inside it that no
  // match may cross, where the caller's filter symbols go.
  std::vector<TRar5Symbol> Entry(const std::string& data, const std::vector<size_t>& cuts,
                                 const std::vector<TRar5Symbol>& cutSymbols) {
    // The buffer holds the window's worth of the stream before this entry, then the entry.
    size_t keep = size_t(std::min<uint64_t>(History.size(), Window));
    std::string buffer = History.substr(History.size() - keep) + data;
    uint64_t base = Pos - keep;
    std::vector<TRar5Symbol> out;
    size_t at = keep, end = buffer.size(), cut = 0;
    const auto* b = reinterpret_cast<const uint8_t*>(buffer.data());
    while (at < end) {
      while (cut < cuts.size() && cuts[cut] + keep <= at) out.push_back(cutSymbols[cut++]);
      size_t limit = std::min<size_t>(end, cut < cuts.size() ? cuts[cut] + keep : end);
      size_t room = std::min<size_t>(limit - at, MaxStoredLength);
      uint64_t pos = base + at;
      // Repeated distances first: cheaper than a new one of about the same length.
      unsigned repIndex = 0;
      size_t repLength = 0;
      for (unsigned i = 0; i < 4; ++i) {
        uint64_t d = Rep[i];
        if (d == 0 || d > pos - Start || d > at) continue;
        size_t n = MatchLength(b, at, at - size_t(d), room);
        if (n > repLength) repLength = n, repIndex = i;
      }
      size_t bestLength = 0;
      uint64_t bestDist = 0;
      if (room >= 4 && at + 4 <= end) {
        uint32_t h = Hash(b + at);
        uint64_t candidate = Head[h];
        for (int t = 0; t < Tries && candidate > 0; ++t) {
          uint64_t c = candidate - 1;
          if (c < base || c < Start || pos - c > Window || c >= pos) break;
          uint64_t d = pos - c;
          size_t from = size_t(c - base);
          // Only a candidate that could beat the best so far is compared in full.
          if (bestLength > 0 && (bestLength >= room || b[from + bestLength] != b[at + bestLength])) {
            uint64_t next = Prev[size_t(c & (Window - 1))];
            if (next >= candidate) break;
            candidate = next;
            continue;
          }
          size_t n = MatchLength(b, at, from, room);
          if (n >= 2 + Bonus(d) + 2 && n > bestLength) bestLength = n, bestDist = d;
          if (n == room) break;
          uint64_t next = Prev[size_t(c & (Window - 1))];
          if (next >= candidate) break;
          candidate = next;
        }
      }
      size_t step = 1;
      if (repLength >= 2 && repLength + 1 >= bestLength) {
        if (repIndex == 0 && repLength == LastLength) {
          out.push_back({TRar5Symbol::Last, 0, 0, 0, 0});
        } else {
          out.push_back({TRar5Symbol::Repeat, uint8_t(repIndex), uint32_t(repLength), 0, 0});
          uint64_t d = Rep[repIndex];
          for (unsigned i = repIndex; i > 0; --i) Rep[i] = Rep[i - 1];
          Rep[0] = d;
          LastLength = uint32_t(repLength);
        }
        step = repLength;
      } else if (bestLength > 0) {
        size_t length = std::min<size_t>(bestLength, MaxStoredLength + Bonus(bestDist));
        out.push_back(TRar5Symbol::Copy(uint32_t(length), bestDist));
        Rep[3] = Rep[2];
        Rep[2] = Rep[1];
        Rep[1] = Rep[0];
        Rep[0] = bestDist;
        LastLength = uint32_t(length);
        step = length;
      } else {
        out.push_back(TRar5Symbol::Byte(b[at]));
        // Data that keeps finding nothing is passed over faster, unsearched, as incompressible
        // data would be by any quick compressor.
        if (++Misses > 64) {
          size_t skip = std::min<size_t>({(Misses - 64) >> 4, 64, limit - at - 1});
          for (size_t k = 1; k <= skip; ++k) out.push_back(TRar5Symbol::Byte(b[at + k]));
          Insert(b, at, end, base + at);
          at += skip + 1;
          continue;
        }
      }
      if (step > 1) Misses = 0;
      // Inside a long match only its start is worth finding again: the rest would only lengthen
      // the chains.
      for (size_t k = 0; k < step; ++k, ++at)
        if (k < 16 || step - k <= 4) Insert(b, at, end, base + at);
    }
    while (cut < cuts.size()) out.push_back(cutSymbols[cut++]);
    Pos += data.size();
    History = buffer.substr(buffer.size() - size_t(std::min<uint64_t>(buffer.size(), Window)));
    return out;
  }

  // A new solid stream: nothing before this point may be referred to.
  void Restart() {
    Start = Pos;
    std::fill(std::begin(Rep), std::end(Rep), 0);
    LastLength = 0;
  }

 private:
  static constexpr unsigned HashBits = 17;
  static uint32_t Hash(const uint8_t* p) {
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return (v * 2654435761u) >> (32 - HashBits);
  }
  static size_t MatchLength(const uint8_t* b, size_t at, size_t from, size_t room) {
    size_t n = 0;
    while (n + 8 <= room) {
      uint64_t x, y;
      std::memcpy(&x, b + from + n, 8);
      std::memcpy(&y, b + at + n, 8);
      if (x != y) return n + size_t(__builtin_ctzll(x ^ y) / 8);  // little-endian: the first byte is lowest
      n += 8;
    }
    while (n < room && b[from + n] == b[at + n]) ++n;
    return n;
  }
  void Insert(const uint8_t* b, size_t at, size_t end, uint64_t pos) {
    if (at + 4 > end) return;
    uint32_t h = Hash(b + at);
    Prev[size_t(pos & (Window - 1))] = Head[h];
    Head[h] = pos + 1;
  }

  uint64_t Window;
  int Tries;
  std::vector<uint64_t> Head, Prev;  // position + 1, 0 for none
  std::string History;
  uint64_t Pos = 0, Start = 0;
  uint64_t Rep[4] = {};
  uint32_t LastLength = 0;
  size_t Misses = 0;  // positions in a row where no match was found
};

unsigned DictExponent(uint64_t dict) {
  unsigned e = 0;
  while ((uint64_t(128) << 10 << e) < dict) ++e;
  return e;
}

void PutHeader(std::string& out, const std::string& body) { out += Rar5Header(body); }

// Packed data of an entry: bytes, or zeros kept as a hole.
struct TPacked {
  std::string Bytes;
  uint64_t Zeros = 0;
  uint64_t Size() const { return Zeros ? Zeros : Bytes.size(); }
};

// The CRC-32 of `size` zero bytes without reading them: each zero bit is a linear map of the
// register, so size bytes are that map raised to 8 * size, by repeated squaring.
uint32_t TimesMatrix(const uint32_t* matrix, uint32_t vector) {
  uint32_t sum = 0;
  for (; vector; vector >>= 1, ++matrix)
    if (vector & 1) sum ^= *matrix;
  return sum;
}

uint32_t CrcOfZeros(uint64_t size) {
  uint32_t power[32], square[32];
  power[0] = 0xEDB88320u;  // one zero bit
  for (unsigned n = 1; n < 32; ++n) power[n] = 1u << (n - 1);
  uint32_t reg = 0xFFFFFFFFu;
  for (uint64_t bits = size * 8; bits; bits >>= 1) {
    if (bits & 1) reg = TimesMatrix(power, reg);
    for (unsigned n = 0; n < 32; ++n) square[n] = TimesMatrix(power, power[n]);
    std::copy(square, square + 32, power);
  }
  return ~reg;
}

std::array<uint8_t, 32> Blake2Of(const std::string& data) {
  std::array<uint8_t, 32> digest{};
  blake2sp(digest.data(), data.data(), nullptr, digest.size(), data.size(), 0);
  return digest;
}

// A volume's contents: bytes, with holes at given places.
struct TVolumeImage {
  std::string Bytes;
  std::vector<std::pair<size_t, uint64_t>> Holes;  // before Bytes[first], this many zeros
  uint64_t Size() const {
    uint64_t s = Bytes.size();
    for (const auto& h : Holes) s += h.second;
    return s;
  }
};

void WriteVolume(const std::string& path, const TVolumeImage& v) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot write " + path);
  bool ok = true;
  uint64_t filePos = 0;
  size_t from = 0;
  auto put = [&](size_t to) {
    if (to > from && ::pwrite(fd, v.Bytes.data() + from, to - from, off_t(filePos)) != ssize_t(to - from)) ok = false;
    filePos += to - from;
    from = to;
  };
  for (const auto& hole : v.Holes) {
    put(hole.first);
    filePos += hole.second;
  }
  put(v.Bytes.size());
  if (::ftruncate(fd, off_t(filePos)) != 0) ok = false;
  ::close(fd);
  if (!ok) throw std::runtime_error("cannot write " + path);
}

std::string VolumeName(const std::string& first, size_t index, int digits) {
  if (index == 0) return first;
  std::string stem = first.substr(0, first.size() - 4);
  size_t part = stem.rfind(".part");
  std::string base = part == std::string::npos ? stem : stem.substr(0, part);
  std::string number = std::to_string(index + 1);
  while (int(number.size()) < digits) number = "0" + number;
  return base + ".part" + number + ".rar";
}

}  // namespace

void PutRar5Vint(std::string& out, uint64_t value) {
  do {
    uint8_t byte = value & 0x7F;
    value >>= 7;
    out += char(byte | (value ? 0x80 : 0));
  } while (value);
}

std::string Rar5Header(const std::string& body) {
  std::string sized;
  PutRar5Vint(sized, body.size());
  sized += body;
  std::string out;
  Put32(out, libdeflate_crc32(0, sized.data(), sized.size()));
  return out + sized;
}

std::string Rar5ExtraRecord(uint64_t type, const std::string& data) {
  std::string typed;
  PutRar5Vint(typed, type);
  typed += data;
  std::string record;
  PutRar5Vint(record, typed.size());
  return record + typed;
}

std::string Rar5RedirectionRecord(uint64_t type, const std::string& target, bool toDirectory) {
  std::string data;
  PutRar5Vint(data, type);
  PutRar5Vint(data, toDirectory ? 1 : 0);
  PutRar5Vint(data, target.size());
  return Rar5ExtraRecord(5, data + target);
}

uint64_t Rar5CompressionInfo(unsigned method, uint64_t dictSize, bool solid, unsigned version) {
  return version | (solid ? 0x40u : 0u) | uint64_t(method) << 7 | uint64_t(DictExponent(dictSize)) << 10;
}

std::string EncodeRar5Symbols(const std::vector<TRar5Symbol>& symbols, const TRar5BlockPlan& plan) {
  std::string out;
  const TRar5Symbol* all = symbols.data();
  size_t count = symbols.size();
  bool shared = plan.TablesOnce || plan.TableSymbols;
  TTables whole;
  if (plan.TableSymbols) whole = TablesFor(plan.TableSymbols->data(), plan.TableSymbols->data() + plan.TableSymbols->size());
  else if (plan.TablesOnce) whole = TablesFor(all, all + count);
  size_t per = std::max<size_t>(plan.SymbolsPerBlock, 1);
  for (size_t at = 0; at == 0 || at < count; at += per) {
    size_t end = std::min(count, at + per);
    bool withTables = at == 0 ? plan.FirstTables : !plan.TablesOnce;
    TTables tables = shared ? whole : TablesFor(all + at, all + end);
    out += BlockOf(all + at, all + end, tables, withTables, plan.Last && end == count);
    if (count == 0) break;
  }
  return out;
}

std::vector<std::string> WriteRar5Set(const std::string& firstPath, const std::vector<TRar5TestFile>& files,
                                      const TRar5WriterOptions& o) {
  TLzEncoder lz(std::min(o.DictSize, o.MatchWindow), o.MatchTries);
  bool streamStarted = false;
  struct TPrepared {
    const TRar5TestFile* File;
    TPacked Packed;
    uint64_t UnpSize;
    uint64_t Compression;
    uint32_t Crc;
    std::array<uint8_t, 32> Hash;
  };
  std::vector<TPrepared> prepared;
  for (const auto& f : files) {
    TPrepared p{&f, {}, 0, 0, 0, {}};
    if (f.SparseSize) {
      p.Packed.Zeros = f.SparseSize;
      p.UnpSize = f.SparseSize;
      p.Crc = CrcOfZeros(f.SparseSize);
    } else {
      p.UnpSize = f.Data.size();
      p.Crc = libdeflate_crc32(0, f.Data.data(), f.Data.size());
      if (f.Blake2) p.Hash = Blake2Of(f.Data);
    }
    if (f.Compress && !f.Directory && !f.SparseSize) {
      bool solid = o.Solid && streamStarted;
      if (!solid) lz.Restart();
      streamStarted = true;
      std::string filtered;
      std::vector<size_t> cuts;
      std::vector<TRar5Symbol> filterSymbols;
      for (size_t at = 0; at < f.Data.size(); at += o.FilterBlock) {
        std::string chunk = f.Data.substr(at, o.FilterBlock);
        if (f.Filter != TRar5Filter::None) {
          FilterForward(f.Filter, f.DeltaChannels, chunk, uint32_t(at));
          cuts.push_back(at);
          filterSymbols.push_back({TRar5Symbol::Filter, FilterCode(f.Filter), uint32_t(chunk.size()), 0,
                                   uint8_t(f.DeltaChannels)});
        }
        filtered += chunk;
      }
      std::vector<TRar5Symbol> symbols = lz.Entry(filtered, cuts, filterSymbols);
      // Blocks of about BlockInput unpacked bytes each.
      std::vector<size_t> blockStarts = {0};
      uint64_t produced = 0;
      for (size_t i = 0; i < symbols.size(); ++i) {
        const auto& s = symbols[i];
        produced += s.Kind == TRar5Symbol::Literal ? 1 : s.Kind == TRar5Symbol::Filter ? 0 : s.Length;
        if (produced >= o.BlockInput && i + 1 < symbols.size()) {
          blockStarts.push_back(i + 1);
          produced = 0;
        }
      }
      blockStarts.push_back(symbols.size());
      TTables whole;
      if (o.TablesOncePerEntry) whole = TablesFor(symbols.data(), symbols.data() + symbols.size());
      for (size_t k = 0; k + 1 < blockStarts.size(); ++k) {
        const TRar5Symbol* from = symbols.data() + blockStarts[k];
        const TRar5Symbol* to = symbols.data() + blockStarts[k + 1];
        TTables tables = o.TablesOncePerEntry ? whole : TablesFor(from, to);
        p.Packed.Bytes += BlockOf(from, to, tables, k == 0 || !o.TablesOncePerEntry, k + 2 == blockStarts.size());
      }
      p.Compression = Rar5CompressionInfo(3, o.DictSize, solid);
    } else if (!f.Directory && !f.SparseSize) {
      p.Packed.Bytes = f.Data;
      p.Compression = Rar5CompressionInfo(0, 128u << 10, false);
    } else {
      p.Compression = Rar5CompressionInfo(0, 128u << 10, false);
    }
    prepared.push_back(std::move(p));
  }

  std::vector<TVolumeImage> volumes(1);
  auto startVolume = [&](size_t index) {
    TVolumeImage& v = volumes.back();
    if (index == 0) v.Bytes += o.Prefix;
    v.Bytes += std::string("Rar!\x1a\x07\x01\x00", 8);
    std::string main;
    PutRar5Vint(main, 1);
    PutRar5Vint(main, 0);
    uint64_t flags = (o.VolumeSize ? 0x01 : 0) | (index > 0 ? 0x02 : 0) | (o.Solid ? 0x04 : 0);
    PutRar5Vint(main, flags);
    if (index > 0) PutRar5Vint(main, index);
    PutHeader(v.Bytes, main);
  };
  auto endVolume = [&](bool more) {
    std::string end;
    PutRar5Vint(end, 5);
    PutRar5Vint(end, 0);
    PutRar5Vint(end, more ? 1 : 0);
    PutHeader(volumes.back().Bytes, end);
  };
  auto fileHeader = [&](const TPrepared& p, uint64_t partSize, bool before, bool after, uint32_t crc,
                        const std::array<uint8_t, 32>& hash) {
    const TRar5TestFile& f = *p.File;
    std::string extra;
    if (f.Blake2) {
      std::string data;
      PutRar5Vint(data, 0);
      data.append(reinterpret_cast<const char*>(hash.data()), hash.size());
      extra += Rar5ExtraRecord(2, data);
    }
    std::string body;
    PutRar5Vint(body, 2);
    PutRar5Vint(body, (extra.empty() ? 0 : 0x01) | 0x02 | (before ? 0x08 : 0) | (after ? 0x10 : 0));
    if (!extra.empty()) PutRar5Vint(body, extra.size());
    PutRar5Vint(body, partSize);
    PutRar5Vint(body, (f.Directory ? 0x01 : 0) | 0x02 | (f.Blake2 ? 0 : 0x04));
    PutRar5Vint(body, p.UnpSize);
    PutRar5Vint(body, f.Attr);
    Put32(body, f.MTime);
    if (!f.Blake2) Put32(body, crc);
    PutRar5Vint(body, p.Compression);
    PutRar5Vint(body, f.HostOS);
    PutRar5Vint(body, f.Name.size());
    body += f.Name;
    body += extra;
    std::string header;
    PutHeader(header, body);
    return header;
  };

  startVolume(0);
  for (const auto& p : prepared) {
    uint64_t total = p.Packed.Size(), done = 0;
    bool first = true;
    do {
      uint64_t left = total - done;
      uint64_t part = left;
      size_t headerSize = fileHeader(p, left, !first, true, 0, {}).size();
      if (o.VolumeSize) {
        uint64_t used = volumes.back().Size() + headerSize + 8;
        if (used + std::min<uint64_t>(left, 1) > o.VolumeSize && volumes.back().Size() > 40) {
          endVolume(true);
          volumes.emplace_back();
          startVolume(volumes.size() - 1);
          used = volumes.back().Size() + headerSize + 8;
        }
        if (used + left > o.VolumeSize) part = o.VolumeSize > used ? o.VolumeSize - used : 1;
      }
      bool last = done + part >= total;
      uint32_t crc = p.Crc;
      std::array<uint8_t, 32> hash = p.Hash;
      TVolumeImage& v = volumes.back();
      // Every part but the last carries the check of its own packed bytes.
      if (!last) {
        std::string slice = p.Packed.Zeros ? std::string() : p.Packed.Bytes.substr(size_t(done), size_t(part));
        crc = p.Packed.Zeros ? CrcOfZeros(part) : libdeflate_crc32(0, slice.data(), slice.size());
        if (p.File->Blake2) hash = Blake2Of(slice);
      }
      v.Bytes += fileHeader(p, part, !first, !last, crc, hash);
      if (p.Packed.Zeros) v.Holes.push_back({v.Bytes.size(), part});
      else v.Bytes += p.Packed.Bytes.substr(size_t(done), size_t(part));
      done += part;
      first = false;
      if (!last) {
        endVolume(true);
        volumes.emplace_back();
        startVolume(volumes.size() - 1);
      }
    } while (done < total);
  }
  endVolume(false);

  std::vector<std::string> paths;
  for (size_t i = 0; i < volumes.size(); ++i) {
    paths.push_back(VolumeName(firstPath, i, o.PartDigits));
    WriteVolume(paths.back(), volumes[i]);
  }
  return paths;
}

void WriteRar5Archive(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries) {
  std::vector<TRar5TestFile> files;
  for (const auto& [name, data] : entries) {
    TRar5TestFile f;
    f.Name = name;
    f.Data = data;
    f.Compress = false;
    files.push_back(f);
  }
  WriteRar5Set(path, files);
}

std::string Rar5RawArchive(const std::vector<TRar5RawFile>& files, bool solid) {
  std::string out("Rar!\x1a\x07\x01\x00", 8);
  std::string main;
  PutRar5Vint(main, 1);
  PutRar5Vint(main, 0);
  PutRar5Vint(main, solid ? 0x04 : 0);
  PutHeader(out, main);
  for (const auto& f : files) {
    std::string body;
    PutRar5Vint(body, 2);
    PutRar5Vint(body, (f.Extra.empty() ? 0 : 0x01) | 0x02);
    if (!f.Extra.empty()) PutRar5Vint(body, f.Extra.size());
    PutRar5Vint(body, f.Packed.size());
    PutRar5Vint(body, 0x04 | (f.SizeUnknown ? 0x08 : 0) | (f.Directory ? 0x01 : 0));
    PutRar5Vint(body, f.UnpSize);
    PutRar5Vint(body, f.Attr);
    Put32(body, f.Crc);
    PutRar5Vint(body, f.CompressionInfo);
    PutRar5Vint(body, 1);
    PutRar5Vint(body, f.Name.size());
    body += f.Name;
    body += f.Extra;
    PutHeader(out, body);
    out += f.Packed;
  }
  std::string end;
  PutRar5Vint(end, 5);
  PutRar5Vint(end, 0);
  PutRar5Vint(end, 0);
  PutHeader(out, end);
  return out;
}
