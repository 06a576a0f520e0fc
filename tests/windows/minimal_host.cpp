// minimal_host: the smallest Windows client of the plug-in, with a person at the
// screen. It installs no presenter, so the plug-in shows its forms as the system's
// own windows, and it uses nothing of the project but the plug-in contract: plain
// COM activation by ProgID, a callback object of its own, a message loop.
//
//   minimal_host [KEY=VALUE ...] [--service=NAME=HOST:PORT ...] [--type=PASSWORD]
//
// KEY=VALUE are the plug-in's settings (kept in memory); a service lookup for NAME is
// answered with HOST and PORT. A second thread acts as the person: it waits for the
// login dialog, types PASSWORD into both password boxes and presses Enter. The
// program ends with status 0 once the plug-in says the user is logged in
// ("mc_logged_in"), with 1 on time-out and 2 when the dialog could not be answered.
// What happens is printed on standard output, one line each.
#include "qmos/window_names.h"
#include "quillmere/qm_viewer.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>

namespace {

constexpr UINT kDeliver = WM_APP + 1;  // the plug-in published: deliver on the main thread
constexpr UINT kGiveUp = WM_APP + 2;   // the person could not answer the dialog; wParam: status
constexpr UINT kRunMs = 90000;         // the whole run, login included
constexpr auto kDialogWait = std::chrono::seconds(60);
constexpr auto kCloseWait = std::chrono::seconds(20);

std::atomic<bool> g_ending{false};
DWORD g_mainThread = 0;  // the thread of the message loop

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                             wide.data(), static_cast<int>(wide.size()))));
  return wide;
}

std::string Narrow(const wchar_t* text, int length) {
  std::string narrow(static_cast<std::size_t>(length) * 3, '\0');
  narrow.resize(static_cast<std::size_t>(::WideCharToMultiByte(CP_UTF8, 0, text, length, narrow.data(),
                                                               static_cast<int>(narrow.size()), nullptr, nullptr)));
  return narrow;
}

// The contract's strings are the system's BSTRs, its characters UTF-16.
std::string Text(qmos::BSTR text) {
  auto* wide = reinterpret_cast<::BSTR>(text);
  return wide == nullptr ? std::string() : Narrow(wide, static_cast<int>(::SysStringLen(wide)));
}

qmos::BSTR Bstr(const std::string& text) {
  const std::wstring wide = Wide(text);
  return reinterpret_cast<qmos::BSTR>(::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
}

// The value of "key:value" in queue data (lines ended by a line feed).
std::string Field(const std::string& data, const std::string& key) {
  for (std::size_t at = 0; at < data.size();) {
    const std::size_t end = std::min(data.find('\n', at), data.size());
    if (data.compare(at, key.size() + 1, key + ":") == 0)
      return data.substr(at + key.size() + 1, end - at - key.size() - 1);
    at = end + 1;
  }
  return "";
}

// The client's side of the contract. Publications may come from any thread; they
// are delivered on the main thread, through its window, as a client's loop does.
class Host final : public quillmere::IQMViewerBase {
 public:
  std::map<std::string, std::string> settings;
  std::map<std::string, std::string> services;  // name -> "HOST:PORT"
  HWND window = nullptr;

  // The contract's calling convention is COM's (__stdcall on 32-bit Windows).
  // Lives as long as the program: the counts are not kept.
  qmos::HRESULT QMOS_COM_CALL QueryInterface(const qmos::IID& riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    const bool known =
        qmos::IsEqualIID(riid, qmos::IID_IUnknown) || qmos::IsEqualIID(riid, quillmere::IID_IQMViewerBase);
    *out = known ? this : nullptr;
    return known ? S_OK : E_NOINTERFACE;
  }
  qmos::ULONG QMOS_COM_CALL AddRef() override { return 2; }
  qmos::ULONG QMOS_COM_CALL Release() override { return 1; }

  qmos::HRESULT QMOS_COM_CALL NumMsgs(qmos::LONG, qmos::LONG, qmos::LONG, qmos::LONG, qmos::LONG, qmos::LONG) override {
    return S_OK;
  }
  qmos::HRESULT QMOS_COM_CALL SetStatusBarText(qmos::BSTR) override { return S_OK; }
  qmos::HRESULT QMOS_COM_CALL Alert(qmos::BSTR) override { return S_OK; }
  qmos::HRESULT QMOS_COM_CALL SetVisibleStatus(qmos::SHORT) override { return S_OK; }
  qmos::HRESULT QMOS_COM_CALL MenuEnableDisable(qmos::SHORT, qmos::SHORT) override { return E_NOTIMPL; }
  qmos::HRESULT QMOS_COM_CALL MenuCheck(qmos::SHORT, qmos::SHORT) override { return E_NOTIMPL; }
  qmos::HRESULT QMOS_COM_CALL SetInfoAvailable() override { return S_OK; }
  qmos::HRESULT QMOS_COM_CALL ClearInfoAvailable() override { return S_OK; }
  qmos::HRESULT QMOS_COM_CALL ClearAllInfoAvailable() override { return S_OK; }

  qmos::HRESULT QMOS_COM_CALL Publish(qmos::BSTR queue, qmos::BSTR data) override {
    WithLock([&] { published_.emplace_back(Text(queue), Text(data)); });
    return ::PostMessageW(window, kDeliver, 0, 0) ? S_OK : E_FAIL;
  }
  qmos::HRESULT QMOS_COM_CALL Subscribe(qmos::BSTR queue) override {
    return WithLock([&] { subscribed_.insert(Text(queue)); });
  }
  qmos::HRESULT QMOS_COM_CALL PutData(qmos::BSTR key, qmos::BSTR data) override {
    return WithLock([&] { settings[Text(key)] = Text(data); });
  }
  qmos::HRESULT QMOS_COM_CALL DeleteData(qmos::BSTR key) override {
    return WithLock([&] { settings.erase(Text(key)); });
  }
  qmos::HRESULT QMOS_COM_CALL GetData(qmos::BSTR key, qmos::BSTR* data) override {
    if (data == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = settings.find(Text(key));
    *data = found == settings.end() ? nullptr : Bstr(found->second);
    if (found == settings.end()) return S_FALSE;
    return *data != nullptr ? S_OK : E_OUTOFMEMORY;
  }

  // Main thread: hands each publication to the plug-in when it subscribed to its
  // queue and answers the service lookups it knows. One at a time, as a delivery may
  // run a modal loop that comes back here. True once the user is logged in.
  bool Deliver(quillmere::IQMViewerPlugin& plugin) {
    bool loggedIn = false;
    for (;;) {
      std::pair<std::string, std::string> next;
      bool subscribed = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (published_.empty()) return loggedIn;
        next = std::move(published_.front());
        published_.pop_front();
        subscribed = subscribed_.count(next.first) != 0;
      }
      const auto& [queue, data] = next;
      Say("published " + queue);
      if (subscribed) PublishTo(plugin, queue, data);
      const auto service = services.find(Field(data, "service_name"));
      if (queue == "service_lookup_request" && service != services.end()) {
        const std::size_t colon = service->second.rfind(':');
        PublishTo(plugin, "service_lookup_response",
                  "service_name:" + service->first + "\nip_address:" + service->second.substr(0, colon) +
                      "\ntcp_port:" + service->second.substr(colon + 1) + "\n");
      }
      loggedIn = loggedIn || queue == "mc_logged_in";
    }
  }

 private:
  qmos::HRESULT QMOS_COM_CALL WithLock(const std::function<void()>& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change();
    return S_OK;
  }

  static void PublishTo(quillmere::IQMViewerPlugin& plugin, const std::string& queue, const std::string& data) {
    const qmos::BSTR name = Bstr(queue);
    const qmos::BSTR text = Bstr(data);
    plugin.Publish(name, text);
    ::SysFreeString(reinterpret_cast<::BSTR>(name));
    ::SysFreeString(reinterpret_cast<::BSTR>(text));
  }

  std::mutex mutex_;  // guards settings, published_ and subscribed_
  std::deque<std::pair<std::string, std::string>> published_;
  std::set<std::string> subscribed_;
};

Host g_host;
quillmere::IQMViewerPlugin* g_plugin = nullptr;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kDeliver && g_plugin != nullptr && g_host.Deliver(*g_plugin)) ::PostQuitMessage(0);
  if (message == kGiveUp) ::PostQuitMessage(static_cast<int>(wParam));
  if (message == WM_TIMER) {
    Say("timed out");
    ::PostQuitMessage(1);
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

// Polls until found returns true, the time is up or the program ends.
bool WaitUntil(const std::function<bool()>& found, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!found()) {
    if (g_ending.load() || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[128];
  return std::wstring(name, static_cast<std::size_t>(std::max(::GetClassNameW(window, name, 128), 0)));
}

// Window enumeration calls these with the search as context (named CALLBACK
// functions: a lambda would not have the 32-bit system's calling convention).
BOOL CALLBACK MatchLoginDialog(HWND window, LPARAM context) {
  if (!::IsWindowVisible(window) || ClassOf(window) != L"TInputPasswordForm") return TRUE;
  *reinterpret_cast<HWND*>(context) = window;
  return FALSE;
}

using ControlSearch = std::pair<std::wstring, HWND>;  // the control name, the window found

BOOL CALLBACK MatchControl(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<ControlSearch*>(context);
  wchar_t text[256];
  const auto atom = static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(::GetPropW(window, qmos::kControlNameProperty)));
  if (atom == 0 || std::wstring(text, ::GlobalGetAtomNameW(atom, text, 256)) != search.first) return TRUE;
  search.second = window;
  return FALSE;
}

HWND FindLoginDialog() {
  HWND found = nullptr;
  ::EnumWindows(&MatchLoginDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

// The child of dialog whose window carries the control name name.
HWND FindControl(HWND dialog, const std::wstring& name) {
  ControlSearch search{name, nullptr};
  ::EnumChildWindows(dialog, &MatchControl, reinterpret_cast<LPARAM>(&search));
  return search.second;
}

// The person at the screen, on a thread of its own.
void Person(const std::string& password) {
  const auto giveUp = [](const std::string& why) {
    Say("person: " + why);
    ::PostMessageW(g_host.window, kGiveUp, 2, 0);
  };
  HWND dialog = nullptr;
  if (!WaitUntil([&] { return (dialog = FindLoginDialog()) != nullptr; }, kDialogWait))
    return giveUp("no login dialog");
  wchar_t title[256];
  // A window of its own on the desktop, run by the client's loop (the main thread).
  const bool topLevel = ::GetAncestor(dialog, GA_PARENT) == ::GetDesktopWindow();
  const bool mainThread = ::GetWindowThreadProcessId(dialog, nullptr) == g_mainThread;
  Say("dialog \"" + Narrow(title, ::GetWindowTextW(dialog, title, 256)) + "\" top_level " + (topLevel ? "1" : "0") +
      " main_thread " + (mainThread ? "1" : "0"));
  HWND typed = FindControl(dialog, L"edtPassword"), verify = FindControl(dialog, L"edtVerify");
  HWND ok = FindControl(dialog, L"Button1");
  if (typed == nullptr || verify == nullptr || ok == nullptr) return giveUp("the dialog lacks its controls");
  const auto sayOk = [ok] { Say(std::string("ok_enabled ") + (::IsWindowEnabled(ok) ? "1" : "0")); };
  sayOk();
  const std::wstring text = Wide(password);
  for (HWND box : {typed, verify}) {
    ::SendMessageW(box, EM_SETSEL, 0, -1);
    ::SendMessageW(box, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
  }
  sayOk();
  // Enter goes where the keyboard is: the dialog's focused control.
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  const bool focused = ::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &info) &&
                       info.hwndFocus != nullptr && ::IsChild(dialog, info.hwndFocus);
  HWND target = focused ? info.hwndFocus : verify;
  ::PostMessageW(target, WM_KEYDOWN, VK_RETURN, 1);  // as the keyboard sends it: repeat count 1
  ::PostMessageW(target, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC0000001u));
  if (!WaitUntil([&] { return !::IsWindowVisible(dialog); }, kCloseWait)) return giveUp("the dialog stayed open");
  Say("closed");
}

}  // namespace

int main(int argc, char** argv) {
  std::string password;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::size_t equals = arg.find('=', arg.rfind("--service=", 0) == 0 ? 10 : 0);
    if (arg.rfind("--type=", 0) == 0) {
      password = arg.substr(7);
    } else if (arg.rfind("--service=", 0) == 0 && equals != std::string::npos) {
      g_host.services[arg.substr(10, equals - 10)] = arg.substr(equals + 1);
    } else if (equals != std::string::npos && equals > 0) {
      g_host.settings[arg.substr(0, equals)] = arg.substr(equals + 1);
    } else {
      Say("usage: minimal_host [KEY=VALUE ...] [--service=NAME=HOST:PORT ...] [--type=PASSWORD]");
      return 2;
    }
  }
  g_mainThread = ::GetCurrentThreadId();
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &MainWindowProc;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = L"MinimalQuillmereClient";
  ::RegisterClassExW(&windowClass);
  g_host.window = ::CreateWindowExW(0, windowClass.lpszClassName, L"Quillmere Client", WS_OVERLAPPEDWINDOW,
                                    CW_USEDEFAULT, CW_USEDEFAULT, 480, 320, nullptr, nullptr, windowClass.hInstance,
                                    nullptr);
  if (g_host.window == nullptr) return 3;
  ::ShowWindow(g_host.window, SW_SHOWNORMAL);

  CLSID clsid{};
  void* made = nullptr;
  HRESULT hr = ::CLSIDFromProgID(L"VantiroPlugin.Vantiro", &clsid);
  if (SUCCEEDED(hr))
    hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
                            reinterpret_cast<const ::IID&>(quillmere::IID_IQMViewerPlugin), &made);
  if (FAILED(hr)) {
    Say("cannot activate VantiroPlugin.Vantiro: " + std::to_string(hr));
    return 3;
  }
  g_plugin = static_cast<quillmere::IQMViewerPlugin*>(made);
  std::thread person(Person, password);
  ::SetTimer(g_host.window, 1, kRunMs, nullptr);
  hr = g_plugin->Initialize(&g_host);
  Say("initialized " + std::to_string(hr));

  MSG message;
  int status = 1;
  while (SUCCEEDED(hr)) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      status = got == 0 ? static_cast<int>(message.wParam) : 1;
      break;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  if (status == 0) Say("logged_in");
  g_ending.store(true);
  person.join();
  if (SUCCEEDED(hr)) g_plugin->Terminate();
  quillmere::IQMViewerPlugin* plugin = std::exchange(g_plugin, nullptr);
  plugin->Release();
  ::DestroyWindow(g_host.window);
  ::CoUninitialize();
  return status;
}
