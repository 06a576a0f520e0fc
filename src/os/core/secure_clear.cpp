#include "qmos/secure_clear.h"

#include "core/memory_clear.h"

namespace qmos {

void SecureClear(void* data, std::size_t size) {
  if (data == nullptr || size == 0) return;
  detail::ClearMemory(data, size);
}

void SecureClear(std::string& text) {
  // Growing to the capacity reallocates nothing and makes the bytes past the length
  // (left from a longer earlier value) part of what is cleared.
  text.resize(text.capacity());
  SecureClear(text.data(), text.size());
  text.clear();
}

}  // namespace qmos
