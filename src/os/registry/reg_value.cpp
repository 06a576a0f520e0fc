#include "registry/reg_value.h"

#include <string_view>

namespace qmos::reg {

bool SameValue(const RegValue& a, const RegValue& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case RegValueKind::String: return a.text == b.text;
    case RegValueKind::DWord: return a.dword == b.dword;
    case RegValueKind::Binary: return a.hexType == b.hexType && a.bytes == b.bytes;
  }
  return false;
}

bool StorableValue(const RegValue& value) {
  return value.kind != RegValueKind::String ||
         value.text.find_first_of(std::string_view("\0\r\n", 3)) == std::string::npos;
}

}  // namespace qmos::reg
