// A client callback whose every method succeeds and does nothing: GetData finds no
// setting. Tests and benchmarks derive from it and override what they watch. It is
// not reference counted: its owner keeps it alive for as long as plug-ins use it.
#pragma once

#include "qmos/hresult.h"
#include "quillmere/qm_viewer.h"

namespace testsupport {

class QuietHost : public quillmere::IQMViewerBase {
 public:
  qmos::HRESULT QueryInterface(qmos::REFIID riid, void** ppv) override {
    if (ppv == nullptr) return qmos::E_POINTER;
    if (riid == qmos::IID_IUnknown || riid == quillmere::IID_IQMViewerBase) {
      *ppv = static_cast<quillmere::IQMViewerBase*>(this);
      return qmos::S_OK;
    }
    *ppv = nullptr;
    return qmos::E_NOINTERFACE;
  }
  qmos::ULONG AddRef() override { return 2; }
  qmos::ULONG Release() override { return 1; }

  qmos::HRESULT NumMsgs(qmos::LONG, qmos::LONG, qmos::LONG, qmos::LONG, qmos::LONG,
                        qmos::LONG) override {
    return qmos::S_OK;
  }
  qmos::HRESULT SetStatusBarText(qmos::BSTR) override { return qmos::S_OK; }
  qmos::HRESULT Alert(qmos::BSTR) override { return qmos::S_OK; }
  qmos::HRESULT SetVisibleStatus(qmos::SHORT) override { return qmos::S_OK; }
  qmos::HRESULT Publish(qmos::BSTR, qmos::BSTR) override { return qmos::S_OK; }
  qmos::HRESULT Subscribe(qmos::BSTR) override { return qmos::S_OK; }
  qmos::HRESULT PutData(qmos::BSTR, qmos::BSTR) override { return qmos::S_OK; }
  qmos::HRESULT GetData(qmos::BSTR, qmos::BSTR* data) override {
    if (data == nullptr) return qmos::E_POINTER;
    *data = nullptr;
    return qmos::S_FALSE;
  }
  qmos::HRESULT DeleteData(qmos::BSTR) override { return qmos::S_OK; }
  qmos::HRESULT MenuEnableDisable(qmos::SHORT, qmos::SHORT) override { return qmos::S_OK; }
  qmos::HRESULT MenuCheck(qmos::SHORT, qmos::SHORT) override { return qmos::S_OK; }
  qmos::HRESULT SetInfoAvailable() override { return qmos::S_OK; }
  qmos::HRESULT ClearInfoAvailable() override { return qmos::S_OK; }
  qmos::HRESULT ClearAllInfoAvailable() override { return qmos::S_OK; }
};

}  // namespace testsupport
