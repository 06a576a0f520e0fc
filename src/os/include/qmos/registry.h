// The registry: hives of keys holding named string and DWORD values, kept in one
// text file in the Windows registry export format so that administrators can
// deploy settings as .reg files. Every process that uses the same file sees the
// others' writes; writes replace the file atomically under a file lock. On Windows
// the keys are those of the system's own registry, and there is no registry file.
//
// Key paths are written with backslashes ("SOFTWARE\\Quillmere\\Viewer") and are
// matched without regard to case, as on Windows; value names likewise. The empty
// value name stands for the key's default value ("@" in the file).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmos {

enum class RegRoot {
  LocalMachine,   // HKEY_LOCAL_MACHINE
  CurrentUser,    // HKEY_CURRENT_USER
  ClassesRoot,    // HKEY_CLASSES_ROOT: a view of HKEY_LOCAL_MACHINE\SOFTWARE\Classes
};

// The type of a stored value. Values of other types (hex: and hex(N): in the file)
// are kept byte for byte so that an import followed by an export loses nothing.
enum class RegValueKind {
  String,   // "name"="text"          (REG_SZ)
  DWord,    // "name"=dword:0000000a  (REG_DWORD)
  Binary,   // "name"=hex:..  or hex(N):..  (any other type, bytes kept as they are)
};

struct RegValue {
  RegValueKind kind = RegValueKind::String;
  std::string text;               // String: UTF-8 text
  std::uint32_t dword = 0;        // DWord
  std::uint32_t hexType = 3;      // Binary: N of hex(N):, 3 for plain hex:
  std::vector<std::uint8_t> bytes;  // Binary: the raw bytes
};

enum class RegResult {
  Ok,
  NotFound,    // the key or the value does not exist
  WrongType,   // the value exists with another type than the one asked for
  Error,       // the registry file could not be read or written
};

// An open key. It names a path; every operation reads the current state of the
// registry file, so a key deleted meanwhile by another process reads as missing.
class RegKey {
 public:
  // Opens the key; with create, creates it and its missing parents first.
  // Returns nothing when the key does not exist (and create is false) or when the
  // registry file cannot be read or written.
  static std::optional<RegKey> Open(RegRoot root, std::string_view path, bool create = false);

  RegRoot Root() const { return root_; }
  const std::string& Path() const { return path_; }

  RegResult ReadString(std::string_view name, std::string& out) const;
  RegResult ReadDword(std::string_view name, std::uint32_t& out) const;
  std::optional<RegValue> ReadValue(std::string_view name) const;
  bool ValueExists(std::string_view name) const;

  // Writes create the key again if it was deleted meanwhile. Names and texts
  // holding NUL, CR or LF cannot be kept in the file and are refused (false).
  bool WriteString(std::string_view name, std::string_view value);
  bool WriteDword(std::string_view name, std::uint32_t value);
  bool WriteValue(std::string_view name, const RegValue& value);
  bool DeleteValue(std::string_view name);  // false when it did not exist
  // Deletes every value of the key in one write. False when the key is missing.
  bool DeleteAllValues();

  // Names as stored (original case), in the order they were created.
  std::vector<std::string> SubKeyNames() const;
  std::vector<std::string> ValueNames() const;

 private:
  RegKey(RegRoot root, std::string path) : root_(root), path_(std::move(path)) {}
  RegRoot root_;
  std::string path_;
};

// Deletes the key with all its subkeys and values. False when it did not exist.
bool RegDeleteKey(RegRoot root, std::string_view path);
bool RegKeyExists(RegRoot root, std::string_view path);

// The registry file in use: the one set with SetRegistryFile, else
// $QUILLMERE_REGISTRY, else $XDG_CONFIG_HOME/quillmere/registry.reg (with
// $XDG_CONFIG_HOME defaulting to ~/.config). The file and its folder are created
// on the first write.
std::string RegistryFile();
void SetRegistryFile(std::string path);

// Full key names as they stand in .reg files: "HKEY_LOCAL_MACHINE\\SOFTWARE\\X".
// Also accepts the short forms HKLM, HKCU and HKCR. HKEY_CLASSES_ROOT names map to
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes. Returns nothing for an unknown hive.
struct RegFullName {
  RegRoot root;
  std::string path;  // may be empty: the hive itself
};
std::optional<RegFullName> ParseRegKeyName(std::string_view fullName);
// Like ParseRegKeyName but keeps HKEY_CLASSES_ROOT names as RegRoot::ClassesRoot
// (for showing names the way the user typed them).
std::optional<RegFullName> SplitRegKeyName(std::string_view fullName);
std::string FormatRegKeyName(RegRoot root, std::string_view path);

// Applies a .reg file (version 5, UTF-16LE with byte-order mark or UTF-8, or
// REGEDIT4) to the registry in one atomic write. On a syntax error nothing is
// written and error says where and why.
bool RegImportFile(const std::string& regFile, std::string& error);
// Writes the key and everything below it as a UTF-8 version 5 .reg file.
bool RegExportKey(RegRoot root, std::string_view path, const std::string& regFile,
                  std::string& error);

// True when the registry file is missing (an empty registry) or can be read and
// parsed; otherwise false with the reason (for instance the line of a syntax
// error). While the file cannot be parsed, reads find nothing and writes fail.
bool RegCheckFile(std::string& error);

}  // namespace qmos
