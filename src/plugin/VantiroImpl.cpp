// The plug-in object: its COM identity and late-bound tables, Initialize and
// Terminate with the supervisor's start and bounded stop, and its information. The
// queue messages are handled in queue_dispatch.cpp, the menu in connection_menu.cpp.
#include "plugin/VantiroImpl.h"

#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>

#include "connection/PluginThread.h"
#include "diag/perf_log.h"
#include "diag/trace_log.h"
#include "packet.h"
#include "plugin/install_path.h"
#include "plugin/server_module.h"
#include "qmos/application.h"
#include "qmos/bstr.h"
#include "qmos/clock.h"
#include "qmos/error_info.h"
#include "qmos/event.h"
#include "qmos/paths.h"
#include "qmos/time_scale.h"
#include "state/process_state.h"
#include "version.h"

namespace vantiro {

namespace {

using qmos::BSTR;
using qmos::HRESULT;
using quillmere::IQMViewerBase;

// The queues the plug-in serves, subscribed in this order.
constexpr const char* kSubscribedQueues[] = {
    "mc_intercept",        "mc_place_call",    "service_lookup_response",
    "mc_hold_call",        "mc_take_message",  "mc_send_message",
    "presence_monitor",    "presence_monitor_remove", "presence_monitor_query",
    "presence_monitor_remove_all", "mc_logged_out", "send_im"};

constexpr const char* kShortDescription = "Vantiro Backend";
constexpr const char* kLongDescription =
    "Supplies the necessary connectivity to the Unified Messaging mailbox";

// The size of the buffer the version library fills.
constexpr int kVersionBufferSize = 512;

// How often Terminate looks whether the supervisor ended without the event being
// set (it may have looked for the event before Terminate made it).
constexpr std::int64_t kTerminateSliceMs = 20;

std::string FileVersion(const std::string& path) {
  char buffer[kVersionBufferSize] = {};
  VER_getFileVersion(path.c_str(), buffer, kVersionBufferSize);
  return buffer;
}

}  // namespace

void TraceSwallowedError(const char* where, const char* what) {
  try {
    Trace("%s: %s", where, what);
  } catch (...) {
  }
}

TVantiroImpl::TVantiroImpl() {
  BuildDispatchTables();
  const std::string module = ModuleFilePath();
  DualDispatch<quillmere::IQMViewerPlugin>::LoadTypeInfo(quillmere::IID_IQMViewerPlugin, module);
  DualDispatch<quillmere::IQMViewerMenu>::LoadTypeInfo(quillmere::IID_IQMViewerMenu, module);
  DualDispatch<quillmere::IQMViewerPlugin>::other_ =
      &this->DualDispatch<quillmere::IQMViewerMenu>::dispatchTable_;
  ObjectCreated();
}

TVantiroImpl::~TVantiroImpl() {
  // Written whether or not tracing is on; after Terminate this opens the log again.
  try {
    TraceAlways("TVantiroImpl::~TVantiroImpl(): Plugin terminating");
  } catch (...) {
  }
  ObjectDestroyed();
}

void TVantiroImpl::BuildDispatchTables() {
  using qmos::DispArgs;
  using qmos::DispParam;
  const qmos::DISPID first = quillmere::kDispIdFirstDual;

  DualDispatch<quillmere::IQMViewerPlugin>::dispatchTable_ = qmos::DispatchTable({
      {"Initialize", first + 0, {DispParam::InUnknown},
       [this](DispArgs& a) -> HRESULT {
         // A late-bound caller passes the callback as IUnknown or IDispatch; like an
         // early-bound one, it is kept without a reference of ours.
         IQMViewerBase* callback = nullptr;
         if (qmos::IUnknown* unknown = a.Unknown(0)) {
           const HRESULT hr = unknown->QueryInterface(quillmere::IID_IQMViewerBase,
                                                      reinterpret_cast<void**>(&callback));
           if (FAILED(hr)) return hr;
           callback->Release();
         }
         return Initialize(callback);
       }},
      {"Terminate", first + 1, {}, [this](DispArgs&) { return Terminate(); }},
      {"HasGUI", first + 2, {}, [this](DispArgs&) { return HasGUI(); }},
      {"PlugInInfo", first + 3,
       {DispParam::OutBstr, DispParam::OutBstr, DispParam::OutBstr, DispParam::OutBstr},
       [this](DispArgs& a) {
         return PlugInInfo(a.OutBstr(0), a.OutBstr(1), a.OutBstr(2), a.OutBstr(3));
       }},
      {"Publish", first + 4, {DispParam::InBstr, DispParam::InBstr},
       [this](DispArgs& a) { return Publish(a.Bstr(0), a.Bstr(1)); }},
  });
  DualDispatch<quillmere::IQMViewerMenu>::dispatchTable_ = qmos::DispatchTable({
      {"GetMenuStructure", first + 0, {DispParam::OutBstr},
       [this](DispArgs& a) { return GetMenuStructure(a.OutBstr(0)); }},
      {"MenuOptionSelected", first + 1, {DispParam::InShort},
       [this](DispArgs& a) { return MenuOptionSelected(a.Short(0)); }},
  });
}

// --- IUnknown -----------------------------------------------------------------------

HRESULT TVantiroImpl::QueryInterface(qmos::REFIID riid, void** ppv) {
  if (ppv == nullptr) return qmos::E_POINTER;
  if (riid == qmos::IID_IUnknown || riid == IID_IVantiro) {
    *ppv = static_cast<IVantiro*>(this);
  } else if (riid == qmos::IID_IDispatch || riid == quillmere::IID_IQMViewerPlugin) {
    *ppv = static_cast<quillmere::IQMViewerPlugin*>(this);
  } else if (riid == quillmere::IID_IQMViewerMenu) {
    *ppv = static_cast<quillmere::IQMViewerMenu*>(this);
  } else {
    *ppv = nullptr;
    return qmos::E_NOINTERFACE;
  }
  AddRef();
  return qmos::S_OK;
}

qmos::ULONG TVantiroImpl::AddRef() { return ++refCount_; }

qmos::ULONG TVantiroImpl::Release() {
  const qmos::ULONG count = --refCount_;
  if (count == 0) delete this;
  return count;
}

// --- Initialize ---------------------------------------------------------------------

HRESULT TVantiroImpl::Initialize(IQMViewerBase* callback) {
  try {
    InitializeSteps(callback);
    return qmos::S_OK;
  } catch (const std::bad_alloc&) {
    return qmos::ReportError(qmos::DISP_E_EXCEPTION, quillmere::IID_IQMViewerPlugin, kVantiroProgId,
                             "Out of memory");
  } catch (const std::exception& e) {
    return qmos::ReportError(qmos::DISP_E_EXCEPTION, quillmere::IID_IQMViewerPlugin, kVantiroProgId,
                             e.what());
  } catch (...) {
    return qmos::ReportError(qmos::DISP_E_EXCEPTION, quillmere::IID_IQMViewerPlugin, kVantiroProgId,
                             "Unknown error");
  }
}

void TVantiroImpl::InitializeSteps(IQMViewerBase* callback) {
  ProcessState& state = State();
  // The client calls Initialize on its user-interface thread: that is where the
  // dialogs, message boxes and caption changes must run, whether or not the client
  // told libqmos so itself (one that knows nothing of it cannot).
  qmos::Application& application = qmos::Application::Instance();
  if (!application.IsMainThread()) application.SetMainThread();

  // 1. Trace settings: path, switch, removal flag, size limit, write position.
  traceFilePath = ReadTraceSettings();

  // 2. The host's callback, kept without a reference: the host outlives the plug-in.
  // Without one nothing of the plug-in can work, so it is refused here.
  if (callback == nullptr)
    throw std::invalid_argument("TVantiroImpl::Initialize(): no host callback object was given");
  state.hostCallback = callback;

  // 3. The packet library.
  PH_init();

  // 4. The trace log (deletes the old file when the removal flag says so).
  OpenTraceLog(traceFilePath);

  // 5. The preferences cache beside the client. The path is kept whole however long
  // the install folder is: a shortened path would name another file.
  state.SetPreferencesPath(InstallPath("Preferences.start"));

  // 6. Fresh run state.
  state.PluginTerminating = false;
  state.SetPluginThread(nullptr);
  state.ForgetOwnAborts();
  ValidatePasswordThread.reset();
  reLoginThread.reset();
  lastValidationPort = 0;
  lastValidationHost.clear();

  // 7.
  if (TraceEnabled()) WriteTrace("*********************************************************");

  // 8. The performance log's banner, when the log is switched on.
  if (state.PerfLogEnabled) WritePerfBanner();

  // 9. The sent-packet table and its lock (one object, shared with the threads).
  auto sentPackets = std::make_shared<SentPacketTable>();
  if (sentPackets->table == nullptr) throw std::bad_alloc();
  state.SetSentPackets(std::move(sentPackets));

  // 10. The twelve queues; the host's answers are not checked.
  for (const char* queue : kSubscribedQueues) {
    qmos::Bstr name(queue);
    callback->Subscribe(name.Get());
  }

  // 11.
  state.SetMultiplexorAddressEvent(qmos::Event::Create());

  // 12.
  if (TraceEnabled()) WriteTrace("TVantiroImpl::Initialize(): Spawing PluginThread");

  // 13.
  lastValidationTime = 0;

  // 14.
  if (!state.GetPluginThread()) StartSupervisor();
}

// --- Terminate ----------------------------------------------------------------------

HRESULT TVantiroImpl::Terminate() {
  ProcessState& state = State();
  try {
    if (TraceEnabled()) WriteTrace("TVantiroImpl::Terminate(): Terminating");
    if (state.ValidatingPassword && TraceEnabled())
      WriteTrace("TVantiroImpl:Terminate():ValidatePasswordThread is still running");
    // Also a validation still waiting for the login is told to stop: it would
    // otherwise wait on after the plug-in has gone.
    if (ValidatePasswordThread) ValidatePasswordThread->Terminate();
  } catch (...) {
  }

  state.PluginTerminating = true;

  try {
    if (reLoginThread) reLoginThread->Terminate();
  } catch (...) {
  }

  try {
    StopSupervisor();
  } catch (...) {
  }

  // The table and the events are only given up: a supervisor, writer or reader that
  // still runs after the wait keeps them alive through its own references.
  try {
    state.SetSentPackets(nullptr);
  } catch (...) {
  }
  try {
    state.SetSomethingToWriteEvent(nullptr);
  } catch (...) {
  }
  try {
    state.SetMultiplexorAddressEvent(nullptr);
  } catch (...) {
  }
  try {
    state.SetPluginThreadTerminatedEvent(nullptr);
  } catch (...) {
  }

  try {
    CloseTraceLog();
  } catch (...) {
  }
  try {
    SaveTracePosition();
  } catch (...) {
  }
  return qmos::S_OK;
}

void TVantiroImpl::StopSupervisor() {
  ProcessState& state = State();
  // Held for the whole handshake, so the object outlives its own end meanwhile.
  const std::shared_ptr<PluginThread> supervisor = state.GetPluginThread();
  if (!supervisor) return;

  auto terminated = qmos::Event::Create();
  state.SetPluginThreadTerminatedEvent(terminated);
  supervisor->AbortConnection();
  supervisor->Terminate();
  // A writer blocked on a peer that stopped reading, or a reader inside a read,
  // wakes at once instead of holding the supervisor's end up.
  supervisor->ShutDownConnection();
  if (auto addressEvent = state.MultiplexorAddressEvent()) addressEvent->Set();

  // Up to 15000 ms for the supervisor's signal. A supervisor that looked for the event
  // before it existed ends without setting it; its finishing ends the wait as well.
  const std::int64_t bound = qmos::ScaledMs(15000);
  const std::int64_t deadline = qmos::MonotonicMs() + bound;
  bool signalled = false;
  for (;;) {
    const std::int64_t left = deadline - qmos::MonotonicMs();
    if (left <= 0) break;
    const auto slice = static_cast<std::uint32_t>(std::min(left, qmos::ScaledMs(kTerminateSliceMs)));
    if (terminated->WaitFor(slice) == qmos::WaitResult::Signalled) {
      signalled = true;
      break;
    }
    if (supervisor->Finished()) break;
  }
  if (signalled && TraceEnabled())
    WriteTrace("TVantiroImpl::Terminate(): Got a \"pluginThreadTerminatedEvent\" signal");
}

// --- Information --------------------------------------------------------------------

HRESULT TVantiroImpl::HasGUI() { return qmos::S_FALSE; }

HRESULT TVantiroImpl::PlugInInfo(BSTR* short_description, BSTR* long_description, BSTR* version,
                                 BSTR* tab_title) {
  if (short_description) *short_description = nullptr;
  if (long_description) *long_description = nullptr;
  if (version) *version = nullptr;
  if (tab_title) *tab_title = nullptr;
  if (!short_description || !long_description || !version || !tab_title) return qmos::E_POINTER;
  try {
    // The version of the file the client names beside its install folder; when that
    // file has none (the client's folder need not hold this platform's module), the
    // version of the module file that is running.
    std::string versionText;
    try {
      versionText = FileVersion(qmos::FromWindowsPath(InstallPath("VantiroPlugin.dll")));
    } catch (const std::bad_alloc&) {
      throw;
    } catch (...) {
      versionText.clear();
    }
    if (versionText.empty()) versionText = FileVersion(ModuleFilePath());

    qmos::Bstr shortText(kShortDescription);
    qmos::Bstr longText(kLongDescription);
    qmos::Bstr versionBstr(versionText);
    qmos::Bstr tabText("");
    if (!shortText.Get() || !longText.Get() || !versionBstr.Get() || !tabText.Get())
      return qmos::E_OUTOFMEMORY;
    *short_description = shortText.Detach();
    *long_description = longText.Detach();
    *version = versionBstr.Detach();
    *tab_title = tabText.Detach();
    return qmos::S_OK;
  } catch (const std::bad_alloc&) {
    return qmos::E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    TraceSwallowedError("TVantiroImpl::PlugInInfo()", e.what());
    return qmos::E_FAIL;
  } catch (...) {
    return qmos::E_FAIL;
  }
}

void TVantiroImpl::StartSupervisor() {
  if (!PluginThread::StartRecorded(State().hostCallback.load())) {
    throw std::runtime_error("Thread creation error: the connection supervisor could not be started");
  }
}

}  // namespace vantiro
