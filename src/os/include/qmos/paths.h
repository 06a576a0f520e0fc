// Paths given in Windows form (texts from the registry and from settings) turned
// into paths of this system, and back. On Windows they are paths of the system
// already and pass through unchanged. Elsewhere:
//
//   C:\Logs\x.out        -> /Logs/x.out      (backslashes become slashes, the drive goes)
//   C:                   -> /                (the root of the drive)
//   C:x.out              -> x.out            (drive-relative: relative to the working folder)
//   \\server\share\f     -> /server/share/f  (UNC: a folder named after the server)
//   \\?\C:\Logs\f        -> /Logs/f          (the long-path prefix is dropped)
//   /already/posix       -> /already/posix   (unchanged)
// Runs of separators collapse to one; everything else, including names that are
// not valid on Windows, passes through unchanged.
#pragma once

#include <string>
#include <string_view>

namespace qmos {

std::string FromWindowsPath(std::string_view path);

// The path with slashes turned into backslashes (no drive is added): /Logs/x.out
// becomes \Logs\x.out.
std::string ToWindowsPath(std::string_view path);

// folder and name joined by one separator, as a path of this system. folder may be
// in either form; an empty folder gives name alone. (Windows: one backslash, none
// after a bare drive "C:".)
std::string JoinPath(std::string_view folder, std::string_view name);

// The full path of the module (program or shared library) whose code or data is at
// address: a module finds its own file with the address of one of its functions.
// Empty when the loader cannot tell.
std::string ModuleFileOf(const void* address);

}  // namespace qmos
