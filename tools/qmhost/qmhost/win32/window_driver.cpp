// Driving the real windows on Windows: finding the form and the message box of this
// thread, acting on their controls with the messages a person's clicks and pastes
// produce, and reading back what they show. See window_driver.h.
#include <algorithm>
#include <cwctype>
#include <string>

#include "qmhost/event_writer.h"
#include "qmhost/form_actions.h"
#include "qmhost/form_event.h"
#include "qmhost/window_driver.h"
#include "qmos/application.h"
#include "qmos/edit.h"
#include "qmos/form.h"
#include "qmos/window_names.h"
#include "win32/utf16.h"

#include <windows.h>
#include <commctrl.h>

namespace qmhost {

namespace {

constexpr UINT kTickMs = 20;
constexpr UINT_PTR kTimerId = 1;
constexpr const wchar_t* kDriverClass = L"QmHostWindowDriver";
constexpr const wchar_t* kMainClass = L"QuillmereClientMain";
constexpr const wchar_t* kMessageBoxClass = L"#32770";

std::wstring Wide(const std::string& text) { return qmtools::WideFromUtf8(text); }
std::string Utf8(const std::wstring& text) { return qmtools::Utf8FromWide(text); }

std::wstring WindowText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[128];
  const int length = ::GetClassNameW(window, name, 128);
  std::wstring text(name, static_cast<std::size_t>(std::max(length, 0)));
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

bool Shown(HWND window) { return (::GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0; }

struct WindowSearch {
  std::wstring windowClass;
  const std::wstring* title;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
  auto& s = *reinterpret_cast<WindowSearch*>(context);
  if (!::IsWindowVisible(window) || ClassOf(window) != s.windowClass) return TRUE;
  if (s.title != nullptr && WindowText(window) != *s.title) return TRUE;
  s.found = window;
  return FALSE;
}

// The visible top-level window of this thread with that class (and title, when
// one is given).
HWND FindThreadWindow(const std::wstring& windowClass, const std::wstring* title) {
  WindowSearch search{windowClass, title, nullptr};
  for (wchar_t& c : search.windowClass) c = static_cast<wchar_t>(std::towlower(c));
  ::EnumThreadWindows(::GetCurrentThreadId(), &MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

using NamedWindows = std::vector<std::pair<std::string, HWND>>;

BOOL CALLBACK AddNamedWindow(HWND window, LPARAM context) {
  std::string name = qmos::ControlNameOfWindow(window);
  if (!name.empty()) reinterpret_cast<NamedWindows*>(context)->emplace_back(std::move(name), window);
  return TRUE;
}

// The form's controls, in the windows' (tab) order: each child carrying a name.
NamedWindows NamedControls(HWND form) {
  NamedWindows found;
  ::EnumChildWindows(form, &AddNamedWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

qmos::ControlKind KindOf(HWND window) {
  const std::wstring windowClass = ClassOf(window);
  if (windowClass == L"edit") return qmos::ControlKind::Edit;
  if (windowClass == L"combobox") return qmos::ControlKind::ComboBox;
  if (windowClass == L"static") return qmos::ControlKind::Label;
  const LONG type = ::GetWindowLongW(window, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_AUTOCHECKBOX || type == BS_CHECKBOX ? qmos::ControlKind::CheckBox : qmos::ControlKind::Button;
}

std::vector<std::string> ComboItems(HWND combo) {
  std::vector<std::string> items;
  const auto count = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const auto length = ::SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
    std::wstring item(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
    ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item.data()));
    item.resize(static_cast<std::size_t>(std::max<LRESULT>(length, 0)));
    items.push_back(Utf8(item));
  }
  return items;
}

struct TooltipSearch {
  HWND form;
  HWND tooltip;
};

BOOL CALLBACK MatchTooltip(HWND window, LPARAM context) {
  auto& s = *reinterpret_cast<TooltipSearch*>(context);
  if (::GetWindow(window, GW_OWNER) != s.form || ClassOf(window) != L"tooltips_class32") return TRUE;
  s.tooltip = window;
  return FALSE;
}

// The tooltip a form's window shows over control, "" when none.
std::string HintOf(HWND form, HWND control) {
  TooltipSearch search{form, nullptr};
  ::EnumThreadWindows(::GetCurrentThreadId(), &MatchTooltip, reinterpret_cast<LPARAM>(&search));
  if (search.tooltip == nullptr) return "";
  wchar_t text[1024] = {};
  TOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = form;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = text;
  ::SendMessageW(search.tooltip, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&tool));
  return Utf8(text);
}

// What the form's windows show, as the `form` event reports it.
qmos::FormState ObserveWindow(HWND form) {
  qmos::FormState state;
  wchar_t className[256];
  state.className = Utf8(std::wstring(className, static_cast<std::size_t>(std::max(::GetClassNameW(form, className, 256), 0))));
  state.caption = Utf8(WindowText(form));
  for (const auto& [name, window] : NamedControls(form)) {
    qmos::ControlState control;
    control.name = name;
    const qmos::ControlKind kind = KindOf(window);
    control.kind = qmos::ControlKindName(kind);
    control.text = Utf8(WindowText(window));
    if (kind == qmos::ControlKind::Edit && (::GetWindowLongW(window, GWL_STYLE) & ES_PASSWORD) != 0)
      control.text = std::string(static_cast<std::size_t>(qmos::CharacterCount(control.text)), '*');
    control.visible = Shown(window);
    control.enabled = ::IsWindowEnabled(window) != FALSE;
    if (kind == qmos::ControlKind::CheckBox) control.checked = ::SendMessageW(window, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (kind == qmos::ControlKind::ComboBox) {
      control.items = ComboItems(window);
      const bool list = (::GetWindowLongW(window, GWL_STYLE) & 3) == CBS_DROPDOWNLIST;
      control.style = list ? "DropDownList" : "DropDown";
    }
    control.hint = HintOf(form, window);
    state.controls.push_back(std::move(control));
  }
  return state;
}

// Applies one action to the form's windows as a person would; what stood in the way
// when it could not be done.
qmos::ActionResult ApplyToWindow(HWND form, const FormAction& action) {
  qmos::ActionResult result;
  result.control = action.control;
  HWND control = nullptr;
  for (const auto& [name, window] : NamedControls(form)) {
    if (name == action.control) control = window;
  }
  const qmos::ControlKind kind = control != nullptr ? KindOf(control) : qmos::ControlKind::Label;
  const bool typeable = kind == qmos::ControlKind::Edit || kind == qmos::ControlKind::ComboBox;
  bool kindFits = false;
  switch (action.kind) {
    case FormAction::Kind::Type: kindFits = typeable; break;
    case FormAction::Kind::Check: kindFits = kind == qmos::ControlKind::CheckBox; break;
    case FormAction::Kind::Select: kindFits = kind == qmos::ControlKind::ComboBox; break;
    case FormAction::Kind::Click:
      kindFits = kind == qmos::ControlKind::Button || kind == qmos::ControlKind::CheckBox;
      break;
  }
  if (!Shown(form)) {
    result.failure = qmos::ActionFailure::FormClosed;
  } else if (control == nullptr) {
    result.failure = qmos::ActionFailure::NoSuchControl;
  } else if (!kindFits) {
    result.failure = qmos::ActionFailure::WrongKind;
  } else if (!Shown(control)) {
    result.failure = qmos::ActionFailure::Hidden;
  } else if (!::IsWindowEnabled(control)) {
    result.failure = qmos::ActionFailure::Disabled;
  }
  if (!result.Ok()) return result;

  const std::wstring text = Wide(action.text);
  const bool list = kind == qmos::ControlKind::ComboBox && (::GetWindowLongW(control, GWL_STYLE) & 3) == CBS_DROPDOWNLIST;
  switch (action.kind) {
    case FormAction::Kind::Type: {
      if (list) {
        result.failure = qmos::ActionFailure::NotEditable;
        break;
      }
      // Into the box, everything selected, the text pasted over it.
      HWND box = kind == qmos::ControlKind::ComboBox ? ::GetWindow(control, GW_CHILD) : control;
      if (box == nullptr) box = control;
      ::SetFocus(box);
      ::SendMessageW(box, EM_SETSEL, 0, -1);
      ::SendMessageW(box, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
      break;
    }
    case FormAction::Kind::Select: {
      const auto index = ::SendMessageW(control, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                        reinterpret_cast<LPARAM>(text.c_str()));
      if (index == CB_ERR) {
        result.failure = qmos::ActionFailure::NoSuchItem;
        break;
      }
      ::SetFocus(control);
      ::SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
      ::SendMessageW(form, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(control), CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(control));
      break;
    }
    case FormAction::Kind::Check:
      if ((::SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED) != action.checked)
        ::SendMessageW(control, BM_CLICK, 0, 0);
      break;
    case FormAction::Kind::Click: ::SendMessageW(control, BM_CLICK, 0, 0); break;
  }
  return result;
}

// Presses a button of a message box (the click the box is told of): the one with
// the answer's identifier, else the box's default button.
void AnswerBox(HWND box, int answer) {
  HWND button = ::GetDlgItem(box, answer);
  if (button == nullptr) {
    const auto defaultId = ::SendMessageW(box, DM_GETDEFID, 0, 0);
    if (HIWORD(defaultId) == DC_HASDEFID) button = ::GetDlgItem(box, LOWORD(defaultId));
  }
  const int id = button != nullptr ? ::GetDlgCtrlID(button) : IDCANCEL;
  ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

}  // namespace

struct WindowDriver::State {
  // A window the driver is waiting for or acting on; the innermost is last.
  struct Task {
    bool box = false;
    std::wstring windowClass;
    std::wstring title;
    int answer = 0;  // boxes: the button to press, 0 for the person
    bool answered = false;
    // Forms:
    const std::vector<FormAction>* actions = nullptr;
    std::size_t next = 0;
    bool leftToPerson = false;
    bool busy = false;  // an action is being applied (a box it opened is nested)
    bool closing = false;
    bool escapePressed = false;
    HWND window = nullptr;
    std::string formName;
  };

  explicit State(EventWriter& writer) : events(writer) {}
  ~State() {
    if (driver != nullptr) ::DestroyWindow(driver);
  }

  static LRESULT CALLBACK DriverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kTimerId) {
      if (auto* self = reinterpret_cast<State*>(::GetWindowLongPtrW(window, GWLP_USERDATA))) self->Tick();
      return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
  }

  // Runs show with task on the stack, the timer running while any task is.
  int With(Task& task, const std::function<int()>& show) {
    if (driver == nullptr) MakeDriverWindow();
    tasks.push_back(&task);
    if (driver != nullptr && tasks.size() == 1) ::SetTimer(driver, kTimerId, kTickMs, nullptr);
    const int result = show();
    tasks.erase(std::find(tasks.begin(), tasks.end(), &task));
    if (driver != nullptr && tasks.empty()) ::KillTimer(driver, kTimerId);
    return result;
  }

  void MakeDriverWindow() {
    WNDCLASSEXW description{};
    description.cbSize = sizeof description;
    description.lpfnWndProc = &State::DriverProc;
    description.hInstance = ::GetModuleHandleW(nullptr);
    description.lpszClassName = kDriverClass;
    ::RegisterClassExW(&description);
    driver = ::CreateWindowExW(0, kDriverClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               ::GetModuleHandleW(nullptr), nullptr);
    if (driver != nullptr) ::SetWindowLongPtrW(driver, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }

  void Tick() {
    if (tasks.empty()) return;
    Task& task = *tasks.back();
    if (task.box) {
      if (task.answer == 0 || task.answered) return;
      if (HWND box = FindThreadWindow(task.windowClass, &task.title)) {
        task.answered = true;
        AnswerBox(box, task.answer);
      }
      return;
    }
    if (task.busy) return;
    if (task.window == nullptr) {
      task.window = FindThreadWindow(task.windowClass, &task.title);
      if (task.window == nullptr) return;
      events.Write("form", FormEventMembers(ObserveWindow(task.window), FormPhase::Shown));
    }
    if (!Shown(task.window)) return;  // closed: the form's loop is ending
    if (!task.closing && task.next < task.actions->size()) {
      const FormAction& action = (*task.actions)[task.next++];
      task.busy = true;
      const qmos::ActionResult done = ApplyToWindow(task.window, action);
      task.busy = false;
      if (!done.Ok()) {
        // Names the action and the control, never the text: it may be a password.
        events.Write("error", {{"message", "form " + task.formName + ": cannot " + FormActionVerb(action.kind) +
                                               ": " + done.Message() + "; closed by its cancel button"}});
        task.closing = true;
      }
      return;
    }
    if (task.leftToPerson && !task.closing) return;
    if (!task.escapePressed) {
      // Esc, where the focus is: the form's cancel button is pressed.
      task.escapePressed = true;
      HWND focus = ::GetFocus();
      ::PostMessageW(focus != nullptr && ::IsChild(task.window, focus) ? focus : task.window, WM_KEYDOWN, VK_ESCAPE, 1);
      return;
    }
    // Esc left it open: the close command, which closes it with its cancel result.
    ::SendMessageW(task.window, WM_CLOSE, 0, 0);
  }

  EventWriter& events;
  HWND driver = nullptr;
  std::vector<Task*> tasks;
};

WindowDriver::WindowDriver(EventWriter& events) : state_(std::make_unique<State>(events)) {}

WindowDriver::~WindowDriver() = default;

int WindowDriver::DriveMessageBox(const std::string& title, int answer, const std::function<int()>& show) {
  State::Task task;
  task.box = true;
  task.windowClass = kMessageBoxClass;
  task.title = Wide(title);
  task.answer = answer;
  return state_->With(task, show);
}

int WindowDriver::DriveForm(qmos::Form& form, const std::vector<FormAction>& actions, bool leftToPerson,
                            const std::function<int()>& show) {
  State::Task task;
  task.windowClass = Wide(form.ClassName());
  task.title = Wide(form.caption);
  task.actions = &actions;
  task.leftToPerson = leftToPerson;
  task.formName = form.ClassName();
  const int result = state_->With(task, show);
  // The window stays, hidden, while the form lives: what it shows now is what the
  // form closed with. A window never found (none could be made) is told from the form.
  if (task.window == nullptr || !::IsWindow(task.window)) {
    state_->events.Write("form", FormEventMembers(form.Observe(), FormPhase::Shown));
    state_->events.Write("form", FormEventMembers(form.Observe(), FormPhase::Closed));
    return result;
  }
  qmos::FormState closed = ObserveWindow(task.window);
  closed.modalResult = result;
  state_->events.Write("form", FormEventMembers(closed, FormPhase::Closed));
  return result;
}

std::string WindowDriver::MainWindowTitle() const {
  const auto window = static_cast<HWND>(qmos::Application::Instance().MainWindow());
  return window != nullptr ? Utf8(WindowText(window)) : "";
}

namespace {

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The host ends with quit or the end of its input, not with its window.
  if (message == WM_CLOSE) return 0;
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

bool OpenMainWindow(std::string& error) {
  WNDCLASSEXW description{};
  description.cbSize = sizeof description;
  description.lpfnWndProc = &MainWindowProc;
  description.hInstance = ::GetModuleHandleW(nullptr);
  description.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  description.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
  description.lpszClassName = kMainClass;
  ::RegisterClassExW(&description);
  qmos::Application& app = qmos::Application::Instance();
  HWND window = ::CreateWindowExW(0, kMainClass, Wide(app.Caption()).c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 640, 420, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  if (window == nullptr) {
    error = "--windows: the main window cannot be made (error " + std::to_string(::GetLastError()) +
            "; is there a display?)";
    return false;
  }
  ::ShowWindow(window, SW_SHOWNORMAL);
  ::UpdateWindow(window);
  app.SetMainWindow(window);
  return true;
}

}  // namespace qmhost
