// The component's own walk over the headers of a volume: how many files the run is to extract
// and how many bytes they hold, the CRC that the last part of a split file carries, whether the
// set goes on after the volume, and the stored folders. It reads with the library's block
// layer, so that it finds the archive where the library does (after zero bytes, behind a
// self-extractor's stub) and names the entries as the library names them.
#include <cstdint>

#include "archive/aknStreams.h"
#include "archive/aknUnRar.h"
#include "platform/FileSystem.h"
#include "unrar/RarBlocks.h"

namespace {

// The block layer's byte source over the component's file handle.
class THandleSource : public TByteSource {
 public:
  explicit THandleSource(TRegisterArkon& file) : FFile(file), FSize(file.GetFileSize()) {}
  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
    if (!FFile.SetFilePos(static_cast<std::int64_t>(offset))) return 0;
    const std::int64_t got = FFile.ReadFileBytes(buffer, static_cast<std::int64_t>(size));
    return got < 0 ? 0 : static_cast<size_t>(got);
  }
  uint64_t Size() const override { return FSize < 0 ? 0 : static_cast<uint64_t>(FSize); }

 private:
  TRegisterArkon& FFile;
  std::int64_t FSize;
};

}  // namespace

void TUnRar::ScanVolume(const std::string& volume) {
  if (!OpenFileRead(volume)) Fail(FCurrentVolume, 25235);
  struct TCloseOnError {
    TUnRar& Self;
    bool Armed = true;
    ~TCloseOnError() {
      if (Armed) Self.CloseFileHandle();
    }
  } guard{*this};
  THandleSource source(*this);
  TRarBlockReader reader(source);
  if (reader.Open() != ERAR_SUCCESS) {
    // Too short for a marker and a main header; anything else that is no archive the
    // library's open reports.
    if (source.Size() < 20) Fail(volume, 25236);
    guard.Armed = false;
    if (!CloseFileHandle()) Fail(volume, 25138);
    return;
  }
  const bool isVolume = reader.MainFlags() & RarMainVolume;
  // Old volumes may end without an end block; then only the next volume's absence tells.
  bool continues = isVolume;
  bool incomplete = false;
  std::vector<std::string> folders;
  for (bool more = true; more;) {
    const TRarBlock block = reader.Next();
    switch (block.Kind) {
      case TRarBlockKind::File: NoteScannedEntry(block.Entry, folders); break;
      case TRarBlockKind::Skipped: break;
      case TRarBlockKind::End:
        continues = isVolume && (block.EndFlags & RarEndNextVolume);
        more = false;
        break;
      case TRarBlockKind::EncryptedHeaders:
        FHeadersHidden = true;  // only the library, with the password, sees the entries
        incomplete = true;
        more = false;
        break;
      case TRarBlockKind::Eof: more = false; break;
      default:
        // Damage: what follows is not known here.
        incomplete = true;
        more = false;
        break;
    }
  }
  FSetContinues = continues;
  FScanIncomplete = incomplete;
  if (CreateStoredDirs()) {
    const std::string root = ResolvedExtractDir();
    for (const std::string& folder : folders) {
      std::string path = root;
      for (const std::string& part : SafeNameParts(folder)) path += part + "/";
      // A folder that cannot be made (a link in the way) is reported with its files.
      if (path != root) MakeFoldersInside(path, nullptr);
    }
  }
  guard.Armed = false;
  if (!CloseFileHandle()) Fail(volume, 25138);
}

void TUnRar::NoteScannedEntry(const TRarEntryHeader& h, std::vector<std::string>& folders) {
  if ((h.IsDirectory() || (ReportedAttributes(h) & 0x10)) && h.RedirType == RarRedirNone) {
    if (CreateStoredDirs()) folders.push_back(h.Name);
    return;
  }
  if (!MatchEntryName(h.Name)) return;
  if (h.SplitBefore()) {
    FLastPartCrc[h.Name] = h.FileCRC;
  } else {
    ++FToDoCount;
    FBytesExpected += static_cast<std::int64_t>(h.UnpSize);
  }
}
