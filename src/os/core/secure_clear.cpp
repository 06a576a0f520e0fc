#include "qmos/secure_clear.h"

#include <cstring>

namespace qmos {

void SecureClear(void* data, std::size_t size) {
  if (data == nullptr || size == 0) return;
  // explicit_bzero is never optimised away, even when the memory is freed next.
  ::explicit_bzero(data, size);
}

void SecureClear(std::string& text) {
  // Growing to the capacity reallocates nothing and makes the bytes past the length
  // (left from a longer earlier value) part of what is cleared.
  text.resize(text.capacity());
  SecureClear(text.data(), text.size());
  text.clear();
}

}  // namespace qmos
