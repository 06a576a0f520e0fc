// The registry interface over the registry file: keys named by hive and path, read
// and written through the process-wide store, which keeps them in that file.
#include "qmos/registry.h"

#include "registry/posix/reg_file.h"
#include "registry/posix/reg_store.h"
#include "registry/posix/reg_tree.h"
#include "registry/reg_path.h"
#include "registry/reg_text.h"
#include "registry/reg_value.h"

namespace qmos {

using reg::KeyPath;
using reg::RegNode;
using reg::RegStore;
using reg::RegTree;
using reg::ResolvedKey;

namespace {

// Runs fn on the key when the registry can be read and the key exists.
template <typename Fn>
bool WithKey(RegRoot root, std::string_view path, Fn&& fn) {
  const std::optional<ResolvedKey> key = reg::ResolveKey(root, path);
  if (!key) return false;
  bool found = false;
  RegStore::Instance().Read([&](const RegTree& tree) {
    if (const RegNode* node = tree.Find(key->root, key->path)) {
      found = true;
      fn(*node);
    }
  });
  return found;
}

}  // namespace

std::optional<RegKey> RegKey::Open(RegRoot root, std::string_view path, bool create) {
  const std::optional<ResolvedKey> key = reg::ResolveKey(root, path);
  if (!key) return std::nullopt;
  // A key that exists is opened through the read path, which needs no write
  // access to the registry's folder: a registry file deployed read-only stays
  // readable. Only a missing key is created, under the write lock.
  if (WithKey(root, path, [](const RegNode&) {})) return RegKey(root, reg::NormalisedPath(path));
  if (!create) return std::nullopt;
  const bool ok = RegStore::Instance().Write([&](RegTree& tree, bool& changed, std::string& error) {
    if (tree.Find(key->root, key->path) != nullptr) return true;
    changed = true;
    if (tree.Ensure(key->root, key->path) != nullptr) return true;
    error = "too many keys and values";
    return false;
  });
  if (!ok) return std::nullopt;
  return RegKey(root, reg::NormalisedPath(path));
}

std::optional<RegValue> RegKey::ReadValue(std::string_view name) const {
  std::optional<RegValue> result;
  WithKey(root_, path_, [&](const RegNode& node) {
    if (const RegValue* value = node.Value(name)) result = *value;
  });
  return result;
}

namespace {

// Reads the value name of the key at root\path when it has the kind asked for, and
// hands it to take. NotFound, WrongType or Error otherwise; take is not called then.
template <class Take>
RegResult ReadOfKind(RegRoot root, const std::string& path, std::string_view name,
                     RegValueKind kind, Take take) {
  const std::optional<ResolvedKey> key = reg::ResolveKey(root, path);
  if (!key) return RegResult::NotFound;
  RegResult result = RegResult::NotFound;
  const bool read = RegStore::Instance().Read([&](const RegTree& tree) {
    const RegNode* node = tree.Find(key->root, key->path);
    const RegValue* value = node ? node->Value(name) : nullptr;
    if (value == nullptr) return;
    if (value->kind != kind) {
      result = RegResult::WrongType;
      return;
    }
    take(*value);
    result = RegResult::Ok;
  });
  return read ? result : RegResult::Error;
}

}  // namespace

RegResult RegKey::ReadString(std::string_view name, std::string& out) const {
  return ReadOfKind(root_, path_, name, RegValueKind::String,
                    [&](const RegValue& value) { out = value.text; });
}

RegResult RegKey::ReadDword(std::string_view name, std::uint32_t& out) const {
  return ReadOfKind(root_, path_, name, RegValueKind::DWord,
                    [&](const RegValue& value) { out = value.dword; });
}

bool RegKey::WriteValue(std::string_view name, const RegValue& value) {
  if (!reg::ValueNameValid(name) || !reg::StorableValue(value)) return false;
  const std::optional<ResolvedKey> key = reg::ResolveKey(root_, path_);
  if (!key) return false;
  return RegStore::Instance().Write([&](RegTree& tree, bool& changed, std::string& error) {
    RegNode* node = tree.Find(key->root, key->path);
    if (node != nullptr) {
      const RegValue* old = node->Value(name);
      if (old != nullptr && reg::SameValue(*old, value)) return true;
    }
    changed = true;
    if (node == nullptr) node = tree.Ensure(key->root, key->path);
    if (node != nullptr && tree.SetValue(*node, name, value)) return true;
    error = "too many keys and values";
    return false;
  });
}

bool RegKey::DeleteValue(std::string_view name) {
  const std::optional<ResolvedKey> key = reg::ResolveKey(root_, path_);
  if (!key) return false;
  bool removed = false;
  const bool ok = RegStore::Instance().Write([&](RegTree& tree, bool& changed, std::string&) {
    if (RegNode* node = tree.Find(key->root, key->path)) removed = tree.RemoveValue(*node, name);
    changed = removed;
    return true;
  });
  return ok && removed;
}

bool RegKey::DeleteAllValues() {
  const std::optional<ResolvedKey> key = reg::ResolveKey(root_, path_);
  if (!key) return false;
  bool found = false;
  const bool ok = RegStore::Instance().Write([&](RegTree& tree, bool& changed, std::string&) {
    RegNode* node = tree.Find(key->root, key->path);
    found = node != nullptr;
    if (found) changed = tree.ClearValues(*node) > 0;
    return true;
  });
  return ok && found;
}

std::vector<std::string> RegKey::SubKeyNames() const {
  std::vector<std::string> names;
  WithKey(root_, path_, [&](const RegNode& node) {
    for (const auto& child : node.Children()) names.push_back(child->Name());
  });
  return names;
}

std::vector<std::string> RegKey::ValueNames() const {
  std::vector<std::string> names;
  WithKey(root_, path_, [&](const RegNode& node) {
    for (const auto& entry : node.Values()) names.push_back(entry.first);
  });
  return names;
}

bool RegDeleteKey(RegRoot root, std::string_view path) {
  const std::optional<ResolvedKey> key = reg::ResolveKey(root, path);
  if (!key || key->path.empty()) return false;
  bool removed = false;
  const bool ok = RegStore::Instance().Write([&](RegTree& tree, bool& changed, std::string&) {
    removed = tree.Remove(key->root, key->path);
    changed = removed;
    return true;
  });
  return ok && removed;
}

bool RegKeyExists(RegRoot root, std::string_view path) {
  return WithKey(root, path, [](const RegNode&) {});
}

std::string RegistryFile() { return RegStore::Instance().File(); }

void SetRegistryFile(std::string path) { RegStore::Instance().SetFile(std::move(path)); }

bool RegImportFile(const std::string& regFile, std::string& error) {
  std::string bytes;
  if (!reg::ReadFile(regFile, reg::kMaxRegFileBytes, bytes, error)) return false;
  std::vector<reg::RegKeyOp> ops;
  reg::RegTextError parseError;
  if (!reg::ParseRegBytes(bytes, ops, parseError)) {
    error = regFile + ": " + parseError.ToString();
    return false;
  }
  std::string reason;
  const bool ok = RegStore::Instance().Write(
      [&](RegTree& tree, bool& changed, std::string& applyError) {
        changed = !ops.empty();
        return tree.Apply(ops, applyError);
      },
      &reason);
  if (!ok) error = reason;
  return ok;
}

bool RegExportKey(RegRoot root, std::string_view path, const std::string& regFile,
                  std::string& error) {
  const std::optional<ResolvedKey> key = reg::ResolveKey(root, path, &error);
  if (!key) return false;
  const std::string fullName = FormatRegKeyName(root, reg::NormalisedPath(path));
  std::string text = reg::FormatRegHeader();
  bool found = false;
  std::string reason;
  const bool read = RegStore::Instance().Read(
      [&](const RegTree& tree) {
        if (const RegNode* node = tree.Find(key->root, key->path)) {
          found = true;
          reg::FormatKeyTree(*node, fullName, true, text);
        }
      },
      &reason);
  if (!read) {
    error = reason;
    return false;
  }
  if (!found) {
    error = "the key " + fullName + " does not exist";
    return false;
  }
  return reg::ReplaceFile(regFile, text, 0644, error);
}

bool RegCheckFile(std::string& error) {
  return RegStore::Instance().Read([](const RegTree&) {}, &error);
}

}  // namespace qmos
