// The TCP port of a service lookup answer ("tcp_port"): a decimal number read up to
// its first non-digit (after optional blanks and one sign, as C's atoi reads it) and
// cut to its low 16 bits, so "7001" is 7001, "x" is 0 and 65537 is 1.
#pragma once

#include <cstdint>
#include <string_view>

namespace vantiro {

std::uint16_t PortFromText(std::string_view text);

}  // namespace vantiro
