#include "app/CommandLine.h"

#include "platform/FileSystem.h"
#include "platform/Text.h"

TStartPlan DispatchCommandLine(const std::string& cmdSwitch, const std::string& cmdFile) {
  TStartPlan plan;
  const std::string upper = UpperCase(cmdSwitch);
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

bool IsTraceSwitch(const std::string& cmdSwitch) { return UpperCase(cmdSwitch) == "DEBUG"; }
