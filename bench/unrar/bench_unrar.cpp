// Extracts every entry of an archive (volume sets included) into a folder through the C ABI of
// libunrar.so and prints the bytes written. Exit code 1 when any entry fails.
#include <cstdio>
#include <string>

#include "unrar/unrar.h"

namespace {
unsigned long long Bytes = 0;
int UNRAR_CALL Count(unsigned char*, int size) {
  Bytes += unsigned(size);
  return 1;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_unrar ARCHIVE DEST\n");
    return 2;
  }
  std::string archive = argv[1], dest = argv[2];
  RAROpenArchiveData open{};
  open.ArcName = archive.data();
  open.OpenMode = RAR_OM_EXTRACT;
  void* handle = RAROpenArchive(&open);
  if (!handle) {
    std::fprintf(stderr, "open failed: %u\n", open.OpenResult);
    return 1;
  }
  RARSetProcessDataProc(handle, Count);
  RARHeaderData header{};
  int failures = 0, rc;
  while ((rc = RARReadHeader(handle, &header)) == ERAR_SUCCESS) {
    int result = RARProcessFile(handle, RAR_EXTRACT, dest.data(), nullptr);
    if (result != ERAR_SUCCESS) {
      std::fprintf(stderr, "%s: %d\n", header.FileName, result);
      ++failures;
    }
  }
  RARCloseArchive(handle);
  std::printf("%llu bytes\n", Bytes);
  return failures || rc != ERAR_END_ARCHIVE ? 1 : 0;
}
