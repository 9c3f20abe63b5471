#include "UnarrReference.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unarr.h>
#include <unistd.h>

#include "unrar/RarCrc.h"
#include "unrar/unrar.h"

size_t TUnarrSession::MemoryLimit = 64u << 20;

namespace {

// The name of image entry `index`, which also tells which entry libunarr is on.
std::string ImageEntryName(size_t index) {
  char name[24];
  std::snprintf(name, sizeof name, "e%zu", index);
  return name;
}

void Put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, uint16_t(v));
  Put16(b, uint16_t(v >> 16));
}

// Closes a block whose HEAD_CRC and HEAD_SIZE slots were left at `start`.
void SealBlock(std::vector<uint8_t>& b, size_t start) {
  uint16_t size = uint16_t(b.size() - start);
  b[start + 5] = uint8_t(size);
  b[start + 6] = uint8_t(size >> 8);
  uint16_t crc = uint16_t(RarCrc32(0, &b[start + 2], size - 2));
  b[start] = uint8_t(crc);
  b[start + 1] = uint8_t(crc >> 8);
}

void BeginBlock(std::vector<uint8_t>& b, uint8_t type, uint16_t flags) {
  Put16(b, 0);
  b.push_back(type);
  Put16(b, flags);
  Put16(b, 0);
}

// The plain header of a single-volume archive: split, Unicode, salt and time extras gone, and
// a name that tells us which image entry libunarr is on.
void AppendFileHeader(std::vector<uint8_t>& b, const TRarEntry& e, size_t index) {
  uint64_t pack = e.PackedTotal();
  const TRarEntryHeader& h = e.Header;
  bool large = pack > 0xFFFFFFFFu || h.UnpSize > 0xFFFFFFFFu;
  std::string name = ImageEntryName(index);
  size_t start = b.size();
  BeginBlock(b, 0x74, uint16_t(0x8000 | (h.Flags & (RarFileSolid | RarFileDirectoryMask)) | (large ? RarFileLarge : 0)));
  Put32(b, uint32_t(pack));
  Put32(b, uint32_t(h.UnpSize));
  b.push_back(2);
  Put32(b, e.WholeCrc);
  Put32(b, h.FileTime);
  b.push_back(h.UnpVer);
  b.push_back(h.Method);
  Put16(b, uint16_t(name.size()));
  Put32(b, 0x20);
  if (large) {
    Put32(b, uint32_t(pack >> 32));
    Put32(b, uint32_t(h.UnpSize >> 32));
  }
  b.insert(b.end(), name.begin(), name.end());
  SealBlock(b, start);
}

// Appends the image either to memory or to a file.
class TImageWriter {
 public:
  TImageWriter(std::vector<uint8_t>* memory, int fd) : Memory(memory), Fd(fd) {}
  bool Put(const uint8_t* data, size_t size) {
    if (Memory) {
      Memory->insert(Memory->end(), data, data + size);
      return true;
    }
    while (size > 0) {
      ssize_t n = ::write(Fd, data, size);
      if (n <= 0) return false;
      data += n;
      size -= size_t(n);
    }
    return true;
  }

 private:
  std::vector<uint8_t>* Memory;
  int Fd;
};

int WriteImage(TImageWriter& out, const std::vector<const TRarEntry*>& entries, bool solid,
               const TUnarrSession::TEntryInputs& inputs) {
  std::vector<uint8_t> head = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
  size_t mainStart = head.size();
  BeginBlock(head, 0x73, solid ? RarMainSolid : 0);
  for (int i = 0; i < 6; ++i) head.push_back(0);
  SealBlock(head, mainStart);
  if (!out.Put(head.data(), head.size())) return ERAR_EWRITE;
  std::vector<uint8_t> buffer(UnpackChunk);
  for (size_t i = 0; i < entries.size(); ++i) {
    std::vector<uint8_t> header;
    AppendFileHeader(header, *entries[i], i);
    if (!out.Put(header.data(), header.size())) return ERAR_EWRITE;
    std::unique_ptr<IPackedInput> input = inputs(*entries[i]);
    uint64_t written = 0;
    for (;;) {
      size_t got = 0;
      if (int rc = input->Read(buffer.data(), buffer.size(), got)) return rc;
      if (got == 0) break;
      if (!out.Put(buffer.data(), got)) return ERAR_EWRITE;
      written += got;
    }
    // Fewer bytes than the header says would make libunarr read the next header from the data.
    if (written != entries[i]->PackedTotal()) return ERAR_BAD_DATA;
  }
  std::vector<uint8_t> end;
  BeginBlock(end, 0x7B, 0x4000);
  SealBlock(end, 0);
  return out.Put(end.data(), end.size()) ? ERAR_SUCCESS : ERAR_EWRITE;
}

}  // namespace

TUnarrSession::~TUnarrSession() {
  if (Archive) ar_close_archive(Archive);
  if (Stream) ar_close(Stream);
}

int TUnarrSession::Build(const std::vector<const TRarEntry*>& entries, bool solid, const TEntryInputs& inputs,
                         const std::string& tempFolder) {
  uint64_t total = 64;
  for (const auto* e : entries) total += 64 + e->PackedTotal();
  if (total <= MemoryLimit) {
    Memory.reserve(size_t(total));
    TImageWriter out(&Memory, -1);
    if (int rc = WriteImage(out, entries, solid, inputs)) return rc;
    Stream = ar_open_memory(Memory.data(), Memory.size());
  } else {
    std::string pattern = (tempFolder.empty() ? std::string(".") : tempFolder) + "/.unrar-image-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return ERAR_ECREATE;
    TImageWriter out(nullptr, fd);
    int rc = WriteImage(out, entries, solid, inputs);
    if (::close(fd) != 0 && rc == 0) rc = ERAR_EWRITE;
    if (rc == 0) Stream = ar_open_file(name.data());
    // Unlinked at once: the open stream keeps the data, and nothing is left behind on any path.
    ::unlink(name.data());
    if (rc) return rc;
  }
  if (!Stream) return ERAR_EOPEN;
  Archive = ar_open_rar_archive(Stream);
  if (!Archive) return ERAR_BAD_DATA;
  Buffer.resize(UnpackChunk);
  return ERAR_SUCCESS;
}

int TUnarrSession::Unpack(uint64_t size, IUnpackSink* sink) {
  while (size > 0) {
    size_t n = size_t(std::min<uint64_t>(Buffer.size(), size));
    if (!ar_entry_uncompress(Archive, Buffer.data(), n)) return ERAR_BAD_DATA;
    if (sink)
      if (int rc = sink->Write(Buffer.data(), n)) return rc;
    size -= n;
  }
  return ERAR_SUCCESS;
}

int TUnarrSession::Extract(size_t index, IUnpackSink& sink) {
  if (!Archive || index < NextIndex) return ERAR_BAD_DATA;
  while (NextIndex <= index) {
    if (!ar_parse_entry(Archive)) return ERAR_BAD_DATA;
    const char* name = ar_entry_get_name(Archive);
    std::string expected = ImageEntryName(NextIndex);
    if (!name || expected != name) return ERAR_BAD_DATA;
    uint64_t size = ar_entry_get_size(Archive);
    bool wanted = NextIndex == index;
    ++NextIndex;
    if (int rc = Unpack(size, wanted ? &sink : nullptr)) return rc;
  }
  return ERAR_SUCCESS;
}
