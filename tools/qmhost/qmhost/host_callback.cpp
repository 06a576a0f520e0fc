#include "qmhost/host_callback.h"

#include "qmhost/plugin_host.h"
#include "qmos/bstr.h"

namespace qmhost {

using namespace qmos;

HRESULT HostCallback::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == quillmere::IID_IQMViewerBase) {
    *ppv = static_cast<quillmere::IQMViewerBase*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG HostCallback::AddRef() { return ++refs_; }

ULONG HostCallback::Release() {
  // Never below one: the host's own reference lasts as long as the process.
  ULONG current = refs_.load();
  while (current > 1 && !refs_.compare_exchange_weak(current, current - 1)) {
  }
  return current > 1 ? current - 1 : 1;
}

HRESULT HostCallback::NumMsgs(LONG, LONG, LONG, LONG, LONG, LONG) {
  return host_.PluginCalledUnsupported(plugin_, "NumMsgs");
}
HRESULT HostCallback::SetStatusBarText(BSTR) {
  return host_.PluginCalledUnsupported(plugin_, "SetStatusBarText");
}
HRESULT HostCallback::Alert(BSTR) { return host_.PluginCalledUnsupported(plugin_, "Alert"); }
HRESULT HostCallback::SetVisibleStatus(SHORT) {
  return host_.PluginCalledUnsupported(plugin_, "SetVisibleStatus");
}
HRESULT HostCallback::MenuEnableDisable(SHORT, SHORT) {
  return host_.PluginCalledUnsupported(plugin_, "MenuEnableDisable");
}
HRESULT HostCallback::MenuCheck(SHORT, SHORT) {
  return host_.PluginCalledUnsupported(plugin_, "MenuCheck");
}
HRESULT HostCallback::SetInfoAvailable() {
  return host_.PluginCalledUnsupported(plugin_, "SetInfoAvailable");
}
HRESULT HostCallback::ClearInfoAvailable() {
  return host_.PluginCalledUnsupported(plugin_, "ClearInfoAvailable");
}
HRESULT HostCallback::ClearAllInfoAvailable() {
  return host_.PluginCalledUnsupported(plugin_, "ClearAllInfoAvailable");
}

HRESULT HostCallback::Publish(BSTR queue, BSTR data) {
  return host_.PluginPublished(plugin_, BstrToUtf8(queue), BstrToUtf8(data));
}

HRESULT HostCallback::Subscribe(BSTR queue) {
  return host_.PluginSubscribed(plugin_, BstrToUtf8(queue));
}

HRESULT HostCallback::PutData(BSTR key, BSTR data) {
  return host_.PluginPutData(plugin_, BstrToUtf8(key), BstrToUtf8(data));
}

HRESULT HostCallback::GetData(BSTR key, BSTR* data) {
  return host_.PluginGetData(plugin_, BstrToUtf8(key), data);
}

HRESULT HostCallback::DeleteData(BSTR key) {
  return host_.PluginDeleteData(plugin_, BstrToUtf8(key));
}

}  // namespace qmhost
