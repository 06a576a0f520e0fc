// The parts of the public registry interface that do not depend on where keys are
// kept: full key names as .reg files write them, and the typed writes and the
// existence check, which go through WriteValue and ReadValue of each backend.
#include "qmos/registry.h"

#include "registry/reg_path.h"

namespace qmos {

bool RegKey::ValueExists(std::string_view name) const { return ReadValue(name).has_value(); }

bool RegKey::WriteString(std::string_view name, std::string_view value) {
  RegValue v;
  v.kind = RegValueKind::String;
  v.text = std::string(value);
  return WriteValue(name, v);
}

bool RegKey::WriteDword(std::string_view name, std::uint32_t value) {
  RegValue v;
  v.kind = RegValueKind::DWord;
  v.dword = value;
  return WriteValue(name, v);
}

std::optional<RegFullName> SplitRegKeyName(std::string_view fullName) {
  const std::size_t slash = fullName.find('\\');
  const std::optional<RegRoot> root = reg::ParseHiveName(fullName.substr(0, slash));
  if (!root) return std::nullopt;
  const std::string_view rest =
      slash == std::string_view::npos ? std::string_view() : fullName.substr(slash + 1);
  reg::KeyPath parts;
  std::string error;
  if (!reg::SplitKeyPath(rest, parts, error)) return std::nullopt;
  return RegFullName{*root, reg::JoinKeyPath(parts)};
}

std::optional<RegFullName> ParseRegKeyName(std::string_view fullName) {
  std::optional<RegFullName> name = SplitRegKeyName(fullName);
  if (name && name->root == RegRoot::ClassesRoot) {
    name->root = RegRoot::LocalMachine;
    name->path = name->path.empty() ? "SOFTWARE\\Classes" : "SOFTWARE\\Classes\\" + name->path;
  }
  return name;
}

std::string FormatRegKeyName(RegRoot root, std::string_view path) {
  std::string name = reg::HiveName(root);
  if (!path.empty()) {
    name += '\\';
    name += path;
  }
  return name;
}

}  // namespace qmos
