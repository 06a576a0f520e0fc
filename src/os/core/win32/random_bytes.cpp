// Random bytes on Windows: the system's preferred generator.
#include "core/random_bytes.h"

#include <windows.h>
#include <bcrypt.h>

namespace qmos::detail {

bool SystemRandomBytes(std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ULONG chunk = count > 0x10000000u ? 0x10000000u : static_cast<ULONG>(count);
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, bytes, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
    bytes += chunk;
    count -= chunk;
  }
  return true;
}

}  // namespace qmos::detail
