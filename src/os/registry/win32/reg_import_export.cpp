// .reg files against the Windows registry: an import parses the whole file first
// (a syntax error writes nothing) and then applies its keys and values in order
// through the registry functions; an export reads a key and everything below it
// and writes the same text as on other systems.
#include "core/wide_text.h"
#include "qmos/file_replace.h"
#include "registry/reg_path.h"
#include "registry/reg_text.h"
#include "registry/reg_value.h"
#include "registry/win32/reg_handle.h"

// <windows.h> (through reg_handle.h) names ReplaceFileW by this name.
#undef ReplaceFile

#include <algorithm>
#include <utility>

namespace qmos {

using reg::KeyHandle;

namespace {

std::string Describe(const std::string& what, const std::string& name, DWORD code) {
  return what + " " + name + ": " + reg::SystemMessage(code);
}

// The value as the export writes it. A string is written as text only when that
// text gives back the very same bytes and a .reg line can carry it; any other
// REG_SZ (no terminating NUL, data after it, a line break, a lone surrogate) is
// written as hex(1): byte for byte, so that an import restores it unchanged.
RegValue ExportedValue(const reg::RawValue& raw) {
  RegValue value = reg::FromRaw(raw);
  if (value.kind != RegValueKind::String) return value;
  reg::RawValue again;
  if (reg::StorableValue(value) && reg::ToRaw(value, again) && again.bytes == raw.bytes) {
    return value;
  }
  value.kind = RegValueKind::Binary;
  value.hexType = REG_SZ;
  value.bytes = raw.bytes;
  return value;
}

// Names and values of one open key, for AppendKeyBlock. False, with error set, for
// a value name that a .reg line cannot carry.
bool ReadValues(HKEY key, const std::string& keyName,
                std::vector<std::pair<std::string, RegValue>>& values, std::string& error) {
  std::vector<std::wstring> names;
  const LSTATUS status = reg::ValuesOf(key, names);
  if (status != ERROR_SUCCESS) {
    error = Describe("cannot list the values of", keyName, static_cast<DWORD>(status));
    return false;
  }
  values.clear();
  for (const std::wstring& wideName : names) {
    reg::RawValue raw;
    const LSTATUS read = reg::QueryRaw(key, wideName, raw);
    if (read == ERROR_FILE_NOT_FOUND) continue;  // deleted meanwhile
    std::string name = detail::Utf8FromWide(wideName);
    if (read != ERROR_SUCCESS) {
      error = Describe("cannot read the value \"" + name + "\" of", keyName,
                       static_cast<DWORD>(read));
      return false;
    }
    if (!reg::ValueNameValid(name)) {
      error = "the value name \"" + name + "\" of " + keyName + " cannot be written in a .reg file";
      return false;
    }
    values.emplace_back(std::move(name), ExportedValue(raw));
  }
  return true;
}

}  // namespace

bool RegImportFile(const std::string& regFile, std::string& error) {
  std::string bytes;
  if (!ReadWholeFile(regFile, reg::kMaxRegFileBytes, bytes, error)) return false;
  std::vector<reg::RegKeyOp> ops;
  reg::RegTextError parseError;
  if (!reg::ParseRegBytes(bytes, ops, parseError)) {
    error = regFile + ": " + parseError.ToString();
    return false;
  }
  // The parser has mapped HKEY_CLASSES_ROOT onto HKEY_LOCAL_MACHINE\SOFTWARE\Classes,
  // the machine-wide classes that HKEY_CLASSES_ROOT shows.
  const auto fail = [&](std::size_t line, const std::string& what, LSTATUS status) {
    error = regFile + ": line " + std::to_string(line) + ": " + what +
            (status == ERROR_SUCCESS ? "" : ": " + reg::SystemMessage(static_cast<DWORD>(status)));
    return false;
  };
  for (const reg::RegKeyOp& op : ops) {
    const std::string path = reg::JoinKeyPath(op.path);
    const std::string keyName = FormatRegKeyName(op.root, path);
    if (op.remove) {
      const LSTATUS status = reg::DeleteKeyTree(op.root, path);
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        return fail(op.line, "cannot delete " + keyName, status);
      }
      continue;
    }
    KeyHandle key;
    LSTATUS status = reg::OpenKey(op.root, path, KEY_READ | KEY_WRITE, true, key);
    if (status != ERROR_SUCCESS) return fail(op.line, "cannot create " + keyName, status);
    for (const reg::RegValueOp& valueOp : op.values) {
      std::wstring name;
      reg::RawValue raw;
      if (!reg::Widen(valueOp.name, name)) return fail(valueOp.line, "value name is not UTF-8", 0);
      if (!valueOp.value) {
        status = ::RegDeleteValueW(key.Get(), name.c_str());
        if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
      } else if (!reg::ToRaw(*valueOp.value, raw)) {
        return fail(valueOp.line, "text is not UTF-8", 0);
      } else {
        status = reg::SetRaw(key.Get(), name, raw);
      }
      if (status != ERROR_SUCCESS) return fail(valueOp.line, "cannot write to " + keyName, status);
    }
  }
  return true;
}

bool RegExportKey(RegRoot root, std::string_view path, const std::string& regFile,
                  std::string& error) {
  reg::KeyPath parts;
  if (!reg::SplitKeyPath(path, parts, error)) return false;
  const std::string fullName = FormatRegKeyName(root, reg::JoinKeyPath(parts));
  KeyHandle top;
  const LSTATUS status = reg::OpenKey(root, path, KEY_READ, false, top);
  if (status == ERROR_FILE_NOT_FOUND) {
    error = "the key " + fullName + " does not exist";
    return false;
  }
  if (status != ERROR_SUCCESS) {
    error = Describe("cannot read", fullName, static_cast<DWORD>(status));
    return false;
  }
  // Depth-first, parents before children, without recursion. Each key is opened by
  // its path below the exported one and closed before the next is read.
  struct Pending {
    std::wstring below;  // path below the exported key, "" for the key itself
    std::string name;    // full name as written in the file
  };
  std::string text = reg::FormatRegHeader();
  std::vector<Pending> stack{{L"", fullName}};
  std::vector<std::pair<std::string, RegValue>> values;
  std::vector<std::wstring> children;
  while (!stack.empty()) {
    Pending item = std::move(stack.back());
    stack.pop_back();
    KeyHandle key;
    const LSTATUS open = ::RegOpenKeyExW(top.Get(), item.below.c_str(), 0, KEY_READ, key.Receive());
    if (open == ERROR_FILE_NOT_FOUND) continue;  // deleted meanwhile
    if (open != ERROR_SUCCESS) {
      error = Describe("cannot read", item.name, static_cast<DWORD>(open));
      return false;
    }
    if (!ReadValues(key.Get(), item.name, values, error)) return false;
    reg::AppendKeyBlock(item.name, values, text);
    const LSTATUS listed = reg::SubKeysOf(key.Get(), children);
    if (listed != ERROR_SUCCESS) {
      error = Describe("cannot list the subkeys of", item.name, static_cast<DWORD>(listed));
      return false;
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      const std::string child = detail::Utf8FromWide(*it);
      reg::KeyPath checked;
      std::string reason;
      if (!reg::SplitKeyPath(child, checked, reason)) {
        error = "the key " + item.name + "\\" + child +
                " cannot be written in a .reg file: " + reason;
        return false;
      }
      std::wstring below = item.below.empty() ? *it : item.below + L"\\" + *it;
      stack.push_back({std::move(below), item.name + "\\" + child});
    }
  }
  return ReplaceFile(regFile, text, 0644, error);
}

}  // namespace qmos
