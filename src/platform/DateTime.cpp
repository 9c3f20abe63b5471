#include "platform/DateTime.h"

#include <clocale>
#include <cstdio>
#include <ctime>
#include <langinfo.h>
#include <string_view>
#include <sys/stat.h>

namespace {

bool UsesUsFormats() {
  const char* name = std::setlocale(LC_TIME, nullptr);
  const std::string_view locale = name != nullptr ? name : "C";
  return locale == "C" || locale == "POSIX" || locale.rfind("C.", 0) == 0 ||
         locale.rfind("en_US", 0) == 0;
}

std::string Strftime(const char* format, const std::tm& tm) {
  char text[128];
  const std::size_t n = std::strftime(text, sizeof text, format, &tm);
  return std::string(text, n);
}

}  // namespace

TLocalDateTime FormatLocalDateTime(std::int64_t epochSeconds) {
  const std::time_t t = static_cast<std::time_t>(epochSeconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  TLocalDateTime result;
  if (UsesUsFormats()) {
    char date[32];
    char time[32];
    std::snprintf(date, sizeof date, "%d/%d/%d", tm.tm_mon + 1, tm.tm_mday, tm.tm_year + 1900);
    const int hour12 = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
    std::snprintf(time, sizeof time, "%d:%02d:%02d %s", hour12, tm.tm_min, tm.tm_sec,
                  tm.tm_hour < 12 ? "AM" : "PM");
    result.Date = date;
    result.Time = time;
  } else {
    result.Date = Strftime(nl_langinfo(D_FMT), tm);
    result.Time = Strftime(nl_langinfo(T_FMT), tm);
  }
  return result;
}

TLocalDateTime NowLocalDateTime() { return FormatLocalDateTime(std::time(nullptr)); }

std::optional<std::int64_t> FileModifiedTime(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::int64_t>(st.st_mtime);
}
