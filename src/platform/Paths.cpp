#include "platform/Paths.h"

#include "platform/FileSystem.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace {

std::string ConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && *xdg == '/') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config";
}

}  // namespace

std::string TProgramPaths::DataFile(const std::string& name) const {
  return AddBackslash(DataDir) + name;
}

std::string TProgramPaths::IniPath() const {
  return DataFile(ChangeFileExt(ExtractFileName(ExeName), ".ini"));
}

TProgramPaths ProgramPathsFor(const std::string& exeName) {
  TProgramPaths paths;
  paths.ExeName = exeName;
  paths.ExeDir = ExtractFilePath(exeName);
  if (paths.ExeDir.size() > 1) paths.ExeDir.pop_back();
  const bool own = !IsInstalledLayout(paths.ExeDir) && access(paths.ExeDir.c_str(), W_OK) == 0;
  paths.DataDir = own ? paths.ExeDir : ConfigHome() + "/tallyra";
  return paths;
}

bool IsInstalledLayout(const std::string& exeDir) {
  // What the install step puts beside PREFIX/bin and a build or portable copy lacks. Both
  // count, so a copy with one of them removed still keeps its files out of PREFIX/bin.
  const std::string prefix = AddBackslash(exeDir) + "../";
  return FileExists(prefix + "lib/tallyra/libunrar.so") || FileExists(prefix + "share/applications/tallyra.desktop");
}

TProgramPaths ResolveProgramPaths() {
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return ProgramPathsFor(LongPathName("tallyra"));
  return ProgramPathsFor(std::string(exe, static_cast<std::size_t>(n)));
}
