// The system's windows for a host without a presenter: the system's message box
// and the caption, restore and bring-to-front of the host's main window
// (Application::MainWindow; with none, a box has no owner and the rest draw
// nothing). Forms are shown by ui/win32/form_window.cpp.
#include "app/system_presenter.h"
#include "core/wide_text.h"
#include "qmos/application.h"

#include <windows.h>

namespace qmos::detail {

namespace {

HWND MainWindow() { return static_cast<HWND>(Application::Instance().MainWindow()); }

}  // namespace

int SystemMessageBox(const std::string& text, const std::string& title, unsigned flags) {
  return ::MessageBoxW(MainWindow(), WideFromUtf8(text).c_str(), WideFromUtf8(title).c_str(), flags);
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
