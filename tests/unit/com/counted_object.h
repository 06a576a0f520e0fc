// A stack-held IDispatch that only counts its references, for checking that
// variants and calls AddRef and Release in pairs.
#pragma once

#include "qmos/variant.h"

namespace com_test {

class CountedObject : public qmos::IDispatch {
 public:
  qmos::HRESULT QMOS_COM_CALL QueryInterface(qmos::REFIID riid, void** ppv) override {
    if (riid == qmos::IID_IUnknown || riid == qmos::IID_IDispatch) {
      *ppv = static_cast<qmos::IDispatch*>(this);
      AddRef();
      return qmos::S_OK;
    }
    *ppv = nullptr;
    return qmos::E_NOINTERFACE;
  }
  qmos::ULONG QMOS_COM_CALL AddRef() override { return ++refs; }
  qmos::ULONG QMOS_COM_CALL Release() override { return --refs; }
  qmos::HRESULT QMOS_COM_CALL GetTypeInfoCount(qmos::UINT* n) override {
    *n = 0;
    return qmos::S_OK;
  }
  qmos::HRESULT QMOS_COM_CALL GetTypeInfo(qmos::UINT, qmos::LCID, qmos::ITypeInfo**) override {
    return qmos::E_NOTIMPL;
  }
  qmos::HRESULT QMOS_COM_CALL GetIDsOfNames(qmos::REFIID, qmos::LPOLESTR*, qmos::UINT, qmos::LCID,
                              qmos::DISPID*) override {
    return qmos::E_NOTIMPL;
  }
  qmos::HRESULT QMOS_COM_CALL Invoke(qmos::DISPID, qmos::REFIID, qmos::LCID, qmos::WORD, qmos::DISPPARAMS*,
                       qmos::VARIANT*, qmos::EXCEPINFO*, qmos::UINT*) override {
    return qmos::E_NOTIMPL;
  }

  qmos::ULONG refs = 1;
};

}  // namespace com_test
