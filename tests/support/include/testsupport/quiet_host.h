// A client callback whose every method succeeds and does nothing: GetData finds no
// setting. Tests and benchmarks derive from it and override what they watch. It is
// not reference counted: its owner keeps it alive for as long as plug-ins use it.
#pragma once

#include "qmos/hresult.h"
#include "quillmere/qm_viewer.h"

namespace testsupport {

class QuietHost : public quillmere::IQMViewerBase {
 public:
  qmos::HRESULT QMOS_COM_CALL QueryInterface(qmos::REFIID riid, void** ppv) override {
    if (ppv == nullptr) return qmos::E_POINTER;
    if (riid == qmos::IID_IUnknown || riid == quillmere::IID_IQMViewerBase) {
      *ppv = static_cast<quillmere::IQMViewerBase*>(this);
      return qmos::S_OK;
    }
    *ppv = nullptr;
    return qmos::E_NOINTERFACE;
  }
  qmos::ULONG QMOS_COM_CALL AddRef() override { return 2; }
  qmos::ULONG QMOS_COM_CALL Release() override { return 1; }

  qmos::HRESULT QMOS_COM_CALL NumMsgs(qmos::LONG, qmos::LONG, qmos::LONG, qmos::LONG, qmos::LONG,
                        qmos::LONG) override {
    return qmos::S_OK;
  }
  qmos::HRESULT QMOS_COM_CALL SetStatusBarText(qmos::BSTR) override { return qmos::S_OK; }
  qmos::HRESULT QMOS_COM_CALL Alert(qmos::BSTR) override { return qmos::S_OK; }
  qmos::HRESULT QMOS_COM_CALL SetVisibleStatus(qmos::SHORT) override { return qmos::S_OK; }
  qmos::HRESULT QMOS_COM_CALL Publish(qmos::BSTR, qmos::BSTR) override { return qmos::S_OK; }
  qmos::HRESULT QMOS_COM_CALL Subscribe(qmos::BSTR) override { return qmos::S_OK; }
  qmos::HRESULT QMOS_COM_CALL PutData(qmos::BSTR, qmos::BSTR) override { return qmos::S_OK; }
  qmos::HRESULT QMOS_COM_CALL GetData(qmos::BSTR, qmos::BSTR* data) override {
    if (data == nullptr) return qmos::E_POINTER;
    *data = nullptr;
    return qmos::S_FALSE;
  }
  qmos::HRESULT QMOS_COM_CALL DeleteData(qmos::BSTR) override { return qmos::S_OK; }
  qmos::HRESULT QMOS_COM_CALL MenuEnableDisable(qmos::SHORT, qmos::SHORT) override { return qmos::S_OK; }
  qmos::HRESULT QMOS_COM_CALL MenuCheck(qmos::SHORT, qmos::SHORT) override { return qmos::S_OK; }
  qmos::HRESULT QMOS_COM_CALL SetInfoAvailable() override { return qmos::S_OK; }
  qmos::HRESULT QMOS_COM_CALL ClearInfoAvailable() override { return qmos::S_OK; }
  qmos::HRESULT QMOS_COM_CALL ClearAllInfoAvailable() override { return qmos::S_OK; }
};

}  // namespace testsupport
