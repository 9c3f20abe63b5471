#include "unrar/RarArchive.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

#include "unrar/RarCrc.h"
#include "unrar/RarOutput.h"
#include "unrar/RarVolumes.h"

struct TRarArchive::TVolume {
  std::string Path;
  std::unique_ptr<TByteSource> Source;
  TRarBlockReader Reader;
  std::string NamingBase;  // the name the next volume's name is derived from
  TVolume(std::string path, std::unique_ptr<TByteSource> source, TRarKeyCache& keys)
      : Path(std::move(path)), Source(std::move(source)), Reader(*Source), NamingBase(Path) {
    Reader.SetHeaderKeys(&keys);
  }
};

namespace {

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Checks and forwards every unpacked block: CRC, the caller's data callback, the output file.
class TEntrySink : public IUnpackSink {
 public:
  TEntrySink(PROCESSDATAPROC callback, TOutputFile* out) : Callback(callback), Out(out) {}
  int Write(const uint8_t* data, size_t size) override {
    Crc = RarCrc32(Crc, data, size);
    Count += size;
    if (Callback && Callback(const_cast<uint8_t*>(data), int(size)) <= 0) return ERAR_UNKNOWN;
    return Out ? Out->Write(data, size) : ERAR_SUCCESS;
  }
  uint32_t Crc = 0;
  uint64_t Count = 0;

 private:
  PROCESSDATAPROC Callback;
  TOutputFile* Out;
};

std::string TempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

// Once the set cannot be read further every read reports it; 12 would read as "one more entry".
int StickyEnd(int rc) { return rc == ERAR_BAD_DATA ? ERAR_BAD_ARCHIVE : rc; }

// An entry's packed bytes: its parts, then the decrypting stage when it is encrypted.
class TEntryInput : public IPackedInput {
 public:
  TEntryInput(const TRarEntry& entry, TSourceProvider& sources, TRarKeyCache& keys, uint64_t plainLimit)
      : Parts(entry.Parts, sources) {
    if (!entry.Header.Encrypted()) return;
    Failure = CanDecryptRar4(entry.Header, keys);
    if (Failure == ERAR_SUCCESS) Decrypt = MakeRar4DecryptStage(Parts, entry.Header, keys, plainLimit);
  }
  int Read(uint8_t* buffer, size_t size, size_t& got) override {
    got = 0;
    if (Failure) return Failure;
    return Decrypt ? Decrypt->Read(buffer, size, got) : Parts.Read(buffer, size, got);
  }

 private:
  TPartsInput Parts;
  std::unique_ptr<IPackedInput> Decrypt;
  int Failure = ERAR_SUCCESS;
};

}  // namespace

TRarArchive::~TRarArchive() = default;

std::unique_ptr<TRarArchive> TRarArchive::OpenFile(const std::string& path, bool listOnly, int& result) {
  auto source = TFileSource::Open(path);
  if (!source) {
    result = ERAR_EOPEN;
    return nullptr;
  }
  std::unique_ptr<TRarArchive> archive(new TRarArchive);
  archive->ListOnly = listOnly;
  result = archive->OpenFirst(std::move(source), path);
  return result == ERAR_SUCCESS ? std::move(archive) : nullptr;
}

std::unique_ptr<TRarArchive> TRarArchive::OpenMemory(const void* data, size_t size, int& result) {
  std::unique_ptr<TRarArchive> archive(new TRarArchive);
  archive->InMemory = true;
  result = archive->OpenFirst(std::make_unique<TMemorySource>(data, size), "memory");
  return result == ERAR_SUCCESS ? std::move(archive) : nullptr;
}

int TRarArchive::OpenFirst(std::unique_ptr<TByteSource> source, const std::string& path) {
  if (auto* file = dynamic_cast<TFileSource*>(source.get())) SeenVolumes.insert(file->Identity());
  Volume = std::make_unique<TVolume>(path, std::move(source), Keys);
  int rc = Volume->Reader.Open();
  FirstMarkerAtStart = Volume->Reader.MarkerPos() == 0 && !Volume->Reader.IsRar5();
  FirstVolumePath = path;
  Solid = Volume->Reader.MainFlags() & RarMainSolid;
  return rc;
}

TByteSource* TRarArchive::SourceFor(const std::string& volumePath) {
  if (Volume && Volume->Path == volumePath) return Volume->Source.get();
  if (InMemory) return nullptr;
  auto found = Sources.find(volumePath);
  if (found != Sources.end()) return found->second.get();
  // A few volumes at a time are enough; the descriptors of long sets must not pile up.
  if (Sources.size() >= 8) Sources.clear();
  auto source = TFileSource::Open(volumePath);
  if (!source) return nullptr;
  return (Sources[volumePath] = std::move(source)).get();
}

int TRarArchive::ChangeVolume() {
  if (InMemory) return ERAR_EOPEN;
  std::string expected = NextVolumeName(Volume->NamingBase, Volume->Reader.MainFlags() & RarMainNewNaming);
  std::string next = expected;
  std::vector<char> buffer(RAR_VOL_NAME_SIZE);
  auto intoBuffer = [&buffer](const std::string& name) {
    std::fill(buffer.begin(), buffer.end(), '\0');
    name.copy(buffer.data(), buffer.size() - 1);
  };
  // A caller that keeps answering "go on" without naming an existing file would loop forever.
  for (int asks = 0; !IsRegularFile(next); ++asks) {
    if (!ChangeVolProc || asks >= 64) return ERAR_EOPEN;
    intoBuffer(next);
    if (ChangeVolProc(buffer.data(), RAR_VOL_ASK) <= 0) return ERAR_EOPEN;
    buffer.back() = '\0';
    next = buffer.data();
  }
  bool renamed = next != expected;
  auto source = TFileSource::Open(next);
  if (!source) return ERAR_EOPEN;
  // A name that leads back to a volume already read would go round for ever.
  if (!SeenVolumes.insert(source->Identity()).second) return ERAR_EOPEN;
  auto volume = std::make_unique<TVolume>(next, std::move(source), Keys);
  // Later names follow the set's own naming, also when this volume was found under another name.
  volume->NamingBase = renamed ? expected : next;
  if (volume->Reader.Open() != ERAR_SUCCESS) return ERAR_BAD_ARCHIVE;
  if (ChangeVolProc) {
    intoBuffer(next);
    if (ChangeVolProc(buffer.data(), RAR_VOL_NOTIFY) <= 0) return ERAR_EOPEN;
  }
  Volume = std::move(volume);
  return ERAR_SUCCESS;
}

int TRarArchive::NextEntry(TRarEntry& entry) {
  for (;;) {
    TRarBlock block = Volume->Reader.Next();
    bool isVolume = Volume->Reader.MainFlags() & RarMainVolume;
    switch (block.Kind) {
      case TRarBlockKind::File:
        // The tail of a file that began in a volume we did not read.
        if (block.Entry.SplitBefore()) continue;
        entry = TRarEntry{};
        entry.Header = block.Entry;
        entry.VolumeName = Volume->Path;
        entry.Parts.push_back({Volume->Path, block.Entry.DataPos, block.Entry.PackSize});
        entry.WholeCrc = block.Entry.FileCRC;
        return block.Entry.HeaderCrcOk ? ERAR_SUCCESS : ERAR_BAD_DATA;
      case TRarBlockKind::Skipped:
        continue;
      case TRarBlockKind::End:
        if (isVolume && (block.EndFlags & RarEndNextVolume)) {
          if (int rc = ChangeVolume()) return rc;
          continue;
        }
        return ERAR_END_ARCHIVE;
      case TRarBlockKind::Eof:
        // Old volumes may end without an end block; go on only when the next one is there.
        if (isVolume && !InMemory &&
            IsRegularFile(NextVolumeName(Volume->NamingBase, Volume->Reader.MainFlags() & RarMainNewNaming))) {
          if (int rc = ChangeVolume()) return rc;
          continue;
        }
        return ERAR_END_ARCHIVE;
      case TRarBlockKind::EncryptedHeaders:
      case TRarBlockKind::WrongPassword:
        // Either way the headers stay closed; nothing garbled is ever reported as an entry.
        return ERAR_MISSING_PASSWORD;
      case TRarBlockKind::Broken:
        return ERAR_BAD_ARCHIVE;
    }
  }
}

int TRarArchive::CollectParts(TRarEntry& entry) {
  if (entry.Collected) return ERAR_SUCCESS;
  entry.Collected = true;
  bool more = entry.Header.SplitAfter();
  while (more) {
    if (int rc = ChangeVolume()) return rc;
    TRarBlock block;
    do block = Volume->Reader.Next();
    while (block.Kind == TRarBlockKind::Skipped);
    if (block.Kind != TRarBlockKind::File || !block.Entry.SplitBefore() || block.Entry.Name != entry.Header.Name)
      return ERAR_BAD_DATA;
    entry.Parts.push_back({Volume->Path, block.Entry.DataPos, block.Entry.PackSize});
    entry.WholeCrc = block.Entry.FileCRC;
    more = block.Entry.SplitAfter();
  }
  return ERAR_SUCCESS;
}

int TRarArchive::ReadAhead() {
  ReadAheadDone = true;
  for (;;) {
    TRarEntry entry;
    int rc = NextEntry(entry);
    if (rc != ERAR_SUCCESS && rc != ERAR_BAD_DATA) return SolidTail = rc;
    int parts = CollectParts(entry);
    entry.Status = parts;
    SolidEntries.push_back(std::move(entry));
    if (parts != ERAR_SUCCESS) return SolidTail = StickyEnd(parts);
  }
}

int TRarArchive::ReadHeader(TRarEntryHeader& header, std::string& volumeName) {
  if (HaveCurrent) ProcessFile(RAR_SKIP, nullptr, nullptr);
  const TRarEntry* entry = nullptr;
  int rc;
  // Headers a password did not open were not consumed: after another password the same read
  // goes on from there.
  if (Solid) {
    // A solid set is read ahead whole, volume changes included, so it can be unpacked in one pass.
    bool locked = SolidCursor >= SolidEntries.size() && SolidTail == ERAR_MISSING_PASSWORD;
    if (!ReadAheadDone || (locked && Keys.CanOpenHeaders())) ReadAhead();
    if (SolidCursor >= SolidEntries.size()) return SolidTail;
    entry = &SolidEntries[SolidCursor++];
    rc = entry->Header.HeaderCrcOk ? ERAR_SUCCESS : ERAR_BAD_DATA;
  } else {
    if (Ended) return Ended;
    rc = NextEntry(Current);
    if (rc == ERAR_MISSING_PASSWORD) return rc;
    if (rc != ERAR_SUCCESS && rc != ERAR_BAD_DATA) return Ended = rc;
    entry = &Current;
  }
  HaveCurrent = true;
  header = entry->Header;
  volumeName = entry->VolumeName;
  return rc;
}

TRarArchive::TRoute TRarArchive::Route(const TRarEntry& e) const {
  const TRarEntryHeader& h = e.Header;
  if (h.IsDirectory()) return TRoute::Folder;
  // libunarr unpacks RAR 2.0 to 2.9 compression (unpack versions 20 to 36); RAR 1.5
  // compression, RAR 5 and methods past "best" have no decoder here yet.
  const bool stored = h.Method == RarMethodStore;
  if (h.UnpVer == RarVersion5 || h.UnpVer > 36 || h.Method > RarMethodStore + 5 || (!stored && h.UnpVer < 20))
    return TRoute::Unsupported;
  if (Solid) return !stored && AfterEncryptedPacked(e) ? TRoute::Unsupported : TRoute::UnarrSolid;
  return stored ? TRoute::Copy : TRoute::Unarr;
}

bool TRarArchive::AfterEncryptedPacked(const TRarEntry& e) const {
  for (const TRarEntry& earlier : SolidEntries) {
    if (&earlier == &e) return false;
    if (earlier.Header.Encrypted() && earlier.Header.Method != RarMethodStore) return true;
  }
  return false;
}

int TRarArchive::CanRead(const TRarEntry& e) const {
  return e.Header.Encrypted() ? CanDecryptRar4(e.Header, Keys) : ERAR_SUCCESS;
}

std::unique_ptr<IPackedInput> TRarArchive::EntryInput(const TRarEntry& entry, uint64_t plainLimit) {
  TSourceProvider& sources = *this;
  return std::make_unique<TEntryInput>(entry, sources, Keys, plainLimit);
}

int TRarArchive::ProcessFile(int operation, const char* destPath, const char* destName) {
  if (!HaveCurrent) return ERAR_BAD_ARCHIVE;
  HaveCurrent = false;
  size_t solidIndex = SolidCursor - 1;
  TRarEntry& entry = Solid ? SolidEntries[solidIndex] : Current;
  int rc = entry.Status;
  if (!Solid && entry.Header.SplitAfter()) {
    // Skipping a split file still walks through its volumes, so reading goes on behind it.
    rc = CollectParts(entry);
    if (rc != ERAR_SUCCESS) Ended = StickyEnd(rc);
  }
  if (ListOnly || (operation != RAR_TEST && operation != RAR_EXTRACT)) return rc;

  const TRarEntryHeader& h = entry.Header;
  std::string target;
  if (operation == RAR_EXTRACT) {
    target = destName && *destName ? std::string(destName) : JoinInside(destPath ? destPath : "", h.Name);
    if (target.empty()) {
      LastOutputError = EINVAL;
      return ERAR_ECREATE;
    }
  }
  const TRoute route = Route(entry);
  if (route == TRoute::Folder) {
    if (operation == RAR_EXTRACT) {
      if (!MakeFolders(target)) {
        LastOutputError = errno;
        return ERAR_ECREATE;
      }
      ApplyTimeAndAttributes(target, h, true);
    }
    return rc;
  }
  if (rc != ERAR_SUCCESS) return rc;
  if (route == TRoute::Unsupported) return ERAR_UNKNOWN_FORMAT;
  if (int can = CanRead(entry)) {
    // The entry stays current, so that the caller may set a password and try again.
    if (can == ERAR_MISSING_PASSWORD) HaveCurrent = true;
    return can;
  }
  std::string tempFolder = operation == RAR_EXTRACT ? FolderOf(target) : TempFolder();
  rc = Unpack(entry, route, solidIndex, operation, target, tempFolder);
  // RAR 4 cannot tell a wrong password before the data's CRC fails; the caller may try another.
  if (rc == ERAR_BAD_DATA && h.Encrypted()) HaveCurrent = true;
  return rc;
}

int TRarArchive::Unpack(const TRarEntry& entry, TRoute route, size_t solidIndex, int operation,
                        const std::string& target, const std::string& tempFolder) {
  TOutputFile out;
  if (operation == RAR_EXTRACT) {
    if (int rc = out.Create(target)) {
      LastOutputError = out.Error();
      return rc;
    }
  }
  TEntrySink sink(ProcessDataProc, operation == RAR_EXTRACT ? &out : nullptr);
  int rc = Decode(entry, route, solidIndex, sink, tempFolder);
  if (rc == ERAR_SUCCESS && sink.Count != entry.Header.UnpSize) rc = ERAR_BAD_DATA;
  // What a wrong password gives is garbage of the right length: it is never kept as a file.
  if (rc == ERAR_SUCCESS && entry.Header.Encrypted() && sink.Crc != entry.WholeCrc) rc = ERAR_BAD_DATA;
  if (rc == ERAR_SUCCESS && operation == RAR_EXTRACT) rc = out.Finish(entry.Header);
  if (rc == ERAR_EWRITE || rc == ERAR_ECLOSE) LastOutputError = out.Error() ? out.Error() : errno;
  if (rc != ERAR_SUCCESS) return rc;  // a partial file goes with `out`
  // A complete file whose CRC fails is kept: it is all the archive has, and the caller is told.
  return sink.Crc == entry.WholeCrc ? ERAR_SUCCESS : ERAR_BAD_DATA;
}

int TRarArchive::Decode(const TRarEntry& entry, TRoute route, size_t solidIndex, IUnpackSink& sink,
                        const std::string& tempFolder) {
  const TRarEntryHeader& h = entry.Header;
  switch (route) {
    case TRoute::Copy: {
      // Stored data decrypted is padded to the cipher's block: exactly the file is taken.
      std::unique_ptr<IPackedInput> input = EntryInput(entry, h.UnpSize);
      return CopyStored(*input, h.UnpSize, sink);
    }
    case TRoute::Unarr: {
      // A big entry of a plain archive file is read where it lies: copying it first would double
      // the reading for nothing. Volumes, stubs, old commented headers and encrypted data take
      // the image.
      if (!InMemory && entry.Parts.size() == 1 && h.PackSize > TUnarrSession::MemoryLimit && FirstMarkerAtStart &&
          !(Volume->Reader.MainFlags() & RarMainVolume) && !(h.Flags & (RarFileComment | RarFileEncrypted)) &&
          entry.VolumeName == FirstVolumePath) {
        TUnarrSession direct;
        int rc = direct.ExtractInPlace(entry.VolumeName, h.HeaderPos, h.UnpSize, sink);
        if (rc != TUnarrSession::NotInPlace) return rc;
      }
      TUnarrSession session;
      if (int rc = session.Build({&entry}, false, ImageInputs(), tempFolder)) return rc;
      return session.Extract(0, sink);
    }
    case TRoute::UnarrSolid: return DecodeSolid(solidIndex, sink, tempFolder);
    default: return ERAR_UNKNOWN_FORMAT;
  }
}

TUnarrSession::TEntryInputs TRarArchive::ImageInputs() {
  // The image holds what the decoder reads: decrypted data keeps its padding, as the packed
  // size in the image's header counts it.
  return [this](const TRarEntry& e) { return EntryInput(e, TRarDecryptInput::NoLimit); };
}

int TRarArchive::DecodeSolid(size_t solidIndex, IUnpackSink& sink, const std::string& tempFolder) {
  // The image is made again when a password came (or changed) since, when entries were added
  // by headers a password opened later, or for an entry tried again.
  long image = solidIndex < SolidImageIndex.size() ? SolidImageIndex[solidIndex] : -1;
  if (SolidSession && (SolidKeyGeneration != Keys.Generation() || SolidImageIndex.size() != SolidEntries.size() ||
                       (image >= 0 && !SolidSession->CanExtract(size_t(image)))))
    SolidSession.reset();
  if (!SolidSession) {
    std::vector<const TRarEntry*> decodable;
    SolidImageIndex.assign(SolidEntries.size(), -1);
    for (size_t i = 0; i < SolidEntries.size(); ++i) {
      const TRarEntry& e = SolidEntries[i];
      if (e.Status != ERAR_SUCCESS || Route(e) != TRoute::UnarrSolid || CanRead(e) != ERAR_SUCCESS) continue;
      SolidImageIndex[i] = long(decodable.size());
      decodable.push_back(&e);
    }
    SolidSession = std::make_unique<TUnarrSession>();
    SolidKeyGeneration = Keys.Generation();
    if (int rc = SolidSession->Build(decodable, true, ImageInputs(), tempFolder)) {
      SolidSession.reset();
      return rc;
    }
    image = SolidImageIndex[solidIndex];
  }
  int rc = image < 0 ? ERAR_BAD_DATA : SolidSession->Extract(size_t(image), sink);
  // After a failure mid-entry the decoder is out of step; the next entry starts a fresh pass.
  if (rc != ERAR_SUCCESS) SolidSession.reset();
  return rc;
}
