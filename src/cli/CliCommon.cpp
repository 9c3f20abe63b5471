#include "cli/CliCommon.h"

#include "app/Version.h"
#include "platform/Text.h"

#include <algorithm>
#include <csignal>
#include <filesystem>

namespace {
volatile std::sig_atomic_t interrupted = 0;
extern "C" void OnInterrupt(int) { interrupted = 1; }
}  // namespace

bool CliHalted() { return interrupted != 0; }

void InstallInterruptHandler() {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

TFileCrcResult TCliCrcReader::operator()(const std::string& path) {
  TCrcReadHooks hooks;
  hooks.Halted = CliHalted;
  return reader_.FileCrc(path, hooks);
}

std::string CliStatusTitle() { return "Tallyra " + FormatVersionText(ProgramVersion()); }

std::vector<std::string> ListFolderFiles(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name[0] == '.' || entry.is_directory(ec)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const std::string la = LowerCase(a), lb = LowerCase(b);
    return la != lb ? la < lb : a < b;
  });
  return names;
}
