#pragma once
#include <cstdint>
#include <string>

// The program's version, compiled in from the build (major.minor.release.build).
struct TFileVersion {
  unsigned Major = 0, Minor = 0, Release = 0, Build = 0;
};

TFileVersion ProgramVersion();

// "Version 2.0.0 Build 295".
std::string FormatVersionText(const TFileVersion& v);

// Seconds since 1970 (UTC) when this build was configured.
std::int64_t BuildEpoch();

// "Tuesday, November 26, 2002 7:20:23 PM", in UTC so that the text does not depend on
// where the program runs.
std::string FormatBuildDate(std::int64_t epochSeconds);
