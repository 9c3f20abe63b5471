#include "app/Settings.h"

TSettings ReadSettings(const TIniFile& ini) {
  const TSettings defaults;
  TSettings s;
  s.NewNameType = ini.ReadInteger(SettingsSection, "NewNameType", defaults.NewNameType);
  s.VolumeLevel = ini.ReadInteger(SettingsSection, "VolumeLevel", defaults.VolumeLevel);
  s.CompressionLevel = ini.ReadInteger(SettingsSection, "CompressionLevel", defaults.CompressionLevel);
  s.CreateSFX = ini.ReadBool(SettingsSection, "CreateSFX", defaults.CreateSFX);
  s.Encrypt = ini.ReadBool(SettingsSection, "Encrypt", defaults.Encrypt);
  s.AutoCreateSFV = ini.ReadBool(SettingsSection, "AutoCreateSFV", defaults.AutoCreateSFV);
  s.UnrarAfterSFV = ini.ReadBool(SettingsSection, "UnrarAfterSFV", defaults.UnrarAfterSFV);
  return s;
}

void WriteSettings(TIniFile& ini, const TSettings& s) {
  ini.WriteBool(SettingsSection, "UnrarAfterSFV", s.UnrarAfterSFV);
  ini.WriteBool(SettingsSection, "AutoCreateSFV", s.AutoCreateSFV);
  ini.WriteBool(SettingsSection, "Encrypt", s.Encrypt);
  ini.WriteBool(SettingsSection, "CreateSFX", s.CreateSFX);
  ini.WriteInteger(SettingsSection, "NewNameType", s.NewNameType);
  ini.WriteInteger(SettingsSection, "VolumeLevel", s.VolumeLevel);
  ini.WriteInteger(SettingsSection, "CompressionLevel", s.CompressionLevel);
}
