#pragma once
#include <string>

// What the command line asks for at start-up. Only the first two arguments count.
enum class TStartRequest {
  None,    // nothing: the window opens idle on "Create SFV File"
  Check,   // check an SFV file (/C file, or a file alone) after 500 ms
  Create,  // create an SFV for a file's set (/M file) after 2000 ms
};

struct TStartPlan {
  TStartRequest Request = TStartRequest::None;
  std::string CmdFile;  // the long form of the named file
  std::string WorkDir;  // its folder, as the dispatch gives it
};

TStartPlan DispatchCommandLine(const std::string& cmdSwitch, const std::string& cmdFile);

// "debug" in any letter case as the first argument turns the checksum trace on.
bool IsTraceSwitch(const std::string& cmdSwitch);
