// The two ways between a form's windows and its model: a control's notification
// becomes the model's user action, as the window system tells it (a click, a text
// changed, an item chosen), and after each one the windows are brought up to the
// model (texts a handler rewrote, shown and enabled states, check marks, items,
// tooltips).
#include "core/wide_text.h"
#include "qmos/application.h"
// Last of ours: it brings <windows.h>.
#include "ui/win32/form_window.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>

namespace qmos::detail {

namespace {

// Characters of the model (code points) as positions in the window's UTF-16 text.
LPARAM WidePosition(const std::string& text, int characters) {
  return static_cast<LPARAM>(WideFromUtf8(FirstCharacters(text, characters)).size());
}

}  // namespace

ControlWindow* FormWindow::Find(HWND window) {
  for (ControlWindow& shown : controls_) {
    if (shown.window == window) return &shown;
  }
  return nullptr;
}

void FormWindow::Command(int id, int code, HWND from) {
  if (form_ == nullptr || refreshing_ || form_->ModalResult() != mrNone) return;
  if (UserAction(id, code, from)) Refresh();
}

bool FormWindow::UserAction(int id, int code, HWND from) {
  ControlWindow* shown = Find(from);
  if (shown == nullptr) {
    // Esc, and Enter with no default button: IDCANCEL and IDOK from the dialog keys.
    if (id == IDCANCEL) form_->PressCancel();
    Button* button = form_->DefaultButton();
    if (id == IDOK && button != nullptr && button->visible && button->enabled) button->Click();
    return id == IDCANCEL || id == IDOK;
  }
  Control& control = *shown->control;
  if (!control.visible || !control.enabled) return false;
  if (auto* button = dynamic_cast<Button*>(&control); button != nullptr && code == BN_CLICKED) {
    button->Click();
  } else if (auto* check = dynamic_cast<CheckBox*>(&control); check != nullptr && code == BN_CLICKED) {
    check->SetChecked(::SendMessageW(from, BM_GETCHECK, 0, 0) == BST_CHECKED);
  } else if (auto* edit = dynamic_cast<Edit*>(&control); edit != nullptr && code == EN_CHANGE) {
    edit->TypeText(Utf8FromWide(WindowText(from)));
  } else if (auto* combo = dynamic_cast<ComboBox*>(&control); combo != nullptr && code == CBN_SELCHANGE) {
    const auto index = ::SendMessageW(from, CB_GETCURSEL, 0, 0);
    const auto length = index == CB_ERR ? 0 : std::max<LRESULT>(::SendMessageW(from, CB_GETLBTEXTLEN, index, 0), 0);
    std::wstring item(static_cast<std::size_t>(length) + 1, L'\0');
    if (index != CB_ERR) ::SendMessageW(from, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(item.data()));
    item.resize(static_cast<std::size_t>(length));
    combo->UserSelect(combo->IndexOf(Utf8FromWide(item)));
  } else if (combo != nullptr && code == CBN_EDITCHANGE) {
    combo->UserType(Utf8FromWide(WindowText(from)));
  } else if (auto* label = dynamic_cast<Label*>(&control); label != nullptr && code == STN_CLICKED) {
    if (!label->url.empty()) Application::Instance().ShellOpen(label->url);
  } else {
    return false;  // a notification that changes nothing of the model
  }
  return true;
}

void FormWindow::Refresh() {
  if (form_ == nullptr) return;
  refreshing_ = true;
  SetWindowTextIfChanged(window_, form_->caption);
  for (ControlWindow& shown : controls_) RefreshControl(shown);
  refreshing_ = false;
}

void FormWindow::RefreshControl(ControlWindow& shown) {
  const Control& control = *shown.control;
  HWND window = shown.window;
  const bool visible = (::GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0;
  if (visible != control.visible) ::ShowWindow(window, control.visible ? SW_SHOWNA : SW_HIDE);
  if ((::IsWindowEnabled(window) != FALSE) != control.enabled) ::EnableWindow(window, control.enabled);

  if (const auto* edit = dynamic_cast<const Edit*>(&control)) {
    // A text the handler (or code) changed is put in with the model's caret; the
    // user's own caret is left alone otherwise.
    if (WindowText(window) != WideFromUtf8(edit->Text())) {
      ::SetWindowTextW(window, WideFromUtf8(edit->Text()).c_str());
      const LPARAM start = WidePosition(edit->Text(), edit->SelStart());
      const LPARAM end = WidePosition(edit->Text(), edit->SelStart() + edit->SelLength());
      ::SendMessageW(window, EM_SETSEL, static_cast<WPARAM>(start), end);
    }
  } else if (const auto* combo = dynamic_cast<const ComboBox*>(&control)) {
    RefreshItems(window, *combo);
  } else if (const auto* check = dynamic_cast<const CheckBox*>(&control)) {
    SetWindowTextIfChanged(window, check->caption);
    const WPARAM state = check->Checked() ? BST_CHECKED : BST_UNCHECKED;
    if (static_cast<WPARAM>(::SendMessageW(window, BM_GETCHECK, 0, 0)) != state)
      ::SendMessageW(window, BM_SETCHECK, state, 0);
  } else {
    SetWindowTextIfChanged(window, control.ObservedText());
  }

  const std::wstring hint = control.showHint ? WideFromUtf8(control.hint) : std::wstring();
  if (tooltip_ != nullptr && hint != shown.hint) {
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(window);
    tool.lpszText = const_cast<wchar_t*>(hint.c_str());
    ::SendMessageW(tooltip_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    if (!hint.empty()) ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    shown.hint = hint;
  }
}

void FormWindow::RefreshItems(HWND window, const ComboBox& combo) {
  const auto count = ::SendMessageW(window, CB_GETCOUNT, 0, 0);
  bool same = count == static_cast<LRESULT>(combo.Items().size());
  for (const std::string& item : combo.Items()) {
    if (!same) break;
    same = ::SendMessageW(window, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                          reinterpret_cast<LPARAM>(WideFromUtf8(item).c_str())) != CB_ERR;
  }
  if (!same) {
    ::SendMessageW(window, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : combo.Items())
      ::SendMessageW(window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(item).c_str()));
  }
  LRESULT selected = CB_ERR;
  if (combo.ItemIndex() >= 0) {
    selected = ::SendMessageW(window, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                              reinterpret_cast<LPARAM>(WideFromUtf8(combo.Items()[combo.ItemIndex()]).c_str()));
  }
  if (::SendMessageW(window, CB_GETCURSEL, 0, 0) != selected)
    ::SendMessageW(window, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  if (combo.Style() == ComboStyle::DropDown) SetWindowTextIfChanged(window, combo.Text());
}

}  // namespace qmos::detail
