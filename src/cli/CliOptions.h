#pragma once
// The options of every tallyra-cli command, parsed one way: "--" ends the options,
// "-" alone is an argument (standard input's usual name), "--name=value" and
// "--name value" both give a value, "-h" and "--help" ask for the help text, and any
// other word starting with "-" is an unknown option that the error names.
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

struct TCliOption {
  std::string Name;       // "--rule"
  std::string Short;      // "-q", or empty
  bool TakesValue = false;
};

struct TCliArgs {
  bool Help = false;
  std::map<std::string, std::string> Values;  // by long name; flags hold an empty text
  std::vector<std::string> Positional;
  std::string Error;  // "unknown option: -x", "option --rule needs a value"; empty when fine

  bool Has(const std::string& name) const { return Values.count(name) != 0; }
  std::string Value(const std::string& name) const;
};

TCliArgs ParseCliArgs(const std::vector<std::string>& args, const std::vector<TCliOption>& options);

// "tallyra-cli: " + the error on standard error, then the usage text; the exit status
// of bad usage.
int UsageError(const std::string& error, void (*usage)(std::ostream&));
