#include "cli/CliCommon.h"

#include "app/Version.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <csignal>
#include <filesystem>

namespace {
volatile std::sig_atomic_t interrupted = 0;
extern "C" void OnInterrupt(int) { interrupted = 1; }

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
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
    if (name.empty() || name[0] == '.' || entry.is_directory(ec)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const std::string la = Lower(a), lb = Lower(b);
    return la != lb ? la < lb : a < b;
  });
  return names;
}
