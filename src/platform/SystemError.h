#pragma once
#include <string>

// The system's message for an error code (errno values), followed by CR LF as the
// Windows message table gives it, so report layouts keep their blank line. A code
// the system has no text for gives "Unknown error".
std::string SystemErrorText(int code);

// The error code of the last failed system call on this thread.
int LastSystemError();

// Codes of our own beside the system's, for a path that names something other than a
// regular file: the system has no code that says so, SystemErrorText gives our text.
enum : int {
  ecNotRegularFolder = 0x4E520001,
  ecNotRegularFifo,
  ecNotRegularSocket,
  ecNotRegularDevice,
};
