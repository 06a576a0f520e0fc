// What the library's one-time initialisation asks for on this platform.
#pragma once

#include <cstdint>

namespace vantiro::tls {

// Options added to OPENSSL_init_ssl's.
std::uint64_t PlatformInitOptions();

}  // namespace vantiro::tls
