#include "app/Version.h"

#include <array>
#include <ctime>

TFileVersion ProgramVersion() {
  return {TALLYRA_VERSION_MAJOR, TALLYRA_VERSION_MINOR, TALLYRA_VERSION_PATCH,
          TALLYRA_VERSION_BUILD};
}

std::string FormatVersionText(const TFileVersion& v) {
  return "Version " + std::to_string(v.Major) + "." + std::to_string(v.Minor) + "." +
         std::to_string(v.Release) + " Build " + std::to_string(v.Build);
}

std::int64_t BuildEpoch() { return TALLYRA_BUILD_EPOCH; }

std::string FormatBuildDate(std::int64_t epochSeconds) {
  static constexpr std::array<const char*, 7> days = {"Sunday",   "Monday", "Tuesday",
                                                      "Wednesday", "Thursday", "Friday",
                                                      "Saturday"};
  static constexpr std::array<const char*, 12> months = {
      "January", "February", "March",     "April",   "May",      "June",
      "July",    "August",   "September", "October", "November", "December"};
  const std::time_t t = static_cast<std::time_t>(epochSeconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  const int hour12 = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
  char text[96];
  std::snprintf(text, sizeof text, "%s, %s %d, %d %d:%02d:%02d %s",
                days[static_cast<std::size_t>(tm.tm_wday)],
                months[static_cast<std::size_t>(tm.tm_mon)], tm.tm_mday, tm.tm_year + 1900, hour12,
                tm.tm_min, tm.tm_sec, tm.tm_hour < 12 ? "AM" : "PM");
  return text;
}
