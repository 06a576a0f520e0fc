// VARIANT and the argument structures of late-bound calls (IDispatch::Invoke).
// The types supported are those automation callers of this platform pass: empty,
// null, 16- and 32-bit integers, booleans, error codes, BSTRs, interface pointers,
// and VT_BYREF forms of them for out-parameters.
#pragma once

#include "qmos/com.h"

namespace qmos {

enum : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    SHORT iVal;
    LONG lVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SHORT* piVal;
    LONG* plVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    VARIANT* pvarVal;
    void* byref;
    long long reserved_;  // keeps the union at least eight bytes wide
    void* record_[2];     // and two pointers wide, as the record form makes it
  };
};
using VARIANTARG = VARIANT;

// Arguments of a late-bound call. As in COM, rgvarg holds them in reverse order:
// the last argument first.
struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

// What a late-bound call that failed with DISP_E_EXCEPTION reports. The caller frees
// the BSTRs.
struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT(QMOS_COM_CALL* pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

// Invoke flags.
constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;

constexpr LCID LOCALE_USER_DEFAULT = 0x400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x800;

// VariantChangeType flags.
constexpr USHORT VARIANT_NOVALUEPROP = 0x1;
constexpr USHORT VARIANT_ALPHABOOL = 0x2;

void VariantInit(VARIANT* v);
// Frees what the variant owns (BSTR, interface reference; nothing for VT_BYREF) and
// leaves it VT_EMPTY. DISP_E_BADVARTYPE (and the variant untouched) for a type this
// platform does not know.
HRESULT VariantClear(VARIANT* v);
// Clears dest, then makes it a deep copy of src: BSTRs copied by length, interface
// pointers AddRef'd, VT_BYREF pointers copied as they are.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Coerces src to vt (VT_I2, VT_I4, VT_BOOL, VT_BSTR, or src's own type) into dest;
// dest may be src. VT_BYREF sources are read through. Numbers parse from decimal
// text with surrounding blanks; DISP_E_TYPEMISMATCH for what does not convert,
// DISP_E_OVERFLOW for values out of range. dest is untouched on failure.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);

// Small constructors for callers that build argument arrays.
VARIANT VariantFromI2(SHORT value);
VARIANT VariantFromI4(LONG value);
VARIANT VariantFromBool(bool value);
// Takes ownership of the BSTR.
VARIANT VariantFromBstr(BSTR value);
// AddRefs the interface.
VARIANT VariantFromDispatch(IDispatch* value);
VARIANT VariantFromUnknown(IUnknown* value);
VARIANT VariantByRef(VARTYPE vt, void* target);

}  // namespace qmos
