#pragma once
#include <cstdint>
#include <optional>
#include <string>

// Dates and times as the system shows them: the locale's short date and long time.
// Under US settings and the C/POSIX locale these are M/d/yyyy and h:mm:ss AM/PM
// ("11/26/2002", "7:20:23 PM").
struct TLocalDateTime {
  std::string Date;
  std::string Time;
};

// Seconds since 1970 (UTC), shown in local time.
TLocalDateTime FormatLocalDateTime(std::int64_t epochSeconds);
TLocalDateTime NowLocalDateTime();

// The last-write time of a file, in seconds since 1970; nothing when it cannot be read.
std::optional<std::int64_t> FileModifiedTime(const std::string& path);
