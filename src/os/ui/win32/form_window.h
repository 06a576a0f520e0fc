// The window of a form shown on Windows (see form_window.cpp): its making, its
// modal loop and message handling there, and in form_window_sync.cpp the two ways
// between the windows and the model (notifications become the model's user
// actions; the windows follow the model after each).
#pragma once

#include "qmos/form.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace qmos::detail {

struct ControlWindow {
  Control* control;
  HWND window;
  std::wstring hint;  // the tooltip's text now
};

class FormWindow final : public FormPeer {
 public:
  // Builds the window and its controls, hidden; nullptr when the system refuses.
  static std::unique_ptr<FormWindow> Make(Form& form);
  ~FormWindow() override;

  // Shows the form modally until it has a modal result (or the thread's loop is
  // told to quit) and returns that result.
  int Run(Form& form);
  bool Alive() const { return ::IsWindow(window_) != FALSE; }

 private:
  FormWindow() : thread_(::GetCurrentThreadId()) {}
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  bool Build(Form& form);
  HWND MakeControl(Control& control, int id);
  HFONT FontFor(const Font& font);
  ControlWindow* Find(HWND window);
  void Command(int id, int code, HWND from);
  // Turns a control's notification into the model's user action; false when it
  // was none (focus changes, updates before a change ...).
  bool UserAction(int id, int code, HWND from);
  void Refresh();
  void RefreshControl(ControlWindow& shown);
  void RefreshItems(HWND window, const ComboBox& combo);

  HWND window_ = nullptr;
  HWND tooltip_ = nullptr;
  HWND focus_ = nullptr;  // the control that had the focus when the window was left
  DWORD thread_;
  std::vector<ControlWindow> controls_;
  std::map<std::tuple<std::string, int, bool, bool>, HFONT> fonts_;
  Form* form_ = nullptr;  // while shown
  bool refreshing_ = false;
};

// A window's text, and the text set only when it differs.
std::wstring WindowText(HWND window);
void SetWindowTextIfChanged(HWND window, const std::string& text);

}  // namespace qmos::detail
