// The plug-in object against a fake client: lifecycle, queue messages, information,
// late binding and the process-wide state it sets up and gives up.
#include <chrono>

#include "connection/PluginThread.h"
#include "listener.h"
#include "plugin/port_text.h"
#include "plugin/VantiroImpl.h"
#include "plugin_fixture.h"
#include "qmos/com_ptr.h"
#include "qmos/error_info.h"
#include "qmos/variant.h"
#include "state/process_state.h"
#include "testsupport/platform.h"

namespace plugin_test {
namespace {

using namespace std::chrono_literals;
using qmos::Bstr;
using qmos::ComPtr;
using quillmere::IQMViewerMenu;
using quillmere::IQMViewerPlugin;
using vantiro::State;
using vantiro::TVantiroImpl;

const std::vector<std::string> kQueues = {
    "mc_intercept",     "mc_place_call",           "service_lookup_response",
    "mc_hold_call",     "mc_take_message",         "mc_send_message",
    "presence_monitor", "presence_monitor_remove", "presence_monitor_query",
    "presence_monitor_remove_all", "mc_logged_out", "send_im"};

const Publication kLookup{"service_lookup_request", "service_name:multiplexor\nforced:1\n"};
const Publication kAbort{"mc_logged_out", "reason:abort\n"};

ComPtr<IQMViewerPlugin> NewPlugin() {
  return ComPtr<IQMViewerPlugin>::Attach(static_cast<IQMViewerPlugin*>(new TVantiroImpl()));
}

HRESULT Publish(IQMViewerPlugin* plugin, const std::string& queue, const std::string& data) {
  Bstr q(queue), d(data);
  return plugin->Publish(q.Get(), d.Get());
}

int Count(const std::vector<Publication>& all, const Publication& p) {
  return static_cast<int>(std::count(all.begin(), all.end(), p));
}

// --- Lifecycle ----------------------------------------------------------------------

TEST_F(PluginTest, InitializeSubscribesInOrderStartsSupervisorAndTerminateStopsIt) {
  FakeHost host;
  auto plugin = NewPlugin();
  ASSERT_EQ(plugin->Initialize(&host), qmos::S_OK);

  EXPECT_EQ(host.Subscriptions(), kQueues);
  EXPECT_TRUE(State().GetPluginThread() != nullptr);
  EXPECT_EQ(State().hostCallback.load(), &host);
  EXPECT_FALSE(State().PluginTerminating);
  EXPECT_TRUE(State().SentPackets() != nullptr);
  ASSERT_TRUE(State().MultiplexorAddressEvent() != nullptr);
  // The supervisor asks the host where the multiplexor is.
  ASSERT_TRUE(host.WaitForPublication(kLookup.queue, 10s));
  EXPECT_GE(Count(host.Publications(), kLookup), 1);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(plugin->Terminate(), qmos::S_OK);
  // The bound is 15000 ms scaled by 0.01; allow generously for slow sanitizer runs.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

  EXPECT_EQ(Count(host.Publications(), kAbort), 1);
  EXPECT_TRUE(State().PluginTerminating);
  EXPECT_TRUE(WaitUntil([] { return State().GetPluginThread() == nullptr; }));
  EXPECT_TRUE(State().SentPackets() == nullptr);
  EXPECT_TRUE(State().MultiplexorAddressEvent() == nullptr);
  EXPECT_TRUE(State().SomethingToWriteEvent() == nullptr);
  EXPECT_TRUE(State().PluginThreadTerminatedEvent() == nullptr);
  EXPECT_TRUE(host.UnexpectedCalls().empty());

  EXPECT_TRUE(TraceHas(std::string(57, '*')));
  EXPECT_TRUE(TraceHas("TVantiroImpl::Initialize(): Spawing PluginThread"));
  EXPECT_TRUE(TraceHas("TVantiroImpl::Terminate(): Terminating"));
  EXPECT_FALSE(TraceHas("TVantiroImpl::~TVantiroImpl(): Plugin terminating"));
  plugin.Reset();
  EXPECT_TRUE(TraceHas("TVantiroImpl::~TVantiroImpl(): Plugin terminating"));
}

TEST_F(PluginTest, TracingOffWritesOnlyTheDestructorLine) {
  SetTraceEnabled(0);
  FakeHost host;
  auto plugin = NewPlugin();
  ASSERT_EQ(plugin->Initialize(&host), qmos::S_OK);
  EXPECT_EQ(plugin->Terminate(), qmos::S_OK);
  plugin.Reset();
  EXPECT_FALSE(TraceHas(std::string(57, '*')));
  EXPECT_FALSE(TraceHas("TVantiroImpl::Initialize(): Spawing PluginThread"));
  EXPECT_FALSE(TraceHas("TVantiroImpl::Terminate(): Terminating"));
  EXPECT_TRUE(TraceHas("TVantiroImpl::~TVantiroImpl(): Plugin terminating")) << TraceText();
}

TEST_F(PluginTest, TerminateWithoutSupervisorPublishesNothingAndDoesNotWait) {
  FakeHost host;
  auto plugin = NewPlugin();
  ASSERT_EQ(plugin->Initialize(&host), qmos::S_OK);
  // The supervisor ends on its own first (as after an abort from the host).
  auto supervisor = State().GetPluginThread();
  ASSERT_TRUE(supervisor);
  supervisor->AbortConnection();
  ASSERT_TRUE(supervisor->WaitFor(10000));
  supervisor.reset();
  ASSERT_TRUE(WaitUntil([] { return State().GetPluginThread() == nullptr; }));
  const std::size_t before = host.Publications().size();

  EXPECT_EQ(plugin->Terminate(), qmos::S_OK);
  EXPECT_EQ(host.Publications().size(), before);  // no second abort
  EXPECT_FALSE(TraceHas("TVantiroImpl::Terminate(): Got a \"pluginThreadTerminatedEvent\" signal"));
  // Terminate on an object never initialised does nothing harmful either.
  auto other = NewPlugin();
  EXPECT_EQ(other->Terminate(), qmos::S_OK);
}

TEST_F(PluginTest, TerminateGivesUpAfterItsBoundWhenTheSupervisorHangs) {
  FakeHost host;
  host.Hold(kLookup.queue);  // the supervisor blocks inside the host's Publish
  auto plugin = NewPlugin();
  ASSERT_EQ(plugin->Initialize(&host), qmos::S_OK);
  ASSERT_TRUE(host.WaitForPublication(kLookup.queue, 10s));
  const auto table = State().SentPackets();
  ASSERT_TRUE(table);

  EXPECT_EQ(plugin->Terminate(), qmos::S_OK);
  // It returned while the supervisor still runs; the table stays alive for it.
  EXPECT_TRUE(State().GetPluginThread() != nullptr);
  EXPECT_TRUE(State().SentPackets() == nullptr);
  EXPECT_FALSE(TraceHas("TVantiroImpl::Terminate(): Got a \"pluginThreadTerminatedEvent\" signal"));

  host.ReleaseHold();
  EXPECT_TRUE(WaitUntil([] { return State().GetPluginThread() == nullptr; }));
}

TEST_F(PluginTest, InitializeWithoutCallbackFailsWithErrorInformation) {
  auto plugin = NewPlugin();
  qmos::ClearErrorInfo();
  EXPECT_EQ(plugin->Initialize(nullptr), qmos::DISP_E_EXCEPTION);
  qmos::ErrorInfo info;
  ASSERT_EQ(qmos::GetErrorInfo(info), qmos::S_OK);
  EXPECT_FALSE(info.description.empty());
  EXPECT_EQ(info.source, "VantiroPlugin.Vantiro");
  EXPECT_TRUE(info.iid == quillmere::IID_IQMViewerPlugin);
  EXPECT_TRUE(State().GetPluginThread() == nullptr);
  EXPECT_EQ(plugin->Terminate(), qmos::S_OK);
}

// --- Information and interfaces -----------------------------------------------------

TEST_F(PluginTest, InterfacesAndHasGui) {
  auto plugin = NewPlugin();
  EXPECT_EQ(plugin->HasGUI(), qmos::S_FALSE);

  ComPtr<qmos::IUnknown> unknown, unknownAgain;
  ComPtr<vantiro::IVantiro> vantiro;
  ComPtr<qmos::IDispatch> dispatch;
  ComPtr<IQMViewerMenu> menu;
  ASSERT_EQ(plugin.As(qmos::IID_IUnknown, unknown), qmos::S_OK);
  ASSERT_EQ(plugin.As(vantiro::IID_IVantiro, vantiro), qmos::S_OK);
  ASSERT_EQ(plugin.As(qmos::IID_IDispatch, dispatch), qmos::S_OK);
  ASSERT_EQ(plugin.As(quillmere::IID_IQMViewerMenu, menu), qmos::S_OK);
  ASSERT_EQ(menu.As(qmos::IID_IUnknown, unknownAgain), qmos::S_OK);
  EXPECT_EQ(unknown.Get(), unknownAgain.Get());  // one identity
  EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(plugin.Get()));
  ComPtr<qmos::IUnknown> none;
  EXPECT_EQ(plugin.As(quillmere::IID_IQMViewerBase, none), qmos::E_NOINTERFACE);
  EXPECT_FALSE(none);
  EXPECT_EQ(plugin->QueryInterface(qmos::IID_IUnknown, nullptr), qmos::E_POINTER);
}

TEST_F(PluginTest, PlugInInfoTextsAndVersionFromTheInstalledModule) {
  // The client's folder holds the module under its Windows name.
  std::filesystem::copy_file(testsupport::PluginModulePath(), Dir() / "VantiroPlugin.dll");
  auto settings = qmos::RegKey::Open(qmos::RegRoot::LocalMachine, kSettingsKey, true);
  ASSERT_TRUE(settings && settings->WriteString("InstallDir", Dir().string()));

  auto plugin = NewPlugin();
  Bstr shortText, longText, version, tab;
  ASSERT_EQ(plugin->PlugInInfo(shortText.Out(), longText.Out(), version.Out(), tab.Out()), qmos::S_OK);
  EXPECT_EQ(shortText.Utf8(), "Vantiro Backend");
  EXPECT_EQ(longText.Utf8(), "Supplies the necessary connectivity to the Unified Messaging mailbox");
  EXPECT_EQ(version.Utf8(), VANTIRO_VERSION_TEXT);
  EXPECT_TRUE(tab.Get() != nullptr);
  EXPECT_EQ(tab.Utf8(), "");

  EXPECT_EQ(plugin->PlugInInfo(shortText.Out(), nullptr, version.Out(), tab.Out()), qmos::E_POINTER);
  EXPECT_TRUE(shortText.Get() == nullptr);
}

TEST_F(PluginTest, PreferencesPathFollowsInstallDir) {
  struct Case {
    const char* name;
    std::function<void(qmos::RegKey&)> set;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"missing", [](qmos::RegKey& k) { k.DeleteValue("InstallDir"); }, "\\Preferences.start"},
      {"not text", [](qmos::RegKey& k) { k.WriteDword("InstallDir", 7); }, "Preferences.start"},
      {"folder", [](qmos::RegKey& k) { k.WriteString("InstallDir", "C:\\Quillmere"); },
       "C:\\Quillmere\\Preferences.start"},
      {"long", [](qmos::RegKey& k) { k.WriteString("InstallDir", std::string(600, 'd')); },
       std::string(600, 'd') + "\\Preferences.start"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto settings = qmos::RegKey::Open(qmos::RegRoot::LocalMachine, kSettingsKey, true);
    ASSERT_TRUE(settings);
    c.set(*settings);
    FakeHost host;
    auto plugin = NewPlugin();
    ASSERT_EQ(plugin->Initialize(&host), qmos::S_OK);
    EXPECT_EQ(State().PreferencesPath(), c.expected);
    EXPECT_EQ(plugin->Terminate(), qmos::S_OK);
    ASSERT_TRUE(WaitUntil([] { return State().GetPluginThread() == nullptr; }));
  }
}

// --- Queue messages -----------------------------------------------------------------

TEST_F(PluginTest, MultiplexorAddressReachesTheSupervisor) {
  Listener mux;
  ASSERT_NE(mux.Port(), 0);
  FakeHost host;
  auto plugin = NewPlugin();
  ASSERT_EQ(plugin->Initialize(&host), qmos::S_OK);
  ASSERT_TRUE(host.WaitForPublication(kLookup.queue, 10s));

  // Incomplete answers and other services are ignored.
  EXPECT_EQ(Publish(plugin.Get(), "service_lookup_response",
                    "service_name:multiplexor\nip_address:\ntcp_port:" + std::to_string(mux.Port()) + "\n"),
            qmos::S_OK);
  EXPECT_EQ(Publish(plugin.Get(), "service_lookup_response",
                    "service_name:multiplexor\nip_address:127.0.0.1\ntcp_port:\n"),
            qmos::S_OK);
  EXPECT_EQ(Publish(plugin.Get(), "service_lookup_response",
                    "service_name:Multiplexor\nip_address:127.0.0.1\ntcp_port:1\n"),
            qmos::S_OK);
  EXPECT_FALSE(TraceHas(
      "VantiroImpl::Publish() we got multiplexor ip/port,signal Pluginthread its safe to connect to it"));

  EXPECT_EQ(Publish(plugin.Get(), "service_lookup_response",
                    "service_name:multiplexor\nip_address:127.0.0.1\ntcp_port:" +
                        std::to_string(mux.Port()) + "\n"),
            qmos::S_OK);
  EXPECT_TRUE(TraceHas(
      "VantiroImpl::Publish() we got multiplexor ip/port,signal Pluginthread its safe to connect to it"));
  if (auto supervisor = State().GetPluginThread()) {
    EXPECT_EQ(supervisor->MultiplexorAddress(), "127.0.0.1");
    EXPECT_EQ(supervisor->MultiplexorPort(), mux.Port());
  }
  EXPECT_TRUE(mux.Accept(10s));
  EXPECT_EQ(plugin->Terminate(), qmos::S_OK);
}

TEST_F(PluginTest, QueueNamesMatchExactly) {
  FakeHost host;
  auto plugin = NewPlugin();
  ASSERT_EQ(plugin->Initialize(&host), qmos::S_OK);
  for (const std::string& queue : kQueues) {
    if (queue == "mc_logged_out") continue;  // would act on the connection
    EXPECT_EQ(Publish(plugin.Get(), queue, "call_id:7\n"), qmos::S_OK) << queue;
  }
  EXPECT_EQ(Publish(plugin.Get(), "MC_HOLD_CALL", "call_id:7\n"), qmos::S_FALSE);
  EXPECT_EQ(Publish(plugin.Get(), "mc_hold_call ", ""), qmos::S_FALSE);
  EXPECT_EQ(Publish(plugin.Get(), "unknown_queue", "a:b\n"), qmos::S_FALSE);
  EXPECT_EQ(plugin->Publish(nullptr, nullptr), qmos::S_FALSE);
  EXPECT_TRUE(TraceHas("TVantiroImpl::Publish(): Queue=[MC_HOLD_CALL] Data=[call_id:7\n]"));
  EXPECT_EQ(plugin->Terminate(), qmos::S_OK);
}

TEST_F(PluginTest, AfterTerminateEveryPublishIsAcceptedAndIgnored) {
  FakeHost host;
  auto plugin = NewPlugin();
  ASSERT_EQ(plugin->Initialize(&host), qmos::S_OK);
  EXPECT_EQ(plugin->Terminate(), qmos::S_OK);
  const std::size_t published = host.Publications().size();
  const std::string trace = TraceText();

  EXPECT_EQ(Publish(plugin.Get(), "unknown_queue", ""), qmos::S_OK);
  EXPECT_EQ(Publish(plugin.Get(), "mc_logged_out", "reason:restart\n"), qmos::S_OK);
  EXPECT_EQ(Publish(plugin.Get(), "service_lookup_response",
                    "service_name:multiplexor\nip_address:127.0.0.1\ntcp_port:1\n"),
            qmos::S_OK);
  EXPECT_EQ(host.Publications().size(), published);
  EXPECT_EQ(TraceText(), trace);
  EXPECT_TRUE(WaitUntil([] { return State().GetPluginThread() == nullptr; }));
}

TEST(PortText, DecimalUpToFirstNonDigitCutTo16Bits) {
  EXPECT_EQ(vantiro::PortFromText("7001"), 7001);
  EXPECT_EQ(vantiro::PortFromText("7001x9"), 7001);
  EXPECT_EQ(vantiro::PortFromText("x"), 0);
  EXPECT_EQ(vantiro::PortFromText(" +80"), 80);
  EXPECT_EQ(vantiro::PortFromText("65536"), 0);
  EXPECT_EQ(vantiro::PortFromText("65537"), 1);
  EXPECT_EQ(vantiro::PortFromText("-1"), 65535);
  EXPECT_EQ(vantiro::PortFromText("99999999999999999999"), 65535);  // 10^20 is a multiple of 2^16
}

// --- Late binding -------------------------------------------------------------------

qmos::DISPID IdOf(qmos::IDispatch* dispatch, const char* name) {
  std::u16string text = qmos::Utf8ToUtf16(name);
  qmos::LPOLESTR names[] = {text.data()};
  qmos::DISPID id = 0;
  const HRESULT hr = dispatch->GetIDsOfNames(qmos::IID_NULL, names, 1, 0, &id);
  return hr == qmos::S_OK ? id : qmos::DISPID_UNKNOWN;
}

HRESULT Call(qmos::IDispatch* dispatch, qmos::DISPID id, std::vector<qmos::VARIANT> argsLastFirst) {
  qmos::DISPPARAMS params{argsLastFirst.data(), nullptr, static_cast<qmos::UINT>(argsLastFirst.size()), 0};
  qmos::EXCEPINFO info{};
  qmos::UINT argErr = 0;
  const HRESULT hr = dispatch->Invoke(id, qmos::IID_NULL, 0, qmos::DISPATCH_METHOD, &params, nullptr,
                                      &info, &argErr);
  qmos::SysFreeString(info.bstrSource);
  qmos::SysFreeString(info.bstrDescription);
  qmos::SysFreeString(info.bstrHelpFile);
  for (auto& v : argsLastFirst) qmos::VariantClear(&v);
  return hr;
}

TEST_F(PluginTest, EveryMethodIsReachableLateBound) {
  auto plugin = NewPlugin();
  ComPtr<qmos::IDispatch> dispatch;
  ASSERT_EQ(plugin.As(qmos::IID_IDispatch, dispatch), qmos::S_OK);
  const char* methods[] = {"Initialize", "Terminate", "HasGUI", "PlugInInfo", "Publish"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(IdOf(dispatch.Get(), methods[i]), 0x60020000 + i) << methods[i];
  // A script reaches only this IDispatch: the menu's members answer through it too,
  // moved up out of the first interface's numbers.
  EXPECT_EQ(IdOf(dispatch.Get(), "GetMenuStructure"), 0x60030000);
  EXPECT_EQ(IdOf(dispatch.Get(), "menuoptionselected"), 0x60030001);
  EXPECT_EQ(IdOf(dispatch.Get(), "NoSuchMember"), qmos::DISPID_UNKNOWN);

  FakeHost host;
  EXPECT_EQ(Call(dispatch.Get(), 0x60020000, {qmos::VariantFromUnknown(&host)}), qmos::S_OK);
  EXPECT_EQ(host.Subscriptions(), kQueues);
  EXPECT_EQ(Call(dispatch.Get(), 0x60020002, {}), qmos::S_FALSE);

  qmos::BSTR texts[4] = {};
  EXPECT_EQ(Call(dispatch.Get(), 0x60020003,
                 {qmos::VariantByRef(qmos::VT_BSTR, &texts[3]), qmos::VariantByRef(qmos::VT_BSTR, &texts[2]),
                  qmos::VariantByRef(qmos::VT_BSTR, &texts[1]), qmos::VariantByRef(qmos::VT_BSTR, &texts[0])}),
            qmos::S_OK);
  EXPECT_EQ(qmos::BstrToUtf8(texts[0]), "Vantiro Backend");
  EXPECT_EQ(qmos::BstrToUtf8(texts[3]), "");
  for (qmos::BSTR b : texts) qmos::SysFreeString(b);

  EXPECT_EQ(Call(dispatch.Get(), 0x60020004,
                 {qmos::VariantFromBstr(qmos::BstrFromUtf8("")), qmos::VariantFromBstr(qmos::BstrFromUtf8("nope"))}),
            qmos::S_FALSE);
  EXPECT_EQ(Call(dispatch.Get(), 0x60020001, {}), qmos::S_OK);
  EXPECT_TRUE(WaitUntil([] { return State().GetPluginThread() == nullptr; }));

  // An initialisation failure reaches the late-bound caller as an exception.
  auto second = NewPlugin();
  ComPtr<qmos::IDispatch> secondDispatch;
  ASSERT_EQ(second.As(qmos::IID_IDispatch, secondDispatch), qmos::S_OK);
  EXPECT_EQ(Call(secondDispatch.Get(), 0x60020000, {qmos::VariantFromUnknown(nullptr)}),
            qmos::DISP_E_EXCEPTION);

  ComPtr<IQMViewerMenu> menu;
  ASSERT_EQ(plugin.As(quillmere::IID_IQMViewerMenu, menu), qmos::S_OK);
  EXPECT_EQ(IdOf(menu.Get(), "GetMenuStructure"), 0x60020000);
  EXPECT_EQ(IdOf(menu.Get(), "MenuOptionSelected"), 0x60020001);
  EXPECT_EQ(IdOf(menu.Get(), "Publish"), qmos::DISPID_UNKNOWN);
  qmos::BSTR structure = nullptr;
  EXPECT_EQ(Call(menu.Get(), 0x60020000, {qmos::VariantByRef(qmos::VT_BSTR, &structure)}), qmos::S_OK);
  EXPECT_EQ(qmos::BstrToUtf8(structure),
            "Connection->Login:1200\nConnection->Login As Another Profile:1203\nConnection->Logout:1201\n");
  qmos::SysFreeString(structure);
  // Terminated: every choice, known or not, is accepted and does nothing.
  EXPECT_EQ(Call(menu.Get(), 0x60020001, {qmos::VariantFromI2(1202)}), qmos::S_OK);
  EXPECT_EQ(Call(dispatch.Get(), 0x60030001, {qmos::VariantFromI4(1202)}), qmos::S_OK);
  EXPECT_EQ(Call(dispatch.Get(), 0x60030001, {qmos::VariantFromBstr(qmos::BstrFromUtf8("x"))}),
            qmos::DISP_E_TYPEMISMATCH);
}

}  // namespace
}  // namespace plugin_test
