#include "checksum/SfvCheck.h"

#include "checksum/SfvCreate.h"
#include "checksum/SfvLookup.h"
#include "platform/SystemError.h"
#include "platform/Utf8.h"

#include <cerrno>
#include <charconv>
#include <cmath>

TSfvCheckResult CheckSfvEntries(const std::string& workDir, const std::vector<TSfvEntry>& entries,
                                const TSfvCheckHooks& hooks, const IClock& clock) {
  TSfvCheckResult result;
  result.Count = static_cast<int>(entries.size());
  auto halted = [&] { return hooks.Halted && hooks.Halted(); };
  TPumpThrottle throttle(clock, hooks.PumpMessages);
  auto pump = [&] { throttle.Pump(); };
  auto add = [&](const std::vector<std::string>& block) {
    result.ErrorLines.insert(result.ErrorLines.end(), block.begin(), block.end());
  };

  TFolderListings listings;
  const std::uint64_t t0 = clock.MilliSeconds();
  for (int i = 0; i < result.Count; ++i) {
    const TSfvEntry& entry = entries[static_cast<std::size_t>(i)];
    if (halted()) {
      result.Halted = true;
      result.HaltedAt = i + 1;
      break;
    }
    if (hooks.OnChecking) hooks.OnChecking(i, entry);
    pump();
    const TEntryLookup file = FindEntryFile(workDir, entry, listings);
    TEntryVerdict verdict;
    std::uint32_t actual = 0;
    if (file.Status != TLookupStatus::Found) {
      verdict = TEntryVerdict::NotFound;
      add(file.Status == TLookupStatus::Ambiguous ? AmbiguousBlock(entry.Name, file.Candidates)
                                                   : NotFoundBlock(entry.Name));
    } else {
      const TFileCrcResult crc = hooks.FileCrc(file.Path);
      if (crc.Sized) result.Bytes += crc.Size;
      if (halted() || crc.Status == TCrcStatus::Halted) {
        result.Halted = true;
        result.HaltedAt = i + 1;
        break;
      }
      actual = crc.Crc;
      if (crc.Status == TCrcStatus::Failed) {
        verdict = TEntryVerdict::ReadError;
        add(ReadErrorBlock(entry.Name, crc.ErrorCode));
      } else if (CrcHexLower(actual) == entry.Crc) {
        verdict = TEntryVerdict::Passed;
      } else {
        verdict = TEntryVerdict::Failed;
        add(MismatchBlock(entry.Name, entry.Crc, actual));
      }
    }
    if (verdict != TEntryVerdict::Passed) ++result.Failures;
    if (hooks.OnVerdict) hooks.OnVerdict(i, result.Count, entry, verdict, actual);
    pump();
  }
  result.ElapsedMs = clock.MilliSeconds() - t0;
  return result;
}

std::string GetField(const std::string& text, char separator, int n) {
  const std::string s = text + separator;
  std::size_t start = 0;
  for (int i = 0; i < n; ++i) {
    const auto next = s.find(separator, start);
    if (next == std::string::npos) return {};
    start = next + 1;
  }
  const auto end = s.find(separator, start);
  return end == std::string::npos ? std::string() : s.substr(start, end - start);
}

std::string EntryItem(const TSfvEntry& entry, const std::string& status) {
  return entry.Name + "|" + status + "|" + (status == "Not Found" ? std::string() : entry.Crc);
}

std::string VerdictStatus(TEntryVerdict verdict) {
  switch (verdict) {
    case TEntryVerdict::Passed:
      return "Passed";
    case TEntryVerdict::NotFound:
      return "Not Found";
    default:
      return "Failed";
  }
}

namespace {
// Shortest fixed form with at most `decimals` places: no trailing zeros, no bare point.
// The point is "." whatever the locale: the patterns' own characters, not the user's.
std::string Trimmed(long double v, int decimals) {
  // Halves round away from zero, as a displayed figure does, not to even as printf would.
  const long double scale = std::pow(10.0L, decimals);
  v = std::round(v * scale) / scale;
  char text[128];
  const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals);
  std::string s(text, end.ec == std::errc() ? end.ptr : text);
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  return s;
}
}  // namespace

std::string FormatElapsed(double v) {
  std::string s = Trimmed(v, 6);
  const auto point = s.find('.');
  std::string whole = point == std::string::npos ? s : s.substr(0, point);
  std::string fraction = point == std::string::npos ? std::string() : s.substr(point + 1);
  if (whole == "0") whole.clear();  // "#" digits show no lone zero
  if (whole.size() < 5) whole.insert(0, 5 - whole.size(), '0');
  if (fraction.size() < 5) fraction.append(5 - fraction.size(), '0');
  return whole + "." + fraction;
}

std::string FormatSpeed(long double v) {
  std::string s = Trimmed(v, 2);
  const auto point = s.find('.');
  std::string whole = point == std::string::npos ? s : s.substr(0, point);
  const std::string fraction = point == std::string::npos ? std::string() : s.substr(point);
  if (whole == "0") {
    // A lone zero stays only when nothing follows it, so the summary ends with a number.
    return fraction.empty() ? "0" : fraction;
  }
  for (int i = static_cast<int>(whole.size()) - 3; i > 0; i -= 3) whole.insert(static_cast<std::size_t>(i), ",");
  return whole + fraction;
}

std::vector<std::string> SummaryItems(int count, int failures, std::uint64_t elapsedMs,
                                      long double bytes) {
  const double e = static_cast<double>(elapsedMs);
  const std::string verdict = failures == 0 ? "All passed!" : " " + std::to_string(failures) + " Failed!";
  const long double perMs = bytes / static_cast<long double>(elapsedMs == 0 ? 1 : elapsedMs);
  return {"",
          "Total files : |" + std::to_string(count),
          "Passed : |" + std::to_string(count - failures),
          "Failed : |" + std::to_string(failures),
          "Days : |" + FormatElapsed(e / 86400000.0),
          "Hours : |" + FormatElapsed(e / 3600000.0),
          "Minutes : |" + FormatElapsed(e / 60000.0),
          "Seconds : |" + FormatElapsed(e / 1000.0),
          "Checking done|" + verdict,
          "Checked at : |" + FormatSpeed(perMs / 1024 * 1000) + " K/s"};
}

std::vector<std::string> HaltedItems(int checked, int count) {
  return {"", "Checked " + std::to_string(checked) + " of " + std::to_string(count) + " files",
          "Checking Halted"};
}

int CopyFirstWidth(const std::vector<std::string>& items) {
  std::size_t widest = 0;
  for (const auto& item : items) widest = std::max(widest, Utf8Length(GetField(item, '|', 0)));
  return static_cast<int>(widest) + 5;
}

std::string CopyResultsText(const std::vector<std::string>& items, int firstWidth,
                            const char* lineEnd) {
  // Padded by characters, so that names with letters beyond ASCII line up.
  auto pad = [](std::string s, std::size_t width) {
    const std::size_t length = Utf8Length(s);
    if (length < width) s.append(width - length, ' ');
    return s;
  };
  std::string text;
  for (const auto& item : items) {
    text += pad(GetField(item, '|', 0), static_cast<std::size_t>(firstWidth)) +
            pad(GetField(item, '|', 1), 12) + GetField(item, '|', 2) + lineEnd;
  }
  return text;
}

std::vector<std::string> MismatchBlock(const std::string& name, const std::string& expected,
                                       std::uint32_t actual) {
  return {"Error with file : " + name, "CRC validation failed", "Read from SFV File: " + expected,
          "Actual CRC:         " + CrcHexLower(actual), ""};
}

std::vector<std::string> NotFoundBlock(const std::string& name) {
  return {"Error with file : " + name, SystemErrorText(ENOENT), " "};
}

std::vector<std::string> AmbiguousBlock(const std::string& name, const std::vector<std::string>& candidates) {
  std::string names;
  for (const std::string& candidate : candidates) names += (names.empty() ? "" : ", ") + candidate;
  return {"Error with file : " + name,
          "Ambiguous name: several files differ from it only in letter case (" + names + ")\r\n", " "};
}
