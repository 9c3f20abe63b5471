#include "platform/Registry.h"

#include "platform/FileSystem.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

std::string RegistrySetDataFailedText(const std::string& valueName) {
  return "Failed to set data for '" + valueName + "'";
}

std::string RegistryInvalidTypeText(const std::string& valueName) {
  return "Invalid data type for '" + valueName + "'";
}

namespace {

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string TrimSeparators(const std::string& path) {
  std::size_t b = 0;
  std::size_t e = path.size();
  while (b < e && path[b] == '\\') ++b;
  while (e > b && path[e - 1] == '\\') --e;
  return path.substr(b, e - b);
}

// The parents of "a\b\c": "a", "a\b".
std::vector<std::string> Parents(const std::string& path) {
  std::vector<std::string> parents;
  for (std::size_t i = path.find('\\'); i != std::string::npos; i = path.find('\\', i + 1)) {
    parents.push_back(path.substr(0, i));
  }
  return parents;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

// Reads a quoted text at pos; pos ends after the closing quote. False when unterminated.
bool Unquote(const std::string& line, std::size_t& pos, std::string& out) {
  if (pos >= line.size() || line[pos] != '"') return false;
  out.clear();
  for (++pos; pos < line.size(); ++pos) {
    const char c = line[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c == '\\' && pos + 1 < line.size()) {
      const char n = line[++pos];
      out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      out += c;
    }
  }
  return false;
}

bool ParseHex(const std::string& text, std::string& out) {
  out.clear();
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ',') {
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return false;
    unsigned value = 0;
    if (std::sscanf(text.substr(i, 2).c_str(), "%2x", &value) != 1) return false;
    out += static_cast<char>(value);
    i += 2;
  }
  return true;
}

}  // namespace

std::string FoldRegistryPath(const std::string& path) { return Lower(TrimSeparators(path)); }

const TRegKey* TRegistryContents::Find(const std::string& path) const {
  const auto it = Keys.find(FoldRegistryPath(path));
  return it == Keys.end() ? nullptr : &it->second;
}

std::string TRegistryContents::DefaultText(const std::string& path) const {
  const TRegKey* key = Find(path);
  if (key == nullptr) return {};
  const auto it = key->Values.find("");
  if (it == key->Values.end() || it->second.Type != TRegDataType::rdString) return {};
  return it->second.Data;
}

std::string FormatRegistryFile(const TRegistryContents& contents) {
  std::string out = "; Tallyra's file-type registrations\n";
  for (const auto& [folded, key] : contents.Keys) {
    out += "\n[" + key.Path + "]\n";
    for (const auto& [foldedName, value] : key.Values) {
      const std::string& name = key.ValueNames.at(foldedName);
      out += name.empty() ? std::string("@") : Quote(name);
      out += '=';
      if (value.Type == TRegDataType::rdString) {
        out += Quote(value.Data);
      } else {
        out += "hex:";
        for (std::size_t i = 0; i < value.Data.size(); ++i) {
          char byte[4];
          std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(value.Data[i]));
          if (i > 0) out += ',';
          out += byte;
        }
      }
      out += '\n';
    }
  }
  return out;
}

TRegistryContents ParseRegistryFile(const std::string& text) {
  TRegistryContents contents;
  TRegKey* current = nullptr;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const std::size_t close = line.rfind(']');
      current = nullptr;
      if (close == std::string::npos || close == 0) continue;
      const std::string path = TrimSeparators(line.substr(1, close - 1));
      TRegKey& key = contents.Keys[Lower(path)];
      if (key.Path.empty()) key.Path = path;
      current = &key;
      continue;
    }
    if (current == nullptr) continue;
    std::size_t pos = 0;
    std::string name;
    if (line[0] == '@') {
      pos = 1;
    } else if (!Unquote(line, pos, name)) {
      continue;
    }
    if (pos >= line.size() || line[pos] != '=') continue;
    ++pos;
    TRegValue value;
    if (line.compare(pos, 4, "hex:") == 0) {
      value.Type = TRegDataType::rdBinary;
      if (!ParseHex(line.substr(pos + 4), value.Data)) continue;
    } else if (!Unquote(line, pos, value.Data)) {
      continue;
    }
    const std::string folded = Lower(name);
    current->Values[folded] = value;
    current->ValueNames[folded] = name;
  }
  return contents;
}

// ------------------------------------------------------------------ the file store

TFileRegistry::TFileRegistry(std::string storePath, TExtensionTypeLookup lookup,
                             std::function<void(const TRegistryContents&)> onReleased)
    : storePath_(std::move(storePath)), lookup_(std::move(lookup)), onReleased_(std::move(onReleased)) {
  std::ifstream in(storePath_, std::ios::binary);
  if (in) {
    std::ostringstream text;
    text << in.rdbuf();
    contents_ = ParseRegistryFile(text.str());
  }
}

TFileRegistry::~TFileRegistry() {
  if (!changed_ || !onReleased_) return;
  // The store itself is written; a hook that fails must not take the program down from
  // a destructor, so its failure ends here.
  try {
    onReleased_(contents_);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tallyra: %s\n", error.what());
  }
}

std::string TFileRegistry::DesktopTypeOf(const std::string& folded) const {
  // Only a top-level ".ext" key stands for a file type the desktop may know.
  if (folded.size() < 2 || folded[0] != '.' || folded.find('\\') != std::string::npos) return {};
  return lookup_ ? lookup_(folded.substr(1)) : std::string();
}

bool TFileRegistry::Save() {
  const std::string folder = ExtractFilePath(storePath_);
  if (!folder.empty() && !ForceDirectories(folder)) return false;
  return ReplaceFileContents(storePath_, FormatRegistryFile(contents_)) == 0;
}

bool TFileRegistry::OpenKey(const std::string& key, bool canCreate) {
  CloseKey();
  const std::string folded = FoldRegistryPath(key);
  if (contents_.Keys.count(folded) != 0) {
    open_ = TOpen::Stored;
  } else if (!canCreate) {
    if (DesktopTypeOf(folded).empty()) return false;
    open_ = TOpen::DesktopType;
  } else {
    const TRegistryContents before = contents_;
    const std::string path = TrimSeparators(key);
    for (const std::string& parent : Parents(path)) {
      TRegKey& k = contents_.Keys[Lower(parent)];
      if (k.Path.empty()) k.Path = parent;
    }
    contents_.Keys[folded].Path = path;
    if (!Save()) {
      contents_ = before;
      return false;
    }
    changed_ = true;
    open_ = TOpen::Stored;
  }
  openKey_ = folded;
  return true;
}

bool TFileRegistry::OpenKeyReadOnly(const std::string& key) {
  CloseKey();
  const std::string folded = FoldRegistryPath(key);
  if (contents_.Keys.count(folded) != 0) {
    open_ = TOpen::ReadOnly;
  } else if (!DesktopTypeOf(folded).empty()) {
    open_ = TOpen::DesktopType;
  } else {
    return false;
  }
  openKey_ = folded;
  return true;
}

bool TFileRegistry::KeyExists(const std::string& key) {
  const std::string folded = FoldRegistryPath(key);
  return contents_.Keys.count(folded) != 0 || !DesktopTypeOf(folded).empty();
}

void TFileRegistry::WriteString(const std::string& name, const std::string& value) {
  if (open_ != TOpen::Stored) throw ERegistryException(RegistrySetDataFailedText(name));
  TRegKey& key = contents_.Keys[openKey_];
  const std::string folded = Lower(name);
  const auto old = key.Values.find(folded);
  const bool had = old != key.Values.end();
  const TRegValue previous = had ? old->second : TRegValue{};
  const std::string previousName = had ? key.ValueNames[folded] : std::string();
  key.Values[folded] = TRegValue{TRegDataType::rdString, value};
  if (!had) key.ValueNames[folded] = name;
  if (!Save()) {
    if (had) {
      key.Values[folded] = previous;
    } else {
      key.Values.erase(folded);
      key.ValueNames.erase(folded);
    }
    throw ERegistryException(RegistrySetDataFailedText(name));
  }
  changed_ = true;
}

std::string TFileRegistry::ReadString(const std::string& name) {
  if (open_ == TOpen::None) return {};
  if (open_ == TOpen::DesktopType) return name.empty() ? DesktopTypeOf(openKey_) : std::string();
  const TRegKey& key = contents_.Keys[openKey_];
  const auto it = key.Values.find(Lower(name));
  if (it == key.Values.end()) return {};
  if (it->second.Type != TRegDataType::rdString) throw ERegistryException(RegistryInvalidTypeText(name));
  return it->second.Data;
}

void TFileRegistry::CloseKey() {
  open_ = TOpen::None;
  openKey_.clear();
}
