#include "cli/CliCommon.h"

#include "app/Version.h"
#include "platform/Text.h"

#include <algorithm>
#include <csignal>
#include <filesystem>

namespace {
volatile std::sig_atomic_t interrupted = 0;
// The first Ctrl-C halts at the next block, as "&Halt" does; a second one ends the
// program at once, should anything ever keep it from reaching that block.
extern "C" void OnInterrupt(int signal) {
  interrupted = 1;
  std::signal(signal, SIG_DFL);
}
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
    // Only regular files (links to them included), as the window's lists offer.
    if (name.empty() || name[0] == '.' || !entry.is_regular_file(ec)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const std::string la = LowerCase(a), lb = LowerCase(b);
    return la != lb ? la < lb : a < b;
  });
  return names;
}
