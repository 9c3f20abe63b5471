// tallyra-cli: SFV creation and checking, and RAR extraction, without the window, through
// the same engines.
#include "app/Version.h"
#include "cli/CliCommon.h"

#include <iostream>
#include <string>
#include <vector>

namespace {
void Usage(std::ostream& out) {
  out << "usage: tallyra-cli COMMAND [ARGS...]\n"
         "       tallyra-cli --version\n"
         "\n"
         "commands:\n"
         "  create   write an SFV file for files of one folder (see: tallyra-cli create --help)\n"
         "  check    check the files SFV files list (see: tallyra-cli check --help)\n"
         "  unrar    extract a RAR archive or volume set (see: tallyra-cli unrar --help)\n";
}
}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    Usage(std::cerr);
    return ceUsage;
  }
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "--help" || command == "-h" || command == "help") {
    Usage(std::cout);
    return ceOk;
  }
  if (command == "--version") {
    const TFileVersion v = ProgramVersion();
    std::cout << "tallyra-cli " << v.Major << '.' << v.Minor << '.' << v.Release << '.' << v.Build << "\n";
    return ceOk;
  }
  if (command == "create") return RunCreate(rest);
  if (command == "check") return RunCheck(rest);
  if (command == "unrar") return RunUnRar(rest);
  std::cerr << "tallyra-cli: " << (command.size() > 1 && command[0] == '-' ? "unknown option: "
                                                                           : "unknown command: ")
            << command << "\n";
  Usage(std::cerr);
  return ceUsage;
}
