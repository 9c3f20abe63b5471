#pragma once
// The registry that file types are registered in (HKEY_CLASSES_ROOT on Windows).
//
// Who calls what: the window's shell association creates one registry object, opens
// keys one at a time from the root, writes or reads their values, closes each key and
// frees the object in a final step. Everything runs on the GUI thread; an object is
// never shared between threads. Failed writes and reads raise ERegistryException with
// the registry's own texts; opening a key only reports failure through its result.
//
// Key paths separate names with "\" and are always taken from the root (a leading "\"
// changes nothing). Names compare without regard to ASCII case and keep the case they
// were first written with. The value name "" is the key's default value.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

class ERegistryException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// "Failed to set data for '%s'" and "Invalid data type for '%s'" with a value name.
std::string RegistrySetDataFailedText(const std::string& valueName);
std::string RegistryInvalidTypeText(const std::string& valueName);

class IRegistry {
public:
  virtual ~IRegistry() = default;

  // Opens a key for reading and writing, closing the one open before. With canCreate a
  // missing key (and its missing parents) is created. False when the key cannot be had.
  virtual bool OpenKey(const std::string& key, bool canCreate) = 0;
  // Opens an existing key for reading only.
  virtual bool OpenKeyReadOnly(const std::string& key) = 0;
  virtual bool KeyExists(const std::string& key) = 0;
  // Writes a text value of the open key. Raises "Failed to set data for '<name>'" when
  // no key is open for writing or the value cannot be stored.
  virtual void WriteString(const std::string& name, const std::string& value) = 0;
  // A value of the open key as text; "" when there is no key or no such value. Raises
  // "Invalid data type for '<name>'" when the value is not text.
  virtual std::string ReadString(const std::string& name) = 0;
  virtual void CloseKey() = 0;
};

// ---- the store's contents, shared with the desktop reflection

enum class TRegDataType { rdString, rdBinary };

struct TRegValue {
  TRegDataType Type = TRegDataType::rdString;
  std::string Data;  // the text, or the raw bytes of a binary value
};

struct TRegKey {
  std::string Path;  // as first written, without leading or trailing "\"
  std::map<std::string, TRegValue> Values;  // keyed by the folded (lower-case) name
  std::map<std::string, std::string> ValueNames;  // folded name -> name as written
};

struct TRegistryContents {
  std::map<std::string, TRegKey> Keys;  // keyed by the folded path

  const TRegKey* Find(const std::string& path) const;
  // The key's default value when it is text, else "".
  std::string DefaultText(const std::string& path) const;
};

// Lower-case ASCII, separators trimmed at both ends: the form keys are compared in.
std::string FoldRegistryPath(const std::string& path);

// The store's file format: "[key path]" lines, each followed by its values as
// @="text", "name"="text" or "name"=hex:01,ff. Lines that do not parse are skipped.
std::string FormatRegistryFile(const TRegistryContents& contents);
TRegistryContents ParseRegistryFile(const std::string& text);

// A file-type key the store does not hold (".rar") reads as the desktop's MIME type for
// that extension: the lookup gets the extension without its dot and answers "" when the
// desktop knows no type for it. Called on the registry object's thread.
using TExtensionTypeLookup = std::function<std::string(const std::string& extension)>;

// The per-user store: the keys and values live in one file, rewritten whole (through a
// new file renamed over the old one) after every change, so a failed write leaves the
// earlier ones in place. When the object goes and something was changed, OnReleased
// gets the final contents (the desktop reflection hooks in here); an exception it throws
// is written to stderr and goes no further.
class TFileRegistry final : public IRegistry {
public:
  TFileRegistry(std::string storePath, TExtensionTypeLookup lookup,
                std::function<void(const TRegistryContents&)> onReleased = {});
  ~TFileRegistry() override;
  TFileRegistry(const TFileRegistry&) = delete;
  TFileRegistry& operator=(const TFileRegistry&) = delete;

  bool OpenKey(const std::string& key, bool canCreate) override;
  bool OpenKeyReadOnly(const std::string& key) override;
  bool KeyExists(const std::string& key) override;
  void WriteString(const std::string& name, const std::string& value) override;
  std::string ReadString(const std::string& name) override;
  void CloseKey() override;

  const TRegistryContents& Contents() const { return contents_; }

private:
  enum class TOpen { None, Stored, ReadOnly, DesktopType };
  std::string DesktopTypeOf(const std::string& folded) const;
  bool Save();

  std::string storePath_;
  TExtensionTypeLookup lookup_;
  std::function<void(const TRegistryContents&)> onReleased_;
  TRegistryContents contents_;
  TOpen open_ = TOpen::None;
  std::string openKey_;  // folded
  bool changed_ = false;
};
