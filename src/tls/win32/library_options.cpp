// The library is linked into the plug-in's DLL, which COM unloads while the process
// goes on. An exit handler of the library's would be called at the process's end in
// a module no longer there: none is registered, and the module releases the library
// itself as it unloads (ReleaseLibrary).
#include <openssl/crypto.h>

#include "library_options.h"

namespace vantiro::tls {

std::uint64_t PlatformInitOptions() { return OPENSSL_INIT_NO_ATEXIT; }

}  // namespace vantiro::tls
