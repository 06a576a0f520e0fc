// Globally unique identifiers: the binary form, comparison, the registry text form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces, upper-case hex) and new random ones.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "qmos/hresult.h"

namespace qmos {

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
constexpr bool IsEqualIID(REFIID a, REFIID b) { return IsEqualGUID(a, b); }
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return IsEqualGUID(a, b); }
constexpr bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }

// The identifiers below are plain constexpr (one copy per translation unit), not
// inline variables: GCC emits inline variables as "unique" symbols, and a module
// holding one can never be unloaded, which would keep CoFreeUnusedLibraries from
// freeing server modules.
constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
constexpr IID IID_NULL = GUID_NULL;
constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000,
                                     {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000,
                                          {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000,
                                      {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000,
                                      {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// The automation marshaler registered as proxy/stub of dual and automation interfaces.
constexpr CLSID CLSID_PSOAInterface = {0x00020424, 0x0000, 0x0000,
                                              {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Length of the text form including its braces, without a terminating NUL.
constexpr std::size_t kGuidTextLength = 38;

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with upper-case hex.
std::string GuidToString(REFGUID guid);
std::u16string GuidToU16String(REFGUID guid);
// Parses the text form; hex digits may be of either case, the braces are required and
// nothing may precede or follow. Returns nothing for any other text.
std::optional<GUID> GuidFromString(std::string_view text);
std::optional<GUID> GuidFromString(std::u16string_view text);

// Windows-style entry points over the same forms.
// Writes the text form with its NUL into buffer; returns the characters written
// including the NUL (39), or 0 when the buffer is too small or null.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity);
// S_OK, CO_E_CLASSSTRING for a malformed text, E_INVALIDARG for null pointers.
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
HRESULT IIDFromString(LPCOLESTR text, IID* iid);

// A new random (version 4) GUID from the system's random source.
HRESULT CoCreateGuid(GUID* guid);

}  // namespace qmos

template <>
struct std::hash<qmos::GUID> {
  std::size_t operator()(const qmos::GUID& g) const noexcept {
    std::size_t h = g.Data1;
    h = h * 31 + g.Data2;
    h = h * 31 + g.Data3;
    for (auto b : g.Data4) h = h * 31 + b;
    return h;
  }
};
