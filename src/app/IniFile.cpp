#include "app/IniFile.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <optional>

namespace {

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

// The section a line opens, if it is a section line.
std::optional<std::string> SectionOf(const std::string& line) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return std::nullopt;
  const auto close = t.find(']');
  if (close == std::string::npos) return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

// The key of a key=value line, if it is one (comments are not).
std::optional<std::string> KeyOf(const std::string& line) {
  const std::string t = Trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
  const auto eq = t.find('=');
  if (eq == std::string::npos) return std::nullopt;
  return Trim(t.substr(0, eq));
}

struct TLocation {
  std::optional<std::size_t> Section;  // index of the section line
  std::optional<std::size_t> Key;      // index of the key line
  std::size_t LastInSection = 0;       // last non-blank line of the section
};

TLocation Locate(const std::vector<std::string>& lines, const std::string& section,
                 const std::string& key) {
  TLocation where;
  bool inside = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (const auto s = SectionOf(lines[i])) {
      if (inside) break;
      inside = SameText(*s, section);
      if (inside) where.Section = where.LastInSection = i;
      continue;
    }
    if (!inside) continue;
    if (!Trim(lines[i]).empty()) where.LastInSection = i;
    if (!where.Key) {
      if (const auto k = KeyOf(lines[i]); k && SameText(*k, key)) where.Key = i;
    }
  }
  return where;
}

bool ParseHex(const std::string& digits, int& value) {
  if (digits.empty() || digits.size() > 8) return false;
  unsigned parsed = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed, 16);
  if (ec != std::errc() || end != digits.data() + digits.size()) return false;
  value = static_cast<int>(parsed);  // 32-bit: "$FFFFFFFF" is -1
  return true;
}

}  // namespace

bool ParseIniInteger(const std::string& text, int& value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    return ParseHex(text.substr(2), value);
  }
  if (!text.empty() && text[0] == '$') return ParseHex(text.substr(1), value);
  const char* first = text.data();
  if (!text.empty() && text[0] == '+') ++first;
  int parsed = 0;
  const auto [end, ec] = std::from_chars(first, text.data() + text.size(), parsed, 10);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

std::vector<std::string> TIniFile::ReadLines() const {
  std::vector<std::string> lines;
  std::ifstream in(fileName_, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
  const auto lines = ReadLines();
  const TLocation where = Locate(lines, section, key);
  if (!where.Key) return defaultValue;
  const std::string& line = lines[*where.Key];
  std::string value = Trim(line.substr(line.find('=') + 1));
  // Quotes around a whole value are not part of it.
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key,
                          int defaultValue) const {
  int value = defaultValue;
  if (!ParseIniInteger(ReadString(section, key, {}), value)) return defaultValue;
  return value;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key,
                        bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  std::vector<std::string> lines = ReadLines();
  const TLocation where = Locate(lines, section, key);
  const std::string entry = key + "=" + value;
  if (where.Key) {
    lines[*where.Key] = entry;
  } else if (where.Section) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(where.LastInSection + 1), entry);
  } else {
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
    lines.push_back("[" + section + "]");
    lines.push_back(entry);
  }

  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  ForceDirectories(ExtractFilePath(fileName_));
  bool ok = false;
  if (std::FILE* out = std::fopen(fileName_.c_str(), "wb")) {
    ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    ok = (std::fclose(out) == 0) && ok;
  }
  if (!ok) throw EIniFileException("Unable to write to " + fileName_);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}
