// The registry interface over the Windows registry itself. A RegKey holds no open
// handle, only its hive and path: every operation opens the key again, so that a
// key deleted meanwhile reads as missing and a write creates it again, as with the
// registry file on other systems. Keys are opened for reading only unless the
// operation writes, so that keys the user may read but not change stay readable.
#include "qmos/registry.h"

#include "core/wide_text.h"
#include "registry/reg_path.h"
#include "registry/reg_value.h"
#include "registry/win32/reg_handle.h"

namespace qmos {

using reg::KeyHandle;

namespace {

constexpr REGSAM kRead = KEY_READ;
constexpr REGSAM kWrite = KEY_READ | KEY_WRITE;

// Reads the value name of the key at root\path when it has the kind asked for, and
// hands it to take. NotFound for a missing key or value, WrongType for a value of
// another kind, Error when the system refuses the read; take is not called then.
template <class Take>
RegResult ReadOfKind(RegRoot root, const std::string& path, std::string_view name,
                     RegValueKind kind, Take take) {
  std::wstring wideName;
  if (!reg::Widen(name, wideName)) return RegResult::NotFound;
  KeyHandle key;
  LSTATUS status = reg::OpenKey(root, path, kRead, false, key);
  reg::RawValue raw;
  if (status == ERROR_SUCCESS) status = reg::QueryRaw(key.Get(), wideName, raw);
  if (status == ERROR_FILE_NOT_FOUND) return RegResult::NotFound;
  if (status != ERROR_SUCCESS) return RegResult::Error;
  const RegValue value = reg::FromRaw(raw);
  if (value.kind != kind) return RegResult::WrongType;
  take(value);
  return RegResult::Ok;
}

std::vector<std::string> Utf8Names(const std::vector<std::wstring>& wide) {
  std::vector<std::string> names;
  names.reserve(wide.size());
  for (const std::wstring& name : wide) names.push_back(detail::Utf8FromWide(name));
  return names;
}

}  // namespace

std::optional<RegKey> RegKey::Open(RegRoot root, std::string_view path, bool create) {
  // A key that exists is opened for reading only: one the user may read but not
  // change (most of HKEY_LOCAL_MACHINE) opens all the same. Only a missing key is
  // created, which needs write access.
  KeyHandle key;
  LSTATUS status = reg::OpenKey(root, path, kRead, false, key);
  if (status == ERROR_FILE_NOT_FOUND && create) {
    status = reg::OpenKey(root, path, kWrite, true, key);
  }
  if (status != ERROR_SUCCESS) return std::nullopt;
  return RegKey(root, reg::NormalisedPath(path));
}

std::optional<RegValue> RegKey::ReadValue(std::string_view name) const {
  std::wstring wideName;
  KeyHandle key;
  reg::RawValue raw;
  if (!reg::Widen(name, wideName) ||
      reg::OpenKey(root_, path_, kRead, false, key) != ERROR_SUCCESS ||
      reg::QueryRaw(key.Get(), wideName, raw) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return reg::FromRaw(raw);
}

RegResult RegKey::ReadString(std::string_view name, std::string& out) const {
  return ReadOfKind(root_, path_, name, RegValueKind::String,
                    [&](const RegValue& value) { out = value.text; });
}

RegResult RegKey::ReadDword(std::string_view name, std::uint32_t& out) const {
  return ReadOfKind(root_, path_, name, RegValueKind::DWord,
                    [&](const RegValue& value) { out = value.dword; });
}

bool RegKey::WriteValue(std::string_view name, const RegValue& value) {
  // The same values are refused as on other systems (see StorableValue), so that
  // what one program writes any other can export and import again.
  if (!reg::ValueNameValid(name) || !reg::StorableValue(value)) return false;
  std::wstring wideName;
  reg::RawValue raw;
  if (!reg::Widen(name, wideName) || !reg::ToRaw(value, raw)) return false;
  KeyHandle key;
  if (reg::OpenKey(root_, path_, kWrite, true, key) != ERROR_SUCCESS) return false;
  return reg::SetRaw(key.Get(), wideName, raw) == ERROR_SUCCESS;
}

bool RegKey::DeleteValue(std::string_view name) {
  std::wstring wideName;
  KeyHandle key;
  if (!reg::Widen(name, wideName) ||
      reg::OpenKey(root_, path_, kWrite, false, key) != ERROR_SUCCESS) {
    return false;
  }
  return ::RegDeleteValueW(key.Get(), wideName.c_str()) == ERROR_SUCCESS;
}

bool RegKey::DeleteAllValues() {
  KeyHandle key;
  std::vector<std::wstring> names;
  if (reg::OpenKey(root_, path_, kWrite, false, key) != ERROR_SUCCESS ||
      reg::ValuesOf(key.Get(), names) != ERROR_SUCCESS) {
    return false;
  }
  // Names first, deletions after: deleting while enumerating would skip values.
  // A value another program deleted meanwhile is gone all the same.
  bool ok = true;
  for (const std::wstring& name : names) {
    const LSTATUS status = ::RegDeleteValueW(key.Get(), name.c_str());
    ok = ok && (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND);
  }
  return ok;
}

std::vector<std::string> RegKey::SubKeyNames() const {
  KeyHandle key;
  std::vector<std::wstring> names;
  if (reg::OpenKey(root_, path_, kRead, false, key) != ERROR_SUCCESS ||
      reg::SubKeysOf(key.Get(), names) != ERROR_SUCCESS) {
    return {};
  }
  return Utf8Names(names);
}

std::vector<std::string> RegKey::ValueNames() const {
  KeyHandle key;
  std::vector<std::wstring> names;
  if (reg::OpenKey(root_, path_, kRead, false, key) != ERROR_SUCCESS ||
      reg::ValuesOf(key.Get(), names) != ERROR_SUCCESS) {
    return {};
  }
  return Utf8Names(names);
}

bool RegDeleteKey(RegRoot root, std::string_view path) {
  return reg::DeleteKeyTree(root, path) == ERROR_SUCCESS;
}

bool RegKeyExists(RegRoot root, std::string_view path) {
  // A key the user may not read is there all the same.
  KeyHandle key;
  const LSTATUS status = reg::OpenKey(root, path, kRead, false, key);
  return status == ERROR_SUCCESS || status == ERROR_ACCESS_DENIED;
}

// Windows keeps its registry itself: there is no registry file to name or to check.
std::string RegistryFile() { return std::string(); }

void SetRegistryFile(std::string) {}

bool RegCheckFile(std::string&) { return true; }

}  // namespace qmos
