// Conversions between this system's 8-bit texts (UTF-8) and the UTF-16 texts of the
// Windows API, for the win32 backends.
#pragma once

#include <string>

namespace qmos::detail {

// Invalid sequences become U+FFFD.
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);

}  // namespace qmos::detail
