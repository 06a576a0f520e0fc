#include "qmos/paths.h"

namespace qmos {

std::string ToWindowsPath(std::string_view path) {
  std::string result(path);
  for (char& c : result) {
    if (c == '/') c = '\\';
  }
  return result;
}

}  // namespace qmos
