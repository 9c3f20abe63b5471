#pragma once
#include <string>

// A fresh folder under the system's temporary folder, removed with everything in it
// when the object goes.
class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Path() + "/" + name.
  std::string File(const std::string& name) const;
  // Writes a file with the given bytes (making its folders) and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;

private:
  std::string path_;
};

std::string ReadWholeFile(const std::string& path);
