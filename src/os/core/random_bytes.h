// Bytes from the system's cryptographic random source (random GUIDs).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qmos::detail {

// Fills bytes[0..count) ; false when the source fails.
bool SystemRandomBytes(std::uint8_t* bytes, std::size_t count);

}  // namespace qmos::detail
