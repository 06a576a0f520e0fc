// Clearing secrets (passwords) from memory once they are no longer needed, in a way
// the compiler may not leave out as a dead store.
#pragma once

#include <cstddef>
#include <string>

namespace qmos {

// Overwrites size bytes at data with zeros.
void SecureClear(void* data, std::size_t size);
// Overwrites the string's whole buffer (its capacity, not only its length) with
// zeros and leaves the string empty. The buffer is kept, so nothing is freed
// uncleared.
void SecureClear(std::string& text);

// Clears text (SecureClear) when the scope it was made in ends, however it ends.
class ClearOnExit {
 public:
  explicit ClearOnExit(std::string& text) : text_(text) {}
  ~ClearOnExit() { SecureClear(text_); }
  ClearOnExit(const ClearOnExit&) = delete;
  ClearOnExit& operator=(const ClearOnExit&) = delete;

 private:
  std::string& text_;
};

}  // namespace qmos
