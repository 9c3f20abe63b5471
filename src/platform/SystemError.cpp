#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>

std::string SystemErrorText(int code) {
  switch (code) {
    case ecNotRegularFolder: return "Not a regular file: a folder\r\n";
    case ecNotRegularFifo: return "Not a regular file: a named pipe (FIFO)\r\n";
    case ecNotRegularSocket: return "Not a regular file: a socket\r\n";
    case ecNotRegularDevice: return "Not a regular file: a device\r\n";
    default: break;
  }
  char buffer[260];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  if (text == nullptr || *text == '\0' || std::strncmp(text, "Unknown error", 13) == 0) {
    return "Unknown error";
  }
  return std::string(text) + "\r\n";
}

int LastSystemError() { return errno; }
