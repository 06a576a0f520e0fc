#include "commands.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <istream>
#include <ostream>
#include <string>

#include "qmos/registry.h"
#include "tool_platform.h"

namespace qmreg {

namespace {

using qmos::RegKey;
using qmos::RegRoot;
using qmos::RegValue;
using qmos::RegValueKind;

constexpr const char* kNotFound = "The system was unable to find the specified registry key or value.";
constexpr const char* kSuccess = "The operation completed successfully.";
constexpr const char* kCancelled = "The operation was cancelled by the user.";

bool SameWord(const std::string& a, const char* b) {
  const std::string other(b);
  if (a.size() != other.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(other[i]))) {
      return false;
    }
  }
  return true;
}

struct KeyName {
  RegRoot root;
  std::string path;
  std::string full;  // as shown: the hive the user named, long form
};

class Session {
 public:
  Session(const CommandLine& line, std::istream& in, std::ostream& out, std::ostream& err)
      : line_(line), in_(in), out_(out), err_(err) {}

  int Run() {
    std::string reason;
    if (!qmos::RegCheckFile(reason)) return Error(reason);
    if (line_.verb == "query") return Query();
    if (line_.verb == "add") return Add();
    if (line_.verb == "delete") return Delete();
    if (line_.verb == "import") return Import();
    if (line_.verb == "export") return Export();
    return Error("Invalid syntax.");
  }

 private:
  int Error(const std::string& message) {
    err_ << "ERROR: " << message << '\n';
    return 1;
  }

  int Success() {
    out_ << kSuccess << '\n';
    return 0;
  }

  bool ParseKey(const std::string& text, KeyName& key) {
    const std::optional<qmos::RegFullName> name = qmos::SplitRegKeyName(text);
    if (!name) return false;
    key.root = name->root;
    key.path = name->path;
    key.full = qmos::FormatRegKeyName(key.root, key.path);
    return true;
  }

  // Asks a yes/no question; only "y" or "yes" agree. No input disagrees.
  bool Confirm(const std::string& question) {
    out_ << question << ' ' << std::flush;
    std::string answer;
    if (!std::getline(in_, answer)) {
      out_ << '\n';
      return false;
    }
    std::string word;
    for (char c : answer) {
      if (!std::isspace(static_cast<unsigned char>(c))) {
        word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
    }
    return word == "y" || word == "yes";
  }

  int Cancelled() {
    out_ << kCancelled << '\n';
    return 1;
  }

  // The value name chosen with /v or /ve; nothing when neither was given.
  std::optional<std::string> ChosenValue() const {
    if (line_.valueName) return *line_.valueName;
    if (line_.defaultValue) return std::string();
    return std::nullopt;
  }

  static std::string ShownName(const std::string& name) { return name.empty() ? "(Default)" : name; }

  static std::string TypeName(const RegValue& value) {
    switch (value.kind) {
      case RegValueKind::String: return "REG_SZ";
      case RegValueKind::DWord: return "REG_DWORD";
      case RegValueKind::Binary: break;
    }
    switch (value.hexType) {
      case 0: return "REG_NONE";
      case 2: return "REG_EXPAND_SZ";
      case 3: return "REG_BINARY";
      case 7: return "REG_MULTI_SZ";
      case 11: return "REG_QWORD";
      default: return "REG_UNKNOWN";
    }
  }

  static std::string DataText(const RegValue& value) {
    char buffer[16];
    switch (value.kind) {
      case RegValueKind::String: return value.text;
      case RegValueKind::DWord:
        std::snprintf(buffer, sizeof buffer, "0x%x", static_cast<unsigned>(value.dword));
        return buffer;
      case RegValueKind::Binary: break;
    }
    std::string hex;
    for (std::uint8_t byte : value.bytes) {
      std::snprintf(buffer, sizeof buffer, "%02X", static_cast<unsigned>(byte));
      hex += buffer;
    }
    return hex;
  }

  void PrintValue(const std::string& name, const RegValue& value) {
    out_ << "    " << ShownName(name) << "    " << TypeName(value) << "    " << DataText(value)
         << '\n';
  }

  void PrintKeyAndValues(const RegKey& key, const std::string& full) {
    out_ << '\n' << full << '\n';
    for (const std::string& name : key.ValueNames()) {
      if (const std::optional<RegValue> value = key.ReadValue(name)) PrintValue(name, *value);
    }
  }

  void PrintTree(const RegKey& key, const std::string& full) {
    PrintKeyAndValues(key, full);
    for (const std::string& sub : key.SubKeyNames()) {
      const std::string path = key.Path().empty() ? sub : key.Path() + "\\" + sub;
      if (std::optional<RegKey> child = RegKey::Open(key.Root(), path)) {
        PrintTree(*child, full + "\\" + sub);
      }
    }
  }

  int Query() {
    KeyName name;
    if (!ParseKey(line_.operands[0], name)) return Error("Invalid key name.");
    const std::optional<RegKey> key = RegKey::Open(name.root, name.path);
    if (!key) return Error(kNotFound);
    if (const std::optional<std::string> valueName = ChosenValue()) {
      const std::optional<RegValue> value = key->ReadValue(*valueName);
      if (!value) return Error(kNotFound);
      // Shown with the name as stored.
      std::string stored = *valueName;
      for (const std::string& candidate : key->ValueNames()) {
        if (SameWord(candidate, valueName->c_str())) stored = candidate;
      }
      out_ << '\n' << name.full << '\n';
      PrintValue(stored, *value);
      out_ << '\n';
      return 0;
    }
    if (line_.recursive) {
      PrintTree(*key, name.full);
      out_ << '\n';
      return 0;
    }
    PrintKeyAndValues(*key, name.full);
    const std::vector<std::string> subkeys = key->SubKeyNames();
    if (!subkeys.empty()) out_ << '\n';
    for (const std::string& sub : subkeys) out_ << name.full << '\\' << sub << '\n';
    out_ << '\n';
    return 0;
  }

  bool ParseDword(const std::string& text, std::uint32_t& value) {
    std::string digits = text;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
      digits = digits.substr(2);
      base = 16;
    }
    if (digits.empty()) return false;
    for (char c : digits) {
      if (base == 10 ? !std::isdigit(static_cast<unsigned char>(c))
                     : !std::isxdigit(static_cast<unsigned char>(c))) {
        return false;
      }
    }
    errno = 0;
    const unsigned long long parsed = std::strtoull(digits.c_str(), nullptr, base);
    if (errno == ERANGE || parsed > 0xFFFFFFFFull) return false;
    value = static_cast<std::uint32_t>(parsed);
    return true;
  }

  int Add() {
    KeyName name;
    if (!ParseKey(line_.operands[0], name)) return Error("Invalid key name.");
    const std::string type = line_.type ? *line_.type : "REG_SZ";
    RegValue value;
    if (SameWord(type, "REG_SZ")) {
      value.kind = RegValueKind::String;
      value.text = line_.data.value_or("");
      if (value.text.find_first_of("\r\n") != std::string::npos) {
        return Error("Invalid data: line breaks cannot be stored in a REG_SZ value.");
      }
    } else if (SameWord(type, "REG_DWORD")) {
      value.kind = RegValueKind::DWord;
      if (line_.data && !ParseDword(*line_.data, value.dword)) {
        return Error("Invalid data for REG_DWORD: \"" + *line_.data +
                     "\" (a decimal or 0x hex number of 32 bits expected).");
      }
    } else {
      return Error("Invalid type \"" + type + "\" (REG_SZ or REG_DWORD).");
    }
    // /t or /d without /v names the default value, as with reg.exe.
    std::optional<std::string> valueName = ChosenValue();
    if (!valueName && (line_.type || line_.data)) valueName = std::string();

    if (valueName && !line_.force) {
      const std::optional<RegKey> existing = RegKey::Open(name.root, name.path);
      if (existing && existing->ValueExists(*valueName) &&
          !Confirm("Value " + ShownName(*valueName) + " exists, overwrite(Yes/No)?")) {
        return Cancelled();
      }
    }
    std::optional<RegKey> key = RegKey::Open(name.root, name.path, true);
    if (!key) return Error("The key " + name.full + " could not be created in " + qmtools::RegistryDescription() + ".");
    if (valueName && !key->WriteValue(*valueName, value)) {
      return Error("The value could not be written to " + qmtools::RegistryDescription() + ".");
    }
    return Success();
  }

  int Delete() {
    KeyName name;
    if (!ParseKey(line_.operands[0], name)) return Error("Invalid key name.");
    std::optional<RegKey> key = RegKey::Open(name.root, name.path);
    if (!key) return Error(kNotFound);
    if (const std::optional<std::string> valueName = ChosenValue()) {
      if (!key->ValueExists(*valueName)) return Error(kNotFound);
      if (!line_.force &&
          !Confirm("Delete the registry value " + ShownName(*valueName) + " (Yes/No)?")) {
        return Cancelled();
      }
      if (!key->DeleteValue(*valueName)) return Error(kNotFound);
      return Success();
    }
    if (line_.allValues) {
      if (!line_.force &&
          !Confirm("Delete all values under the registry key " + name.full + " (Yes/No)?")) {
        return Cancelled();
      }
      if (!key->DeleteAllValues()) return Error(kNotFound);
      return Success();
    }
    if (name.root != RegRoot::ClassesRoot && name.path.empty()) {
      return Error("A whole hive cannot be deleted.");
    }
    if (!line_.force &&
        !Confirm("Permanently delete the registry key " + name.full + " (Yes/No)?")) {
      return Cancelled();
    }
    if (!qmos::RegDeleteKey(name.root, name.path)) return Error(kNotFound);
    return Success();
  }

  int Import() {
    std::string error;
    if (!qmos::RegImportFile(line_.operands[0], error)) return Error(error);
    return Success();
  }

  int Export() {
    KeyName name;
    if (!ParseKey(line_.operands[0], name)) return Error("Invalid key name.");
    if (!qmos::RegKeyExists(name.root, name.path)) return Error(kNotFound);
    const std::string& file = line_.operands[1];
    if (!line_.overwriteFile && qmtools::PathExists(file) &&
        !Confirm("File " + file + " already exists. Overwrite (Yes/No)?")) {
      return Cancelled();
    }
    std::string error;
    if (!qmos::RegExportKey(name.root, name.path, file, error)) return Error(error);
    return Success();
  }

  const CommandLine& line_;
  std::istream& in_;
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace

int RunCommand(const CommandLine& line, std::istream& in, std::ostream& out, std::ostream& err) {
  return Session(line, in, out, err).Run();
}

}  // namespace qmreg
