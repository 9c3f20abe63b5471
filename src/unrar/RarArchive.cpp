#include "unrar/RarArchive.h"

#include <cerrno>
#include <climits>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "unrar/RarHash.h"
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

// Checks and forwards every unpacked block: the entry's hash, the caller's data callback, the
// output file.
class TEntrySink : public IUnpackSink {
 public:
  TEntrySink(PROCESSDATAPROC callback, TOutputFile* out, uint8_t hashType)
      : Hasher(hashType), Callback(callback), Out(out) {}
  int Write(const uint8_t* data, size_t size) override {
    Hasher.Update(data, size);
    Count += size;
    if (Callback && Callback(const_cast<uint8_t*>(data), int(size)) <= 0) return ERAR_UNKNOWN;
    if (KeepLimit) {
      if (Kept.size() + size > KeepLimit) KeptTooMuch = true;
      else Kept.append(reinterpret_cast<const char*>(data), size);
    }
    if (!Out || WriteError) return ERAR_SUCCESS;
    const int rc = Out->Write(data, size);
    if (rc == ERAR_SUCCESS || !KeepGoing) return rc;
    // The decoder goes on, for the solid entries that follow this one.
    WriteError = rc;
    return ERAR_SUCCESS;
  }
  TRarHasher Hasher;
  uint64_t Count = 0;
  bool KeepGoing = false;  // a failed write does not stop the decoder
  int WriteError = 0;
  size_t KeepLimit = 0;    // the data is kept too, up to this much
  std::string Kept;
  bool KeptTooMuch = false;

 private:
  PROCESSDATAPROC Callback;
  TOutputFile* Out;
};

// The longest link target a RAR 1.5-4.x link entry may hold.
constexpr size_t MaxLinkTarget = PATH_MAX - 1;

bool IsRar5Encrypted(const TRarEntryHeader& h) { return h.UnpVer == RarVersion5 && h.Encrypted(); }

// The key under which an entry's name is remembered for hard links and copies.
std::string EntryKey(const std::string& name) { return JoinInside("", name); }

// Once the set cannot be read further every read reports it; 12 would read as "one more entry".
int StickyEnd(int rc) { return rc == ERAR_BAD_DATA ? ERAR_BAD_ARCHIVE : rc; }

// An entry's packed bytes: its parts, then the decrypting stage when it is encrypted. An
// encrypted RAR 5 entry takes the key its password check found (see Rar5Key).
class TEntryInput : public IPackedInput {
 public:
  TEntryInput(const TRarEntry& entry, TSourceProvider& sources, TRarKeyCache& keys, const TRar5Key* rar5Key,
              uint64_t plainLimit)
      : Parts(entry.Parts, sources) {
    const TRarEntryHeader& h = entry.Header;
    if (!h.Encrypted()) return;
    if (IsRar5Encrypted(h)) {
      if (rar5Key) Decrypt = std::make_unique<TAesCbcInput>(Parts, *rar5Key, h.Crypt.Iv.data(), plainLimit);
      else Failure = ERAR_MISSING_PASSWORD;
      return;
    }
    Failure = CanDecryptRar4(h, keys);
    if (Failure == ERAR_SUCCESS) Decrypt = MakeRar4DecryptStage(Parts, h, keys, plainLimit);
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
        entry.WholeHashType = block.Entry.HashType;
        entry.WholeHash = block.Entry.Hash;
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
      case TRarBlockKind::BadPassword:
        return ERAR_BAD_PASSWORD;
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
    entry.WholeHashType = block.Entry.HashType;
    entry.WholeHash = block.Entry.Hash;
    more = block.Entry.SplitAfter();
  }
  return ERAR_SUCCESS;
}

int TRarArchive::ReadHeader(TRarEntryHeader& header, std::string& volumeName) {
  if (HaveCurrent) ProcessFile(RAR_SKIP, nullptr, nullptr);
  if (Ended) return Ended;
  // Headers a password did not open were not consumed: after another password the same read
  // goes on from there.
  int rc = NextEntry(Current);
  if (rc == ERAR_MISSING_PASSWORD) return rc;
  if (rc != ERAR_SUCCESS && rc != ERAR_BAD_DATA) return Ended = rc;
  HaveCurrent = true;
  header = Current.Header;
  volumeName = Current.VolumeName;
  return rc;
}

TRarArchive::TRoute TRarArchive::Route(const TRarEntry& e) const {
  const TRarEntryHeader& h = e.Header;
  // A link or copy has no data; its target is in the header, which is never encrypted alone.
  // A link to a folder (a junction) is marked a folder too, and is no folder to make here.
  if (h.UnpVer == RarVersion5 && h.RedirType != RarRedirNone) return TRoute::Redirect;
  if (h.IsDirectory()) return TRoute::Folder;
  const bool stored = h.Method == RarMethodStore;
  if (h.UnpVer == RarVersion5) {
    // Encrypted data is decrypted on its way to the copy or the decoder (see Rar5Key).
    if (h.Method > RarMethodStore + 5) return TRoute::Unsupported;
    return stored ? TRoute::Copy : TRoute::Rar5;
  }
  // RAR 1.5 compression, versions past RAR 4 and methods past "best" have no decoder here.
  if (h.UnpVer > 36 || h.Method > RarMethodStore + 5) return TRoute::Unsupported;
  if (stored) return TRoute::Copy;
  return TRar3Unpacker::Decodes(h.UnpVer) ? TRoute::Rar3 : TRoute::Unsupported;
}

int TRarArchive::CanRead(const TRarEntry& e) const {
  // RAR 5 keys are checked against the entry's check value first (see Rar5Key).
  if (!e.Header.Encrypted() || IsRar5Encrypted(e.Header)) return ERAR_SUCCESS;
  return CanDecryptRar4(e.Header, Keys);
}

std::unique_ptr<IPackedInput> TRarArchive::EntryInput(const TRarEntry& entry, uint64_t plainLimit,
                                                      const TRar5Key* rar5Key) {
  TSourceProvider& sources = *this;
  return std::make_unique<TEntryInput>(entry, sources, Keys, rar5Key, plainLimit);
}

int TRarArchive::ProcessFile(int operation, const char* destPath, const char* destName) {
  if (!HaveCurrent) return ERAR_BAD_ARCHIVE;
  HaveCurrent = false;
  TRarEntry& entry = Current;
  int rc = entry.Status;
  if (entry.Header.SplitAfter()) {
    // Skipping a split file still walks through its volumes, so reading goes on behind it.
    rc = CollectParts(entry);
    if (rc != ERAR_SUCCESS) Ended = StickyEnd(rc);
  }
  const TRoute route = Route(entry);
  if (ListOnly || (operation != RAR_TEST && operation != RAR_EXTRACT)) {
    if (!ListOnly && SolidStreamRoute(route)) KeepForSolidStream(entry);
    return rc;
  }

  const TRarEntryHeader& h = entry.Header;
  TDestination dest;
  if (operation == RAR_EXTRACT) {
    dest = PlanDestination(destPath, destName, h.Name);
    if (dest.Empty()) {
      if (SolidStreamRoute(route)) KeepForSolidStream(entry);
      LastOutputError = EINVAL;
      return ERAR_ECREATE;
    }
  }
  if (route == TRoute::Folder) {
    if (operation == RAR_EXTRACT) {
      if (int error = MakeFolder(dest, h)) {
        LastOutputError = error;
        return ERAR_ECREATE;
      }
    }
    return rc;
  }
  if (rc != ERAR_SUCCESS) {
    if (SolidStreamRoute(route)) KeepForSolidStream(entry);
    return rc;
  }
  if (route == TRoute::Unsupported) return ERAR_UNKNOWN_FORMAT;
  if (int can = CanRead(entry)) {
    // The entry stays current, so that the caller may set a password and try again; one that
    // cannot be read at all still takes its place in its solid stream (and ends it there).
    if (can == ERAR_MISSING_PASSWORD) HaveCurrent = true;
    else if (SolidStreamRoute(route)) KeepForSolidStream(entry);
    return can;
  }
  if (route == TRoute::Redirect) return Redirect(entry, operation, dest);
  if (IsRar5Encrypted(h)) {
    const TRar5Key* key = nullptr;
    if (int refused = Rar5Key(h, key)) {
      // Without the right password the entry stays current for another try, and is still
      // kept for the solid entries after it when the caller moves on.
      HaveCurrent = refused == ERAR_MISSING_PASSWORD || refused == ERAR_BAD_PASSWORD;
      if (!HaveCurrent && SolidStreamRoute(route)) KeepForSolidStream(entry);
      return refused;
    }
  }
  if (SolidStreamRoute(route)) {
    if (entry.Header.Solid()) CatchUpSolidStream();
    else SolidBehind.clear();
  }
  rc = Unpack(entry, route, operation, dest);
  // Without a check value a wrong password shows only when the data's checksum fails; the
  // caller may try another, unless the entry's solid stream has already moved past it.
  if (rc == ERAR_BAD_DATA && h.Encrypted() && !(SolidStreamRoute(route) && h.Solid())) HaveCurrent = true;
  return rc;
}

void TRarArchive::KeepForSolidStream(const TRarEntry& entry) {
  // An entry that is not solid starts a stream of its own: what came before is not needed.
  if (!entry.Header.Solid()) SolidBehind.clear();
  SolidBehind.push_back(entry);
}

void TRarArchive::CatchUpSolidStream() {
  std::vector<TRarEntry> behind = std::move(SolidBehind);
  SolidBehind.clear();
  // Results do not matter here: after a failure the decoder refuses the solid entries that follow.
  for (const TRarEntry& e : behind) {
    TDropSink sink;
    Decode(e, Route(e), sink);
  }
}

int TRarArchive::Rar5Key(const TRarEntryHeader& h, const TRar5Key*& key) {
  key = nullptr;
  // A damaged record has no IV and salt to go by; another version is another cipher.
  if (h.Crypt.Version != 0) return ERAR_UNKNOWN_FORMAT;
  if (!Keys.HasPassword()) return ERAR_MISSING_PASSWORD;
  key = Keys.Rar5(h.Crypt.Salt.data(), h.Crypt.KdfCount);
  if (!key) return ERAR_BAD_DATA;
  return h.Crypt.HasPasswordCheck() ? CheckRar5Password(*key, h.Crypt.Check.data()) : ERAR_SUCCESS;
}

bool TRarArchive::HashMatches(const TRarHasher& hasher, const TRarEntry& e) {
  const TRarEntryHeader& h = e.Header;
  const TRar5Key* key = nullptr;
  // Keyed checksums: the stored value is the keyed form of the data's hash.
  if (IsRar5Encrypted(h) && h.Crypt.TweakedChecksums() && Rar5Key(h, key) == ERAR_SUCCESS) {
    if (hasher.Type() == RarHashCrc32) return Rar5TweakCrc32(hasher.Crc(), *key) == e.WholeCrc;
    if (hasher.Type() == RarHashBlake2) {
      std::array<uint8_t, 32> tweaked{};
      Rar5TweakBlake2sp(hasher.Blake2().data(), *key, tweaked.data());
      return tweaked == e.WholeHash;
    }
  }
  return hasher.Matches(e.WholeCrc, e.WholeHash);
}

TRar3Unpacker& TRarArchive::Unpacker3() {
  if (!Rar3Decoder) Rar3Decoder = std::make_unique<TRar3Unpacker>();
  return *Rar3Decoder;
}

TRar5Unpacker& TRarArchive::Unpacker5() {
  if (!Rar5Decoder) Rar5Decoder = std::make_unique<TRar5Unpacker>();
  return *Rar5Decoder;
}

void TRarArchive::Remember(const TRarEntry& entry, int operation, const TDestination& dest, bool whole) {
  const std::string key = EntryKey(entry.Header.Name);
  Extracted.erase(key);
  Tested.erase(key);
  if (!whole) return;
  if (operation == RAR_EXTRACT) Extracted[key] = dest;
  else Tested.insert(key);
}

int TRarArchive::Redirect(const TRarEntry& entry, int operation, const TDestination& dest) {
  const TRarEntryHeader& h = entry.Header;
  if (h.RedirType == RarRedirHardLink || h.RedirType == RarRedirFileCopy) {
    const std::string source = EntryKey(h.RedirTarget);
    if (operation == RAR_TEST) return Tested.count(source) || Extracted.count(source) ? ERAR_SUCCESS : ERAR_EREFERENCE;
    return CopyOfExtracted(entry, dest);
  }
  // A link has no data to test.
  if (operation == RAR_TEST) return ERAR_SUCCESS;
  if (h.RedirType == RarRedirUnixSymlink) return MakeSymlink(dest, h.RedirTarget, h, LastOutputError);
  // Junctions and Windows links name places of the machine that made them.
  return ERAR_SKIPPED_LINK;
}

int TRarArchive::CopyOfExtracted(const TRarEntry& entry, const TDestination& dest) {
  const TRarEntryHeader& h = entry.Header;
  const auto found = Extracted.find(EntryKey(h.RedirTarget));
  // Only a file this handle wrote is copied: never one that was there before, or outside.
  const int in = found == Extracted.end() ? -1 : OpenExtracted(found->second);
  if (in < 0) return ERAR_EREFERENCE;
  struct TClose {
    int Fd;
    ~TClose() { ::close(Fd); }
  } closeIn{in};
  TOutputFile out;
  if (int rc = out.Create(dest)) {
    LastOutputError = out.Error();
    return rc;
  }
  // The copy's header records no checksum of its own; its source passed its check.
  TEntrySink sink(ProcessDataProc, &out, RarHashNone);
  std::vector<uint8_t> buffer(UnpackChunk);
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ERAR_EREAD;
    if (n == 0) break;
    if (int rc = sink.Write(buffer.data(), size_t(n))) {
      if (rc == ERAR_EWRITE) LastOutputError = out.Error();
      return rc;
    }
  }
  // The source was replaced since (another entry of the same name): not the file the copy is of.
  if (!h.UnpSizeUnknown && sink.Count != h.UnpSize) return ERAR_BAD_DATA;
  if (int rc = out.Finish(h)) {
    LastOutputError = out.Error();
    return rc;
  }
  Remember(entry, RAR_EXTRACT, dest, true);
  return ERAR_SUCCESS;
}

int TRarArchive::Unpack(const TRarEntry& entry, TRoute route, int operation, const TDestination& dest) {
  const TRarEntryHeader& h = entry.Header;
  const bool extract = operation == RAR_EXTRACT;
  // A RAR 1.5-4.x link from Unix holds its target as data, which becomes a link, not a file.
  const bool link = extract && IsUnixLinkEntry(h);
  TOutputFile out;
  if (extract && !link) {
    if (int rc = out.Create(dest)) {
      LastOutputError = out.Error();
      // Still needed by the solid entries after it.
      if (SolidStreamRoute(route)) KeepForSolidStream(entry);
      return rc;
    }
  }
  TEntrySink sink(ProcessDataProc, extract && !link ? &out : nullptr, entry.WholeHashType);
  sink.KeepGoing = SolidStreamRoute(route) && (Volume->Reader.MainFlags() & RarMainSolid);
  if (link) sink.KeepLimit = MaxLinkTarget;
  int rc = Decode(entry, route, sink);
  if (rc == ERAR_SUCCESS && sink.WriteError) rc = sink.WriteError;
  if (rc == ERAR_SUCCESS && !h.UnpSizeUnknown && sink.Count != h.UnpSize) rc = ERAR_BAD_DATA;
  const bool hashOk = rc == ERAR_SUCCESS && HashMatches(sink.Hasher, entry);
  // What a wrong password gives is garbage of the right length: it is never kept as a file.
  if (rc == ERAR_SUCCESS && h.Encrypted() && !hashOk) rc = ERAR_BAD_DATA;
  if (link && rc == ERAR_SUCCESS) {
    // A damaged target is never made into a link.
    if (!hashOk) return ERAR_BAD_DATA;
    return sink.KeptTooMuch ? ERAR_SKIPPED_LINK : MakeSymlink(dest, sink.Kept, h, LastOutputError);
  }
  if (rc == ERAR_SUCCESS && extract) rc = out.Finish(h);
  if (rc == ERAR_EWRITE || rc == ERAR_ECLOSE) LastOutputError = out.Error() ? out.Error() : errno;
  Remember(entry, operation, dest, rc == ERAR_SUCCESS && hashOk);
  if (rc != ERAR_SUCCESS) return rc;  // a partial file goes with `out`
  // A complete file whose check fails is kept: it is all the archive has, and the caller is told.
  return hashOk ? ERAR_SUCCESS : ERAR_BAD_DATA;
}

int TRarArchive::Decode(const TRarEntry& entry, TRoute route, IUnpackSink& sink) {
  const TRarEntryHeader& h = entry.Header;
  switch (route) {
    case TRoute::Copy: {
      const TRar5Key* key = nullptr;
      if (IsRar5Encrypted(h))
        if (int rc = Rar5Key(h, key)) return rc;
      // Stored data of a size not known in advance is what the parts hold. Decrypted, it is
      // padded to the cipher's block: exactly the file is taken (with the size unknown, the
      // ciphertext bounds it).
      const uint64_t size = h.UnpSizeUnknown ? entry.PackedTotal() : h.UnpSize;
      std::unique_ptr<IPackedInput> input = EntryInput(entry, size, key);
      return CopyStored(*input, size, sink);
    }
    case TRoute::Rar3: {
      // Each entry is decrypted on its own; the decoder stops at the unpacked size, before the
      // cipher's padding, so nothing of one entry's input runs into the next.
      std::unique_ptr<IPackedInput> input = EntryInput(entry, TRarDecryptInput::NoLimit);
      return Unpacker3().Unpack(h, *input, sink);
    }
    case TRoute::Rar5: {
      const TRar5Key* key = nullptr;
      if (IsRar5Encrypted(h))
        if (int rc = Rar5Key(h, key)) return rc;
      // The decoder stops at the unpacked size by itself, before the padding.
      std::unique_ptr<IPackedInput> input = EntryInput(entry, TRarDecryptInput::NoLimit, key);
      return Unpacker5().Unpack(h, *input, sink);
    }
    default: return ERAR_UNKNOWN_FORMAT;
  }
}
