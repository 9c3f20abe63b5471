// One open archive (a handle of the C ABI): walks the volumes of a set, reports entries and
// tests or extracts them. Everything lives in the object; handles share nothing.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "unrar/Rar3Unpack.h"
#include "unrar/Rar5Unpack.h"
#include "unrar/RarBlocks.h"
#include "unrar/RarCrypt.h"
#include "unrar/RarHash.h"
#include "unrar/RarOutput.h"
#include "unrar/RarUnpack.h"
#include "unrar/unrar.h"

class TRarArchive : private TSourceProvider {
 public:
  // Null with `result` set when the archive cannot be opened.
  static std::unique_ptr<TRarArchive> OpenFile(const std::string& path, bool listOnly, int& result);
  // A memory image; it has no further volumes. The data must outlive the object.
  static std::unique_ptr<TRarArchive> OpenMemory(const void* data, size_t size, int& result);
  ~TRarArchive() override;

  // 0, or 12 for a header whose checksum fails (entry still filled); else an end or error code.
  int ReadHeader(TRarEntryHeader& entry, std::string& volumeName);
  int ProcessFile(int operation, const char* destPath, const char* destName);

  void SetChangeVolProc(CHANGEVOLPROC proc) { ChangeVolProc = proc; }
  void SetProcessDataProc(PROCESSDATAPROC proc) { ProcessDataProc = proc; }
  // Also opens encrypted headers: set it before the first ReadHeader of such an archive, or
  // after a ReadHeader that answered 22 to read the same header again.
  void SetPassword(const char* password) { Keys.SetPassword(password); }
  // How many slow key derivations the handle has run (tests count them).
  size_t KeyDerivations() const { return Keys.Derivations(); }
  // The system's error code of the last output file that could not be created or written.
  int OutputError() const { return LastOutputError; }

 private:
  struct TVolume;
  TRarArchive() = default;
  int OpenFirst(std::unique_ptr<TByteSource> source, const std::string& path);
  TByteSource* SourceFor(const std::string& volumePath) override;

  // The next entry of the set, its first part only; crosses volume boundaries between files.
  int NextEntry(TRarEntry& entry);
  // Follows a split entry into the next volumes, adding their parts.
  int CollectParts(TRarEntry& entry);
  int ChangeVolume();
  // How an entry's packed data becomes its bytes. Every decision about that is taken in Route;
  // Decode carries it out.
  // Encryption is a stage below the decoder on every route but Folder (see EntryInput).
  enum class TRoute {
    Folder,       // nothing to unpack
    Unsupported,  // a method or version nobody here unpacks
    Copy,         // stored data, copied from its parts
    Rar3,         // RAR 2.0-4.x compressed data, through the handle's own decoder
    Rar5,         // RAR 5 compressed data, through the handle's own decoder
    Redirect,     // a RAR 5 link or file copy: no data of its own
  };
  TRoute Route(const TRarEntry& entry) const;
  // 0 when the entry's data can be read: it is not encrypted, or its cipher is supported and a
  // password is set; else 22 or 14 (see CanDecryptRar4).
  int CanRead(const TRarEntry& entry) const;
  // The entry's packed bytes as its decoder takes them: read from its parts and, for an
  // encrypted entry, decrypted, never more than plainLimit (see TRarDecryptInput). An encrypted
  // RAR 5 entry needs the key Rar5Key found.
  std::unique_ptr<IPackedInput> EntryInput(const TRarEntry& entry, uint64_t plainLimit,
                                           const TRar5Key* rar5Key = nullptr);
  int Unpack(const TRarEntry& entry, TRoute route, int operation, const TDestination& dest);
  int Decode(const TRarEntry& entry, TRoute route, IUnpackSink& sink);
  int Redirect(const TRarEntry& entry, int operation, const TDestination& dest);
  int CopyOfExtracted(const TRarEntry& entry, const TDestination& dest);
  // The routes whose decoder carries a solid stream from one entry to the next.
  static bool SolidStreamRoute(TRoute route) { return route == TRoute::Rar3 || route == TRoute::Rar5; }
  // Solid streams: an entry nobody unpacked is kept until a later one needs it, then unpacked
  // into nothing (only entries of the stream the next one belongs to are kept).
  void KeepForSolidStream(const TRarEntry& entry);
  void CatchUpSolidStream();
  TRar3Unpacker& Unpacker3();
  TRar5Unpacker& Unpacker5();
  // The key of an encrypted RAR 5 entry, held against its password check value: 0 with `key`
  // set, 22 without a password, 24 for a wrong one, 14 for a cipher this library does not know.
  int Rar5Key(const TRarEntryHeader& header, const TRar5Key*& key);
  bool HashMatches(const TRarHasher& hasher, const TRarEntry& entry);
  // What this handle unpacked whole, by entry name: hard links and copies are made of these.
  void Remember(const TRarEntry& entry, int operation, const TDestination& dest, bool whole);

  std::unique_ptr<TVolume> Volume;
  std::map<std::string, std::unique_ptr<TByteSource>> Sources;  // volumes whose data an entry needs
  std::set<std::pair<uint64_t, uint64_t>> SeenVolumes;  // device and inode of every volume opened
  bool InMemory = false;
  bool ListOnly = false;
  int Ended = 0;  // sticky result once the set cannot be read further

  bool HaveCurrent = false;
  TRarEntry Current;

  // One of each per handle: they carry the solid streams.
  std::unique_ptr<TRar3Unpacker> Rar3Decoder;
  std::unique_ptr<TRar5Unpacker> Rar5Decoder;
  std::vector<TRarEntry> SolidBehind;  // skipped entries of the current solid stream
  std::map<std::string, TDestination> Extracted;
  std::set<std::string> Tested;

  CHANGEVOLPROC ChangeVolProc = nullptr;
  PROCESSDATAPROC ProcessDataProc = nullptr;
  TRarKeyCache Keys;  // the password and the keys derived from it, wiped with the handle
  int LastOutputError = 0;
};
