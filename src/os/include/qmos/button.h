// A button: push button, bitmap button (a push button with a glyph) or speed
// button (a small glyph button that never takes the focus). A button with a modal
// result closes its form with it when clicked; the default button answers Enter,
// the cancel button Esc, and is pressed when nobody answers the form (Form::CloseByCancel).
//
// Owned by its Form (see control.h for ownership and threads).
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "qmos/control.h"

namespace qmos {

enum class ButtonStyle { Push, Bitmap, Speed };

class Button : public Control {
 public:
  std::string ObservedText() const override { return caption; }

  // Presses the button as code would: the form's ModalResult becomes the button's
  // (when it has one), then onClick runs. The handler runs after, so it may set the
  // form's ModalResult back to 0 to keep the form open.
  void Click();

  std::string caption;
  ButtonStyle style = ButtonStyle::Push;
  int modalResult = 0;  // mrNone: clicking does not close the form
  bool isDefault = false;
  bool isCancel = false;
  std::function<void()> onClick;

 private:
  friend class Form;
  Button(Form& owner, std::string name) : Control(owner, std::move(name), ControlKind::Button) {}
};

}  // namespace qmos
