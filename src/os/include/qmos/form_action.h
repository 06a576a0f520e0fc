// What came of an action applied to a form as a person would (type, check, select,
// click): done, or why not, with the control's name. A presenter reports a failed
// action and closes the form by its cancel button.
#pragma once

#include <string>

namespace qmos {

enum class ActionFailure {
  None,
  FormClosed,     // the form already has a modal result
  NoSuchControl,
  WrongKind,      // e.g. typing into a button
  Hidden,
  Disabled,
  NotEditable,    // typing into a DropDownList combo box
  NoSuchItem,     // choosing a text the combo box does not offer
};

struct ActionResult {
  ActionFailure failure = ActionFailure::None;
  std::string control;

  bool Ok() const { return failure == ActionFailure::None; }
  explicit operator bool() const { return Ok(); }
  // "control edtProfile is disabled" and the like; "" when the action was done.
  std::string Message() const;
};

}  // namespace qmos
