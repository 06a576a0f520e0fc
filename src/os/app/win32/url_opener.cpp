// Opening a URL on Windows: the shell's "open" verb, which hands it to the program the
// user chose for that kind of address.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>

#include "app/url_opener.h"
#include "core/wide_text.h"

namespace qmos::detail {

bool OpenUrlWithSystem(const std::string& url, std::string* error) {
  const std::wstring wide = WideFromUtf8(url);
  // ShellExecuteW answers with a value above 32 when it succeeded, an error code
  // otherwise.
  const auto result = reinterpret_cast<std::intptr_t>(
      ::ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result > 32) return true;
  if (error != nullptr) *error = "the shell could not open it (code " + std::to_string(result) + ")";
  return false;
}

}  // namespace qmos::detail
