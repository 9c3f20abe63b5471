// tallyra-cli check: the "Validate SFV file" page without the window.
#include "checksum/SfvCheck.h"
#include "cli/CliCommon.h"
#include "platform/FileSystem.h"

#include <fstream>
#include <iostream>
#include <sstream>

namespace {

void CheckUsage(std::ostream& out) {
  out << "usage: tallyra-cli check FILE.sfv\n"
         "\n"
         "Checks every file an SFV file lists, in the SFV file's folder, and prints the\n"
         "result list as the window's \"Copy all\" does, one line per file as it is judged,\n"
         "then the summary. The error blocks of failed files go to standard error.\n"
         "Exit status: 0 every entry passed, 1 one failed or was not found, 2 the SFV file\n"
         "cannot be opened or bad usage, 3 interrupted (Ctrl-C).\n";
}

}  // namespace

int RunCheck(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    CheckUsage(std::cout);
    return ceOk;
  }
  if (args.size() != 1 || (args[0].size() > 1 && args[0][0] == '-')) {
    CheckUsage(std::cerr);
    return ceUsage;
  }
  const std::string sfvPath = args[0];
  std::ifstream in(sfvPath, std::ios::binary);
  if (!in || DirectoryExists(sfvPath)) {
    std::cerr << "Cannot open file " << sfvPath << "\n";
    return ceUsage;
  }
  std::ostringstream text;
  text << in.rdbuf();
  const std::vector<TSfvEntry> entries = ReadSfvEntries(text.str());
  const std::string workDir = ExtractFilePath(LongPathName(sfvPath));

  // The widest first field is known before the check: the names and the summary labels.
  std::vector<std::string> widthItems = SummaryItems(0, 0, 0, 0);
  for (const TSfvEntry& e : entries) widthItems.push_back(EntryItem(e, "Status"));
  const int width = CopyFirstWidth(widthItems);
  auto print = [&](const std::vector<std::string>& items) {
    std::cout << CopyResultsText(items, width, "\n");
    std::cout.flush();
  };

  InstallInterruptHandler();
  TCliCrcReader reader;
  TSfvCheckHooks hooks;
  hooks.Halted = CliHalted;
  hooks.FileCrc = [&](const std::string& path) { return reader(path); };
  hooks.OnVerdict = [&](int, int, const TSfvEntry& entry, TEntryVerdict verdict, std::uint32_t) {
    print({EntryItem(entry, VerdictStatus(verdict))});
  };

  const TSfvCheckResult result = CheckSfvEntries(workDir, entries, hooks, SystemClock());
  for (const std::string& line : result.ErrorLines) {
    std::cerr << line;
    if (line.empty() || line.back() != '\n') std::cerr << "\n";
  }
  if (result.Halted) {
    print(HaltedItems(result.HaltedAt, result.Count));
    return ceInterrupted;
  }
  print(SummaryItems(result.Count, result.Failures, result.ElapsedMs,
                     static_cast<long double>(result.Bytes)));
  return result.Failures == 0 ? ceOk : ceFailed;
}
