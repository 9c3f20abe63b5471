// tallyra-cli create: the "Create SFV File" page without the window.
#include "checksum/SfvCreate.h"
#include "checksum/SfvFile.h"
#include "cli/CliCommon.h"
#include "cli/CliOptions.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"

#include <cstdio>
#include <iostream>

namespace {

void CreateUsage(std::ostream& out) {
  out << "usage: tallyra-cli create [--rule first|dir|custom:NAME] [--] FILE...\n"
         "       tallyra-cli create [--rule first|dir|custom:NAME] --set FILE\n"
         "\n"
         "Sums the files (all in one folder, in the order given) and writes an SFV file\n"
         "into their folder, named by the rule: first = the first file's name with .sfv,\n"
         "dir = the folder's name (the default), custom:NAME = NAME with .sfv added unless\n"
         "it ends in .sfv. --set FILE takes every file of FILE's set instead: the files of\n"
         "its folder named like FILE, whatever their extension.\n"
         "-- ends the options, for files whose names begin with '-'. The SFV file is never\n"
         "written outside the folder of the files.\n"
         "Prints the same log lines as the window. A file that cannot be read is left out\n"
         "of the SFV and reported.\n"
         "Exit status: 0 written, 1 a file could not be read, 2 bad usage or the SFV\n"
         "could not be written, 3 interrupted (Ctrl-C; nothing is written).\n";
}

}  // namespace

int RunCreate(const std::vector<std::string>& args) {
  const TCliArgs parsed = ParseCliArgs(args, {{"--rule", "", true}, {"--set", "", true}});
  if (!parsed.Error.empty()) return UsageError(parsed.Error, CreateUsage);
  if (parsed.Help) {
    CreateUsage(std::cout);
    return ceOk;
  }
  int rule = nrDirectoryName;
  std::string custom;
  if (parsed.Has("--rule")) {
    const std::string r = parsed.Value("--rule");
    if (r == "first") {
      rule = nrFirstSelected;
    } else if (r == "dir") {
      rule = nrDirectoryName;
    } else if (r.rfind("custom:", 0) == 0) {
      rule = nrCustomName;
      custom = r.substr(7);
    } else {
      return UsageError("unknown rule: " + r, CreateUsage);
    }
  }
  const std::string setFile = parsed.Value("--set");
  const std::vector<std::string>& files = parsed.Positional;

  TSfvCreateRequest request;
  if (parsed.Has("--set")) {
    if (!files.empty() || !FileExists(setFile)) {
      std::cerr << (files.empty() ? "tallyra-cli: no such file: " + setFile + "\n"
                                  : "tallyra-cli: --set takes one file\n");
      return ceUsage;
    }
    const std::string cmdFile = LongPathName(setFile);
    request.Folder = ExtractFilePath(cmdFile);
    for (const std::string& name : ListFolderFiles(request.Folder)) {
      if (IsInFileSet(request.Folder + name, "/M", cmdFile)) request.Names.push_back(name);
    }
  } else {
    if (files.empty()) return UsageError("no files given", CreateUsage);
    for (const std::string& file : files) {
      const std::string typed = ExtractFilePath(LongPathName(file));
      const std::string folder = AddBackslash(LongPathName(typed.empty() ? "." : typed));
      if (request.Folder.empty()) request.Folder = folder;
      if (folder != request.Folder) {
        std::cerr << "tallyra-cli: all files must stand in one folder\n";
        return ceUsage;
      }
      request.Names.push_back(ExtractFileName(file));
    }
  }
  if (request.Names.empty()) {
    std::cerr << "tallyra-cli: no files to sum\n";
    return ceUsage;
  }
  request.SfvPath = SfvPathForRule(rule, request.Folder, request.Names.front(), custom);
  if (ExtractFilePath(request.SfvPath) != request.Folder) {
    // The SFV names its files relative to its own folder: written anywhere else it would
    // name none of them, and it must never land outside the folder the user named.
    std::cerr << "Cannot create file " << request.SfvPath << ": the SFV file must stand in the folder of its files\n";
    return ceUsage;
  }
  request.StatusTitle = CliStatusTitle();

  InstallInterruptHandler();
  TCliCrcReader reader;
  TSfvCreateHooks hooks;
  hooks.Halted = CliHalted;
  hooks.FileCrc = [&](const std::string& path) { return reader(path); };
  hooks.OnFileDone = [](int, int, const std::string& name, const TFileCrcResult& r) {
    if (r.Status == TCrcStatus::Ok) {
      std::cout << name << " CRC is " << CrcHexUpper(r.Crc) << "\n";
    } else {
      std::string text = SystemErrorText(r.ErrorCode);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      std::cout << name << " could not be read: " << text << "\n";
      for (const std::string& line : ReadErrorBlock(name, r.ErrorCode)) std::cerr << line << "\n";
    }
    std::cout.flush();
  };

  const TSfvCreateResult result = CreateSfv(request, hooks);
  switch (result.Outcome) {
    case TSfvCreateOutcome::Halted:
      std::cout << "\nUser halted\n";
      return ceInterrupted;
    case TSfvCreateOutcome::WriteFailed:
      std::cerr << "Cannot create file " << request.SfvPath << "\n";
      return ceUsage;
    case TSfvCreateOutcome::Written:
      break;
  }
  std::cout << "\nValidation file created\n";
  return result.Unreadable.empty() ? ceOk : ceFailed;
}
