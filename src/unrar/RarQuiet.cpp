#include "unrar/RarQuiet.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <link.h>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// A stream that swallows whatever is written to it; it needs no file descriptor.
FILE* DiscardingStream() {
  cookie_io_functions_t io{};
  io.write = [](void*, const char*, size_t size) -> ssize_t { return ssize_t(size); };
  FILE* stream = fopencookie(nullptr, "w", io);
  // Nothing may wait in a buffer for a flush at exit, when this code may be gone.
  if (stream) setvbuf(stream, nullptr, _IONBF, 0);
  return stream;
}

FILE* QuietStream = nullptr;

// Writes a GOT slot, opening its page for the write when the loader made it read-only.
void WriteSlot(uintptr_t slot, FILE** value, bool readOnly) {
  const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
  void* start = reinterpret_cast<void*>(slot & ~(page - 1));
  if (readOnly && mprotect(start, page, PROT_READ | PROT_WRITE) != 0) return;
  *reinterpret_cast<FILE***>(slot) = value;
  if (readOnly) mprotect(start, page, PROT_READ);
}

// The slots pointed at QuietStream, put back when this library is unloaded: libunarr may
// stay loaded without it.
struct TPatchedSlots {
  std::vector<std::pair<uintptr_t, bool>> Slots;  // address, read-only page
  ~TPatchedSlots() {
    for (const auto& [slot, readOnly] : Slots) WriteSlot(slot, &stderr, readOnly);
  }
} Patched;

struct TSearch {
  bool Patched = false;
};

// The dynamic section's addresses are already relocated on most systems, not on all.
uintptr_t Absolute(uintptr_t base, ElfW(Addr) address) { return address < base ? base + address : address; }

// Rewrites the GOT slot through which libunarr reads `stderr`. The slot is found by its
// relocation's symbol name and must hold the address of the stderr variable itself, so that
// nothing else is ever touched.
bool PatchStderrSlot(const dl_phdr_info& info) {
  const uintptr_t base = info.dlpi_addr;
  const ElfW(Dyn)* dynamic = nullptr;
  uintptr_t relroStart = 0, relroEnd = 0;
  for (int i = 0; i < info.dlpi_phnum; ++i) {
    const ElfW(Phdr)& p = info.dlpi_phdr[i];
    if (p.p_type == PT_DYNAMIC) dynamic = reinterpret_cast<const ElfW(Dyn)*>(base + p.p_vaddr);
    if (p.p_type == PT_GNU_RELRO) {  // the part of the image made read-only once relocated
      relroStart = base + p.p_vaddr;
      relroEnd = relroStart + p.p_memsz;
    }
  }
  if (!dynamic) return false;
  const ElfW(Sym)* symbols = nullptr;
  const char* names = nullptr;
  uintptr_t rela = 0, rel = 0;
  size_t relaSize = 0, relSize = 0;
  for (const ElfW(Dyn)* d = dynamic; d->d_tag != DT_NULL; ++d) {
    switch (d->d_tag) {
      case DT_SYMTAB: symbols = reinterpret_cast<const ElfW(Sym)*>(Absolute(base, d->d_un.d_ptr)); break;
      case DT_STRTAB: names = reinterpret_cast<const char*>(Absolute(base, d->d_un.d_ptr)); break;
      case DT_RELA: rela = Absolute(base, d->d_un.d_ptr); break;
      case DT_RELASZ: relaSize = d->d_un.d_val; break;
      case DT_REL: rel = Absolute(base, d->d_un.d_ptr); break;
      case DT_RELSZ: relSize = d->d_un.d_val; break;
      default: break;
    }
  }
  if (!symbols || !names) return false;
  auto symbolOf = [](ElfW(Xword) relocInfo) -> size_t {
#if __ELF_NATIVE_CLASS == 64
    return ELF64_R_SYM(relocInfo);
#else
    return ELF32_R_SYM(relocInfo);
#endif
  };
  std::vector<uintptr_t> slots;
  auto consider = [&](ElfW(Addr) offset, ElfW(Xword) relocInfo) {
    if (std::strcmp(names + symbols[symbolOf(relocInfo)].st_name, "stderr") != 0) return;
    uintptr_t slot = base + offset;
    if (*reinterpret_cast<FILE***>(slot) == &stderr) slots.push_back(slot);
  };
  for (size_t i = 0; rela && i < relaSize / sizeof(ElfW(Rela)); ++i) {
    const auto& r = reinterpret_cast<const ElfW(Rela)*>(rela)[i];
    consider(r.r_offset, r.r_info);
  }
  for (size_t i = 0; rel && i < relSize / sizeof(ElfW(Rel)); ++i) {
    const auto& r = reinterpret_cast<const ElfW(Rel)*>(rel)[i];
    consider(r.r_offset, r.r_info);
  }
  if (slots.empty()) return false;
  const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
  // The loader makes the whole pages of that range read-only after start-up; a page it shares
  // with writable data at its end stays writable.
  relroStart &= ~(page - 1);
  relroEnd &= ~(page - 1);
  for (uintptr_t slot : slots) {
    const bool readOnly = slot >= relroStart && slot < relroEnd;
    WriteSlot(slot, &QuietStream, readOnly);
    if (*reinterpret_cast<FILE***>(slot) == &QuietStream) Patched.Slots.push_back({slot, readOnly});
  }
  return !Patched.Slots.empty();
}

int VisitObject(dl_phdr_info* info, size_t, void* data) {
  if (!info->dlpi_name || !std::strstr(info->dlpi_name, "libunarr")) return 0;
  static_cast<TSearch*>(data)->Patched = PatchStderrSlot(*info);
  return 1;
}

}  // namespace

bool QuietUnarrDiagnostics() {
  static std::once_flag once;
  static bool quiet = false;
  std::call_once(once, [] {
    QuietStream = DiscardingStream();
    if (!QuietStream) return;
    TSearch search;
    dl_iterate_phdr(VisitObject, &search);
    quiet = search.Patched;
  });
  return quiet;
}
