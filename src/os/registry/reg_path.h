// Key paths and hive names of the registry: splitting "A\\B\\C" into checked
// components, folding names for case-insensitive matching, and resolving the
// HKEY_CLASSES_ROOT view onto HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qmos/registry.h"

namespace qmos::reg {

// Limits that keep hostile input bounded (they match the Windows registry's).
inline constexpr std::size_t kMaxKeyDepth = 512;        // components below a hive
inline constexpr std::size_t kMaxKeyNameLength = 255;   // bytes per component
inline constexpr std::size_t kMaxValueNameLength = 16383;

using KeyPath = std::vector<std::string>;

// A key resolved onto one of the two stored hives.
struct ResolvedKey {
  RegRoot root = RegRoot::LocalMachine;  // LocalMachine or CurrentUser only
  KeyPath path;
};

// The name folded for comparison: ASCII letters to lower case, other bytes kept.
std::string FoldName(std::string_view name);
bool NamesEqual(std::string_view a, std::string_view b);

// Splits a backslash-separated path; empty components (doubled, leading or
// trailing backslashes) are skipped. Fails with a reason when a component is too
// long, holds a control character that the file format cannot carry (NUL, CR,
// LF), or the path is too deep.
bool SplitKeyPath(std::string_view path, KeyPath& out, std::string& error);
std::string JoinKeyPath(const KeyPath& path);
// The path as keys name it: split and joined again, so that doubled, leading and
// trailing backslashes go (\A\\B\ gives A\B). A path that cannot be split is
// returned as it is; opening it fails anyway.
std::string NormalisedPath(std::string_view path);

// Maps HKEY_CLASSES_ROOT onto HKEY_LOCAL_MACHINE\SOFTWARE\Classes and checks the
// depth again after the mapping.
std::optional<ResolvedKey> ResolveKey(RegRoot root, std::string_view path,
                                      std::string* error = nullptr);

// A value name the file can carry (no NUL, CR or LF; bounded length).
bool ValueNameValid(std::string_view name);

// "HKEY_LOCAL_MACHINE" / "HKLM" etc., case-insensitive.
std::optional<RegRoot> ParseHiveName(std::string_view hive);
const char* HiveName(RegRoot root);

}  // namespace qmos::reg
