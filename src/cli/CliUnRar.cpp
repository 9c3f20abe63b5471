// tallyra-cli unrar: the "UnRar" page without the window: the version check over the
// first volume, then the extraction, printing the page's memo lines.
#include "archive/aknUnRar.h"
#include "archive/aknUnRarText.h"
#include "cli/CliCommon.h"
#include "cli/CliOptions.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <filesystem>
#include <iostream>

namespace {

void UnRarUsage(std::ostream& out) {
  out << "usage: tallyra-cli unrar [--no-prompt] ARCHIVE [DEST]\n"
         "\n"
         "Extracts a RAR archive or volume set into DEST (default: a folder beside the\n"
         "archive named after it without its extension), printing the same lines as the\n"
         "window's UnRar page. A missing volume is asked for on the terminal (the path of\n"
         "the volume, or an empty line for the proposed one); --no-prompt refuses instead.\n"
         "Exit status: 0 every file extracted and passed its CRC, 1 otherwise (errors, an\n"
         "incompatible archive, Ctrl-C), 2 bad usage or an archive that cannot be opened.\n";
}

void Print(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) std::cout << line << "\n";
  std::cout.flush();
}

std::string NameOf(const std::string& path) { return ExtractFileName(path); }

}  // namespace

int RunUnRar(const std::vector<std::string>& args) {
  const TCliArgs parsed = ParseCliArgs(args, {{"--no-prompt", "", false}});
  if (!parsed.Error.empty()) return UsageError(parsed.Error, UnRarUsage);
  if (parsed.Help) {
    UnRarUsage(std::cout);
    return ceOk;
  }
  const bool prompt = !parsed.Has("--no-prompt");
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
  RecoverUnixRepairs(paths.DataDir);
  InstallInterruptHandler();

  TUnRar unrar;
  unrar.SetJournalDir(paths.DataDir);
  // The dry run's errors come after its version lines, as they stand in the page's memo.
  std::vector<std::string> dryRunErrors;
  unrar.OnError = [&](TZipCommon*, const std::string& file, const std::string& msg, const std::string&,
                      std::int32_t code) {
    for (const std::string& line : RarErrorLines(file, msg, code)) dryRunErrors.push_back(line);
  };
  unrar.SetArchiveFile(archive);
  if (!TRegisterArkon::IsDecompressable(unrar.ArcType())) {
    std::cerr << "Not a valid archive: " << positional[0] << "\n";
    DoneUnRarLibrary();
    return ceUsage;
  }

  // The version check: a dry run over the first volume.
  bool compatible = true;
  std::vector<std::string> versionLines = {"Checking RAR Version..."};
  unrar.SetExtractDir(AddBackslash(dest));
  unrar.SetFileSpec({"*.*"});
  unrar.OnBegin = [&](TZipCommon*, const std::string&, std::int32_t, bool& extract) {
    extract = false;
    compatible = RarVersionCompatible(unrar.HeaderData().UnpVer);
    versionLines = RarVersionLines(unrar.HeaderData().UnpVer, unrar.HeaderData().HostOS);
  };
  unrar.OnNextVolume = [](TZipCommon*, std::string&, const std::string&, bool, bool& cancel) { cancel = true; };
  unrar.Extract();
  Print(versionLines);
  Print(dryRunErrors);
  if (!compatible) {
    Print({" "});
    Print(RarIncompatibleLines());
    DoneUnRarLibrary();
    return ceFailed;
  }

  ForceDirectories(dest);
  unrar.SetCreateStoredDirs(true);
  unrar.SetUseStoredDirs(true);
  unrar.SetRestoreFileAttr(true);
  unrar.SetExtractDir(AddBackslash(dest));
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
      }
    }
    Print({"Extracted " + currentVolume});
    currentVolume = NameOf(volume);
  };
  const std::int32_t extracted = unrar.Extract();
  Print({" ", "Extracted " + std::to_string(extracted) + " files"});
  DoneUnRarLibrary();
  if (CliHalted()) return ceInterrupted;
  return errors == 0 ? ceOk : ceFailed;
}
