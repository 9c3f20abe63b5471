// Reads RAR 5 archives through the block layer and the decoder alone, without TRarArchive:
// entries gathered with their parts across volumes, then decoded in archive order through one
// TRar5Unpacker and checked against the CRC-32 or BLAKE2sp their headers record.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "unrar/RarBlocks.h"
#include "unrar/RarInput.h"
#include "unrar/RarSource.h"
#include "unrar/RarUnpack.h"

struct TRar5Walked {
  TRarEntryHeader Header;  // the first part's
  std::string Volume;
  std::vector<TDataPart> Parts;
  bool Service = false;
  // The last part's CRC-32 and hash cover the whole file.
  uint32_t WholeCrc = 0;
  std::array<uint8_t, 32> WholeHash{};
  bool Decoded = false;  // data was unpacked (not a folder, link, copy or encrypted entry)
  int Result = -1;       // the decoder's (or copy's) result when Decoded
  bool HashOk = false;
  uint64_t Bytes = 0;
  std::string Data;  // kept when asked for
};

struct TRar5Walk {
  int OpenResult = 0;
  // How the walk ended: ERAR_END_ARCHIVE, or what stopped it (broken header, missing volume,
  // encrypted headers, a split entry whose next part is missing).
  int EndResult = 0;
  bool MainCrcOk = true;
  uint16_t MainFlags = 0;
  TRar5Main Main;
  TRar5Crypt HeaderCrypt;
  std::vector<std::string> Volumes;
  std::vector<TRar5Walked> Entries;  // files and service headers in archive order
};

using TSourceOpener = std::function<std::unique_ptr<TByteSource>(const std::string& volume)>;

// Walks the volume set that starts at `first`; `open` gives the source of a volume (nullptr
// when it is not there). Files by default.
TRar5Walk WalkRar5(const std::string& first, TSourceOpener open = {});
// Decodes every file entry in order (services too, when stored), checking each one's hash.
// maxBytes bounds what an entry may produce here (the fuzzer keeps it small).
void DecodeRar5(TRar5Walk& walk, bool keepData, TSourceOpener open = {}, uint64_t maxBytes = UINT64_MAX);

// The packed data of an entry's parts, volume after volume, as the decoder pulls it.
class TWalkPartsInput : public IPackedInput {
 public:
  TWalkPartsInput(const std::vector<TDataPart>& parts, TSourceOpener open);
  int Read(uint8_t* buffer, size_t size, size_t& got) override;

 private:
  const std::vector<TDataPart>& Parts;
  TSourceOpener Open;
  size_t Index = 0;
  uint64_t Done = 0;
  std::unique_ptr<TByteSource> Source;
};

std::string HexOf(const uint8_t* bytes, size_t size);
