#pragma once
#include <string>

// The system's message for an error code (errno values), followed by CR LF as the
// Windows message table gives it, so report layouts keep their blank line. A code
// the system has no text for gives "Unknown error".
std::string SystemErrorText(int code);

// The error code of the last failed system call on this thread.
int LastSystemError();
