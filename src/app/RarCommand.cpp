#include "app/RarCommand.h"

#include "platform/FileSystem.h"

#include <array>

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string PasswordInText(const std::string& password) {
  if (password.find_first_of(" \"") == std::string::npos) return password;
  std::string escaped;
  for (char c : password) {
    if (c == '"') escaped += '\\';
    escaped += c;
  }
  return Quoted(escaped);
}

// The switches between the volume switch and the archive, without their leading blank.
std::vector<std::pair<std::string, std::string>> OptionalSwitches(const TRarOptions& o) {
  std::vector<std::pair<std::string, std::string>> switches;  // switch, its value
  if (o.EncryptHeaders) switches.emplace_back("-hp", o.PasswordText);
  else if (o.Password) switches.emplace_back("-p", o.PasswordText);
  if (!o.StorePath.empty()) switches.emplace_back("-ap", o.StorePath);
  if (o.Sfx) switches.emplace_back("-sfx", "");
  return switches;
}

}  // namespace

std::string VolumeSizeText(int index) {
  static constexpr std::array<const char*, 8> sizes = {
      "1000000b", "2000000b", "3000000b", "4000000b", "5000000b", "10000000b", "15000000b", "20000000b"};
  if (index < 0 || index >= static_cast<int>(sizes.size())) return {};
  return sizes[static_cast<std::size_t>(index)];
}

std::string BuildRarCommand(const TRarOptions& o, const std::string& archivePath) {
  std::string text = " a -vn -ep -v" + o.VolumeSwitch + " -m" + std::to_string(o.CompressionIndex);
  for (const auto& [name, value] : OptionalSwitches(o)) {
    text += " " + name;
    if (name == "-ap") text += Quoted(value);
    else if (name != "-sfx") text += PasswordInText(value);
  }
  return text + " " + Quoted(archivePath) + " @" + RarListName;
}

std::vector<std::string> BuildRarArguments(const TRarOptions& o, const std::string& archivePath) {
  std::vector<std::string> args = {"a", "-vn", "-ep", "-v" + o.VolumeSwitch,
                                   "-m" + std::to_string(o.CompressionIndex)};
  for (const auto& [name, value] : OptionalSwitches(o)) args.push_back(name + value);
  args.push_back(archivePath);
  args.push_back(std::string("@") + RarListName);
  return args;
}

std::string RarListText(const std::vector<std::string>& paths) {
  std::string text;
  for (const auto& path : paths) text += path + "\r\n";
  return text;
}

bool ArchiveWritten(const std::string& archivePath, bool sfx) {
  if (FileExists(archivePath)) return true;
  if (!sfx) return false;
  for (const char* ext : {".exe", ".sfx", ""}) {
    if (FileExists(ChangeFileExt(archivePath, ext))) return true;
  }
  return false;
}

std::string RarRunProblem(const TRarRun& run, const std::string& archivePath, bool archiveWritten) {
  const std::string archiver = RarArchiverName;
  switch (run.Outcome) {
    case TRarOutcome::Missing: return archiver + " Not found";
    case TRarOutcome::NotStarted: return archiver + " could not be started";
    case TRarOutcome::Halted: return archiver + " halted";
    case TRarOutcome::Crashed: return archiver + " stopped abnormally";
    case TRarOutcome::Exited: break;
  }
  if (run.ExitCode != 0) return archiver + " ended with exit status " + std::to_string(run.ExitCode);
  return archiveWritten ? std::string() : archiver + " did not create " + archivePath;
}
