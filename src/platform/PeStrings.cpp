#include "platform/PeStrings.h"
#include "platform/Utf8.h"

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t RtString = 6;
constexpr std::uint32_t LangEnglishUs = 0x409;
constexpr std::uint32_t SubdirectoryBit = 0x80000000u;

class TBoundedReader {
 public:
  TBoundedReader(const TPeReadAt& readAt, std::uint64_t size) : FReadAt(readAt), FSize(size) {}

  bool Read(std::uint64_t pos, void* buffer, std::size_t count) const {
    if (pos > FSize || count > FSize - pos) return false;
    if (count == 0) return true;  // an empty table or string: nothing to fetch
    return FReadAt(pos, buffer, count) == count;
  }
  bool U16(std::uint64_t pos, std::uint16_t& value) const {
    std::array<unsigned char, 2> b{};
    if (!Read(pos, b.data(), b.size())) return false;
    value = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
    return true;
  }
  bool U32(std::uint64_t pos, std::uint32_t& value) const {
    std::array<unsigned char, 4> b{};
    if (!Read(pos, b.data(), b.size())) return false;
    value = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
            (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    return true;
  }

 private:
  const TPeReadAt& FReadAt;
  std::uint64_t FSize;
};

struct TSection {
  std::uint32_t VirtualAddress;
  std::uint32_t VirtualSize;
  std::uint32_t RawSize;
  std::uint32_t RawPointer;
};

struct TEntry {
  std::uint32_t Id;
  std::uint32_t Target;
};

std::uint32_t LeU32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The id entries of one resource directory; named entries are skipped.
bool ReadDirectory(const TBoundedReader& in, std::uint64_t pos, std::vector<TEntry>& entries) {
  std::uint16_t named = 0;
  std::uint16_t ids = 0;
  if (!in.U16(pos + 12, named) || !in.U16(pos + 14, ids)) return false;
  const std::size_t total = static_cast<std::size_t>(named) + ids;
  std::vector<unsigned char> raw(total * 8);
  if (!in.Read(pos + 16, raw.data(), raw.size())) return false;
  entries.clear();
  for (std::size_t i = named; i < total; ++i) {
    const std::uint32_t name = LeU32(&raw[i * 8]);
    if ((name & SubdirectoryBit) != 0) continue;
    entries.push_back({name, LeU32(&raw[i * 8 + 4])});
  }
  return true;
}

const TEntry* FindId(const std::vector<TEntry>& entries, std::uint32_t id) {
  for (const TEntry& e : entries)
    if (e.Id == id) return &e;
  return nullptr;
}

bool RvaToOffset(const std::vector<TSection>& sections, std::uint32_t rva, std::uint64_t& offset) {
  for (const TSection& s : sections) {
    if (rva >= s.VirtualAddress && rva - s.VirtualAddress < s.RawSize) {
      offset = static_cast<std::uint64_t>(s.RawPointer) + (rva - s.VirtualAddress);
      return true;
    }
  }
  return false;
}

// The 16 strings of one string-table block; missing ones stay empty.
void ReadBlock(const TBoundedReader& in, std::uint64_t pos, std::uint32_t size,
               std::array<std::string, 16>& strings) {
  std::uint64_t p = pos;
  const std::uint64_t end = pos + size;
  for (std::string& s : strings) {
    std::uint16_t length = 0;
    if (p + 2 > end || !in.U16(p, length)) return;
    p += 2;
    if (p + 2ull * length > end) return;
    std::vector<unsigned char> raw(2ull * length);
    if (!in.Read(p, raw.data(), raw.size())) return;
    std::vector<std::uint16_t> units(length);
    for (std::size_t i = 0; i < length; ++i)
      units[i] = static_cast<std::uint16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
    s = Utf16ToUtf8(units);
    p += 2ull * length;
  }
}

// Where the PE headers are: the optional header, its size and the section count.
struct TPeHeaders {
  std::uint64_t Optional = 0;
  std::uint16_t OptionalSize = 0;
  std::uint16_t SectionCount = 0;
};

bool ReadPeHeaders(const TBoundedReader& in, TPeHeaders& h) {
  std::uint16_t mz = 0;
  std::uint32_t peAt = 0;
  std::uint32_t peSig = 0;
  if (!in.U16(0, mz) || mz != 0x5A4D || !in.U32(0x3C, peAt) || !in.U32(peAt, peSig) || peSig != 0x00004550)
    return false;
  const std::uint64_t coff = static_cast<std::uint64_t>(peAt) + 4;
  if (!in.U16(coff + 2, h.SectionCount) || !in.U16(coff + 16, h.OptionalSize)) return false;
  h.Optional = coff + 20;
  return true;
}

std::vector<TSection> ReadSections(const TBoundedReader& in, const TPeHeaders& h) {
  std::vector<TSection> sections;
  const std::uint64_t table = h.Optional + h.OptionalSize;
  for (std::uint16_t i = 0; i < h.SectionCount; ++i) {
    std::array<unsigned char, 40> raw{};
    if (!in.Read(table + 40ull * i, raw.data(), raw.size())) break;
    sections.push_back({LeU32(&raw[12]), LeU32(&raw[8]), LeU32(&raw[16]), LeU32(&raw[20])});
  }
  return sections;
}

}  // namespace

std::optional<std::uint64_t> PeOverlayOffset(const TPeReadAt& readAt, std::uint64_t size) {
  const TBoundedReader in(readAt, size);
  TPeHeaders h;
  if (!ReadPeHeaders(in, h) || h.SectionCount == 0) return std::nullopt;
  std::uint64_t end = 0;
  for (const TSection& s : ReadSections(in, h)) end = std::max(end, std::uint64_t(s.RawPointer) + s.RawSize);
  if (end == 0 || end >= size) return std::nullopt;
  return end;
}

std::vector<std::string> ReadPeStrings(const TPeReadAt& readAt, std::uint64_t size,
                                       unsigned firstId, unsigned count) {
  std::vector<std::string> result(count);
  const TBoundedReader in(readAt, size);
  TPeHeaders headers;
  if (!ReadPeHeaders(in, headers)) return result;
  const std::uint64_t optional = headers.Optional;
  const std::uint16_t optionalSize = headers.OptionalSize;
  std::uint16_t magic = 0;
  if (!in.U16(optional, magic)) return result;
  std::uint64_t dirCountAt = 0;
  if (magic == 0x10B) dirCountAt = 92;        // PE32
  else if (magic == 0x20B) dirCountAt = 108;  // PE32+
  else return result;
  std::uint32_t dirCount = 0;
  std::uint32_t resourceRva = 0;
  const std::uint64_t resourceEntryEnd = dirCountAt + 4 + 3 * 8;
  if (!in.U32(optional + dirCountAt, dirCount) || dirCount < 3 || optionalSize < resourceEntryEnd ||
      !in.U32(optional + dirCountAt + 4 + 2 * 8, resourceRva) || resourceRva == 0)
    return result;

  const std::vector<TSection> sections = ReadSections(in, headers);
  std::uint64_t resourceBase = 0;
  if (!RvaToOffset(sections, resourceRva, resourceBase)) return result;

  std::vector<TEntry> types;
  std::vector<TEntry> names;
  std::vector<TEntry> languages;
  if (!ReadDirectory(in, resourceBase, types)) return result;
  const TEntry* stringType = FindId(types, RtString);
  if (stringType == nullptr || (stringType->Target & SubdirectoryBit) == 0) return result;
  if (!ReadDirectory(in, resourceBase + (stringType->Target & ~SubdirectoryBit), names))
    return result;

  std::uint32_t loadedBlock = 0;  // block ids start at 1, so 0 means none loaded
  std::array<std::string, 16> block;
  for (unsigned n = 0; n < count; ++n) {
    const unsigned id = firstId + n;
    const std::uint32_t blockId = (id >> 4) + 1;
    if (blockId != loadedBlock) {
      loadedBlock = blockId;
      block = {};
      const TEntry* name = FindId(names, blockId);
      if (name == nullptr || (name->Target & SubdirectoryBit) == 0 ||
          !ReadDirectory(in, resourceBase + (name->Target & ~SubdirectoryBit), languages) ||
          languages.empty())
        continue;
      const TEntry* lang = FindId(languages, LangEnglishUs);
      if (lang == nullptr) lang = FindId(languages, 0);
      if (lang == nullptr) lang = &languages.front();
      std::uint32_t dataRva = 0;
      std::uint32_t dataSize = 0;
      std::uint64_t dataAt = 0;
      if ((lang->Target & SubdirectoryBit) != 0 || !in.U32(resourceBase + lang->Target, dataRva) ||
          !in.U32(resourceBase + lang->Target + 4, dataSize) || !RvaToOffset(sections, dataRva, dataAt))
        continue;
      ReadBlock(in, dataAt, dataSize, block);
    }
    result[n] = block[id & 15];
  }
  return result;
}

std::vector<std::string> ReadPeStrings(const std::string& path, unsigned firstId, unsigned count) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::vector<std::string>(count);
  struct stat st {};
  std::vector<std::string> result(count);
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    const TPeReadAt readAt = [fd](std::uint64_t position, void* buffer, std::size_t n) -> std::size_t {
      std::size_t done = 0;
      while (done < n) {
        const ssize_t got = ::pread(fd, static_cast<char*>(buffer) + done, n - done,
                                    static_cast<off_t>(position + done));
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
      }
      return done;
    };
    result = ReadPeStrings(readAt, static_cast<std::uint64_t>(st.st_size), firstId, count);
  }
  ::close(fd);
  return result;
}
