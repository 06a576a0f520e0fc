// Paths on Linux: a Windows path from the registry becomes a path of this system
// (separators turned into '/', a drive letter dropped).
#include "qmos/paths.h"

namespace qmos {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool StartsWithDrive(std::string_view path) {
  return path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':';
}

}  // namespace

std::string FromWindowsPath(std::string_view path) {
  bool absolute = false;
  // \\?\ and \\.\ prefixes of long and device paths.
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
      (path[2] == '?' || path[2] == '.') && IsSeparator(path[3])) {
    path.remove_prefix(4);
    // \\?\UNC\server\share is the long form of \\server\share.
    if (path.size() >= 4 && (path.substr(0, 3) == "UNC" || path.substr(0, 3) == "unc") &&
        IsSeparator(path[3])) {
      path.remove_prefix(4);
      absolute = true;
    }
  }
  if (StartsWithDrive(path)) {
    path.remove_prefix(2);
    // "C:" alone names the drive: its root.
    if (path.empty()) return "/";
  }
  std::string result;
  result.reserve(path.size() + 1);
  if (absolute) result.push_back('/');
  for (const char c : path) {
    if (IsSeparator(c)) {
      if (!result.empty() && result.back() == '/') continue;
      result.push_back('/');
    } else {
      result.push_back(c);
    }
  }
  return result;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string base = FromWindowsPath(folder);
  std::string tail = FromWindowsPath(name);
  while (!tail.empty() && tail.front() == '/') tail.erase(0, 1);
  if (base.empty()) return tail;
  if (base.back() != '/') base.push_back('/');
  return base + tail;
}

}  // namespace qmos
