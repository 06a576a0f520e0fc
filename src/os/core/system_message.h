// The system's message for an error code of the Windows API (GetLastError,
// Winsock, registry results), for the win32 backends.
#pragma once

#include <string>

namespace qmos::detail {

// The message table's text for code, without the line break and the full stop that
// end every entry; empty when the system has no text for it.
std::string SystemMessage(unsigned long code);

}  // namespace qmos::detail
