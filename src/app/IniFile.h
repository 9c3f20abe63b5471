#pragma once
#include <stdexcept>
#include <string>
#include <vector>

// A reader and writer of initialisation files: "[Section]" lines and key=value lines,
// keys and sections matched without regard to letter case, lines ended by CR LF.
// Every write goes to the file at once; lines the program does not know (other keys,
// other sections, comments) stay where they are, and a new key is appended at the end
// of its section.
class EIniFileException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TIniFile {
public:
  // Opening does not create the file.
  explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

  const std::string& FileName() const { return fileName_; }

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  // Decimal; "0x"/"0X" followed by hexadecimal digits, or "$" followed by them; an
  // empty, missing or unparsable value gives the default.
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
  // Read as an integer with the default 0 or 1; every number but 0 is true.
  bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;

  // Raise EIniFileException "Unable to write to " + the path when the file cannot be written.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteBool(const std::string& section, const std::string& key, bool value);

private:
  std::vector<std::string> ReadLines() const;
  std::string fileName_;
};

// The integer rule of ReadInteger, on a value text.
bool ParseIniInteger(const std::string& text, int& value);
