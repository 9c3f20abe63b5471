#pragma once
#include "app/IniFile.h"

// The seven user choices kept between runs, section "Options" of the settings file.
struct TSettings {
  int NewNameType = 1;       // "Directory name"
  int VolumeLevel = 6;       // "15,000,000"
  int CompressionLevel = 3;  // "3 - Normal"
  bool CreateSFX = false;
  bool Encrypt = false;
  bool AutoCreateSFV = false;
  bool UnrarAfterSFV = false;
};

inline constexpr const char* SettingsSection = "Options";

// Reads the keys in their table order; missing or unparsable values give the defaults.
TSettings ReadSettings(const TIniFile& ini);

// Writes the booleans first, then the integers, each at once; a failing write raises
// and leaves the remaining keys unwritten.
void WriteSettings(TIniFile& ini, const TSettings& settings);
