// A form shown as a real modal window on Windows (what a host without a presenter
// gets). The window is built from the form's model: each control becomes the
// system's control of its kind, at its designed place and size, in its font, with
// its hint as a tooltip and in the tab order the model gives. The controls' own
// notifications are turned into the model's user actions (Edit::TypeText,
// CheckBox::SetChecked, ComboBox::UserSelect/UserType, Button::Click), so the
// dialog's handlers run exactly as for any other presenter; after each one the
// windows are brought up to the model again (texts a handler rewrote, enabled and
// visible states, items). Enter presses the default button, Esc the cancel button
// (Form::PressCancel), and the close command closes the form with its cancel result
// without running anything, as the toolkit's forms do.
//
// The window is owned by the host's main window (Application::MainWindow), which
// is disabled while the form is up. When the form closes the window is hidden, not
// destroyed: it stays, with what the user left in it, until the form goes (the
// form's peer), so a form shown again is the same window.
#include "app/system_presenter.h"
#include "core/module_handle.h"
#include "core/wide_text.h"
#include "qmos/application.h"
#include "qmos/window_names.h"
// Last of ours: it brings <windows.h>.
#include "ui/win32/form_window.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>

namespace qmos {

std::string ControlNameOfWindow(void* window) {
  const auto atom = static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(
      ::GetPropW(static_cast<HWND>(window), kControlNameProperty)));
  if (atom == 0) return "";
  wchar_t name[256];
  const UINT length = ::GlobalGetAtomNameW(atom, name, 256);
  return detail::Utf8FromWide(std::wstring(name, length));
}

namespace detail {

namespace {

constexpr UINT kDestroyRequest = WM_APP + 2;
constexpr int kFirstControlId = 1000;  // above IDOK and IDCANCEL, which Enter and Esc send
constexpr int kComboEditHeight = 21;

HINSTANCE ThisModule() {
  static const int anchor = 0;
  return static_cast<HINSTANCE>(ModuleHandleOf(&anchor));
}

COLORREF ColorRef(Color color) {
  return RGB((color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF);
}

// The window class of a form class, with this module's procedure. A class of that
// name left by an earlier load of the library (another procedure) is replaced.
bool RegisterFormClass(const std::wstring& name, WNDPROC procedure) {
  WNDCLASSEXW found{};
  found.cbSize = sizeof found;
  if (::GetClassInfoExW(ThisModule(), name.c_str(), &found)) {
    if (found.lpfnWndProc == procedure) return true;
    ::UnregisterClassW(name.c_str(), ThisModule());
  }
  WNDCLASSEXW description{};
  description.cbSize = sizeof description;
  description.lpfnWndProc = procedure;
  description.hInstance = ThisModule();
  description.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  description.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  description.lpszClassName = name.c_str();
  return ::RegisterClassExW(&description) != 0;
}

}  // namespace

std::unique_ptr<FormWindow> FormWindow::Make(Form& form) {
  static const bool commonControls = [] {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
    return ::InitCommonControlsEx(&classes) != FALSE;
  }();
  (void)commonControls;  // without them a form still shows, only without tooltips
  std::unique_ptr<FormWindow> made(new FormWindow());
  if (!made->Build(form)) return nullptr;
  return made;
}

bool FormWindow::Build(Form& form) {
  const std::wstring className = WideFromUtf8(form.ClassName());
  if (!RegisterFormClass(className, &FormWindow::WindowProc)) return false;

  DWORD style = WS_POPUP | WS_CLIPCHILDREN;
  DWORD exStyle = WS_EX_CONTROLPARENT;
  switch (form.borderStyle) {
    case BorderStyle::None: break;
    case BorderStyle::Single: style |= WS_CAPTION | WS_BORDER; break;
    case BorderStyle::Sizeable: style |= WS_OVERLAPPEDWINDOW; break;
    case BorderStyle::Dialog:
      style |= WS_CAPTION | DS_MODALFRAME;
      exStyle |= WS_EX_DLGMODALFRAME;
      break;
  }
  if (form.borderIcons && form.borderStyle != BorderStyle::None) style |= WS_SYSMENU;
  if (form.stayOnTop) exStyle |= WS_EX_TOPMOST;
  RECT frame{0, 0, form.clientWidth, form.clientHeight};
  ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;

  // Centred on the main window when the form asks for it and there is one, else on
  // the screen's work area.
  const auto owner = static_cast<HWND>(Application::Instance().MainWindow());
  RECT area{};
  if (form.position == FormPosition::MainFormCenter && owner != nullptr && ::IsWindowVisible(owner)) {
    ::GetWindowRect(owner, &area);
  } else {
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  const int x = std::max<int>(area.left, area.left + (area.right - area.left - width) / 2);
  const int y = std::max<int>(area.top, area.top + (area.bottom - area.top - height) / 2);

  window_ = ::CreateWindowExW(exStyle, className.c_str(), WideFromUtf8(form.caption).c_str(), style, x, y,
                              width, height, owner, nullptr, ThisModule(), this);
  if (window_ == nullptr) return false;
  ::SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(form.font)), FALSE);

  tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                               ThisModule(), nullptr);
  if (tooltip_ != nullptr) ::SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 400);

  // Made in tab order: the windows' order is the order Tab walks them in.
  std::vector<Control*> ordered = form.Controls();
  std::stable_sort(ordered.begin(), ordered.end(), [](const Control* a, const Control* b) {
    return std::tie(a->tabGroup, a->tabOrder) < std::tie(b->tabGroup, b->tabOrder);
  });
  int id = kFirstControlId;
  for (Control* control : ordered) {
    HWND made = MakeControl(*control, id++);
    if (made == nullptr) return false;
    const ATOM name = ::GlobalAddAtomW(WideFromUtf8(control->Name()).c_str());
    ::SetPropW(made, kControlNameProperty, reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(name)));
    controls_.push_back({control, made, L""});
  }
  return true;
}

HWND FormWindow::MakeControl(Control& control, int id) {
  const wchar_t* windowClass = L"STATIC";
  DWORD style = WS_CHILD;
  DWORD exStyle = 0;
  int height = control.height;
  switch (control.Kind()) {
    case ControlKind::Label:
      style |= SS_LEFT | SS_NOTIFY;
      break;
    case ControlKind::Edit: {
      const auto& edit = static_cast<const Edit&>(control);
      windowClass = L"EDIT";
      style |= WS_TABSTOP | ES_AUTOHSCROLL | (edit.passwordChar != '\0' ? ES_PASSWORD : 0);
      exStyle |= WS_EX_CLIENTEDGE;
      break;
    }
    case ControlKind::CheckBox:
      windowClass = L"BUTTON";
      style |= WS_TABSTOP | BS_AUTOCHECKBOX;
      break;
    case ControlKind::ComboBox: {
      const auto& combo = static_cast<const ComboBox&>(control);
      windowClass = L"COMBOBOX";
      style |= WS_TABSTOP | WS_VSCROLL | CBS_AUTOHSCROLL |
               (combo.Style() == ComboStyle::DropDownList ? CBS_DROPDOWNLIST : CBS_DROPDOWN) |
               (combo.Sorted() ? CBS_SORT : 0);
      // A combo box's height is its box and the list dropped below it.
      height = std::max(height, kComboEditHeight) + combo.dropDownCount * 14 + 2;
      break;
    }
    case ControlKind::Button: {
      const auto& button = static_cast<const Button&>(control);
      windowClass = L"BUTTON";
      style |= button.isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
      if (button.style != ButtonStyle::Speed) style |= WS_TABSTOP;  // a speed button takes no focus
      break;
    }
  }
  HWND made = ::CreateWindowExW(exStyle, windowClass, L"", style, control.left, control.top, control.width,
                                height, window_, reinterpret_cast<HMENU>(static_cast<std::intptr_t>(id)),
                                ThisModule(), nullptr);
  if (made == nullptr) return nullptr;
  ::SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(control.font)), FALSE);
  if (const auto* edit = dynamic_cast<const Edit*>(&control)) {
    if (edit->passwordChar != '\0')
      ::SendMessageW(made, EM_SETPASSWORDCHAR, static_cast<WPARAM>(static_cast<unsigned char>(edit->passwordChar)), 0);
    if (edit->maxLength > 0) ::SendMessageW(made, EM_LIMITTEXT, static_cast<WPARAM>(edit->maxLength), 0);
  }
  return made;
}

HFONT FormWindow::FontFor(const Font& font) {
  const auto key = std::make_tuple(font.name, font.size, font.bold, font.underline);
  if (const auto found = fonts_.find(key); found != fonts_.end()) return found->second;
  HDC screen = ::GetDC(nullptr);
  const int pixels = -::MulDiv(font.size, ::GetDeviceCaps(screen, LOGPIXELSY), 72);
  ::ReleaseDC(nullptr, screen);
  HFONT made = ::CreateFontW(pixels, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE, font.underline ? TRUE : FALSE,
                             FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_SWISS, WideFromUtf8(font.name).c_str());
  if (made == nullptr) made = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  fonts_[key] = made;
  return made;
}

FormWindow::~FormWindow() {
  for (const ControlWindow& shown : controls_) {
    const auto name = static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(::RemovePropW(shown.window, kControlNameProperty)));
    if (name != 0) ::GlobalDeleteAtom(name);
  }
  if (window_ != nullptr) {
    // Only the window's own thread may destroy it; from elsewhere it is asked to.
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    if (::GetCurrentThreadId() == thread_) {
      ::DestroyWindow(window_);
    } else {
      ::PostMessageW(window_, kDestroyRequest, 0, 0);
    }
  }
  for (const auto& entry : fonts_) {
    if (entry.second != ::GetStockObject(DEFAULT_GUI_FONT)) ::DeleteObject(entry.second);
  }
}

int FormWindow::Run(Form& form) {
  form_ = &form;
  Refresh();
  HWND owner = ::GetWindow(window_, GW_OWNER);
  const bool ownerWasEnabled = owner != nullptr && ::IsWindowEnabled(owner);
  if (ownerWasEnabled) ::EnableWindow(owner, FALSE);
  ::ShowWindow(window_, SW_SHOW);
  ::SetForegroundWindow(window_);
  if (HWND first = ::GetNextDlgTabItem(window_, nullptr, FALSE)) ::SetFocus(first);

  while (form.ModalResult() == mrNone && Alive()) {
    MSG message;
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      // The thread's loop is ending: the quit goes on to it, and the form is closed
      // by its cancel button (Form::ShowModal sees to that).
      ::PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (got == -1) break;
    if (!::IsDialogMessageW(window_, &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  // The owner first, so that it is the window activated when the form goes.
  if (ownerWasEnabled) ::EnableWindow(owner, TRUE);
  ::ShowWindow(window_, SW_HIDE);
  form_ = nullptr;
  return form.ModalResult();
}

LRESULT CALLBACK FormWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    auto* self = static_cast<FormWindow*>(creation->lpCreateParams);
    self->window_ = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (message == kDestroyRequest) {
    ::DestroyWindow(window);
    return 0;
  }
  auto* self = reinterpret_cast<FormWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

LRESULT FormWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return 0;
    case DM_GETDEFID:
      // Enter presses the default button (IsDialogMessage asks which it is).
      for (const ControlWindow& shown : controls_) {
        const auto* button = dynamic_cast<const Button*>(shown.control);
        if (button != nullptr && button->isDefault)
          return MAKELRESULT(::GetDlgCtrlID(shown.window), DC_HASDEFID);
      }
      return 0;
    case WM_CLOSE:
      // The close command (Alt+F4, the close box): closed with the cancel result,
      // nothing pressed.
      if (form_ != nullptr && form_->ModalResult() == mrNone) form_->SetModalResult(form_->CancelResult());
      return 0;
    case WM_ACTIVATE:
      // Back in the window, the focus returns to the control that had it.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = ::GetFocus();
        if (focus != nullptr && ::IsChild(window_, focus)) focus_ = focus;
      } else if (focus_ != nullptr && ::IsWindow(focus_)) {
        ::SetFocus(focus_);
        return 0;
      }
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      // A label's or a check box's own colour (a red status line, a blue link).
      const ControlWindow* shown = Find(reinterpret_cast<HWND>(lParam));
      if (shown == nullptr || shown->control->font.color == kColorBlack) break;
      auto* context = reinterpret_cast<HDC>(wParam);
      ::SetTextColor(context, ColorRef(shown->control->font.color));
      ::SetBkColor(context, ::GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
      window_ = nullptr;
      break;
    default: break;
  }
  return ::DefWindowProcW(window_, message, wParam, lParam);
}

std::wstring WindowText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

void SetWindowTextIfChanged(HWND window, const std::string& text) {
  const std::wstring wide = WideFromUtf8(text);
  if (WindowText(window) != wide) ::SetWindowTextW(window, wide.c_str());
}

int SystemShowForm(Form& form) {
  auto* shown = dynamic_cast<FormWindow*>(form.Peer());
  if (shown == nullptr || !shown->Alive()) {
    std::unique_ptr<FormWindow> made = FormWindow::Make(form);
    if (made == nullptr) {
      // No window could be made (no desktop to show it on): as without a window system.
      const int result = form.CloseByCancel();
      std::fprintf(stderr, "[%s] form %s -> no window could be made; closed by its cancel button (%d)\n",
                   form.caption.c_str(), form.ClassName().c_str(), result);
      return result;
    }
    shown = made.get();
    form.SetPeer(std::move(made));
  }
  return shown->Run(form);
}

}  // namespace detail

}  // namespace qmos
