// GetIDsOfNames and Invoke driven by a member table.
#include "qmos/dispatch_table.h"

#include <exception>
#include <new>

#include "qmos/bstr.h"
#include "qmos/error_info.h"

namespace qmos {
namespace {

bool SameNameNoCase(std::u16string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i];
    auto y = static_cast<unsigned char>(b[i]);
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool IsOut(DispParam kind) {
  return kind == DispParam::OutBstr || kind == DispParam::OutShort || kind == DispParam::OutLong;
}

// The VARTYPE an out-parameter of this kind takes by reference.
VARTYPE OutType(DispParam kind) {
  switch (kind) {
    case DispParam::OutBstr: return VT_BSTR;
    case DispParam::OutShort: return VT_I2;
    default: return VT_I4;
  }
}

// Checks that arg can receive an out-value of this kind.
bool OutTargetFits(const VARIANT& arg, DispParam kind) {
  if (!(arg.vt & VT_BYREF) || !arg.byref) return false;
  VARTYPE base = arg.vt & VT_TYPEMASK;
  return base == VT_VARIANT || base == OutType(kind);
}

// Converts an in-argument into its slot; DISP_E_TYPEMISMATCH when it does not fit.
HRESULT FillIn(const VARIANT& arg, DispParam kind, DispArgs::Slot& slot);

// Stores an out-value into the caller's target (which OutTargetFits accepted).
void StoreOut(const VARIANT& arg, DispArgs::Slot& slot) {
  VARTYPE base = arg.vt & VT_TYPEMASK;
  if (base == VT_VARIANT) {
    VARIANT* target = arg.pvarVal;
    VariantClear(target);  // a type it cannot clear is overwritten: it owned nothing we know
    VariantInit(target);
    switch (slot.kind) {
      case DispParam::OutBstr:
        target->vt = VT_BSTR;
        target->bstrVal = std::exchange(slot.outBstr, nullptr);
        break;
      case DispParam::OutShort:
        target->vt = VT_I2;
        target->iVal = slot.outShort;
        break;
      default:
        target->vt = VT_I4;
        target->lVal = slot.outLong;
        break;
    }
    return;
  }
  switch (slot.kind) {
    case DispParam::OutBstr:
      SysFreeString(*arg.pbstrVal);
      *arg.pbstrVal = std::exchange(slot.outBstr, nullptr);
      break;
    case DispParam::OutShort: *arg.piVal = slot.outShort; break;
    default: *arg.plVal = slot.outLong; break;
  }
}

HRESULT FillIn(const VARIANT& arg, DispParam kind, DispArgs::Slot& slot) {
  VARIANT converted;
  VariantInit(&converted);
  switch (kind) {
    case DispParam::InShort:
    case DispParam::InLong:
    case DispParam::InBool: {
      VARTYPE vt = kind == DispParam::InShort ? VT_I2 : kind == DispParam::InLong ? VT_I4 : VT_BOOL;
      HRESULT hr = VariantChangeType(&converted, &arg, 0, vt);
      if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
      slot.number = vt == VT_I2 ? converted.iVal : vt == VT_I4 ? converted.lVal : converted.boolVal;
      return S_OK;
    }
    case DispParam::InBstr: {
      if (arg.vt == VT_BSTR) {
        slot.bstr = arg.bstrVal;
        return S_OK;
      }
      if (arg.vt == (VT_BYREF | VT_BSTR) && arg.pbstrVal) {
        slot.bstr = *arg.pbstrVal;
        return S_OK;
      }
      HRESULT hr = VariantChangeType(&converted, &arg, 0, VT_BSTR);
      if (FAILED(hr)) return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
      slot.bstr = converted.bstrVal;  // taken over from converted
      slot.ownsBstr = true;
      return S_OK;
    }
    case DispParam::InUnknown:
    case DispParam::InDispatch: {
      VARIANT view = arg;
      if (arg.vt == (VT_BYREF | VT_UNKNOWN) || arg.vt == (VT_BYREF | VT_DISPATCH)) {
        if (!arg.byref) return DISP_E_TYPEMISMATCH;
        view.vt = arg.vt & VT_TYPEMASK;
        view.punkVal = (view.vt == VT_UNKNOWN) ? *arg.ppunkVal : *arg.ppdispVal;
      } else if (arg.vt == (VT_BYREF | VT_VARIANT)) {
        if (!arg.pvarVal) return DISP_E_TYPEMISMATCH;
        view = *arg.pvarVal;
      }
      IUnknown* unk = nullptr;
      IDispatch* disp = nullptr;
      if (view.vt == VT_EMPTY) {
        // a missing object reads as null
      } else if (view.vt == VT_UNKNOWN) {
        unk = view.punkVal;
      } else if (view.vt == VT_DISPATCH) {
        disp = view.pdispVal;
        unk = disp;
      } else {
        return DISP_E_TYPEMISMATCH;
      }
      slot.unknown = unk;
      if (kind == DispParam::InDispatch) {
        if (disp || !unk) {
          slot.dispatch = disp;
        } else {
          void* out = nullptr;
          if (FAILED(unk->QueryInterface(IID_IDispatch, &out)) || !out) return DISP_E_TYPEMISMATCH;
          slot.dispatch = static_cast<IDispatch*>(out);
          slot.ownsDispatch = true;
        }
      }
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

void FillException(EXCEPINFO* info, HRESULT failure, ErrorInfo error, bool haveError) {
  *info = EXCEPINFO{};
  info->scode = failure;
  info->bstrSource = haveError && !error.source.empty() ? BstrFromUtf8(error.source) : nullptr;
  info->bstrDescription =
      BstrFromUtf8(haveError && !error.description.empty() ? error.description : HResultText(failure));
  info->bstrHelpFile = haveError && !error.helpFile.empty() ? BstrFromUtf8(error.helpFile) : nullptr;
  info->dwHelpContext = haveError ? error.helpContext : 0;
}

}  // namespace

DispArgs::~DispArgs() {
  for (auto& s : slots_) {
    if (s.ownsBstr) SysFreeString(s.bstr);
    if (s.ownsDispatch && s.dispatch) s.dispatch->Release();
    SysFreeString(s.outBstr);  // left only when the call failed or the value was not taken
  }
}

const DispMember* DispatchTable::Find(DISPID dispid) const {
  for (const auto& m : members_)
    if (m.dispid == dispid) return &m;
  return nullptr;
}

const DispMember* DispatchTable::Find(std::u16string_view name) const {
  for (const auto& m : members_)
    if (SameNameNoCase(name, m.name)) return &m;
  return nullptr;
}

HRESULT DispatchTable::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                                     DISPID* rgDispId) const {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (cNames == 0) return S_OK;
  if (!rgszNames || !rgDispId) return E_INVALIDARG;
  HRESULT hr = S_OK;
  const DispMember* member = nullptr;
  if (rgszNames[0]) {
    std::u16string_view name(rgszNames[0]);
    member = Find(name);
  }
  rgDispId[0] = member ? member->dispid : DISPID_UNKNOWN;
  if (!member) hr = DISP_E_UNKNOWNNAME;
  for (UINT i = 1; i < cNames; ++i) {
    rgDispId[i] = DISPID_UNKNOWN;
    hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT DispatchTable::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                              DISPPARAMS* pDispParams, VARIANT* pVarResult,
                              EXCEPINFO* pExcepInfo, UINT* puArgErr) const {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const DispMember* member = Find(dispIdMember);
  if (!member || !(wFlags & DISPATCH_METHOD) ||
      (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)))
    return DISP_E_MEMBERNOTFOUND;
  if (!pDispParams) return E_INVALIDARG;
  if (pDispParams->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  const UINT count = pDispParams->cArgs;
  if (count != member->params.size()) return DISP_E_BADPARAMCOUNT;
  if (count > 0 && !pDispParams->rgvarg) return E_INVALIDARG;

  DispArgs args;
  args.slots_.resize(count);
  for (UINT i = 0; i < count; ++i) {
    const UINT position = count - 1 - i;  // arguments are stored last first
    const VARIANT& arg = pDispParams->rgvarg[position];
    DispArgs::Slot& slot = args.slots_[i];
    slot.kind = member->params[i];
    HRESULT hr = IsOut(slot.kind) ? (OutTargetFits(arg, slot.kind) ? S_OK : DISP_E_TYPEMISMATCH)
                                  : FillIn(arg, slot.kind, slot);
    if (FAILED(hr)) {
      if (puArgErr && hr == DISP_E_TYPEMISMATCH) *puArgErr = position;
      return hr;
    }
  }

  if (pVarResult) VariantInit(pVarResult);
  ClearErrorInfo();
  HRESULT result;
  try {
    result = member->call ? member->call(args) : E_NOTIMPL;
  } catch (const std::bad_alloc&) {
    result = E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    result = ReportError(E_FAIL, IID_NULL, "", e.what());
  } catch (...) {
    result = E_FAIL;
  }

  if (FAILED(result)) {
    if (!pExcepInfo) return result;
    ErrorInfo error;
    bool haveError = GetErrorInfo(error) == S_OK;
    FillException(pExcepInfo, result, std::move(error), haveError);
    return DISP_E_EXCEPTION;
  }

  for (UINT i = 0; i < count; ++i) {
    DispArgs::Slot& slot = args.slots_[i];
    if (IsOut(slot.kind)) StoreOut(pDispParams->rgvarg[count - 1 - i], slot);
  }
  return result;
}

}  // namespace qmos
