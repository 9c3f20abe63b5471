// tallyra-cli unrar: the "UnRar" page without the window: the version check over the
// first volume, then the extraction, printing the page's memo lines.
#include "archive/aknUnRar.h"
#include "archive/aknUnRarText.h"
#include "cli/CliCommon.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <algorithm>
#include <filesystem>
#include <iostream>

namespace {

void UnRarUsage(std::ostream& out) {
  out << "usage: tallyra-cli unrar [--no-prompt] [--] ARCHIVE [DEST]\n"
         "\n"
         "Extracts a RAR archive or volume set into DEST (default: a folder beside the\n"
         "archive named after it without its extension), printing the same lines as the\n"
         "window's UnRar page. A missing volume is asked for on the terminal (the path of\n"
         "the volume, or an empty line for the proposed one); --no-prompt refuses instead.\n"
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
  bool prompt = true;
  bool options = true;
  std::vector<std::string> positional;
  for (const std::string& a : args) {
    if (options && a == "--") {
      options = false;
    } else if (options && (a == "--help" || a == "-h")) {
      UnRarUsage(std::cout);
      return ceOk;
    } else if (options && a == "--no-prompt") {
      prompt = false;
    } else if (options && a.size() > 1 && a[0] == '-') {
      UnRarUsage(std::cerr);
      return ceUsage;
    } else {
      positional.push_back(a);
    }
  }
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

  ForceDirectories(dest);
  unrar.SetCreateStoredDirs(true);
  unrar.SetUseStoredDirs(true);
  unrar.SetRestoreFileAttr(true);
  unrar.SetExtractDir(AddBackslash(dest));
  unrar.SetFileSpec({"*.*"});  // a password that failed in the dry run cleared it
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
  const std::int32_t extracted = unrar.Extract();
  Print({" ", "Extracted " + std::to_string(extracted) + " files"});
  const std::int32_t found = std::max(unrar.EntriesFound(), extracted);
  if (found > extracted) {
    Print({"Not extracted: " + std::to_string(found - extracted) + " of " + std::to_string(found) + " entries"});
  }
  if (!unrar.ReachedEnd() && !CliHalted()) Print({"Stopped before the end of the archive: later entries were not reached"});
  if (CliHalted()) return ceInterrupted;
  return errors == 0 && found == extracted && unrar.ReachedEnd() ? ceOk : ceFailed;
}
