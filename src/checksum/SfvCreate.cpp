#include "checksum/SfvCreate.h"

#include "checksum/RarSets.h"
#include "checksum/SfvFile.h"
#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "platform/Text.h"

std::string SfvPathForRule(int rule, const std::string& folder, const std::string& firstName,
                           const std::string& customName) {
  const std::string d = AddBackslash(folder);
  switch (rule) {
    case nrFirstSelected:
      return d + ChangeFileExt(firstName, ".sfv");
    case nrCustomName:
      return d + (LowerCase(ExtractFileExt(customName)) == ".sfv" ? customName : customName + ".sfv");
    default: {
      // The folder's last component; the root has none, which gives ".sfv".
      std::string trimmed = d.substr(0, d.empty() ? 0 : d.size() - 1);
      return d + ExtractFileName(trimmed) + ".sfv";
    }
  }
}

bool IsInFileSet(const std::string& path, const std::string& cmdSwitch, const std::string& cmdFile) {
  const std::string a = RarSetStem(LongPathName(path));
  const std::string b = RarSetStem(cmdFile);
  const std::string upper = UpperCase(cmdSwitch);
  if (upper == "/C" || upper == "/M") return FileExists(cmdFile) && a == b;
  return a == b;
}

std::vector<std::string> ReadErrorBlock(const std::string& name, int errorCode) {
  return {"Error with file : " + name, SystemErrorText(errorCode), " "};
}

TSfvCreateResult CreateSfv(const TSfvCreateRequest& request, const TSfvCreateHooks& hooks) {
  TSfvCreateResult result;
  auto halted = [&] { return hooks.Halted && hooks.Halted(); };
  auto pump = [&] {
    if (hooks.PumpMessages) hooks.PumpMessages();
  };

  const TLocalDateTime now = NowLocalDateTime();
  std::vector<std::string> header = SfvHeaderLines(request.StatusTitle, now.Date, now.Time);
  std::vector<std::string> details;
  for (const std::string& name : request.Names) {
    if (halted()) return result;
    const std::string path = LongPathName(request.Folder + name);
    const TLocalDateTime modified = FormatLocalDateTime(FileModifiedTime(path).value_or(0));
    details.push_back(SfvDetailsLine(FileSize(path).value_or(0), modified.Time, modified.Date,
                                     ExtractFileName(path)));
  }

  result.Summing = true;
  if (hooks.OnSummingStart) hooks.OnSummingStart(static_cast<int>(request.Names.size()));
  std::vector<std::string> entries;
  std::vector<bool> keep(request.Names.size(), true);
  const int m = static_cast<int>(request.Names.size());
  for (int k = 1; k <= m; ++k) {
    const std::string& name = request.Names[static_cast<std::size_t>(k - 1)];
    pump();
    if (halted()) return result;
    if (hooks.OnFileStart) hooks.OnFileStart(k, m, name);
    const TFileCrcResult crc = hooks.FileCrc(request.Folder + name);
    if (halted() || crc.Status == TCrcStatus::Halted) return result;
    if (hooks.OnFileDone) hooks.OnFileDone(k, m, name, crc);
    if (crc.Status == TCrcStatus::Failed) {
      // A file that could not be read has no CRC: leave it out rather than write a made-up one.
      keep[static_cast<std::size_t>(k - 1)] = false;
      result.Unreadable.push_back(name);
      result.UnreadableErrors.push_back(crc.ErrorCode);
    } else {
      entries.push_back(SfvEntryLine(name, crc.Crc));
    }
    pump();
  }

  if (hooks.OnWriting) hooks.OnWriting();
  result.Lines = header;
  for (std::size_t i = 0; i < details.size(); ++i) {
    if (keep[i]) result.Lines.push_back(details[i]);
  }
  result.Lines.insert(result.Lines.end(), entries.begin(), entries.end());
  result.WriteError = ReplaceFileContents(request.SfvPath, JoinCrLf(result.Lines));
  result.Outcome = result.WriteError == 0 ? TSfvCreateOutcome::Written : TSfvCreateOutcome::WriteFailed;
  return result;
}
