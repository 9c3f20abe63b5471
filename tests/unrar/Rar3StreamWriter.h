// A writer of RAR 2.0 and RAR 2.9 compressed streams for the decoder's tests: random but valid
// sequences of literals, matches of every kind, table changes, multimedia blocks and end codes,
// built from the format's own rules (not from the decoder's code), so that the decoder can be
// held against libunarr on what no sample archive holds.
#pragma once
#include <cstdint>
#include <random>
#include <string>
#include <vector>

class TBitWriter {
 public:
  void Put(uint32_t value, unsigned bits) {
    for (unsigned i = bits; i-- > 0;) {
      if (Used == 0) Bytes.push_back(0);
      if ((value >> i) & 1) Bytes.back() = char(uint8_t(Bytes.back()) | (0x80 >> Used));
      Used = (Used + 1) & 7;
    }
  }
  void Align() { Used = 0; }
  std::string Bytes;

 private:
  unsigned Used = 0;
};

// A prefix code given by bit lengths, with RAR's canonical assignment.
struct TTestCode {
  std::vector<uint8_t> Lengths;
  std::vector<uint32_t> Codes;
  explicit TTestCode(std::vector<uint8_t> lengths);
  // A complete code over `count` symbols, lengths shuffled by rng (all symbols usable).
  static TTestCode Complete(unsigned count, std::mt19937& rng);
  void Put(TBitWriter& w, unsigned symbol) const;
};

struct TStreamOptions {
  uint64_t Size = 10000;
  unsigned LiteralAlphabet = 4;  // small alphabets make long matches likely
  unsigned TableChanges = 2;     // blocks of new tables in the middle of the data
  bool Audio = false;            // RAR 2.0: multimedia blocks alternate with LZ blocks
  unsigned Channels = 1;
  bool KeepOldTables = true;     // new tables as changes to the previous ones, where allowed
  bool LowDistRuns = true;       // RAR 2.9: runs of repeated low distance bits (code 16)
};

// What a writer's LZ symbols put out, for the set so far: literals and copies, nothing
// decoded. Multimedia blocks cannot be followed that way; after one, nothing is known.
class TWrittenData {
 public:
  void Literal(uint8_t byte) { Data.push_back(char(byte)); }
  void Copy(uint32_t length, uint32_t dist) {
    for (uint32_t i = 0; i < length; ++i) Data.push_back(Data[Data.size() - dist]);
  }
  void Unknown(uint32_t length) {
    Known = false;
    Data.append(length, '\0');
  }
  // Everything written so far, or null when a multimedia block made it unknown.
  const std::string* Expected() const { return Known ? &Data : nullptr; }

 private:
  std::string Data;
  bool Known = true;
};

// The writer keeps what the decoder keeps (position, old distances, the tables), so that a
// solid set can be written entry after entry.
class TRar20StreamWriter {
 public:
  explicit TRar20StreamWriter(uint32_t seed) : Rng(seed) {}
  // One entry's packed data. `tailTables`: the next entry's tables follow the data.
  std::string Entry(const TStreamOptions& options, bool tailTables = false);
  TWrittenData Written;

 private:
  void PutTables(TBitWriter& w, bool audio, unsigned channels, bool keepOld);
  void PutSymbols(TBitWriter& w, const TStreamOptions& options, uint64_t until);

  std::mt19937 Rng;
  uint64_t Pos = 0;
  uint32_t OldDist[4] = {}, OldDistPtr = 0, LastDist = 0, LastLength = 0;
  bool HaveTables = false, AudioMode = false;
  unsigned Channels = 1, CurChannel = 0;
  std::vector<uint8_t> Old = std::vector<uint8_t>(257 * 4, 0);
  std::vector<TTestCode> Codes;  // LZ: main, distance, repeat; audio: one per channel
};

class TRar29StreamWriter {
 public:
  explicit TRar29StreamWriter(uint32_t seed) : Rng(seed) {}
  // One entry's packed data, ending with the end code; `nextTables`: its flag that the next
  // entry of the set starts with new tables.
  std::string Entry(const TStreamOptions& options, bool nextTables = false);

  // Pieces for hand-made streams.
  void PutTables(TBitWriter& w, bool keepOld);
  void PutLiteral(TBitWriter& w, uint8_t byte);
  // A long match (symbols 271-298) of exactly `length` bytes (the length bonus included) at
  // distance `dist`.
  void PutMatch(TBitWriter& w, uint32_t length, uint32_t dist);
  // 256 then the flags: "1" new tables here, "00" end of file, "01" end, tables come next.
  void PutEndOfBlock(TBitWriter& w, bool newFile, bool newTables);
  void PutFilterRecord(TBitWriter& w, const std::vector<uint8_t>& record);
  uint64_t Position() const { return Pos; }
  TWrittenData Written;

 private:
  void PutSymbols(TBitWriter& w, const TStreamOptions& options, uint64_t until);
  void PutLengthSlot(TBitWriter& w, const TTestCode& code, uint32_t length);
  void InsertOldDist(uint32_t dist);

  std::mt19937 Rng;
  uint64_t Pos = 0;
  uint32_t OldDist[4] = {}, LastLength = 0, PrevLowDist = 0, LowDistRepCount = 0;
  bool LowDistRuns = true;
  std::vector<uint8_t> Old = std::vector<uint8_t>(404, 0);
  std::vector<TTestCode> Codes;  // main, distance, low distance, repeat
  bool HaveTables = false;
};
