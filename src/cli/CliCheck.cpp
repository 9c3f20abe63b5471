// tallyra-cli check: the "Validate SFV file" page without the window.
#include "checksum/SfvCheck.h"
#include "cli/CliCommon.h"
#include "cli/CliOptions.h"
#include "platform/FileSystem.h"
#include "platform/SequentialFile.h"
#include "platform/SystemError.h"

#include <algorithm>
#include <iostream>

namespace {

void CheckUsage(std::ostream& out) {
  out << "usage: tallyra-cli check [-q|--quiet] [--] FILE.sfv...\n"
         "\n"
         "Checks every file an SFV file lists, in the SFV file's folder, and prints the\n"
         "result list as the window's \"Copy all\" does, one line per file as it is judged,\n"
         "then the summary. Names are found as Windows finds them: \"\\\" separates folders\n"
         "and letter case only matters where two files differ in nothing else.\n"
         "The error blocks of failed files go to standard error. With several SFV files,\n"
         "each is checked in turn, its list headed by its name.\n"
         "  -q, --quiet   list only the entries that did not pass, then the summary\n"
         "  --            ends the options\n"
         "Exit status: 0 every entry passed, 1 one failed or was not found, 2 an SFV file\n"
         "cannot be opened or lists no entries, or bad usage, 3 interrupted (Ctrl-C).\n"
         "With several SFV files, the worst of their statuses.\n";
}

std::string WithoutLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

int CheckOne(const std::string& sfvPath, bool quiet, TCliCrcReader& reader) {
  std::string bytes;
  if (const int code = ReadRegularFile(sfvPath, bytes); code != 0) {
    std::cerr << "Cannot open file " << sfvPath << ": " << WithoutLineEnd(SystemErrorText(code)) << "\n";
    return ceUsage;
  }
  const std::vector<TSfvEntry> entries = ReadSfvEntries(bytes);
  const std::string workDir = ExtractFilePath(LongPathName(sfvPath));

  // The widest first field is known before the check: the names and the summary labels.
  std::vector<std::string> widthItems = SummaryItems(0, 0, 0, 0);
  for (const TSfvEntry& e : entries) widthItems.push_back(EntryItem(e, "Status"));
  const int width = CopyFirstWidth(widthItems);
  auto print = [&](const std::vector<std::string>& items) {
    std::cout << CopyResultsText(items, width, "\n");
    std::cout.flush();
  };

  TSfvCheckHooks hooks;
  hooks.Halted = CliHalted;
  hooks.FileCrc = [&](const std::string& path) { return reader(path); };
  hooks.OnVerdict = [&](int, int, const TSfvEntry& entry, TEntryVerdict verdict, std::uint32_t) {
    if (!quiet || verdict != TEntryVerdict::Passed) print({EntryItem(entry, VerdictStatus(verdict))});
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
  if (result.Count == 0) {
    // "All passed!" over nothing: a script must not take it for a passing set.
    std::cerr << "tallyra-cli: " << sfvPath << ": no entries\n";
    return ceUsage;
  }
  return result.Failures == 0 ? ceOk : ceFailed;
}

}  // namespace

int RunCheck(const std::vector<std::string>& args) {
  const TCliArgs parsed = ParseCliArgs(args, {{"--quiet", "-q", false}});
  if (!parsed.Error.empty()) return UsageError(parsed.Error, CheckUsage);
  if (parsed.Help) {
    CheckUsage(std::cout);
    return ceOk;
  }
  if (parsed.Positional.empty()) return UsageError("no SFV file given", CheckUsage);

  InstallInterruptHandler();
  TCliCrcReader reader;
  const bool several = parsed.Positional.size() > 1;
  int worst = ceOk;
  for (std::size_t i = 0; i < parsed.Positional.size(); ++i) {
    const std::string& sfv = parsed.Positional[i];
    if (several) std::cout << (i == 0 ? "" : "\n") << sfv << ":\n";
    const int status = CheckOne(sfv, parsed.Has("--quiet"), reader);
    worst = std::max(worst, status);
    if (status == ceInterrupted) break;
  }
  return worst;
}
