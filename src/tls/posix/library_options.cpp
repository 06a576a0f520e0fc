// The library is the system's shared one: its exit handler runs at the process's
// end, in a library that is still loaded then.
#include "library_options.h"

namespace vantiro::tls {

std::uint64_t PlatformInitOptions() { return 0; }

}  // namespace vantiro::tls
