#pragma once
#include <string>

// Where the program lives and where it keeps its files ("tallyra.ini", "debug.txt",
// "rarlist.txt"). Resolved once at start-up and handed to whoever needs it, so tests
// can point everything at a temporary folder.
struct TProgramPaths {
  std::string ExeName;  // full path of the program file
  std::string ExeDir;   // its folder, without a trailing separator
  std::string DataDir;  // folder of the program's own files, without a trailing separator

  // The program's own files: the data folder plus a name. Writers create the folder
  // (ForceDirectories) when it does not exist yet, as on a first run.
  std::string DataFile(const std::string& name) const;
  // The settings file: the program file's name with ".ini" in the data folder.
  std::string IniPath() const;
};

// The running program's paths. The data folder is the program's folder when the
// user may write there (a portable copy, the build tree) and the program is not an
// installed copy, else $XDG_CONFIG_HOME/tallyra (default ~/.config/tallyra).
TProgramPaths ResolveProgramPaths();

// True when exeDir is PREFIX/bin of an installed copy: PREFIX/lib/tallyra/libunrar.so or
// PREFIX/share/applications/tallyra.desktop exists. Root may write /usr/bin, yet an
// installed program must keep its files in the user's configuration folder.
bool IsInstalledLayout(const std::string& exeDir);

// The same rule for a given program file, for tests and tools.
TProgramPaths ProgramPathsFor(const std::string& exeName);
