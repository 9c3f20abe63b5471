#include "archive/aknUnRarText.h"

#include "archive/aknMessages.h"

std::string RarVersionText(unsigned unpVer) {
  std::string version = std::to_string(unpVer);
  version.insert(1, ".");
  return version;
}

std::string HostOsText(unsigned hostOs) {
  static const char* hosts[] = {"MS DOS", "OS/2", "Win32", "Unix"};
  return hostOs < 4 ? hosts[hostOs] : "";
}

std::vector<std::string> RarVersionLines(unsigned unpVer, unsigned hostOs) {
  return {"Checking RAR Version...", "RAR Version: " + RarVersionText(unpVer), "OS: " + HostOsText(hostOs)};
}

std::vector<std::string> RarErrorLines(const std::string& fileName, const std::string& extendedMsg,
                                       std::int32_t code) {
  return {"Filename: " + fileName, "Error#: " + std::to_string(code), "Error: " + MessageText(code),
          "Extended Error Message: " + extendedMsg, ""};
}

std::vector<std::string> RarIncompatibleLines() {
  return {"The version of RAR that this ", "archive was compressed with is not ", "compatible with the current DLL"};
}
