#include "app/CommandLine.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <cctype>

namespace {
std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}
}  // namespace

TStartPlan DispatchCommandLine(const std::string& cmdSwitch, const std::string& cmdFile) {
  TStartPlan plan;
  const std::string upper = Upper(cmdSwitch);
  if (upper == "/C" || upper == "/M") {
    if (!FileExists(cmdFile)) return plan;
    plan.Request = upper == "/C" ? TStartRequest::Check : TStartRequest::Create;
    plan.CmdFile = LongPathName(cmdFile);
    plan.WorkDir = ExtractFilePath(plan.CmdFile);
  } else if (FileExists(cmdSwitch)) {
    plan.Request = TStartRequest::Check;
    plan.CmdFile = LongPathName(cmdSwitch);
    plan.WorkDir = ExtractFilePath(cmdSwitch);  // as typed, until the check runs
  }
  return plan;
}

bool IsTraceSwitch(const std::string& cmdSwitch) { return Upper(cmdSwitch) == "DEBUG"; }
