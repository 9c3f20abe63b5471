#include "archive/aknDetect.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "archive/aknStreams.h"
#include "platform/FileSystem.h"
#include "platform/PeStrings.h"

namespace {

enum class TRowAction : std::uint8_t { None, Offset7717Embedded, Offset7717, ZipSearch };

// One signature: Length bytes compared from byte At of the four.
struct TSignatureRow {
  std::uint8_t At;
  std::uint8_t Length;
  std::uint8_t Bytes[4];
  TArcType Plain;
  TArcType Embedded;
  TRowAction Action;
};

constexpr std::uint8_t P = 'P';
constexpr auto None = TRowAction::None;

// First hit wins, so the order matters: the PK rows go from the most specific
// follow-up bytes to "anything else".
constexpr TSignatureRow SignatureTable[] = {
    {0, 4, {'P', 'K', 'G', '5'}, atUnknown, atUnknown, None},
    {0, 4, {'M', 'S', 'C', 'F'}, atCab, atUnsupported, None},
    {0, 4, {0xB7, 0xDF, 0x54, 0x57}, atArc, atArcExe, TRowAction::Offset7717Embedded},
    {0, 4, {0x13, 0x5D, 0x65, 0x8C}, atMsGZ, atUnsupported, None},
    {0, 4, {0x42, 0x48, 0x05, 0x07}, atBh, atBhExe, None},
    {0, 4, {'R', 'a', 'r', '!'}, atRar, atRarExe, None},
    {2, 2, {'-', 'l'}, atLha, atLhaExe, None},
    {0, 2, {0x1A, 0x02}, atArc, atUnsupported, None},
    {0, 2, {0x1A, 0x1E}, atArc, atUnsupported, None},
    {0, 2, {0x1A, 0x08}, atArc, atArcExe, None},
    {0, 2, {0x1A, 0x09}, atArc, atArcExe, None},
    {0, 2, {0x1A, 0x0A}, atPak, atPakExe, None},
    {0, 2, {0x1A, 0x0B}, atPak, atPakExe, None},
    {0, 2, {0x1F, 0x1E}, atGZip, atUnsupported, None},
    {0, 2, {0x25, 0x21}, atGZip, atUnsupported, None},
    {0, 2, {0x1F, 0x8B}, atGZip, atUnsupported, None},
    {0, 2, {0x1F, 0x9D}, atGZip, atUnsupported, None},
    {0, 2, {0x1F, 0x9E}, atGZip, atUnsupported, None},
    {0, 2, {0x1F, 0xA0}, atGZip, atUnsupported, None},
    {0, 2, {'H', 'A'}, atHA, atUnsupported, None},
    {0, 4, {P, 'K', 0x01, 0x02}, atZipMV, atZipMV, TRowAction::ZipSearch},
    {0, 4, {P, 'L', 0x01, 0x02}, atZipMV, atZipMV, TRowAction::ZipSearch},
    {0, 4, {P, 'M', 0x01, 0x02}, atZipMV, atZipMV, TRowAction::ZipSearch},
    {0, 4, {P, 'N', 0x01, 0x02}, atZipMV, atZipMV, TRowAction::ZipSearch},
    {0, 4, {P, 'K', 0x07, 0x08}, atZipMV, atZipMV, None},
    {0, 4, {P, 'L', 0x07, 0x08}, atZipMV, atZipMV, None},
    {0, 4, {P, 'M', 0x07, 0x08}, atZipMV, atZipMV, None},
    {0, 4, {P, 'N', 0x07, 0x08}, atZipMV, atZipMV, None},
    {0, 4, {P, 'K', 'G', '4'}, atNA, atNA, None},
    {0, 4, {P, 'L', 'G', '4'}, atNA, atNA, None},
    {0, 4, {P, 'M', 'G', '4'}, atNA, atNA, None},
    {0, 4, {P, 'N', 'G', '4'}, atNA, atNA, None},
    {0, 2, {P, 'K'}, atZip, atZipExe, None},
    {0, 2, {P, 'L'}, atZip, atZipExe, None},
    {0, 2, {P, 'M'}, atZip, atZipExe, None},
    {0, 2, {P, 'N'}, atZip, atZipExe, None},
    {0, 2, {'Z', 'O'}, atZoo, atUnsupported, None},
    {0, 2, {0xB7, 0x92}, atArcExe, atArcExe, TRowAction::Offset7717},
    {0, 2, {0xB7, 0xDF}, atArcExe, atArcExe, TRowAction::Offset7717},
    {0, 2, {0x60, 0xEA}, atArj, atArjExe, None},
};

constexpr std::int64_t HeadBufferSize = 32767;
constexpr std::int64_t ArcStubMarkAt = 7716;
constexpr std::int64_t ArcStubOffset = 7717;
constexpr std::int64_t ZipStubA = 7612;
constexpr std::int64_t ZipStubB = 25661;
constexpr std::int64_t ScanStart = 17000;
constexpr std::int64_t ScanBlock = 32768;
constexpr std::int64_t ScanBlocks = 6;
constexpr std::int64_t ZipBlock = 32768;
constexpr std::int64_t UueWindow = 5000;
constexpr std::int64_t TarBlock = 512;
constexpr std::size_t Lookahead = 8;
// How far past the head a blanked stub's zeros are followed.
constexpr std::int64_t BlankStubLimit = 8 * 1024 * 1024;  // the longest pattern a test reads past its start

const std::uint8_t ZipLocal[] = {'P', 'K', 3, 4};
const std::uint8_t AceMark[] = {'*', '*', 'A', 'C', 'E', '*', '*'};

bool Same(const std::uint8_t* at, const std::uint8_t* bytes, std::size_t n) { return std::memcmp(at, bytes, n) == 0; }

std::uint16_t LeU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t LeU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// A whole decimal number, as a string resource may hold one.
std::optional<std::int64_t> WholeNumber(const std::string& text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) return std::nullopt;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    if (value > (std::numeric_limits<std::int64_t>::max() - (text[i] - '0')) / 10) return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

class TDetector {
 public:
  TDetector(TFileStream32& in, TDetection& d) : FIn(in), D(d) {}

  void Run(const std::string& fileName) {
    D.ArchiveSize = FIn.Size();
    if (D.ArchiveSize <= 19) return;
    FHead.assign(HeadBufferSize + Lookahead, 0);
    FHeadRead = ReadAt(0, FHead.data(), HeadBufferSize);
    if (FHead[0] == 'M' && FHead[1] == 'Z') DetectExecutable();
    else DetectPlain();
    if (IsRecognised(D.ArcType) && D.ArcType == atZip) {
      std::string ext = ExtractFileExt(fileName);
      std::transform(ext.begin(), ext.end(), ext.begin(),
                     [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
      if (ext == ".jar") D.ArcType = atJar;
    }
  }

 private:
  // Reads what the file holds of [pos, pos + count) and zero-fills the rest.
  std::int64_t ReadAt(std::int64_t pos, std::uint8_t* buffer, std::int64_t count) {
    std::memset(buffer, 0, static_cast<std::size_t>(count));
    if (pos < 0 || pos >= D.ArchiveSize || count <= 0) return 0;
    const std::int64_t n = std::min(count, D.ArchiveSize - pos);
    if (FIn.Seek(pos, TSeekOrigin::soBeginning) != pos) return 0;
    return std::max<std::int32_t>(0, FIn.Read(buffer, static_cast<std::int32_t>(n)));
  }

  // Applies a row's result; in embedded mode a row may move the offset.
  void Classify(const std::uint8_t* bytes, bool embedded) {
    const TSignatureHit hit = ClassifySignature(bytes, embedded);
    if (hit.ZipSearch) ZipSearch();
    if (hit.Offset7717) D.ArchiveOffset = ArcStubOffset;
    D.ArcType = hit.ArcType;
  }

  void DetectExecutable() {
    const std::uint8_t* head = FHead.data();
    // Known stubs of self-extractors.
    if (D.ArchiveSize > ArcStubMarkAt && head[ArcStubMarkAt] == 0x1A && head[ArcStubMarkAt + 1] == 0x09) {
      D.ArcType = atArcExe;
      D.ArchiveOffset = ArcStubOffset;
      return;
    }
    for (const std::int64_t stub : {ZipStubA, ZipStubB}) {
      if (D.ArchiveSize > stub + 4 && Same(head + stub, ZipLocal, 4)) {
        ZipSearch();
        D.ArcType = atZipExe;
        D.ArchiveOffset = stub;
        D.LocatorFlags = lfOffsetFound;
        return;
      }
    }
    if (FromStringResources()) return;

    // The end of the DOS stub, from the page counts of the executable header.
    const std::int64_t end = (static_cast<std::int64_t>(LeU16(head + 4)) - 1) * 512 + LeU16(head + 2);
    if (end > 0 && end + 4 < D.ArchiveSize) {
      std::uint8_t at[4];
      ReadAt(end, at, 4);
      D.ArchiveOffset = end + 1;
      if (at[2] == 0x60 && at[3] == 0xEA) D.ArchiveOffset += 2;  // the ARJ marker two bytes in
      if (D.ArchiveOffset + 4 < D.ArchiveSize) {
        ReadAt(D.ArchiveOffset - 1, at, 4);
        if (!Same(at, ZipLocal, 4)) {
          Classify(at, true);
          if (IsRecognised(D.ArcType)) return;
        }
      }
    }
    if (ZipSearch() > 0) D.ArcType = atZipExe;
    if (!IsRecognised(D.ArcType)) Scan();
    if (!IsRecognised(D.ArcType)) FromOverlay();
  }

  // A self-extractor's archive follows its executable, after the scan's reach when the
  // executable is big (RAR 5 self-extractors' stubs are some 300 KB).
  void FromOverlay() {
    const std::optional<std::uint64_t> end = PeOverlayOffset(PeReader(), static_cast<std::uint64_t>(D.ArchiveSize));
    if (!end) return;
    const auto at = static_cast<std::int64_t>(*end);
    if (at + 4 > D.ArchiveSize) return;
    std::uint8_t bytes[4];
    ReadAt(at, bytes, 4);
    const TSignatureHit hit = ClassifySignature(bytes, true);
    if (!IsRecognised(hit.ArcType)) return;
    D.ArcType = hit.ArcType;
    D.ArchiveOffset = at + 1;
    D.LocatorFlags |= lfOffsetFound;
  }

  TPeReadAt PeReader() {
    return [this](std::uint64_t pos, void* buffer, std::size_t count) -> std::size_t {
      if (pos > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return 0;
      return static_cast<std::size_t>(
          ReadAt(static_cast<std::int64_t>(pos), static_cast<std::uint8_t*>(buffer), static_cast<std::int64_t>(count)));
    };
  }

  // Self-extractors may name the archive position in string resources 1 to 4.
  bool FromStringResources() {
    for (const std::string& text : ReadPeStrings(PeReader(), static_cast<std::uint64_t>(D.ArchiveSize), 1, 4)) {
      const std::optional<std::int64_t> number = text.empty() ? std::nullopt : WholeNumber(text);
      if (!number) break;
      if (*number < 0 || *number >= D.ArchiveSize) continue;
      std::uint8_t at[4];
      ReadAt(*number, at, 4);
      Classify(at, true);
      if (D.ArcType != atNA) {
        D.ArchiveOffset = *number + 1;
        D.LocatorFlags |= lfOffsetFound;
        return true;
      }
    }
    return false;
  }

  void DetectPlain() {
    std::int64_t zeros = 0;
    while (zeros < FHeadRead && FHead[static_cast<std::size_t>(zeros)] == 0) ++zeros;
    if (zeros < FHeadRead) Classify(FHead.data() + zeros, false);
    else if (FromBlankStub()) return;
    const bool ace = Same(FHead.data() + 7, AceMark, sizeof AceMark);
    switch (D.ArcType) {
      case atFileOpenErr:
      case atUnknown: return;
      case atZip:
        D.ArchiveOffset = ZipSearch();
        if ((D.LocatorFlags & lfOffsetFound) == 0 && D.ArchiveOffset == 0) {
          D.ArchiveOffset = zeros;
          D.LocatorFlags |= lfOffsetFound;
        }
        break;
      case atZipMV: D.ArchiveOffset = ZipSearch(); break;
      case atNA: break;
      default:
        if (ace) D.ArcType = atAce;
        break;
    }
    if (IsRecognised(D.ArcType)) return;
    if (ace) {
      D.ArcType = atAce;
    } else if (!UueTest() && !TarTest()) {
      if (ZipSearch() > 0) D.ArcType = D.ZipDiskNumber == 0 ? atZip : atZipMV;
    }
  }

  // Zeros that fill the whole head are no zero-prefixed archive but a stub blanked
  // out: the archive after it is taken as embedded, like a self-extractor's.
  bool FromBlankStub() {
    if (FHeadRead < HeadBufferSize) return false;
    std::vector<std::uint8_t> block(static_cast<std::size_t>(ScanBlock));
    const std::int64_t stop = std::min(D.ArchiveSize, HeadBufferSize + BlankStubLimit);
    for (std::int64_t pos = HeadBufferSize; pos < stop; pos += ScanBlock) {
      const std::int64_t got = ReadAt(pos, block.data(), std::min(ScanBlock, stop - pos));
      if (got <= 0) return false;
      for (std::int64_t i = 0; i < got; ++i) {
        if (block[static_cast<std::size_t>(i)] == 0) continue;
        std::uint8_t at[4];
        ReadAt(pos + i, at, 4);
        Classify(at, true);
        if (!IsRecognised(D.ArcType)) return false;
        D.ArchiveOffset = pos + i + 1;
        D.LocatorFlags |= lfOffsetFound;
        return true;
      }
    }
    return false;
  }

  bool UueTest() {
    std::vector<std::uint8_t> text(static_cast<std::size_t>(UueWindow));
    const auto n = static_cast<std::size_t>(ReadAt(0, text.data(), std::min(D.ArchiveSize, UueWindow)));
    static const std::uint8_t begin6[] = {'b', 'e', 'g', 'i', 'n', ' ', '6'};
    static const std::uint8_t begin7[] = {'b', 'e', 'g', 'i', 'n', ' ', '7'};
    for (std::size_t i = 0; i + sizeof begin6 <= n; ++i) {
      if (i > 0 && text[i - 1] != '\n') continue;
      if (Same(&text[i], begin6, sizeof begin6) || Same(&text[i], begin7, sizeof begin7)) {
        D.ArcType = atUUE;
        D.ArchiveOffset = 1;
        return true;
      }
    }
    return false;
  }

  bool TarTest() {
    if (D.ArchiveSize <= TarBlock) return false;
    std::uint8_t* h = D.TarHeader.data();
    ReadAt(0, h, TarBlock);
    if (h[156] == 'V') {  // a volume label comes first; the archive follows it
      D.ArchiveOffset = TarBlock + 1;
      ReadAt(TarBlock, h, TarBlock);
    }
    std::uint32_t stored = 0;
    for (int i = 148; i < 156; ++i)
      if (h[i] >= '0' && h[i] <= '7') stored = stored * 8 + (h[i] - '0');
    std::uint32_t sum = 0;
    for (int i = 0; i < TarBlock; ++i) sum += (i >= 148 && i < 156) ? 32u : h[i];
    if (stored == sum) {
      D.ArcType = atTar;
      return true;
    }
    D.ArchiveOffset = 1;
    return false;
  }

  // Looks for self-extractor markers from 17000 on; the result replaces type and offset.
  void Scan() {
    D.ArcType = atNA;
    D.ArchiveOffset = 0;
    if (ScanStart >= D.ArchiveSize) return;
    const std::int64_t span = std::min(ScanBlock * ScanBlocks, D.ArchiveSize - ScanStart);
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(span) + Lookahead);
    if (ReadAt(ScanStart, buf.data(), static_cast<std::int64_t>(buf.size())) < span) return;
    static const std::uint8_t aceTail[] = {'*', 'A', 'C', 'E'};
    static const std::uint8_t bh[] = {0x42, 0x48, 0x05, 0x07};
    static const std::uint8_t bhNot[] = {0x0F, 0x94, 0xC3, 0x84};
    static const std::uint8_t zipNot[] = {0x74, 0x0B, 0x3D, 0x00};
    static const std::uint8_t rar[] = {'R', 'a', 'r', '!'};
    const std::int64_t size = D.ArchiveSize;
    for (std::int64_t i = 0; i < span; ++i) {
      const std::uint8_t* b = &buf[static_cast<std::size_t>(i)];
      const std::int64_t p = ScanStart + i;
      const bool room4 = p + 4 <= size;
      const bool room8 = p + 8 <= size;
      if (b[0] == '*' && Same(b + 1, aceTail, 4) && p + 5 < size) {
        Found(atAceExe, p - 6);
        return;
      }
      if (b[0] == '-' && b[1] == 'l' && b[2] == 'h' && b[4] == '-' && p + 5 < size) {
        Found(atLhaExe, p - 1);
        return;
      }
      if (room4 && Same(b, bh, 4) && !(room8 && Same(b + 4, bhNot, 4))) {
        Found(atBhExe, p + 1);
        return;
      }
      if (room4 && Same(b, ZipLocal, 4) && !(room8 && Same(b + 4, zipNot, 4))) {
        const std::int64_t dir = ZipSearch();
        Found(atZipExe, dir != 0 ? dir : p);
        return;
      }
      if (room4 && Same(b, rar, 4)) {
        Found(atRarExe, p + 1);
        return;
      }
    }
  }

  void Found(TArcType type, std::int64_t offset) {
    D.ArcType = type;
    D.ArchiveOffset = offset;
  }

  // Finds the ZIP directory from the end record; returns its position, 0 for none.
  std::int64_t ZipSearch() {
    if (D.ArchiveSize == 0) return 0;
    D.LocatorFlags = 0;
    const std::int64_t n = std::min(D.ArchiveSize - 1, ZipBlock);
    std::vector<std::uint8_t> tail(static_cast<std::size_t>(n));
    ReadAt(D.ArchiveSize - n, tail.data(), n);
    for (std::int64_t i = n - 22; i >= 1; --i) {
      const std::uint8_t* r = &tail[static_cast<std::size_t>(i)];
      if (r[0] != 'P' || r[2] != 5 || r[3] != 6) continue;
      // A scrambled record ("PL") cannot be read, so nothing is found.
      if (r[1] == 'L') return 0;
      if (r[1] != 'K') continue;
      std::memcpy(D.ZipEndRecord.data(), r, D.ZipEndRecord.size());
      D.LocatorFlags |= lfEndRecordRead;
      D.ZipDiskNumber = LeU16(r + 4);
      const std::int64_t directory = LeU32(r + 16);
      std::uint8_t* c = D.ZipCentralHeader.data();
      ReadAt(directory, c, 46);
      if (c[0] == 'P' && (c[1] == 'K' || c[1] == 'M') && c[2] == 1 && c[3] == 2) {
        D.LocatorFlags |= lfCentralHeaderRead;
        std::uint8_t* l = D.ZipLocalHeader.data();
        ReadAt(LeU32(c + 42), l, 30);
        if (l[0] == 'P' && (l[1] == 'K' || l[1] == 'M') && l[2] == 3 && l[3] == 4)
          D.LocatorFlags |= lfOffsetFound;
        return directory;
      }
      return FirstLocalHeader();
    }
    return 0;
  }

  // The directory is not where the end record says: take the first local header.
  std::int64_t FirstLocalHeader() {
    D.LocatorFlags &= lfEndRecordRead;
    std::vector<std::uint8_t> block(static_cast<std::size_t>(ZipBlock));
    for (std::int64_t k = 0; k < 4; ++k) {
      const std::int64_t got = ReadAt(k * ZipBlock, block.data(), ZipBlock);
      for (std::int64_t j = 0; j + 4 <= got; ++j) {
        const std::uint8_t* b = &block[static_cast<std::size_t>(j)];
        if (b[0] == 'P' && (b[1] == 'K' || b[1] == 'M') && b[2] == 3 && b[3] == 4) {
          D.LocatorFlags = lfOffsetFound;
          return k * ZipBlock + j;
        }
      }
    }
    return 0;
  }

  TFileStream32& FIn;
  TDetection& D;
  std::vector<std::uint8_t> FHead;
  std::int64_t FHeadRead = 0;
};

}  // namespace

TSignatureHit ClassifySignature(const std::uint8_t* bytes, bool embedded) {
  for (const TSignatureRow& row : SignatureTable) {
    if (!Same(bytes + row.At, row.Bytes, row.Length)) continue;
    TSignatureHit hit;
    hit.ArcType = embedded ? row.Embedded : row.Plain;
    hit.ZipSearch = row.Action == TRowAction::ZipSearch;
    hit.Offset7717 = row.Action == TRowAction::Offset7717 || (embedded && row.Action == TRowAction::Offset7717Embedded);
    return hit;
  }
  return {};
}

TDetection DetectArchive(const std::string& fileName) {
  TDetection d;
  if (fileName.empty()) return d;
  try {
    TFileStream32 in(fileName, fmOpenRead | fmShareDenyNone);
    TDetector(in, d).Run(fileName);
  } catch (...) {
    // Detection reports nothing; the type reached so far stands.
  }
  return d;
}

std::int32_t VolumeNumberFromName(const std::string& fileName, TArcType type) {
  const char* fallback = nullptr;
  switch (type) {
    case atAce: fallback = "Ace"; break;
    case atArj: fallback = "Arj"; break;
    case atRar:
    case atRarExe: fallback = "Rar"; break;
    default: return 0;
  }
  std::string ext = ExtractFileExt(ExtractFileName(fileName));
  ext = ext.empty() ? fallback : ext.substr(1);
  // Only digits that run to the end count ("r0x" has none).
  std::size_t first = ext.size();
  while (first > 0 && ext[first - 1] >= '0' && ext[first - 1] <= '9') --first;
  const std::int32_t none = type == atArj ? 1 : 0;
  if (first == ext.size()) return none;
  std::int64_t value = 0;
  for (std::size_t i = first; i < ext.size(); ++i) {
    value = value * 10 + (ext[i] - '0');
    if (value >= std::numeric_limits<std::int32_t>::max()) return none;  // no room for the + 1
  }
  return static_cast<std::int32_t>(value + 1);
}
