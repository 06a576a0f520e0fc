// Random bytes on Linux: getrandom, which blocks only until the pool is first seeded.
#include "core/random_bytes.h"

#include <sys/random.h>

#include <cerrno>

namespace qmos::detail {

bool SystemRandomBytes(std::uint8_t* bytes, std::size_t count) {
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n = ::getrandom(bytes + got, count - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    got += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace qmos::detail
