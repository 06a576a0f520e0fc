// The form: its controls, modal showing through the presenter, the actions a
// person would apply, and what an observer sees.
#include "qmos/form.h"

#include <algorithm>

#include "qmos/application.h"

namespace qmos {

std::string ActionResult::Message() const {
  const std::string subject = "control " + control;
  switch (failure) {
    case ActionFailure::None: return "";
    case ActionFailure::FormClosed: return "the form is already closed";
    case ActionFailure::NoSuchControl: return "no " + subject;
    case ActionFailure::WrongKind: return subject + " does not take this action";
    case ActionFailure::Hidden: return subject + " is hidden";
    case ActionFailure::Disabled: return subject + " is disabled";
    case ActionFailure::NotEditable: return subject + " takes no typed text";
    case ActionFailure::NoSuchItem: return subject + " has no such item";
  }
  return "";
}

void Form::Adopt(std::unique_ptr<Control> control) {
  if (control->Name().empty()) throw std::invalid_argument("a control needs a name");
  if (Find(control->Name()) != nullptr) {
    throw std::invalid_argument("a control named " + control->Name() + " is already on the form");
  }
  control->zOrder_ = ++topZOrder_;
  controls_.push_back(std::move(control));
}

Control* Form::Find(const std::string& name) const {
  for (const auto& control : controls_) {
    if (control->Name() == name) return control.get();
  }
  return nullptr;
}

std::vector<Control*> Form::Controls() const {
  std::vector<Control*> all;
  for (const auto& control : controls_) all.push_back(control.get());
  return all;
}

Button* Form::DefaultButton() const {
  for (const auto& control : controls_) {
    auto* button = dynamic_cast<Button*>(control.get());
    if (button != nullptr && button->isDefault) return button;
  }
  return nullptr;
}

Button* Form::CancelButton() const {
  for (const auto& control : controls_) {
    auto* button = dynamic_cast<Button*>(control.get());
    if (button != nullptr && button->isCancel) return button;
  }
  return nullptr;
}

int Form::CancelResult() const {
  const Button* cancel = CancelButton();
  return cancel != nullptr && cancel->modalResult != mrNone ? cancel->modalResult : mrCancel;
}

bool Form::PressCancel() {
  if (modalResult_ != mrNone) return true;
  Button* cancel = CancelButton();
  if (cancel != nullptr && cancel->visible && cancel->enabled) cancel->Click();
  return modalResult_ != mrNone;
}

int Form::CloseByCancel() {
  // Pressed once: a handler that keeps the form open is not asked again, so the
  // form closes in bounded time whatever the handler does.
  if (!PressCancel()) modalResult_ = CancelResult();
  return modalResult_;
}

int Form::ShowModal() {
  Application& app = Application::Instance();
  int result = mrNone;
  const bool shown = app.Synchronize([&] {
    modalResult_ = mrNone;
    const int answer = app.CurrentPresenter()->ShowForm(*this);
    if (answer != mrNone) modalResult_ = answer;
    result = CloseByCancel();
  });
  return shown ? result : mrNone;
}

Control* Form::Usable(const std::string& name, std::initializer_list<ControlKind> kinds,
                      ActionResult& result) const {
  result.control = name;
  Control* control = Find(name);
  if (modalResult_ != mrNone) {
    result.failure = ActionFailure::FormClosed;
  } else if (control == nullptr) {
    result.failure = ActionFailure::NoSuchControl;
  } else if (std::find(kinds.begin(), kinds.end(), control->Kind()) == kinds.end()) {
    result.failure = ActionFailure::WrongKind;
  } else if (!control->visible) {
    result.failure = ActionFailure::Hidden;
  } else if (!control->enabled) {
    result.failure = ActionFailure::Disabled;
  } else {
    return control;
  }
  return nullptr;
}

ActionResult Form::TypeText(const std::string& name, const std::string& text) {
  ActionResult result;
  Control* control = Usable(name, {ControlKind::Edit, ControlKind::ComboBox}, result);
  if (auto* edit = dynamic_cast<Edit*>(control)) {
    edit->TypeText(text);
  } else if (auto* combo = dynamic_cast<ComboBox*>(control)) {
    if (combo->Style() == ComboStyle::DropDownList) {
      result.failure = ActionFailure::NotEditable;
    } else {
      combo->UserType(text);
    }
  }
  return result;
}

ActionResult Form::SetChecked(const std::string& name, bool checked) {
  ActionResult result;
  if (auto* box = dynamic_cast<CheckBox*>(Usable(name, {ControlKind::CheckBox}, result))) {
    box->SetChecked(checked);
  }
  return result;
}

ActionResult Form::SelectItem(const std::string& name, const std::string& text) {
  ActionResult result;
  if (auto* combo = dynamic_cast<ComboBox*>(Usable(name, {ControlKind::ComboBox}, result))) {
    const int index = combo->IndexOf(text);
    if (index < 0) {
      result.failure = ActionFailure::NoSuchItem;
    } else {
      combo->UserSelect(index);
    }
  }
  return result;
}

ActionResult Form::Click(const std::string& name) {
  ActionResult result;
  Control* control = Usable(name, {ControlKind::Button, ControlKind::CheckBox}, result);
  if (auto* button = dynamic_cast<Button*>(control)) {
    button->Click();
  } else if (auto* box = dynamic_cast<CheckBox*>(control)) {
    box->SetChecked(!box->Checked());
  }
  return result;
}

FormState Form::Observe() const {
  FormState state{className_, caption, modalResult_, {}};
  for (const auto& control : controls_) {
    ControlState entry;
    entry.name = control->Name();
    entry.kind = ControlKindName(control->Kind());
    entry.text = control->ObservedText();
    entry.visible = control->visible;
    entry.enabled = control->enabled;
    entry.hint = control->hint;
    if (const auto* box = dynamic_cast<const CheckBox*>(control.get())) {
      entry.checked = box->Checked();
    } else if (const auto* combo = dynamic_cast<const ComboBox*>(control.get())) {
      entry.items = combo->Items();
      entry.style = ComboStyleName(combo->Style());
    }
    state.controls.push_back(std::move(entry));
  }
  return state;
}

}  // namespace qmos
