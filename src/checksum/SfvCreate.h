#pragma once
// SFV creation without widgets: the naming rules, the file-set rule and the creation
// run itself. The window and tallyra-cli drive the same run through TSfvCreateHooks,
// all on the caller's thread, in this order per file:
//   Halted()            before each file's details and before each file's sum;
//   OnSummingStart(m)   once, after the details of all m files were taken;
//   PumpMessages()      before each file's sum and after its entry is added;
//   OnFileStart(k,m,n)  the file n (the k-th of m) is about to be summed;
//   FileCrc(path)       sums it (the window's own read, with its progress bar);
//   OnFileDone(...)     its result; a failed read is left out of the SFV.
// Then OnWriting() and the whole SFV is written in one step.
#include "checksum/CrcEngine.h"

#include <functional>
#include <string>
#include <vector>

enum TSfvNameRule { nrFirstSelected = 0, nrDirectoryName = 1, nrCustomName = 2 };

// The SFV path for a folder (with its trailing separator). A rule outside 0..2 (no item
// chosen) falls back to the directory name, never to an earlier path.
std::string SfvPathForRule(int rule, const std::string& folder, const std::string& firstName,
                           const std::string& customName);

// Whether a file belongs to the set of cmdFile: the same name without extension, where
// NAME.partN.rar counts as NAME (RarSetStem). For a "/C" or "/M" start the set's file
// must also exist.
bool IsInFileSet(const std::string& path, const std::string& cmdSwitch, const std::string& cmdFile);

struct TSfvCreateRequest {
  std::string Folder;               // with trailing separator
  std::vector<std::string> Names;   // in list order
  std::string SfvPath;
  std::string StatusTitle;          // for the header line
};

struct TSfvCreateHooks {
  std::function<bool()> Halted;
  TPumpMessages PumpMessages;
  std::function<void(int m)> OnSummingStart;  // every file's details are in; summing begins
  std::function<void(int k, int m, const std::string& name)> OnFileStart;
  std::function<TFileCrcResult(const std::string& path)> FileCrc;
  std::function<void(int k, int m, const std::string& name, const TFileCrcResult& result)> OnFileDone;
  std::function<void()> OnWriting;
};

enum class TSfvCreateOutcome { Written, Halted, WriteFailed };

struct TSfvCreateResult {
  TSfvCreateOutcome Outcome = TSfvCreateOutcome::Halted;
  bool Summing = false;                 // the halt came while files were summed
  int WriteError = 0;                   // the system's code when WriteFailed
  std::vector<std::string> Unreadable;  // names left out because they could not be read
  std::vector<int> UnreadableErrors;    // their system error codes
  std::vector<std::string> Lines;       // the SFV's lines, as written
};

TSfvCreateResult CreateSfv(const TSfvCreateRequest& request, const TSfvCreateHooks& hooks);

// The error-list block of a file that could not be read: "Error with file : " + name,
// the system's text for the code (with its own line break), and a line of one blank.
std::vector<std::string> ReadErrorBlock(const std::string& name, int errorCode);
