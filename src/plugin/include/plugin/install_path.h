// Where the client is installed: files that belong beside it (the preferences cache,
// the module file whose version PlugInInfo reports) are named from the registry
// value "InstallDir" under HKEY_LOCAL_MACHINE\SOFTWARE\Quillmere\Viewer\Settings.
#pragma once

#include <string>
#include <string_view>

namespace vantiro {

constexpr const char* kSettingsKey = "SOFTWARE\\Quillmere\\Viewer\\Settings";

// "InstallDir", a backslash and fileName, in Windows form. A missing value (or a key
// that can be neither opened nor created) reads as the empty folder, giving
// "\fileName"; a value of another type than text gives fileName alone.
std::string InstallPath(std::string_view fileName);

}  // namespace vantiro
