#include "checksum/skdebug.h"

#include <cerrno>
#include <cstdio>

void WriteDebugLine(const std::string& traceFile, const std::string& line) {
  errno = 0;
  std::FILE* file = std::fopen(traceFile.c_str(), "ab");
  if (file == nullptr) throw EInOutError("I/O error " + std::to_string(errno), errno);
  const std::string text = line + "\r\n";
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const int writeError = errno;
  if (std::fclose(file) != 0 || !written) {
    const int code = written ? errno : writeError;
    throw EInOutError("I/O error " + std::to_string(code), code);
  }
}
