// tallyra-cli unrar: the "UnRar" page without the window: the version check over the
// first volume, then the extraction, printing the page's memo lines.
#include "archive/aknMessages.h"
#include "archive/aknUnRar.h"
#include "archive/aknUnRarText.h"
#include "cli/CliCommon.h"
#include "cli/CliOptions.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Terminal.h"
#include "platform/Wipe.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>

namespace {

void UnRarUsage(std::ostream& out) {
  out << "usage: tallyra-cli unrar [--no-prompt] [-p PASSWORD | --password=PASSWORD] [--] ARCHIVE [DEST]\n"
         "\n"
         "Extracts a RAR archive or volume set into DEST (default: a folder beside the\n"
         "archive named after it without its extension), printing the same lines as the\n"
         "window's UnRar page. A missing volume is asked for on the terminal (the path of\n"
         "the volume, or an empty line for the proposed one). Encrypted entries and headers\n"
         "take the password given with -p or --password=; without one, or after one that\n"
         "failed, it is asked for without echo when standard input is a terminal (other\n"
         "users may see a command line: the question is the safer way). --no-prompt never\n"
         "asks: a missing volume ends the set, an entry without its password is left out.\n"
         "-- ends the options, for an archive whose name begins with '-'.\n"
         "Exit status: 0 every entry of the archive or set was extracted and passed its\n"
         "check; 1 an entry failed or was left out (damage, a missing volume, a password,\n"
         "an unsupported method, a link that is not made) or the set was cut short; 2 bad\n"
         "usage, not an archive, or an archive this library cannot extract; 3 interrupted\n"
         "(Ctrl-C).\n";
}

void Print(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) std::cout << line << "\n";
  std::cout.flush();
}

std::string NameOf(const std::string& path) { return ExtractFileName(path); }

}  // namespace

int RunUnRar(const std::vector<std::string>& args) {
  std::string password;  // the last one given or typed; wiped when the command ends
  struct TWipe {
    std::string& Secret;
    ~TWipe() { WipeString(Secret); }
  } wipe{password};
  TCliArgs parsed = ParseCliArgs(args, {{"--no-prompt", "", false}, {"--password", "-p", true}});
  if (!parsed.Error.empty()) return UsageError(parsed.Error, UnRarUsage);
  if (parsed.Help) {
    UnRarUsage(std::cout);
    return ceOk;
  }
  const bool prompt = !parsed.Has("--no-prompt");
  if (const auto given = parsed.Values.find("--password"); given != parsed.Values.end()) {
    password = given->second;
    WipeString(given->second);
  }
  const std::vector<std::string>& positional = parsed.Positional;
  if (positional.empty() || positional.size() > 2) {
    UnRarUsage(std::cerr);
    return ceUsage;
  }
  const std::string archive = LongPathName(positional[0]);
  if (!FileExists(archive)) {
    std::cerr << "Cannot open file " << positional[0] << "\n";
    return ceUsage;
  }
  const std::string base = std::filesystem::path(archive).stem().string();
  const std::string dest = positional.size() > 1 ? positional[1] : ExtractFilePath(archive) + base;

  const TProgramPaths paths = ResolveProgramPaths();
  InitUnRarLibrary(paths.ExeDir);
  InstallInterruptHandler();
  struct TDone {
    ~TDone() { DoneUnRarLibrary(); }
  } done;

  TUnRar unrar;
  // The dry run's errors come after its version lines, as they stand in the page's memo.
  std::vector<std::string> dryRunErrors;
  unrar.OnError = [&](TZipCommon*, const std::string& file, const std::string& msg, const std::string&,
                      std::int32_t code) {
    for (const std::string& line : RarErrorLines(file, msg, code)) dryRunErrors.push_back(line);
  };
  // The password given (or the last one typed) is tried once for each file of a run; then, on
  // a terminal, the user is asked.
  std::string offeredFor;
  bool passwordSkipped = false;
  std::string askedFor;
  unrar.OnGetPassword = [&](TZipCommon*, const std::string& file, std::string& answer, bool& tryAgain) {
    if (file != offeredFor && !password.empty()) {
      offeredFor = file;
      answer = password;
      return;
    }
    if (passwordSkipped || !prompt || !StdinIsTerminal()) {
      tryAgain = false;
      return;
    }
    if (file == askedFor) std::cerr << MessageText(26517) << "\n";  // the last answer did not open it
    std::optional<std::string> typed = ReadSecretLine("Password for " + NameOf(file) + ": ");
    if (!typed) {
      // End of input or Ctrl-C: no more questions.
      passwordSkipped = true;
      tryAgain = false;
      if (CliHalted() && !unrar.Cancel()) unrar.SetCancel(true);
      return;
    }
    if (typed->empty()) return;  // nothing to try: the component asks again
    askedFor = file;
    WipeString(password);
    password = *typed;
    WipeString(*typed);
    offeredFor = file;
    answer = password;
  };
  unrar.SetArchiveFile(archive);
  if (!TRegisterArkon::IsDecompressable(unrar.ArcType())) {
    std::cerr << "Not a valid archive: " << positional[0] << "\n";
    return ceUsage;
  }

  // The version check: a dry run over the first volume that writes nothing.
  bool compatible = true;
  std::vector<std::string> versionLines = {"Checking RAR Version..."};
  unrar.SetExtractDir(AddBackslash(dest));
  unrar.SetFileSpec({"*.*"});
  unrar.OnBegin = [&](TZipCommon*, const std::string&, std::int32_t, bool& extract) {
    extract = false;
    compatible = RarVersionCompatible(unrar.HeaderData().UnpVer, UnRarLibrary().GetDllVersion());
    versionLines = RarVersionLines(unrar.HeaderData().UnpVer, unrar.HeaderData().HostOS);
  };
  unrar.Extract();
  Print(versionLines);
  Print(dryRunErrors);
  if (!compatible) {
    Print({" "});
    Print(RarIncompatibleLines());
    return ceUsage;
  }
  // Headers no password opened: nothing to extract, and no folder for it.
  if (unrar.HeadersLocked()) {
    Print({" ", "Extracted 0 files", "Not extracted: the archive's headers are encrypted, and no password opened them"});
    return CliHalted() ? ceInterrupted : ceFailed;
  }

  // What the command makes is taken away again if nothing comes into it.
  const std::vector<std::string> madeFolders = MissingFolders(dest);
  ForceDirectories(dest);
  unrar.SetCreateStoredDirs(true);
  unrar.SetUseStoredDirs(true);
  unrar.SetRestoreFileAttr(true);
  unrar.SetExtractDir(AddBackslash(dest));
  unrar.SetFileSpec({"*.*"});
  unrar.OnBegin = nullptr;
  int errors = 0;
  unrar.OnError = [&](TZipCommon*, const std::string& file, const std::string& msg, const std::string&,
                      std::int32_t code) {
    ++errors;
    Print(RarErrorLines(file, msg, code));
  };
  std::string currentVolume = NameOf(archive);
  unrar.OnProgress = [&](TZipCommon*, std::uint8_t, std::uint8_t) {
    if (CliHalted() && !unrar.Cancel()) unrar.SetCancel(true);
  };
  unrar.OnNextVolume = [&](TZipCommon*, std::string& volume, const std::string& id, bool exists, bool& cancel) {
    cancel = CliHalted();
    if (!cancel && !exists) {
      if (!prompt) {
        cancel = true;
      } else {
        std::cerr << "Volume ID: " << id << " (" << NameOf(volume) << ") not found. Path [" << volume << "]: ";
        std::string answer;
        if (!std::getline(std::cin, answer)) cancel = true;
        else if (!answer.empty()) volume = answer;
        // A name that does not exist either is asked for again; the volume is not done yet.
        if (!cancel && !FileExists(volume)) return;
      }
    }
    Print({"Extracted " + currentVolume});
    currentVolume = NameOf(volume);
  };
  offeredFor.clear();
  const std::int32_t extracted = unrar.Extract();
  RemoveEmptyFolders(madeFolders);
  Print({" ", "Extracted " + std::to_string(extracted) + " files"});
  const std::int32_t found = std::max(unrar.EntriesFound(), extracted);
  if (found > extracted) {
    Print({"Not extracted: " + std::to_string(found - extracted) + " of " + std::to_string(found) + " entries"});
  }
  if (!unrar.ReachedEnd() && !CliHalted()) Print({"Stopped before the end of the archive: later entries were not reached"});
  if (CliHalted()) return ceInterrupted;
  return errors == 0 && found == extracted && unrar.ReachedEnd() ? ceOk : ceFailed;
}
