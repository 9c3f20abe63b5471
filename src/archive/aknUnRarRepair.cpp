// The scan of a volume's file headers, the Unix attribute repair, its undo and its journal.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "archive/aknStreams.h"
#include "archive/aknUnRar.h"
#include "platform/FileHandle.h"
#include "platform/FileSystem.h"
#include "platform/Utf8.h"

namespace {

constexpr unsigned HostUnix = 3;
constexpr unsigned FlagSplitBefore = 0x01;
constexpr unsigned FlagLarge = 0x100;
constexpr unsigned FlagUnicode = 0x200;
constexpr unsigned AttrRepairPos = 28;

std::uint32_t U16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// A stored name as the library reports it: the packed UTF-16 form of a Unicode name,
// else the bytes; '/' between folders.
std::string DecodeStoredName(const std::uint8_t* field, std::size_t size, unsigned flags) {
  std::string name;
  const std::uint8_t* nul = static_cast<const std::uint8_t*>(std::memchr(field, 0, size));
  if (!(flags & FlagUnicode) || !nul) {
    name.assign(reinterpret_cast<const char*>(field), nul ? static_cast<std::size_t>(nul - field) : size);
  } else {
    const std::size_t plainSize = static_cast<std::size_t>(nul - field);
    std::size_t pos = plainSize + 1;
    std::u16string wide;
    if (pos < size) {
      const std::uint32_t high = field[pos++];
      std::uint32_t flagByte = 0;
      int flagBits = 0;
      while (pos < size) {
        if (flagBits == 0) {
          flagByte = field[pos++];
          flagBits = 8;
          if (pos >= size) break;
        }
        switch ((flagByte >> 6) & 3) {
          case 0: wide += static_cast<char16_t>(field[pos++]); break;
          case 1: wide += static_cast<char16_t>(field[pos++] | (high << 8)); break;
          case 2:
            if (pos + 1 >= size) return name;
            wide += static_cast<char16_t>(field[pos] | (field[pos + 1] << 8));
            pos += 2;
            break;
          default: {
            const std::uint32_t length = field[pos++];
            if (length & 0x80) {
              if (pos >= size) break;
              const std::uint32_t correction = field[pos++];
              for (std::uint32_t n = (length & 0x7F) + 2; n > 0 && wide.size() < plainSize; --n)
                wide += static_cast<char16_t>(((field[wide.size()] + correction) & 0xFF) | (high << 8));
            } else {
              for (std::uint32_t n = length + 2; n > 0 && wide.size() < plainSize; --n)
                wide += static_cast<char16_t>(field[wide.size()]);
            }
          }
        }
        flagByte = (flagByte << 2) & 0xFF;
        flagBits -= 2;
      }
    }
    for (std::size_t i = 0; i < wide.size(); ++i) {
      std::uint32_t cp = wide[i];
      if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000)
        cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[++i] - 0xDC00);
      AppendUtf8(name, cp);
    }
  }
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

// Unix directories keep S_IFDIR in the high bits; everyone else sets 0x10.
std::string Hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string Unhex(const std::string& s) {
  std::string out;
  auto value = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  for (std::size_t i = 0; i + 1 < s.size(); i += 2) out += static_cast<char>(value(s[i]) * 16 + value(s[i + 1]));
  return out;
}

bool WriteU32At(int handle, std::int64_t position, std::uint32_t value) {
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  return FileSeek(handle, position, 0) == position && FileWrite(handle, bytes, 4) == 4;
}

std::optional<std::uint32_t> ReadU32At(int handle, std::int64_t position) {
  std::uint8_t bytes[4];
  if (FileSeek(handle, position, 0) != position || FileRead(handle, bytes, 4) != 4) return std::nullopt;
  return U32(bytes);
}

// Modification times of the volumes written to, so that they read as untouched afterwards.
}  // namespace

std::string TUnRar::JournalFile(const std::string& dir) { return AddBackslash(dir) + "unrar-repairs.journal"; }

int RecoverUnixRepairs(const std::string& dir) {
  if (dir.empty()) return 0;
  const std::string journal = TUnRar::JournalFile(dir);
  std::ifstream in(journal);
  if (!in) return 0;
  int restored = 0;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string tag, hexPath;
    std::int64_t position = 0;
    std::uint32_t stored = 0, written = 0;
    if (!(fields >> tag >> position >> stored >> written >> hexPath) || tag != "R") continue;
    const std::string volume = Unhex(hexPath);
    const int handle = FileOpen(volume, fmOpenReadWrite);
    if (handle < 0) continue;
    // Only a field that still holds what the run wrote is put back.
    const auto now = ReadU32At(handle, position + AttrRepairPos);
    if (now && *now == written && WriteU32At(handle, position + AttrRepairPos, stored)) ++restored;
    FileClose(handle);
  }
  in.close();
  std::error_code ec;
  std::filesystem::remove(journal, ec);
  return restored;
}

void TUnRar::WriteJournal() {
  // No journal, no writing into the user's archive.
  if (FJournalDir.empty()) throw E_RAISE(25136);
  const std::string journal = JournalFile(FJournalDir);
  if (FRepairs.empty()) {
    std::error_code ec;
    std::filesystem::remove(journal, ec);
    return;
  }
  std::string text;
  for (const TRepair& r : FRepairs)
    text += "R " + std::to_string(r.Position) + " " + std::to_string(r.Stored) + " " + std::to_string(r.Written) +
            " " + Hex(r.Volume) + "\n";
  ForceDirectories(FJournalDir);
  if (ReplaceFileContents(journal, text) != 0) throw E_RAISE(25136);
}

void TUnRar::ScanVolume(const std::string& volume) {
  if (!OpenFileRead(volume)) Fail(FCurrentVolume, 25235);
  struct TCloseOnError {
    TUnRar& Self;
    bool Armed = true;
    ~TCloseOnError() {
      if (Armed) Self.CloseFileHandle();
    }
  } guard{*this};
  bool writable = false;
  const std::int64_t fileSize = GetFileSize();
  auto readAt = [&](std::int64_t position, std::uint8_t* buffer, std::int64_t count) {
    std::memset(buffer, 0, static_cast<std::size_t>(count));
    if (!SetFilePos(position)) return std::int64_t{0};
    const std::int64_t got = ReadFileBytes(buffer, count);
    return got < 0 ? std::int64_t{0} : got;
  };
  // Only the first volume may carry a self-extractor in front.
  const std::int64_t offset = volume == ArchiveFile() ? WorkingOffset() : 1;
  std::uint8_t main[13];
  const std::int64_t mainAt = offset + 6;
  if (readAt(mainAt, main, 13) < 13) Fail(volume, 25236);
  std::int64_t position = mainAt + std::max<std::uint32_t>(U16(main + 5), 13);
  std::vector<std::string> folders;
  while (position + 7 <= fileSize) {
    std::uint8_t h[40];
    readAt(position, h, 32);
    const std::uint32_t type = h[2], flags = U16(h + 3), headerSize = U16(h + 5);
    if (headerSize < 7 || type == 0x7B || type < 0x73 || type > 0x7B) break;
    // Other blocks (comments, service headers, recovery records) are stepped over.
    std::int64_t dataSize = (flags & 0x8000) ? U32(h + 7) : 0;
    if (type != 0x74) {
      position += headerSize + dataSize;
      continue;
    }
    if (headerSize < 32) break;
    std::int64_t unpacked = U32(h + 11);
    std::size_t nameAt = 32;
    if (flags & FlagLarge) {
      readAt(position + 32, h + 32, 8);
      dataSize |= static_cast<std::int64_t>(U32(h + 32)) << 32;
      unpacked |= static_cast<std::int64_t>(U32(h + 36)) << 32;
      nameAt = 40;
    }
    const unsigned host = h[15];
    const std::uint32_t stored = U32(h + AttrRepairPos);
    const std::uint32_t fileCrc = U32(h + 16);
    std::vector<std::uint8_t> nameBytes(U16(h + 26));
    readAt(position + static_cast<std::int64_t>(nameAt), nameBytes.data(), static_cast<std::int64_t>(nameBytes.size()));
    const std::string name = DecodeStoredName(nameBytes.data(), nameBytes.size(), flags);
    const std::uint32_t effective = host == HostUnix ? ((stored & 0x4000) ? 0x10 : 0x20) : stored;
    if ((effective & 0x10) || (flags & 0xE0) == 0xE0) {
      if (CreateStoredDirs()) folders.push_back(name);
    } else {
      if (CreateStoredDirs()) {
        std::string folder = ExtractFilePath(name);
        if (!folder.empty()) folder.pop_back();
        folders.erase(std::remove(folders.begin(), folders.end(), folder), folders.end());
      }
      if (MatchEntryName(name)) {
        if (host == HostUnix) RepairHeader(volume, position, stored, effective, writable);
        if (flags & FlagSplitBefore) {
          FHeaderData.FileCRC = fileCrc;
          FLastPartCrc[name] = fileCrc;
        } else {
          ++FToDoCount;
          FBytesExpected += unpacked;
        }
      }
    }
    position += headerSize + dataSize;
  }
  if (CreateStoredDirs()) {
    const std::string root = ResolvedExtractDir();
    for (const std::string& folder : folders) {
      std::string path = root;
      for (const std::string& part : SafeNameParts(folder)) path += part + "/";
      if (path != root) ForceDirectories(path);
    }
  }
  guard.Armed = false;
  if (!CloseFileHandle()) Fail(volume, 25138);
}

void TUnRar::RepairHeader(const std::string& volume, std::int64_t position, std::uint32_t stored,
                          std::uint32_t effective, bool& writable) {
  if (stored == effective) return;
  if (!writable) {
    if (!CloseFileHandle()) Fail(volume, 25138);
    FQuietOpen = true;
    const bool opened = OpenFileReadWrite(volume);
    FQuietOpen = false;
    if (!opened) Fail(volume, 25136);
    writable = true;
  }
  if (!FSavedTimes.count(volume)) {
    std::error_code ec;
    const auto time = std::filesystem::last_write_time(volume, ec);
    if (!ec) FSavedTimes[volume] = time;
  }
  // The journal knows of the change before the archive does.
  FRepairs.push_back({volume, position, stored, effective});
  try {
    WriteJournal();
  } catch (const E_RAISE&) {
    // Without a journal the archive is not touched; the entry is read as stored.
    FRepairs.pop_back();
    return;
  }
  if (!WriteU32At(FileHandle(), position + AttrRepairPos, effective)) Fail(volume, 25136);
}

void TUnRar::UndoRepairs(const std::string& volume) {
  std::vector<std::string> volumes;
  for (const TRepair& r : FRepairs)
    if ((volume.empty() || r.Volume == volume) &&
        std::find(volumes.begin(), volumes.end(), r.Volume) == volumes.end())
      volumes.push_back(r.Volume);
  for (const std::string& v : volumes) {
    FQuietOpen = true;
    const bool opened = OpenFileReadWrite(v);
    FQuietOpen = false;
    if (!opened) Fail(v, 25235);
    bool allWritten = true;
    for (const TRepair& r : FRepairs)
      if (r.Volume == v) allWritten &= WriteU32At(FileHandle(), r.Position + AttrRepairPos, r.Stored);
    if (!CloseFileHandle()) Fail(v, 25138);
    if (!allWritten) Fail(v, 25136);
    RestoreTime(v);
    FRepairs.erase(std::remove_if(FRepairs.begin(), FRepairs.end(), [&](const TRepair& r) { return r.Volume == v; }),
                   FRepairs.end());
    try {
      WriteJournal();
    } catch (const E_RAISE&) {
      // The journal could not be rewritten: it still names fields that are back, and the
      // recovery leaves such fields alone.
    }
  }
}

void TUnRar::RestoreTime(const std::string& volume) {
  const auto it = FSavedTimes.find(volume);
  if (it == FSavedTimes.end()) return;
  std::error_code ec;
  std::filesystem::last_write_time(volume, it->second, ec);
  FSavedTimes.erase(it);
}
