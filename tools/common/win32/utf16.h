// UTF-8 texts of the tools and the UTF-16 texts of the Windows API (win32 backends
// only). Invalid sequences become U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace qmtools {

std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

}  // namespace qmtools
