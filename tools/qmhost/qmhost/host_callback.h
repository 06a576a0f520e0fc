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

  qmos::HRESULT QueryInterface(qmos::REFIID riid, void** ppv) override;
  qmos::ULONG AddRef() override;
  qmos::ULONG Release() override;

  qmos::HRESULT NumMsgs(qmos::LONG, qmos::LONG, qmos::LONG, qmos::LONG, qmos::LONG,
                        qmos::LONG) override;
  qmos::HRESULT SetStatusBarText(qmos::BSTR text) override;
  qmos::HRESULT Alert(qmos::BSTR message) override;
  qmos::HRESULT SetVisibleStatus(qmos::SHORT status) override;
  qmos::HRESULT Publish(qmos::BSTR queue, qmos::BSTR data) override;
  qmos::HRESULT Subscribe(qmos::BSTR queue) override;
  qmos::HRESULT PutData(qmos::BSTR key, qmos::BSTR data) override;
  qmos::HRESULT GetData(qmos::BSTR key, qmos::BSTR* data) override;
  qmos::HRESULT DeleteData(qmos::BSTR key) override;
  qmos::HRESULT MenuEnableDisable(qmos::SHORT menu_id, qmos::SHORT enabled) override;
  qmos::HRESULT MenuCheck(qmos::SHORT menuid, qmos::SHORT checked) override;
  qmos::HRESULT SetInfoAvailable() override;
  qmos::HRESULT ClearInfoAvailable() override;
  qmos::HRESULT ClearAllInfoAvailable() override;

 private:
  PluginHost& host_;
  const PluginIdentity plugin_;
  std::atomic<qmos::ULONG> refs_{1};
};

}  // namespace qmhost
