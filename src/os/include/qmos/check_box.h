// A check box. Changing its state, by the user or by code, runs onClick as the
// window system does; setting the state it already has runs nothing.
//
// Owned by its Form (see control.h for ownership and threads).
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "qmos/control.h"

namespace qmos {

class CheckBox : public Control {
 public:
  std::string ObservedText() const override { return caption; }

  bool Checked() const { return checked_; }
  void SetChecked(bool checked);

  std::string caption;
  std::function<void()> onClick;

 private:
  friend class Form;
  CheckBox(Form& owner, std::string name)
      : Control(owner, std::move(name), ControlKind::CheckBox) {}
  bool checked_ = false;
};

}  // namespace qmos
