// The name of a type library's version key, the same on every platform.
#include <cstdio>

#include "qmos/type_lib.h"

namespace qmos {

std::string TypeLibVersionText(WORD major, WORD minor) {
  char text[16];
  std::snprintf(text, sizeof text, "%x.%x", static_cast<unsigned>(major),
                static_cast<unsigned>(minor));
  return text;
}

}  // namespace qmos
