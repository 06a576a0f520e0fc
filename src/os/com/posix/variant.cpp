// VARIANT life cycle and coercion, for the types this platform's callers pass.
#include "qmos/variant.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

#include "qmos/bstr.h"

namespace qmos {
namespace {

bool KnownBaseType(VARTYPE t) {
  switch (t) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_BSTR: case VT_DISPATCH:
    case VT_ERROR: case VT_BOOL: case VT_UNKNOWN:
      return true;
    default:
      return false;
  }
}

bool KnownType(VARTYPE vt) {
  if (vt & VT_BYREF) {
    VARTYPE base = vt & VT_TYPEMASK;
    if ((vt & ~(VT_BYREF | VT_TYPEMASK)) != 0) return false;
    return base == VT_VARIANT || (KnownBaseType(base) && base != VT_EMPTY && base != VT_NULL);
  }
  return KnownBaseType(vt);
}

// Reads through VT_BYREF (one level, and one more for a by-reference VARIANT) into a
// plain value view. The view does not own anything.
bool Deref(const VARIANT* src, VARIANT& view, int depth = 0) {
  if (!(src->vt & VT_BYREF)) {
    view = *src;
    return true;
  }
  if (!src->byref || depth > 1) return false;
  VARTYPE base = src->vt & VT_TYPEMASK;
  VariantInit(&view);
  switch (base) {
    case VT_VARIANT:
      if (src->pvarVal->vt & VT_BYREF) return Deref(src->pvarVal, view, depth + 1);
      view = *src->pvarVal;
      return true;
    case VT_I2: view.vt = VT_I2; view.iVal = *src->piVal; return true;
    case VT_I4: view.vt = VT_I4; view.lVal = *src->plVal; return true;
    case VT_BOOL: view.vt = VT_BOOL; view.boolVal = *src->pboolVal; return true;
    case VT_ERROR: view.vt = VT_ERROR; view.scode = *src->pscode; return true;
    case VT_BSTR: view.vt = VT_BSTR; view.bstrVal = *src->pbstrVal; return true;
    case VT_UNKNOWN: view.vt = VT_UNKNOWN; view.punkVal = *src->ppunkVal; return true;
    case VT_DISPATCH: view.vt = VT_DISPATCH; view.pdispVal = *src->ppdispVal; return true;
    default: return false;
  }
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::u16string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t c = a[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != static_cast<unsigned char>(b[i])) return false;
  }
  return true;
}

// Text to a 64-bit integer: optional sign, decimal digits, surrounding blanks.
HRESULT ParseInteger(BSTR text, long long& value) {
  std::u16string_view s = Trim(BstrView(text));
  if (s.empty()) return DISP_E_TYPEMISMATCH;
  std::string ascii;
  for (char16_t c : s) {
    if (c > 0x7F) return DISP_E_TYPEMISMATCH;
    ascii.push_back(static_cast<char>(c));
  }
  const char* first = ascii.data();
  const char* last = first + ascii.size();
  if (*first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
  if (ec != std::errc() || ptr != last) return DISP_E_TYPEMISMATCH;
  return S_OK;
}

// The numeric value of a plain (dereferenced) variant.
HRESULT ToInteger(const VARIANT& v, long long& value) {
  switch (v.vt) {
    case VT_EMPTY: value = 0; return S_OK;
    case VT_I2: value = v.iVal; return S_OK;
    case VT_I4: value = v.lVal; return S_OK;
    case VT_BOOL: value = v.boolVal ? -1 : 0; return S_OK;
    case VT_BSTR: {
      HRESULT hr = ParseInteger(v.bstrVal, value);
      if (hr == DISP_E_TYPEMISMATCH) {
        std::u16string_view s = Trim(BstrView(v.bstrVal));
        if (EqualsNoCase(s, "true")) { value = -1; return S_OK; }
        if (EqualsNoCase(s, "false")) { value = 0; return S_OK; }
      }
      return hr;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
}

}  // namespace

void VariantInit(VARIANT* v) {
  if (!v) return;
  v->vt = VT_EMPTY;
  v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
  v->reserved_ = 0;
  v->record_[0] = v->record_[1] = nullptr;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  if (!KnownType(v->vt)) return DISP_E_BADVARTYPE;
  switch (v->vt) {
    case VT_BSTR: SysFreeString(v->bstrVal); break;
    case VT_UNKNOWN: if (v->punkVal) v->punkVal->Release(); break;
    case VT_DISPATCH: if (v->pdispVal) v->pdispVal->Release(); break;
    default: break;
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (dest == src) return S_OK;
  if (!KnownType(src->vt)) return DISP_E_BADVARTYPE;
  VARIANT copy = *src;
  if (src->vt == VT_BSTR && src->bstrVal) {
    copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  }
  HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) {
    if (copy.vt == VT_BSTR) SysFreeString(copy.bstrVal);
    return hr;
  }
  if (copy.vt == VT_UNKNOWN && copy.punkVal) copy.punkVal->AddRef();
  if (copy.vt == VT_DISPATCH && copy.pdispVal) copy.pdispVal->AddRef();
  *dest = copy;
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) {
  if (!dest || !src) return E_INVALIDARG;
  if (!KnownType(src->vt)) return DISP_E_BADVARTYPE;
  VARIANT v;
  if (!Deref(src, v)) return DISP_E_TYPEMISMATCH;
  VARIANT result;
  VariantInit(&result);
  if (vt == v.vt && !(src->vt & VT_BYREF)) return dest == src ? S_OK : VariantCopy(dest, src);
  switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_BOOL: {
      long long n = 0;
      HRESULT hr = ToInteger(v, n);
      if (FAILED(hr)) return hr;
      if (vt == VT_I2) {
        if (n < std::numeric_limits<SHORT>::min() || n > std::numeric_limits<SHORT>::max())
          return DISP_E_OVERFLOW;
        result.vt = VT_I2;
        result.iVal = static_cast<SHORT>(n);
      } else if (vt == VT_I4) {
        if (n < std::numeric_limits<LONG>::min() || n > std::numeric_limits<LONG>::max())
          return DISP_E_OVERFLOW;
        result.vt = VT_I4;
        result.lVal = static_cast<LONG>(n);
      } else {
        result.vt = VT_BOOL;
        result.boolVal = n ? VARIANT_TRUE : VARIANT_FALSE;
      }
      break;
    }
    case VT_BSTR: {
      std::string text;
      switch (v.vt) {
        case VT_EMPTY: break;
        case VT_I2: text = std::to_string(v.iVal); break;
        case VT_I4: text = std::to_string(v.lVal); break;
        case VT_BOOL:
          if (flags & VARIANT_ALPHABOOL)
            text = v.boolVal ? "True" : "False";
          else
            text = v.boolVal ? "-1" : "0";
          break;
        case VT_BSTR:
          result.vt = VT_BSTR;
          result.bstrVal = v.bstrVal ? SysAllocStringLen(v.bstrVal, SysStringLen(v.bstrVal))
                                     : nullptr;
          if (v.bstrVal && !result.bstrVal) return E_OUTOFMEMORY;
          break;
        default: return DISP_E_TYPEMISMATCH;
      }
      if (v.vt != VT_BSTR) {
        result.vt = VT_BSTR;
        result.bstrVal = BstrFromUtf8(text);
        if (!result.bstrVal) return E_OUTOFMEMORY;
      }
      break;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if (v.vt != VT_UNKNOWN && v.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
      {
        IUnknown* unk = v.vt == VT_UNKNOWN ? v.punkVal : v.pdispVal;
        if (!unk) {
          result.vt = vt;
          result.punkVal = nullptr;
          break;
        }
        void* out = nullptr;
        HRESULT hr = unk->QueryInterface(vt == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch, &out);
        if (FAILED(hr) || !out) return DISP_E_TYPEMISMATCH;
        result.vt = vt;
        if (vt == VT_UNKNOWN)
          result.punkVal = static_cast<IUnknown*>(out);
        else
          result.pdispVal = static_cast<IDispatch*>(out);
      }
      break;
    case VT_EMPTY:
      break;
    default:
      return vt == VT_NULL ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
  }
  // dest may be src: everything needed from src has been read.
  HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *dest = result;
  return S_OK;
}

}  // namespace qmos
