// A stand-in for the command-line archiver "rar", for tests: it takes the switches the
// "Create RAR" page passes (a, -vn, -ep, -v<size>b, -m<n>, -p<pw>, -hp<pw>, -ap<path>,
// -sfx, the archive, @listfile), records its arguments, its working folder and the list
// file's contents in the file named by $TALLYRA_FAKE_RAR_LOG (when set), and writes a
// stored RAR 2.9 archive of the listed files, split into .rar, .r00, .r01 ... volumes at
// the given size.
#include "RarWriter.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::ostringstream log;
  log << "cwd=" << std::filesystem::current_path().string() << "\n";
  for (const auto& a : args) log << "arg=" << a << "\n";

  if (args.empty() || args[0] != "a") {
    std::cerr << "fake rar: only the a command\n";
    return 7;
  }
  std::uint64_t volumeSize = 0;
  std::string storePath;
  std::string archive;
  std::string listFile;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("-v", 0) == 0 && a != "-vn" && a.size() > 2 && a.back() == 'b') {
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
    entries.push_back(entry);
  }
  if (const char* logPath = std::getenv("TALLYRA_FAKE_RAR_LOG")) {
    std::ofstream(logPath, std::ios::binary | std::ios::app) << log.str();
  }
  if (archive.empty() || entries.empty()) {
    std::cerr << "fake rar: nothing to add\n";
    return 10;
  }
  TRarWriterOptions options;
  options.VolumeSize = volumeSize;
  options.Volumes = volumeSize > 0;
  for (const auto& written : WriteRarArchive(archive, entries, options)) {
    std::cout << "Creating " << written << "\n";
  }
  return 0;
}
