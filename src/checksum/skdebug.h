#pragma once
#include <stdexcept>
#include <string>

// The runtime's input/output error: a failed open, write or close, with the system's
// error code.
class EInOutError : public std::runtime_error {
public:
  EInOutError(const std::string& message, int errorCode)
      : std::runtime_error(message), ErrorCode(errorCode) {}
  int ErrorCode;
};

// Appends one line and CR LF to the trace file, creating it when missing. The file is
// opened and closed for every line. Raises EInOutError on any failure.
void WriteDebugLine(const std::string& traceFile, const std::string& line);
