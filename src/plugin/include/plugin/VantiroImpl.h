// TVantiroImpl: the plug-in object the client creates through COM. It implements
// IVantiro (the coclass's default interface), IQMViewerPlugin (lifecycle,
// information and the client's queue messages) and IQMViewerMenu (the connection
// menu); both host interfaces are dual, so a late-bound caller reaches every method
// through IDispatch. Every call arrives on the client's thread, one at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "plugin/VantiroPlugin_TLB.h"
#include "qmos/com_ptr.h"
#include "qmos/dispatch_table.h"
#include "qmos/thread.h"
#include "qmos/type_lib.h"
#include "quillmere/qm_viewer.h"

namespace vantiro {

// The IDispatch part of one dual interface. Where modules carry their type library
// (Windows), the interface's type information comes from it: GetTypeInfo hands it
// out and names are looked up in it. Calls go through the interface's own table
// (the two dual interfaces number their members independently), which checks every
// argument, the callback's interface included, before a method sees it.
template <class Interface>
class DualDispatch : public Interface {
 public:
  qmos::HRESULT QMOS_COM_CALL GetTypeInfoCount(qmos::UINT* pctinfo) override {
    if (pctinfo == nullptr) return qmos::E_POINTER;
    *pctinfo = typeInfo_ ? 1 : 0;
    return qmos::S_OK;
  }
  qmos::HRESULT QMOS_COM_CALL GetTypeInfo(qmos::UINT index, qmos::LCID,
                                          qmos::ITypeInfo** ppTInfo) override {
    if (ppTInfo == nullptr) return qmos::E_POINTER;
    *ppTInfo = nullptr;
    if (!typeInfo_) return qmos::E_NOTIMPL;
    if (index != 0) return qmos::DISP_E_BADINDEX;
    typeInfo_->AddRef();
    *ppTInfo = typeInfo_.Get();
    return qmos::S_OK;
  }
  qmos::HRESULT QMOS_COM_CALL GetIDsOfNames(qmos::REFIID riid, qmos::LPOLESTR* names,
                                            qmos::UINT count, qmos::LCID lcid,
                                            qmos::DISPID* ids) override {
    qmos::HRESULT hr = typeInfo_ && riid == qmos::IID_NULL
                           ? qmos::DispGetIDsOfNames(typeInfo_.Get(), names, count, ids)
                           : dispatchTable_.GetIDsOfNames(riid, names, count, lcid, ids);
    if (hr == qmos::DISP_E_UNKNOWNNAME && other_ != nullptr && count > 0 &&
        SUCCEEDED(other_->GetIDsOfNames(riid, names, count, lcid, ids)))
      ids[0] += kOtherDispIdOffset;
    else
      return hr;
    return qmos::S_OK;
  }
  qmos::HRESULT QMOS_COM_CALL Invoke(qmos::DISPID id, qmos::REFIID riid, qmos::LCID lcid,
                                     qmos::WORD flags, qmos::DISPPARAMS* params,
                                     qmos::VARIANT* result, qmos::EXCEPINFO* excepInfo,
                                     qmos::UINT* argErr) override {
    if (other_ != nullptr && id >= kDispIdFirstOther)
      return other_->Invoke(id - kOtherDispIdOffset, riid, lcid, flags, params, result, excepInfo,
                            argErr);
    return dispatchTable_.Invoke(id, riid, lcid, flags, params, result, excepInfo, argErr);
  }

  // A script host reaches only the object's IDispatch (the first dual interface's):
  // through it the other dual interface's members answer too, under their own
  // dispatch identifiers moved up by kOtherDispIdOffset (0x60030000 upward).
  static constexpr qmos::DISPID kOtherDispIdOffset = 0x00010000;
  static constexpr qmos::DISPID kDispIdFirstOther = quillmere::kDispIdFirstDual + kOtherDispIdOffset;

 protected:
  ~DualDispatch() = default;
  // Takes the interface's type information from the module's type library, where
  // the module carries one.
  void LoadTypeInfo(qmos::REFIID iid, const std::string& modulePath) {
    qmos::LoadModuleTypeInfo(modulePath, iid, typeInfo_.Out());
  }
  qmos::DispatchTable dispatchTable_;
  qmos::ComPtr<qmos::ITypeInfo> typeInfo_;
  // The other dual interface's table, answered through this IDispatch too (set on the
  // object's IDispatch only).
  const qmos::DispatchTable* other_ = nullptr;
};

class TVantiroImpl final : public IVantiro,
                           public DualDispatch<quillmere::IQMViewerPlugin>,
                           public DualDispatch<quillmere::IQMViewerMenu> {
 public:
  // A new object with one reference, counted against unloading the module.
  TVantiroImpl();
  TVantiroImpl(const TVantiroImpl&) = delete;
  TVantiroImpl& operator=(const TVantiroImpl&) = delete;

  // IUnknown: IUnknown and IVantiro, IDispatch (as IQMViewerPlugin),
  // IQMViewerPlugin, IQMViewerMenu.
  qmos::HRESULT QMOS_COM_CALL QueryInterface(qmos::REFIID riid, void** ppv) override;
  qmos::ULONG QMOS_COM_CALL AddRef() override;
  qmos::ULONG QMOS_COM_CALL Release() override;

  // IQMViewerPlugin
  qmos::HRESULT QMOS_COM_CALL Initialize(quillmere::IQMViewerBase* callback) override;
  qmos::HRESULT QMOS_COM_CALL Terminate() override;
  qmos::HRESULT QMOS_COM_CALL HasGUI() override;
  qmos::HRESULT QMOS_COM_CALL PlugInInfo(qmos::BSTR* short_description, qmos::BSTR* long_description,
                           qmos::BSTR* version, qmos::BSTR* tab_title) override;
  qmos::HRESULT QMOS_COM_CALL Publish(qmos::BSTR queue, qmos::BSTR data) override;

  // IQMViewerMenu
  qmos::HRESULT QMOS_COM_CALL GetMenuStructure(qmos::BSTR* menu_structure) override;
  qmos::HRESULT QMOS_COM_CALL MenuOptionSelected(qmos::SHORT menu_id) override;

 private:
  ~TVantiroImpl();

  void InitializeSteps(quillmere::IQMViewerBase* callback);
  void StopSupervisor();
  void StartSupervisor();
  void BuildDispatchTables();
  // The client's queue messages (queue_dispatch.cpp).
  qmos::HRESULT DispatchQueue(const std::string& queue, const std::string& data);
  // "service_lookup_response": the mailbox server's address (password validation)
  // and the multiplexor's address.
  void ValidationAddressArrived(const char* service, const char* host, const char* port);
  void MultiplexorAddressArrived(const char* service, const char* host, const char* port);
  // "mc_logged_out" with "reason:restart" / "reason:abort".
  void RestartRequested();
  void AbortRequested();
  // The connection menu's items (connection_menu.cpp).
  void ManualLogin();
  void ManualLogout();
  void LoginAsAnotherProfile();

  std::atomic<qmos::ULONG> refCount_{1};

  // The object's own state, in this order.
  std::string traceFilePath;
  std::shared_ptr<qmos::TThread> ValidatePasswordThread;  // while a validation runs
  std::shared_ptr<qmos::TThread> reLoginThread;           // while a re-login runs
  std::string lastValidationHost;
  std::int16_t lastValidationPort = 0;
  std::uint32_t lastValidationTime = 0;  // seconds since 1970
};

// Traces an error that one of the object's calls swallowed, when tracing is on;
// never throws.
void TraceSwallowedError(const char* where, const char* what);

}  // namespace vantiro
