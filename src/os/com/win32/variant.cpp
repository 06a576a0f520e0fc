// VARIANTs through the system's own functions (oleaut32): every type the system
// knows is cleared, copied and coerced as other COM code expects.
#include "qmos/variant.h"

#undef SUCCEEDED
#undef FAILED
#include <windows.h>
#include <oleauto.h>

#include <cstddef>

namespace qmos {

// The structures pass to the system as they are: same sizes, same field places.
static_assert(sizeof(VARIANT) == sizeof(::VARIANT) && alignof(VARIANT) == alignof(::VARIANT));
static_assert(offsetof(VARIANT, bstrVal) == offsetof(::VARIANT, bstrVal));
static_assert(sizeof(DISPPARAMS) == sizeof(::DISPPARAMS));
static_assert(offsetof(DISPPARAMS, cNamedArgs) == offsetof(::DISPPARAMS, cNamedArgs));
static_assert(sizeof(EXCEPINFO) == sizeof(::EXCEPINFO));
static_assert(offsetof(EXCEPINFO, scode) == offsetof(::EXCEPINFO, scode));
static_assert(sizeof(GUID) == sizeof(::GUID));

namespace {

::VARIANT* Theirs(VARIANT* v) { return reinterpret_cast<::VARIANT*>(v); }

}  // namespace

void VariantInit(VARIANT* v) {
  if (v) ::VariantInit(Theirs(v));
}

HRESULT VariantClear(VARIANT* v) { return v ? ::VariantClear(Theirs(v)) : E_INVALIDARG; }

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  return ::VariantCopy(Theirs(dest), Theirs(const_cast<VARIANT*>(src)));
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) {
  if (!dest || !src) return E_INVALIDARG;
  return ::VariantChangeType(Theirs(dest), Theirs(const_cast<VARIANT*>(src)), flags, vt);
}

}  // namespace qmos
