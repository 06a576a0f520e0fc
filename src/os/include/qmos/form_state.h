// A form's state as an observer may see it (the host's form event, a terminal):
// every control by name with its text, visibility and enabled state, and where
// they apply its check state, items, hint and style. Password edits appear masked
// (Edit::ObservedText), so nothing here is secret.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qmos {

struct ControlState {
  std::string name;
  std::string kind;  // ControlKindName
  std::string text;
  bool visible = true;
  bool enabled = true;
  std::optional<bool> checked;                     // check boxes
  std::optional<std::vector<std::string>> items;  // combo boxes
  std::string hint;                                // "" when the control has none
  std::string style;                               // combo boxes: ComboStyleName
};

struct FormState {
  std::string className;
  std::string caption;
  int modalResult = 0;
  std::vector<ControlState> controls;  // in the order they were added
};

}  // namespace qmos
