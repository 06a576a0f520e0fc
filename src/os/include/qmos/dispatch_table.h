// Late binding for dual interfaces from a table of members: GetIDsOfNames and Invoke
// are implemented once here and an object describes its methods as
// {name, dispid, parameter kinds, call}.
//
// - Names match without regard to ASCII case; a name not in the table gives
//   DISP_E_UNKNOWNNAME (and DISPID_UNKNOWN in its slot). Parameter names are not
//   offered: every name after the first is unknown.
// - Invoke accepts DISPATCH_METHOD (alone or with DISPATCH_PROPERTYGET, as automation
//   callers pass it); anything else or an unknown dispid gives DISP_E_MEMBERNOTFOUND.
//   Named arguments give DISP_E_NONAMEDARGS, a wrong count DISP_E_BADPARAMCOUNT.
// - In-arguments are coerced to the declared kind (VariantChangeType rules, VT_BYREF
//   read through); what does not fit gives DISP_E_TYPEMISMATCH with *puArgErr set to
//   the argument's index in rgvarg (arguments are stored last first).
// - Out-arguments must be passed by reference (VT_BYREF|VT_BSTR and the like, or
//   VT_BYREF|VT_VARIANT). The method writes into a slot of its own; only when it
//   succeeds is the caller's target replaced (a BSTR it held is freed first).
// - A method's success code is returned as it is (S_FALSE stays S_FALSE). A failure
//   becomes DISP_E_EXCEPTION with EXCEPINFO filled from the thread's error
//   information (scode = the failure; description from the error information, else
//   the code's text). Without an EXCEPINFO the failure is returned unchanged and the
//   error information stays on the thread. C++ exceptions thrown by a method are
//   caught and reported the same way (E_OUTOFMEMORY for bad_alloc, else E_FAIL).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "qmos/variant.h"

namespace qmos {

enum class DispParam {
  InShort,     // SHORT
  InLong,      // LONG
  InBool,      // bool (VARIANT_BOOL on the wire)
  InBstr,      // BSTR, valid during the call, owned by the caller
  InUnknown,   // IUnknown* (VT_UNKNOWN or VT_DISPATCH; empty gives null), borrowed
  InDispatch,  // IDispatch* (VT_DISPATCH, or VT_UNKNOWN that answers IDispatch), borrowed
  OutBstr,     // BSTR*  the method stores a new BSTR the caller will own
  OutShort,    // SHORT*
  OutLong,     // LONG*
};

// The arguments of one call, in declaration order (index 0 is the first parameter).
class DispArgs {
 public:
  std::size_t Count() const { return slots_.size(); }
  SHORT Short(std::size_t i) const { return static_cast<SHORT>(slots_.at(i).number); }
  LONG Long(std::size_t i) const { return slots_.at(i).number; }
  bool Bool(std::size_t i) const { return slots_.at(i).number != 0; }
  BSTR Bstr(std::size_t i) const { return slots_.at(i).bstr; }
  IUnknown* Unknown(std::size_t i) const { return slots_.at(i).unknown; }
  IDispatch* Dispatch(std::size_t i) const { return slots_.at(i).dispatch; }
  BSTR* OutBstr(std::size_t i) { return &slots_.at(i).outBstr; }
  SHORT* OutShort(std::size_t i) { return &slots_.at(i).outShort; }
  LONG* OutLong(std::size_t i) { return &slots_.at(i).outLong; }

  DispArgs() = default;
  DispArgs(const DispArgs&) = delete;
  DispArgs& operator=(const DispArgs&) = delete;
  ~DispArgs();

  // One argument as the table converted it; filled by DispatchTable::Invoke.
  struct Slot {
    DispParam kind = DispParam::InLong;
    LONG number = 0;
    BSTR bstr = nullptr;
    bool ownsBstr = false;  // true when the BSTR was made by coercion
    IUnknown* unknown = nullptr;
    IDispatch* dispatch = nullptr;
    bool ownsDispatch = false;  // true when obtained by QueryInterface
    BSTR outBstr = nullptr;
    SHORT outShort = 0;
    LONG outLong = 0;
  };

 private:
  friend class DispatchTable;
  std::vector<Slot> slots_;
};

struct DispMember {
  std::string name;
  DISPID dispid;
  std::vector<DispParam> params;
  std::function<HRESULT(DispArgs&)> call;
};

class DispatchTable {
 public:
  DispatchTable() = default;
  explicit DispatchTable(std::vector<DispMember> members) : members_(std::move(members)) {}

  const std::vector<DispMember>& Members() const { return members_; }
  const DispMember* Find(DISPID dispid) const;
  const DispMember* Find(std::u16string_view name) const;

  // The two IDispatch methods, with their usual parameters.
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                        DISPID* rgDispId) const;
  HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                 DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                 UINT* puArgErr) const;

 private:
  std::vector<DispMember> members_;
};

}  // namespace qmos
