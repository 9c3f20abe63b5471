#pragma once
// Registering the program for its file types, apart from the window so that tests can
// run it against a store of their own. The window's RegisterFileTypes hands in a fresh
// registry object and the running program's path; everything runs on the GUI thread.
#include "platform/Registry.h"

#include <memory>
#include <string>

// "¤" as this program's 8-bit encoding writes it (UTF-8 here).
inline constexpr const char* ShellVerbMark = "\xC2\xA4";

// "¤ Check SFV File ¤" and "¤ Create SFV File ¤".
std::string CheckSfvVerb();
std::string CreateSfvVerb();

// The keys and values in the order they are written:
//   .sfv                                    Tallyra
//   Tallyra                                 Tallyra File
//   Tallyra\DefaultIcon                     <exe>,0
//   Tallyra\shell\open\command              <exe> /C "%1"
//   Tallyra\shell\¤ Check SFV File ¤\command  <exe> /C "%1"
//   <.rar's type>\shell\¤ Create SFV File ¤\command  <exe> /M "%1"   (when .rar names a type)
// The program path goes in unquoted, blanks and all; only the file placeholder is quoted.
// Each key is opened from the root and closed before the next. A failed write raises
// ERegistryException and leaves the earlier steps done; the registry object is closed
// and freed whatever happens. When ".rar" is missing, or names no type, no RAR verb is
// written.
void RegisterFileTypes(std::unique_ptr<IRegistry> registry, const std::string& exePath);
