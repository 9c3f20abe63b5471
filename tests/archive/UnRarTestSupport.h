#pragma once
// Shared pieces of the extractor tests: a recorder of the component's events, file
// contents and CRCs, and the facts the sample collection's MANIFEST gives per archive.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "RarWriter.h"
#include "archive/aknBase.h"

inline std::string FileContents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& data) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

struct TErrorRecord {
  std::string FileName, ExtendedMsg, VolumeID;
  int Code;
};

// Records every error and the component's verdicts.
struct TEventLog {
  std::vector<TErrorRecord> Errors;
  std::vector<std::pair<std::string, bool>> Ends;
  int Activations = 0, Deactivations = 0;

  void Attach(TZipCommon& c) {
    c.OnError = [this](TZipCommon*, const std::string& f, const std::string& m, const std::string& v, std::int32_t e) {
      Errors.push_back({f, m, v, e});
    };
    c.OnActivate = [this](TZipCommon*) { ++Activations; };
    c.OnDeactivate = [this](TZipCommon*) { ++Deactivations; };
  }
  std::vector<int> Codes() const {
    std::vector<int> codes;
    for (const auto& e : Errors) codes.push_back(e.Code);
    return codes;
  }
};

// One entry as the collection's MANIFEST lists it.
struct TManifestEntry {
  std::string Name;
  std::uint32_t Crc = 0;
  std::uint64_t Size = 0;
  bool SplitBefore = false, SplitAfter = false, Directory = false, Encrypted = false;
  int Method = 0, UnpVer = 0;
};

struct TManifestArchive {
  std::string Path;  // relative to the rar folder
  bool Volume = false, FirstVolume = false;
  std::vector<TManifestEntry> Entries;
};

inline std::vector<TManifestArchive> ReadManifest(const std::string& rarDir) {
  std::vector<TManifestArchive> out;
  std::ifstream in(rarDir + "/MANIFEST.md");
  std::string line;
  auto field = [](const std::string& l, const std::string& key) {
    const auto at = l.find(" " + key + "=");
    if (at == std::string::npos) return std::string();
    const auto start = at + key.size() + 2;
    const auto end = l.find(", ", start);
    return l.substr(start, end == std::string::npos ? std::string::npos : end - start);
  };
  while (std::getline(in, line)) {
    if (line.rfind("== ", 0) == 0) {
      out.push_back({line.substr(3, line.find(' ', 3) - 3), false, false, {}});
    } else if (!out.empty() && line.find("type=MAIN") != std::string::npos) {
      out.back().Volume = field(line, "volume") == "True";
      out.back().FirstVolume = field(line, "first_volume") == "True";
    } else if (!out.empty() && line.find("type=FILE") != std::string::npos) {
      TManifestEntry e;
      const auto nameAt = line.find(" name=") + 6;
      e.Name = line.substr(nameAt, line.find(", pack=", nameAt) - nameAt);
      e.Crc = static_cast<std::uint32_t>(std::stoul(field(line, "file_crc"), nullptr, 16));
      e.Size = std::stoull(field(line, "unp"));
      e.SplitBefore = field(line, "split_before") == "True";
      e.SplitAfter = field(line, "split_after") == "True";
      e.Directory = field(line, "is_dir") == "True";
      e.Encrypted = field(line, "encrypted") == "True";
      e.Method = std::stoi(field(line, "method"));
      e.UnpVer = std::stoi(field(line, "unp_ver"));
      out.back().Entries.push_back(e);
    }
  }
  return out;
}

// Every regular file under a folder, by path relative to it.
inline std::map<std::string, std::string> FilesUnder(const std::string& dir) {
  std::map<std::string, std::string> files;
  if (!std::filesystem::exists(dir)) return files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    if (e.is_regular_file()) files[std::filesystem::relative(e.path(), dir).string()] = FileContents(e.path().string());
  return files;
}
