// BSTRs from the system's allocator (oleaut32), so that strings pass to and from
// other COM code, which frees them with its own SysFreeString.
#include <limits>

#include "qmos/bstr.h"

#undef SUCCEEDED
#undef FAILED
#include <windows.h>
#include <oleauto.h>

namespace qmos {
namespace {

const WCHAR* Wide(const OLECHAR* text) { return reinterpret_cast<const WCHAR*>(text); }
BSTR Ours(::BSTR bstr) { return reinterpret_cast<BSTR>(bstr); }
::BSTR Theirs(BSTR bstr) { return reinterpret_cast<::BSTR>(bstr); }

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  return Ours(::SysAllocStringLen(Wide(text), length));
}

BSTR SysAllocString(const OLECHAR* text) { return text ? Ours(::SysAllocString(Wide(text))) : nullptr; }

void SysFreeString(BSTR bstr) { ::SysFreeString(Theirs(bstr)); }

UINT SysStringByteLen(BSTR bstr) { return ::SysStringByteLen(Theirs(bstr)); }

UINT SysStringLen(BSTR bstr) { return ::SysStringLen(Theirs(bstr)); }

BSTR BstrFromUtf8(std::string_view utf8) {
  if (utf8.size() > std::numeric_limits<UINT>::max()) return nullptr;
  const std::u16string text = Utf8ToUtf16(utf8);
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

}  // namespace qmos
