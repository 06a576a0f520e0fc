#include "registry/reg_path.h"

namespace qmos::reg {

namespace {

char FoldChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool HasForbiddenControl(std::string_view text) {
  return text.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos;
}

}  // namespace

std::string FoldName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = FoldChar(c);
  return folded;
}

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldChar(a[i]) != FoldChar(b[i])) return false;
  }
  return true;
}

bool SplitKeyPath(std::string_view path, KeyPath& out, std::string& error) {
  out.clear();
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t end = path.find('\\', pos);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(pos, end - pos);
    if (!part.empty()) {
      if (part.size() > kMaxKeyNameLength) {
        error = "key name longer than 255 characters";
        return false;
      }
      if (HasForbiddenControl(part)) {
        error = "key name holds a NUL or line-break character";
        return false;
      }
      if (out.size() == kMaxKeyDepth) {
        error = "key path nested deeper than 512 levels";
        return false;
      }
      out.emplace_back(part);
    }
    pos = end + 1;
  }
  return true;
}

std::string JoinKeyPath(const KeyPath& path) {
  std::string joined;
  for (const std::string& part : path) {
    if (!joined.empty()) joined += '\\';
    joined += part;
  }
  return joined;
}

std::string NormalisedPath(std::string_view path) {
  KeyPath parts;
  std::string error;
  if (!SplitKeyPath(path, parts, error)) return std::string(path);
  return JoinKeyPath(parts);
}

std::optional<ResolvedKey> ResolveKey(RegRoot root, std::string_view path, std::string* error) {
  std::string reason;
  ResolvedKey key;
  KeyPath parts;
  if (!SplitKeyPath(path, parts, reason)) {
    if (error) *error = reason;
    return std::nullopt;
  }
  if (root == RegRoot::ClassesRoot) {
    if (parts.size() + 2 > kMaxKeyDepth) {
      if (error) *error = "key path nested deeper than 512 levels";
      return std::nullopt;
    }
    key.root = RegRoot::LocalMachine;
    key.path.reserve(parts.size() + 2);
    key.path.emplace_back("SOFTWARE");
    key.path.emplace_back("Classes");
    for (std::string& part : parts) key.path.push_back(std::move(part));
  } else {
    key.root = root;
    key.path = std::move(parts);
  }
  return key;
}

bool ValueNameValid(std::string_view name) {
  return name.size() <= kMaxValueNameLength && !HasForbiddenControl(name);
}

std::optional<RegRoot> ParseHiveName(std::string_view hive) {
  if (NamesEqual(hive, "HKEY_LOCAL_MACHINE") || NamesEqual(hive, "HKLM")) return RegRoot::LocalMachine;
  if (NamesEqual(hive, "HKEY_CURRENT_USER") || NamesEqual(hive, "HKCU")) return RegRoot::CurrentUser;
  if (NamesEqual(hive, "HKEY_CLASSES_ROOT") || NamesEqual(hive, "HKCR")) return RegRoot::ClassesRoot;
  return std::nullopt;
}

const char* HiveName(RegRoot root) {
  switch (root) {
    case RegRoot::LocalMachine: return "HKEY_LOCAL_MACHINE";
    case RegRoot::CurrentUser: return "HKEY_CURRENT_USER";
    case RegRoot::ClassesRoot: return "HKEY_CLASSES_ROOT";
  }
  return "HKEY_LOCAL_MACHINE";
}

}  // namespace qmos::reg
