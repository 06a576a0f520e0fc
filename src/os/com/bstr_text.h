// What the platforms' BSTR allocation shares of the text conversion.
#pragma once

#include <cstddef>
#include <string_view>

namespace qmos::com_detail {

// Writes the UTF-16 form of in at out, which has room for in.size() units (no byte
// gives more than one unit: a four-byte sequence gives two); returns the units
// written. Invalid UTF-8 becomes U+FFFD.
std::size_t PutUtf16(std::string_view in, char16_t* out);

}  // namespace qmos::com_detail
