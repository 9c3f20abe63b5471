// A writer of RAR 5 archives for tests and benchmarks: stored and compressed entries (a greedy
// LZ whose Huffman tables come from each block's own symbol counts, optionally behind the DELTA,
// E8, E8E9 or ARM filter), solid sets, volumes (name.partN.rar), CRC-32 or BLAKE2sp, and stored
// entries of any size written as holes. Its compressed output is also checked by other tools, so
// it is never the only judge of the decoder.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class TRar5Filter { None, Delta, E8, E8E9, Arm };

struct TRar5TestFile {
  std::string Name;  // UTF-8, '/' between folders
  std::string Data;
  bool Directory = false;
  bool Compress = true;  // false: stored
  TRar5Filter Filter = TRar5Filter::None;
  unsigned DeltaChannels = 4;
  bool Blake2 = false;  // a BLAKE2sp hash record instead of the CRC-32 field
  uint64_t HostOS = 1;  // 0 Windows, 1 Unix
  uint64_t Attr = 0100644;
  uint32_t MTime = 1577934246;  // 2020-01-02 03:04:06 UTC
  uint64_t SparseSize = 0;      // a stored entry of this many zero bytes kept as a hole; Data unused
};

struct TRar5WriterOptions {
  bool Solid = false;
  uint64_t DictSize = 4u << 20;  // a power of two from 128 KiB
  uint64_t VolumeSize = 0;       // split so that no volume grows beyond this (0: one volume)
  int PartDigits = 1;
  size_t BlockInput = 1u << 20;  // unpacked bytes per compressed block
  size_t FilterBlock = 1u << 20;  // bytes per filter block (at most 4 MiB)
  bool TablesOncePerEntry = false;  // later blocks of an entry reuse its first block's tables
  int MatchTries = 4;            // hash chain candidates looked at per position
  uint64_t MatchWindow = 256u << 10;  // how far back matches are looked for (a power of two)
  std::string Prefix;            // bytes before the marker (a self-extractor stub)
};

// Writes the archive or volume set; returns the files written, first volume first.
std::vector<std::string> WriteRar5Set(const std::string& firstPath, const std::vector<TRar5TestFile>& files,
                                      const TRar5WriterOptions& options = {});

// A RAR 5 archive of stored Unix entries (name, data), enough for listing.
void WriteRar5Archive(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries);

// One symbol of the compressed format, for streams that tests put together by hand.
struct TRar5Symbol {
  enum TKind : uint8_t { Literal, Match, Repeat, Last, Filter } Kind = Literal;
  uint8_t Value = 0;      // Literal: the byte; Repeat: which of the last four distances; Filter: its type
  uint32_t Length = 0;    // Match, Repeat: bytes copied (Match: the bonus of far distances included);
                          // Filter: the block's length
  uint64_t Distance = 0;  // Match: distance; Filter: start relative to the current position
  uint8_t Channels = 0;   // Filter DELTA
  static TRar5Symbol Byte(uint8_t b) { return {Literal, b, 0, 0, 0}; }
  static TRar5Symbol Copy(uint32_t length, uint64_t distance) { return {Match, 0, length, distance, 0}; }
};

struct TRar5BlockPlan {
  size_t SymbolsPerBlock = SIZE_MAX;
  bool TablesOnce = false;  // only the first block carries tables (built for all the symbols)
  bool Last = true;         // the final block ends the entry
  // Tables built from these symbols' counts instead, and none written at all without
  // FirstTables: how a solid entry goes on with the tables of the one before.
  const std::vector<TRar5Symbol>* TableSymbols = nullptr;
  bool FirstTables = true;
};

// The compressed data of one entry made of these symbols.
std::string EncodeRar5Symbols(const std::vector<TRar5Symbol>& symbols, const TRar5BlockPlan& plan = {});

// A compression info field: algorithm version, solid flag, method and dictionary size.
uint64_t Rar5CompressionInfo(unsigned method, uint64_t dictSize, bool solid, unsigned version = 0);

// A whole RAR 5 archive image around given file headers' packed data, for hand-made cases:
// each (header fields, packed data) becomes a file header with that data.
struct TRar5RawFile {
  std::string Name = "f";
  uint64_t UnpSize = 0;
  bool SizeUnknown = false;
  uint64_t CompressionInfo = 0;
  uint32_t Crc = 0;
  std::string Packed;
  std::string Extra;  // records of the extra area, already encoded
  uint64_t Attr = 0100644;  // a Unix mode
  bool Directory = false;
};
// A redirection record (a link or file copy) for TRar5RawFile::Extra.
std::string Rar5RedirectionRecord(uint64_t type, const std::string& target, bool toDirectory = false);
std::string Rar5RawArchive(const std::vector<TRar5RawFile>& files, bool solid = false);

void PutRar5Vint(std::string& out, uint64_t value);
// A whole header around its body (type, flags and the rest): CRC-32 and size in front.
std::string Rar5Header(const std::string& body);
// An extra record: its size, its type and the data.
std::string Rar5ExtraRecord(uint64_t type, const std::string& data);
