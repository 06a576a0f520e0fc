// Clearing a secret (a password, or a request that carried one) from memory once it
// has served: OpenSSL's cleanse, which the compiler may not drop as a dead store.
// Copies made earlier by the string's own growth are beyond reach; callers clear the
// strings they hold at the points where a copy is no longer needed.
#pragma once

#include <openssl/crypto.h>

#include <string>

namespace vantiro {

// Overwrites text's characters and leaves it empty.
inline void ClearSecret(std::string& text) {
  if (!text.empty()) OPENSSL_cleanse(text.data(), text.size());
  text.clear();
}

// Clears the string it watches when the scope ends, however it ends.
class SecretScope {
 public:
  explicit SecretScope(std::string& text) : text_(text) {}
  ~SecretScope() { ClearSecret(text_); }
  SecretScope(const SecretScope&) = delete;
  SecretScope& operator=(const SecretScope&) = delete;

 private:
  std::string& text_;
};

}  // namespace vantiro
