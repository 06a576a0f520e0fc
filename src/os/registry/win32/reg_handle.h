// Helpers that the Windows registry backend shares between its files: keys opened
// by hive and path, values as the system keeps them (a REG_ type and its bytes)
// and as the interface hands them out (RegValue), enumeration, error texts.
#pragma once

#include "qmos/registry.h"

#include <windows.h>
// <windows.h> names RegDeleteKeyA/W RegDeleteKey; libqmos defines qmos::RegDeleteKey.
#undef RegDeleteKey

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qmos::reg {

// An open key, closed when it goes.
class KeyHandle {
 public:
  KeyHandle() = default;
  ~KeyHandle() { Close(); }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;

  HKEY Get() const { return key_; }
  HKEY* Receive() {  // for the calls that hand out a new key
    Close();
    return &key_;
  }
  void Close();

 private:
  HKEY key_ = nullptr;
};

// The UTF-16 form of a UTF-8 name or text. False for bytes that are not UTF-8:
// they would otherwise stand for some other name, with U+FFFD in their place.
bool Widen(std::string_view text, std::wstring& wide);

// Opens root\path with the access asked for; with create, creates the key and its
// missing parents. The path is checked and normalised as on every platform
// (SplitKeyPath): a path that cannot name a key reads as ERROR_FILE_NOT_FOUND.
// HKEY_CLASSES_ROOT is the system's own view of the classes.
LSTATUS OpenKey(RegRoot root, std::string_view path, REGSAM access, bool create,
                KeyHandle& out);

// Deletes root\path with all its subkeys and values. ERROR_FILE_NOT_FOUND when it
// does not exist; a hive itself cannot be deleted (ERROR_ACCESS_DENIED).
LSTATUS DeleteKeyTree(RegRoot root, std::string_view path);

// A value as the system keeps it.
struct RawValue {
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> bytes;
};

LSTATUS QueryRaw(HKEY key, const std::wstring& name, RawValue& out);
LSTATUS SetRaw(HKEY key, const std::wstring& name, const RawValue& raw);

// REG_SZ as UTF-8 text up to its terminating NUL, REG_DWORD of four bytes as a
// DWord, anything else as Binary with hexType set to the REG_ type, bytes as kept.
RegValue FromRaw(const RawValue& raw);
// The other way: REG_SZ with its terminating NUL, REG_DWORD, or the Binary value's
// type and bytes. False for a text that is not UTF-8.
bool ToRaw(const RegValue& value, RawValue& raw);

// Names of the subkeys and values of an open key, in the system's order.
LSTATUS SubKeysOf(HKEY key, std::vector<std::wstring>& names);
LSTATUS ValuesOf(HKEY key, std::vector<std::wstring>& names);

// The system's text for an error code, in UTF-8, without the closing full stop.
std::string SystemMessage(DWORD code);

}  // namespace qmos::reg
