#pragma once
// The SFV check without widgets: every entry of an SFV file is looked up in the working
// folder (as FindEntryFile finds it), summed and judged. The window and tallyra-cli drive the same run through
// TSfvCheckHooks, on the caller's thread, per entry in file order:
//   Halted()           before the entry, and after its sum (a halt then leaves it unjudged);
//   OnChecking(i, e)   the entry is about to be looked at;
//   PumpMessages()     after OnChecking and after the verdict, at most about every 15 ms;
//   FileCrc(path)      sums an existing file (the window's own read, with its progress bar);
//   OnVerdict(...)     the entry's verdict, with the computed CRC when there is one.
#include "checksum/CrcEngine.h"
#include "checksum/SfvFile.h"
#include "platform/Clock.h"

#include <functional>
#include <string>
#include <vector>

enum class TEntryVerdict { Passed, Failed, ReadError, NotFound };

struct TSfvCheckHooks {
  std::function<bool()> Halted;
  TPumpMessages PumpMessages;
  std::function<void(int index, const TSfvEntry& entry)> OnChecking;
  std::function<TFileCrcResult(const std::string& path)> FileCrc;
  std::function<void(int index, int count, const TSfvEntry& entry, TEntryVerdict verdict,
                     std::uint32_t actual)>
      OnVerdict;
};

struct TSfvCheckResult {
  int Count = 0;
  int Failures = 0;
  bool Halted = false;
  int HaltedAt = 0;              // the number (from 1) of the entry the halt came at
  std::uint64_t ElapsedMs = 0;
  std::uint64_t Bytes = 0;       // the sizes of all files opened
  std::vector<std::string> ErrorLines;
};

TSfvCheckResult CheckSfvEntries(const std::string& workDir, const std::vector<TSfvEntry>& entries,
                                const TSfvCheckHooks& hooks, const IClock& clock);

// ---- the texts of the result list: fields joined by "|"

// The n-th field (from 0) of a "|"-joined text; empty past the last one.
std::string GetField(const std::string& text, char separator, int n);

// "name|Status|crc", "name|Checking|crc", "name|Passed|crc", "name|Failed|crc",
// "name|Not Found|".
std::string EntryItem(const TSfvEntry& entry, const std::string& status);
std::string VerdictStatus(TEntryVerdict verdict);

// The items after the entries: an empty item, the counts, the elapsed time four ways,
// the verdict and the speed. Below 1 ms the elapsed time counts as 1 ms for the speed.
std::vector<std::string> SummaryItems(int count, int failures, std::uint64_t elapsedMs,
                                      long double bytes);
// The items of a halted check: an empty item, "Checked k of n files", "Checking Halted".
std::vector<std::string> HaltedItems(int checked, int count);

// v with the pattern "######.######", padded to 00000 on both sides of the point.
std::string FormatElapsed(double v);
// v with the pattern "###,###,###,###,###.##"; zero shows as "0".
std::string FormatSpeed(long double v);

// The "Copy all" layout: the first field padded to the longest first field plus 5, the
// second to at least 12, then the third, each line ended by CR LF (or LF).
std::string CopyResultsText(const std::vector<std::string>& items, int firstWidth,
                            const char* lineEnd = "\r\n");
int CopyFirstWidth(const std::vector<std::string>& items);

// The error-list blocks.
std::vector<std::string> MismatchBlock(const std::string& name, const std::string& expected,
                                       std::uint32_t actual);
std::vector<std::string> NotFoundBlock(const std::string& name);
// An entry that several files match in all but letter case: it names them, and ends
// like the system's texts, with a line break and a line of one blank.
std::vector<std::string> AmbiguousBlock(const std::string& name, const std::vector<std::string>& candidates);
