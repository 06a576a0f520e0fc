// The controls' shared state and the simple kinds: labels, check boxes, buttons.
#include "qmos/button.h"
#include "qmos/check_box.h"
#include "qmos/control.h"
#include "qmos/form.h"
#include "qmos/label.h"

namespace qmos {

const char* ControlKindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::Label: return "Label";
    case ControlKind::Edit: return "Edit";
    case ControlKind::CheckBox: return "CheckBox";
    case ControlKind::ComboBox: return "ComboBox";
    case ControlKind::Button: return "Button";
  }
  return "";
}

Control::Control(Form& owner, std::string name, ControlKind kind)
    : owner_(owner), name_(std::move(name)), kind_(kind) {}

void Control::BringToFront() { zOrder_ = ++owner_.topZOrder_; }

void CheckBox::SetChecked(bool checked) {
  if (checked == checked_) return;
  checked_ = checked;
  if (onClick) onClick();
}

void Button::Click() {
  if (modalResult != mrNone) Owner().SetModalResult(modalResult);
  if (onClick) onClick();
}

}  // namespace qmos
