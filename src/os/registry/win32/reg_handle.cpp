#include "core/system_message.h"
#include "core/wide_text.h"
#include "registry/reg_path.h"
#include "registry/win32/reg_handle.h"

#include <climits>
#include <cstring>

namespace qmos::reg {

namespace {

HKEY HiveHandle(RegRoot root) {
  switch (root) {
    case RegRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegRoot::CurrentUser: return HKEY_CURRENT_USER;
    case RegRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
  }
  return HKEY_LOCAL_MACHINE;
}

// The checked, normalised UTF-16 path of a key below its hive; false when the
// path cannot name a key.
bool WidePath(std::string_view path, std::wstring& wide) {
  KeyPath parts;
  std::string error;
  return SplitKeyPath(path, parts, error) && Widen(JoinKeyPath(parts), wide);
}

// A value may be replaced by a longer one between asking its size and reading it;
// the read is tried again a few times, then given up as an error.
constexpr int kQueryAttempts = 8;

// Key names are at most 255 UTF-16 units, value names at most 16383.
constexpr DWORD kKeyNameBuffer = 256;
constexpr DWORD kValueNameBuffer = 16384;

}  // namespace

void KeyHandle::Close() {
  if (key_ != nullptr) ::RegCloseKey(key_);
  key_ = nullptr;
}

bool Widen(std::string_view text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;
  const int size = static_cast<int>(text.size());
  const int length =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) return false;
  wide.resize(static_cast<std::size_t>(length));
  return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(),
                               length) == length;
}

LSTATUS OpenKey(RegRoot root, std::string_view path, REGSAM access, bool create,
                KeyHandle& out) {
  std::wstring wide;
  if (!WidePath(path, wide)) return ERROR_FILE_NOT_FOUND;
  if (create) {
    return ::RegCreateKeyExW(HiveHandle(root), wide.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             access, nullptr, out.Receive(), nullptr);
  }
  return ::RegOpenKeyExW(HiveHandle(root), wide.c_str(), 0, access, out.Receive());
}

LSTATUS DeleteKeyTree(RegRoot root, std::string_view path) {
  std::wstring wide;
  if (!WidePath(path, wide)) return ERROR_FILE_NOT_FOUND;
  if (wide.empty()) return ERROR_ACCESS_DENIED;
  // Emptied first through a handle with the rights RegDeleteTreeW asks for, then
  // removed by name: the key goes only once everything below it has gone.
  KeyHandle key;
  LSTATUS status = ::RegOpenKeyExW(HiveHandle(root), wide.c_str(), 0,
                                   KEY_READ | KEY_WRITE | DELETE, key.Receive());
  if (status != ERROR_SUCCESS) return status;
  status = ::RegDeleteTreeW(key.Get(), nullptr);
  key.Close();
  if (status != ERROR_SUCCESS) return status;
  return ::RegDeleteKeyW(HiveHandle(root), wide.c_str());
}

LSTATUS QueryRaw(HKEY key, const std::wstring& name, RawValue& out) {
  DWORD size = 0;
  LSTATUS status = ::RegQueryValueExW(key, name.c_str(), nullptr, &out.type, nullptr, &size);
  for (int attempt = 0; status == ERROR_SUCCESS && attempt < kQueryAttempts; ++attempt) {
    out.bytes.resize(size);
    DWORD got = size;
    status = ::RegQueryValueExW(key, name.c_str(), nullptr, &out.type,
                                size == 0 ? nullptr : out.bytes.data(), &got);
    if (status == ERROR_SUCCESS) {
      out.bytes.resize(got);
      return ERROR_SUCCESS;
    }
    if (status == ERROR_MORE_DATA) {
      status = ERROR_SUCCESS;
      size = got;
    }
  }
  return status == ERROR_SUCCESS ? ERROR_MORE_DATA : status;
}

LSTATUS SetRaw(HKEY key, const std::wstring& name, const RawValue& raw) {
  if (raw.bytes.size() > MAXDWORD) return ERROR_INVALID_PARAMETER;
  return ::RegSetValueExW(key, name.c_str(), 0, raw.type, raw.bytes.data(),
                          static_cast<DWORD>(raw.bytes.size()));
}

RegValue FromRaw(const RawValue& raw) {
  RegValue value;
  if (raw.type == REG_SZ) {
    std::wstring text(raw.bytes.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) std::memcpy(text.data(), raw.bytes.data(), text.size() * sizeof(wchar_t));
    text.resize(std::wcslen(text.c_str()));  // up to the terminating NUL
    value.kind = RegValueKind::String;
    value.text = detail::Utf8FromWide(text);
  } else if (raw.type == REG_DWORD && raw.bytes.size() == sizeof(std::uint32_t)) {
    value.kind = RegValueKind::DWord;
    value.dword = std::uint32_t{raw.bytes[0]} | (std::uint32_t{raw.bytes[1]} << 8) |
                  (std::uint32_t{raw.bytes[2]} << 16) | (std::uint32_t{raw.bytes[3]} << 24);
  } else {
    value.kind = RegValueKind::Binary;
    value.hexType = raw.type;
    value.bytes = raw.bytes;
  }
  return value;
}

bool ToRaw(const RegValue& value, RawValue& raw) {
  switch (value.kind) {
    case RegValueKind::String: {
      std::wstring text;
      if (!Widen(value.text, text)) return false;
      text.push_back(L'\0');
      raw.type = REG_SZ;
      raw.bytes.resize(text.size() * sizeof(wchar_t));
      std::memcpy(raw.bytes.data(), text.data(), raw.bytes.size());
      return true;
    }
    case RegValueKind::DWord:
      raw.type = REG_DWORD;
      raw.bytes = {static_cast<std::uint8_t>(value.dword),
                   static_cast<std::uint8_t>(value.dword >> 8),
                   static_cast<std::uint8_t>(value.dword >> 16),
                   static_cast<std::uint8_t>(value.dword >> 24)};
      return true;
    case RegValueKind::Binary:
      raw.type = value.hexType;
      raw.bytes = value.bytes;
      return true;
  }
  return false;
}

LSTATUS SubKeysOf(HKEY key, std::vector<std::wstring>& names) {
  names.clear();
  wchar_t name[kKeyNameBuffer];
  for (DWORD index = 0;; ++index) {
    DWORD length = kKeyNameBuffer;
    const LSTATUS status =
        ::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    names.emplace_back(name, length);
  }
}

LSTATUS ValuesOf(HKEY key, std::vector<std::wstring>& names) {
  names.clear();
  std::vector<wchar_t> name(kValueNameBuffer);
  for (DWORD index = 0;; ++index) {
    DWORD length = kValueNameBuffer;
    const LSTATUS status =
        ::RegEnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    names.emplace_back(name.data(), length);
  }
}

std::string SystemMessage(DWORD code) {
  std::string message = detail::SystemMessage(code);
  return message.empty() ? "error " + std::to_string(code) : message;
}

}  // namespace qmos::reg
