// A stand-in for the command-line archiver "rar", for tests: it takes the switches the
// "Create RAR" page passes (a, -vn, -ep, -v<size>b, -m<n>, -p<pw>, -hp<pw>, -ap<path>,
// -sfx, the archive, @listfile), records its arguments, its working folder, the list
// file's contents and what its standard input is in the file named by
// $TALLYRA_FAKE_RAR_LOG (when set), and writes a stored RAR 2.9 archive of the listed
// files, split into .rar, .r00, .r01 ... volumes at the given size, with the files' data
// AES-encrypted under -p<pw>, and data and headers under -hp<pw>. It prints what the
// real archiver prints ("Creating archive", "Adding ... NN%" rewritten with backspaces,
// "OK", "Done") and never reads its standard input. For the failure cases:
//   TALLYRA_FAKE_RAR_EXIT=N         prints an error and ends with status N, no archive;
//   TALLYRA_FAKE_RAR_DELAY_MS=N     waits N ms between percentages (a slow run to halt);
//   TALLYRA_FAKE_RAR_IGNORE_TERM=1  ignores SIGTERM, so only a kill stops it.
#include "RarWriter.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include <sys/stat.h>

namespace {

long EnvNumber(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::strtol(value, nullptr, 10) : 0;
}

// "null" when standard input is /dev/null, "closed" when there is none, else "open".
std::string StdinKind() {
  struct stat in {}, null {};
  if (fstat(0, &in) != 0) return "closed";
  if (stat("/dev/null", &null) == 0 && S_ISCHR(in.st_mode) && in.st_rdev == null.st_rdev) return "null";
  return "open";
}

void Sleep(long ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

int main(int argc, char** argv) {
  if (EnvNumber("TALLYRA_FAKE_RAR_IGNORE_TERM") != 0) std::signal(SIGTERM, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  std::ostringstream log;
  log << "cwd=" << std::filesystem::current_path().string() << "\n";
  log << "stdin=" << StdinKind() << "\n";
  for (const auto& a : args) log << "arg=" << a << "\n";

  if (args.empty() || args[0] != "a") {
    std::cerr << "fake rar: only the a command\n";
    return 7;
  }
  std::uint64_t volumeSize = 0;
  std::string storePath;
  std::string archive;
  std::string listFile;
  std::string password, headerPassword;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("-hp", 0) == 0) {
      headerPassword = password = a.substr(3);
    } else if (a.rfind("-p", 0) == 0) {
      password = a.substr(2);
    } else if (a.rfind("-v", 0) == 0 && a != "-vn" && a.size() > 2 && a.back() == 'b') {
      volumeSize = std::stoull(a.substr(2, a.size() - 3));
    } else if (a.rfind("-ap", 0) == 0) {
      storePath = a.substr(3);
    } else if (a[0] == '@') {
      listFile = a.substr(1);
    } else if (a[0] != '-') {
      archive = a;
    }
  }
  std::vector<TRarTestEntry> entries;
  std::ifstream list(listFile, std::ios::binary);
  std::string line;
  while (std::getline(list, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    log << "list=" << line << "\n";
    std::ifstream in(line, std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    TRarTestEntry entry;
    // -ep: names without their folders; -ap puts the stored folder in front.
    entry.Name = std::filesystem::path(line).filename().string();
    if (!storePath.empty()) {
      std::string stored = storePath;
      for (char& c : stored) c = c == '/' ? '\\' : c;
      entry.Name = stored + "\\" + entry.Name;
    }
    entry.Data = data.str();
    entry.Password = password;
    entries.push_back(entry);
  }
  if (const char* logPath = std::getenv("TALLYRA_FAKE_RAR_LOG")) {
    std::ofstream(logPath, std::ios::binary | std::ios::app) << log.str();
  }
  std::cout << "\nRAR stand-in 1.00   for tests only\n\n" << std::flush;
  if (const long status = EnvNumber("TALLYRA_FAKE_RAR_EXIT")) {
    std::cout << "Cannot create " << archive << "\nNo space left on device\n" << std::flush;
    return static_cast<int>(status);
  }
  if (archive.empty() || entries.empty()) {
    std::cerr << "fake rar: nothing to add\n";
    return 10;
  }
  std::cout << "Creating archive " << archive << "\n\n" << std::flush;
  const long delay = EnvNumber("TALLYRA_FAKE_RAR_DELAY_MS");
  for (const TRarTestEntry& entry : entries) {
    std::cout << "Adding    " << entry.Name << "                    " << std::flush;
    for (int percent = 0; percent <= 100; percent += 10) {
      if (percent > 0) std::cout << "\b\b\b\b";
      std::cout << (percent < 10 ? "  " : percent < 100 ? " " : "") << percent << "%" << std::flush;
      if (delay > 0) Sleep(delay);
    }
    std::cout << "\b\b\b\b  OK \n" << std::flush;
  }
  TRarWriterOptions options;
  options.VolumeSize = volumeSize;
  options.Volumes = volumeSize > 0;
  options.HeaderPassword = headerPassword;
  const auto written = WriteRarArchive(archive, entries, options);
  for (std::size_t i = 1; i < written.size(); ++i) std::cout << "Creating archive " << written[i] << "\n";
  std::cout << "Done\n" << std::flush;
  return 0;
}
