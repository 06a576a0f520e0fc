#include "plugin/port_text.h"

namespace vantiro {

std::uint16_t PortFromText(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Arithmetic modulo 2^16 gives the low 16 bits of the number however long it is.
  std::uint16_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = static_cast<std::uint16_t>(value * 10u + static_cast<unsigned>(text[i] - '0'));
  return negative ? static_cast<std::uint16_t>(0u - value) : value;
}

}  // namespace vantiro
