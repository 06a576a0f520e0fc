// The shell's "Open" of a URL, as each platform does it: xdg-open on Linux, the
// shell's "open" verb on Windows. The URL has been checked already (not empty, no
// leading '-', no NUL character).
#pragma once

#include <string>

namespace qmos::detail {

// True when the URL was handed over; otherwise false with the reason in *error (when
// error is not null).
bool OpenUrlWithSystem(const std::string& url, std::string* error);

}  // namespace qmos::detail
