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
  // Also opens encrypted headers: set it before the first ReadHeader of such an archive.
  void SetPassword(const char* password) { Keys.SetPassword(password); }
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
  int ReadAhead();  // RAR 4 solid sets: every entry up front, so that libunarr runs once in order
  // How an entry's packed data becomes its bytes. Every decision about that is taken in Route;
  // Decode carries it out.
  enum class TRoute {
    Folder,       // nothing to unpack
    Encrypted,    // no decryptor yet
    Unsupported,  // a method or version nobody here unpacks
    Copy,         // stored data, copied from its parts
    Unarr,        // compressed data of a plain archive, one entry at a time
    UnarrSolid,   // compressed or stored data of a solid set, unpacked in one pass in order
    Rar5,         // RAR 5 compressed data, through the handle's own decoder
    Redirect,     // a RAR 5 link or file copy: no data of its own
  };
  TRoute Route(const TRarEntry& entry) const;
  int Unpack(const TRarEntry& entry, TRoute route, size_t solidIndex, int operation, const TDestination& dest,
             const std::string& tempFolder);
  int Decode(const TRarEntry& entry, TRoute route, size_t solidIndex, IUnpackSink& sink,
             const std::string& tempFolder);
  int DecodeSolid(size_t solidIndex, IUnpackSink& sink, const std::string& tempFolder);
  int Redirect(const TRarEntry& entry, int operation, const TDestination& dest);
  int CopyOfExtracted(const TRarEntry& entry, const TDestination& dest);
  // RAR 5 solid streams: an entry nobody unpacked is kept until a later one needs it, then
  // unpacked into nothing (only entries of the stream the next one belongs to are kept).
  void KeepForSolidStream(const TRarEntry& entry);
  void CatchUpSolidStream();
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
  bool FirstMarkerAtStart = false;  // libunarr reads a file in place only when it starts with the marker
  std::string FirstVolumePath;
  bool ListOnly = false;
  bool ReadAheadSolid = false;  // a RAR 1.5-4.x solid set, unpacked by libunarr in one pass
  int Ended = 0;  // sticky result once the set cannot be read further

  bool HaveCurrent = false;
  TRarEntry Current;

  bool ReadAheadDone = false;
  std::vector<TRarEntry> SolidEntries;
  size_t SolidCursor = 0;
  int SolidTail = ERAR_END_ARCHIVE;
  std::unique_ptr<TUnarrSession> SolidSession;
  std::vector<long> SolidImageIndex;

  std::unique_ptr<TRar5Unpacker> Rar5Decoder;  // one per handle: it carries RAR 5 solid streams
  std::vector<TRarEntry> Rar5Behind;           // skipped entries of the current solid stream
  std::map<std::string, TDestination> Extracted;
  std::set<std::string> Tested;

  CHANGEVOLPROC ChangeVolProc = nullptr;
  PROCESSDATAPROC ProcessDataProc = nullptr;
  TRarKeyCache Keys;  // the password and the keys derived from it, wiped with the handle
  int LastOutputError = 0;
};
