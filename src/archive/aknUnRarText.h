#pragma once
// The texts the extraction faces (the UnRar page, tallyra-cli unrar) log for TUnRar's
// events, in one place so that both write the same lines.
#include <cstdint>
#include <string>
#include <vector>

// The unpack version as the page shows it: 29 reads "2.9", 20 "2.0".
std::string RarVersionText(unsigned unpVer);
// "MS DOS", "OS/2", "Win32", "Unix"; empty for any other host code.
std::string HostOsText(unsigned hostOs);
// Archives of unpack version 29 and below can be extracted, and RAR 5 (50) when the library's
// ABI version (RARGetDllVersion, 0 without one) is 6 or above.
inline bool RarVersionCompatible(unsigned unpVer, int dllVersion) {
  return unpVer <= 29 || (unpVer == 50 && dllVersion >= 6);
}
// "Checking RAR Version...", "RAR Version: ...", "OS: ...".
std::vector<std::string> RarVersionLines(unsigned unpVer, unsigned hostOs);
// The five lines of an error report: file name, number, the number's text, the extended
// message and an empty line.
std::vector<std::string> RarErrorLines(const std::string& fileName, const std::string& extendedMsg,
                                       std::int32_t code);
// The incompatibility notice, in three pieces.
std::vector<std::string> RarIncompatibleLines();
