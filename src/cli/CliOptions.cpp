#include "cli/CliOptions.h"

#include "cli/CliCommon.h"

#include <iostream>

std::string TCliArgs::Value(const std::string& name) const {
  const auto it = Values.find(name);
  return it == Values.end() ? std::string() : it->second;
}

TCliArgs ParseCliArgs(const std::vector<std::string>& args, const std::vector<TCliOption>& options) {
  TCliArgs parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      parsed.Positional.insert(parsed.Positional.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                               args.end());
      break;
    }
    if (a.size() < 2 || a[0] != '-') {
      parsed.Positional.push_back(a);
      continue;
    }
    if (a == "--help" || a == "-h") {
      parsed.Help = true;
      continue;
    }
    const std::size_t equals = a.rfind("--", 0) == 0 ? a.find('=') : std::string::npos;
    const std::string word = a.substr(0, equals);
    const TCliOption* option = nullptr;
    for (const TCliOption& o : options) {
      if (word == o.Name || (!o.Short.empty() && word == o.Short)) option = &o;
    }
    if (option == nullptr) {
      parsed.Error = "unknown option: " + word;
      return parsed;
    }
    if (!option->TakesValue) {
      if (equals != std::string::npos) {
        parsed.Error = "option " + option->Name + " takes no value";
        return parsed;
      }
      parsed.Values[option->Name];
    } else if (equals != std::string::npos) {
      parsed.Values[option->Name] = a.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      parsed.Values[option->Name] = args[++i];
    } else {
      parsed.Error = "option " + option->Name + " needs a value";
      return parsed;
    }
  }
  return parsed;
}

int UsageError(const std::string& error, void (*usage)(std::ostream&)) {
  std::cerr << "tallyra-cli: " << error << "\n";
  usage(std::cerr);
  return ceUsage;
}
