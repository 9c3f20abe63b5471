#pragma once
// Reflects the file-type store into the Linux desktop, so that what the registry object
// registered takes effect the way a Windows registry entry would, in the desktop's own
// terms:
//   .sfv -> ProgId, ProgId\shell\open\command
//       the desktop entry "tallyra.desktop" (Name Tallyra, GenericName "SFV checker")
//       opens text/x-sfv files with that command and is their default (mimeapps.list).
//       An installed copy (ExeDir/../share/applications/tallyra.desktop exists) brings
//       the entry and the MIME package itself; a build folder or portable copy writes
//       both under the data home, with the program's absolute path.
//   TYPE/SUB\shell\VERB\command (a MIME type, as ".rar" reads on Linux)
//       the verb in file managers' context menus only: a KDE service menu, a Nautilus
//       script and a Nemo action, per user. Never an application entry for TYPE, so no
//       archive's default opener changes.
// What this program wrote before and the store no longer asks for goes, with the
// defaults that named it (the "tallyra-shell-*" entries of earlier builds included).
// Then update-mime-database and update-desktop-database run where present. Called from
// the GUI thread when a registry object goes; blocking, quick.
#include "platform/Registry.h"

#include <functional>
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

struct TDesktopHomes {
  std::string Data;    // $XDG_DATA_HOME: applications/, mime/, kio/, nautilus/, nemo/
  std::string Config;  // $XDG_CONFIG_HOME: mimeapps.list
};
// $XDG_CONFIG_HOME, or ~/.config when it is unset or not absolute.
std::string DesktopConfigHome();

struct TDesktopFile {
  std::string Path;      // absolute
  std::string Contents;
  bool Executable = false;
};

struct TDesktopReflection {
  std::vector<TDesktopFile> Files;  // what to write
  std::vector<std::pair<std::string, std::string>> Defaults;  // desktop id, MIME type
};

// The desktop id and MIME type of the SFV association.
inline constexpr const char* DesktopEntryId = "tallyra.desktop";
inline constexpr const char* SfvMimeType = "text/x-sfv";

// The program part of a Windows-style command, found as ExecLineFromCommand finds it.
std::string ProgramOfCommand(const std::string& command);

// True when the program is an installed copy that brings its own desktop entry.
bool IsInstalledProgram(const std::string& programPath);

// What the store asks of the desktop; writes nothing.
TDesktopReflection PlanDesktopReflection(const TRegistryContents& contents, const TDesktopHomes& homes);

// A mimeapps.list (or mimeinfo.cache) with every desktop id that `drop` accepts taken out
// of its lists (a key left with none goes), and each default (id, type) put first for
// its type in [Default Applications]. Everything else stays as it was.
std::string EditMimeAppsList(const std::string& text, const std::function<bool(const std::string&)>& drop,
                             const std::vector<std::pair<std::string, std::string>>& defaults);

// Writes the planned files, removes stale ones of ours with the defaults naming them,
// sets the defaults and runs the tools. False when a file could not be written (the
// tools still run for what was written).
bool ReflectIntoDesktop(const TRegistryContents& contents, const TDesktopHomes& homes, IDesktopTools& tools);
