#include "app/ShellAssociation.h"

std::string CheckSfvVerb() {
  return std::string(ShellVerbMark) + " Check SFV File " + ShellVerbMark;
}

std::string CreateSfvVerb() {
  return std::string(ShellVerbMark) + " Create SFV File " + ShellVerbMark;
}

namespace {

void WriteDefault(IRegistry& registry, const std::string& key, const std::string& value) {
  // The open's result is not looked at: a key that could not be had makes the write fail,
  // and that failure is the one the user sees.
  registry.OpenKey(key, true);
  registry.WriteString("", value);
  registry.CloseKey();
}

void WriteKeys(IRegistry& registry, const std::string& exePath) {
  const std::string check = exePath + " /C \"%1\"";
  WriteDefault(registry, ".sfv", "Tallyra");
  WriteDefault(registry, "Tallyra", "Tallyra File");
  WriteDefault(registry, "Tallyra\\DefaultIcon", exePath + ",0");
  WriteDefault(registry, "Tallyra\\shell\\open\\command", check);
  WriteDefault(registry, "Tallyra\\shell\\" + CheckSfvVerb() + "\\command", check);

  if (!registry.KeyExists(".rar")) return;
  registry.OpenKey(".rar", false);
  const std::string rarType = registry.ReadString("");
  registry.CloseKey();
  // An empty type would make the key "\shell\..." at the root, a verb on nothing.
  if (rarType.empty()) return;
  registry.OpenKey(rarType + "\\shell\\" + CreateSfvVerb() + "\\command", true);
  registry.WriteString("", exePath + " /M \"%1\"");
}

}  // namespace

void RegisterFileTypes(std::unique_ptr<IRegistry> registry, const std::string& exePath) {
  struct TFinalStep {
    std::unique_ptr<IRegistry>& Registry;
    ~TFinalStep() {
      Registry->CloseKey();
      Registry.reset();
    }
  } finalStep{registry};
  WriteKeys(*registry, exePath);
}
