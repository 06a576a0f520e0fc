// The main queue's wake-up on Windows: a message-only window made on the main
// thread. Queuing a function posts it one message (only while none is on its way);
// the host's message loop dispatches it there, and the window runs what is queued.
#include <atomic>

// The library's own headers first: <windows.h> defines macros (MessageBox, MB_OK)
// that would rename what they declare.
#include "app/main_queue_wake.h"
#include "core/module_handle.h"
#include "qmos/application.h"

#include <windows.h>

namespace qmos {

namespace {

constexpr UINT kRunQueued = WM_APP + 1;
constexpr const wchar_t* kWindowClass = L"QmosMainQueue";

// The window of the current main thread, and whether a message to it is on its way.
// Both belong to the one application object of the process.
std::atomic<HWND> g_queueWindow{nullptr};
std::atomic<bool> g_wakePosted{false};

LRESULT CALLBACK QueueWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRunQueued) {
    Application::Instance().ProcessMessages();
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

HINSTANCE ThisModule() {
  return static_cast<HINSTANCE>(detail::ModuleHandleOf(reinterpret_cast<const void*>(&QueueWindowProc)));
}

HWND MakeQueueWindow() {
  static const ATOM windowClass = [] {
    WNDCLASSEXW description{};
    description.cbSize = sizeof description;
    description.lpfnWndProc = &QueueWindowProc;
    description.hInstance = ThisModule();
    description.lpszClassName = kWindowClass;
    return ::RegisterClassExW(&description);
  }();
  if (windowClass == 0) return nullptr;
  return ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), nullptr);
}

}  // namespace

namespace detail {

int MakeQueueWake() {
  g_queueWindow.store(MakeQueueWindow());
  return -1;
}

void MoveQueueWakeToThisThread() {
  HWND made = MakeQueueWindow();
  HWND previous = g_queueWindow.exchange(made);
  // A window can only be destroyed by its own thread: the earlier main thread closes
  // it when it next pumps its messages.
  if (previous != nullptr && previous != made) ::PostMessageW(previous, WM_CLOSE, 0, 0);
  // A message posted to the earlier window is lost with it.
  g_wakePosted.store(false);
}

}  // namespace detail

void Application::SignalWake() {
  if (g_wakePosted.exchange(true)) return;
  HWND window = g_queueWindow.load();
  if (window == nullptr || !::PostMessageW(window, kRunQueued, 0, 0)) g_wakePosted.store(false);
}

void Application::DrainWake() { g_wakePosted.store(false); }

}  // namespace qmos
