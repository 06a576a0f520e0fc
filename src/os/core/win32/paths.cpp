// Paths on Windows: a Windows path from the registry is already a path of this
// system and stays as it is; joining puts one backslash between folder and name.
#include "qmos/paths.h"

namespace qmos {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::string FromWindowsPath(std::string_view path) { return std::string(path); }

std::string JoinPath(std::string_view folder, std::string_view name) {
  while (!name.empty() && IsSeparator(name.front())) name.remove_prefix(1);
  std::string joined(folder);
  if (joined.empty()) return std::string(name);
  // "C:" names the drive's current folder: "C:name" stays relative to it.
  const bool driveOnly = joined.size() == 2 && joined[1] == ':';
  if (!IsSeparator(joined.back()) && !driveOnly) joined.push_back('\\');
  return joined + std::string(name);
}

}  // namespace qmos
