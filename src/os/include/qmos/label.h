// A label: a caption the user reads. With a URL it is a hyperlink label, the
// carrier a dialog opens an address through (Application::ShellOpen).
//
// Owned by its Form (see control.h for ownership and threads).
#pragma once

#include <string>
#include <utility>

#include "qmos/control.h"

namespace qmos {

class Label : public Control {
 public:
  std::string ObservedText() const override { return caption; }

  std::string caption;
  std::string url;  // empty for a plain label

 private:
  friend class Form;
  Label(Form& owner, std::string name) : Control(owner, std::move(name), ControlKind::Label) {}
};

}  // namespace qmos
