// Small constructors of VARIANTs, the same on every platform.
#include "qmos/variant.h"

namespace qmos {

namespace {

// An empty variant of type vt, for the caller to give its value.
VARIANT OfType(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}

}  // namespace

VARIANT VariantFromI2(SHORT value) {
  VARIANT v = OfType(VT_I2);
  v.iVal = value;
  return v;
}

VARIANT VariantFromI4(LONG value) {
  VARIANT v = OfType(VT_I4);
  v.lVal = value;
  return v;
}

VARIANT VariantFromBool(bool value) {
  VARIANT v = OfType(VT_BOOL);
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

VARIANT VariantFromBstr(BSTR value) {
  VARIANT v = OfType(VT_BSTR);
  v.bstrVal = value;
  return v;
}

VARIANT VariantFromDispatch(IDispatch* value) {
  VARIANT v = OfType(VT_DISPATCH);
  v.pdispVal = value;
  if (value) value->AddRef();
  return v;
}

VARIANT VariantFromUnknown(IUnknown* value) {
  VARIANT v = OfType(VT_UNKNOWN);
  v.punkVal = value;
  if (value) value->AddRef();
  return v;
}

VARIANT VariantByRef(VARTYPE vt, void* target) {
  VARIANT v;
  VariantInit(&v);
  v.vt = static_cast<VARTYPE>(vt | VT_BYREF);
  v.byref = target;
  return v;
}

}  // namespace qmos
