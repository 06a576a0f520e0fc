// The system's windows for a host without a presenter: the system's message box
// and the caption, restore and bring-to-front of the host's main window
// (Application::MainWindow; with none, a box has no owner and the rest draw
// nothing). Forms are shown by ui/win32/form_window.cpp.
#include "app/system_presenter.h"
#include "core/wide_text.h"
#include "qmos/application.h"

#include <windows.h>
#include <commctrl.h>

namespace qmos::detail {

namespace {

HWND MainWindow() { return static_cast<HWND>(Application::Instance().MainWindow()); }

// The width a window needs for its whole caption: the text in the caption font,
// the close button and the frame on both sides.
int CaptionWidth(HWND window) {
  wchar_t caption[512] = {};
  const int length = ::GetWindowTextW(window, caption, 512);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (length <= 0 || !::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return 0;
  HDC dc = ::GetDC(window);
  HFONT font = ::CreateFontIndirectW(&metrics.lfCaptionFont);
  HGDIOBJ old = ::SelectObject(dc, font);
  SIZE size{};
  ::GetTextExtentPoint32W(dc, caption, length, &size);
  ::SelectObject(dc, old);
  ::DeleteObject(font);
  ::ReleaseDC(window, dc);
  const int frame = ::GetSystemMetrics(SM_CXDLGFRAME) + ::GetSystemMetrics(SM_CXBORDER);
  return size.cx + 2 * ::GetSystemMetrics(SM_CXSIZE) + 2 * frame;
}

// A box sized by its text and buttons alone (as some systems size it) is widened
// for its caption just before it shows, when its controls have their places: they
// move to stay centred, and the box to stay where it was centred.
void WidenForCaption(HWND box) {
  RECT bounds{};
  ::GetWindowRect(box, &bounds);
  const int grow = CaptionWidth(box) - (bounds.right - bounds.left);
  if (grow <= 0) return;
  for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    RECT place{};
    ::GetWindowRect(child, &place);
    ::MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&place), 2);
    ::SetWindowPos(child, nullptr, place.left + grow / 2, place.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ::SetWindowPos(box, nullptr, bounds.left - grow / 2, bounds.top, bounds.right - bounds.left + grow,
                 bounds.bottom - bounds.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

constexpr UINT_PTR kWidenSubclass = 1;

LRESULT CALLBACK WidenBoxOnShow(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  if (message == WM_SHOWWINDOW && wParam != 0) {
    ::RemoveWindowSubclass(box, WidenBoxOnShow, kWidenSubclass);
    WidenForCaption(box);
  }
  return ::DefSubclassProc(box, message, wParam, lParam);
}

// Watches the windows the thread makes during a message box for the box itself.
LRESULT CALLBACK WatchForBox(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    HWND window = reinterpret_cast<HWND>(wParam);
    wchar_t className[16] = {};
    ::GetClassNameW(window, className, 16);
    if (lstrcmpW(className, L"#32770") == 0) ::SetWindowSubclass(window, WidenBoxOnShow, kWidenSubclass, 0);
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

int SystemMessageBox(const std::string& text, const std::string& title, unsigned flags) {
  HHOOK hook = ::SetWindowsHookExW(WH_CBT, WatchForBox, nullptr, ::GetCurrentThreadId());
  const int result = ::MessageBoxW(MainWindow(), WideFromUtf8(text).c_str(), WideFromUtf8(title).c_str(), flags);
  if (hook != nullptr) ::UnhookWindowsHookEx(hook);
  return result;
}

void SystemCaptionChanged(const std::string& text) {
  if (HWND window = MainWindow()) ::SetWindowTextW(window, WideFromUtf8(text).c_str());
}

void SystemRestore() {
  HWND window = MainWindow();
  if (window != nullptr && ::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
}

void SystemBringToFront() {
  if (HWND window = MainWindow()) ::SetForegroundWindow(window);
}

}  // namespace qmos::detail
