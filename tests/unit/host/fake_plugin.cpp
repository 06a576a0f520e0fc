// A small plug-in module for the host tests. Each object:
//  - on Initialize fails with error information when its setting "fail_initialize"
//    holds a text (the description), else subscribes to fake_in, fake_out,
//    fake_control, service_lookup_request and service_lookup_response and counts its starts in the setting
//    "init_count";
//  - echoes fake_in onto fake_out (on the main thread);
//  - answers a service lookup response by republishing it on fake_service;
//  - obeys "action:argument" lines on fake_control:
//      worker_publish:QUEUE  a worker thread publishes "from:worker\n" on QUEUE
//      box:TEXT              a worker shows a message box through Synchronize and
//                            publishes "result:N\n" on fake_box_result
//      caption:TEXT          sets the main window's caption
//      get:KEY               publishes the setting on fake_value ("key", "hr", "value")
//      put:KEY=VALUE / delete:KEY   writes / deletes a setting
//      lookup:NAME           publishes a service lookup request for NAME
//      url:URL               asks the shell to open URL
//      unsupported           calls a host method the host only records
//      form                  shows the test form (test_form.h) on the main thread
//                            and publishes its outcome on fake_form_result
// Class A also offers a menu: its selection publishes "id:N\n" on fake_menu.
#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fake_plugin.h"
#include "test_form.h"
#include "qmos/application.h"
#include "qmos/bstr.h"
#include "qmos/error_info.h"
#include "qmos/registry.h"
#include "qmos/thread.h"
#include "quillmere/qm_viewer.h"
#include "testsupport/com_server.h"

using namespace qmos;
using quillmere::IQMViewerBase;
using quillmere::IQMViewerMenu;
using quillmere::IQMViewerPlugin;
using testsupport::StaticClassFactory;

namespace {

std::atomic<int> g_objects{0};
std::atomic<int> g_locks{0};

class Worker final : public TThread {
 public:
  explicit Worker(std::function<void(Worker&)> job) : job_(std::move(job)) {}
  void Execute() override { job_(*this); }

 private:
  std::function<void(Worker&)> job_;
};

std::string Field(const std::string& line, std::string& argument) {
  const auto colon = line.find(':');
  if (colon == std::string::npos) {
    argument.clear();
    return line;
  }
  argument = line.substr(colon + 1);
  return line.substr(0, colon);
}

class FakePlugin final : public IQMViewerPlugin, public IQMViewerMenu {
 public:
  explicit FakePlugin(bool withMenu) : withMenu_(withMenu) { ++g_objects; }

  // IUnknown
  HRESULT QMOS_COM_CALL QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == quillmere::IID_IQMViewerPlugin) {
      *ppv = static_cast<IQMViewerPlugin*>(this);
    } else if (riid == quillmere::IID_IQMViewerMenu && withMenu_) {
      *ppv = static_cast<IQMViewerMenu*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG QMOS_COM_CALL AddRef() override { return ++refs_; }
  ULONG QMOS_COM_CALL Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  // IDispatch: the host binds early; late binding is not offered.
  HRESULT QMOS_COM_CALL GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT QMOS_COM_CALL GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT QMOS_COM_CALL GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT QMOS_COM_CALL Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  // IQMViewerPlugin
  HRESULT QMOS_COM_CALL Initialize(IQMViewerBase* callback) override {
    if (!callback) return E_POINTER;
    host_ = callback;
    const std::string failure = GetSetting("fail_initialize");
    if (!failure.empty())
      return ReportError(DISP_E_EXCEPTION, quillmere::IID_IQMViewerPlugin, "FakePlugin", failure);
    for (const char* queue : {"fake_in", "fake_out", "fake_control", "service_lookup_request",
                              "service_lookup_response"})
      host_->Subscribe(Bstr(queue).Get());
    const long count = std::strtol(GetSetting("init_count").c_str(), nullptr, 10);
    PutSetting("init_count", std::to_string(count + 1));
    return S_OK;
  }
  HRESULT QMOS_COM_CALL Terminate() override {
    StopWorkers();
    return S_OK;
  }
  HRESULT QMOS_COM_CALL HasGUI() override { return S_FALSE; }
  HRESULT QMOS_COM_CALL PlugInInfo(BSTR* shortText, BSTR* longText, BSTR* version, BSTR* tab) override {
    if (!shortText || !longText || !version || !tab) return E_POINTER;
    *shortText = BstrFromUtf8("Fake");
    *longText = BstrFromUtf8("A plug-in for host tests");
    *version = BstrFromUtf8("1.2.3");
    *tab = BstrFromUtf8("");
    return S_OK;
  }
  HRESULT QMOS_COM_CALL Publish(BSTR queueText, BSTR dataText) override {
    const std::string queue = BstrToUtf8(queueText);
    const std::string data = BstrToUtf8(dataText);
    if (queue == "fake_in") {
      PublishToHost("fake_out", data);
    } else if (queue == "service_lookup_response") {
      PublishToHost("fake_service", data);
    } else if (queue == "fake_control") {
      std::size_t start = 0;
      while (start < data.size()) {
        const auto end = data.find('\n', start);
        Control(data.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
      }
    } else if (queue != "fake_out") {
      return S_FALSE;
    }
    return S_OK;
  }

  // IQMViewerMenu
  HRESULT QMOS_COM_CALL GetMenuStructure(BSTR* structure) override {
    if (!structure) return E_POINTER;
    *structure = BstrFromUtf8("Fake|First=1|Second=2");
    return S_OK;
  }
  HRESULT QMOS_COM_CALL MenuOptionSelected(SHORT id) override {
    PublishToHost("fake_menu", "id:" + std::to_string(id) + "\n");
    return id == 1 || id == 2 ? S_OK : S_FALSE;
  }

 private:
  ~FakePlugin() {
    StopWorkers();
    --g_objects;
  }

  std::string GetSetting(const std::string& key) {
    Bstr value;
    if (host_->GetData(Bstr(key).Get(), value.Out()) != S_OK) return {};
    return value.Utf8();
  }
  void PutSetting(const std::string& key, const std::string& value) {
    host_->PutData(Bstr(key).Get(), Bstr(value).Get());
  }
  void PublishToHost(const std::string& queue, const std::string& data) {
    host_->Publish(Bstr(queue).Get(), Bstr(data).Get());
  }

  void StartWorker(std::function<void(Worker&)> job) {
    auto worker = TThread::StartNew<Worker>(std::move(job));
    std::lock_guard<std::mutex> lock(workersMutex_);
    if (worker) workers_.push_back(std::move(worker));
  }
  void StopWorkers() {
    std::vector<std::shared_ptr<Worker>> workers;
    {
      std::lock_guard<std::mutex> lock(workersMutex_);
      workers.swap(workers_);
    }
    for (auto& worker : workers) worker->Terminate();
    for (auto& worker : workers) worker->WaitFor(5000);
  }

  void Control(const std::string& line) {
    std::string argument;
    const std::string action = Field(line, argument);
    IQMViewerBase* host = host_;
    if (action == "worker_publish") {
      StartWorker([host, argument](Worker&) {
        host->Publish(Bstr(argument).Get(), Bstr("from:worker\n").Get());
      });
    } else if (action == "box") {
      StartWorker([host, argument](Worker& self) {
        int result = -1;
        self.Synchronize([&] {
          result = Application::Instance().MessageBox(argument, "Fake", MB_YESNOCANCEL | MB_ICONQUESTION);
        });
        host->Publish(Bstr("fake_box_result").Get(),
                      Bstr("result:" + std::to_string(result) + "\n").Get());
      });
    } else if (action == "caption") {
      Application::Instance().SetCaption(argument);
    } else if (action == "get") {
      Bstr value;
      const HRESULT hr = host_->GetData(Bstr(argument).Get(), value.Out());
      PublishToHost("fake_value", "key:" + argument + "\nhr:" + std::to_string(hr) +
                                      "\nvalue:" + value.Utf8() + "\n");
    } else if (action == "put") {
      const auto equals = argument.find('=');
      if (equals != std::string::npos) PutSetting(argument.substr(0, equals), argument.substr(equals + 1));
    } else if (action == "delete") {
      host_->DeleteData(Bstr(argument).Get());
    } else if (action == "lookup") {
      PublishToHost("service_lookup_request", "service_name:" + argument + "\n");
    } else if (action == "url") {
      Application::Instance().ShellOpen(argument);
    } else if (action == "form") {
      host_test::TestForm dialog;
      const int result = dialog.form.ShowModal();
      PublishToHost("fake_form_result", dialog.Outcome(result));
    } else if (action == "unsupported") {
      host_->SetStatusBarText(Bstr("status").Get());
    }
  }

  const bool withMenu_;
  std::atomic<ULONG> refs_{1};
  IQMViewerBase* host_ = nullptr;  // the host outlives its plug-ins: no reference taken
  std::mutex workersMutex_;
  std::vector<std::shared_ptr<Worker>> workers_;
};

StaticClassFactory g_factoryA(g_locks, [] { return new FakePlugin(true); });
StaticClassFactory g_factoryB(g_locks, [] { return new FakePlugin(false); });

bool RegisterClass(const CLSID& clsid, const char* progId) {
  const std::string text = GuidToString(clsid);
  auto inproc = RegKey::Open(RegRoot::ClassesRoot, "CLSID\\" + text + "\\InprocServer32", true);
  auto prog = RegKey::Open(RegRoot::ClassesRoot, std::string(progId) + "\\CLSID", true);
  auto listed = RegKey::Open(RegRoot::LocalMachine, std::string(quillmere::kPluginsKey) + "\\" + text, true);
  return inproc && prog && listed && inproc->WriteString("", testsupport::ModulePathOf(&g_factoryA)) &&
         inproc->WriteString("ThreadingModel", "Apartment") && prog->WriteString("", text) &&
         listed->WriteString("short_description", "Fake");
}

void UnregisterClass(const CLSID& clsid, const char* progId) {
  const std::string text = GuidToString(clsid);
  RegDeleteKey(RegRoot::ClassesRoot, "CLSID\\" + text);
  RegDeleteKey(RegRoot::ClassesRoot, progId);
  RegDeleteKey(RegRoot::LocalMachine, std::string(quillmere::kPluginsKey) + "\\" + text);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HRESULT QMOS_COM_CALL DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid == host_test::kFakeClsidA) return g_factoryA.QueryInterface(riid, ppv);
  if (clsid == host_test::kFakeClsidB) return g_factoryB.QueryInterface(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

// Unloadable only when no object, no lock and no thread is left: a worker's code
// lives in this module.
__attribute__((visibility("default"))) HRESULT QMOS_COM_CALL DllCanUnloadNow() {
  return g_objects == 0 && g_locks == 0 && TThread::RunningCount() == 0 ? S_OK : S_FALSE;
}

__attribute__((visibility("default"))) HRESULT QMOS_COM_CALL DllRegisterServer() {
  return RegisterClass(host_test::kFakeClsidA, host_test::kFakeProgIdA) &&
                 RegisterClass(host_test::kFakeClsidB, host_test::kFakeProgIdB)
             ? S_OK
             : SELFREG_E_CLASS;
}

__attribute__((visibility("default"))) HRESULT QMOS_COM_CALL DllUnregisterServer() {
  UnregisterClass(host_test::kFakeClsidA, host_test::kFakeProgIdA);
  UnregisterClass(host_test::kFakeClsidB, host_test::kFakeProgIdB);
  return S_OK;
}

}  // extern "C"
