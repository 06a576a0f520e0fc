// Winsock is started once per process, on first use rather than when the library is
// loaded (a DLL may not start it while the loader lock is held). It is never cleaned
// up: the process may use sockets until it ends, and the system releases them then.
#pragma once

namespace qmos::detail {

// 0 when Winsock is ready, otherwise the Winsock code of the failure.
int StartWinsock();

}  // namespace qmos::detail
