#pragma once
// Reflects the file-type store into the Linux desktop, so that what the registry object
// registered takes effect the way a Windows registry entry would:
//   ".ext" -> ProgId           a MIME definition "text/x-ext" for "*.ext", described by
//                               ProgId's default value (mime/packages/tallyra-ext.xml)
//   ProgId\shell\VERB\command  an application entry for that MIME type that runs the
//                               command (applications/tallyra-ext-verb.desktop); the
//                               "open" verb becomes the type's default application
//   TYPE/SUB\shell\VERB\command  (a MIME type, as ".rar" reads on Linux) an "Open With"
//                               entry named VERB for that type
// Entries this program wrote before and that the store no longer asks for are removed.
// Then update-mime-database, update-desktop-database and xdg-mime default run where
// present. Called from the GUI thread when a registry object goes; blocking, quick.
#include "platform/Registry.h"

#include <string>
#include <vector>

// Runs the desktop's helper programs; tests record the calls instead.
class IDesktopTools {
public:
  virtual ~IDesktopTools() = default;
  // Runs a program found on PATH with these arguments and waits for it. False when the
  // program is not there or does not succeed.
  virtual bool Run(const std::string& program, const std::vector<std::string>& arguments) = 0;
};

// The real programs, through PATH; their output is discarded.
class TSpawnDesktopTools final : public IDesktopTools {
public:
  bool Run(const std::string& program, const std::vector<std::string>& arguments) override;
};

// $XDG_DATA_HOME, or ~/.local/share when it is unset or not absolute.
std::string DesktopDataHome();
// The store's file: <data home>/tallyra/classes.txt.
std::string RegistryStorePath(const std::string& dataHome);

// A Windows-style command ("/opt/my tools/tallyra /C "%1"") as a desktop entry's Exec
// line ("/opt/my tools/tallyra" /C %f, with desktop-entry quoting). The program part
// of an unquoted command with blanks is found as Windows finds it: the shortest prefix
// that ends at a blank and names an existing file; when none exists, the text up to the
// first switch ("/X") or quoted argument.
std::string ExecLineFromCommand(const std::string& command);

struct TDesktopFile {
  std::string Path;      // absolute
  std::string Contents;
};

struct TDesktopReflection {
  std::vector<TDesktopFile> Files;  // MIME definitions and application entries
  std::vector<std::pair<std::string, std::string>> Defaults;  // entry file name, MIME type
};

// What the store asks of the desktop below a data home; writes nothing.
TDesktopReflection PlanDesktopReflection(const TRegistryContents& contents, const std::string& dataHome);

// Writes the planned files, removes stale ones of ours and runs the tools. False when a
// file could not be written (the tools still run for what was written).
bool ReflectIntoDesktop(const TRegistryContents& contents, const std::string& dataHome,
                        IDesktopTools& tools);
