#include "qmhost/form_actions.h"

namespace qmhost {

qmos::ActionResult ApplyFormAction(qmos::Form& form, const FormAction& action) {
  switch (action.kind) {
    case FormAction::Kind::Type: return form.TypeText(action.control, action.text);
    case FormAction::Kind::Check: return form.SetChecked(action.control, action.checked);
    case FormAction::Kind::Select: return form.SelectItem(action.control, action.text);
    case FormAction::Kind::Click: return form.Click(action.control);
  }
  return {qmos::ActionFailure::WrongKind, action.control};  // no such action: nothing done
}

const char* FormActionVerb(FormAction::Kind kind) {
  switch (kind) {
    case FormAction::Kind::Type: return "type";
    case FormAction::Kind::Check: return "check";
    case FormAction::Kind::Select: return "select";
    case FormAction::Kind::Click: return "click";
  }
  return "";
}

}  // namespace qmhost
