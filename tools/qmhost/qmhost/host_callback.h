// The callback object one plug-in receives in Initialize: the client's side of the
// contract. Each plug-in gets its own, so the host knows whose settings a call
// means. It may be called on any thread. The host keeps it for the whole process
// (a plug-in's thread may outlive the session), so AddRef and Release only count.
#pragma once

#include <atomic>
#include <string>

#include "quillmere/qm_viewer.h"

namespace qmhost {

class PluginHost;

// Who is calling: the plug-in's index in the host's list and its class identifier.
// Fixed when the callback is made, so that any thread may read it.
struct PluginIdentity {
  int index = -1;
  std::string clsid;
};

class HostCallback final : public quillmere::IQMViewerBase {
 public:
  HostCallback(PluginHost& host, PluginIdentity plugin)
      : host_(host), plugin_(std::move(plugin)) {}
  virtual ~HostCallback() = default;

  qmos::HRESULT QMOS_COM_CALL QueryInterface(qmos::REFIID riid, void** ppv) override;
  qmos::ULONG QMOS_COM_CALL AddRef() override;
  qmos::ULONG QMOS_COM_CALL Release() override;

  qmos::HRESULT QMOS_COM_CALL NumMsgs(qmos::LONG, qmos::LONG, qmos::LONG, qmos::LONG, qmos::LONG,
                        qmos::LONG) override;
  qmos::HRESULT QMOS_COM_CALL SetStatusBarText(qmos::BSTR text) override;
  qmos::HRESULT QMOS_COM_CALL Alert(qmos::BSTR message) override;
  qmos::HRESULT QMOS_COM_CALL SetVisibleStatus(qmos::SHORT status) override;
  qmos::HRESULT QMOS_COM_CALL Publish(qmos::BSTR queue, qmos::BSTR data) override;
  qmos::HRESULT QMOS_COM_CALL Subscribe(qmos::BSTR queue) override;
  qmos::HRESULT QMOS_COM_CALL PutData(qmos::BSTR key, qmos::BSTR data) override;
  qmos::HRESULT QMOS_COM_CALL GetData(qmos::BSTR key, qmos::BSTR* data) override;
  qmos::HRESULT QMOS_COM_CALL DeleteData(qmos::BSTR key) override;
  qmos::HRESULT QMOS_COM_CALL MenuEnableDisable(qmos::SHORT menu_id, qmos::SHORT enabled) override;
  qmos::HRESULT QMOS_COM_CALL MenuCheck(qmos::SHORT menuid, qmos::SHORT checked) override;
  qmos::HRESULT QMOS_COM_CALL SetInfoAvailable() override;
  qmos::HRESULT QMOS_COM_CALL ClearInfoAvailable() override;
  qmos::HRESULT QMOS_COM_CALL ClearAllInfoAvailable() override;

 private:
  PluginHost& host_;
  const PluginIdentity plugin_;
  std::atomic<qmos::ULONG> refs_{1};
};

}  // namespace qmhost
